// The fixed regions Region2u64, Region3u64 and Region4u64: one family over N.
#include "regions.h"
#include "runtime/members.h"

namespace {

using namespace qw;
using regions::RegionOps;
using regions::with_native;

QW_TYPE(quelbo::Region2u64);
QW_TYPE(quelbo::Region3u64);
QW_TYPE(quelbo::Region4u64);

template <std::size_t N>
using FixedTr = regions::RegionTr<quelbo::Region<uint64_t, N>>;

template <std::size_t N>
struct FixedRegion : RegionOps<FixedTr<N>>
{
    using Tr = FixedTr<N>;
    using Ops = RegionOps<Tr>;
    using R = typename Tr::T;

    // N for every region, a null one included: nothing is read.
    static std::size_t dimension_count(const R*) { return R::dimensionCount(); }
    using get_dimension_count = Member<Tr, QW_NAME("get_dimension_count"), &dimension_count, Ptr<R, &Tr::self_type>>;

    struct new_empty : Candidate<Params<>, 0>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [] { return constructed(new R()); };
    };
    struct new_dynamic : Candidate<Params<Ref<quelbo::RegionXu64, QW_NAME("RegionX< uint64_t > const &")>>, 2>
    {
        static constexpr const char* member = Tr::constructor;
        static constexpr auto call = [](const quelbo::RegionXu64& dynamic) { return constructed(new R(dynamic)); };
    };
    struct construct : DeclareOverloads<construct, new_empty, new_dynamic, typename Ops::template new_copy<3>,
                                        typename Ops::template new_sequences<1>>,
                       NewName<Tr>
    {
    };

    static void add(Methods& m)
    {
        static const regions::Docs docs{
            "Return region's origin",
            with_native("\nreturn size of region\n:rtype: @::SizeType\n:return: size vector of the region\n",
                        Tr::native),
            with_native("\nreturn min region coordinates\n:rtype: @::VectorType\n:return: min region vector\n",
                        Tr::native),
            with_native("\nreturn max region coordinates\n:rtype: @::VectorType\n:return: max region vector\n",
                        Tr::native),
            "\nReturn number of elements (pixel, voxel, samples) contained in the region.\nFor "
            "Integer-indexed-regions, it return product of each dimensions.\nThis method has no sense for "
            "Float-indexed-regions and thus return 0\n",
            "\nIndicates if region is empty\n:rtype: boolean\n:return: if region is empty\n",
            with_native("\n*Overload 1:*\n\nReturns if the current region contains the given one\n:type other: "
                        "@\n:param other: region to test if it is contained into current one\n:rtype: "
                        "boolean\n:return: if the given region is contained into current one\n\n|\n\n*Overload "
                        "2:*\n\nReturns if the given region contains the given position vector\n:type position: "
                        "@::VectorType\n:param position: point to test if it is contained into current "
                        "one\n:rtype: boolean\n:return: if the given position is contained into current region\n",
                        Tr::native),
            with_native("\n:type other: @\n:param other: region to test if it intersects with current "
                        "one\n:rtype: boolean\n:return: if the given region intersects current region\n",
                        Tr::native),
            with_native("\nReturns the intersection region between current and given one\n:type other: "
                        "@\n:param other: region\n:rtype: @\n:return: intersection region if it intersects or "
                        "empty region otherwise\n",
                        Tr::native),
            with_native(regions::kSliceDoc, Tr::native),
            with_native("\n:type other: @\n:param other: region\n:rtype: boolean\n:return: if current region and "
                        "given one are identical\n    (same origin if both null size, same origin and size "
                        "otherwise)\n",
                        Tr::native),
            "Return a string representation",
        };
        m.add<construct>();
        m.add<Delete<Tr>>();
        m.add<get_dimension_count>("Return number of dimension of this region");
        Ops::template add_members<false>(m, docs);
        add_hooks<R>(m, Tr::name);
    }
};

void add_fixed_regions(Methods& m)
{
    FixedRegion<2>::add(m);
    FixedRegion<3>::add(m);
    FixedRegion<4>::add(m);
}

QW_FAMILY(add_fixed_regions);

} // namespace
