// Object arguments (pointer, method object, reference, move, delete) and
// object results (values, constructed, borrowed, shared, in place), and the
// generic members of a registered class.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "runtime/methods.h"
#include "runtime/scalars.h"

namespace qw {

// ============================================================ objects

// Pointer parameter: a handle of T (or derived), None as null.
template <class T>
bool ptr(PyObject* o, const ArgId& a, T*& out)
{
    void* p = nullptr;
    int r = convert_ptr(o, &p, type_of<T>(), 0);
    if (r != OK) {
        fail_arg(r, a);
        return false;
    }
    out = static_cast<T*>(p);
    return true;
}

// A target the call writes through: the module's constants are refused.
inline bool writable(const void* p, const ArgId& a)
{
    if (!is_readonly(p))
        return true;
    fail_arg(ERR_TYPE, a);
    return false;
}

template <class T>
bool ptr_mut(PyObject* o, const ArgId& a, T*& out)
{
    return ptr(o, a, out) && writable(out, a);
}

// A converted object that must be there: an empty one (null or empty
// shared pointer) is refused with the null-reference ValueError.
template <class P>
bool present(const P& out, const ArgId& a)
{
    if (out)
        return true;
    fail_null(a);
    return false;
}

// A method's object: like a pointer, but a missing object (None, or a handle
// whose object was moved away) is refused before any library call.
template <class T>
bool self(PyObject* o, const ArgId& a, T*& out)
{
    return ptr(o, a, out) && present(out, a);
}

template <class T>
bool self_mut(PyObject* o, const ArgId& a, T*& out)
{
    return self(o, a, out) && writable(out, a);
}

// Reference or by-value parameter: null refused with the null-reference text.
template <class T>
bool ref(PyObject* o, const ArgId& a, T*& out)
{
    void* p = nullptr;
    int r = convert_ptr(o, &p, type_of<T>(), CV_NO_NULL);
    if (r == ERR_NULL || (r == OK && !p)) {
        fail_null(a);
        return false;
    }
    if (r != OK) {
        fail_arg(r, a);
        return false;
    }
    out = static_cast<T*>(p);
    return true;
}

// Check face of an object parameter.
template <class T>
bool is_obj(PyObject* o, bool allow_none = false)
{
    return o && can_convert(o, type_of<T>(), allow_none);
}

// Move parameter (T&&): takes the object away from an owning handle, which
// keeps a null pointer. The caller owns the returned object.
template <class T>
bool release(PyObject* o, const ArgId& a, T*& out)
{
    void* p = nullptr;
    int r = convert_ptr(o, &p, type_of<T>(), CV_RELEASE);
    if (r == ERR_RELEASE) {
        fail_release(a);
        return false;
    }
    if (r != OK) {
        fail_arg(r, a);
        return false;
    }
    if (!p || is_readonly(p)) {
        fail_null(a);
        return false;
    }
    out = static_cast<T*>(p);
    return true;
}

// `new T(a...)` and `delete p` for the module's heap objects: the memory of
// an object whose size is its whole allocation (no derived class can hide
// behind a pointer to it) is reused through take_block and give_block.
template <class T>
inline constexpr bool kReusedMemory =
    !std::is_polymorphic<T>::value && alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__;
template <class T, class... A>
T* make_object(A&&... a)
{
    if constexpr (kReusedMemory<T>) {
        void* b = take_block(sizeof(T));
        try {
            return new (b) T(std::forward<A>(a)...);
        } catch (...) {
            give_block(b, sizeof(T));
            throw;
        }
    } else {
        return new T(std::forward<A>(a)...);
    }
}
template <class T>
void destroy_object(void* q)
{
    T* p = static_cast<T*>(q);
    if constexpr (kReusedMemory<T>) {
        p->~T();
        give_block(p, sizeof(T));
    } else {
        delete p;
    }
}

// Deletes an object the module took over (deleted, or moved from).
template <class T>
void dispose(T* p)
{
    if (p)
        destroy_or_defer(p, &destroy_object<T>);
}

// delete_<cls>: takes ownership away (out: what the handle owned, else
// null) and leaves the handle reaching nothing.
bool disown_for_delete(PyObject* o, swig_type_info* ty, const ArgId& a, void*& out);

// A value result: a heap copy owned by a new handle with its proxy.
template <class T>
PyObject* owned(T* p)
{
    PyObject* r = new_pointer_obj(p, type_of<T>(), RES_OWN);
    return r;
}
template <class T>
PyObject* value(T&& v)
{
    using V = std::decay_t<T>;
    return owned(make_object<V>(std::forward<T>(v)));
}
// A constructor's object: a bare owning handle.
template <class T>
PyObject* constructed(T* p)
{
    return new_pointer_obj(p, type_of<T>(), RES_OWN | RES_NOPROXY);
}
// A pointer into an object the caller keeps.
template <class T>
PyObject* borrowed(const T* p)
{
    return new_pointer_obj(const_cast<T*>(p), type_of<T>(), 0);
}
// A shared object: a new heap shared pointer, None when empty.
template <class T>
PyObject* shared(std::shared_ptr<T> p)
{
    if (!p)
        Py_RETURN_NONE;
    return new_pointer_obj(new std::shared_ptr<T>(std::move(p)), type_of<std::shared_ptr<T>>(), RES_OWN);
}

// inPlaceOperatorRule: the left handle hands its object over to the result
// (only when it owned it, only on success) and then reaches the object
// through the result's handle. When the object was deleted or moved away
// while the call ran, the call fails: with the null-reference ValueError of
// argument `a` when given.
PyObject* inplace_result(PyObject* left, void* p, swig_type_info* ty, const ArgId* a);
PyObject* inplace_result(PyObject* left, void* p, swig_type_info* ty);

} // namespace qw
