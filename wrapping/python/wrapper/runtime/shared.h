// Shared-pointer parameters: a handle of a shared class owns one heap
// std::shared_ptr<T>. A derived class's handle passes through its registered
// cast, which makes a temporary heap shared pointer: copied here and freed at
// once, so nothing leaks on any path.
#pragma once

#include <memory>

#include "runtime/wrap.h"

namespace qw {

// The shared pointer behind o (a handle of T or of a derived class; None
// gives an empty pointer; anything else TypeError with the argument message).
// `borrow`: the result serves only for the call, so the pointer of an owning
// handle of this module is taken without its count (an empty owner), the
// handle's own copy keeping the object alive until the outermost call ends.
template <class T>
[[gnu::always_inline]] inline bool shared_from(PyObject* o, const ArgId& a, std::shared_ptr<T>& out, bool borrow)
{
    void* p = nullptr;
    int own = 0;
    int r = convert_ptr(o, &p, type_of<std::shared_ptr<T>>(), 0, &own);
    if (r != OK) {
        fail_arg(r, a);
        return false;
    }
    auto* sp = static_cast<std::shared_ptr<T>*>(p);
    if (!sp)
        out.reset();
    else if (borrow && (own & (HELD | NEWMEM)) == HELD)
        out = std::shared_ptr<T>(std::shared_ptr<T>(), sp->get());
    else
        out = *sp;
    if (sp && (own & NEWMEM))
        delete sp;
    return true;
}

// std::shared_ptr<T> parameter: the library receives it (and may keep it).
template <class T>
bool shared_arg(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    return shared_from(o, a, out, false);
}

// The object of a method of a shared class: None, a released handle or an
// empty pointer is refused with the null-reference ValueError before any
// library call. The library receives the object, not the shared pointer.
template <class T>
[[gnu::always_inline]] inline bool shared_self(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    return shared_from(o, a, out, true) && present(out, a);
}

// Check face of a shared-pointer parameter.
template <class T>
bool is_shared(PyObject* o, bool allow_none = true)
{
    return is_obj<std::shared_ptr<T>>(o, allow_none);
}

} // namespace qw
