// The dynamic region RegionXu64.
#include "regions.h"

namespace {

using namespace qw;
using regions::RegionOps;

QW_TYPE(quelbo::RegionXu64, "_p_quelbo__RegionXT_uint64_t_t");

struct RegionXTr
{
    using T = quelbo::RegionXu64;
    static constexpr const char* name = "RegionXu64";
    static constexpr const char* native = "quelbo::RegionX< uint64_t >";
};

using Ops = RegionOps<RegionXTr>;
using R = quelbo::RegionXu64;

PyObject* new_RegionXu64(PyObject*, PyObject* args)
{
    static const char* fn = "new_RegionXu64";
    // The copy comes first, so the move constructor is never reached.
    static const Overloads rows(
        fn, {{"quelbo::RegionX< uint64_t >::RegionX(quelbo::RegionX< uint64_t > const &)", 1, 1,
              [](Args a, Py_ssize_t) { return is_obj<R>(a[0]); },
              [](Args a, Py_ssize_t) { return Ops::copy(fn, a[0]); }, 1},
             {"quelbo::RegionX< uint64_t >::RegionX(size_t)", 1, 1, [](Args a, Py_ssize_t) { return is<size_t>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  size_t dimensionCount;
                  if (!arg(a[0], {fn, 1, "size_t"}, dimensionCount))
                      return nullptr;
                  return call([&] { return constructed(new R(dimensionCount)); });
              },
              0},
             {"quelbo::RegionX< uint64_t >::RegionX(quelbo::RegionX< uint64_t >::VectorType const &,quelbo::RegionX< "
              "uint64_t >::SizeType const &)",
              2, 2, [](Args a, Py_ssize_t) { return is_seq(a[0]) && is_seq(a[1]); },
              [](Args a, Py_ssize_t) { return Ops::from_sequences(a[0], a[1]); }, 3},
             {"quelbo::RegionX< uint64_t >::RegionX(quelbo::RegionX< uint64_t > &&)", 1, 1, listed_only, nullptr, 2}});
    return rows(args);
}

// The static makers take a vector given as a sequence of any length.
template <R (*Make)(R::VectorType const&)>
PyObject* make_from_sequence(PyObject*, PyObject* o)
{
    R::VectorType v;
    if (!sequence_to_vector(o, v))
        return nullptr;
    return call([&] { return value(Make(v)); });
}

PyObject* RegionXu64_get_dimension_count(PyObject*, PyObject* o)
{
    R* r;
    if (!self(o, {"RegionXu64_get_dimension_count", 1, "quelbo::RegionX< uint64_t > const *"}, r))
        return nullptr;
    return to_py(r->dimensionCount());
}

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
    m.add<&new_RegionXu64>(
        "new_RegionXu64", METH_VARARGS,
        "\n*Overload 1:*\n\nCreates an empty region.\n\n:type dimension: int\n:param dimension: The dimension of "
        "the region.\n\n|\n\n*Overload 2:*\n copy constructor\n\n|\n\n*Overload 3:*\n move constructor\n\n|\n\n*"
        "Overload 4:*\n\nBuilds a region from its origin and size.\n");
    m.add<&ClassOps<RegionXTr>::del>("delete_RegionXu64", METH_O);
    m.add<&make_from_sequence<&R::fromIndex>>("RegionXu64_from_index", METH_O);
    m.add<&make_from_sequence<&R::createFullRegion>>(
        "RegionXu64_create_full_region", METH_O,
        "Utility factory that create the region of origin [0, 0, 0] and given size.");
    m.add<&RegionXu64_get_dimension_count>("RegionXu64_get_dimension_count", METH_O, "The dimension of this region.");
    Ops::add_members<true>(m, docs);
    add_hooks<R>(m, RegionXTr::name);
}

QW_FAMILY(order::regionx, add_regionx);

} // namespace
