// The four matrix classes: construction, element access, transposition,
// inversion, text form and operators. One family template over a traits
// struct per class; each source file declares one class.
#pragma once

#include "common/item_parser.h"
#include "core_args.h"
#include "quelbo/matrix.h"
#include "runtime/wrap.h"

namespace qw::matrices {

inline constexpr char kTranspose[] = "transpose";
inline constexpr char kInverse[] = "inverse";
inline constexpr char kToString[] = "to_string";

template <class M>
struct Size;
template <class T, std::size_t N>
struct Size<quelbo::Matrix<T, N>>
{
    static constexpr std::size_t value = N;
};

template <class Tr>
struct Members
{
    using M = typename Tr::T;
    using E = typename M::ValueType;
    static constexpr std::size_t N = Size<M>::value;
    using V = quelbo::Vector<E, N>;
    static constexpr const char* elem = std::is_same<E, float>::value ? "float" : "double";

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }
    static const char* native(const char* suffix) { return joined(Tr::native, suffix); }

    // ------------------------------------------------------------ creation

    static PyObject* identity(PyObject*, PyObject*)
    {
        return call([] { return value(M::identity()); });
    }

    static PyObject* uniform(PyObject*, PyObject* o)
    {
        static const char* f = fn("_uniform");
        E v;
        if (!arg(o, {f, 1, elem}, v))
            return nullptr;
        return call([&] { return value(M::uniform(v)); });
    }

    // ------------------------------------------------------ element access

    template <bool Call>
    static PyObject* at(PyObject*, PyObject* args)
    {
        static const char* f = fn(Call ? "___call__" : "_at");
        static const char* type = native(" const *");
        PyObject* a[3];
        M* m;
        std::size_t column, row;
        if (!unpack(f, args, 3, 3, a) || !self(a[0], {f, 1, type}, m) || !arg(a[1], {f, 2, "size_t"}, column) ||
            !arg(a[2], {f, 3, "size_t"}, row))
            return nullptr;
        return call([&] { return to_py(Call ? (*m)(column, row) : m->at(column, row)); });
    }

    static PyObject* set_at(PyObject*, PyObject* args)
    {
        static const char* f = fn("_set_at");
        static const char* type = native(" *");
        PyObject* a[4];
        M* m;
        std::size_t column, row;
        E v;
        if (!unpack(f, args, 4, 4, a) || !self_mut(a[0], {f, 1, type}, m) || !arg(a[1], {f, 2, "size_t"}, column) ||
            !arg(a[2], {f, 3, "size_t"}, row) || !arg(a[3], {f, 4, elem}, v))
            return nullptr;
        return call([&] {
            m->setAt(column, row, v);
            return none();
        });
    }

    // -------------------------------------------------- whole-matrix methods

    static PyObject* transpose_in_place(PyObject*, PyObject* o)
    {
        static const char* f = fn("_transpose_in_place");
        static const char* type = native(" *");
        M* m;
        if (!self_mut(o, {f, 1, type}, m))
            return nullptr;
        return call([&] {
            m->transposeInPlace();
            return none();
        });
    }

    // ------------------------------------------------------------ operators

    static PyObject* neg(PyObject*, PyObject* o)
    {
        static const char* f = fn("___neg__");
        M* m;
        if (!self(o, {f, 1, Tr::self_type}, m))
            return not_implemented(nullptr);
        return not_implemented(call([&] { return value(-*m); }));
    }

    // The right operand of a binary or in-place operator: a matrix of the
    // class or a scalar.
    static bool operand(PyObject* o, const ArgId& a, M*& out) { return ref(o, a, out); }
    static bool operand(PyObject* o, const ArgId& a, E& out) { return arg(o, a, out); }

