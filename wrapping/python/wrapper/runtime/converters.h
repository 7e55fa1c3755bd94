// Argument kinds: one type per kind of parameter. Each carries the declared
// type text of its messages and prototypes, the number of native parameters
// it fills, and both faces: `check` (overload dispatch: converts nothing,
// sets no error) and `get` (converts, or sets the exact message).
//
//   struct Kind {
//       using value = ...;                     // what the conversion fills
//       static constexpr const char* text;      // declared native type
//       static constexpr int width;             // native parameters it fills
//       static constexpr bool listed;           // shown in a prototype (not a method's object)
//       static bool check(PyObject* o);
//       static bool get(PyObject* o, const ArgId& a, value& v);
//       static decltype(auto) pass(value& v);   // what the library receives
//       // optional: the rest of the rule, once every argument is converted
//       static bool verify(const value& v, const ArgId& a);
//   };
//
// Family-specific kinds sit beside their rules (core_args.h, readonly/readonly_args.h).
#pragma once

#include <array>
#include <memory>
#include <string>
#include <utility>

#include "runtime/item_parser.h"
#include "runtime/shared.h"
#include "runtime/type_text.h"
#include "runtime/wrap.h"

namespace qw {

// Declared type texts used by many functions.
namespace text {
inline constexpr char size[] = "size_t";
inline constexpr char boolean[] = "bool";
inline constexpr char real[] = "double";
inline constexpr char string_ref[] = "std::string const &";
inline constexpr char u64[] = "uint64_t";
inline constexpr char i64[] = "int64_t";
inline constexpr char integer[] = "int";
inline constexpr char object[] = "PyObject *";
} // namespace text

// The text, width and prototype presence of a kind.
template <auto Text, int Width = 1, bool Listed = true>
struct Kind
{
    static constexpr const char* text = text_of(Text);
    static constexpr int width = Width;
    static constexpr bool listed = Listed;
};

// A scalar or string taken by value (ints range-checked, strict bool, enums as int32).
template <class T, auto Text = named<T>>
struct Arg : Kind<Text>
{
    using value = T;
    static bool check(PyObject* o) { return is<T>(o); }
    [[gnu::always_inline]] static bool get(PyObject* o, const ArgId& a, T& v) { return arg(o, a, v); }
    static T& pass(T& v) { return v; }
};

// A reference or by-value object: None refused with the null-reference text.
template <class T, auto Text = named<const T&>>
struct Ref : Kind<Text>
{
    using value = T*;
    static bool check(PyObject* o) { return is_obj<T>(o); }
    static bool get(PyObject* o, const ArgId& a, T*& v) { return ref(o, a, v); }
    static T& pass(T* v) { return *v; }
};

// A move parameter (T&&): the object is taken away from its handle and
// disposed of once the call is over.
template <class T>
struct Taken
{
    T* p = nullptr;
    Taken() = default;
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;
    ~Taken() { dispose(p); }
};
template <class T, auto Text = named<T&&>>
struct Released : Kind<Text>
{
    using value = Taken<T>;
    static bool check(PyObject* o) { return is_obj<T>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return release(o, a, v.p); }
    static T&& pass(value& v) { return std::move(*v.p); }
};

// A pointer parameter: None is a null pointer.
template <class T, auto Text>
struct Ptr : Kind<Text>
{
    using value = T*;
    static bool check(PyObject* o) { return is_obj<T>(o, true); }
    static bool get(PyObject* o, const ArgId& a, T*& v) { return ptr(o, a, v); }
    static T* pass(T* v) { return v; }
};

// A method's object (argument 1): a missing object is refused.
template <class T, auto Text = named<const T*>>
struct Self : Kind<Text, 1, false>
{
    using value = T*;
    // A pointer parameter: None passes the check, and its conversion refuses it.
    static bool check(PyObject* o) { return is_obj<T>(o, true); }
    static bool get(PyObject* o, const ArgId& a, T*& v) { return self(o, a, v); }
    static T* pass(T* v) { return v; }
};

// The object of a non-const method: the module's constants are refused too.
template <class T, auto Text = named<T*>>
struct SelfMut : Self<T, Text>
{
    static bool get(PyObject* o, const ArgId& a, T*& v) { return self_mut(o, a, v); }
};

// A shared-pointer parameter: None is empty, a derived handle through its cast.
template <class T, auto Text = named<std::shared_ptr<T>>>
struct SharedArg : Kind<Text>
{
    using value = std::shared_ptr<T>;
    static bool check(PyObject* o) { return is_shared<T>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v) { return shared_arg(o, a, v); }
    static value& pass(value& v) { return v; }
};

// The object of a method of a shared class: an empty one is refused.
template <class T, auto Text = named<std::shared_ptr<T>>>
struct SharedSelf : SharedArg<T, Text>
{
    using value = HeldObject<T>;
    static constexpr bool listed = false;
    [[gnu::always_inline]] static bool get(PyObject* o, const ArgId& a, value& v) { return shared_self(o, a, v); }
    static T* pass(value& v) { return v.object; }
};

// A vector parameter given as a Python sequence (its messages are the
// sequence rule's own).
template <class V, auto Text = named<const V&>>
struct Seq : Kind<Text>
{
    using value = V;
    static bool check(PyObject* o) { return is_seq(o); }
    static bool get(PyObject* o, const ArgId&, V& v) { return sequence_to_vector(o, v); }
    static V& pass(V& v) { return v; }
};

// Whether instances of the Python class t tell their length, looked up
// without running Python code.
inline bool sized_class(PyTypeObject* t)
{
    return (PyType_GetFlags(t) & Py_TPFLAGS_HEAPTYPE) &&
           (PyType_GetSlot(t, Py_sq_length) || PyType_GetSlot(t, Py_mp_length));
}

// The vector of a proxy instance of V's own registered class that is a
// sized sequence (its items are the vector's elements), or null for any
// other object: an instance of a derived class, whose items may be its own,
// a bare handle, which is no sequence, an instance of a class without a
// length, which no sequence conversion takes, or one reaching no vector.
template <class V>
const V* wrapped_vector(PyObject* o)
{
    auto* data = static_cast<SwigPyClientData*>(type_of<V>()->clientdata);
    if (!data || data->klass != reinterpret_cast<PyObject*>(Py_TYPE(o)) || !PySequence_Check(o) ||
        !sized_class(Py_TYPE(o)))
        return nullptr;
    void* p = nullptr;
    return convert_ptr(o, &p, type_of<V>(), 0) == OK ? static_cast<const V*>(p) : nullptr;
}

// A vector operand (a constant vector reference) given as a Python
// sequence: a wrapped vector of the operand's own class is read where it
// lies, with the values its items would give; any other sequence is
// converted as by Seq.
template <class V, auto Text = named<const V&>>
struct VectorOperand : Kind<Text>
{
    struct value
    {
        V converted;
        const V* vector = nullptr;
    };
    static bool check(PyObject* o) { return is_seq(o); }
    static bool get(PyObject* o, const ArgId&, value& v)
    {
        if ((v.vector = wrapped_vector<V>(o)))
            return true;
        v.vector = &v.converted;
        return sequence_to_vector(o, v.converted);
    }
    static const V& pass(value& v) { return *v.vector; }
};

// Any object, taken as it is (the function reads it itself).
template <auto Text>
struct Object : Kind<Text>
{
    using value = PyObject*;
    static bool check(PyObject* o) { return o != nullptr; }
    static bool get(PyObject* o, const ArgId&, PyObject*& v)
    {
        v = o;
        return true;
    }
    static PyObject* pass(PyObject* v) { return v; }
};

} // namespace qw
