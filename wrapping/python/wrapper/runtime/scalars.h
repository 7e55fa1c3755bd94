// The library-call guard and the scalar arguments and results: ints, floats,
// bools, enums and strings (check face, conversion face, result).
#pragma once

#include <cmath>
#include <limits>
#include <string>
#include <type_traits>
#include <utility>

#include "runtime/pyrt.h"

namespace qw {

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

// An int or a float: the exact types are told apart inline, without the
// call for the type's flags that the limited API makes of PyLong_Check.
inline bool int_object(PyObject* o)
{
    return PyLong_CheckExact(o) || PyLong_Check(o);
}
inline bool float_object(PyObject* o)
{
    return PyFloat_CheckExact(o) || PyFloat_Check(o);
}

// Integers: 0 on success, ERR_TYPE for a non-int, ERR_OVERFLOW out of range.
template <class T>
[[gnu::always_inline]] inline int as_int(PyObject* o, T& out)
{
    static_assert(std::is_integral<T>::value, "integer type");
    if (!int_object(o))
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
    if (float_object(o)) {
        out = PyFloat_AsDouble(o);
        return OK;
    }
    if (int_object(o)) {
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
[[gnu::always_inline]] inline bool arg(PyObject* o, const ArgId& a, T& out)
{
    int r = Scalar<T>::get(o, out);
    if (__builtin_expect(r == OK, 1))
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

// ============================================================ results

// Scalar results.
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

} // namespace qw
