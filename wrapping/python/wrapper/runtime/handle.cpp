// Handles, the shared type table and class registration.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "runtime/cvar.h"
#include "runtime/pyrt.h"

namespace qw {

namespace {

PyObject* g_this_name = nullptr;
PyObject* g_type_cache = nullptr;
PyTypeObject* g_handle_type = nullptr;
PyTypeObject* g_packed_type = nullptr;
PyObject* g_capsule = nullptr; // set when this module created the shared capsule
std::vector<const void*> g_readonly;

const char* const kCapsuleName = "swig_runtime_data4.type_pointer_capsule";

// ---------------------------------------------------------------- handle type

void handle_dealloc(PyObject* self);

PyObject* handle_repr(PyObject* self)
{
    auto* h = reinterpret_cast<SwigPyObject*>(self);
    PyObject* r = PyUnicode_FromFormat("<Swig Object of type '%s' at %p>", pretty_name(h->ty), self);
    if (r && h->next) {
        PyObject* nrepr = PyObject_Repr(h->next);
        if (!nrepr) {
            Py_DECREF(r);
            return nullptr;
        }
        PyObject* joined = PyUnicode_Concat(r, nrepr);
        Py_DECREF(r);
        Py_DECREF(nrepr);
        r = joined;
    }
    return r;
}

PyObject* handle_int(PyObject* self)
{
    return PyLong_FromVoidPtr(reinterpret_cast<SwigPyObject*>(self)->ptr);
}

PyObject* handle_richcompare(PyObject* a, PyObject* b, int op)
{
    if (PyErr_Occurred())
        return nullptr;
    if ((op != Py_EQ && op != Py_NE) || !is_handle(b))
        Py_RETURN_NOTIMPLEMENTED;
    bool eq = reinterpret_cast<SwigPyObject*>(a)->ptr == reinterpret_cast<SwigPyObject*>(b)->ptr;
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}

PyObject* handle_disown(PyObject* self, PyObject*)
{
    reinterpret_cast<SwigPyObject*>(self)->own = 0;
    Py_RETURN_NONE;
}

PyObject* handle_acquire(PyObject* self, PyObject*)
{
    reinterpret_cast<SwigPyObject*>(self)->own = 1;
    Py_RETURN_NONE;
}

PyObject* handle_own(PyObject* self, PyObject* args)
{
    PyObject* objs[1];
    Py_ssize_t n = 0;
    if (!unpack("own", args, 0, 1, objs, &n))
        return nullptr;
    auto* h = reinterpret_cast<SwigPyObject*>(self);
    PyObject* previous = PyBool_FromLong(h->own);
    if (n == 1) {
        int truth = PyObject_IsTrue(objs[0]);
        if (truth < 0) {
            Py_DECREF(previous);
            return nullptr;
        }
        h->own = truth ? 1 : 0;
    }
    return previous;
}

PyObject* handle_append(PyObject* self, PyObject* other)
{
    if (!is_handle(other)) {
        PyErr_SetString(PyExc_TypeError, "Attempt to append a non SwigPyObject");
        return nullptr;
    }
    // A chain must stay a chain: refuse to link in a handle that already
    // leads back to this one.
    for (PyObject* p = other; p; p = reinterpret_cast<SwigPyObject*>(p)->next) {
        if (p == self) {
            PyErr_SetString(PyExc_ValueError, "Attempt to append a SwigPyObject into its own chain");
            return nullptr;
        }
    }
    auto* h = reinterpret_cast<SwigPyObject*>(self);
    auto* o = reinterpret_cast<SwigPyObject*>(other);
    if (o->next) {
        // `other` keeps its own tail; it is inserted as a whole after `self`.
        PyObject* tail = other;
        while (reinterpret_cast<SwigPyObject*>(tail)->next)
            tail = reinterpret_cast<SwigPyObject*>(tail)->next;
        reinterpret_cast<SwigPyObject*>(tail)->next = h->next;
    } else {
        o->next = h->next;
    }
    Py_INCREF(other);
    h->next = other;
    Py_RETURN_NONE;
}

PyObject* handle_next(PyObject* self, PyObject*)
{
    PyObject* n = reinterpret_cast<SwigPyObject*>(self)->next;
    if (!n)
        Py_RETURN_NONE;
    Py_INCREF(n);
    return n;
}

PyMethodDef handle_methods[] = {
    {"disown", handle_disown, METH_NOARGS, "releases ownership of the pointer"},
    {"acquire", handle_acquire, METH_NOARGS, "acquires ownership of the pointer"},
    {"own", handle_own, METH_VARARGS, "returns/sets ownership of the pointer"},
    {"append", handle_append, METH_O, "appends another 'this' object"},
    {"next", handle_next, METH_NOARGS, "returns the next 'this' object"},
    {"__repr__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(handle_repr)), METH_NOARGS,
     "returns object representation"},
    {nullptr, nullptr, 0, nullptr},
};

PyObject* packed_text(PyObject* self, bool repr)
{
    auto* p = reinterpret_cast<SwigPyPacked*>(self);
    const char* name = p->ty ? p->ty->name : "unknown";
    if (p->size * 3 + 1 > 1024) {
        return repr ? PyUnicode_FromFormat("<Swig Packed %s>", name) : PyUnicode_FromString(name);
    }
    std::string hex;
    static const char digits[] = "0123456789abcdef";
    auto* bytes = static_cast<const unsigned char*>(p->pack);
    for (size_t i = 0; i < p->size; ++i) {
        hex += '_';
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return repr ? PyUnicode_FromFormat("<Swig Packed at %s%s>", hex.c_str(), name)
                : PyUnicode_FromFormat("%s%s", hex.c_str(), name);
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

PyTypeObject* make_type(const char* name, PyType_Slot* slots, int basicsize)
{
    PyType_Spec spec = {name, basicsize, 0, Py_TPFLAGS_DEFAULT, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

// --------------------------------------------------------------- type table

std::vector<TypeDecl>& type_decls()
{
    static std::vector<TypeDecl> v;
    return v;
}

std::vector<CastDecl>& cast_decls()
{
    static std::vector<CastDecl> v;
    return v;
}

swig_module_info g_module = {nullptr, 0, nullptr, nullptr, nullptr, nullptr};
std::vector<swig_type_info*> g_types;
std::vector<swig_type_info*> g_initial;
std::vector<swig_cast_info*> g_cast_initial;

bool name_less(const swig_type_info* a, const swig_type_info* b)
{
    return std::strcmp(a->name, b->name) < 0;
}

swig_type_info* find_in_module(swig_module_info* m, const char* name)
{
    size_t lo = 0, hi = m->size;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        swig_type_info* t = m->types[mid];
        if (!t)
            break;
        int c = std::strcmp(name, t->name);
        if (c == 0)
            return t;
        if (c < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return nullptr;
}

// Searches every joined module but `self`.
swig_type_info* find_elsewhere(swig_module_info* self, const char* name)
{
    for (swig_module_info* m = self->next; m && m != self; m = m->next) {
        if (swig_type_info* t = find_in_module(m, name))
            return t;
    }
    return nullptr;
}

void insert_cast(swig_type_info* entry, swig_cast_info* c)
{
    c->prev = nullptr;
    c->next = entry->cast;
    if (entry->cast)
        entry->cast->prev = c;
    entry->cast = c;
}

void destroy_client_data(SwigPyClientData* d)
{
    if (!d)
        return;
    Py_XDECREF(d->klass);
    Py_XDECREF(d->newraw);
    Py_XDECREF(d->newargs);
    Py_XDECREF(d->destroy);
    delete d;
}

void capsule_destroy(PyObject* capsule)
{
    auto* m = static_cast<swig_module_info*>(PyCapsule_GetPointer(capsule, kCapsuleName));
    if (m) {
        for (size_t i = 0; i < m->size; ++i) {
            swig_type_info* t = m->types[i];
            if (t && t->owndata && t->clientdata) {
                destroy_client_data(static_cast<SwigPyClientData*>(t->clientdata));
                t->clientdata = nullptr;
                t->owndata = 0;
            }
        }
    }
    Py_CLEAR(g_this_name);
    release_cvar();
    Py_CLEAR(g_type_cache);
    g_capsule = nullptr;
}

} // namespace

// ------------------------------------------------------------------ handles

static void handle_dealloc_impl(PyObject* self)
{
    auto* h = reinterpret_cast<SwigPyObject*>(self);
    if (h->own) {
        PyObject *et, *ev, *tb;
        PyErr_Fetch(&et, &ev, &tb);
        auto* data = h->ty ? static_cast<SwigPyClientData*>(h->ty->clientdata) : nullptr;
        PyObject* destroy = data ? data->destroy : nullptr;
        if (destroy) {
            PyObject* res = nullptr;
            if (!data->delargs && PyCFunction_Check(destroy)) {
                PyCFunction fn = PyCFunction_GetFunction(destroy);
                res = fn(PyCFunction_GetSelf(destroy), self);
            } else {
                // Hand the object over to a temporary handle for an ordinary call.
                PyObject* tmp = new_handle(h->ptr, h->ty, 1);
                if (tmp) {
                    res = PyObject_CallFunctionObjArgs(destroy, tmp, nullptr);
                    reinterpret_cast<SwigPyObject*>(tmp)->own = 0;
                    Py_DECREF(tmp);
                }
            }
            if (!res)
                PyErr_WriteUnraisable(destroy);
            Py_XDECREF(res);
        } else {
            std::printf("swig/python detected a memory leak of type '%s', no destructor found.\n",
                        pretty_name(h->ty));
            std::fflush(stdout);
        }
        PyErr_Restore(et, ev, tb);
    }
    // Every handle holds the table's capsule, whatever its ownership became.
    if (g_capsule)
        Py_DECREF(g_capsule);
    Py_XDECREF(h->next);
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(tp);
}

namespace {
void handle_dealloc(PyObject* self)
{
    handle_dealloc_impl(self);
}
} // namespace

PyTypeObject* handle_type()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(handle_repr)},
            {Py_tp_getattro, reinterpret_cast<void*>(PyObject_GenericGetAttr)},
            {Py_tp_doc, const_cast<char*>("Swig object carries a C/C++ instance pointer")},
            {Py_tp_richcompare, reinterpret_cast<void*>(handle_richcompare)},
            {Py_tp_methods, handle_methods},
            {Py_nb_int, reinterpret_cast<void*>(handle_int)},
            {0, nullptr},
        };
        g_handle_type = make_type("SwigPyObject", slots, sizeof(SwigPyObject));
    });
    return g_handle_type;
}

PyTypeObject* packed_type()
{
    static std::once_flag once;
    std::call_once(once, [] {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(packed_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(packed_repr)},
            {Py_tp_str, reinterpret_cast<void*>(packed_str)},
            {Py_tp_getattro, reinterpret_cast<void*>(PyObject_GenericGetAttr)},
            {Py_tp_doc, const_cast<char*>("Swig object carries a C/C++ instance pointer")},
            {0, nullptr},
        };
        g_packed_type = make_type("SwigPyPacked", slots, sizeof(SwigPyPacked));
    });
    return g_packed_type;
}

