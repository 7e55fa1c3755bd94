// Another module of the same kind as _quelbo, for tests only, written from
// the shared layouts alone (nothing of the binding runtime is used): it
// joins the type table through the capsule, or makes the capsule when it
// loads first, with the destructor such a module has; makes handles of its
// own handle type, holding the capsule while they own when it made it; and
// reads the handles it is given through the shared layout. Its class records
// are made and freed with the C allocator.
//
//   new_stream()          an owning handle of a new output stream (std::ostream *)
//   stream_text(h)        what was written into the stream behind h
//   delete_stream(h)      destroys the stream (None destroys nothing)
//   delete_stream_at(a)   destroys the stream at address a (an int)
//   stream_swigregister(k) registers k for std::ostream, its destroy this module's delete_stream
//   h.disown()            a handle of this module stops owning, as such a module's handles do
//                         (keeping the capsule it holds)
//   make_version(major)   an owning quelbo::VersionInfo handle, as the registered class
//   read_major(o)         the major number of the VersionInfo behind o
//   take(o)               a handle of this module on o's object; ownership moves to it
//   owns(h)               the ownership flag of a handle
//   Error_swigregister(k) registers k for quelbo::Error, as such a module does
//   foreign()             an object of a C type named SwigPyObject deriving from Exception
//   records()             (size, entry names) of each module record of the table
//   casts(name)           (type name, has converter) of the casts of the entry in use
//   same_entry(name)      whether every module record naming it uses one entry
//   probe(name)           registers on that entry a record whose class, when
//                         released, prints "peer: probe released"
//   new_probe()           such a class, for another module to register
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "peer.h"
#include "quelbo/version.h"

