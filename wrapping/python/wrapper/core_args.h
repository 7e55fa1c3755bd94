// Argument rules shared by every family that takes a data type or a
// capability set: objectToDataType and objectToFlagSet.
#pragma once

#include "quelbo/data_type.h"
#include "quelbo/flags.h"
#include "runtime/declare.h"
#include "runtime/wrap.h"

namespace qw {

// An argument given as an object of class T or as an int that stands for
// one. Both faces of such an argument kind read the object's form here, once.
enum class ObjectOrInt
{
    object,  // a handle of T (or of a type accepted as T)
    integer, // a Python int (bool included)
    other,
};

template <class T>
ObjectOrInt form_of(PyObject* o)
{
    if (o != Py_None && is_obj<T>(o))
        return ObjectOrInt::object;
    return PyLong_Check(o) ? ObjectOrInt::integer : ObjectOrInt::other;
}

// A copy of the object behind a handle of T.
template <class T>
bool copy_of(PyObject* o, const ArgId& a, T& out)
{
    T* p;
    if (!ref(o, a, p))
        return false;
    out = *p;
    return true;
}

// ---------------------------------------------------------- objectToDataType

// Check face (overload dispatch): a DataType handle, or an int (bool included).
inline bool is_dtype(PyObject* o)
{
    return o && form_of<quelbo::DataType>(o) != ObjectOrInt::other;
}

// Conversion face of a DataType parameter taken by value: a DataType handle
// gives a copy of its value; anything else is read by PyLong_AsLong, whose
// own error (TypeError, OverflowError) is left pending, and its 64 bits are
// the identifier.
inline bool dtype_arg(PyObject* o, const ArgId& a, quelbo::DataType& out)
{
    if (form_of<quelbo::DataType>(o) == ObjectOrInt::object)
        return copy_of(o, a, out);
    long v = PyLong_AsLong(o);
    if (v == -1 && PyErr_Occurred())
        return false;
    out = quelbo::DataType(static_cast<uint64_t>(v));
    return true;
}

// The argument kind of a data type taken by value.
template <auto Text = named<quelbo::DataType>>
struct DTypeArg : Kind<Text>
{
    using value = quelbo::DataType;
    static bool check(PyObject* o) { return is_dtype(o); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return dtype_arg(o, a, v); }
    static value& pass(value& v) { return v; }
};

// ----------------------------------------------------------- objectToFlagSet

// Check face of a capability-set parameter: a set handle of the class or an int.
template <class E>
bool is_flags(PyObject* o)
{
    return o && o != Py_None && form_of<quelbo::FlagSet<E>>(o) != ObjectOrInt::other;
}

// Conversion face: a handle of the set's own class, or an int whose signed
// 64-bit value gives the bits. None is RuntimeError, an int out of the signed
// 64-bit range OverflowError, anything else TypeError, each with the argument
// message.
template <class E>
bool flags_arg(PyObject* o, const ArgId& a, quelbo::FlagSet<E>& out)
{
    using Set = quelbo::FlagSet<E>;
    if (o == Py_None) {
        fail_arg(ERR_NULL, a);
        return false;
    }
    switch (form_of<Set>(o)) {
    case ObjectOrInt::object:
        return copy_of(o, a, out);
    case ObjectOrInt::integer: {
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (overflow || (v == -1 && PyErr_Occurred())) {
            PyErr_Clear();
            fail_arg(ERR_OVERFLOW, a);
            return false;
        }
        out = Set(static_cast<uint64_t>(v));
        return true;
    }
    default:
        fail_arg(ERR_TYPE, a);
        return false;
    }
}

// The argument kind of a capability set taken by value.
template <class E, auto Text>
struct FlagsArg : Kind<Text>
{
    using value = quelbo::FlagSet<E>;
    static bool check(PyObject* o) { return is_flags<E>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return flags_arg(o, a, v); }
    static value& pass(value& v) { return v; }
};

// ------------------------------------------------------------ plain setters

// The object of a non-const member given as a pointer: None is a null
// pointer, the module's constants are refused.
template <class T, auto Text>
struct PtrMut : Ptr<T, Text>
{
    static bool get(PyObject* o, const ArgId& a, T*& v) { return ptr_mut(o, a, v); }
};

// The left operand of an in-place operator: the object of a non-const
// member, kept with its handle so that the result can take the object over
// (inplace_result: the result owns it only if the left handle did, and
// reaches it through the handle that holds it otherwise).
template <class T, auto Text>
struct InPlaceSelf : SelfMut<T, Text>
{
    struct value
    {
        PyObject* handle;
        T* object;
        ArgId id;
        PyObject* result() const { return inplace_result(handle, object, type_of<T>(), &id); }
    };
    static bool get(PyObject* o, const ArgId& a, value& v)
    {
        v = {o, nullptr, a};
        return self_mut(o, a, v.object);
    }
    static value& pass(value& v) { return v; }
};

// ------------------------------------------------------------ plain getters

// <Tr::name>___eq__ / ___ne__ with another object of the class, taken as
// Tr::other_type (None raises the null-reference ValueError; another kind
// gives NotImplemented).
template <class Tr, bool Equal>
struct ObjectCompare
    : Declare<ObjectCompare<Tr, Equal>,
              Params<Self<typename Tr::T, &Tr::self_type>, Ref<typename Tr::T, &Tr::other_type>>>
{
    static const char* name()
    {
        static const char* fn = joined(Tr::name, Equal ? "___eq__" : "___ne__");
        return fn;
    }
    // Only the operator asked for is used (a class may lack operator!=).
    static constexpr auto call = [](const typename Tr::T* obj, const typename Tr::T& other) {
        if constexpr (Equal)
            return *obj == other;
        else
            return *obj != other;
    };
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

template <class Tr>
void add_object_compare(Methods& m)
{
    m.add<ObjectCompare<Tr, true>>();
    m.add<ObjectCompare<Tr, false>>();
}

} // namespace qw