namespace {
// Types already judged, kept alive so that their addresses stay theirs.
struct TypeVerdict
{
    PyTypeObject* type;
    bool handle;
};
TypeVerdict g_verdicts[32];
unsigned g_verdict_next = 0;
} // namespace

static bool is_handle_type_by_name(PyTypeObject* t);

bool is_handle(PyObject* o)
{
    PyTypeObject* t = Py_TYPE(o);
    if (t == g_handle_type)
        return true;
    for (const TypeVerdict& v : g_verdicts)
        if (v.type == t)
            return v.handle;
    bool verdict = is_handle_type_by_name(t);
    TypeVerdict& slot = g_verdicts[g_verdict_next++ % 32];
    Py_XDECREF(reinterpret_cast<PyObject*>(slot.type));
    Py_INCREF(reinterpret_cast<PyObject*>(t));
    slot = {t, verdict};
    return verdict;
}

static bool is_handle_type_by_name(PyTypeObject* t)
{
    PyObject* name = PyObject_GetAttrString(reinterpret_cast<PyObject*>(t), "__name__");
    if (!name) {
        PyErr_Clear();
        return false;
    }
    int eq = PyUnicode_Check(name) ? PyUnicode_CompareWithASCIIString(name, "SwigPyObject") == 0 : 0;
    Py_DECREF(name);
    return eq;
}

