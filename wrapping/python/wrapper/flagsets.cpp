// The six capability flag sets: one family of 14 functions over FlagSet<E>.
#include "core_args.h"
#include "quelbo/flags.h"

namespace {

using namespace qw;

QW_TYPE(quelbo::StreamAccessCapabilitySet, "_p_quelbo__FlagSetT_quelbo__StreamAccessCapability_t",
        "quelbo::FlagSet< quelbo::StreamAccessCapability > *");
QW_TYPE(quelbo::RandomAccessCapabilitySet, "_p_quelbo__FlagSetT_quelbo__RandomAccessCapability_t",
        "quelbo::FlagSet< quelbo::RandomAccessCapability > *");
QW_TYPE(quelbo::ParallelAccessCapabilitySet, "_p_quelbo__FlagSetT_quelbo__ParallelAccessCapability_t",
        "quelbo::FlagSet< quelbo::ParallelAccessCapability > *");
QW_TYPE(quelbo::ImageCapabilitySet, "_p_quelbo__FlagSetT_quelbo__ImageCapability_t",
        "quelbo::FlagSet< quelbo::ImageCapability > *");
QW_TYPE(quelbo::MultiImageCapabilitySet, "_p_quelbo__FlagSetT_quelbo__MultiImageCapability_t",
        "quelbo::FlagSet< quelbo::MultiImageCapability > *");
QW_TYPE(quelbo::DataFrameCapabilitySet, "_p_quelbo__FlagSetT_quelbo__DataFrameCapability_t",
        "quelbo::FlagSet< quelbo::DataFrameCapability > *");

// name: the Python class; native: the class as messages write the object;
// param: the set as a parameter; enumeration: the enumeration's native name.
#define QW_FLAGS_TRAITS(Tr, Enum, Written)                                                                         \
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

    static const char* name(const char* suffix) { return str(Tr::name, suffix); }
    static const char* self_const() { return str(Tr::native, " const *"); }
    static const char* self_mutable() { return str(Tr::native, " *"); }

    static PyObject* construct(PyObject*, PyObject* args)
    {
        static const char* fn = str("new_", Tr::name);
        PyObject* a[1];
        Py_ssize_t n = 0;
        if (unpack(fn, args, 0, 1, a, &n)) {
            if (n == 0)
                return call([] { return constructed(new Set()); });
            if (is_obj<Set>(a[0])) {
                static const char* copied = str(Tr::param, " const &");
                Set* other;
                if (!ref(a[0], {fn, 1, copied}, other))
                    return nullptr;
                return call([&] { return constructed(new Set(*other)); });
            }
            if (is<int32_t>(a[0])) {
                int32_t v;
                if (!arg(a[0], {fn, 1, Tr::enumeration}, v))
                    return nullptr;
                return call([&] { return constructed(new Set(static_cast<E>(v))); });
            }
            if (is<uint64_t>(a[0])) {
                uint64_t v;
                if (!arg(a[0], {fn, 1, "uint64_t"}, v))
                    return nullptr;
                return call([&] { return constructed(new Set(v)); });
            }
        }
        static const char* const prototypes[] = {
            str(Tr::native, "::FlagSet()"),
            str(Tr::native, "::FlagSet(uint64_t)"),
            str(Tr::native, "::FlagSet(", str(Tr::enumeration, ")")),
            str(Tr::native, "::FlagSet(", str(Tr::param, " const &)")),
            str(Tr::native, "::FlagSet(", str(Tr::param, " &&)")),
        };
        return fail_overload(fn, {prototypes[0], prototypes[1], prototypes[2], prototypes[3], prototypes[4]});
    }

    static PyObject* value_of(PyObject*, PyObject* o)
    {
        static const char* fn = name("_value");
        Set* self;
        if (!qw::self(o, {fn, 1, self_const()}, self))
            return nullptr;
        return to_py(self->value());
    }

