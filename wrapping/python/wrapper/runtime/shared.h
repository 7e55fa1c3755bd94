// Shared-pointer parameters: a handle of a shared class owns one heap
// std::shared_ptr<T>. A derived class's handle passes through its registered
// cast, which makes a temporary heap shared pointer: copied here and freed at
// once, so nothing leaks on any path.
#pragma once

#include <memory>

#include "runtime/wrap.h"

namespace qw {

// std::shared_ptr<T> parameter: a handle of T or of a derived class; None
// gives an empty pointer; anything else TypeError with the argument message.
template <class T>
bool shared_arg(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    void* p = nullptr;
    int own = 0;
    int r = convert_ptr(o, &p, type_of<std::shared_ptr<T>>(), 0, &own);
    if (r != OK) {
        fail_arg(r, a);
        return false;
    }
    auto* sp = static_cast<std::shared_ptr<T>*>(p);
    if (sp)
        out = *sp;
    else
        out.reset();
    if (sp && (own & NEWMEM))
        delete sp;
    return true;
}

// The object of a method of a shared class: None, a released handle or an
// empty pointer is refused with the null-reference ValueError before any
// library call.
template <class T>
bool shared_self(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    return shared_arg(o, a, out) && present(out, a);
}

// Check face of a shared-pointer parameter.
template <class T>
bool is_shared(PyObject* o, bool allow_none = true)
{
    return is_obj<std::shared_ptr<T>>(o, allow_none);
}

} // namespace qw
