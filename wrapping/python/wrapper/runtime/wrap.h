// Typed building blocks of the flat functions: argument converters (each with
// a check face for overload dispatch and a conversion face that reports the
// exact message), result conversions, the library-call guard, type
// declarations and method-table registration.
#pragma once

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "order.h"
#include "quelbo/error.h"
#include "runtime/methods.h"
#include "runtime/pyrt.h"
#include "type_list.h"

namespace qw {

// ============================================================ type entries

// The type-table entry in use for a native type (set when the module joins
// the shared table: the module's own entry, or the one another module
// already entered under the same mangled name).
template <class T>
struct Type
{
    static inline swig_type_info* info = nullptr;
};

template <class T>
inline swig_type_info* type_of()
{
    return Type<T>::info;
}

// Declares a type entry from its row of type_list.h (QW_TYPE), or, for a
// type that exists only in a test module, from its own texts (QW_TEST_TYPE).
template <class T>
struct TypeDef
{
    swig_type_info entry;
    TypeDef(const TypeRow& row) : TypeDef(row.mangled, row.str) {}
    TypeDef(const char* mangled, const char* str) : entry{mangled, str, nullptr, nullptr, nullptr, 0}
    {
        Type<T>::info = &entry;
        declare_type({&entry, &Type<T>::info});
    }
};

#define QW_CAT2(a, b) a##b
#define QW_CAT(a, b) QW_CAT2(a, b)
// QW_TYPE(quelbo::Logger, "_p_quelbo__Logger"): the texts are the list's.
#define QW_TYPE(T, mangled) static ::qw::TypeDef<T> QW_CAT(qw_type_, __LINE__)(QW_LISTED(mangled))
#define QW_TEST_TYPE(T, mangled, str) static ::qw::TypeDef<T> QW_CAT(qw_type_, __LINE__)(mangled, str)

// Same-address cast: Derived* is accepted where Base* is expected.
template <class Base, class Derived>
struct CastDef
{
    CastDef() { declare_cast({&Type<Base>::info, Type<Derived>::info, nullptr}); }
};
#define QW_CAST(Base, Derived) static ::qw::CastDef<Base, Derived> QW_CAT(qw_cast_, __LINE__)

// Shared-pointer cast: a new heap shared_ptr<Base> sharing ownership.
template <class Base, class Derived>
struct SharedCastDef
{
    static void* convert(void* p, int* newmem)
    {
        *newmem = NEWMEM;
        return new std::shared_ptr<Base>(*static_cast<std::shared_ptr<Derived>*>(p));
    }
    SharedCastDef()
    {
        declare_cast({&Type<std::shared_ptr<Base>>::info, Type<std::shared_ptr<Derived>>::info, &convert});
    }
};
#define QW_SHARED_CAST(Base, Derived) static ::qw::SharedCastDef<Base, Derived> QW_CAT(qw_scast_, __LINE__)

// ============================================================ method table

// A family's part of the method table: `add` adds its functions, `order` (a
// place of order.h) places them; create_module assembles the parts in
// ascending order, each part's functions in the order it adds them.
using TablePartFn = void (*)(Methods&);
struct TablePart
{
    int order;
    TablePartFn fn;
};
std::vector<TablePart>& families();
struct TablePartReg
{
    TablePartReg(int order, TablePartFn fn) { families().push_back({order, fn}); }
};
#define QW_FAMILY(order, fn) static ::qw::TablePartReg QW_CAT(qw_family_, __LINE__)(order, fn)

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

// ================================================================= guard

// Runs a library call; a thrown library error becomes the registered Error
// class, exhausted memory MemoryError, anything else RuntimeError. Nothing
// native leaves a flat function.
template <class F>
PyObject* call(F&& f) noexcept
{
    try {
        return f();
    } catch (...) {
        return raise_native_exception();
    }
}

// ============================================================ scalars

inline PyObject* none()
{
    Py_RETURN_NONE;
}

// Integers: 0 on success, ERR_TYPE for a non-int, ERR_OVERFLOW out of range.
template <class T>
int as_int(PyObject* o, T& out)
{
    static_assert(std::is_integral<T>::value, "integer type");
    if (!PyLong_Check(o))
        return ERR_TYPE;
    if constexpr (std::is_signed<T>::value) {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (overflow || (v == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            return ERR_OVERFLOW;
        }
        if (v < (long long)std::numeric_limits<T>::min() || v > (long long)std::numeric_limits<T>::max())
            return ERR_OVERFLOW;
        out = T(v);
    } else {
        unsigned long long v = PyLong_AsUnsignedLongLong(o);
        if (v == (unsigned long long)-1 && PyErr_Occurred()) {
            PyErr_Clear();
            return ERR_OVERFLOW;
        }
        if (v > (unsigned long long)std::numeric_limits<T>::max())
            return ERR_OVERFLOW;
        out = T(v);
    }
    return OK;
}

// Doubles: a float, or an int that fits a double.
inline int as_double(PyObject* o, double& out)
{
    if (PyFloat_Check(o)) {
        out = PyFloat_AsDouble(o);
        return OK;
    }
    if (PyLong_Check(o)) {
        double v = PyLong_AsDouble(o);
        if (v == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return ERR_TYPE;
        }
        out = v;
        return OK;
    }
    return ERR_TYPE;
}

inline int as_float(PyObject* o, float& out)
{
    double d;
    int r = as_double(o, d);
    if (r != OK)
        return r;
    if (std::isfinite(d) && (d < -3.4028234663852886e38 || d > 3.4028234663852886e38))
        return ERR_OVERFLOW;
    out = float(d);
    return OK;
}

inline int as_bool(PyObject* o, bool& out)
{
    if (!PyBool_Check(o))
        return ERR_TYPE;
    out = o == Py_True;
    return OK;
}

// Strings: a str (UTF-8) or a handle of the wrapped `char *`; None gives ERR_NULL.
int as_string(PyObject* o, std::string& out);

// The scalar converter of a native type: check and conversion.
template <class T, class Enable = void>
struct Scalar;

template <>
struct Scalar<bool>
{
    static int get(PyObject* o, bool& v) { return as_bool(o, v); }
};
template <>
struct Scalar<double>
{
    static int get(PyObject* o, double& v) { return as_double(o, v); }
};
template <>
struct Scalar<float>
{
    static int get(PyObject* o, float& v) { return as_float(o, v); }
};
template <class T>
struct Scalar<T, std::enable_if_t<std::is_integral<T>::value && !std::is_same<T, bool>::value>>
{
    static int get(PyObject* o, T& v) { return as_int(o, v); }
};
// Enumerations travel as 32-bit ints; any value in range is passed on.
template <class T>
struct Scalar<T, std::enable_if_t<std::is_enum<T>::value>>
{
    static int get(PyObject* o, T& v)
    {
        int32_t i = 0;
        int r = as_int(o, i);
        if (r == OK)
            v = static_cast<T>(i);
        return r;
    }
};
template <>
struct Scalar<std::string>
{
    static int get(PyObject* o, std::string& v) { return as_string(o, v); }
};

// Converts a scalar argument; on failure sets the argument message.
template <class T>
bool arg(PyObject* o, const ArgId& a, T& out)
{
    int r = Scalar<T>::get(o, out);
    if (r == OK)
        return true;
    if (r == ERR_NULL)
        fail_null(a);
    else
        fail_arg(r, a);
    return false;
}

// Check face of a scalar (overload dispatch): converts into a scratch value.
// A string check lets None pass: the chosen candidate's conversion then
// raises the null-reference ValueError of its `std::string const &`.
template <class T>
bool is(PyObject* o)
{
    T scratch{};
    if (!o)
        return false;
    int r = Scalar<T>::get(o, scratch);
    return r == OK || (std::is_same<T, std::string>::value && r == ERR_NULL);
}

// A string check that refuses None, for the overloads whose text is a key
// that must be given (None then ends in the overload TypeError).
inline bool is_text(PyObject* o)
{
    return o != Py_None && is<std::string>(o);
}

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

// A method's object: like a pointer, but a missing object (None, or a handle
// whose object was moved away) is refused before any library call.
template <class T>
bool self(PyObject* o, const ArgId& a, T*& out)
{
    if (!ptr(o, a, out))
        return false;
    if (!out) {
        fail_null(a);
        return false;
    }
    return true;
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
    if (!p) {
        fail_null(a);
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

// Deletes an object the module took over (deleted, or moved from).
template <class T>
void dispose(T* p)
{
    if (p)
        destroy_or_defer(p, [](void* q) { delete static_cast<T*>(q); });
}

// delete_<cls>: takes ownership away and destroys what the handle owned.
// A handle that did not own (borrowed, moved from, disowned) destroys
// nothing; the handle never keeps a pointer to a destroyed object.
bool disown_for_delete(PyObject* o, swig_type_info* ty, const ArgId& a, void*& out);

template <class T>
PyObject* destroy(PyObject* o, const ArgId& a)
{
    void* p = nullptr;
    if (!disown_for_delete(o, type_of<T>(), a, p))
        return nullptr;
    dispose(static_cast<T*>(p));
    Py_RETURN_NONE;
}

// ============================================================ results

template <class T>
PyObject* to_py(T v)
{
    if constexpr (std::is_same<T, bool>::value)
        return PyBool_FromLong(v);
    else if constexpr (std::is_enum<T>::value)
        return PyLong_FromLong(long(v));
    else if constexpr (std::is_floating_point<T>::value)
        return PyFloat_FromDouble(double(v));
    else if constexpr (std::is_signed<T>::value)
        return PyLong_FromLongLong((long long)v);
    else
        return PyLong_FromUnsignedLongLong((unsigned long long)v);
}
inline PyObject* to_py(const std::string& s)
{
    return from_string(s);
}
inline PyObject* to_py(std::string&& s)
{
    return from_string(std::move(s));
}

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
    return owned(new V(std::forward<T>(v)));
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

namespace qw {

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

// Generic members of a registered class described by a traits struct:
//   struct Tr { using T = quelbo::Logger; static constexpr const char* name = "Logger";
//               static constexpr const char* native = "quelbo::Logger"; };
template <class Tr>
struct ClassOps
{
    using T = typename Tr::T;

    // new_<name>() for a default-constructible class (no-argument form).
    static PyObject* new_default(PyObject*, PyObject*)
    {
        return call([] { return constructed(new T()); });
    }

    // delete_<name>(handle)
    static PyObject* del(PyObject*, PyObject* o)
    {
        static const ArgId a{joined("delete_", Tr::name), 1, joined(Tr::native, " *")};
        return destroy<T>(o, a);
    }

    // Registers the hooks, then new_ (when given) and delete_.
    // ClassOps<Tr>::add(m), or ClassOps<Tr>::add<&ctor>(m, ctor_flags).
    template <auto Ctor = nullptr>
    static void add(Methods& m, int ctor_flags = METH_NOARGS)
    {
        if constexpr (Ctor != nullptr)
            m.add<Ctor>(std::string("new_") + Tr::name, ctor_flags);
        m.add<&del>(std::string("delete_") + Tr::name, METH_O);
        add_hooks<T>(m, Tr::name, Ctor != nullptr);
    }
};

} // namespace qw

namespace qw {

// ============================================================ overloads

// An overloaded function is a list of rows, one per candidate. Dispatch tries
// the rows in the order they are listed (the function's fixed candidate
// order); when none fits, the overload message lists the same rows' prototypes
// in declaration order. The check face converts nothing and sets no error; the
// call face converts (reporting its own argument messages) and calls the
// library. A row is picked by its argument count first, then by its check.
using Args = PyObject* const*;
struct Overload
{
    const char* proto;                       // prototype text, as the message shows it
    Py_ssize_t min, max;                     // argument counts the candidate takes
    bool (*check)(Args a, Py_ssize_t n);     // null: the count alone decides
    PyObject* (*call)(Args a, Py_ssize_t n); // converts, calls, returns the result
    int decl = -1;                           // place in the message; -1: the row's own place
};

// The check of a row that is listed in the message but never taken (a move
// candidate that the copy before it always takes first): `{proto, 1, 1,
// listed_only, nullptr, place}`.
inline bool listed_only(Args, Py_ssize_t)
{
    return false;
}

class Overloads
{
public:
    Overloads(const char* fn, std::initializer_list<Overload> rows);
    // Unpacks, dispatches to the first fitting row, or raises the overload
    // TypeError (merged into a pending count TypeError).
    PyObject* operator()(PyObject* args) const;
    // Dispatches arguments the caller has unpacked already (n of them).
    PyObject* operator()(Args a, Py_ssize_t n) const;
    const char* name() const { return fn_; }
    // The i-th row in candidate order.
    const Overload& row(size_t i) const { return rows_[i]; }

private:
    const char* fn_;
    std::vector<Overload> rows_;
    Py_ssize_t max_ = 0;
    std::string message_; // the overload message, built once
};

} // namespace qw
