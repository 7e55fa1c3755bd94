#include "runtime/keepalive.h"

namespace qw {

namespace {

using Owner = std::shared_ptr<const void>;
const char* const kOwnerCapsule = "qw.keep_alive";

// Release waits while a call runs: the call may hold a pointer into the owner.
void release_owner(PyObject* capsule)
{
    void* p = PyCapsule_GetPointer(capsule, kOwnerCapsule);
    if (p)
        destroy_or_defer(p, [](void* q) { delete static_cast<Owner*>(q); });
    else
        PyErr_Clear();
}

} // namespace

PyObject* keep_alive_pointer(void* ptr, swig_type_info* ty, std::shared_ptr<const void> owner)
{
    if (!ptr)
        Py_RETURN_NONE;
    auto* held = new Owner(std::move(owner));
    PyObject* capsule = PyCapsule_New(held, kOwnerCapsule, &release_owner);
    if (!capsule) {
        delete held;
        return nullptr;
    }
    return new_kept_pointer(ptr, ty, capsule);
}

} // namespace qw
