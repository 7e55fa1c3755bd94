// The arithmetic and comparison operators of the 40 vector classes: binary
// and in-place +, -, *, /, the six comparisons, and the free scalar-times-
// vector __mul__. Each operator kind is declared once here, over the class
// traits of vectors.h; QW_VECTOR_OPS registers the operators of the four
// classes of one element type, each source file one element type.
#pragma once

#include <type_traits>

#include "vectors.h"

namespace qw {
namespace vector_ops {

// ------------------------------------------------------------ operator kinds

// Arithmetic: the Python names of the binary and in-place forms, the symbol
// of the in-place prototypes, the library's binary and compound operators.
#define QW_VECTOR_ARITHMETIC(Kind, py, ipy, op, iop)                                                                   \
    struct Kind                                                                                                        \
    {                                                                                                                  \
        static constexpr const char* name = py;                                                                        \
        static constexpr const char* iname = ipy;                                                                      \
        static constexpr const char* symbol = #iop;                                                                    \
        template <class V, class W>                                                                                    \
        static V binary(const V& v, const W& w)                                                                        \
        {                                                                                                              \
            return v op w;                                                                                             \
        }                                                                                                              \
        template <class V, class W>                                                                                    \
        static void compound(V& v, const W& w)                                                                         \
        {                                                                                                              \
            v iop w;                                                                                                   \
        }                                                                                                              \
    }
QW_VECTOR_ARITHMETIC(Add, "___add__", "___iadd__", +, +=);
QW_VECTOR_ARITHMETIC(Sub, "___sub__", "___isub__", -, -=);
QW_VECTOR_ARITHMETIC(Mul, "___mul__", "___imul__", *, *=);
QW_VECTOR_ARITHMETIC(Div, "___truediv__", "___itruediv__", /, /=);
#undef QW_VECTOR_ARITHMETIC

// Comparisons: each calls the library member of its own name.
#define QW_VECTOR_COMPARISON(Kind, py, op)                                                                             \
    struct Kind                                                                                                        \
    {                                                                                                                  \
        static constexpr const char* name = py;                                                                        \
        template <class V>                                                                                             \
        static bool test(const V& v, const V& w)                                                                       \
        {                                                                                                              \
            return v op w;                                                                                             \
        }                                                                                                              \
    }
QW_VECTOR_COMPARISON(Eq, "___eq__", ==);
QW_VECTOR_COMPARISON(Ne, "___ne__", !=);
QW_VECTOR_COMPARISON(Lt, "___lt__", <);
QW_VECTOR_COMPARISON(Le, "___le__", <=);
QW_VECTOR_COMPARISON(Gt, "___gt__", >);
QW_VECTOR_COMPARISON(Ge, "___ge__", >=);
#undef QW_VECTOR_COMPARISON

// The free __mul__(scalar, vector): one overload per class, listed in the
// method table after VectorXd___sub__ (vector_ops_free.cpp).
PyObject* scalar_times_vector(PyObject*, PyObject* args);

// An operand's handle, looked up once and held for the call, so that the
// rows of an overloaded operator test and convert it without looking it up
// again; the object itself when it leads to no handle.
class Operand
{
public:
    explicit Operand(PyObject* o)
    {
        SwigPyObject* h = find_handle(o);
        o_ = h ? reinterpret_cast<PyObject*>(h) : o;
        Py_INCREF(o_);
    }
    ~Operand() { Py_DECREF(o_); }
    Operand(const Operand&) = delete;
    Operand& operator=(const Operand&) = delete;
    PyObject* get() const { return o_; }

private:
    PyObject* o_;
};

// Dispatches the rows of an overloaded operator whose operand `which` is a
// vector: with two arguments, over that operand's handle.
inline PyObject* dispatch(const Overloads& rows, PyObject* args, int which)
{
    if (PyTuple_Size(args) != 2)
        return rows(args);
    PyObject* a[2] = {PyTuple_GetItem(args, 0), PyTuple_GetItem(args, 1)};
    Operand vector(a[which]);
    a[which] = vector.get();
    return rows(a, 2);
}

// ------------------------------------------------------------ one class

template <class Tr>
struct Ops
{
    using V = typename Tr::T;
    using E = typename V::ValueType;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }
    static const char* native(const char* suffix) { return joined(Tr::native, suffix); }

