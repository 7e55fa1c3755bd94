// Flat functions declared once. A declaration names the function, its
// docstring, what it calls (a library member or a short lambda) and its
// argument kinds (runtime/converters.h); from it come the function in its
// guarded form, its argument numbers, its unpacking count, its calling form
// and, for an overloaded one, each candidate's prototype line. A library
// member is one line:
//
//   m.add<Fn<QW_NAME("ImageViewFactory_make_thread_safe"), &ImageViewFactory::makeThreadSafe, Image>>(doc);
//
// A call that needs a body is a struct with the same parts:
//
//   struct reinterpret_axes : Declare<reinterpret_axes, Params<Image, Dims<kDimensions>>> {
//       static constexpr const char* name = "ImageViewFactory_reinterpret_axes";
//       static constexpr const char* doc = "...";
//       static constexpr auto call = [](ViewPtr view, const std::vector<ImageDimension>& d) { ... };
//   };
//   m.add<reinterpret_axes>();
//
// The call's outcome becomes the result by its type (results()); a lambda
// that needs another result form returns the PyObject* itself.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "runtime/converters.h"
#include "runtime/methods.h"
#include "runtime/wrap.h"

namespace qw {

template <class... K>
struct Params
{
    using tuple = std::tuple<K...>;
    static constexpr Py_ssize_t count = sizeof...(K);
    // Argument numbers by native parameter, from 1: an argument filling two
    // native parameters shifts the ones after it.
    static constexpr std::array<int, sizeof...(K)> numbers = [] {
        std::array<int, sizeof...(K)> n{};
        int next = 1;
        size_t i = 0;
        ((n[i++] = next, next += K::width), ...);
        (void)next;
        (void)i;
        return n;
    }();
};

// ------------------------------------------------------------ names

// A declaration's name made from its class's traits, at compile time; the
// declaration takes it as its second base.
namespace text {
inline constexpr char separator[] = "_";
inline constexpr char new_prefix[] = "new_";
inline constexpr char delete_prefix[] = "delete_";
} // namespace text
// <Tr::name>_<Name>
template <class Tr, const char* Name>
struct MemberName
{
    static constexpr const char* name = JoinedText<&Tr::name, text::separator, Name>::text;
};
// new_<Tr::name>
template <class Tr>
struct NewName
{
    static constexpr const char* name = JoinedText<text::new_prefix, &Tr::name>::text;
};
// delete_<Tr::name>
template <class Tr>
struct DeleteName
{
    static constexpr const char* name = JoinedText<text::delete_prefix, &Tr::name>::text;
};

// ------------------------------------------------------------ results

template <class T>
struct IsSharedPtr : std::false_type
{
};
template <class T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type
{
};

// A call's outcome as the function's result: a PyObject* as made, a shared
// pointer as a shared handle (None when empty), scalars and strings by
// to_py, class values as owned heap copies with their proxy.
template <class R>
PyObject* to_result(R&& r)
{
    using Out = std::decay_t<R>;
    if constexpr (std::is_same<Out, PyObject*>::value)
        return r;
    else if constexpr (IsSharedPtr<Out>::value)
        return shared(std::const_pointer_cast<std::remove_const_t<typename Out::element_type>>(r));
    else if constexpr (std::is_arithmetic<Out>::value || std::is_enum<Out>::value ||
                       std::is_same<Out, std::string>::value)
        return to_py(std::forward<R>(r));
    else
        return value(std::forward<R>(r));
}

// Calls f with the converted arguments inside the library-call guard.
template <class F, class... A>
PyObject* call_with(F f, A&&... a)
{
    return call([&]() -> PyObject* {
        if constexpr (std::is_void<std::invoke_result_t<F, A...>>::value) {
            std::invoke(f, std::forward<A>(a)...);
            return none();
        } else {
            return to_result(std::invoke(f, std::forward<A>(a)...));
        }
    });
}

// A kind may keep part of its rule until every argument is converted:
// its `static bool verify(value&, const ArgId&)` (a required object refused
// only once the arguments after it are read; a buffer read again, which
// Python code run by a later conversion may have resized) runs, left to
// right, after the last conversion. A kind whose `settled_when_last` is true
// needs none as the last argument: no conversion runs after its own.
template <class K, class = void>
struct HasVerify : std::false_type
{
};
template <class K>
struct HasVerify<K, std::void_t<decltype(&K::verify)>> : std::true_type
{
};
template <class K, class = void>
struct SettledWhenLast : std::false_type
{
};
template <class K>
struct SettledWhenLast<K, std::enable_if_t<K::settled_when_last>> : std::true_type
{
};

template <class K, bool Last>
bool verified([[maybe_unused]] typename K::value& v, [[maybe_unused]] const ArgId& a)
{
    if constexpr (HasVerify<K>::value && !(Last && SettledWhenLast<K>::value))
        return K::verify(v, a);
    else
        return true;
}

// A declaration whose `still` re-checks an argument through its handle
// (`static bool this_once(Args)`, true for the arguments it checks) reads
// each argument's `this` once, as the candidates of an overloaded function
// do: the check then runs no Python code, which could change what the
// conversions gave once more.
template <class C, class = void>
struct ThisOnce : std::false_type
{
};
template <class C>
struct ThisOnce<C, std::void_t<decltype(C::this_once(Args()))>> : std::true_type
{
};

// The recognition of a declaration that reads each argument once, opened
// only when the call asks for it. Its room is left as it is until then (an
// empty std::optional would clear it all on every call).
class LaterRecognition
{
public:
    LaterRecognition() {}
    ~LaterRecognition()
    {
        if (open_)
            std::launder(reinterpret_cast<Recognised*>(room_))->~Recognised();
    }
    LaterRecognition(const LaterRecognition&) = delete;
    LaterRecognition& operator=(const LaterRecognition&) = delete;
    void open()
    {
        new (room_) Recognised;
        open_ = true;
    }

private:
    alignas(Recognised) unsigned char room_[sizeof(Recognised)];
    bool open_ = false;
};

// Converts the arguments of declaration C (name fn) left to right and calls
// it; compiled into the function's `run`, as are the conversions' common paths.
template <class C, class... K, size_t... I>
[[gnu::always_inline]] inline PyObject* convert_call([[maybe_unused]] const char* fn, [[maybe_unused]] Args a,
                                                     Params<K...>, std::index_sequence<I...>)
{
    // Room for a recognition only where the declaration may ask for one.
    [[maybe_unused]] std::conditional_t<ThisOnce<C>::value, LaterRecognition, std::tuple<>> once;
    if constexpr (ThisOnce<C>::value) {
        if (!running_recognition && C::this_once(a))
            once.open();
    }
    std::tuple<typename K::value...> v;
    if (!(K::get(a[I], ArgId{fn, Params<K...>::numbers[I], K::text}, std::get<I>(v)) && ...) ||
        !(verified<K, I + 1 == sizeof...(K)>(std::get<I>(v), ArgId{fn, Params<K...>::numbers[I], K::text}) && ...))
        return nullptr;
    if (!C::still(fn, a, std::get<I>(v)...))
        return nullptr;
    return call_with(C::call, K::pass(std::get<I>(v))...);
}

template <class C, class P>
[[gnu::always_inline]] inline PyObject* convert_call(const char* fn, Args a)
{
    return convert_call<C>(fn, a, P{}, std::make_index_sequence<P::count>{});
}

// ------------------------------------------------------------ one signature

// What a declaration (or a candidate) may replace:
//   still(fn, a, values...)  runs once every argument is converted, before the
//                            call: Python code run by a later conversion may
//                            have changed what an earlier one gave (false:
//                            the message is set);
//   failed(args)             runs when the call gives no result, with the
//                            arguments as received (it may change the error);
//   outcome(r)               the result, or what a failure becomes (an
//                            operator's notImplementedRule).
struct Hooks
{
    template <class... V>
    static bool still(const char*, Args, V&...)
    {
        return true;
    }
    static void failed(PyObject*) {}
    static PyObject* outcome(PyObject* r) { return r; }
};

// The guarded form of every declaration: body (the result, or nullptr with
// the message set) runs inside the call guard, a native exception escaping
// it becomes a Python one, and the hooks finish the outcome.
template <class D, class F>
PyObject* guarded_run(PyObject* args, F body) noexcept
{
    CallGuard guard;
    try {
        PyObject* r = body();
        if (!r)
            D::failed(args);
        return D::outcome(r);
    } catch (...) {
        return raise_native_exception();
    }
}

// The calling form follows the count: none METH_NOARGS, one METH_O, more METH_VARARGS.
template <class D, class P>
struct Declare : Hooks
{
    static constexpr const char* doc = nullptr;
    static constexpr int flags = P::count == 0 ? METH_NOARGS : P::count == 1 ? METH_O : METH_VARARGS;

