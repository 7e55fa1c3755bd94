// The flat functions of a class family, declared once for every class of
// the family over its traits struct: each is named <Tr::name>_<Name>.
//
//   m.add<Member<Tr, kAt, &M::at, Self<M, &Tr::self_type>, Arg<size_t, text::size>>>(doc);
#pragma once

#include <memory>

#include "runtime/declare.h"

namespace qw {

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

// ------------------------------------------------------------ lifetime

inline constexpr char kPointer[] = " *";
template <class Tr>
inline constexpr auto pointer_text = &JoinedText<&Tr::native, kPointer>::text;

// The object of a delete_ function: its handle gives the object up (None,
// and a handle that did not own it, give nothing) and reaches nothing
// afterwards.
template <class T, auto Text>
struct Disowned : Kind<Text>
{
    using value = T*;
    static bool check(PyObject*) { return true; }
    static bool get(PyObject* o, const ArgId& a, T*& v)
    {
        void* p = nullptr;
        if (!disown_for_delete(o, type_of<T>(), a, p))
            return false;
        v = static_cast<T*>(p);
        return true;
    }
    static T* pass(T* v) { return v; }
};

// The object of a shared class's delete_: releases the holder the handle
// owns (the object dies with its last owner). A handle of a derived class,
// reached through a cast, releases nothing.
template <class X, auto Text>
struct SharedDisowned : Disowned<std::shared_ptr<X>, Text>
{
    static bool get(PyObject* o, const ArgId& a, std::shared_ptr<X>*& v)
    {
        swig_cast_info* cast = nullptr;
        if (o != Py_None && match_handle(o, type_of<std::shared_ptr<X>>(), &cast) && cast && cast->converter) {
            v = nullptr;
            return true;
        }
        return Disowned<std::shared_ptr<X>, Text>::get(o, a, v);
    }
};

// delete_<Tr::name>(handle): destroys what the handle owned; a destruction
// asked for while another call runs waits until the outermost call ends.
template <class Tr, class K = Disowned<typename Tr::T, pointer_text<Tr>>>
struct Delete : Declare<Delete<Tr, K>, Params<K>>, DeleteName<Tr>
{
    using T = std::remove_pointer_t<typename K::value>;
    // What the call does to an owning handle of T, for a dying handle.
    static constexpr NativeDelete native = {&Type<T>::info, &destroy_object<T>};
    static constexpr auto call = [](T* p) {
        if (p)
            destroy_deleted(p, &destroy_object<T>);
    };
};

// delete_<Tr::name> of a shared class (Tr::T the class, its handles holding shared pointers).
template <class Tr>
using SharedDelete = Delete<Tr, SharedDisowned<typename Tr::T, pointer_text<Tr>>>;

// new_<Tr::name>() of a default-constructible class.
template <class Tr>
struct NewDefault : Declare<NewDefault<Tr>, Params<>>, NewName<Tr>
{
    static constexpr auto call = [] { return constructed(new typename Tr::T()); };
};

// A class's constructors (declarations over Tr, such as NewDefault), its
// delete_ and its hooks (_swiginit only with a constructor):
//   add_class<LoggerTr, NewDefault>(m);
template <class Tr, template <class> class... New>
void add_class(Methods& m)
{
    (m.add<New<Tr>>(), ...);
    m.add<Delete<Tr>>();
    add_hooks<typename Tr::T>(m, Tr::name, sizeof...(New) > 0);
}

} // namespace qw
