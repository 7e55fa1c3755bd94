// The six capability flag sets: one family of 14 functions over FlagSet<E>.
#include "core_args.h"
#include "quelbo/flags.h"

namespace {

using namespace qw;

QW_TYPE(quelbo::StreamAccessCapabilitySet, "_p_quelbo__FlagSetT_quelbo__StreamAccessCapability_t");
QW_TYPE(quelbo::RandomAccessCapabilitySet, "_p_quelbo__FlagSetT_quelbo__RandomAccessCapability_t");
QW_TYPE(quelbo::ParallelAccessCapabilitySet, "_p_quelbo__FlagSetT_quelbo__ParallelAccessCapability_t");
QW_TYPE(quelbo::ImageCapabilitySet, "_p_quelbo__FlagSetT_quelbo__ImageCapability_t");
QW_TYPE(quelbo::MultiImageCapabilitySet, "_p_quelbo__FlagSetT_quelbo__MultiImageCapability_t");
QW_TYPE(quelbo::DataFrameCapabilitySet, "_p_quelbo__FlagSetT_quelbo__DataFrameCapability_t");

// name: the Python class; native: the class as messages write the object;
// param: the set as a parameter; enumeration: the enumeration's native name.
#define QW_FLAGS_TRAITS(Tr, Enum, Written)                                                                             \
    struct Tr                                                                                                          \
    {                                                                                                                  \
        using E = quelbo::Enum;                                                                                        \
        using T = quelbo::FlagSet<E>;                                                                                  \
        static constexpr const char* name = #Enum "Set";                                                               \
        static constexpr const char* native = "quelbo::FlagSet< " Written " >";                                        \
        static constexpr const char* param = "quelbo::FlagSet< quelbo::" #Enum " >";                                   \
        static constexpr const char* enumeration = "quelbo::" #Enum;                                                   \
    }
QW_FLAGS_TRAITS(StreamTr, StreamAccessCapability, "StreamAccessCapability");
QW_FLAGS_TRAITS(RandomTr, RandomAccessCapability, "RandomAccessCapability");
QW_FLAGS_TRAITS(ParallelTr, ParallelAccessCapability, "quelbo::ParallelAccessCapability");
QW_FLAGS_TRAITS(ImageTr, ImageCapability, "ImageCapability");
QW_FLAGS_TRAITS(MultiImageTr, MultiImageCapability, "quelbo::MultiImageCapability");
QW_FLAGS_TRAITS(DataFrameTr, DataFrameCapability, "quelbo::DataFrameCapability");
#undef QW_FLAGS_TRAITS

template <class Tr>
struct FlagSetFamily
{
    using E = typename Tr::E;
    using Set = typename Tr::T;

    static const char* name(const char* suffix) { return joined(Tr::name, suffix); }
    static const char* self_const()
    {
        static const char* const t = joined(Tr::native, " const *");
        return t;
    }
    static const char* self_mutable()
    {
        static const char* const t = joined(Tr::native, " *");
        return t;
    }
    static const char* ctor_name()
    {
        static const char* const fn = joined("new_", Tr::name);
        return fn;
    }

    static PyObject* copy(Args a, Py_ssize_t)
    {
        static const char* copied = joined(Tr::param, " const &");
        Set* other;
        if (!ref(a[0], {ctor_name(), 1, copied}, other))
            return nullptr;
        return call([&] { return constructed(new Set(*other)); });
    }

    static PyObject* from_enum(Args a, Py_ssize_t)
    {
        int32_t v;
        if (!arg(a[0], {ctor_name(), 1, Tr::enumeration}, v))
            return nullptr;
        return call([&] { return constructed(new Set(static_cast<E>(v))); });
    }

    static PyObject* from_bits(Args a, Py_ssize_t)
    {
        uint64_t v;
        if (!arg(a[0], {ctor_name(), 1, "uint64_t"}, v))
            return nullptr;
        return call([&] { return constructed(new Set(v)); });
    }

    static PyObject* construct(PyObject*, PyObject* args)
    {
        static const char* proto = joined(Tr::native, "::FlagSet(");
        static const Overloads rows(
            ctor_name(),
            {{joined(proto, ")"), 0, 0, nullptr,
              [](Args, Py_ssize_t) { return call([] { return constructed(new Set()); }); }, 0},
             {joined(proto, Tr::param, " const &)"), 1, 1, [](Args a, Py_ssize_t) { return is_obj<Set>(a[0]); }, &copy,
              3},
             {joined(proto, Tr::enumeration, ")"), 1, 1, [](Args a, Py_ssize_t) { return is<int32_t>(a[0]); },
              &from_enum, 2},
             {joined(proto, "uint64_t)"), 1, 1, [](Args a, Py_ssize_t) { return is<uint64_t>(a[0]); }, &from_bits, 1},
             {joined(proto, Tr::param, " &&)"), 1, 1, listed_only, nullptr, 4}});
        return rows(args);
    }

    static PyObject* value_of(PyObject*, PyObject* o)
    {
        static const char* fn = name("_value");
        Set* obj;
        if (!self(o, {fn, 1, self_const()}, obj))
            return nullptr;
        return call([&] { return to_py(obj->value()); });
    }