// Built-in values never carry a handle; they are told apart without an
// attribute lookup (a failed lookup raises and clears an AttributeError).
static bool plain_value(PyObject* o)
{
    return o == Py_None || PyLong_CheckExact(o) || PyBool_Check(o) || PyFloat_CheckExact(o) ||
           PyUnicode_CheckExact(o) || PyBytes_CheckExact(o) || PyList_CheckExact(o) || PyTuple_CheckExact(o) ||
           PyDict_CheckExact(o) || Py_TYPE(o) == &PyRange_Type;
}

SwigPyObject* find_handle(PyObject* o)
{
    if (plain_value(o))
        return nullptr;
    if (is_handle(o))
        return reinterpret_cast<SwigPyObject*>(o);
    // Walk the `this` attributes. The result is borrowed, so it must be kept
    // alive by something else than this walk: an attribute computed afresh on
    // each lookup (a property) does not count as a handle. A chain could also
    // loop through user objects; the walk is bounded.
    Py_INCREF(o);
    UserCode running; // `this` may be computed by Python code
    for (int depth = 0; depth < 64; ++depth) {
        PyObject* t = PyObject_GetAttr(o, g_this_name);
        Py_DECREF(o);
        if (!t) {
            PyErr_Clear();
            return nullptr;
        }
        if (is_handle(t)) {
            bool held = Py_REFCNT(t) > 1;
            Py_DECREF(t);
            return held ? reinterpret_cast<SwigPyObject*>(t) : nullptr;
        }
        if (plain_value(t)) {
            Py_DECREF(t);
            return nullptr;
        }
        o = t;
    }
    Py_DECREF(o);
    return nullptr;
}

