// Building blocks of the property and metadata families: parameters of any
// kind by one converter, setters, getters of shared classes, and the
// read-only wrappers' getters.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include "common/item_parser.h"
#include "core_args.h"
#include "readonly/readonly_args.h"
#include "runtime/wrap.h"

namespace qw {
namespace props {

template <class T, class = void>
struct IsVector : std::false_type
{
};
template <class T>
struct IsVector<T, std::void_t<decltype(VecInfo<T>::dynamic)>> : std::true_type
{
};

// A by-value or constant-reference parameter: vectors from sequences, class
// values copied from their handle (None: null-reference ValueError), scalars
// and strings by their converter.
template <class T>
bool param(PyObject* o, const ArgId& a, T& out)
{
    if constexpr (IsVector<T>::value) {
        return sequence_to_vector(o, out);
    } else if constexpr (std::is_class<T>::value && !std::is_same<T, std::string>::value) {
        T* p;
        if (!ref(o, a, p))
            return false;
        out = *p;
        return true;
    } else {
        return arg(o, a, out);
    }
}

template <class M>
struct SetterArg;
template <class C, class P>
struct SetterArg<void (C::*)(P)>
{
    using type = std::decay_t<P>;
};

// <name>_<Name>(object, value) for a one-argument member of a value class;
// `Type` is the value's declared type in messages.
template <class Tr, const char* Name, const char* Type, auto Member>
PyObject* setter(PyObject*, PyObject* args)
{
    static const char* fn = joined(Tr::name, "_", Name);
    PyObject* a[2];
    typename Tr::T* obj;
    typename SetterArg<decltype(Member)>::type value{};
    if (!unpack(fn, args, 2, 2, a) || !self_mut(a[0], {fn, 1, Tr::mut_type}, obj) || !param(a[1], {fn, 2, Type}, value))
        return nullptr;
    return call([&] {
        (obj->*Member)(value);
        return none();
    });
}

template <class Tr, const char* Name, const char* Type, auto Member>
void add_setter(Methods& m, const char* doc = nullptr)
{
    m.add<&setter<Tr, Name, Type, Member>>(joined(Tr::name, "_", Name), METH_VARARGS, doc);
}

// The object of a read-only wrapper's getter: a wrapper whose object is gone
// (or a wrapper of nothing) is refused with the null-reference ValueError.
template <class W>
bool wrapper_self(PyObject* o, const ArgId& a, W*& out)
{
    if (!self(o, a, out))
        return false;
    if (!out->pointer()) {
        fail_null(a);
        return false;
    }
    return true;
}

// The object kind of a read-only wrapper's getter.
template <class W, auto Text>
struct WrapperSelf : Self<W, Text>
{
    static bool get(PyObject* o, const ArgId& a, W*& v) { return wrapper_self(o, a, v); }
};

// <name>_<Name>(wrapper) forwarding to a const member of the wrapper.
template <class Tr, const char* Name, auto Member>
void add_wrapper_getter(Methods& m, const char* doc = nullptr)
{
    m.add<Getter<Tr, Name, WrapperSelf<typename Tr::T, &Tr::self_type>, Member>>(doc);
}

} // namespace props
} // namespace qw