    // The left operand's handle still designates `v` once the right operand
    // is read: Python code run by its item access may have deleted or moved
    // the left vector (its destruction waits for the call to end). Lists and
    // tuples run no Python code.
    static bool still(PyObject* left, PyObject* right, V* v, const ArgId& a)
    {
        if (PyList_CheckExact(right) || PyTuple_CheckExact(right))
            return true;
        void* now = nullptr;
        if (convert_ptr(left, &now, type_of<V>(), 0) == OK && now == v)
            return true;
        fail_null(a);
        return false;
    }

    // One arithmetic function: binary (a new vector, notImplementedRule) or
    // in place (the left vector changed, inPlaceOperatorRule).
    template <class K, bool InPlace>
    struct Arith
    {
        static const char* name()
        {
            static const char* n = fn(InPlace ? K::iname : K::name);
            return n;
        }
        static const ArgId& left()
        {
            static const ArgId a{name(), 1, native(InPlace ? " *" : " const *")};
            return a;
        }

        // None or a moved-from handle: the null-reference ValueError.
        static bool object(PyObject* o, V*& v) { return InPlace ? self_mut(o, left(), v) : self(o, left(), v); }

        template <class W>
        static PyObject* run(PyObject* o, V* v, const W& w)
        {
            return call([&]() -> PyObject* {
                if constexpr (InPlace) {
                    K::compound(*v, w);
                    return inplace_result(o, v, type_of<V>(), &left());
                } else {
                    return owned(new V(K::binary(*v, w)));
                }
            });
        }

        static PyObject* by_sequence(Args a, Py_ssize_t)
        {
            V* v;
            V w;
            if (!object(a[0], v) || !sequence_to_vector(a[1], w) || !still(a[0], a[1], v, left()))
                return nullptr;
            return run(a[0], v, w);
        }

        static PyObject* by_scalar(Args a, Py_ssize_t)
        {
            static const ArgId scalar{name(), 2, native("::ValueType")};
            V* v;
            E s;
            if (!object(a[0], v) || !arg(a[1], scalar, s))
                return nullptr;
            return run(a[0], v, s);
        }

        static PyObject* outcome(PyObject* r) { return InPlace ? r : not_implemented(r); }

        // + and -: a sequence operand only.
        static PyObject* sequence_only(PyObject*, PyObject* args)
        {
            PyObject* a[2];
            return outcome(unpack(name(), args, 2, 2, a) ? by_sequence(a, 2) : nullptr);
        }

        // * and /: a scalar of the element type first, else a sequence.
        static bool scalar_fits(Args a, Py_ssize_t) { return is_obj<V>(a[0], true) && is<E>(a[1]); }
        static bool sequence_fits(Args a, Py_ssize_t) { return is_obj<V>(a[0], true) && is_seq(a[1]); }

        static PyObject* overloaded(PyObject*, PyObject* args)
        {
            static const char* op = native(joined("::operator ", K::symbol, "("));
            static const Overloads rows(name(),
                                        {{joined(op, Tr::native, "::ValueType)"), 2, 2, &scalar_fits, &by_scalar},
                                         {joined(op, Tr::native, " const &)"), 2, 2, &sequence_fits, &by_sequence}});
            PyObject* r = dispatch(rows, args, 0);
            if (!r)
                nothing_on_left(args);
            return outcome(r);
        }

