// Memory that numpy arrays reach, and Python objects kept by native owners.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/numpy_api.h"

namespace qw::np {

// The lowest and one past the highest byte offset from the data address that
// an array of these sizes and byte strides reaches with elements of
// itemsize bytes (0 and 0 with no element). False when the span does not
// fit in 64 bits.
inline bool reach(int nd, const npy_intp* dims, const npy_intp* strides, npy_intp itemsize, npy_intp& low,
                  npy_intp& high)
{
    __int128 lo = 0, hi = 0;
    for (int i = 0; i < nd; ++i) {
        if (dims[i] == 0) {
            low = high = 0;
            return true;
        }
        const __int128 span = __int128(dims[i] - 1) * strides[i];
        (span < 0 ? lo : hi) += span;
    }
    hi += itemsize;
    if (lo < INT64_MIN || hi > INT64_MAX)
        return false;
    low = npy_intp(lo);
    high = npy_intp(hi);
    return true;
}

} // namespace qw::np

namespace qw {

// A keeper of a Python object for native owners (views, memory blocks): one
// strong reference, released through release_kept by whatever thread drops
// the last owner.
inline std::shared_ptr<void> keep_object(PyObject* o)
{
    Py_INCREF(o);
    return std::shared_ptr<void>(o, [](void* p) {
        release_kept(p, [](void* q) {
            if (Py_IsInitialized())
                Py_DECREF(static_cast<PyObject*>(q));
        });
    });
}

} // namespace qw
