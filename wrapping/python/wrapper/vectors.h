// The 40 vector classes: construction, element access, text form, measures,
// negation, dot and cross products. One family template over a traits struct
// per class; QW_VECTOR_CLASSES declares the four classes (sizes 2, 3, 4 and
// dynamic) of one element type, each source file one element type.
#pragma once

#include <cstdint>
#include <memory>
#include <type_traits>

#include "common/item_parser.h"
#include "quelbo/vector.h"
#include "runtime/wrap.h"

namespace qw {
namespace vectors {

// Class traits: `T` the native vector, `name` the Python class name,
// `native` the native type as messages spell it.
template <class Tr>
struct Members
{
    using V = typename Tr::T;
    using E = typename V::ValueType;
    using X = quelbo::VectorX<E>;
    static constexpr bool dynamic = VecInfo<V>::dynamic;

    static const char* fn(const char* suffix) { return joined(Tr::name, suffix); }
    static const char* native(const char* suffix) { return joined(Tr::native, suffix); }

    // ------------------------------------------------------------ lifetime

    // Moves out of a handle of the class: the handle keeps a null pointer.
    static PyObject* move_from(PyObject* o, const char* f)
    {
        static const char* type = native(" &&");
        V* src;
        if (!release(o, {f, 1, type}, src))
            return nullptr;
        PyObject* r = call([&] { return constructed(new V(std::move(*src))); });
        dispose(src);
        return r;
    }

    static PyObject* from_sequence(PyObject* o)
    {
        V working;
        if (!sequence_to_vector(o, working))
            return nullptr;
        return call([&] { return constructed(new V(std::move(working))); });
    }

    static PyObject* new_(PyObject*, PyObject* args)
    {
        static const char* f = joined("new_", Tr::name);
        static const char* ctor = joined(Tr::native, dynamic ? "::VectorX" : "::Vector");
        static const Overload empty{joined(ctor, "()"),
                                    0,
                                    0,
                                    nullptr,
                                    [](Args, Py_ssize_t) { return call([] { return constructed(new V()); }); },
                                    0};
        static const Overload moved{joined(ctor, "(", joined(Tr::native, " &&)")),
                                    1,
                                    1,
                                    [](Args a, Py_ssize_t) { return is_obj<V>(a[0]); },
                                    [](Args a, Py_ssize_t) { return move_from(a[0], f); },
                                    3};
        static const Overload sequence{joined(ctor, "(", joined(Tr::native, " const &)")),
                                       1,
                                       1,
                                       [](Args a, Py_ssize_t) { return is_seq(a[0]); },
                                       [](Args a, Py_ssize_t) { return from_sequence(a[0]); },
                                       2};
        if constexpr (dynamic) {
            static const Overloads rows(
                f, {empty,
                    moved,
                    {joined(ctor, "(size_t)"), 1, 1, [](Args a, Py_ssize_t) { return is<std::size_t>(a[0]); },
                     [](Args a, Py_ssize_t) -> PyObject* {
                         std::size_t size;
                         if (!arg(a[0], {f, 1, "size_t"}, size))
                             return nullptr;
                         return call([&] { return constructed(new V(size)); });
                     },
                     1},
                    sequence});
            return rows(args);
        } else {
            static const char* x_type = joined("VectorX< ", Tr::native, "::ValueType > const &");
            static const Overloads rows(
                f, {empty,
                    {joined(ctor, "(", joined(x_type, ")")), 1, 1, [](Args a, Py_ssize_t) { return is_obj<X>(a[0]); },
                     [](Args a, Py_ssize_t) -> PyObject* {
                         X* x;
                         if (!ref(a[0], {f, 1, x_type}, x))
                             return nullptr;
                         return call([&] { return constructed(new V(*x)); });
                     },
                     1},
                    moved,
                    sequence});
            return rows(args);
        }
    }

    static PyObject* create_uniform(PyObject*, PyObject* args)
    {
        static const char* f = fn("_create_uniform");
        static const char* value_type = native("::ValueType");
        if constexpr (dynamic) {
            PyObject* a[2];
            std::size_t size;
            E value;
            if (!unpack(f, args, 2, 2, a) || !arg(a[0], {f, 1, "size_t"}, size) ||
                !arg(a[1], {f, 2, value_type}, value))
                return nullptr;
            return call([&] { return owned(new V(V::createUniform(size, value))); });
        } else {
            E value;
            if (!arg(args, {f, 1, value_type}, value))
                return nullptr;
            return call([&] { return owned(new V(V::createUniform(value))); });
        }
    }

