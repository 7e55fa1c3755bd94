// Building blocks of the property and metadata families: parameters of any
// kind by one converter, setters, getters of shared classes, and the
// read-only wrappers' getters.
#pragma once

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "core_args.h"
#include "runtime/declare.h"
#include "runtime/item_parser.h"
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

// A by-value or constant-reference parameter converted by param(); `Text` is
// its declared type in messages and prototypes.
template <class T, auto Text>
struct Param : Kind<Text>
{
    using value = T;
    static bool check(PyObject* o)
    {
        if constexpr (IsVector<T>::value)
            return is_seq(o);
        else if constexpr (std::is_class<T>::value && !std::is_same<T, std::string>::value)
            return is_obj<T>(o);
        else
            return is<T>(o);
    }
    static bool get(PyObject* o, const ArgId& a, T& v) { return param(o, a, v); }
    static T& pass(T& v) { return v; }
};

// A key (std::string const &) that must be given: None fails the check, so
// an overloaded call ends in the overload TypeError.
struct Key : Arg<std::string, text::string_ref>
{
    static bool check(PyObject* o) { return is_text(o); }
};

// A listed shared-object parameter that must not be empty; the library
// receives the shared pointer (SharedObject) or the object (SharedRef).
template <class T, auto Text>
struct SharedObject : SharedArg<T, Text>
{
    static bool get(PyObject* o, const ArgId& a, std::shared_ptr<T>& v) { return shared_self(o, a, v); }
};
template <class T, auto Text>
struct SharedRef : SharedObject<T, Text>
{
    static T& pass(std::shared_ptr<T>& v) { return *v; }
};

// A method's shared object handed over as the shared pointer itself, for a
// result that keeps it alive.
template <class T, auto Text>
struct SharedHeld : SharedObject<T, Text>
{
    static constexpr bool listed = false;
};

// A move-constructor parameter: listed in the overload message, never taken
// (the copy candidate before it takes every object).
template <auto Text>
struct Moved : Kind<Text>
{
    using value = PyObject*;
    static bool check(PyObject*) { return false; }
    static bool get(PyObject*, const ArgId&, PyObject*&) { return false; }
    static PyObject* pass(PyObject* v) { return v; }
};

// Candidates of a value class's constructor; `Member` is the constructor's
// name in prototype lines (a text, or its address: `&Tr::constructor`).
template <auto Member, class P, int Decl>
struct Constructor : Candidate<P, Decl>
{
    static constexpr const char* member = text_of(Member);
};

// The copy constructor, from another object taken as Tr::other_type.
template <class Tr, int Decl>
struct CopyConstructor : Constructor<&Tr::constructor, Params<Ref<typename Tr::T, &Tr::other_type>>, Decl>
{
    using T = typename Tr::T;
    static constexpr auto call = [](const T& other) { return constructed(new T(other)); };
};

// The move constructor (Tr::moved_type): listed, never taken.
template <class Tr, int Decl>
struct MoveConstructor : Constructor<&Tr::constructor, Params<Moved<&Tr::moved_type>>, Decl>
{
    static constexpr auto call = [](PyObject*) -> PyObject* { return nullptr; };
};

// A shared class's handle: a heap shared pointer (deleted by delete_<name>).
template <class Tr>
struct SharedHandle
{
    using T = std::shared_ptr<typename Tr::T>;
    static constexpr const char* name = Tr::name;
    static constexpr const char* native = Tr::native;
};

template <class T>
PyObject* new_shared(std::shared_ptr<T> p)
{
    return constructed(new std::shared_ptr<T>(std::move(p)));
}

// The copy and move constructors of a shared class, from another object
// (Tr::other_type, not empty) or from one taken away (Tr::moved_type).
template <class Tr, int Decl>
struct SharedCopyConstructor : Constructor<&Tr::constructor, Params<SharedRef<typename Tr::T, &Tr::other_type>>, Decl>
{
    using T = typename Tr::T;
    static constexpr auto call = [](const T& other) { return new_shared(std::make_shared<T>(other)); };
};
template <class Tr, int Decl>
struct SharedMoveConstructor : Constructor<&Tr::constructor, Params<Released<typename Tr::T, &Tr::moved_type>>, Decl>
{
    using T = typename Tr::T;
    static constexpr auto call = [](T&& source) { return new_shared(std::make_shared<T>(std::move(source))); };
};

// <name>_<Name>(object, value) for a one-argument member of a value class;
// `Type` is the value's declared type in messages.
template <class Tr, const char* Name, auto Type, auto Member>
struct Setter
    : Declare<Setter<Tr, Name, Type, Member>,
              Params<SelfMut<typename Tr::T, &Tr::mut_type>, Param<typename SetterArg<decltype(Member)>::type, Type>>>,
      MemberName<Tr, Name>
{
    static constexpr auto call = Member;
};

template <class Tr, const char* Name, auto Type, auto Member>
void add_setter(Methods& m, const char* doc = nullptr)
{
    m.add<Setter<Tr, Name, Type, Member>>(doc);
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