namespace {

// The cast record of `expected` that accepts the handle's type, moved to the
// front of its list; null when none.
swig_cast_info* find_cast(swig_type_info* expected, swig_type_info* have)
{
    if (!have)
        return nullptr;
    for (swig_cast_info* c = expected->cast; c; c = c->next) {
        if (c->type == have || std::strcmp(c->type->name, have->name) == 0) {
            if (c != expected->cast) {
                c->prev->next = c->next;
                if (c->next)
                    c->next->prev = c->prev;
                c->next = expected->cast;
                c->prev = nullptr;
                expected->cast->prev = c;
                expected->cast = c;
            }
            return c;
        }
    }
    return nullptr;
}

} // namespace

SwigPyObject* match_handle(PyObject* obj, swig_type_info* ty, swig_cast_info** cast)
{
    *cast = nullptr;
    for (SwigPyObject* cur = find_handle(obj); cur; cur = reinterpret_cast<SwigPyObject*>(cur->next)) {
        if (!ty || cur->ty == ty)
            return cur;
        if ((*cast = find_cast(ty, cur->ty)))
            return cur;
    }
    return nullptr;
}

bool can_convert(PyObject* obj, swig_type_info* ty, bool allow_none)
{
    if (obj == Py_None)
        return allow_none;
    swig_cast_info* cast;
    return match_handle(obj, ty, &cast) != nullptr;
}