    // ------------------------------------------------------- element access

    static PyObject* size(PyObject*, PyObject* o)
    {
        static const ArgId a{fn("_size"), 1, native(" const *")};
        V* v;
        if constexpr (dynamic) {
            if (!self(o, a, v))
                return nullptr;
            return to_py(v->size());
        } else {
            // The size is the class's own; the object is only type-checked.
            if (!ptr(o, a, v))
                return nullptr;
            return to_py(V::size());
        }
    }

    static PyObject* at(PyObject*, PyObject* args)
    {
        static const char* f = fn("_at");
        static const char* type = native(" const *");
        PyObject* a[2];
        V* v;
        std::size_t index;
        if (!unpack(f, args, 2, 2, a) || !self(a[0], {f, 1, type}, v) || !arg(a[1], {f, 2, "size_t"}, index))
            return nullptr;
        return call([&] { return to_py(v->at(index)); });
    }

    static PyObject* set_at(PyObject*, PyObject* args)
    {
        static const char* f = fn("_set_at");
        static const char* type = native(" *");
        static const char* value_type = native("::ValueType");
        PyObject* a[3];
        V* v;
        std::size_t index;
        E value;
        if (!unpack(f, args, 3, 3, a) || !self_mut(a[0], {f, 1, type}, v) || !arg(a[1], {f, 2, "size_t"}, index) ||
            !arg(a[2], {f, 3, value_type}, value))
            return nullptr;
        return call([&] {
            v->setAt(index, value);
            return none();
        });
    }

    // ------------------------------------------------- text form and measures

    // A method of the object alone; `Mut` for those that change it.
    template <bool Mut, class Body>
    static PyObject* unary(PyObject* o, const ArgId& a, Body body)
    {
        V* v;
        if (!(Mut ? self_mut(o, a, v) : self(o, a, v)))
            return nullptr;
        return call([&] { return body(*v); });
    }

    static PyObject* to_string(PyObject*, PyObject* o)
    {
        static const ArgId a{fn("_to_string"), 1, native(" const *")};
        return unary<false>(o, a, [](V& v) { return to_py(v.toString()); });
    }

    static PyObject* length(PyObject*, PyObject* o)
    {
        static const ArgId a{fn("_length"), 1, native(" const *")};
        return unary<false>(o, a, [](V& v) { return to_py(v.length()); });
    }

    static PyObject* squared_length(PyObject*, PyObject* o)
    {
        static const ArgId a{fn("_squared_length"), 1, native(" const *")};
        return unary<false>(o, a, [](V& v) { return to_py(v.squaredLength()); });
    }

    static PyObject* normalize(PyObject*, PyObject* o)
    {
        static const ArgId a{fn("_normalize"), 1, native(" *")};
        return unary<true>(o, a, [](V& v) {
            v.normalize();
            return none();
        });
    }

    static PyObject* neg(PyObject*, PyObject* o)
    {
        static const ArgId a{fn("___neg__"), 1, native(" const *")};
        return not_implemented(unary<false>(o, a, [](V& v) { return owned(new V(-v)); }));
    }

    // ---------------------------------------------------------- dot and cross

    // Converts the object and the sequence operand, then runs `body`.
    template <class Body>
    static PyObject* binary(PyObject* args, const char* f, Body body)
    {
        static const char* type = native(" const *");
        PyObject* a[2];
        V* v;
        if (!unpack(f, args, 2, 2, a) || !self(a[0], {f, 1, type}, v))
            return nullptr;
        V operand;
        if (!sequence_to_vector(a[1], operand))
            return nullptr;
        return call([&] { return body(*v, operand); });
    }

    static PyObject* dot(PyObject*, PyObject* args)
    {
        static const char* f = fn("_dot");
        return binary(args, f, [](V& v, V& w) { return to_py(v.dot(w)); });
    }

    static PyObject* cross(PyObject*, PyObject* args)
    {
        static const char* f = fn("_cross");
        return binary(args, f, [](V& v, V& w) { return owned(new V(v.cross(w))); });
    }

    // ------------------------------------------------------------ registration

