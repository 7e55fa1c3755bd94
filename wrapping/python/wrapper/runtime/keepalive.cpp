#include "runtime/keepalive.h"

#include "runtime/wrap.h"

namespace qw {

namespace {

// The owner a result keeps: a heap shared pointer carried by a handle.
struct KeepAlive
{
};

QW_TYPE(KeepAlive, "_p_qw__KeepAlive", "qw::KeepAlive *");

using Owner = std::shared_ptr<const void>;

// The keep-alive type's destructor, called with the dying handle. Release
// waits while a conversion runs user code: the call may hold a pointer into
// the owner.
PyObject* drop_owner(PyObject*, PyObject* handle)
{
    auto* h = reinterpret_cast<SwigPyObject*>(handle);
    if (h->own && h->ptr)
        destroy_or_defer(h->ptr, [](void* p) { delete static_cast<Owner*>(p); });
    h->own = 0;
    h->ptr = nullptr;
    Py_RETURN_NONE;
}

PyMethodDef g_drop_def = {"drop_owner", &drop_owner, METH_O, nullptr};

// The type entry in use (possibly adopted from another module) gets a
// destructor once.
bool ensure_destructor(swig_type_info* ty)
{
    if (ty->clientdata)
        return true;
    auto* d = new SwigPyClientData{};
    d->destroy = PyCFunction_New(&g_drop_def, nullptr);
    if (!d->destroy) {
        delete d;
        return false;
    }
    ty->clientdata = d;
    ty->owndata = 1;
    return true;
}

} // namespace

PyObject* keep_alive(PyObject* result, std::shared_ptr<const void> owner)
{
    if (!result || result == Py_None || !owner)
        return result;
    swig_type_info* ty = type_of<KeepAlive>();
    SwigPyObject* tail = find_handle(result);
    if (!tail || !ensure_destructor(ty)) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "keep_alive: the result carries no handle");
        Py_DECREF(result);
        return nullptr;
    }
    Owner* held;
    try {
        held = new Owner(std::move(owner));
    } catch (...) {
        Py_DECREF(result);
        return PyErr_NoMemory();
    }
    PyObject* link = new_handle(held, ty, 1);
    if (!link) {
        delete held;
        Py_DECREF(result);
        return nullptr;
    }
    while (tail->next)
        tail = reinterpret_cast<SwigPyObject*>(tail->next);
    tail->next = link;
    return result;
}

} // namespace qw
