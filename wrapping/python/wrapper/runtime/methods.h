// The method table: the families' parts of it, the class hooks, and the
// texts kept for the module's life.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/types.h"

namespace qw {

// ============================================================ method table

// The form of flat function F that the module shows: F runs inside the call
// guard, and nothing native leaves it. Made per function at compile time.
template <auto F>
PyObject* guarded(PyObject* self, PyObject* args) noexcept
{
    CallGuard guard;
    try {
        return F(self, args);
    } catch (...) {
        return raise_native_exception();
    }
}

// A name written where it is used: QW_NAME("ImageView_get_shape") is a
// constant text that a template takes as its argument, so a function's name
// (or a member's, in a prototype line) stands on the line that registers it.
// C++17 takes only the address of an array as such an argument, never a
// literal: the macro spells the literal's characters into Name<...>, whose
// array is the one copy of that text in the module. At most 63 characters.
template <class I, char... C>
struct Name;
template <size_t... I, char... C>
struct Name<std::index_sequence<I...>, C...>
{
    static constexpr char all[] = {C...};
    static constexpr char text[] = {all[I]..., '\0'};
};
template <size_t N>
constexpr char name_char(const char (&s)[N], size_t i)
{
    return N > 64 ? throw "a name of at most 63 characters" : i < N ? s[i] : '\0';
}
#define QW_NAME_4(s, i)                                                                                                \
    ::qw::name_char(s, i), ::qw::name_char(s, i + 1), ::qw::name_char(s, i + 2), ::qw::name_char(s, i + 3)
#define QW_NAME_16(s, i) QW_NAME_4(s, i), QW_NAME_4(s, i + 4), QW_NAME_4(s, i + 8), QW_NAME_4(s, i + 12)
#define QW_NAME(s)                                                                                                     \
    (::qw::Name<std::make_index_sequence<sizeof(s) - 1>, QW_NAME_16(s, 0), QW_NAME_16(s, 16), QW_NAME_16(s, 32),       \
                QW_NAME_16(s, 48)>::text)

// A declaration's name: a constant, or a function making it once.
template <class D>
const char* name_of()
{
    if constexpr (std::is_function<std::remove_pointer_t<decltype(&D::name)>>::value)
        return D::name();
    else
        return D::name;
}

// A declaration that destroys objects of one type (a delete_ function)
// says how: `static constexpr NativeDelete native`.
template <class D, class = void>
struct HasNativeDelete : std::false_type
{
};
template <class D>
struct HasNativeDelete<D, std::void_t<decltype(D::native)>> : std::true_type
{
};

struct Methods
{
    std::vector<PyMethodDef> defs;
    std::vector<std::pair<PyCFunction, NativeDelete>> deletes;

    // m.add<&fn>("Name", METH_O, doc): fn(PyObject* module, PyObject* args).
    template <auto F>
    void add(const char* name, int flags, const char* doc = nullptr)
    {
        defs.push_back({name, &guarded<F>, flags, doc});
    }
    template <auto F>
    void add(const std::string& name, int flags, const char* doc = nullptr)
    {
        add<F>(intern(name), flags, doc);
    }
    // A declared function (runtime/declare.h): m.add<Decl>(), its docstring
    // the declaration's unless given.
    template <class D>
    void add(const char* doc = D::doc)
    {
        defs.push_back({name_of<D>(), &D::run, D::flags, doc});
        if constexpr (HasNativeDelete<D>::value)
            deletes.push_back({&D::run, D::native});
    }
};

// A family's part of the method table: `fn` adds its functions, in any
// order; create_module puts the module's table in the order of its list.
struct TablePartReg
{
    TablePartReg(TablePartFn fn) { declare_family(fn); }
};
#define QW_FAMILY(fn) static ::qw::TablePartReg QW_CAT(qw_family_, __COUNTER__)(fn)

PyObject* swigregister_for(swig_type_info* ty, PyObject* arg);
PyObject* swiginit(PyObject*, PyObject* args);

template <class T>
PyObject* swigregister(PyObject*, PyObject* arg)
{
    return swigregister_for(Type<T>::info, arg);
}

// Adds <cls>_swigregister and, when the class has a constructor, <cls>_swiginit.
template <class T>
void add_hooks(Methods& m, const std::string& cls, bool with_init = true)
{
    m.add<&swigregister<T>>(cls + "_swigregister", METH_O);
    if (with_init)
        m.add<&swiginit>(cls + "_swiginit", METH_VARARGS);
}

// ============================================================ texts

// A text kept for the module's life, joined from up to three parts: equal
// texts share one copy, so asking again allocates nothing (still, keep the
// result in a function-local static: `static const char* fn =
// joined("new_", Tr::name);`). Never throws.
inline const char* joined(const char* a, const char* b, const char* c = "")
{
    try {
        return intern(std::string(a) + b + c);
    } catch (...) {
        return a;
    }
}

} // namespace qw
