// Flat functions declared once. A declaration names the function, its
// docstring, what it calls (a library member or a short lambda) and its
// argument kinds (runtime/converters.h); from it come the function in its
// guarded form, its argument numbers, its unpacking count, its calling form
// and, for an overloaded one, each candidate's prototype line:
//
//   struct make_thread_safe : Declare<make_thread_safe, Params<SharedArg<ImageView, kImage>>> {
//       static constexpr const char* name = "ImageViewFactory_make_thread_safe";
//       static constexpr const char* doc = "...";
//       static constexpr auto call = &ImageViewFactory::makeThreadSafe;
//   };
//   m.add<make_thread_safe>();
//
// The call's outcome becomes the result by its type (results()); a lambda
// that needs another result form returns the PyObject* itself.
#pragma once

#include <array>
#include <functional>
#include <memory>
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

// ------------------------------------------------------------ results

inline PyObject* to_result(PyObject* r)
{
    return r;
}
template <class T>
PyObject* to_result(std::shared_ptr<T> p)
{
    return shared(std::move(p));
}
template <class T, class = std::enable_if_t<std::is_arithmetic<T>::value || std::is_enum<T>::value>>
PyObject* to_result(T v)
{
    return to_py(v);
}
inline PyObject* to_result(std::string&& s)
{
    return to_py(std::move(s));
}
inline PyObject* to_result(const std::string& s)
{
    return to_py(s);
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

// Converts the arguments of declaration C (name fn) left to right and calls it.
template <class C, class... K, size_t... I>
PyObject* convert_call(const char* fn, Args a, Params<K...>, std::index_sequence<I...>)
{
    std::tuple<typename K::value...> v;
    if (!(K::get(a[I], ArgId{fn, Params<K...>::numbers[I], K::text}, std::get<I>(v)) && ...))
        return nullptr;
    return call_with(C::call, K::pass(std::get<I>(v))...);
}

template <class C, class P>
PyObject* convert_call(const char* fn, Args a)
{
    return convert_call<C>(fn, a, P{}, std::make_index_sequence<P::count>{});
}

// ------------------------------------------------------------ one signature

// The calling form follows the count: none METH_NOARGS, one METH_O, more METH_VARARGS.
template <class D, class P>
struct Declare
{
    static constexpr const char* doc = nullptr;
    static constexpr int flags = P::count == 0 ? METH_NOARGS : P::count == 1 ? METH_O : METH_VARARGS;
    // An operator's rule (notImplementedRule) replaces this.
    static PyObject* outcome(PyObject* r) { return r; }

    static PyObject* run(PyObject*, PyObject* args) noexcept
    {
        CallGuard guard;
        try {
            if constexpr (P::count == 1)
                return D::outcome(convert_call<D, P>(D::name, &args));
            PyObject* a[P::count ? P::count : 1];
            if (!unpack(D::name, args, P::count, P::count, a))
                return D::outcome(nullptr);
            return D::outcome(convert_call<D, P>(D::name, a));
        } catch (...) {
            return raise_native_exception();
        }
    }
};

// ------------------------------------------------------------ overloads

// One candidate of an overloaded function:
//   struct one : Candidate<Params<...>, 1> {             // 1: its place in the message
//       static constexpr const char* member = "quelbo::ImageViewFactory::interlace";
//       static constexpr auto call = ...;
//   };
// Its prototype line is the member and the listed kinds' texts.
template <class P, int Decl = -1>
struct Candidate
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

template <class C>
const char* prototype()
{
    return intern(std::string(C::member) + "(" + prototype_args(typename C::params{}) + ")" + C::suffix);
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
    static PyObject* call(Args a, Py_ssize_t) { return convert_call<C, P>(D::name, a); }
    static Overload row() { return {prototype<C>(), P::count, P::count, &check, &call, C::decl}; }
};

// struct interlace : DeclareOverloads<interlace, one, three> { name; doc; };
template <class D, class... C>
struct DeclareOverloads
{
    static constexpr const char* doc = nullptr;
    static constexpr int flags = METH_VARARGS;
    static PyObject* outcome(PyObject* r) { return r; }

    static PyObject* run(PyObject*, PyObject* args) noexcept
    {
        CallGuard guard;
        try {
            static const Overloads rows(D::name, {Row<D, C>::row()...});
            return D::outcome(rows(args));
        } catch (...) {
            return raise_native_exception();
        }
    }
};

} // namespace qw