int convert_ptr(PyObject* obj, void** ptr, swig_type_info* ty, int flags, int* own)
{
    if (obj == Py_None) {
        *ptr = nullptr;
        return (flags & CV_NO_NULL) ? ERR_NULL : OK;
    }
    swig_cast_info* cast;
    SwigPyObject* hit = match_handle(obj, ty, &cast);
    if (!hit)
        return ERR_TYPE_ARG;
    if ((flags & CV_RELEASE) == CV_RELEASE && !hit->own)
        return ERR_RELEASE;
    int newmem = 0;
    void* p = hit->ptr;
    if (cast && cast->converter && p)
        p = cast->converter(p, &newmem);
    if (own)
        *own = (newmem == NEWMEM ? NEWMEM : 0) | hit->own;
    if (flags & CV_DISOWN)
        hit->own = 0;
    if (flags & CV_CLEAR)
        hit->ptr = nullptr;
    *ptr = p;
    return OK;
}

PyObject* new_handle(void* ptr, swig_type_info* ty, int own)
{
    auto* h = PyObject_New(SwigPyObject, handle_type());
    if (!h)
        return nullptr;
    h->ptr = ptr;
    h->ty = ty;
    h->own = own;
    h->next = nullptr;
    if (g_capsule)
        Py_INCREF(g_capsule);
    return reinterpret_cast<PyObject*>(h);
}

PyObject* new_pointer_obj(void* ptr, swig_type_info* ty, int flags)
{
    if (!ptr)
        Py_RETURN_NONE;
    PyObject* handle = new_handle(ptr, ty, (flags & RES_OWN) ? 1 : 0);
    if (!handle)
        return nullptr;
    auto* data = ty ? static_cast<SwigPyClientData*>(ty->clientdata) : nullptr;
    if (!data || !data->klass || (flags & RES_NOPROXY))
        return handle;
    PyObject* inst;
    if (data->newraw) {
        inst = PyObject_Call(data->newraw, data->newargs, nullptr);
    } else {
        auto* tp = reinterpret_cast<PyTypeObject*>(data->newargs);
        auto tp_new = reinterpret_cast<newfunc>(PyType_GetSlot(tp, Py_tp_new));
        PyObject* empty_args = PyTuple_New(0);
        PyObject* empty_kw = PyDict_New();
        inst = (tp_new && empty_args && empty_kw) ? tp_new(tp, empty_args, empty_kw) : nullptr;
        if (!inst && !PyErr_Occurred())
            PyErr_SetString(PyExc_TypeError, "cannot create an instance of the registered class");
        Py_XDECREF(empty_args);
        Py_XDECREF(empty_kw);
        if (inst)
            PyType_Modified(Py_TYPE(inst));
    }
    if (inst && PyObject_SetAttr(inst, g_this_name, handle) < 0)
        Py_CLEAR(inst);
    Py_DECREF(handle);
    return inst;
}

const char* pretty_name(swig_type_info* ty)
{
    if (!ty)
        return "unknown";
    if (ty->str) {
        const char* last = ty->str;
        for (const char* s = ty->str; *s; ++s)
            if (*s == '|')
                last = s + 1;
        return last;
    }
    return ty->name ? ty->name : "unknown";
}

void mark_readonly(const void* p)
{
    g_readonly.push_back(p);
}

bool is_readonly(const void* p)
{
    return p && std::find(g_readonly.begin(), g_readonly.end(), p) != g_readonly.end();
}

// ------------------------------------------------------------- registration

