// The 40 vector classes: construction, element access, text form, measures,
// negation, dot and cross products. One family template over a traits struct
// per class; QW_VECTOR_CLASSES declares the four classes (sizes 2, 3, 4 and
// dynamic) of one element type, each source file one element type.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "quelbo/vector.h"
#include "runtime/item_parser.h"
#include "runtime/members.h"
#include "runtime/wrap.h"
#include "native_types.h"

namespace qw {
namespace vectors {

// A class's traits: its texts write the class by its template form
// ("quelbo::Vector< double,2 >"); its value's type and the dynamic vector
// of its values as a constructor's argument.
template <class V, class Value = Nested<AsTemplate<V>, QW_NAME("ValueType")>>
struct VectorTr : TemplateTraits<V>
{
    static constexpr const char* value_type = Named<Value>::text;
    static constexpr const char* x_type =
        JoinedText<QW_NAME("VectorX< "), &Named<Value>::text, QW_NAME(" > const &")>::text;
};

// Over a class's traits (VectorTr).
template <class Tr>
struct Members
{
    using V = typename Tr::T;
    using E = typename V::ValueType;
    using X = quelbo::VectorX<E>;
    static constexpr bool dynamic = VecInfo<V>::dynamic;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }

    // ------------------------------------------------------------ lifetime

    // The constructor's candidates: the empty vector, a dynamic vector's
    // size or a fixed one from a dynamic vector, a move out of a handle of
    // the class (the handle keeps a null pointer), a sequence.
    template <class P, int Decl>
    struct Ctor : Candidate<P, Decl>
    {
        static constexpr const char* member = Tr::constructor;
    };
    struct Empty : Ctor<Params<>, 0>
    {
        static constexpr auto call = [] { return constructed(new V()); };
    };
    struct Sized : Ctor<Params<Arg<std::size_t, text::size>>, 1>
    {
        static constexpr auto call = [](std::size_t size) { return constructed(new V(size)); };
    };
    struct FromX : Ctor<Params<Ref<X, &Tr::x_type>>, 1>
    {
        static constexpr auto call = [](const X& x) { return constructed(new V(x)); };
    };
    struct Moved : Ctor<Params<Released<V, &Tr::moved_type>>, 3>
    {
        static constexpr auto call = [](V&& v) { return constructed(new V(std::move(v))); };
    };
    struct FromSequence : Ctor<Params<Seq<V, &Tr::other_type>>, 2>
    {
        static constexpr auto call = [](V& v) { return constructed(new V(std::move(v))); };
    };

    struct new_ : std::conditional_t<dynamic, DeclareOverloads<new_, Empty, Moved, Sized, FromSequence>,
                                     DeclareOverloads<new_, Empty, FromX, Moved, FromSequence>>,
                  NewName<Tr>
    {
    };

    // ------------------------------------------------------- the functions

    // <name>_<Suffix>(kinds...) calling Call.
    template <const char* Suffix, auto Call, class... K>
    struct Method : Declare<Method<Suffix, Call, K...>, Params<K...>>
    {
        static const char* name()
        {
            static const char* f = joined(Tr::name, Suffix);
            return f;
        }
        static constexpr auto call = Call;
    };

    // An operator: a failed conversion gives NotImplemented.
    template <const char* Suffix, auto Call, class... K>
    struct Operator : Declare<Operator<Suffix, Call, K...>, Params<K...>>
    {
        static const char* name() { return Method<Suffix, Call, K...>::name(); }
        static constexpr auto call = Call;
        static PyObject* outcome(PyObject* r) { return not_implemented(r); }
    };

    using Object = Self<V, &Tr::self_type>;
    using ObjectMut = SelfMut<V, &Tr::mut_type>;
    using Value = Arg<E, &Tr::value_type>;
    using Size = Arg<std::size_t, text::size>;
    using Operand = VectorOperand<V, &Tr::other_type>;

