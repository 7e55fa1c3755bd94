// Shared-pointer parameters: a handle of a shared class owns one heap
// std::shared_ptr<T>. A derived class's handle passes through its registered
// cast, which makes a temporary heap shared pointer: copied here and freed at
// once, so nothing leaks on any path.
#pragma once

#include <memory>

#include "runtime/wrap.h"

namespace qw {

// The heap shared pointer of the handle behind o (a handle of T or of a
// derived class; null for None) and convert_ptr's ownership bits; false,
// with the argument message (TypeError), for anything else.
template <class T>
[[gnu::always_inline]] inline bool shared_handle(PyObject* o, const ArgId& a, std::shared_ptr<T>*& sp, int& own)
{
    void* p = nullptr;
    own = 0;
    int r = convert_ptr(o, &p, type_of<std::shared_ptr<T>>(), 0, &own);
    if (r != OK) {
        fail_arg(r, a);
        return false;
    }
    sp = static_cast<std::shared_ptr<T>*>(p);
    return true;
}

// std::shared_ptr<T> parameter: the library receives it (and may keep it);
// None gives an empty pointer.
template <class T>
bool shared_arg(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    std::shared_ptr<T>* sp;
    int own;
    if (!shared_handle(o, a, sp, own))
        return false;
    if (sp)
        out = *sp;
    else
        out.reset();
    if (sp && (own & NEWMEM))
        delete sp;
    return true;
}

// A shared object that must be there, as a shared pointer the caller may
// keep: None, a released handle or an empty pointer is refused with the
// null-reference ValueError before any library call.
template <class T>
bool shared_self(PyObject* o, const ArgId& a, std::shared_ptr<T>& out)
{
    return shared_arg(o, a, out) && present(out, a);
}

// The object of a method of a shared class, for the length of the call.
// An owning handle of this module keeps it: its destruction waits for the
// outermost call, so the object is taken without a count. Any other handle
// (another module's, a derived class's cast, one owning nothing) gives a
// copy of its shared pointer, which keeps it.
template <class T>
struct HeldObject
{
    T* object = nullptr;
    std::shared_ptr<T> kept;
};

// Refused as the shared pointer is.
template <class T>
[[gnu::always_inline]] inline bool shared_self(PyObject* o, const ArgId& a, HeldObject<T>& out)
{
    std::shared_ptr<T>* sp;
    int own;
    if (!shared_handle(o, a, sp, own))
        return false;
    if (sp && (own & (HELD | NEWMEM)) == HELD) {
        out.object = sp->get();
    } else if (sp) {
        out.kept = *sp;
        out.object = out.kept.get();
        if (own & NEWMEM)
            delete sp;
    }
    return present(out.object, a);
}

// Check face of a shared-pointer parameter.
template <class T>
bool is_shared(PyObject* o, bool allow_none = true)
{
    return is_obj<std::shared_ptr<T>>(o, allow_none);
}

} // namespace qw
