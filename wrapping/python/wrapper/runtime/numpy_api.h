// numpy's C interface as the module uses it: the entries of the function
// table that start-up imports (import_numpy, into the runtime's `numpy_api`),
// by their index in numpy's table, and the object layouts they work on.
// numpy's own headers are not used: they assume the full Python API, and the
// module is built on the limited one. The layouts are those of numpy's ABI
// version 0x1000009, which start-up checks before it accepts the table.
#pragma once

#include <type_traits>

#include "quelbo/data_type_traits.h"
#include "runtime/state.h"

namespace qw::np {

using npy_intp = Py_ssize_t;

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
    OBJECT = 17,
    HALF = 23,
};

// numpy's type number of a native element type: the integers come in pairs
// (signed, unsigned) by size, from BYTE on.
template <class T>
constexpr int size_rank = sizeof(T) == 1   ? 0
                          : sizeof(T) == 2 ? 1
                          : sizeof(T) == 4 ? 2
                                           : 3;
template <class T>
constexpr int type_of = std::is_floating_point<T>::value ? (sizeof(T) == 4 ? FLOAT : DOUBLE)
                                                         : BYTE + 2 * size_rank<T> + (std::is_signed<T>::value ? 0 : 1);
static_assert(type_of<int16_t> == SHORT && type_of<uint64_t> == ULONG && type_of<float> == FLOAT, "numpy's numbers");

// The data type of a numpy type number; unknown for the numbers of no
// element type.
inline quelbo::DataType dtype_of(int type_num)
{
    quelbo::DataType found;
    quelbo::forEachElement([&](auto tag) {
        using T = typename decltype(tag)::type;
        if (type_of<T> == type_num)
            found = quelbo::DataTypeTraits<T>::toDataType();
    });
    return found;
}

// Whether the type number is one of the numbers' (booleans, integers,
// floating and complex numbers), whose items are plain bytes.
inline bool holds_numbers(int type_num)
{
    return (type_num >= BOOL && type_num < OBJECT) || type_num == HALF;
}

// Array flags.
enum : int
{
    C_CONTIGUOUS = 0x1,
    F_CONTIGUOUS = 0x2,
    OWNDATA = 0x4,
    ALIGNED = 0x100,
    WRITEABLE = 0x400,
};

// The most dimensions an array can have.
constexpr int MAXDIMS = 32;

// An element type (the leading fields of numpy's PyArray_Descr).
struct Descr
{
    PyObject_HEAD PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder; // '>' big, '<' little, '|' not applicable, '=' native
    char flags;
    int type_num;
    int elsize;
    int alignment;
};

// An array (the fields of numpy's PyArrayObject_fields that are read).
struct Array
{
    PyObject_HEAD char* data;
    int nd;
    npy_intp* dimensions;
    npy_intp* strides;
    PyObject* base;
    Descr* descr;
    int flags;
};

inline Array* fields(PyObject* o)
{
    return reinterpret_cast<Array*>(o);
}

// numpy's array type (table entry 2).
inline PyTypeObject* array_type()
{
    return static_cast<PyTypeObject*>(rt().numpy_api[2]);
}

// numpy's array type or a subtype of it.
inline bool is_array(PyObject* o)
{
    PyTypeObject* t = array_type();
    return Py_TYPE(o) == t || PyType_IsSubtype(Py_TYPE(o), t);
}

// True when the elements are in the machine's own byte order ('>' is the
// only foreign order on the little-endian machines start-up accepts).
inline bool native_order(const Array* a)
{
    return a->descr->byteorder != '>';
}

// PyArray_New (entry 93): an array over `data` (numpy allocates when null).
inline PyObject* new_array(PyTypeObject* subtype, int nd, const npy_intp* dims, int type_num, const npy_intp* strides,
                           void* data, int itemsize, int flags, PyObject* obj)
{
    using Fn = PyObject* (*)(PyTypeObject*, int, const npy_intp*, int, const npy_intp*, void*, int, int, PyObject*);
    return reinterpret_cast<Fn>(rt().numpy_api[93])(subtype, nd, dims, type_num, strides, data, itemsize, flags, obj);
}

// PyArray_SetBaseObject (entry 282): steals the reference to `base`, also
// when it fails.
inline int set_base_object(PyObject* array, PyObject* base)
{
    using Fn = int (*)(PyObject*, PyObject*);
    return reinterpret_cast<Fn>(rt().numpy_api[282])(array, base);
}

} // namespace qw::np

namespace qw {
// Imports numpy's C function table (numpy_import.cpp); false with the
// exception set when numpy is missing or built for another ABI.
bool import_numpy();
} // namespace qw
