// Results that point into another object keep that object alive.
#pragma once

#include <memory>

#include "runtime/wrap.h"

namespace qw {

// A handle (with its class's proxy) of `ptr`, not owning it, that keeps
// `owner` alive for as long as it lives: through the handle's keep link, as
// a capsule releasing the owner when the handle dies. A null pointer gives None.
PyObject* keep_alive_pointer(void* ptr, swig_type_info* ty, std::shared_ptr<const void> owner);

// borrowed_from(&member, owner): a borrowed result that keeps its owner alive.
template <class T>
PyObject* borrowed_from(const T* p, std::shared_ptr<const void> owner)
{
    return keep_alive_pointer(const_cast<T*>(p), type_of<T>(), std::move(owner));
}

} // namespace qw
