// Start-up import of numpy's C function table, accepted only for the ABI
// and byte order the module is built for.
#include "runtime/numpy_api.h"
#include "runtime/state.h"

namespace qw {

bool import_numpy()
{
    PyObject* mod = PyImport_ImportModule("numpy.core._multiarray_umath");
    if (!mod)
        return false;
    PyObject* c = PyObject_GetAttrString(mod, "_ARRAY_API");
    Py_DECREF(mod);
    if (!c) {
        PyErr_SetString(PyExc_AttributeError, "_ARRAY_API not found");
        return false;
    }
    if (!PyCapsule_CheckExact(c)) {
        PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is not PyCapsule object");
        Py_DECREF(c);
        return false;
    }
    void* p = PyCapsule_GetPointer(c, PyCapsule_GetName(c));
    Py_DECREF(c);
    if (!p) {
        PyErr_Clear();
        PyErr_SetString(PyExc_RuntimeError, "_ARRAY_API is NULL pointer");
        return false;
    }
    auto** api = static_cast<void**>(p);
    using VersionFn = unsigned int (*)();
    using EndianFn = int (*)();
    const unsigned int abi = reinterpret_cast<VersionFn>(api[0])();
    if (abi != 0x1000009u) {
        PyErr_Format(PyExc_RuntimeError, "module compiled against ABI version 0x%x but this version of numpy is 0x%x",
                     0x1000009u, abi);
        return false;
    }
    const unsigned int feature = reinterpret_cast<VersionFn>(api[211])();
    if (feature < 0xdu) {
        PyErr_Format(PyExc_RuntimeError, "module compiled against API version 0x%x but this version of numpy is 0x%x",
                     0xdu, feature);
        return false;
    }
    const int endian = reinterpret_cast<EndianFn>(api[210])();
    if (endian == 0) {
        PyErr_SetString(PyExc_RuntimeError, "FATAL: module compiled as unknown endian");
        return false;
    }
    if (endian != 1) {
        PyErr_SetString(PyExc_RuntimeError,
                        "FATAL: module compiled as little endian, but detected different endianness at runtime");
        return false;
    }
    rt().numpy_api = api;
    return true;
}

} // namespace qw
