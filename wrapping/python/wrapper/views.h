// Conventions of the view family: a view handle owns one heap
// std::shared_ptr<X> (its holder); the object of a method is taken as a
// shared pointer (a derived handle through its cast), None refused before
// any library call.
#pragma once

#include <memory>
#include <optional>

#include "core_args.h"
#include "runtime/converters.h"
#include "extensions.h"
#include "quelbo/image_view.h"
#include "quelbo/view.h"
#include "runtime/shared.h"
#include "runtime/wrap.h"

namespace qw {

using ViewPtr = std::shared_ptr<quelbo::ImageView>;

// A copy of an object given by reference: Python code run by the conversion
// of a later argument cannot change what the call receives.
template <class T, auto Text>
struct Copy : Kind<Text>
{
    using value = std::optional<T>;
    static bool check(PyObject* o) { return is_obj<T>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v)
    {
        T* p;
        if (!ref(o, a, p))
            return false;
        v.emplace(*p);
        return true;
    }
    static T& pass(value& v) { return *v; }
};

} // namespace qw
