// The flat functions of a class family, declared once for every class of
// the family over its traits struct: each is named <Tr::name>_<Name>.
//
//   m.add<Member<Tr, kAt, &M::at, Self<M, &Tr::self_type>, Arg<size_t, text::size>>>(doc);
#pragma once

#include "runtime/declare.h"

namespace qw {

// The name <Tr::name>_<Name>, made once. A declaration (Declare or
// DeclareOverloads) takes it as its second base.
template <class Tr, const char* Name>
struct MemberName
{
    static const char* name()
    {
        static const char* fn = joined(Tr::name, "_", Name);
        return fn;
    }
};

// Call is wrapped in a closure of its own, so that the compiler sees which
// function it calls and inlines it.
template <class D, class Tr, const char* Name, auto Call, class... K>
struct MemberOf : Declare<D, Params<K...>>, MemberName<Tr, Name>
{
    static constexpr auto call = [](auto&&... a) -> decltype(auto) {
        return std::invoke(Call, std::forward<decltype(a)>(a)...);
    };
};

// A member that calls Call with the arguments of kinds K.
template <class Tr, const char* Name, auto Call, class... K>
struct Member : MemberOf<Member<Tr, Name, Call, K...>, Tr, Name, Call, K...>
{
};

// An operator: its outcome follows notImplementedRule.
template <class Tr, const char* Name, auto Call, class... K>
struct Operator : MemberOf<Operator<Tr, Name, Call, K...>, Tr, Name, Call, K...>
{
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

} // namespace qw
