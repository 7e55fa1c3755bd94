// Access to numpy arrays through numpy's C function table (imported by the
// runtime at start-up, see qw::import_numpy): the array and descriptor
// layouts of numpy's ABI 0x1000009, the table entries used, the flags and
// the type numbers. Shared by every family that exchanges numpy arrays.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/pyrt.h"

namespace qw::np {

using intp = Py_ssize_t;

// numpy's PyArray_Descr, up to the fields read here.
struct Descr
{
    PyObject ob_base;
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder; // '=' native, '|' not applicable, '<' little, '>' big
    char flags;
    int type_num;
    int elsize;
    int alignment;
};

// numpy's PyArrayObject_fields, up to the fields read here.
struct Array
{
    PyObject ob_base;
    char* data;
    int nd;
    intp* dimensions;
    intp* strides;
    PyObject* base;
    Descr* descr;
    int flags;
};

// Array flags.
enum : int
{
    C_CONTIGUOUS = 0x0001,
    F_CONTIGUOUS = 0x0002,
    ALIGNED = 0x0100,
    WRITEABLE = 0x0400,
};

// Type numbers.
enum : int
{
    BOOL = 0,
    BYTE = 1,
    UBYTE = 2,
    SHORT = 3,
    USHORT = 4,
    INT = 5,
    UINT = 6,
    LONG = 7,
    ULONG = 8,
    LONGLONG = 9,
    ULONGLONG = 10,
    FLOAT = 11,
    DOUBLE = 12,
};

inline PyTypeObject* array_type()
{
    return static_cast<PyTypeObject*>(numpy_api[2]);
}

// numpy's array type or a subtype of it.
inline bool is_array(PyObject* o)
{
    return o && PyObject_TypeCheck(o, array_type());
}

inline Array* array(PyObject* o)
{
    return reinterpret_cast<Array*>(o);
}

// Elements in the machine's byte order (this platform is little-endian).
inline bool native_order(const Descr* d)
{
    return d->byteorder != '>';
}

// PyArray_New: a new reference, or null with numpy's exception set.
inline PyObject* new_array(int nd, const intp* dims, int type_num, const intp* strides, void* data, int flags,
                           PyObject* obj)
{
    using Fn = PyObject* (*)(PyTypeObject*, int, const intp*, int, const intp*, void*, int, int, PyObject*);
    return reinterpret_cast<Fn>(numpy_api[93])(array_type(), nd, dims, type_num, strides, data, 0, flags, obj);
}

// PyArray_SetBaseObject: steals the reference to base, also on failure.
inline int set_base(PyObject* arr, PyObject* base)
{
    using Fn = int (*)(PyObject*, PyObject*);
    return reinterpret_cast<Fn>(numpy_api[282])(arr, base);
}

// The lowest and one past the highest byte offset from the data address that
// an array of these sizes and byte strides reaches with elements of
// itemsize bytes (0 and 0 with no element). False when the span does not
// fit in 64 bits.
inline bool reach(int nd, const intp* dims, const intp* strides, intp itemsize, intp& low, intp& high)
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
    low = intp(lo);
    high = intp(hi);
    return true;
}

} // namespace qw::np

namespace qw {

// A keeper of a Python object for native owners (views, memory blocks): one
// strong reference, released under the interpreter lock by whatever thread
// drops the last owner.
inline std::shared_ptr<void> keep_object(PyObject* o)
{
    Py_INCREF(o);
    return std::shared_ptr<void>(o, [](void* p) {
        if (!Py_IsInitialized())
            return; // the interpreter is gone: nothing left to release
        PyGILState_STATE state = PyGILState_Ensure();
        Py_DECREF(static_cast<PyObject*>(p));
        PyGILState_Release(state);
    });
}

} // namespace qw
