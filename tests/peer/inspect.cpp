// The shared table as the test peer sees it: the module records of the
// ring and their entries, an entry's casts, whether the modules share an
// entry, and a probe: a class record whose release says so.
#include <cstdio>
#include <cstring>

#include "peer.h"

namespace peer {

namespace {

// The class of a probe's record: releasing it says so.
PyTypeObject ProbeType = {PyVarObject_HEAD_INIT(nullptr, 0) "peer.Probe", sizeof(PyObject)};

void probe_dealloc(PyObject* self)
{
    std::printf("peer: probe released\n");
    std::fflush(stdout);
    PyObject_Free(self);
}

// Appends a new item (stolen) to a list; without either, the list is gone.
void append(PyObject*& list, PyObject* item)
{
    if (list && (!item || PyList_Append(list, item) < 0))
        Py_CLEAR(list);
    Py_XDECREF(item);
}

// The entry of a name given as a str, or null with an error set.
TypeInfo* entry_named(PyObject* name)
{
    const char* n = PyUnicode_AsUTF8(name);
    TypeInfo* t = n ? find_anywhere(n) : nullptr;
    if (n && !t)
        PyErr_Format(PyExc_KeyError, "%s", n);
    return t;
}

} // namespace

bool ready_inspect()
{
    ProbeType.tp_dealloc = probe_dealloc;
    ProbeType.tp_flags = Py_TPFLAGS_DEFAULT;
    ProbeType.tp_new = PyType_GenericNew;
    return PyType_Ready(&ProbeType) == 0;
}

PyObject* records(PyObject*, PyObject*)
{
    PyObject* out = PyList_New(0);
    ModuleInfo* start = static_cast<ModuleInfo*>(PyCapsule_Import(kCapsuleName, 0));
    for (ModuleInfo* m = start; out && m; m = m->next == start ? nullptr : m->next) {
        PyObject* names = PyList_New(0);
        for (size_t i = 0; names && m->types[i]; ++i)
            append(names, PyUnicode_FromString(m->types[i]->name));
        append(out, names ? Py_BuildValue("(nN)", Py_ssize_t(m->size), names) : nullptr);
    }
    return out;
}

PyObject* casts_of(PyObject*, PyObject* name)
{
    TypeInfo* t = entry_named(name);
    if (!t)
        return nullptr;
    PyObject* out = PyList_New(0);
    for (CastInfo* c = t->cast; out && c; c = c->next)
        append(out, Py_BuildValue("(sO)", c->type->name, c->converter ? Py_True : Py_False));
    return out;
}

PyObject* same_entry(PyObject*, PyObject* name)
{
    const char* n = PyUnicode_AsUTF8(name);
    if (!n)
        return nullptr;
    TypeInfo* seen = nullptr;
    bool same = true;
    for (ModuleInfo* m = &module_info;; m = m->next) {
        for (size_t i = 0; m->types[i]; ++i)
            if (std::strcmp(m->types[i]->name, n) == 0) {
                same = same && (!seen || seen == m->types[i]);
                seen = m->types[i];
            }
        if (m->next == &module_info)
            break;
    }
    return PyBool_FromLong(seen && same);
}

PyObject* new_probe(PyObject*, PyObject*)
{
    return PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&ProbeType));
}

PyObject* probe(PyObject*, PyObject* name)
{
    TypeInfo* t = entry_named(name);
    if (!t)
        return nullptr;
    PyObject* klass = new_probe(nullptr, nullptr);
    if (!klass)
        return nullptr;
    register_record(t, klass);
    Py_DECREF(klass);
    Py_RETURN_NONE;
}

} // namespace peer