    static PyObject* run(PyObject*, PyObject* args) noexcept
    {
        return guarded_run<D>(args, [args]() -> PyObject* {
            const char* fn = name_of<D>();
            if constexpr (P::count == 1)
                return convert_call<D, P>(fn, &args);
            PyObject* a[P::count ? P::count : 1];
            if (!unpack(fn, args, P::count, P::count, a))
                return nullptr;
            return convert_call<D, P>(fn, a);
        });
    }
};

// A declaration in one line, for a call that needs no body:
//   m.add<Fn<QW_NAME("Class_member"), &Lib::member, Kinds...>>(doc);
template <const char* Name, auto Call, class... K>
struct Fn : Declare<Fn<Name, Call, K...>, Params<K...>>
{
    static constexpr const char* name = Name;
    static constexpr auto call = Call;
};

// ------------------------------------------------------------ overloads

// One candidate of an overloaded function:
//   struct one : Candidate<Params<...>, 1> {             // 1: its place in the message
//       static constexpr const char* member = "quelbo::ImageViewFactory::interlace";  // or member()
//       static constexpr auto call = ...;
//   };
// Its prototype line is the member and the listed kinds' texts.
template <class P, int Decl = -1>
struct Candidate : Hooks
{
    using params = P;
    static constexpr int decl = Decl;
    static constexpr const char* suffix = "";
};

template <class... K>
std::string prototype_args(Params<K...>)
{
    std::string s;
    ((K::listed ? (s += (s.empty() ? "" : ","), s += K::text, 0) : 0), ...);
    return s;
}

// A candidate's member: a constant, or a function making it once.
inline const char* member_text(const char* member)
{
    return member;
}
inline const char* member_text(const char* (*make)())
{
    return make();
}

template <class C>
const char* prototype()
{
    return intern(std::string(member_text(C::member)) + "(" + prototype_args(typename C::params{}) + ")" + C::suffix);
}

template <class C, class... K, size_t... I>
bool candidate_fits(Args a, Params<K...>, std::index_sequence<I...>)
{
    return (K::check(a[I]) && ...);
}

template <class D, class C>
struct Row
{
    using P = typename C::params;
    static bool check(Args a, Py_ssize_t) { return candidate_fits<C>(a, P{}, std::make_index_sequence<P::count>{}); }
    static PyObject* call(Args a, Py_ssize_t) { return convert_call<C, P>(name_of<D>(), a); }
    static Overload row() { return {prototype<C>(), P::count, P::count, &check, &call, C::decl}; }
};

// A candidate listed in the message but never taken (a move constructor
// that the copy before it always takes first): ListedOnly<C>, C a Candidate
// with its member and kinds but no call.
template <class C>
struct ListedOnly
{
};

template <class D, class C>
struct Row<D, ListedOnly<C>>
{
    using P = typename C::params;
    static Overload row() { return {prototype<C>(), P::count, P::count, listed_only, nullptr, C::decl}; }
};

// struct interlace : DeclareOverloads<interlace, one, three> { name; doc; };
template <class D, class... C>
struct DeclareOverloads : Hooks
{
    static constexpr const char* doc = nullptr;
    static constexpr int flags = METH_VARARGS;

