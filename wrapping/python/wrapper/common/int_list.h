// A Python sequence of ints as a native list, the shared walk of the list
// arguments (column types, image dimensions ...).
#pragma once

#include <vector>

#include "runtime/wrap.h"

namespace qw {

// TypeError "not a list" unless o passes the sequence check. Each item is
// given to read(item, value): true stores the value; false with no error
// pending raises TypeError item_text, with one pending raises that. An error
// of the sequence itself stands.
template <class T, class Read>
bool int_list(PyObject* o, const char* item_text, std::vector<T>& out, Read read)
{
    static const char* kNotList = "not a list";
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
        T value{};
        const bool ok = PyLong_Check(item) && read(item, value);
        Py_DECREF(item);
        if (!ok) {
            if (!PyErr_Occurred())
                PyErr_SetString(PyExc_TypeError, item_text);
            return false;
        }
        out.push_back(value);
    }
    return true;
}

} // namespace qw
