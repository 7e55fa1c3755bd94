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
// When the capsule it made is destroyed it prints "peer: table destroyed".
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "quelbo/version.h"

namespace {

// ------------------------------------------------------- shared layouts

struct TypeInfo;
struct CastInfo
{
    TypeInfo* type;
    void* (*converter)(void*, int*);
    CastInfo* next;
    CastInfo* prev;
};

struct TypeInfo
{
    const char* name;
    const char* str;
    void* dcast;
    CastInfo* cast;
    void* clientdata;
    int owndata;
};

struct ModuleInfo
{
    TypeInfo** types;
    size_t size;
    ModuleInfo* next;
    TypeInfo** type_initial;
    CastInfo** cast_initial;
    void* clientdata;
};

struct ClientData
{
    PyObject* klass;
    PyObject* newraw;
    PyObject* newargs;
    PyObject* destroy;
    int delargs;
    int implicitconv;
    PyTypeObject* pytype;
};

struct HandleObject
{
    PyObject_HEAD void* ptr;
    TypeInfo* ty;
    int own;
    PyObject* next;
    int held; // this module's own field: the handle holds the capsule
};

// ------------------------------------------------------------ the table

const char* const kCapsuleName = "swig_runtime_data4.type_pointer_capsule";

// Sorted by mangled name; each with its own cast list, itself first.
TypeInfo t_error = {"_p_quelbo__Error", "quelbo::Error *", nullptr, nullptr, nullptr, 0};
TypeInfo t_image = {"_p_quelbo__ImageView", "quelbo::ImageView *", nullptr, nullptr, nullptr, 0};
TypeInfo t_version = {"_p_quelbo__VersionInfo", "quelbo::VersionInfo *", nullptr, nullptr, nullptr, 0};
TypeInfo t_view = {"_p_quelbo__View", "quelbo::View *", nullptr, nullptr, nullptr, 0};
TypeInfo t_stream = {"_p_std__ostream", "std::ostream *", nullptr, nullptr, nullptr, 0};
TypeInfo* initial[] = {&t_error, &t_image, &t_version, &t_view, &t_stream};
constexpr size_t kTypes = sizeof(initial) / sizeof(initial[0]);
CastInfo c_error[] = {{&t_error, nullptr, nullptr, nullptr}, {}};
CastInfo c_image[] = {{&t_image, nullptr, nullptr, nullptr}, {}};
CastInfo c_version[] = {{&t_version, nullptr, nullptr, nullptr}, {}};
CastInfo c_view[] = {{&t_view, nullptr, nullptr, nullptr}, {&t_image, nullptr, nullptr, nullptr}, {}};
CastInfo c_stream[] = {{&t_stream, nullptr, nullptr, nullptr}, {}};
CastInfo* casts[] = {c_error, c_image, c_version, c_view, c_stream};
TypeInfo* in_use[kTypes + 1];
ModuleInfo module_info = {in_use, kTypes, nullptr, initial, casts, nullptr};

// The entries in use after joining (own or adopted).
TypeInfo*& error_type = in_use[0];
TypeInfo*& version_type = in_use[2];
TypeInfo*& stream_type = in_use[4];

PyObject* capsule = nullptr; // when this module made it (the holder's attribute owns it)
int interpreters = 0;

TypeInfo* find_in(ModuleInfo* m, const char* name)
{
    size_t lo = 0, hi = m->size;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = std::strcmp(name, m->types[mid]->name);
        if (c == 0)
            return m->types[mid];
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

TypeInfo* find_elsewhere(const char* name)
{
    for (ModuleInfo* m = module_info.next; m != &module_info; m = m->next)
        if (TypeInfo* t = find_in(m, name))
            return t;
    return nullptr;
}

TypeInfo* find_anywhere(const char* name)
{
    TypeInfo* t = find_in(&module_info, name);
    return t ? t : find_elsewhere(name);
}

void push_cast(TypeInfo* t, CastInfo* c)
{
    c->prev = nullptr;
    c->next = t->cast;
    if (t->cast)
        t->cast->prev = c;
    t->cast = c;
}

void free_record(ClientData* d)
{
    Py_XDECREF(d->klass);
    Py_XDECREF(d->newraw);
    Py_XDECREF(d->newargs);
    Py_XDECREF(d->destroy);
    std::free(d);
}

// The capsule's destructor: the records of this module's entries go, with
// free, whichever module registered them.
void destroy_table(PyObject* c)
{
    auto* m = static_cast<ModuleInfo*>(PyCapsule_GetPointer(c, kCapsuleName));
    capsule = nullptr;
    if (!m || --interpreters != 0)
        return;
    int freed = 0;
    for (size_t i = 0; i < m->size; ++i) {
        TypeInfo* t = m->types[i];
        if (t->owndata && t->clientdata) {
            free_record(static_cast<ClientData*>(t->clientdata));
            ++freed;
        }
        t->clientdata = nullptr;
        t->owndata = 0;
    }
    std::printf("peer: table destroyed, %d records freed\n", freed);
    std::fflush(stdout);
}

bool join()
{
    bool first = module_info.next == nullptr;
    if (first)
        module_info.next = &module_info;
    auto* shared = static_cast<ModuleInfo*>(PyCapsule_Import(kCapsuleName, 0));
    if (!shared) {
        PyErr_Clear();
        PyObject* holder = PyImport_AddModule("swig_runtime_data4");
        PyObject* c = holder ? PyCapsule_New(&module_info, kCapsuleName, destroy_table) : nullptr;
        if (!c || PyModule_AddObject(holder, "type_pointer_capsule", c) < 0) {
            Py_XDECREF(c);
            return false;
        }
        capsule = c;
        ++interpreters;
    } else {
        for (ModuleInfo* m = shared;; m = m->next) {
            if (m == &module_info)
                return true;
            if (m->next == shared)
                break;
        }
        module_info.next = shared->next;
        shared->next = &module_info;
    }
    if (!first)
        return true;
    for (size_t i = 0; i < kTypes; ++i) {
        TypeInfo* found = find_elsewhere(initial[i]->name);
        TypeInfo* entry = found ? found : initial[i];
        for (CastInfo* c = casts[i]; c->type; ++c) {
            TypeInfo* other = find_elsewhere(c->type->name);
            bool known = false;
            if (found)
                for (CastInfo* k = found->cast; k; k = k->next)
                    known = known || std::strcmp(k->type->name, c->type->name) == 0;
            if (known)
                continue;
            if (!found && other)
                c->type = other;
            push_cast(entry, c);
        }
        in_use[i] = entry;
    }
    in_use[kTypes] = nullptr;
    return true;
}

// ------------------------------------------------------------ handles

void handle_dealloc(PyObject* self);

PyTypeObject HandleType = {PyVarObject_HEAD_INIT(nullptr, 0) "SwigPyObject", sizeof(HandleObject)};

// A C type of that name that is no handle type: it derives from Exception.
PyTypeObject ForeignType = {PyVarObject_HEAD_INIT(nullptr, 0) "SwigPyObject", sizeof(PyBaseExceptionObject)};

// The class of a probe's record: releasing it says so.
PyTypeObject ProbeType = {PyVarObject_HEAD_INIT(nullptr, 0) "peer.Probe", sizeof(PyObject)};

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

void handle_dealloc(PyObject* self)
{
    auto* h = reinterpret_cast<HandleObject*>(self);
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
    PyObject* held = h->held ? capsule : nullptr;
    PyObject_Free(self);
    Py_XDECREF(held);
}

void probe_dealloc(PyObject* self)
{
    std::printf("peer: probe released\n");
    std::fflush(stdout);
    PyObject_Free(self);
}

// Registers `klass` on the entry: a record made with malloc replaces the
// entry's own (freed with free).
void register_record(TypeInfo* t, PyObject* klass)
{
    auto* d = static_cast<ClientData*>(std::calloc(1, sizeof(ClientData)));
    Py_INCREF(klass);
    Py_INCREF(klass);
    d->klass = klass;
    d->newargs = klass;
    if (t->owndata && t->clientdata)
        free_record(static_cast<ClientData*>(t->clientdata));
    t->clientdata = d;
    t->owndata = 1;
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
    h->own = 0;
    h->ptr = nullptr;
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
        h->own = 0;
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

PyObject* foreign(PyObject*, PyObject*)
{
    return PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&ForeignType));
}

PyObject* records(PyObject*, PyObject*)
{
    PyObject* out = PyList_New(0);
    ModuleInfo* start = static_cast<ModuleInfo*>(PyCapsule_Import(kCapsuleName, 0));
    for (ModuleInfo* m = start; out && m; m = m->next == start ? nullptr : m->next) {
        PyObject* names = PyList_New(0);
        for (size_t i = 0; names && m->types[i]; ++i) {
            PyObject* n = PyUnicode_FromString(m->types[i]->name);
            if (!n || PyList_Append(names, n) < 0)
                Py_CLEAR(names);
            Py_XDECREF(n);
        }
        PyObject* row = names ? Py_BuildValue("(nN)", Py_ssize_t(m->size), names) : nullptr;
        if (!row || PyList_Append(out, row) < 0)
            Py_CLEAR(out);
        Py_XDECREF(row);
    }
    return out;
}

PyObject* casts_of(PyObject*, PyObject* name)
{
    const char* n = PyUnicode_AsUTF8(name);
    TypeInfo* t = n ? find_anywhere(n) : nullptr;
    if (!t)
        return n ? PyErr_Format(PyExc_KeyError, "%s", n) : nullptr;
    PyObject* out = PyList_New(0);
    for (CastInfo* c = t->cast; out && c; c = c->next) {
        PyObject* row = Py_BuildValue("(sO)", c->type->name, c->converter ? Py_True : Py_False);
        if (!row || PyList_Append(out, row) < 0)
            Py_CLEAR(out);
        Py_XDECREF(row);
    }
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

PyObject* probe(PyObject*, PyObject* name)
{
    const char* n = PyUnicode_AsUTF8(name);
    TypeInfo* t = n ? find_anywhere(n) : nullptr;
    if (!t)
        return n ? PyErr_Format(PyExc_KeyError, "%s", n) : nullptr;
    PyObject* klass = PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&ProbeType));
    if (!klass)
        return nullptr;
    register_record(t, klass);
    Py_DECREF(klass);
    Py_RETURN_NONE;
}

PyMethodDef methods[] = {
    {"new_stream", new_stream, METH_NOARGS, nullptr},
    {"stream_text", stream_text, METH_O, nullptr},
    {"delete_stream", delete_stream, METH_O, nullptr},
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
        ForeignType.tp_base = reinterpret_cast<PyTypeObject*>(PyExc_Exception);
        ForeignType.tp_flags = Py_TPFLAGS_DEFAULT;
        ProbeType.tp_dealloc = probe_dealloc;
        ProbeType.tp_flags = Py_TPFLAGS_DEFAULT;
        ProbeType.tp_new = PyType_GenericNew;
        if (PyType_Ready(&HandleType) < 0 || PyType_Ready(&ForeignType) < 0 || PyType_Ready(&ProbeType) < 0)
            return nullptr;
    }
    PyObject* m = PyModule_Create(&def);
    if (m && !join())
        Py_CLEAR(m);
    return m;
}
