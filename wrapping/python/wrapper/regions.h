// Flat functions shared by the fixed regions (Region2u64 .. Region4u64) and
// the dynamic region (RegionXu64), over a class's traits (RegionTr).
#pragma once

#include <string>

#include "core_args.h"
#include "quelbo/region.h"
#include "runtime/members.h"
#include "native_types.h"

namespace qw {
namespace regions {

// Docstrings of the shared members; null where the member has none.
struct Docs
{
    const char* origin;
    const char* size;
    const char* min;
    const char* max;
    const char* element_count;
    const char* is_empty;
    const char* contains;
    const char* intersect;
    const char* intersection;
    const char* slice;
    const char* eq;
    const char* to_string;
};

// A persistent copy of `text` with every '@' replaced by `native`.
inline const char* with_native(const char* text, const char* native)
{
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '@')
            out += native;
        else
            out += *c;
    }
    return intern(out);
}

// The slicing docstring, the same for every region class but its result type.
constexpr const char* kSliceDoc =
    "\nReturns a region of size one along one axis\n\n:type dimension: int\n:param dimension: axis on which the "
    "slice must be selected\n:type origin: int\n:param origin: position of slice in given dimension\n\n:rtype: "
    "@\n:return: the slice at given position for given dimension\n:raises: InvalidArgument if dimension or origin "
    "are out of range\n\ne.g. a 3D region {{0, 0, 0}, {5, 6, 7}}\n- extractSliceFromAxis(0, 3) returns 3D region "
    "{{3, 0, 0}, {1, 6, 7}}\n- extractSliceFromAxis(1, 4) returns 3D region {{0, 4, 0}, {5, 1, 7}}\n- "
    "extractSliceFromAxis(2, 5) returns 3D region {{0, 0, 5}, {5, 6, 1}}\n\ne.g. a 3D region with non-null origin { "
    "{2, 3, 4}, {5, 6, 7}}\n\nextractSliceFromAxis(0, 3) returns 3D region {{5, 3, 4}, {1, 6, 7}}\n";

// Member names, as template arguments of the generic members.

// A class's traits: its texts write the class by its template form
// ("quelbo::Region< uint64_t,2 >"), its position and size arguments as its
// own nested types.
template <class R, class N = AsTemplate<R>>
struct RegionTr : TemplateTraits<R>
{
    static constexpr const char* vector_type = Named<const Nested<N, QW_NAME("VectorType")>&>::text;
    static constexpr const char* size_type = Named<const Nested<N, QW_NAME("SizeType")>&>::text;
    static constexpr const char* contains = member_of<N, QW_NAME("contains")>;
};

template <class Tr>
struct RegionOps
{
    using R = typename Tr::T;

    // Argument kinds: the region, another one, a position and a size given as
    // sequences.
    using Const = Self<R, &Tr::self_type>;
    using Other = Ref<R, &Tr::other_type>;
    using Vector = Seq<typename R::VectorType, &Tr::vector_type>;
    using Size = Seq<typename R::SizeType, &Tr::size_type>;

    // contains(region) or contains(position given as a sequence).
    template <class K>
    struct Contains : Candidate<Params<Const, K>>
    {
        static constexpr const char* member = Tr::contains;
        static constexpr const char* suffix = " const";
        static constexpr auto call = [](const R* r, const auto& other) { return r->contains(other); };
    };
    struct contains : DeclareOverloads<contains, Contains<Other>, Contains<Vector>>, MemberName<Tr, QW_NAME("contains")>
    {
    };

    // Constructor candidates shared by the families (Decl: the place in the
    // message).
    template <int Decl>
    struct new_copy : Candidate<Params<Other>, Decl>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](const R& other) { return constructed(new R(other)); };
    };
    // Origin then size, each converted completely before the next is looked at.
    template <int Decl>
    struct new_sequences : Candidate<Params<Vector, Size>, Decl>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](const typename R::VectorType& origin, const typename R::SizeType& size) {
            return constructed(new R(origin, size));
        };
    };

    // The members from get_origin to to_string, in interface order; the
    // dynamic region also has __ne__.
    template <bool WithNe>
    static void add_members(Methods& m, const Docs& d)
    {
        add_const_getter<Tr, QW_NAME("get_origin"), &R::origin>(m, d.origin);
        add_const_getter<Tr, QW_NAME("get_size"), &R::size>(m, d.size);
        add_const_getter<Tr, QW_NAME("get_min"), &R::min>(m, d.min);
        add_const_getter<Tr, QW_NAME("get_max"), &R::max>(m, d.max);
        add_const_getter<Tr, QW_NAME("get_element_count"), &R::elementCount>(m, d.element_count);
        add_const_getter<Tr, QW_NAME("get_is_empty"), &R::isEmpty>(m, d.is_empty);
        m.add<contains>(d.contains);
        m.add<Member<Tr, QW_NAME("intersect"), &R::intersect, Const, Other>>(d.intersect);
        m.add<Member<Tr, QW_NAME("intersection"), &R::intersection, Const, Other>>(d.intersection);
        m.add<Member<Tr, QW_NAME("extract_slice_from_axis"), &R::extractSliceFromAxis, Const, Arg<size_t, text::size>,
                     Arg<uint64_t, text::u64>>>(d.slice);
        m.add<ObjectCompare<Tr, true>>(d.eq);
        if constexpr (WithNe)
            m.add<ObjectCompare<Tr, false>>();
        add_const_getter<Tr, QW_NAME("to_string"), &R::toString>(m, d.to_string);
    }
};

} // namespace regions
} // namespace qw