    // Converts both operands; `Mut` for the in-place forms.
    template <bool Mut, class R>
    static bool operands(PyObject* args, const char* f, PyObject* (&a)[2], M*& left, R& right)
    {
        static const char* left_type = native(Mut ? " *" : " const *");
        static const char* right_type = std::is_same<R, E>::value ? elem : native(" const &");
        return unpack(f, args, 2, 2, a) &&
               (Mut ? self_mut(a[0], {f, 1, left_type}, left) : self(a[0], {f, 1, left_type}, left)) &&
               operand(a[1], {f, 2, right_type}, right);
    }

    static M& apply(M& m, char op, M const& other) { return op == '+' ? m += other : m -= other; }
    static M& apply(M& m, char op, E scalar) { return op == '*' ? m *= scalar : m /= scalar; }

    // A copy of the left operand changed by the compound operator.
    template <char Op, class R>
    static PyObject* binary(PyObject*, PyObject* args)
    {
        static const char* f = fn(Op == '+' ? "___add__" : Op == '-' ? "___sub__" : "___truediv__");
        PyObject* a[2];
        M* left;
        R right{};
        if (!operands<false>(args, f, a, left, right))
            return not_implemented(nullptr);
        return not_implemented(call([&] {
            M result(*left);
            apply(result, Op, deref(right));
            return value(std::move(result));
        }));
    }

    // The left operand itself changed; the result takes over its ownership.
    template <char Op, class R>
    static PyObject* inplace(PyObject*, PyObject* args)
    {
        static const char* f = fn(Op == '+'   ? "___iadd__"
                                  : Op == '-' ? "___isub__"
                                  : Op == '*' ? "___imul__"
                                              : "___itruediv__");
        static const ArgId left_arg{f, 1, native(" *")};
        PyObject* a[2];
        M* left;
        R right{};
        if (!operands<true>(args, f, a, left, right))
            return nullptr;
        return call([&] {
            apply(*left, Op, deref(right));
            return inplace_result(a[0], left, type_of<M>(), &left_arg);
        });
    }

    static M const& deref(M* m) { return *m; }
    static E deref(E e) { return e; }

    // __mul__: the matrix product, a scalar, or a sequence read as a vector.
    // The right operand alone tells the forms apart; each form then converts
    // the left one first, and a left operand of another kind gives
    // NotImplemented as when no form fits.
    static PyObject* mul(PyObject*, PyObject* args)
    {
        static const char* f = fn("___mul__");
        static const char* self_type = native(" const *");
        static const char* other_type = native(" const &");
        static const char* p_matrix = joined(Tr::native, "::operator *(", native(" const &) const"));
        static const char* p_scalar = joined(Tr::native, "::operator *(", joined(elem, ") const"));
        static const char* p_vector = joined(Tr::native, "::operator *(", joined(Tr::vector, " const &) const"));
        static const Overloads rows(f, {{p_matrix, 2, 2, [](Args a, Py_ssize_t) { return is_obj<M>(a[1]); },
                                         [](Args a, Py_ssize_t) -> PyObject* {
                                             M* l;
                                             M* r;
                                             if (!self(a[0], {f, 1, self_type}, l) || !ref(a[1], {f, 2, other_type}, r))
                                                 return nullptr;
                                             return call([&] { return value(*l * *r); });
                                         }},
                                        {p_scalar, 2, 2, [](Args a, Py_ssize_t) { return is<E>(a[1]); },
                                         [](Args a, Py_ssize_t) -> PyObject* {
                                             M* l;
                                             E s;
                                             if (!self(a[0], {f, 1, self_type}, l) || !arg(a[1], {f, 2, elem}, s))
                                                 return nullptr;
                                             return call([&] { return value(*l * s); });
                                         }},
                                        {p_vector, 2, 2, [](Args a, Py_ssize_t) { return is_seq(a[1]); },
                                         [](Args a, Py_ssize_t) -> PyObject* {
                                             M* l;
                                             V v;
                                             if (!self(a[0], {f, 1, self_type}, l) || !sequence_to_vector(a[1], v))
                                                 return nullptr;
                                             return call([&] { return value(*l * v); });
                                         }}});
        return not_implemented(rows(args));
    }

