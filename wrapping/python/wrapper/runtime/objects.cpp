// Strings from handles, and the delete_ functions' release of their object.
#include "runtime/wrap.h"

namespace qw {

int as_string(PyObject* o, std::string& out)
{
    if (o == Py_None)
        return ERR_NULL;
    if (PyUnicode_Check(o)) {
        PyObject* bytes = PyUnicode_AsUTF8String(o);
        if (!bytes) {
            PyErr_Clear();
            return ERR_TYPE;
        }
        char* data = nullptr;
        Py_ssize_t n = 0;
        PyBytes_AsStringAndSize(bytes, &data, &n);
        try {
            out.assign(data, size_t(n));
        } catch (...) {
            Py_DECREF(bytes);
            return ERR_MEMORY;
        }
        Py_DECREF(bytes);
        return OK;
    }
    swig_type_info* text_type = char_type();
    void* p = nullptr;
    if (text_type && find_handle(o) && convert_ptr(o, &p, text_type, 0) == OK) {
        if (!p)
            return ERR_NULL;
        out.assign(static_cast<const char*>(p));
        return OK;
    }
    return ERR_TYPE;
}

bool disown_for_delete(PyObject* o, swig_type_info* ty, const ArgId& a, void*& out)
{
    out = nullptr;
    if (o == Py_None)
        return true;
    swig_cast_info* cast;
    SwigPyObject* h = match_handle(o, ty, &cast);
    // A handle reached through a converting cast (a derived shared pointer)
    // does not hold an object of this type to destroy.
    if (!h || (cast && cast->converter)) {
        fail_arg(ERR_TYPE_ARG, a);
        return false;
    }
    out = give_up(h);
    return true;
}

} // namespace qw