        // A left operand that designates no object is reported as such,
        // whatever the right operand.
        static void nothing_on_left(PyObject* args)
        {
            if (PyTuple_Size(args) != 2 || !PyErr_ExceptionMatches(PyExc_TypeError))
                return;
            PyObject* o = PyTuple_GetItem(args, 0);
            PyObject *type, *value, *trace;
            PyErr_Fetch(&type, &value, &trace);
            void* p = nullptr;
            if (o == Py_None || (convert_ptr(o, &p, type_of<V>(), 0) == OK && !p)) {
                Py_XDECREF(type);
                Py_XDECREF(value);
                Py_XDECREF(trace);
                fail_null(left());
                return;
            }
            PyErr_Restore(type, value, trace);
        }
    };

    template <class K>
    static PyObject* compare(PyObject*, PyObject* args)
    {
        static const char* f = fn(K::name);
        static const ArgId left{f, 1, native(" const *")};
        PyObject* a[2];
        V* v;
        V w;
        if (!unpack(f, args, 2, 2, a) || !self(a[0], left, v) || !sequence_to_vector(a[1], w) ||
            !still(a[0], a[1], v, left))
            return not_implemented(nullptr);
        return call([&] { return to_py(K::test(*v, w)); });
    }

    // One overload of the free __mul__: the scalar first, then a vector of
    // exactly this class (None is no vector).
    static bool scalar_first_fits(Args a, Py_ssize_t) { return is<E>(a[0]) && is_obj<V>(a[1]); }
    static PyObject* scalar_first(Args a, Py_ssize_t)
    {
        static const ArgId scalar{"__mul__", 1, native("::ValueType")};
        static const ArgId vector{"__mul__", 2, Tr::native};
        E s;
        V* v;
        if (!arg(a[0], scalar, s) || !ref(a[1], vector, v))
            return nullptr;
        return call([&] { return owned(new V(s * *v)); });
    }
    static Overload scalar_first_row()
    {
        static const char* proto = joined("quelbo::operator *(", native("::ValueType,"), joined(Tr::native, ")"));
        return {proto, 2, 2, &scalar_first_fits, &scalar_first};
    }

    static void add(Methods& m)
    {
        m.add<&Arith<Add, false>::sequence_only>(fn(Add::name), METH_VARARGS);
        m.add<&Arith<Sub, false>::sequence_only>(fn(Sub::name), METH_VARARGS);
        if constexpr (std::is_same<V, quelbo::VectorXd>::value) // the table's last class
            m.add<&scalar_times_vector>("__mul__", METH_VARARGS);
        m.add<&Arith<Mul, false>::overloaded>(fn(Mul::name), METH_VARARGS);
        m.add<&Arith<Div, false>::overloaded>(fn(Div::name), METH_VARARGS);
        m.add<&Arith<Add, true>::sequence_only>(fn(Add::iname), METH_VARARGS);
        m.add<&Arith<Sub, true>::sequence_only>(fn(Sub::iname), METH_VARARGS);
        m.add<&Arith<Mul, true>::overloaded>(fn(Mul::iname), METH_VARARGS);
        m.add<&Arith<Div, true>::overloaded>(fn(Div::iname), METH_VARARGS);
        m.add<&compare<Eq>>(fn(Eq::name), METH_VARARGS);
        m.add<&compare<Ne>>(fn(Ne::name), METH_VARARGS);
        m.add<&compare<Lt>>(fn(Lt::name), METH_VARARGS);
        m.add<&compare<Le>>(fn(Le::name), METH_VARARGS);
        m.add<&compare<Gt>>(fn(Gt::name), METH_VARARGS);
        m.add<&compare<Ge>>(fn(Ge::name), METH_VARARGS);
    }
};

} // namespace vector_ops
} // namespace qw

// The operators of one class, at the odd place after the class.
#define QW_VECTOR_OPS_CLASS(Name, mangled, text, index)                                                                \
    QW_VECTOR_TRAITS(Name, mangled, text, index);                                                                      \
    static ::qw::TablePartReg qw_ops_##Name(::qw::order::vectors + 2 * (index) + 1,                                    \
                                            &::qw::vector_ops::Ops<Name##Tr>::add)

#define QW_VECTOR_OPS(Type, Suffix, elem) QW_VECTOR_EACH(QW_VECTOR_OPS_CLASS, Type, Suffix, elem)
