// Handles: the handle type, chains, the handle behind a proxy, conversion
// to native pointers and result handles.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/state.h"

namespace qw {

namespace {

Handle* as_handle(PyObject* o)
{
    return reinterpret_cast<Handle*>(o);
}

// Releases a reference that may end a long chain of handles: while one
// handle is being released, the others wait in a list, so that a chain of
// any length is released without recursion.
void release_link(PyObject* o)
{
    if (!o)
        return;
    Runtime& r = rt();
    if (r.in_release) {
        try {
            r.releasing.push_back(o);
            return;
        } catch (...) {
            // No room to wait: release now.
        }
        Py_DECREF(o);
        return;
    }
    r.in_release = true;
    Py_DECREF(o);
    while (!r.releasing.empty()) {
        PyObject* next = r.releasing.back();
        r.releasing.pop_back();
        Py_DECREF(next);
    }
    r.in_release = false;
}

// The module delete_ function behind a registered class's destroy, or null.
PyCFunction delete_function(PyObject* destroy);

void handle_dealloc(PyObject* self)
{
    auto* h = as_handle(self);
    if (handle_owns(h) && h->ptr) {
        PyObject *et, *ev, *tb;
        PyErr_Fetch(&et, &ev, &tb);
        auto* data = h->ty ? static_cast<SwigPyClientData*>(h->ty->clientdata) : nullptr;
        PyCFunction destroy = data && data->destroy ? delete_function(data->destroy) : nullptr;
        PyObject* destroy_self = nullptr;
        if (!destroy && data && !data->klass && data->destroy && PyCFunction_Check(data->destroy)) {
            // Set by the module itself for a type without a class.
            destroy = PyCFunction_GetFunction(data->destroy);
            destroy_self = PyCFunction_GetSelf(data->destroy);
        }
        if (destroy) {
            PyObject* res = nullptr;
            try {
                res = destroy(destroy_self, self);
            } catch (...) {
            }
            if (!res)
                PyErr_WriteUnraisable(data->destroy);
            Py_XDECREF(res);
        } else {
            std::printf("swig/python detected a memory leak of type '%s', no destructor found.\n", pretty_name(h->ty));
            std::fflush(stdout);
        }
        PyErr_Restore(et, ev, tb);
    }
    if (Handle* next = own_handle(h->next))
        next->linked = 0;
    PyObject* links[3] = {h->next, h->heir, h->keep};
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_Free(self);
    Py_DECREF(tp);
    for (PyObject* l : links)
        release_link(l);
}

PyObject* handle_repr(PyObject* self)
{
    auto* h = as_handle(self);
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
    return PyLong_FromVoidPtr(handle_target(as_handle(self)));
}

PyObject* handle_richcompare(PyObject* a, PyObject* b, int op)
{
    if (PyErr_Occurred())
        return nullptr;
    if ((op != Py_EQ && op != Py_NE) || !is_handle(b))
        Py_RETURN_NOTIMPLEMENTED;
    bool eq = handle_target(as_handle(a)) == handle_target(as_handle(b));
    return PyBool_FromLong(op == Py_EQ ? eq : !eq);
}


PyObject* handle_disown(PyObject* self, PyObject*)
{
    as_handle(self)->own = 0;
    Py_RETURN_NONE;
}

// Sets ownership; a handle that takes ownership back from its heirs becomes
// the one owner again (the last heir stops owning, the link is dropped).
void set_own(Handle* h, bool own)
{
    if (own && h->heir) {
        PyObject* heir = h->heir;
        Handle* last = as_handle(heir);
        while (last->heir)
            last = as_handle(last->heir);
        last->own = 0;
        h->ptr = last->ptr; // null when the object left the heirs
        h->heir = nullptr;
        release_link(heir);
    }
    h->own = own ? 1 : 0;
}

PyObject* handle_acquire(PyObject* self, PyObject*)
{
    set_own(as_handle(self), true);
    Py_RETURN_NONE;
}

PyObject* handle_own(PyObject* self, PyObject* args)
{
    PyObject* objs[1];
    Py_ssize_t n = 0;
    if (!unpack("own", args, 0, 1, objs, &n))
        return nullptr;
    auto* h = as_handle(self);
    PyObject* previous = PyBool_FromLong(h->own);
    if (n == 1) {
        int truth = PyObject_IsTrue(objs[0]);
        if (truth < 0) {
            Py_DECREF(previous);
            return nullptr;
        }
        set_own(h, truth != 0);
    }
    return previous;
}

PyObject* handle_next(PyObject* self, PyObject*)
{
    PyObject* n = as_handle(self)->next;
    if (!n)
        Py_RETURN_NONE;
    Py_INCREF(n);
    return n;
}

PyObject* handle_append_method(PyObject* self, PyObject* other)
{
    return append_handle(self, other);
}

PyMethodDef handle_methods[] = {
    {"disown", handle_disown, METH_NOARGS, "releases ownership of the pointer"},
    {"acquire", handle_acquire, METH_NOARGS, "acquires ownership of the pointer"},
    {"own", handle_own, METH_VARARGS, "returns/sets ownership of the pointer"},
    {"append", handle_append_method, METH_O, "appends another 'this' object"},
    {"next", handle_next, METH_NOARGS, "returns the next 'this' object"},
    {"__repr__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(handle_repr)), METH_NOARGS,
     "returns object representation"},
    {nullptr, nullptr, 0, nullptr},
};


} // namespace

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*)
{
    PyErr_SetString(PyExc_TypeError, "handles are made by the module only");
    return nullptr;
}