namespace {

PyObject* register_class(swig_type_info* ty, PyObject* arg)
{
    PyObject* objs[1];
    if (!unpack("swigregister", arg, 1, 1, objs))
        return nullptr;
    PyObject* klass = objs[0];
    auto* d = new SwigPyClientData{};
    Py_INCREF(klass);
    d->klass = klass;
    if (PyType_Check(klass)) {
        d->newraw = nullptr;
        Py_INCREF(klass);
        d->newargs = klass;
    } else {
        d->newraw = PyObject_GetAttrString(klass, "__new__");
        if (!d->newraw)
            PyErr_Clear();
        d->newargs = PyTuple_Pack(1, klass);
        if (!d->newargs) {
            destroy_client_data(d);
            return nullptr;
        }
    }
    d->destroy = PyObject_GetAttrString(klass, "__swig_destroy__");
    if (!d->destroy) {
        PyErr_Clear();
        d->delargs = 0;
    } else {
        d->delargs = !(PyCFunction_Check(d->destroy) && (PyCFunction_GetFlags(d->destroy) & METH_O));
    }
    if (ty->owndata && ty->clientdata)
        destroy_client_data(static_cast<SwigPyClientData*>(ty->clientdata));
    ty->clientdata = d;
    ty->owndata = 1;
    Py_RETURN_NONE;
}

} // namespace

PyObject* swigregister_for(swig_type_info* ty, PyObject* arg)
{
    return register_class(ty, arg);
}

PyObject* swiginit(PyObject*, PyObject* args)
{
    PyObject* objs[2];
    if (!unpack("swiginit", args, 2, 2, objs))
        return nullptr;
    SwigPyObject* existing = find_handle(objs[0]);
    if (existing) {
        return handle_append(reinterpret_cast<PyObject*>(existing), objs[1]);
    }
    if (PyObject_SetAttr(objs[0], g_this_name, objs[1]) < 0)
        return nullptr;
    Py_RETURN_NONE;
}

// ----------------------------------------------------------- table joining

void declare_type(TypeDecl d)
{
    type_decls().push_back(d);
}

void declare_cast(CastDecl d)
{
    cast_decls().push_back(d);
}

bool init_runtime()
{
    if (!g_this_name) {
        g_this_name = PyUnicode_InternFromString("this");
        if (!g_this_name)
            return false;
    }
    if (!g_type_cache) {
        g_type_cache = PyDict_New();
        if (!g_type_cache)
            return false;
    }
    return handle_type() && packed_type();
}