    // Converts the object (const or mutable) and the flags argument.
    template <bool Mutable>
    static bool operands(PyObject* args, const char* fn, Set*& self, Set& flags)
    {
        PyObject* a[2];
        if (!unpack(fn, args, 2, 2, a))
            return false;
        const bool converted = Mutable ? self_mut(a[0], {fn, 1, self_mutable()}, self)
                                       : qw::self(a[0], {fn, 1, self_const()}, self);
        if (!converted)
            return false;
        return flags_arg(a[1], {fn, 2, Tr::param}, flags);
    }

    template <const char* Suffix>
    static PyObject* has(PyObject*, PyObject* args)
    {
        Set* self;
        Set flags;
        if (!operands<false>(args, name(Suffix), self, flags))
            return nullptr;
        return to_py(self->has(flags));
    }

    // _add and _remove change the object itself.
    template <const char* Suffix, void (Set::*Member)(Set)>
    static PyObject* change(PyObject*, PyObject* args)
    {
        Set* self;
        Set flags;
        if (!operands<true>(args, name(Suffix), self, flags))
            return nullptr;
        (self->*Member)(flags);
        return none();
    }

    template <const char* Suffix, bool (Set::*Member)(Set) const>
    static PyObject* compare(PyObject*, PyObject* args)
    {
        Set* self;
        Set flags;
        if (!operands<false>(args, name(Suffix), self, flags))
            return not_implemented(nullptr);
        return to_py((self->*Member)(flags));
    }

    // Binary operators: the object is written 'FlagSet< E > *' but left unchanged.
    template <const char* Suffix, Set (Set::*Member)(Set) const>
    static PyObject* binary(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        PyObject* a[2];
        Set* self;
        Set flags;
        if (!unpack(fn, args, 2, 2, a) || !qw::self(a[0], {fn, 1, self_mutable()}, self) ||
            !flags_arg(a[1], {fn, 2, Tr::param}, flags))
            return not_implemented(nullptr);
        return not_implemented(call([&] { return value((self->*Member)(flags)); }));
    }

    // In-place operators: the result takes over the left handle's object.
    template <const char* Suffix, Set& (Set::*Member)(Set)>
    static PyObject* inplace(PyObject*, PyObject* args)
    {
        static const char* fn = name(Suffix);
        PyObject* a[2];
        Set* self;
        Set flags;
        if (!unpack(fn, args, 2, 2, a) || !self_mut(a[0], {fn, 1, self_mutable()}, self) ||
            !flags_arg(a[1], {fn, 2, Tr::param}, flags))
            return nullptr;
        (self->*Member)(flags);
        return inplace_result(a[0], self, type_of<Set>());
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
        m.add(str("new_", Tr::name), &construct, METH_VARARGS);
        m.add(str("delete_", Tr::name), &ClassOps<Tr>::del, METH_O);
        m.add(name("_value"), &value_of, METH_O, "Return the internal value");
        m.add(name(kHas), &has<kHas>, METH_VARARGS, "Check if a given set of flags is true.");
        m.add(name(kAdd), &change<kAdd, &Set::add>, METH_VARARGS, "Set the given set of flags to true.");
        m.add(name(kRemove), &change<kRemove, &Set::remove>, METH_VARARGS, "Set the given set of flags to false.");
        m.add(name(kEq), &compare<kEq, &Set::operator==>, METH_VARARGS);
        m.add(name(kNe), &compare<kNe, &Set::operator!=>, METH_VARARGS);
        m.add(name(kOr), &binary<kOr, &Set::operator|>, METH_VARARGS);
        m.add(name(kAnd), &binary<kAnd, &Set::operator&>, METH_VARARGS);
        m.add(name(kXor), &binary<kXor, &Set::operator^>, METH_VARARGS);
        m.add(name(kIor), &inplace<kIor, &Set::operator|=>, METH_VARARGS);
        m.add(name(kIand), &inplace<kIand, &Set::operator&=>, METH_VARARGS);
        m.add(name(kIxor), &inplace<kIxor, &Set::operator^=>, METH_VARARGS);
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
