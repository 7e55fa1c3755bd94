// The fixed regions Region2u64, Region3u64 and Region4u64: one family over N.
#include "regions.h"
#include "runtime/members.h"

namespace {

using namespace qw;
using regions::RegionOps;
using regions::with_native;

QW_TYPE(quelbo::Region2u64, "_p_quelbo__RegionT_uint64_t_2_t");
QW_TYPE(quelbo::Region3u64, "_p_quelbo__RegionT_uint64_t_3_t");
QW_TYPE(quelbo::Region4u64, "_p_quelbo__RegionT_uint64_t_4_t");

constexpr const char* kNames[] = {"", "", "Region2u64", "Region3u64", "Region4u64"};
constexpr const char* kNatives[] = {"", "", "quelbo::Region< uint64_t,2 >", "quelbo::Region< uint64_t,3 >",
                                    "quelbo::Region< uint64_t,4 >"};

template <std::size_t N>
struct FixedTr
{
    using T = quelbo::Region<uint64_t, N>;
    static constexpr const char* name = kNames[N];
    static constexpr const char* native = kNatives[N];
};

template <std::size_t N>
struct FixedRegion : RegionOps<FixedTr<N>>
{
    using Tr = FixedTr<N>;
    using Ops = RegionOps<Tr>;
    using R = typename Tr::T;

    // N for every region, a null one included: nothing is read.
    static PyObject* get_dimension_count(PyObject*, PyObject* o)
    {
        static const char* fn = Ops::name("get_dimension_count");
        R* r;
        if (!ptr(o, {fn, 1, Ops::self_type()}, r))
            return nullptr;
        return to_py(R::dimensionCount());
    }

    static PyObject* construct(PyObject*, PyObject* args)
    {
        static const char* fn = joined("new_", Tr::name);
        static const char* proto = joined(Tr::native, "::Region(");
        static const Overloads rows(
            fn, {{joined(proto, ")"), 0, 0, nullptr,
                  [](Args, Py_ssize_t) { return call([] { return constructed(new R()); }); }, 0},
                 {joined(proto, "RegionX< uint64_t > const &)"), 1, 1,
                  [](Args a, Py_ssize_t) { return is_obj<quelbo::RegionXu64>(a[0]); },
                  [](Args a, Py_ssize_t) -> PyObject* {
                      quelbo::RegionXu64* dynamic;
                      if (!ref(a[0], {fn, 1, "RegionX< uint64_t > const &"}, dynamic))
                          return nullptr;
                      return call([&] { return constructed(new R(*dynamic)); });
                  },
                  2},
                 {joined(proto, Tr::native, " const &)"), 1, 1, [](Args a, Py_ssize_t) { return is_obj<R>(a[0]); },
                  [](Args a, Py_ssize_t) { return Ops::copy(fn, a[0]); }, 3},
                 {joined(proto, with_native("@::VectorType const &,@::SizeType const &)", Tr::native)), 2, 2,
                  [](Args a, Py_ssize_t) { return is_seq(a[0]) && is_seq(a[1]); },
                  [](Args a, Py_ssize_t) { return Ops::from_sequences(a[0], a[1]); }, 1}});
        return rows(args);
    }

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
        m.add<&construct>(joined("new_", Tr::name), METH_VARARGS);
        m.add<Delete<Tr>>();
        m.add<&get_dimension_count>(Ops::name("get_dimension_count"), METH_O,
                                    "Return number of dimension of this region");
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

QW_FAMILY(order::regions, add_fixed_regions);

} // namespace
