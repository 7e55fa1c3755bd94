// sequenceToDimensionList: a Python sequence of image dimensions as a native
// list (the pair of a dimension pointer and a count).
#pragma once

#include <vector>

#include "quelbo/image_type.h"
#include "runtime/wrap.h"

namespace qw {

// Any sequence (list, tuple, range ...) of ints (subclasses included, so the
// ImageDimension_ constants and booleans pass). TypeError "not a list" for
// another object, "list must contain ImageDimension" for an item that is no
// int or lies outside 32 bits; an error of the sequence itself stands.
inline bool dimension_list(PyObject* o, std::vector<quelbo::ImageDimension>& out)
{
    static const char* kNotList = "not a list";
    static const char* kItem = "list must contain ImageDimension";
    UserCode user;
    if (!PySequence_Check(o)) {
        PyErr_SetString(PyExc_TypeError, kNotList);
        return false;
    }
    const Py_ssize_t n = PySequence_Size(o);
    if (n < 0)
        return false;
    out.clear();
    out.reserve(size_t(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_GetItem(o, i);
        if (!item)
            return false;
        int32_t value = 0;
        const bool ok = PyLong_Check(item) && as_int(item, value) == OK;
        Py_DECREF(item);
        if (!ok) {
            PyErr_SetString(PyExc_TypeError, kItem);
            return false;
        }
        out.push_back(static_cast<quelbo::ImageDimension>(value));
    }
    return true;
}

} // namespace qw
