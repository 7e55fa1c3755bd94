// The extension base and the kinds' casts: one template for every kind.
#pragma once

#include "core_args.h"
#include "quelbo/extension.h"
#include "quelbo/hand_over.h"
#include "runtime/declare.h"
#include "runtime/shared.h"

namespace qw {

// A shared method object of class Tr::name, declared as Tr::native + suffix.
template <class Tr>
struct SharedMember
{
    using K = typename Tr::T;
    static const char* fn(const char* member) { return joined(Tr::name, "_", member); }
    static bool self(PyObject* o, const char* fn, bool constant, std::shared_ptr<K>& out)
    {
        static const char* const_ty = joined(Tr::native, " const *");
        static const char* mut_ty = joined(Tr::native, " *");
        return shared_self(o, {fn, 1, constant ? const_ty : mut_ty}, out);
    }
};

// <Kind>_cast(extension): the same object as the kind, None when it is not one.
inline constexpr char kCast[] = "cast";
inline constexpr char kExtensionRef[] = "std::shared_ptr< quelbo::Extension > const &";
template <class Tr>
using ExtensionCast = Getter<Tr, kCast, SharedArg<quelbo::Extension, kExtensionRef>, &Tr::T::cast>;

// delete_<cls> of a shared class: releases the holder the handle owns (the
// object dies with its last owner) and leaves the handle empty. None, and a
// handle of a derived class (reached through a cast), release nothing.
template <class X>
PyObject* shared_delete(PyObject* o, const ArgId& a)
{
    using H = std::shared_ptr<X>;
    if (o == Py_None)
        Py_RETURN_NONE;
    swig_cast_info* cast = nullptr;
    if (match_handle(o, type_of<H>(), &cast) && cast && cast->converter)
        Py_RETURN_NONE;
    return destroy<H>(o, a);
}

// <cls>_create_from_pointer(address): adopts a holder that native code handed
// over (quelbo::handOver); any other address raises ValueError with the
// argument message, 0 gives None. An empty holder gives a handle that every
// method refuses.
template <class T>
PyObject* adopt_handed_over(PyObject* o, const ArgId& a)
{
    uint64_t address;
    if (!arg(o, a, address))
        return nullptr;
    if (address == 0)
        return none();
    return call([&]() -> PyObject* {
        auto* holder = quelbo::adopt<T>(address);
        if (!holder) {
            // an address no native code handed over: never taken for a holder
            PyErr_Format(PyExc_ValueError, "in method '%s', argument %d of type '%s'", a.fn, a.num, a.ty);
            return nullptr;
        }
        PyObject* r = new_pointer_obj(holder, type_of<std::shared_ptr<T>>(), RES_OWN);
        if (!r)
            delete holder;
        return r;
    });
}

// delete_<Tr::name>
template <class Tr>
PyObject* shared_release(PyObject*, PyObject* o)
{
    static const ArgId a{joined("delete_", Tr::name), 1, joined(Tr::native, " *")};
    return shared_delete<typename Tr::T>(o, a);
}

} // namespace qw
