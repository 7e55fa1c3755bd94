// Handles: the handle type and its methods, ownership, chains.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "runtime/state.h"

namespace qw {

namespace {

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

// give_up, inlined where a dying handle of this module destroys its object;
// `mine` is the handle as this runtime's own, or null.
[[gnu::always_inline]] inline void* give_up_object(SwigPyObject* h, Handle* mine)
{
    void* out = (mine && !mine->heir ? h->own != 0 : handle_owns(h)) && !is_readonly(h->ptr) ? h->ptr : nullptr;
    const bool peer_held = !mine && peer_holds_table(h);
    h->own = 0;
    h->ptr = nullptr;
    // A handle whose object moved to an heir lets it go: it reaches nothing now.
    if (mine) {
        PyObject* heir = mine->heir;
        mine->heir = nullptr;
        Py_XDECREF(heir);
    }
    if (peer_held)
        let_table_go_for_peer();
    return out;
}

// Destroys what an owning handle holds, through its class's delete_
// function: directly when it is this module's own for the handle's type.
// The destruction may run Python code (what it lets go, a report of a
// stream's refused bytes), which may register another class and release the
// record: the record is read once, before, and a function called or named
// in a report is held for it.
void destroy_owned(Handle* h)
{
    auto* data = h->ty ? static_cast<SwigPyClientData*>(h->ty->clientdata) : nullptr;
    PyObject* fn = data ? data->destroy : nullptr;
    const bool classless = data && !data->klass;
    const DeleteVerdict* verdict = fn ? &delete_verdict(fn) : nullptr;
    if (const NativeDelete* native = verdict ? verdict->native : nullptr; native && *native->type == h->ty) {
        // What the delete_ function does to the handle, without the call.
        void* p = give_up_object(h, h);
        if (!p)
            return;
        CallGuard running;
        try {
            destroy_deleted(p, native->destroy);
        } catch (...) {
            raise_native_exception();
            // Named as the class registered now has it.
            data = static_cast<SwigPyClientData*>(h->ty->clientdata);
            const Held now(data ? data->destroy : nullptr);
            PyErr_WriteUnraisable(now.get());
        }
        return;
    }
    PyCFunction destroy = verdict ? verdict->destroy : nullptr;
    PyObject* destroy_self = nullptr;
    if (!destroy && classless && fn && PyCFunction_Check(fn)) {
        // Set by the module itself for a type without a class.
        destroy = PyCFunction_GetFunction(fn);
        destroy_self = PyCFunction_GetSelf(fn);
    }
    if (!destroy) {
        std::printf("swig/python detected a memory leak of type '%s', no destructor found.\n", pretty_name(h->ty));
        std::fflush(stdout);
        return;
    }
    const Held held(fn); // and with it the module it belongs to
    PyObject* res = nullptr;
    try {
        res = destroy(destroy_self, reinterpret_cast<PyObject*>(h));
    } catch (...) {
    }
    if (!res)
        PyErr_WriteUnraisable(fn);
    Py_XDECREF(res);
}

[[gnu::hot]] void handle_dealloc(PyObject* self)
{
    auto* h = as_handle(self);
    if (h->own && !h->heir && h->ptr) {
        // The destruction may raise and clear errors: a pending one waits.
        PyObject *et = nullptr, *ev = nullptr, *tb = nullptr;
        const bool pending = PyErr_Occurred() != nullptr;
        if (pending)
            PyErr_Fetch(&et, &ev, &tb);
        destroy_owned(h);
        if (pending)
            PyErr_Restore(et, ev, tb);
        else if (PyErr_Occurred())
            PyErr_Clear();
    }
    if (Handle* next = h->next ? own_handle(h->next) : nullptr)
        next->linked = 0;
    PyObject* links[3] = {h->next, h->heir, h->keep};
    PyObject* table = h->table;
    PyTypeObject* tp = Py_TYPE(self);
    Runtime& r = rt();
    if (tp == r.handle_type && r.spare_count < int(std::size(r.spare_handles))) {
        r.spare_handles[r.spare_count++] = self;
        spare_waits(self, sizeof(Handle));
    } else {
        PyObject_Free(self);
    }
    Py_DECREF(tp);
    for (PyObject* l : links)
        if (l)
            release_link(l);
    // The table goes last: its end may release the classes.
    if (table)
        let_table_go(table);
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
// the one owner again: the last heir stops owning and reaches the object
// through it from then on (keeping it alive), so that no handle is left
// pointing at an object its owner destroyed. The new owner has no heir, so
// no loop forms.
void set_own(Handle* h, bool own)
{
    if (own && h->heir) {
        PyObject* heir = h->heir;
        // The last heir may be another module's handle (a result reached the
        // object through it): it lets go of what it held.
        auto* last = reinterpret_cast<SwigPyObject*>(heir);
        for (Handle* mine = own_handle(last); mine && mine->heir; mine = own_handle(mine->heir))
            last = reinterpret_cast<SwigPyObject*>(mine->heir);
        Handle* end = own_handle(last);
        const bool peer_held = !end && peer_holds_table(last);
        last->own = 0;
        h->ptr = last->ptr; // null when the object left the heirs
        h->heir = nullptr;
        if (end && end->ptr) {
            Py_INCREF(reinterpret_cast<PyObject*>(h));
            end->heir = reinterpret_cast<PyObject*>(h);
        }
        if (peer_held)
            let_table_go_for_peer();
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
    // Heirs never form a loop: a handle takes an heir only when the heir
    // is new, or only while it is new itself (the result of an in-place
    // operator reaching its object through another handle).
    for (Handle* mine = own_handle(h); mine && mine->heir; mine = own_handle(mine->heir))
        h = reinterpret_cast<SwigPyObject*>(mine->heir);
    return h->ptr;
}

bool handle_owns(SwigPyObject* h)
{
    Handle* mine = own_handle(h);
    return h->own && !(mine && mine->heir);
}

void* give_up(SwigPyObject* h)
{
    return give_up_object(h, own_handle(h));
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
} // namespace qw