// ------------------------------------------------------------------ types

PyTypeObject* handle_type()
{
    Runtime& r = rt();
    if (!r.handle_type) {
        static PyType_Slot slots[] = {
            {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
            {Py_tp_repr, reinterpret_cast<void*>(handle_repr)},
            {Py_tp_getattro, reinterpret_cast<void*>(PyObject_GenericGetAttr)},
            {Py_tp_doc, const_cast<char*>(kHandleDoc)},
            {Py_tp_richcompare, reinterpret_cast<void*>(handle_richcompare)},
            {Py_tp_methods, handle_methods},
            {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
            {Py_nb_int, reinterpret_cast<void*>(handle_int)},
            {0, nullptr},
        };
        r.handle_type = make_type("SwigPyObject", sizeof(Handle), slots);
    }
    return r.handle_type;
}

// ------------------------------------------------------------- ownership

void* handle_target(SwigPyObject* h)
{
    // Heirs never form a loop: each is a handle made after the one it heirs.
    for (Handle* mine = own_handle(h); mine && mine->heir; mine = own_handle(mine->heir))
        h = reinterpret_cast<SwigPyObject*>(mine->heir);
    return h->ptr;
}

bool handle_owns(SwigPyObject* h)
{
    Handle* mine = own_handle(h);
    return h->own && !(mine && mine->heir);
}

// ----------------------------------------------------------------- chains

PyObject* append_handle(PyObject* self, PyObject* other)
{
    if (!is_handle(other)) {
        PyErr_SetString(PyExc_TypeError, "Attempt to append a non SwigPyObject");
        return nullptr;
    }
    // A chain must stay a chain: a handle is in one chain at most, and the
    // appended chain must not lead back to this one.
    Handle* mine = own_handle(other);
    if (mine && mine->linked) {
        PyErr_SetString(PyExc_ValueError, "Attempt to append a SwigPyObject that is already in a chain");
        return nullptr;
    }
    auto next_of = [](PyObject* p) { return reinterpret_cast<SwigPyObject*>(p)->next; };
    PyObject* tail = other;
    for (PyObject* p = other; p; p = next_of(p)) {
        if (p == self) {
            PyErr_SetString(PyExc_ValueError, "Attempt to append a SwigPyObject into its own chain");
            return nullptr;
        }
        tail = p;
    }
    // Other modules do not mark the handles they link: once their handles
    // are about, chains may share their ends, and joining two chains that
    // end in the same handle closes a cycle.
    PyObject* end = self;
    if (!mine || !rt().peer_types.empty())
        for (PyObject* p = self; p; p = next_of(p))
            end = p;
    if (end == tail) {
        PyErr_SetString(PyExc_ValueError, "Attempt to append a SwigPyObject that is already in a chain");
        return nullptr;
    }
    // `other` keeps its own tail; it is inserted as a whole after `self`.
    auto* h = reinterpret_cast<SwigPyObject*>(self);
    reinterpret_cast<SwigPyObject*>(tail)->next = h->next;
    Py_INCREF(other);
    if (mine)
        mine->linked = 1;
    h->next = other;
    Py_RETURN_NONE;
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
    CallGuard running; // `this` may be computed by Python code
    for (int depth = 0; depth < 64; ++depth) {
        PyObject* t = PyObject_GetAttr(o, rt().this_name);
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

// ------------------------------------------------------------ conversion

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
    const bool owns = handle_owns(hit);
    if ((flags & CV_RELEASE) == CV_RELEASE && !owns)
        return ERR_RELEASE;
    int newmem = 0;
    void* p = handle_target(hit);
    if (cast && cast->converter && p)
        p = cast->converter(p, &newmem);
    if (own)
        *own = (newmem == NEWMEM ? NEWMEM : 0) | (owns ? 1 : 0);
    if (flags & CV_DISOWN)
        hit->own = 0;
    if (flags & CV_CLEAR)
        hit->ptr = nullptr;
    *ptr = p;
    return OK;
}

// ---------------------------------------------------------------- results

PyObject* new_handle(void* ptr, swig_type_info* ty, int own)
{
    auto* h = PyObject_New(Handle, handle_type());
    if (!h)
        return nullptr;
    h->ptr = ptr;
    h->ty = ty;
    h->own = own;
    h->next = nullptr;
    h->heir = nullptr;
    h->keep = nullptr;
    h->linked = 0;
    return reinterpret_cast<PyObject*>(h);
}

// The proxy instance of the type's registered class holding `handle` (a new
// reference), or the handle itself when no class is registered.
PyObject* proxy_for(PyObject* handle, swig_type_info* ty)
{
    auto* data = ty ? static_cast<SwigPyClientData*>(ty->clientdata) : nullptr;
    if (!data || !data->klass) {
        Py_INCREF(handle);
        return handle;
    }
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
    if (inst && PyObject_SetAttr(inst, rt().this_name, handle) < 0)
        Py_CLEAR(inst);
    return inst;
}

PyObject* new_pointer_obj(void* ptr, swig_type_info* ty, int flags)
{
    if (!ptr)
        Py_RETURN_NONE;
    // An object deleted during the call is destroyed when it ends: no result
    // may refer to it.
    if (is_deferred(ptr)) {
        PyErr_SetString(PyExc_ValueError, "the object was deleted during the call");
        return nullptr;
    }
    PyObject* handle = new_handle(ptr, ty, (flags & RES_OWN) ? 1 : 0);
    if (!handle)
        return nullptr;
    if (flags & RES_NOPROXY)
        return handle;
    PyObject* inst = proxy_for(handle, ty);
    Py_DECREF(handle);
    return inst;
}

PyObject* new_kept_pointer(void* ptr, swig_type_info* ty, PyObject* keep)
{
    PyObject* handle = new_handle(ptr, ty, 0);
    if (!handle) {
        Py_DECREF(keep);
        return nullptr;
    }
    as_handle(handle)->keep = keep;
    PyObject* inst = proxy_for(handle, ty);
    Py_DECREF(handle);
    return inst;
}

PyObject* inplace_result(PyObject* left, void* p, swig_type_info* ty, const ArgId* a)
{
    auto refuse = [a]() -> PyObject* {
        if (a)
            fail_null(*a);
        else
            PyErr_SetString(PyExc_ValueError, "the left operand was deleted during the call");
        return nullptr;
    };
    // The left handle that still holds the object; none when the object was
    // deleted or moved away while the call ran.
    SwigPyObject* from = nullptr;
    for (SwigPyObject* cur = find_handle(left); cur && !from; cur = reinterpret_cast<SwigPyObject*>(cur->next))
        if (handle_target(cur) == p)
            from = cur;
    if (!from || is_deferred(p))
        return refuse();
    PyObject* keep_from = reinterpret_cast<PyObject*>(from);
    Py_INCREF(keep_from);
    PyObject* handle = new_handle(p, ty, 0);
    PyObject* inst = handle ? proxy_for(handle, ty) : nullptr;
    // Making the proxy runs Python code: check again what the left holds.
    if (inst && (handle_target(from) != p || is_deferred(p))) {
        Py_CLEAR(inst);
        refuse();
    }
    Handle* mine = own_handle(from);
    if (inst && handle_owns(from) && mine) {
        // Ownership moves on success only; the left handle then reaches the
        // object through its heir and keeps it alive.
        as_handle(handle)->own = 1;
        from->own = 0;
        Py_INCREF(handle);
        mine->heir = handle;
    } else if (inst && handle_owns(from)) {
        // Another module's handle cannot reach an heir: it keeps owning, and
        // the result keeps it alive.
        Py_INCREF(keep_from);
        as_handle(handle)->keep = keep_from;
    }
    Py_XDECREF(handle);
    Py_DECREF(keep_from);
    return inst;
}

PyObject* inplace_result(PyObject* left, void* p, swig_type_info* ty)
{
    return inplace_result(left, p, ty, nullptr);
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
    rt().readonly.push_back(p);
}

bool is_readonly(const void* p)
{
    auto& v = rt().readonly;
    return p && std::find(v.begin(), v.end(), p) != v.end();
}

namespace {

PyCFunction delete_function(PyObject* destroy)
{
    return flat_delete_function(destroy);
}

} // namespace

} // namespace qw
