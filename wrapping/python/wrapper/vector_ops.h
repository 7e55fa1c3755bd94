// The arithmetic and comparison operators of the 40 vector classes: binary
// and in-place +, -, *, /, the six comparisons, and the free scalar-times-
// vector __mul__. Each operator kind is declared once here, over the class
// traits of vectors.h; QW_VECTOR_OPS registers the operators of the four
// classes of one element type, each source file one element type.
#pragma once

#include <type_traits>

#include "core_args.h"
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

// ------------------------------------------------------------ one class

template <class Tr>
struct Ops
{
    using V = typename Tr::T;
    using E = typename V::ValueType;

    // Argument kinds: the left vector read, or changed in place by an
    // operator whose result takes it over; the right operands.
    using Object = Self<V, &Tr::self_type>;
    using Left = InPlaceSelf<V, &Tr::mut_type>;
    using Operand = VectorOperand<V, &Tr::other_type>;
    using Scalar = Arg<E, &Tr::value_type>;
    template <bool InPlace>
    using LeftOf = std::conditional_t<InPlace, Left, Object>;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }
    static const char* native(const char* suffix) { return joined(Tr::native, suffix); }

    // The left operand's handle still designates `v` once the right operand
    // is read: Python code run by its item access may have deleted or moved
    // the left vector (its destruction waits for the call to end). Lists and
    // tuples run no Python code.
    static bool runs_no_code(PyObject* right) { return PyList_CheckExact(right) || PyTuple_CheckExact(right); }
    static bool still(PyObject* left, PyObject* right, V* v, const ArgId& a)
    {
        if (runs_no_code(right))
            return true;
        void* now = nullptr;
        if (convert_ptr(left, &now, type_of<V>(), 0) == OK && now == v)
            return true;
        fail_null(a);
        return false;
    }
    static bool still(const char* fn, Args a, V* v) { return still(a[0], a[1], v, {fn, 1, Tr::self_type}); }
    static bool still(const char*, Args a, typename Left::value& l) { return still(a[0], a[1], l.object, l.id); }

    // A declaration whose sequence operand is read after the left vector:
    // the left one is re-checked (a base beside the declaration, with
    // `using ReadsSequence::still;`). Each argument's `this` is read once
    // where the left one is checked, so that the check runs no Python code:
    // a wrapped operand read where it lies stays as it was read until the call.
    struct ReadsSequence
    {
        static bool this_once(Args a) { return !runs_no_code(a[1]); }
        template <class L>
        static bool still(const char* fn, Args a, L& left, typename Operand::value&)
        {
            return Ops::still(fn, a, left);
        }
    };

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

        template <class W>
        static PyObject* apply(const V* v, const W& w)
        {
            return value(K::binary(*v, w));
        }
        template <class W>
        static PyObject* apply(typename Left::value& left, const W& w)
        {
            K::compound(*left.object, w);
            return left.result();
        }
        static constexpr auto call = [](auto&& left, const auto& right) { return apply(left, right); };

        static PyObject* outcome(PyObject* r) { return InPlace ? r : not_implemented(r); }

        // + and -: a sequence operand only.
        struct sequence_only : Declare<sequence_only, Params<LeftOf<InPlace>, Operand>>, ReadsSequence
        {
            static const char* name() { return Arith::name(); }
            static constexpr auto call = Arith::call;
            using ReadsSequence::still;
            static PyObject* outcome(PyObject* r) { return Arith::outcome(r); }
        };

        // * and /: a scalar of the element type first, else a sequence.
        static const char* member()
        {
            static const char* m = native(joined("::operator ", K::symbol));
            return m;
        }
        struct by_scalar : Candidate<Params<LeftOf<InPlace>, Scalar>>
        {
            static const char* member() { return Arith::member(); }
            static constexpr auto call = Arith::call;
        };
        struct by_sequence : Candidate<Params<LeftOf<InPlace>, Operand>>, ReadsSequence
        {
            static const char* member() { return Arith::member(); }
            static constexpr auto call = Arith::call;
            using ReadsSequence::still;
        };
        struct overloaded : DeclareOverloads<overloaded, by_scalar, by_sequence>
        {
            static const char* name() { return Arith::name(); }
            static void failed(PyObject* args) { nothing_on_left(args); }
            static PyObject* outcome(PyObject* r) { return Arith::outcome(r); }
        };

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
                fail_null({name(), 1, InPlace ? Tr::mut_type : Tr::self_type});
                return;
            }
            PyErr_Restore(type, value, trace);
        }
    };

    template <class K>
    struct compare : Declare<compare<K>, Params<Object, Operand>>, ReadsSequence
    {
        static const char* name()
        {
            static const char* f = fn(K::name);
            return f;
        }
        static constexpr auto call = [](const V* v, const V& w) { return K::test(*v, w); };
        using ReadsSequence::still;
        static PyObject* outcome(PyObject* r) { return not_implemented(r); }
    };

    // One overload of the free __mul__: the scalar first, then a vector of
    // exactly this class (None is no vector).
    struct scalar_first : Candidate<Params<Scalar, Ref<V, &Tr::native>>>
    {
        static constexpr const char* member = member_of<Library, spelling::times>;
        static constexpr auto call = [](E s, const V& v) { return value(s * v); };
    };

    static void add(Methods& m)
    {
        m.add<typename Arith<Add, false>::sequence_only>();
        m.add<typename Arith<Sub, false>::sequence_only>();
        m.add<typename Arith<Mul, false>::overloaded>();
        m.add<typename Arith<Div, false>::overloaded>();
        m.add<typename Arith<Add, true>::sequence_only>();
        m.add<typename Arith<Sub, true>::sequence_only>();
        m.add<typename Arith<Mul, true>::overloaded>();
        m.add<typename Arith<Div, true>::overloaded>();
        m.add<compare<Eq>>();
        m.add<compare<Ne>>();
        m.add<compare<Lt>>();
        m.add<compare<Le>>();
        m.add<compare<Gt>>();
        m.add<compare<Ge>>();
    }
};

} // namespace vector_ops
} // namespace qw

// The operators of one class.
#define QW_VECTOR_OPS_CLASS(Name)                                                                                      \
    QW_FAMILY(&::qw::vector_ops::Ops<::qw::vectors::VectorTr<quelbo::Name>>::add)

#define QW_VECTOR_OPS(Suffix) QW_VECTOR_EACH(QW_VECTOR_OPS_CLASS, Suffix)