bool join_type_table(PyObject*)
{
    bool first = g_module.next == nullptr;
    if (first) {
        g_module.next = &g_module;
        // Each type's own cast list: itself, then the declared derived types.
        auto& decls = type_decls();
        for (auto& d : decls) {
            auto* self = new swig_cast_info{d.info, nullptr, nullptr, nullptr};
            g_initial.push_back(d.info);
            d.info->cast = nullptr;
            insert_cast(d.info, self);
        }
        std::sort(g_initial.begin(), g_initial.end(), name_less);
        g_module.type_initial = g_initial.data();
        g_module.size = g_initial.size();
        g_types.assign(g_initial.size() + 1, nullptr);
    }

    auto* shared = static_cast<swig_module_info*>(PyCapsule_Import(kCapsuleName, 0));
    if (!shared)
        PyErr_Clear();
    if (!shared) {
        PyObject* holder = PyImport_AddModule("swig_runtime_data4");
        if (!holder)
            return false;
        PyObject* c = PyCapsule_New(&g_module, kCapsuleName, capsule_destroy);
        if (!c)
            return false;
        if (PyModule_AddObject(holder, "type_pointer_capsule", c) < 0) {
            Py_DECREF(c);
            return false;
        }
        // The interpreter module keeps it alive; handles add their own references.
        g_capsule = c;
    } else {
        if (!g_capsule) {
            // Our handles hold the table too, so that the records and their
            // classes outlive every handle, whichever module made the capsule.
            PyObject* holder = PyImport_ImportModule("swig_runtime_data4");
            g_capsule = holder ? PyObject_GetAttrString(holder, "type_pointer_capsule") : nullptr;
            Py_XDECREF(holder);
            if (!g_capsule)
                PyErr_Clear();
        }
        bool member = false;
        swig_module_info* m = shared;
        do {
            if (m == &g_module) {
                member = true;
                break;
            }
            m = m->next;
        } while (m && m != shared);
        if (member)
            return true;
        g_module.next = shared->next;
        shared->next = &g_module;
    }
    if (!first)
        return true;

    // The module's entries are now those of the table: our own, or the one
    // already registered by another module under the same name.
    std::vector<std::pair<swig_type_info*, swig_type_info*>> chosen; // own -> in use
    for (size_t i = 0; i < g_module.size; ++i) {
        swig_type_info* own = g_initial[i];
        swig_type_info* found = find_elsewhere(&g_module, own->name);
        chosen.emplace_back(own, found ? found : own);
    }
    auto in_use = [&](swig_type_info* own) {
        for (auto& p : chosen)
            if (p.first == own)
                return p.second;
        return own;
    };
    for (auto& c : cast_decls()) {
        swig_type_info* base_own = nullptr;
        for (auto& d : type_decls())
            if (d.slot == c.base)
                base_own = d.info;
        if (!base_own)
            continue;
        swig_type_info* base = in_use(base_own);
        swig_type_info* derived = in_use(c.derived);
        if (base != base_own) {
            // Adopted entry: add the cast only when it is not known yet.
            bool known = false;
            for (swig_cast_info* k = base->cast; k; k = k->next)
                if (std::strcmp(k->type->name, derived->name) == 0)
                    known = true;
            if (known)
                continue;
        }
        insert_cast(base, new swig_cast_info{derived, c.conv, nullptr, nullptr});
    }
    // An own entry is the table's now; give it back its self record first.
    for (size_t i = 0; i < g_module.size; ++i)
        g_types[i] = chosen[i].second;
    g_types[g_module.size] = nullptr;
    g_module.types = g_types.data();
    for (auto& d : type_decls())
        *d.slot = in_use(d.info);
    return true;
}

swig_type_info* type_query(const char* name)
{
    if (g_type_cache) {
        PyObject* hit = PyDict_GetItemString(g_type_cache, name);
        if (hit)
            return static_cast<swig_type_info*>(PyCapsule_GetPointer(hit, nullptr));
    }
    swig_type_info* found = nullptr;
    swig_module_info* start = g_module.next ? &g_module : nullptr;
    for (swig_module_info* m = start; m && !found; m = m->next == start ? nullptr : m->next)
        found = find_in_module(m, name);
    if (!found) {
        auto matches = [name](const char* s, const char* e) {
            const char* n = name;
            while (true) {
                while (s < e && *s == ' ')
                    ++s;
                while (*n == ' ')
                    ++n;
                if (s == e || *n == 0)
                    return s == e && *n == 0;
                if (*s++ != *n++)
                    return false;
            }
        };
        for (swig_module_info* m = start; m && !found; m = m->next == start ? nullptr : m->next) {
            for (size_t i = 0; i < m->size && !found; ++i) {
                swig_type_info* t = m->types[i];
                if (!t || !t->str)
                    continue;
                const char* s = t->str;
                while (true) {
                    const char* e = std::strchr(s, '|');
                    const char* end = e ? e : s + std::strlen(s);
                    if (matches(s, end)) {
                        found = t;
                        break;
                    }
                    if (!e)
                        break;
                    s = e + 1;
                }
            }
        }
    }
    if (found && g_type_cache) {
        PyObject* c = PyCapsule_New(found, nullptr, nullptr);
        if (c) {
            PyDict_SetItemString(g_type_cache, name, c);
            Py_DECREF(c);
        }
        PyErr_Clear();
    }
    return found;
}

} // namespace qw
