// sequenceToDimensionList: a Python sequence of image dimensions as a native
// list (the pair of a dimension pointer and a count).
#pragma once

#include <vector>

#include "common/int_list.h"
#include "quelbo/image_type.h"
#include "runtime/converters.h"
#include "runtime/wrap.h"

namespace qw {

// Any sequence (list, tuple, range ...) of ints (subclasses included, so the
// ImageDimension_ constants and booleans pass). TypeError "not a list" for
// another object, "list must contain ImageDimension" for an item that is no
// int or lies outside 32 bits; an error of the sequence itself stands.
inline bool dimension_list(PyObject* o, std::vector<quelbo::ImageDimension>& out)
{
    static const char* kItem = "list must contain ImageDimension";
    CallGuard user;
    return int_list(o, kItem, out, [](PyObject* item, quelbo::ImageDimension& d) {
        int32_t value = 0;
        if (as_int(item, value) != OK)
            return false;
        d = static_cast<quelbo::ImageDimension>(value);
        return true;
    });
}

// The argument kind of a dimension list: it fills two native parameters (the
// pointer and the count), and its messages are the list rule's own.
template <auto Text>
struct Dims : Kind<Text, 2>
{
    using value = std::vector<quelbo::ImageDimension>;
    static bool check(PyObject* o) { return is_seq(o); }
    static bool get(PyObject* o, const ArgId&, value& v) { return dimension_list(o, v); }
    static value& pass(value& v) { return v; }
};

} // namespace qw