    // ------------------------------------------------------------ registration

    static void add(Methods& m)
    {
        static const char* at_doc =
            "\nAccess an element of the matrix.\n\n:type column: int\n:param column: The column "
            "of the element\n:type row: int\n:param row: The row of the element\n";
        m.add<&identity>(fn("_identity"), METH_NOARGS, "Return an identity matrix.");
        m.add<&uniform>(
            fn("_uniform"), METH_O,
            "\nInitialize an uniform matrix with an unique value.\n\n:type value: float\n:param value: The value to "
            "assign to each element of the matrix\n");
        m.add<&ClassOps<Tr>::new_default>(std::string("new_") + Tr::name, METH_NOARGS,
                                          "\nDefault constructor.\nObject will have indeterminate values.\n");
        add_object_compare<Tr>(m);
        m.add<&at<false>>(fn("_at"), METH_VARARGS, at_doc);
        m.add<&at<true>>(fn("___call__"), METH_VARARGS, at_doc);
        m.add<&set_at>(
            fn("_set_at"), METH_VARARGS,
            "\nSet an element of the matrix.\n\n:type column: int\n:param column: The column of the element\n:type "
            "row: int\n:param row: The row of the element\n:type value: float\n:param value: The value to assign to "
            "the element\n");
        m.add<&transpose_in_place>(fn("_transpose_in_place"), METH_O, "Transpose the matrix in place.");
        add_const_getter<Tr, kTranspose, &M::transpose>(m, "Return the transposed matrix.");
        add_const_getter<Tr, kInverse, &M::inverse>(
            m, "\nReturn the inverse matrix.\n\nWarning: Calling this method on a non-invertable matrix will cause\n"
               "         undefined behaviour.\n");
        add_const_getter<Tr, kToString, &M::toString>(m, "Return a string representation of the matrix.");
        m.add<&neg>(fn("___neg__"), METH_O);
        m.add<&inplace<'+', M*>>(fn("___iadd__"), METH_VARARGS);
        m.add<&inplace<'-', M*>>(fn("___isub__"), METH_VARARGS);
        m.add<&binary<'+', M*>>(fn("___add__"), METH_VARARGS);
        m.add<&binary<'-', M*>>(fn("___sub__"), METH_VARARGS);
        m.add<&inplace<'*', E>>(fn("___imul__"), METH_VARARGS);
        m.add<&inplace<'/', E>>(fn("___itruediv__"), METH_VARARGS);
        m.add<&binary<'/', E>>(fn("___truediv__"), METH_VARARGS);
        m.add<&mul>(fn("___mul__"), METH_VARARGS);
        m.add<&ClassOps<Tr>::del>(std::string("delete_") + Tr::name, METH_O);
        add_hooks<M>(m, Tr::name);
    }
};

} // namespace qw::matrices

// One class: its type entry, traits and place (`index`: 0 to 3) in the table.
#define QW_MATRIX_CLASS(Name, Elem, Size, index)                                                                       \
    static ::qw::TypeDef<quelbo::Name> qw_type_##Name(QW_LISTED("_p_quelbo__MatrixT_" #Elem "_" #Size "_t"));          \
    struct Name##Tr                                                                                                    \
    {                                                                                                                  \
        using T = quelbo::Name;                                                                                        \
        static constexpr const char* name = #Name;                                                                     \
        static constexpr const char* native = "quelbo::Matrix< " #Elem "," #Size " >";                                 \
        static constexpr const char* vector = "quelbo::Vector< " #Elem "," #Size " >";                                 \
        static constexpr const char* self_type = "quelbo::Matrix< " #Elem "," #Size " > const *";                      \
        static constexpr const char* other_type = "quelbo::Matrix< " #Elem "," #Size " > const &";                     \
    };                                                                                                                 \
    static ::qw::TablePartReg qw_family_##Name(::qw::order::matrices + (index), &::qw::matrices::Members<Name##Tr>::add)