    // Converts the object (const or mutable) and the flags argument.
    template <bool Mutable>
    static bool operands(PyObject* args, const char* fn, Set*& obj, Set& flags)
    {
        PyObject* a[2];
        if (!unpack(fn, args, 2, 2, a))
            return false;
        const bool converted =
            Mutable ? self_mut(a[0], {fn, 1, self_mutable()}, obj) : self(a[0], {fn, 1, self_const()}, obj);
        if (!converted)
            return false;
        return flags_arg(a[1], {fn, 2, Tr::param}, flags);
    }

    template <const char* Suffix>
    static PyObject* has(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        Set* obj;
        Set flags;
        if (!operands<false>(args, fn, obj, flags))
            return nullptr;
        return call([&] { return to_py(obj->has(flags)); });
    }

    // _add and _remove change the object itself.
    template <const char* Suffix, void (Set::*Member)(Set)>
    static PyObject* change(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        Set* obj;
        Set flags;
        if (!operands<true>(args, fn, obj, flags))
            return nullptr;
        return call([&] {
            (obj->*Member)(flags);
            return none();
        });
    }

    template <const char* Suffix, bool (Set::*Member)(Set) const>
    static PyObject* compare(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        Set* obj;
        Set flags;
        if (!operands<false>(args, fn, obj, flags))
            return not_implemented(nullptr);
        return not_implemented(call([&] { return to_py((obj->*Member)(flags)); }));
    }

    // Binary operators: the object is written 'FlagSet< E > *' but left unchanged.
    template <const char* Suffix, Set (Set::*Member)(Set) const>
    static PyObject* binary(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        PyObject* a[2];
        Set* obj;
        Set flags;
        if (!unpack(fn, args, 2, 2, a) || !self(a[0], {fn, 1, self_mutable()}, obj) ||
            !flags_arg(a[1], {fn, 2, Tr::param}, flags))
            return not_implemented(nullptr);
        return not_implemented(call([&] { return value((obj->*Member)(flags)); }));
    }

    // In-place operators: the result takes over the left handle's object.
    template <const char* Suffix, Set& (Set::*Member)(Set)>
    static PyObject* inplace(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        PyObject* a[2];
        Set* obj;
        Set flags;
        const ArgId left{fn, 1, self_mutable()};
        if (!unpack(fn, args, 2, 2, a) || !self_mut(a[0], left, obj) || !flags_arg(a[1], {fn, 2, Tr::param}, flags))
            return nullptr;
        return call([&] {
            (obj->*Member)(flags);
            return inplace_result(a[0], obj, type_of<Set>(), &left);
        });
    }

    static constexpr char kHas[] = "_has";
    static constexpr char kAdd[] = "_add";
    static constexpr char kRemove[] = "_remove";
    static constexpr char kEq[] = "___eq__";
    static constexpr char kNe[] = "___ne__";
    static constexpr char kOr[] = "___or__";
    static constexpr char kAnd[] = "___and__";
    static constexpr char kXor[] = "___xor__";
    static constexpr char kIor[] = "___ior__";
    static constexpr char kIand[] = "___iand__";
    static constexpr char kIxor[] = "___ixor__";

    static void add(Methods& m)
    {
        m.add<&construct>(joined("new_", Tr::name), METH_VARARGS);
        m.add<&ClassOps<Tr>::del>(joined("delete_", Tr::name), METH_O);
        m.add<&value_of>(name("_value"), METH_O, "Return the internal value");
        m.add<&has<kHas>>(name(kHas), METH_VARARGS, "Check if a given set of flags is true.");
        m.add<&change<kAdd, &Set::add>>(name(kAdd), METH_VARARGS, "Set the given set of flags to true.");
        m.add<&change<kRemove, &Set::remove>>(name(kRemove), METH_VARARGS, "Set the given set of flags to false.");
        m.add < &compare < kEq, &Set::operator==>>(name(kEq), METH_VARARGS);
        m.add < &compare < kNe, &Set::operator!=>>(name(kNe), METH_VARARGS);
        m.add < &binary < kOr, &Set::operator|>>(name(kOr), METH_VARARGS);
        m.add < &binary < kAnd, &Set::operator&>>(name(kAnd), METH_VARARGS);
        m.add < &binary < kXor, &Set::operator^>>(name(kXor), METH_VARARGS);
        m.add < &inplace < kIor, &Set::operator|=>>(name(kIor), METH_VARARGS);
        m.add < &inplace < kIand, &Set::operator&=>>(name(kIand), METH_VARARGS);
        m.add < &inplace < kIxor, &Set::operator^=>>(name(kIxor), METH_VARARGS);
        add_hooks<Set>(m, Tr::name);
    }
};

void add_flagsets(Methods& m)
{
    FlagSetFamily<StreamTr>::add(m);
    FlagSetFamily<RandomTr>::add(m);
    FlagSetFamily<ParallelTr>::add(m);
    FlagSetFamily<ImageTr>::add(m);
    FlagSetFamily<MultiImageTr>::add(m);
    FlagSetFamily<DataFrameTr>::add(m);
}

QW_FAMILY(order::flagsets, add_flagsets);

} // namespace