    static const Overloads& rows()
    {
        static const Overloads r(name_of<D>(), {Row<D, C>::row()...});
        return r;
    }

    static PyObject* run(PyObject*, PyObject* args) noexcept
    {
        return guarded_run<D>(args, [args] { return rows()(args); });
    }
};

// An argument's handle, looked up once and held for the call; the object
// itself when it leads to no handle.
class Operand
{
public:
    explicit Operand(PyObject* o) : held_(handle_or(o)) {}
    PyObject* get() const { return held_.get(); }

private:
    static PyObject* handle_or(PyObject* o)
    {
        SwigPyObject* h = find_handle(o);
        return h ? reinterpret_cast<PyObject*>(h) : o;
    }
    Held held_;
};

// The class of the object that candidate C takes at argument At (from 0).
template <class C, size_t At>
using ClassAt = std::remove_pointer_t<typename std::tuple_element_t<At, typename C::params::tuple>::value>;

// An overloaded function whose candidates each take, at argument At (from
// 0), an object of a class of their own, of no other: a single handle of
// one of these classes fits its class's candidate or none, so that row
// alone is tried. Other arguments go through every row.
template <class D, size_t At, class... C>
struct DeclareByClass : DeclareOverloads<D, C...>
{
    static constexpr Py_ssize_t count = std::tuple_element_t<0, std::tuple<C...>>::params::count;
    static_assert(((C::params::count == count) && ...), "candidates of one count");