namespace {

using namespace peer;

// ------------------------------------------------------------ handles

void handle_dealloc(PyObject* self);

PyTypeObject HandleType = {PyVarObject_HEAD_INIT(nullptr, 0) "SwigPyObject", sizeof(HandleObject)};

// A C type of that name that is no handle type: it derives from Exception.
PyTypeObject ForeignType = {PyVarObject_HEAD_INIT(nullptr, 0) "SwigPyObject", sizeof(PyBaseExceptionObject)};

bool is_handle(PyObject* o)
{
    return Py_TYPE(o) == &HandleType || std::strcmp(Py_TYPE(o)->tp_name, "SwigPyObject") == 0;
}

HandleObject* find_handle(PyObject* o)
{
    Py_INCREF(o);
    while (!is_handle(o)) {
        PyObject* t = PyObject_GetAttrString(o, "this");
        Py_DECREF(o);
        if (!t) {
            PyErr_Clear();
            return nullptr;
        }
        o = t;
    }
    Py_DECREF(o); // held by its owner
    return reinterpret_cast<HandleObject*>(o);
}

// The pointer of o's chain that `ty` accepts (casts without converters only).
bool convert(PyObject* o, TypeInfo* ty, void** out)
{
    for (HandleObject* h = find_handle(o); h; h = reinterpret_cast<HandleObject*>(h->next)) {
        for (CastInfo* c = ty->cast; c; c = c->next) {
            if (c->type == h->ty || std::strcmp(c->type->name, h->ty->name) == 0) {
                *out = h->ptr;
                return true;
            }
        }
    }
    PyErr_SetString(PyExc_TypeError, "peer: not a handle of the expected type");
    return false;
}

PyObject* new_handle(void* ptr, TypeInfo* ty, int own)
{
    auto* h = PyObject_New(HandleObject, &HandleType);
    if (!h)
        return nullptr;
    h->ptr = ptr;
    h->ty = ty;
    h->own = own;
    h->next = nullptr;
    // An owning handle holds the capsule this module made.
    h->held = own && capsule;
    if (h->held)
        Py_INCREF(capsule);
    return reinterpret_cast<PyObject*>(h);
}

// A result: the handle inside an instance of the registered class, if any.
PyObject* result(void* ptr, TypeInfo* ty, int own)
{
    PyObject* handle = new_handle(ptr, ty, own);
    auto* data = static_cast<ClientData*>(ty->clientdata);
    if (!handle || !data || !data->klass)
        return handle;
    PyObject* inst;
    if (data->newraw) {
        inst = PyObject_Call(data->newraw, data->newargs, nullptr);
    } else {
        auto* tp = reinterpret_cast<PyTypeObject*>(data->newargs);
        PyObject* args = PyTuple_New(0);
        PyObject* kw = PyDict_New();
        inst = args && kw ? tp->tp_new(tp, args, kw) : nullptr;
        Py_XDECREF(args);
        Py_XDECREF(kw);
    }
    if (inst && PyObject_SetAttrString(inst, "this", handle) < 0)
        Py_CLEAR(inst);
    Py_DECREF(handle);
    return inst;
}

// Ownership leaves a handle while it lives. As such modules do, one of this
// module's keeps the capsule it held: it lets go of it only if it dies
// owning, so a handle this module disowned (its disown, its delete_) holds
// the capsule to the end of the process.
void disown(HandleObject* h)
{
    h->own = 0;
}

PyObject* handle_disown(PyObject* self, PyObject*)
{
    disown(reinterpret_cast<HandleObject*>(self));
    Py_RETURN_NONE;
}

PyMethodDef handle_methods[] = {
    {"disown", handle_disown, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

void handle_dealloc(PyObject* self)
{
    auto* h = reinterpret_cast<HandleObject*>(self);
    // As such modules do: the capsule goes with a handle that owns when it
    // dies; one whose ownership another module took lets nothing go.
    PyObject* held = h->own && h->held ? capsule : nullptr;
    if (h->own && h->ptr) {
        auto* data = static_cast<ClientData*>(h->ty->clientdata);
        if (h->ty == stream_type) {
            delete static_cast<std::ostream*>(h->ptr);
        } else if (data && data->destroy) {
            PyObject* r = PyCFunction_GetFunction(data->destroy)(PyCFunction_GetSelf(data->destroy), self);
            if (!r)
                PyErr_WriteUnraisable(data->destroy);
            Py_XDECREF(r);
        } else if (h->ty == version_type) {
            delete static_cast<quelbo::VersionInfo*>(h->ptr); // made here, its class gone
        } else {
            std::printf("peer: memory leak of type '%s'\n", h->ty->str);
        }
    }
    Py_XDECREF(h->next);
    PyObject_Free(self);
    Py_XDECREF(held);
}

// ------------------------------------------------------------ functions

PyObject* new_stream(PyObject*, PyObject*)
{
    return result(static_cast<std::ostream*>(new std::ostringstream()), stream_type, 1);
}

PyObject* stream_text(PyObject*, PyObject* o)
{
    void* p;
    if (!convert(o, stream_type, &p))
        return nullptr;
    std::string text = static_cast<std::ostringstream*>(static_cast<std::ostream*>(p))->str();
    return PyUnicode_FromStringAndSize(text.data(), Py_ssize_t(text.size()));
}

PyObject* delete_stream(PyObject*, PyObject* o)
{
    if (o == Py_None)
        Py_RETURN_NONE;
    HandleObject* h = find_handle(o);
    if (!h || h->ty != stream_type) {
        PyErr_SetString(PyExc_TypeError, "peer: not a stream");
        return nullptr;
    }
    if (h->own)
        delete static_cast<std::ostream*>(h->ptr);
    disown(h);
    h->ptr = nullptr;
    Py_RETURN_NONE;
}

PyObject* delete_stream_at(PyObject*, PyObject* o)
{
    void* p = PyLong_AsVoidPtr(o);
    if (!p && PyErr_Occurred())
        return nullptr;
    delete static_cast<std::ostream*>(p);
    Py_RETURN_NONE;
}

PyObject* make_version(PyObject*, PyObject* o)
{
    long major = PyLong_AsLong(o);
    if (major == -1 && PyErr_Occurred())
        return nullptr;
    return result(new quelbo::VersionInfo{int(major), 0, 0}, version_type, 1);
}

PyObject* read_major(PyObject*, PyObject* o)
{
    void* p;
    if (!convert(o, version_type, &p))
        return nullptr;
    return PyLong_FromLong(static_cast<quelbo::VersionInfo*>(p)->major);
}

PyObject* take(PyObject*, PyObject* o)
{
    HandleObject* h = find_handle(o);
    if (!h) {
        PyErr_SetString(PyExc_TypeError, "peer: not a handle");
        return nullptr;
    }
    PyObject* mine = new_handle(h->ptr, h->ty, h->own);
    if (mine)
        disown(h);
    return mine;
}

PyObject* owns(PyObject*, PyObject* o)
{
    HandleObject* h = find_handle(o);
    return h ? PyBool_FromLong(h->own) : nullptr;
}

PyObject* error_swigregister(PyObject*, PyObject* klass)
{
    register_record(error_type, klass);
    Py_RETURN_NONE;
}

PyMethodDef delete_stream_def = {"delete_stream", delete_stream, METH_O, nullptr};

PyObject* stream_swigregister(PyObject*, PyObject* klass)
{
    PyObject* destroy = PyCFunction_NewEx(&delete_stream_def, nullptr, nullptr);
    if (!destroy)
        return nullptr;
    register_record(stream_type, klass);
    static_cast<ClientData*>(stream_type->clientdata)->destroy = destroy;
    Py_RETURN_NONE;
}

PyObject* foreign(PyObject*, PyObject*)
{
    return PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&ForeignType));
}

PyMethodDef methods[] = {
    {"new_stream", new_stream, METH_NOARGS, nullptr},
    {"stream_text", stream_text, METH_O, nullptr},
    {"delete_stream", delete_stream, METH_O, nullptr},
    {"delete_stream_at", delete_stream_at, METH_O, nullptr},
    {"stream_swigregister", stream_swigregister, METH_O, nullptr},
    {"make_version", make_version, METH_O, nullptr},
    {"read_major", read_major, METH_O, nullptr},
    {"take", take, METH_O, nullptr},
    {"owns", owns, METH_O, nullptr},
    {"Error_swigregister", error_swigregister, METH_O, nullptr},
    {"foreign", foreign, METH_NOARGS, nullptr},
    {"records", records, METH_NOARGS, nullptr},
    {"casts", casts_of, METH_O, nullptr},
    {"same_entry", same_entry, METH_O, nullptr},
    {"probe", probe, METH_O, nullptr},
    {"new_probe", new_probe, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef def = {PyModuleDef_HEAD_INIT, "_quelbo_peer", nullptr, -1, methods};

} // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quelbo_peer()
{
    if (!HandleType.tp_dealloc) {
        HandleType.tp_dealloc = handle_dealloc;
        HandleType.tp_flags = Py_TPFLAGS_DEFAULT;
        HandleType.tp_doc = "Swig object carries a C/C++ instance pointer";
        HandleType.tp_methods = handle_methods;
        ForeignType.tp_base = reinterpret_cast<PyTypeObject*>(PyExc_Exception);
        ForeignType.tp_flags = Py_TPFLAGS_DEFAULT;
        if (PyType_Ready(&HandleType) < 0 || PyType_Ready(&ForeignType) < 0 || !ready_inspect())
            return nullptr;
    }
    PyObject* m = PyModule_Create(&def);
    if (m && !join())
        Py_CLEAR(m);
    return m;
}

