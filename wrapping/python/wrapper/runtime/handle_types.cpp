// Which objects are handles (this runtime's and other modules' of the same
// kind), the packed-data type, and the making of the runtime's types.
#include <cstdlib>

#include "runtime/state.h"

namespace qw {

namespace {

PyObject* packed_text(PyObject* self, bool repr)
{
    auto* p = reinterpret_cast<SwigPyPacked*>(self);
    const char* name = p->ty ? p->ty->name : "unknown";
    if (p->size * 3 + 1 > 1024) {
        return repr ? PyUnicode_FromFormat("<Swig Packed %s>", name) : PyUnicode_FromString(name);
    }
    char hex[1024];
    static const char digits[] = "0123456789abcdef";
    auto* bytes = static_cast<const unsigned char*>(p->pack);
    size_t at = 0;
    for (size_t i = 0; i < p->size; ++i) {
        hex[at++] = '_';
        hex[at++] = digits[bytes[i] >> 4];
        hex[at++] = digits[bytes[i] & 15];
    }
    hex[at] = 0;
    return repr ? PyUnicode_FromFormat("<Swig Packed at %s%s>", hex, name) : PyUnicode_FromFormat("%s%s", hex, name);
}

PyObject* packed_repr(PyObject* self)
{
    return packed_text(self, true);
}

PyObject* packed_str(PyObject* self)
{
    return packed_text(self, false);
}

void packed_dealloc(PyObject* self)
{
    PyTypeObject* tp = Py_TYPE(self);
    std::free(reinterpret_cast<SwigPyPacked*>(self)->pack);
    PyObject_Free(self);
    Py_DECREF(tp);
}

} // namespace

PyTypeObject* packed_type()
{
    Runtime& r = rt();
    if (!r.packed_type) {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(packed_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(packed_repr)},
            {Py_tp_str, reinterpret_cast<void*>(packed_str)},
            {Py_tp_getattro, reinterpret_cast<void*>(PyObject_GenericGetAttr)},
            {Py_tp_doc, const_cast<char*>(kHandleDoc)},
            {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
            {0, nullptr},
        };
        r.packed_type = make_type("SwigPyPacked", sizeof(SwigPyPacked), slots);
    }
    return r.packed_type;
}

PyTypeObject* make_type(const char* name, size_t basicsize, PyType_Slot* slots)
{
    // The name stays undotted (other modules recognise the types by it), so
    // the interpreter would warn that the type has no module while creating
    // it: the warning is silenced for the creation, and the module is set
    // right after.
    PyType_Spec spec = {name, int(basicsize), 0, Py_TPFLAGS_DEFAULT, slots};
    PyObject* warnings = PyImport_ImportModule("warnings");
    PyObject* quiet = warnings ? PyObject_CallMethod(warnings, "catch_warnings", nullptr) : nullptr;
    PyObject* entered = quiet ? PyObject_CallMethod(quiet, "__enter__", nullptr) : nullptr;
    PyObject* filtered =
        entered ? PyObject_CallMethod(warnings, "simplefilter", "sO", "ignore", PyExc_DeprecationWarning) : nullptr;
    PyObject* type = filtered ? PyType_FromSpec(&spec) : nullptr;
    if (entered) {
        PyObject *et, *ev, *tb;
        PyErr_Fetch(&et, &ev, &tb);
        PyObject* left = PyObject_CallMethod(quiet, "__exit__", "OOO", Py_None, Py_None, Py_None);
        Py_XDECREF(left);
        if (et) {
            PyErr_Clear();
            PyErr_Restore(et, ev, tb);
        } else if (!left) {
            Py_CLEAR(type);
        }
    }
    if (type && PyObject_SetAttrString(type, "__module__", rt().module_name) < 0)
        Py_CLEAR(type);
    Py_XDECREF(filtered);
    Py_XDECREF(entered);
    Py_XDECREF(quiet);
    Py_XDECREF(warnings);
    return reinterpret_cast<PyTypeObject*>(type);
}

Handle* own_handle(PyObject* o)
{
    if (!o)
        return nullptr;
    PyTypeObject* t = Py_TYPE(o);
    Runtime& r = rt();
    if (t == r.handle_type)
        return reinterpret_cast<Handle*>(o);
    const Shared& s = *r.shared;
    for (int i = 0; i < s.handle_type_count; ++i)
        if (s.handle_types[i] == t)
            return reinterpret_cast<Handle*>(o);
    return nullptr;
}

namespace {

// A type's attribute read through `type` itself (the type's metaclass is
// `type`): no Python code runs. Null when it has none.
PyObject* type_attr(PyTypeObject* t, const char* name)
{
    PyObject* v = PyObject_GetAttrString(reinterpret_cast<PyObject*>(t), name);
    if (!v)
        PyErr_Clear();
    return v;
}

bool type_named(PyTypeObject* t, const char* expected)
{
    PyObject* v = type_attr(t, "__name__");
    bool same = v && PyUnicode_CheckExact(v) && PyUnicode_CompareWithASCIIString(v, expected) == 0;
    Py_XDECREF(v);
    return same;
}

bool type_base_is(PyTypeObject* t, PyTypeObject* base)
{
    PyObject* v = type_attr(t, "__base__");
    Py_XDECREF(v);
    return v == reinterpret_cast<PyObject*>(base);
}

Py_ssize_t type_size(PyTypeObject* t, const char* name)
{
    PyObject* v = type_attr(t, name);
    Py_ssize_t n = v && PyLong_CheckExact(v) ? PyLong_AsSsize_t(v) : -1;
    Py_XDECREF(v);
    if (n < 0)
        PyErr_Clear();
    return n;
}

// The handle type of another module of the same kind. Its objects are read
// as the shared layout, so the type must be one made in C for it: classes
// defined in Python and types with their own metaclass are refused before
// their name is read (reading it could run Python code), and so is a type
// deriving from anything but object or too small for the layout.
bool is_peer_handle_type(PyTypeObject* t)
{
    Runtime& r = rt();
    for (PyTypeObject* known : r.peer_types)
        if (known == t)
            return true;
    if (Py_TYPE(reinterpret_cast<PyObject*>(t)) != &PyType_Type)
        return false;
    if (defined_in_python(t))
        return false;
    if (!type_named(t, "SwigPyObject") || !type_base_is(t, &PyBaseObject_Type) ||
        type_size(t, "__basicsize__") < Py_ssize_t(sizeof(SwigPyObject)) || type_size(t, "__itemsize__") != 0)
        return false;
    try {
        r.peer_types.push_back(t);
    } catch (...) {
        return true; // recognised again next time
    }
    Py_INCREF(t);
    return true;
}

} // namespace

bool defined_in_python(PyTypeObject* t)
{
    return (PyType_GetFlags(t) & Py_TPFLAGS_HEAPTYPE) && PyType_GetSlot(t, Py_tp_dealloc) == rt().python_dealloc;
}

bool is_handle(PyObject* o)
{
    return own_handle(o) || is_peer_handle_type(Py_TYPE(o));
}

} // namespace qw
