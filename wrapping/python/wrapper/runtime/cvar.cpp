// The read-only module variables object `cvar`.
#include <cstring>
#include <string>

#include "runtime/cvar.h"
#include "runtime/state.h"

namespace qw {

namespace {

struct swig_globalvar
{
    char* name;
    PyObject* (*get_attr)();
    swig_globalvar* next;
};

struct VarLink
{
    PyObject_HEAD swig_globalvar* vars;
};

void varlink_dealloc(PyObject* self)
{
    auto* v = reinterpret_cast<VarLink*>(self);
    for (swig_globalvar* var = v->vars; var;) {
        swig_globalvar* next = var->next;
        std::free(var->name);
        std::free(var);
        var = next;
    }
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(tp);
}

PyObject* varlink_repr(PyObject*)
{
    return PyUnicode_FromString("<Swig global variables>");
}

PyObject* varlink_str(PyObject* self)
{
    std::string s = "(";
    for (swig_globalvar* var = reinterpret_cast<VarLink*>(self)->vars; var; var = var->next) {
        s += var->name;
        if (var->next)
            s += ", ";
    }
    s += ")";
    return PyUnicode_FromString(s.c_str());
}

PyObject* varlink_getattr(PyObject* self, char* name)
{
    for (swig_globalvar* var = reinterpret_cast<VarLink*>(self)->vars; var; var = var->next) {
        if (std::strcmp(var->name, name) == 0) {
            PyObject* r = var->get_attr();
            if (r || PyErr_Occurred())
                return r;
            break;
        }
    }
    PyErr_Format(PyExc_AttributeError, "Unknown C global variable '%s'", name);
    return nullptr;
}

int varlink_setattr(PyObject* self, char* name, PyObject* value)
{
    for (swig_globalvar* var = reinterpret_cast<VarLink*>(self)->vars; var; var = var->next) {
        if (std::strcmp(var->name, name) == 0)
            return refuse_write(name);
    }
    PyErr_Format(PyExc_AttributeError, "Unknown C global variable '%s'", name);
    return 1;
}

PyTypeObject* varlink_type()
{
    PyTypeObject*& type = rt().variables_type;
    if (!type) {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(varlink_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(varlink_repr)},
            {Py_tp_getattr, reinterpret_cast<void*>(varlink_getattr)},
            {Py_tp_setattr, reinterpret_cast<void*>(varlink_setattr)},
            {Py_tp_str, reinterpret_cast<void*>(varlink_str)},
            {Py_tp_doc, const_cast<char*>("Swig var link object")},
            {0, nullptr},
        };
        type = make_type("swigvarlink", sizeof(VarLink), slots);
    }
    return type;
}

} // namespace

PyObject* cvar_object()
{
    PyObject*& cvar = rt().cvar;
    if (!cvar) {
        PyTypeObject* t = varlink_type();
        VarLink* v = t ? PyObject_New(VarLink, t) : nullptr;
        if (!v) {
            PyErr_Clear();
            PyErr_SetString(PyExc_TypeError, "Failure to create SWIG globals.");
            return nullptr;
        }
        v->vars = nullptr;
        cvar = reinterpret_cast<PyObject*>(v);
    }
    return cvar;
}

bool add_variable(const char* name, PyObject* (*get)())
{
    auto* v = reinterpret_cast<VarLink*>(rt().cvar);
    auto* var = static_cast<swig_globalvar*>(std::malloc(sizeof(swig_globalvar)));
    char* copy = var ? static_cast<char*>(std::malloc(std::strlen(name) + 1)) : nullptr;
    if (!copy) {
        std::free(var);
        PyErr_NoMemory();
        return false;
    }
    std::strcpy(copy, name);
    *var = {copy, get, v->vars};
    v->vars = var;
    return true;
}

int refuse_write(const char* name)
{
    PyErr_Format(PyExc_AttributeError, "Variable %s is read-only.", name);
    return 1;
}

} // namespace qw