    static void add(Methods& m)
    {
        // The word after ":type value: " in create_uniform's docstring.
        const char* value_doc =
            sizeof(E) == 1 ? native("::ValueType") : (std::is_floating_point<E>::value ? "float" : "int");
        const char* uniform_doc =
            dynamic ? joined("\nCreates a vector filled with one value.\n\n:type size: int\n:param size: The size of "
                             "the vector.\n:type value: ",
                             value_doc, "\n:param value: The value used to fill the vector.\n")
                    : joined("\nCreate a vector with the given value for all components.\n\n:type value: ", value_doc,
                             "\n:param value: The value wich the vector's data will be filled.\n");
        m.add<&new_>(std::string("new_") + Tr::name, METH_VARARGS);
        m.add<&create_uniform>(fn("_create_uniform"), dynamic ? METH_VARARGS : METH_O, uniform_doc);
        m.add<&size>(fn("_size"), METH_O,
                     "Returns the size of the vector, which also correspond to vector number of dimension.");
        m.add<&at>(fn("_at"), METH_VARARGS, "Access vector's value at given index.");
        m.add<&set_at>(fn("_set_at"), METH_VARARGS, "Set value as given index.");
        m.add<&to_string>(fn("_to_string"), METH_O);
        m.add<&squared_length>(
            fn("_squared_length"), METH_O,
            "\nReturns the vector's norm, squared.\n\nSpecifically, it is the L1 norm that's computed here.\n");
        m.add<&length>(fn("_length"), METH_O,
                       "\nReturns the vector's norm.\n\nSpecifically, it is the L1 norm that's computed here.\n");
        m.add<&normalize>(fn("_normalize"), METH_O, "Normalize the vector");
        m.add<&neg>(fn("___neg__"), METH_O);
        m.add<&dot>(fn("_dot"), METH_VARARGS, dynamic ? "Dot product" : "Dot product of two vectors.");
        m.add<&cross>(fn("_cross"), METH_VARARGS,
                      "\nCross product of two vectors.\n\nWork only for vectors of size 3.\n");
        m.add<&ClassOps<Tr>::del>(std::string("delete_") + Tr::name, METH_O);
        add_hooks<V>(m, Tr::name);
    }
};

} // namespace vectors
} // namespace qw

// The four classes of one element type, each handed to
// M(Name, Vec, mangled, alias, text, index). Classes are tabled size by size
// (2, 3, 4, X), each over the ten element types in the order
// u8 i8 u16 i16 u32 i32 u64 i64 f d; `index` is that position and leaves the
// odd numbers between two classes for their operator families; `elem` is the
// element type's position among the ten.
#define QW_VECTOR_EACH(M, Type, Suffix, elem)                                                                          \
    M(Vector2##Suffix, quelbo::Vector2##Suffix, "_p_quelbo__VectorT_" #Type "_2_t", "quelbo::Vector2" #Suffix,         \
      "quelbo::Vector< " #Type ",2 >", (elem));                                                                        \
    M(Vector3##Suffix, quelbo::Vector3##Suffix, "_p_quelbo__VectorT_" #Type "_3_t", "quelbo::Vector3" #Suffix,         \
      "quelbo::Vector< " #Type ",3 >", 10 + (elem));                                                                   \
    M(Vector4##Suffix, quelbo::Vector4##Suffix, "_p_quelbo__VectorT_" #Type "_4_t", "quelbo::Vector4" #Suffix,         \
      "quelbo::Vector< " #Type ",4 >", 20 + (elem));                                                                   \
    M(VectorX##Suffix, quelbo::VectorX##Suffix, "_p_quelbo__VectorXT_" #Type "_t", "quelbo::VectorX" #Suffix,          \
      "quelbo::VectorX< " #Type " >", 30 + (elem))

// A class's traits: `T` the native vector, `name` the Python class name,
// `native` the native type as messages spell it.
#define QW_VECTOR_TRAITS(Name, Vec, mangled, alias, text, index)                                                       \
    struct Name##Tr                                                                                                    \
    {                                                                                                                  \
        using T = Vec;                                                                                                 \
        static constexpr const char* name = #Name;                                                                     \
        static constexpr const char* native = text;                                                                    \
    }

// One class: its type entry, traits and place in the method table.
#define QW_VECTOR_CLASS(Name, Vec, mangled, alias, text, index)                                                        \
    static ::qw::TypeDef<Vec> qw_type_##Name(QW_LISTED(mangled));                                                      \
    QW_VECTOR_TRAITS(Name, Vec, mangled, alias, text, index);                                                          \
    static ::qw::TablePartReg qw_family_##Name(::qw::order::vectors + 2 * (index),                                     \
                                               &::qw::vectors::Members<Name##Tr>::add)

#define QW_VECTOR_CLASSES(Type, Suffix, elem) QW_VECTOR_EACH(QW_VECTOR_CLASS, Type, Suffix, elem)