    static PyObject* dispatch(PyObject* args)
    {
        static swig_type_info** const types[] = {&Type<ClassAt<C, At>>::info...};
        const Overloads& rows = DeclareOverloads<D, C...>::rows();
        if (PyTuple_Size(args) != count)
            return rows(args);
        PyObject* a[count];
        for (Py_ssize_t i = 0; i < count; ++i)
            a[i] = PyTuple_GetItem(args, i);
        Operand held(a[At]);
        a[At] = held.get();
        if (is_handle(a[At]) && !reinterpret_cast<SwigPyObject*>(a[At])->next) {
            swig_type_info* ty = reinterpret_cast<SwigPyObject*>(a[At])->ty;
            for (size_t i = 0; i < sizeof...(C); ++i) {
                if (*types[i] == ty) {
                    const Overload& row = rows.row(i);
                    return row.check(a, count) ? row.call(a, count) : rows(a, count);
                }
            }
        }
        return rows(a, count);
    }

    static PyObject* run(PyObject*, PyObject* args) noexcept
    {
        return guarded_run<D>(args, [args] { return dispatch(args); });
    }
};

// ------------------------------------------------------------ getters

// <Tr::name>_<Name>(object): a member without arguments of the object that
// kind S converts (a plain, shared or read-only wrapper object); the
// member's result by to_result.
template <class Tr, const char* Name, class S, auto Member>
struct Getter : Declare<Getter<Tr, Name, S, Member>, Params<S>>, MemberName<Tr, Name>
{
    static constexpr auto call = Member;
};

// <Tr::name>_<Name>(self) for a const member without arguments; the object
// is converted as Tr::self_type.
template <class Tr, const char* Name, auto Member>
void add_const_getter(Methods& m, const char* doc = nullptr)
{
    m.add<Getter<Tr, Name, Self<typename Tr::T, &Tr::self_type>, Member>>(doc);
}

// <name>_<Name>(object) for a member of a shared class; the object is
// converted as Tr::self_type (Tr::mut_type for a non-const member) and held
// for the call.
template <class Tr, bool Const>
constexpr const char* const* object_text()
{
    if constexpr (Const)
        return &Tr::self_type;
    else
        return &Tr::mut_type;
}
template <class Tr, const char* Name, auto Member, bool Const = true>
void add_shared_getter(Methods& m, const char* doc = nullptr)
{
    m.add<Getter<Tr, Name, SharedSelf<typename Tr::T, object_text<Tr, Const>()>, Member>>(doc);
}

// ------------------------------------------------------------ defaults

// A function whose arguments after the first Min may be left out (native
// default arguments): the count message gives the range, and the kind of a
// missing argument receives a null object (its get gives the default).
// Always METH_VARARGS.
template <class D, class P, Py_ssize_t Min>
struct DeclareDefaults : Declare<D, P>
{
    static_assert(Min < P::count, "an argument may be left out");
    static constexpr int flags = METH_VARARGS;

    static PyObject* run(PyObject*, PyObject* args) noexcept
    {
        return guarded_run<D>(args, [args]() -> PyObject* {
            const char* fn = name_of<D>();
            PyObject* a[P::count];
            if (!unpack(fn, args, Min, P::count, a))
                return nullptr;
            return convert_call<D, P>(fn, a);
        });
    }
};

} // namespace qw
