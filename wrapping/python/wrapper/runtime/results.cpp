// Result handles: a new handle, the registered class's instance holding it,
// kept results and in-place results.
#include "runtime/state.h"

namespace qw {

// ---------------------------------------------------------------- results

namespace {

// The steps of every object result, written once and inlined into the
// result road itself.
[[gnu::always_inline]] inline PyObject* make_handle(Runtime& r, void* ptr, swig_type_info* ty, int own)
{
    PyTypeObject* type = handle_type();
    Handle* h;
    // Spare memory is only ever that of this type's handles.
    if (r.spare_count > 0) {
        h = reinterpret_cast<Handle*>(r.spare_handles[--r.spare_count]);
        spare_serves(h, sizeof(Handle));
        PyObject_Init(reinterpret_cast<PyObject*>(h), type);
    } else if (!(h = PyObject_New(Handle, type))) {
        return nullptr;
    }
    h->ptr = ptr;
    h->ty = ty;
    h->own = own;
    h->next = nullptr;
    h->heir = nullptr;
    h->keep = nullptr;
    h->linked = 0;
    // An owning handle holds the shared table: the class records outlive it.
    h->table = own ? hold_table() : nullptr;
    return reinterpret_cast<PyObject*>(h);
}

// The proxy instance of the type's registered class holding `handle` (a new
// reference), or the handle itself when no class is registered. Storing
// `this` on the instance leaves its class as it was: the class is never
// marked as modified, so its attribute caches and its version tag stay.
// Making the instance runs Python code (the class's __new__, a `this`
// setter), which may register another class and so release the record:
// what the call uses of it is held until it returns. A class is told apart
// from another registered object by its type, never by a field.
[[gnu::always_inline]] inline PyObject* make_proxy(Runtime& r, PyObject* handle, swig_type_info* ty)
{
    auto* data = ty ? static_cast<SwigPyClientData*>(ty->clientdata) : nullptr;
    if (!data || !data->klass) {
        Py_INCREF(handle);
        return handle;
    }
    const Held klass(data->klass);
    PyObject* inst = nullptr;
    // Classes made by `type` (nearly all) are told apart without a call.
    if (Py_TYPE(klass.get()) == &PyType_Type || PyType_Check(klass.get())) {
        auto* tp = reinterpret_cast<PyTypeObject*>(klass.get());
        auto tp_new = reinterpret_cast<newfunc>(PyType_GetSlot(tp, Py_tp_new));
        inst = tp_new ? tp_new(tp, r.empty_tuple, r.empty_dict) : nullptr;
    } else if (data->newraw && data->newargs && PyTuple_Check(data->newargs)) {
        const Held newraw(data->newraw), newargs(data->newargs);
        inst = PyObject_Call(newraw.get(), newargs.get(), nullptr);
    }
    if (!inst && !PyErr_Occurred())
        PyErr_SetString(PyExc_TypeError, "cannot create an instance of the registered class");
    const Held name(inst ? this_name() : nullptr);
    if (inst && (!name.get() || PyObject_SetAttr(inst, name.get(), handle) < 0))
        Py_CLEAR(inst);
    return inst;
}

// No result refers to an object deleted during the call (it is destroyed
// when the call ends): ValueError. Nothing waits in nearly every call.
[[gnu::cold]] bool refuse_deferred(void* ptr)
{
    if (!is_deferred(ptr))
        return false;
    PyErr_SetString(PyExc_ValueError, "the object was deleted during the call");
    return true;
}
[[gnu::always_inline]] inline bool deferred_result(void* ptr)
{
    return __builtin_expect(*waiting_count > 0, 0) && refuse_deferred(ptr);
}

} // namespace

PyObject* new_handle(void* ptr, swig_type_info* ty, int own)
{
    return make_handle(rt(), ptr, ty, own);
}

PyObject* proxy_for(PyObject* handle, swig_type_info* ty)
{
    return make_proxy(rt(), handle, ty);
}

[[gnu::hot]] PyObject* new_pointer_obj(void* ptr, swig_type_info* ty, int flags)
{
    if (!ptr)
        Py_RETURN_NONE;
    Runtime& r = rt();
    if (deferred_result(ptr))
        return nullptr;
    PyObject* handle = make_handle(r, ptr, ty, (flags & RES_OWN) ? 1 : 0);
    if (!handle)
        return nullptr;
    if (flags & RES_NOPROXY)
        return handle;
    PyObject* inst = make_proxy(r, handle, ty);
    Py_DECREF(handle);
    // Making the instance ran Python code, which may have deleted the object
    // (a `this` setter given the handle, a __new__ deleting an argument that
    // the result shows).
    if (inst && deferred_result(ptr))
        Py_CLEAR(inst);
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
        Handle* heir = as_handle(handle);
        heir->own = 1;
        heir->table = hold_table(); // made owning, as make_handle would
        from->own = 0;
        Py_INCREF(handle);
        mine->heir = handle;
    } else if (inst && (mine || handle_owns(from))) {
        // Otherwise the result reaches the object as the left handle does,
        // through the handle that holds it, and keeps that alive: the left
        // handle's heir (an alias whose object moved on; repeated operators
        // on it add no link), else the left handle itself (a lent object, or
        // another module's owning handle, which cannot reach an heir and
        // keeps owning: the result refuses once the object is deleted
        // through it).
        PyObject* through = mine && mine->heir ? mine->heir : keep_from;
        Py_INCREF(through);
        as_handle(handle)->heir = through;
    }
    Py_XDECREF(handle);
    Py_DECREF(keep_from);
    return inst;
}

PyObject* inplace_result(PyObject* left, void* p, swig_type_info* ty)
{
    return inplace_result(left, p, ty, nullptr);
}

} // namespace qw
