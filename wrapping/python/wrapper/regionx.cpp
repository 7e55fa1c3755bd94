// The dynamic region RegionXu64.
#include "regions.h"
#include "runtime/members.h"

namespace {

using namespace qw;
using regions::RegionOps;

QW_TYPE(quelbo::RegionXu64);

using RegionXTr = regions::RegionTr<quelbo::RegionXu64>;

using Ops = RegionOps<RegionXTr>;
using R = quelbo::RegionXu64;
using Vector = Ops::Vector;
using Size = Ops::Size;

struct new_count : Candidate<Params<Arg<size_t, text::size>>, 0>
{
    static constexpr const char* member = RegionXTr::constructor;
    static constexpr auto call = [](size_t dimensionCount) { return constructed(new R(dimensionCount)); };
};
struct new_moved : Candidate<Params<Ref<R, &RegionXTr::moved_type>>, 2>
{
    static constexpr const char* member = RegionXTr::constructor;
};
// The copy comes first, so the move constructor is never reached.
struct new_regionx
    : DeclareOverloads<new_regionx, Ops::new_copy<1>, new_count, Ops::new_sequences<3>, ListedOnly<new_moved>>
{
    static constexpr const char* name = "new_RegionXu64";
    static constexpr const char* doc =
        "\n*Overload 1:*\n\nCreates an empty region.\n\n:type dimension: int\n:param dimension: The dimension of "
        "the region.\n\n|\n\n*Overload 2:*\n copy constructor\n\n|\n\n*Overload 3:*\n move constructor\n\n|\n\n*"
        "Overload 4:*\n\nBuilds a region from its origin and size.\n";
};

// The static makers take a vector given as a sequence of any length.
using from_index = Fn<QW_NAME("RegionXu64_from_index"), &R::fromIndex, Vector>;
using create_full_region = Fn<QW_NAME("RegionXu64_create_full_region"), &R::createFullRegion, Size>;

void add_regionx(Methods& m)
{
    static const regions::Docs docs{
        "Returns the position of the region's origin.",
        "Returns the region's size.",
        "\nReturns the minimal point of the region.\n\nAlias for origin.\n",
        "Return the maximal point of the region.",
        "\nReturns the number of cells in this region.\n\nOnly applicable to integer typed regions.\nIt will return 0 "
        "for floating point regions.\n",
        "\nChecks if the region is empty.\n\nAn integer typed region is empty if one of its sizes is 0.\nA floating "
        "point region is empty is one of its sizes is Nan.\n",
        "\n*Overload 1:*\n\nChecks if this region conatins another.\n:raises: InvalidArgument if region don't have "
        "compatible dimensions\n\n|\n\n*Overload 2:*\n\nChecks if this region contains a point.\n:raises: "
        "InvalidArgument if region don't have compatible dimensions\n",
        "\nChecks if this region intersect another.\n:raises: InvalidArgument if region don't have compatible "
        "dimensions\n",
        "\nReturns the intersection of this region and another.\n\nIf regions does not intersect, it returns an empty "
        "region.\n:raises: InvalidArgument if region don't have compatible dimensions\n",
        regions::with_native(regions::kSliceDoc, RegionXTr::native),
        nullptr,
        "Return a string representation",
    };
    m.add<new_regionx>();
    m.add<Delete<RegionXTr>>();
    m.add<from_index>();
    m.add<create_full_region>("Utility factory that create the region of origin [0, 0, 0] and given size.");
    add_const_getter<RegionXTr, QW_NAME("get_dimension_count"), &R::dimensionCount>(m, "The dimension of this region.");
    Ops::add_members<true>(m, docs);
    add_hooks<R>(m, RegionXTr::name);
}

QW_FAMILY(add_regionx);

} // namespace
