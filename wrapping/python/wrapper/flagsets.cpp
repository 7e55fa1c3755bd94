// The six capability flag sets: one family of 14 functions over FlagSet<E>.
#include "core_args.h"
#include "native_types.h"
#include "quelbo/flags.h"
#include "runtime/members.h"

namespace {

using namespace qw;

// A set's traits: the Python class its alias names (<Flag>Set); the object's texts write the
// set as the row N does (the set's own, or its row whose argument has no
// namespace); param, copied and moved the set as a parameter; enumeration
// the flag.
template <class Set, class N = Set>
struct FlagSetTr : Traits<Set, N>
{
    using E = typename Set::Enum;
    static constexpr const char* name = ClassName<CapabilitySet<E>>::text;
    static constexpr const char* param = Named<Set>::text;
    static constexpr const char* copied = Named<const Set&>::text;
    static constexpr const char* moved = Named<Set&&>::text;
    static constexpr const char* enumeration = Named<E>::text;
};
// Each set: its type entry and traits.
#define QW_WRITTEN_SET(Flag) RowType<named_row("quelbo::FlagSet< " #Flag " >")>
QW_TYPE(quelbo::StreamAccessCapabilitySet);
using StreamTr = FlagSetTr<quelbo::StreamAccessCapabilitySet, QW_WRITTEN_SET(StreamAccessCapability)>;
QW_TYPE(quelbo::RandomAccessCapabilitySet);
using RandomTr = FlagSetTr<quelbo::RandomAccessCapabilitySet, QW_WRITTEN_SET(RandomAccessCapability)>;
QW_TYPE(quelbo::ParallelAccessCapabilitySet);
using ParallelTr = FlagSetTr<quelbo::ParallelAccessCapabilitySet>;
QW_TYPE(quelbo::ImageCapabilitySet);
using ImageTr = FlagSetTr<quelbo::ImageCapabilitySet, QW_WRITTEN_SET(ImageCapability)>;
QW_TYPE(quelbo::MultiImageCapabilitySet);
using MultiImageTr = FlagSetTr<quelbo::MultiImageCapabilitySet>;
QW_TYPE(quelbo::DataFrameCapabilitySet);
using DataFrameTr = FlagSetTr<quelbo::DataFrameCapabilitySet>;
#undef QW_WRITTEN_SET

template <class Tr>
struct FlagSetFamily
{
    using E = typename Tr::E;
    using Set = typename Tr::T;
    using Constant = Self<Set, &Tr::self_type>;
    using Flags = FlagsArg<E, &Tr::param>;

    // <Tr::name><Suffix>(object, flags): the object converted as kind S, the
    // set given by objectToFlagSet.
    template <const char* Suffix, class D, class S>
    struct Named : Declare<D, Params<S, Flags>>
    {
        static const char* name()
        {
            static const char* fn = joined(Tr::name, Suffix);
            return fn;
        }
    };
    template <const char* Suffix, class S, auto Member>
    struct Method : Named<Suffix, Method<Suffix, S, Member>, S>
    {
        static constexpr auto call = Member;
    };
    // Operators follow notImplementedRule.
    template <const char* Suffix, class S, auto Member>
    struct Operator : Named<Suffix, Operator<Suffix, S, Member>, S>
    {
        static constexpr auto call = Member;
        static PyObject* outcome(PyObject* r) { return not_implemented(r); }
    };
    // In-place operators: the result takes over the left handle's object.
    using Left = InPlaceSelf<Set, &Tr::mut_type>;
    template <const char* Suffix, Set& (Set::*Member)(Set)>
    struct InPlace : Named<Suffix, InPlace<Suffix, Member>, Left>
    {
        static constexpr auto call = [](typename Left::value& left, Set flags) {
            (left.object->*Member)(flags);
            return left.result();
        };
    };

    struct new_empty : Candidate<Params<>, 0>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [] { return constructed(new Set()); };
    };
    struct new_copy : Candidate<Params<Ref<Set, &Tr::copied>>, 3>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](const Set& other) { return constructed(new Set(other)); };
    };
    struct new_flag : Candidate<Params<Arg<int32_t, &Tr::enumeration>>, 2>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](int32_t v) { return constructed(new Set(static_cast<E>(v))); };
    };
    struct new_bits : Candidate<Params<Arg<uint64_t, text::u64>>, 1>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](uint64_t v) { return constructed(new Set(v)); };
    };
    struct new_moved : Candidate<Params<Ref<Set, &Tr::moved>>, 4>
    {
        static constexpr const char* member = Tr::constructor;
    };
    struct construct : DeclareOverloads<construct, new_empty, new_copy, new_flag, new_bits, ListedOnly<new_moved>>,
                       NewName<Tr>
    {
    };

    // The binary operators write the object 'FlagSet< E > *' but leave it unchanged.
    using Written = Self<Set, &Tr::mut_type>;
    using Changing = SelfMut<Set, &Tr::mut_type>;

    static void add(Methods& m)
    {
        m.add<construct>();
        m.add<Delete<Tr>>();
        add_const_getter<Tr, QW_NAME("value"), &Set::value>(m, "Return the internal value");
        m.add<Method<QW_NAME("_has"), Constant, &Set::has>>("Check if a given set of flags is true.");
        m.add<Method<QW_NAME("_add"), Changing, &Set::add>>("Set the given set of flags to true.");
        m.add<Method<QW_NAME("_remove"), Changing, &Set::remove>>("Set the given set of flags to false.");
        m.add < Operator < QW_NAME("___eq__"), Constant, &Set::operator==>>();
        m.add < Operator < QW_NAME("___ne__"), Constant, &Set::operator!=>>();
        m.add < Operator < QW_NAME("___or__"), Written, &Set::operator|>>();
        m.add < Operator < QW_NAME("___and__"), Written, &Set::operator&>>();
        m.add < Operator < QW_NAME("___xor__"), Written, &Set::operator^>>();
        m.add < InPlace < QW_NAME("___ior__"), &Set::operator|=>>();
        m.add < InPlace < QW_NAME("___iand__"), &Set::operator&=>>();
        m.add < InPlace < QW_NAME("___ixor__"), &Set::operator^=>>();
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

QW_FAMILY(add_flagsets);

} // namespace
