// The four matrix classes: construction, element access, transposition,
// inversion, text form and operators. One family template over a traits
// struct per class; each source file declares one class.
#pragma once

#include "core_args.h"
#include "quelbo/matrix.h"
#include "runtime/members.h"
#include "native_types.h"

namespace qw::matrices {

template <class M>
struct Size;
template <class T, std::size_t N>
struct Size<quelbo::Matrix<T, N>>
{
    static constexpr std::size_t value = N;
};

// A class's traits: its texts write the class by its template form
// ("quelbo::Matrix< double,3 >"); `elem` the element type, `vector` the
// vector operand, `product` the library's product.
template <class M>
struct MatrixTr : TemplateTraits<M>
{
    static constexpr const char* elem = FirstArgument<AsTemplate<M>>::text;
    static constexpr const char* vector =
        Named<const AsTemplate<quelbo::Vector<typename M::ValueType, Size<M>::value>>&>::text;
    static constexpr const char* product = member_of<AsTemplate<M>, spelling::times>;
};

// Over a class's traits (MatrixTr).
template <class Tr>
struct Members
{
    using M = typename Tr::T;
    using E = typename M::ValueType;
    using V = quelbo::Vector<E, Size<M>::value>;

    // Argument kinds: the matrix read, changed, or changed in place by an
    // operator whose result takes it over; the right operands.
    using Const = Self<M, &Tr::self_type>;
    using Mut = SelfMut<M, &Tr::mut_type>;
    using Left = InPlaceSelf<M, &Tr::mut_type>;
    using Other = Ref<M, &Tr::other_type>;
    using Scalar = Arg<E, &Tr::elem>;
    using Index = Arg<std::size_t, text::size>;

    // ------------------------------------------------------------ operators

    static M negated(const M* m) { return -*m; }
    static M& plus(M& m, const M& other) { return m += other; }
    static M& minus(M& m, const M& other) { return m -= other; }
    static M& times(M& m, E scalar) { return m *= scalar; }
    static M& divided(M& m, E scalar) { return m /= scalar; }

    // A copy of the left operand changed by the compound operator.
    template <class R, M& (*Apply)(M&, R)>
    static M copied(const M* left, R right)
    {
        M result(*left);
        Apply(result, right);
        return result;
    }

    // The left operand itself changed; the result takes over its ownership.
    template <class R, M& (*Apply)(M&, R)>
    static PyObject* in_place(typename Left::value& left, R right)
    {
        Apply(*left.object, right);
        return left.result();
    }

    // __mul__: the matrix product, a scalar, or a sequence read as a vector.
    // The right operand alone tells the forms apart: the left one's check
    // passes anything, and each form then converts it first (a left operand
    // of another kind gives NotImplemented as when no form fits).
    struct Multiplied : Const
    {
        static bool check(PyObject*) { return true; }
    };
    template <class R>
    struct Product : Candidate<Params<Multiplied, R>>
    {
        static constexpr const char* member = Tr::product;
        static constexpr const char* suffix = " const";
        static constexpr auto call = [](const M* left, const auto& right) { return *left * right; };
    };

    struct mul : DeclareOverloads<mul, Product<Other>, Product<Scalar>, Product<Seq<V, &Tr::vector>>>,
                 MemberName<Tr, QW_NAME("__mul__")>
    {
        static PyObject* outcome(PyObject* r) { return not_implemented(r); }
    };

    // ------------------------------------------------------------ registration

    static void add(Methods& m)
    {
        static const char* at_doc =
            "\nAccess an element of the matrix.\n\n:type column: int\n:param column: The column "
            "of the element\n:type row: int\n:param row: The row of the element\n";
        m.add<Member<Tr, QW_NAME("identity"), &M::identity>>("Return an identity matrix.");
        m.add<Member<Tr, QW_NAME("uniform"), &M::uniform, Scalar>>(
            "\nInitialize an uniform matrix with an unique value.\n\n:type value: float\n:param value: The value to "
            "assign to each element of the matrix\n");
        m.add<NewDefault<Tr>>("\nDefault constructor.\nObject will have indeterminate values.\n");
        add_object_compare<Tr>(m);
        m.add<Member<Tr, QW_NAME("at"), &M::at, Const, Index, Index>>(at_doc);
        m.add<Member<Tr, QW_NAME("__call__"), &M::operator(), Const, Index, Index>>(at_doc);
        m.add<Member<Tr, QW_NAME("set_at"), &M::setAt, Mut, Index, Index, Scalar>>(
            "\nSet an element of the matrix.\n\n:type column: int\n:param column: The column of the element\n:type "
            "row: int\n:param row: The row of the element\n:type value: float\n:param value: The value to assign to "
            "the element\n");
        m.add<Member<Tr, QW_NAME("transpose_in_place"), &M::transposeInPlace, Mut>>("Transpose the matrix in place.");
        add_const_getter<Tr, QW_NAME("transpose"), &M::transpose>(m, "Return the transposed matrix.");
        add_const_getter<Tr, QW_NAME("inverse"), &M::inverse>(
            m, "\nReturn the inverse matrix.\n\nWarning: Calling this method on a non-invertable matrix will cause\n"
               "         undefined behaviour.\n");
        add_const_getter<Tr, QW_NAME("to_string"), &M::toString>(m, "Return a string representation of the matrix.");
        m.add<Operator<Tr, QW_NAME("__neg__"), &negated, Const>>();
        m.add<Member<Tr, QW_NAME("__iadd__"), &in_place<const M&, &plus>, Left, Other>>();
        m.add<Member<Tr, QW_NAME("__isub__"), &in_place<const M&, &minus>, Left, Other>>();
        m.add<Operator<Tr, QW_NAME("__add__"), &copied<const M&, &plus>, Const, Other>>();
        m.add<Operator<Tr, QW_NAME("__sub__"), &copied<const M&, &minus>, Const, Other>>();
        m.add<Member<Tr, QW_NAME("__imul__"), &in_place<E, &times>, Left, Scalar>>();
        m.add<Member<Tr, QW_NAME("__itruediv__"), &in_place<E, &divided>, Left, Scalar>>();
        m.add<Operator<Tr, QW_NAME("__truediv__"), &copied<E, &divided>, Const, Scalar>>();
        m.add<mul>();
        m.add<Delete<Tr>>();
        add_hooks<M>(m, Tr::name);
    }
};

} // namespace qw::matrices

// One class: its type entry and family.
#define QW_MATRIX_CLASS(Name)                                                                                          \
    QW_TYPE(quelbo::Name);                                                                                             \
    QW_FAMILY(&::qw::matrices::Members<::qw::matrices::MatrixTr<quelbo::Name>>::add)