    template <class... A>
    static V uniform(A... a)
    {
        return V::createUniform(a...);
    }
    // The size of a fixed class is the class's own: the object is only type-checked.
    static std::size_t size(const V* v)
    {
        if constexpr (dynamic)
            return v->size();
        else {
            (void)v;
            return V::size();
        }
    }
    static E at(const V* v, std::size_t index) { return v->at(index); }
    static void set_at(V* v, std::size_t index, E value) { v->setAt(index, value); }
    static std::string to_string(const V* v) { return v->toString(); }
    static auto length(const V* v) { return v->length(); }
    static auto squared_length(const V* v) { return v->squaredLength(); }
    static void normalize(V* v) { v->normalize(); }
    static PyObject* neg(const V* v) { return value(-*v); }
    static auto dot(const V* v, const V& w) { return v->dot(w); }
    static V cross(const V* v, const V& w) { return v->cross(w); }

    // A dynamic vector is given its size too.
    template <bool Dynamic, class = void>
    struct Uniform
    {
        using type = Method<QW_NAME("_create_uniform"), &uniform<E>, Value>;
    };
    template <class Unused>
    struct Uniform<true, Unused>
    {
        using type = Method<QW_NAME("_create_uniform"), &uniform<std::size_t, E>, Size, Value>;
    };
    using CreateUniform = typename Uniform<dynamic>::type;
    using SizeOf = std::conditional_t<dynamic, Method<QW_NAME("_size"), &size, Object>,
                                      Method<QW_NAME("_size"), &size, Ptr<V, &Tr::self_type>>>;

    // ------------------------------------------------------------ registration

    static void add(Methods& m)
    {
        // The word after ":type value: " in create_uniform's docstring.
        const char* value_doc = sizeof(E) == 1 ? Tr::value_type : (std::is_floating_point<E>::value ? "float" : "int");
        const char* uniform_doc =
            dynamic ? joined("\nCreates a vector filled with one value.\n\n:type size: int\n:param size: The size of "
                             "the vector.\n:type value: ",
                             value_doc, "\n:param value: The value used to fill the vector.\n")
                    : joined("\nCreate a vector with the given value for all components.\n\n:type value: ", value_doc,
                             "\n:param value: The value wich the vector's data will be filled.\n");
        m.add<new_>();
        m.add<CreateUniform>(uniform_doc);
        m.add<SizeOf>("Returns the size of the vector, which also correspond to vector number of dimension.");
        m.add<Method<QW_NAME("_at"), &at, Object, Size>>("Access vector's value at given index.");
        m.add<Method<QW_NAME("_set_at"), &set_at, ObjectMut, Size, Value>>("Set value as given index.");
        m.add<Method<QW_NAME("_to_string"), &to_string, Object>>();
        m.add<Method<QW_NAME("_squared_length"), &squared_length, Object>>(
            "\nReturns the vector's norm, squared.\n\nSpecifically, it is the L1 norm that's computed here.\n");
        m.add<Method<QW_NAME("_length"), &length, Object>>(
            "\nReturns the vector's norm.\n\nSpecifically, it is the L1 norm that's computed here.\n");
        m.add<Method<QW_NAME("_normalize"), &normalize, ObjectMut>>("Normalize the vector");
        m.add<Operator<QW_NAME("___neg__"), &neg, Object>>();
        m.add<Method<QW_NAME("_dot"), &dot, Object, Operand>>(dynamic ? "Dot product" : "Dot product of two vectors.");
        m.add<Method<QW_NAME("_cross"), &cross, Object, Operand>>(
            "\nCross product of two vectors.\n\nWork only for vectors of size 3.\n");
        m.add<Delete<Tr>>();
        add_hooks<V>(m, Tr::name);
    }
};

} // namespace vectors
} // namespace qw

// The four classes of one element type (sizes 2, 3, 4 and X), each handed to
// M(Name): the class quelbo::Name, named in native_types.h.
#define QW_VECTOR_EACH(M, Suffix)                                                                                      \
    M(Vector2##Suffix);                                                                                                \
    M(Vector3##Suffix);                                                                                                \
    M(Vector4##Suffix);                                                                                                \
    M(VectorX##Suffix)

// One class: its type entry and family.
#define QW_VECTOR_CLASS(Name)                                                                                          \
    QW_TYPE(quelbo::Name);                                                                                             \
    QW_FAMILY(&::qw::vectors::Members<::qw::vectors::VectorTr<quelbo::Name>>::add)

#define QW_VECTOR_CLASSES(Suffix) QW_VECTOR_EACH(QW_VECTOR_CLASS, Suffix)
