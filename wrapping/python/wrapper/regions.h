// Flat functions shared by the fixed regions (Region2u64 .. Region4u64) and
// the dynamic region (RegionXu64). A family is described by a traits struct:
//   struct Tr { using T = quelbo::Region2u64; static constexpr const char* name = "Region2u64";
//               static constexpr const char* native = "quelbo::Region< uint64_t,2 >"; };
#pragma once

#include <string>
#include <type_traits>

#include "common/item_parser.h"
#include "quelbo/region.h"
#include "runtime/wrap.h"

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
inline constexpr char kOrigin[] = "get_origin";
inline constexpr char kSize[] = "get_size";
inline constexpr char kMin[] = "get_min";
inline constexpr char kMax[] = "get_max";
inline constexpr char kElementCount[] = "get_element_count";
inline constexpr char kIsEmpty[] = "get_is_empty";
inline constexpr char kIntersect[] = "intersect";
inline constexpr char kIntersection[] = "intersection";
inline constexpr char kEq[] = "__eq__";
inline constexpr char kNe[] = "__ne__";
inline constexpr char kToString[] = "to_string";

template <class Tr>
struct RegionOps
{
    using R = typename Tr::T;
    using V = typename R::VectorType;

    static const char* name(const char* member) { return joined(Tr::name, "_", member); }
    static const char* self_type()
    {
        static const char* const t = joined(Tr::native, " const *");
        return t;
    }
    static const char* ref_type()
    {
        static const char* const t = joined(Tr::native, " const &");
        return t;
    }

    // A library result: numbers, flags and text as Python values, regions and
    // vectors as new objects owning a copy.
    template <class X>
    static PyObject* result(const X& x)
    {
        if constexpr (std::is_arithmetic<X>::value || std::is_same<X, std::string>::value)
            return to_py(x);
        else
            return value(x);
    }

    // A query of the region alone (single-object form).
    template <auto Member, const char* Name>
    static PyObject* query(PyObject*, PyObject* o)
    {
        static const char* fn = name(Name);
        R* r;
        if (!self(o, {fn, 1, self_type()}, r))
            return nullptr;
        return call([&] { return result((r->*Member)()); });
    }

    // A member taking the region and one other region.
    template <auto Member, const char* Name>
    static PyObject* with_other(PyObject*, PyObject* args)
    {
        static const char* fn = name(Name);
        PyObject* a[2];
        R* r;
        R* other;
        if (!unpack(fn, args, 2, 2, a) || !self(a[0], {fn, 1, self_type()}, r) ||
            !ref(a[1], {fn, 2, ref_type()}, other))
            return nullptr;
        return call([&] { return result((r->*Member)(*other)); });
    }

    // notImplementedRule over a comparison.
    template <auto Member, const char* Name>
    static PyObject* compare(PyObject* module, PyObject* args)
    {
        return not_implemented(with_other<Member, Name>(module, args));
    }

    // contains(region) or contains(position given as a sequence).
    static PyObject* contains(PyObject*, PyObject* args)
    {
        static const char* fn = name("contains");
        static const Overloads rows(
            fn, {{joined(Tr::native, "::contains(", joined(Tr::native, " const &) const")), 2, 2,
                  [](Args a, Py_ssize_t) { return is_obj<R>(a[0], true) && is_obj<R>(a[1]); },
                  [](Args a, Py_ssize_t) -> PyObject* {
                      R *r, *other;
                      if (!self(a[0], {fn, 1, self_type()}, r) || !ref(a[1], {fn, 2, ref_type()}, other))
                          return nullptr;
                      return call([&] { return to_py(r->contains(*other)); });
                  }},
                 {joined(Tr::native, "::contains(", joined(Tr::native, "::VectorType const &) const")), 2, 2,
                  [](Args a, Py_ssize_t) { return is_obj<R>(a[0], true) && is_seq(a[1]); },
                  [](Args a, Py_ssize_t) -> PyObject* {
                      R* r;
                      V position;
                      if (!self(a[0], {fn, 1, self_type()}, r) || !sequence_to_vector(a[1], position))
                          return nullptr;
                      return call([&] { return to_py(r->contains(position)); });
                  }}});
        return rows(args);
    }

    static PyObject* extract_slice_from_axis(PyObject*, PyObject* args)
    {
        static const char* fn = name("extract_slice_from_axis");
        PyObject* a[3];
        R* r;
        size_t dimension;
        uint64_t origin;
        if (!unpack(fn, args, 3, 3, a) || !self(a[0], {fn, 1, self_type()}, r) ||
            !arg(a[1], {fn, 2, "size_t"}, dimension) || !arg(a[2], {fn, 3, "uint64_t"}, origin))
            return nullptr;
        return call([&] { return value(r->extractSliceFromAxis(dimension, origin)); });
    }

    // Constructor candidates shared by the families.
    static PyObject* copy(const char* fn, PyObject* o)
    {
        R* other;
        if (!ref(o, {fn, 1, ref_type()}, other))
            return nullptr;
        return call([&] { return constructed(new R(*other)); });
    }

    // Origin then size, each converted completely before the next is looked at.
    static PyObject* from_sequences(PyObject* origin_seq, PyObject* size_seq)
    {
        typename R::VectorType origin;
        typename R::SizeType size;
        if (!sequence_to_vector(origin_seq, origin) || !sequence_to_vector(size_seq, size))
            return nullptr;
        return call([&] { return constructed(new R(origin, size)); });
    }

    // The members from get_origin to to_string, in interface order; the
    // dynamic region also has __ne__.
    template <bool WithNe>
    static void add_members(Methods& m, const Docs& d)
    {
        m.add<&query<&R::origin, kOrigin>>(name(kOrigin), METH_O, d.origin);
        m.add<&query<&R::size, kSize>>(name(kSize), METH_O, d.size);
        m.add<&query<&R::min, kMin>>(name(kMin), METH_O, d.min);
        m.add<&query<&R::max, kMax>>(name(kMax), METH_O, d.max);
        m.add<&query<&R::elementCount, kElementCount>>(name(kElementCount), METH_O, d.element_count);
        m.add<&query<&R::isEmpty, kIsEmpty>>(name(kIsEmpty), METH_O, d.is_empty);
        m.add<&contains>(name("contains"), METH_VARARGS, d.contains);
        m.add<&with_other<&R::intersect, kIntersect>>(name(kIntersect), METH_VARARGS, d.intersect);
        m.add<&with_other<&R::intersection, kIntersection>>(name(kIntersection), METH_VARARGS, d.intersection);
        m.add<&extract_slice_from_axis>(name("extract_slice_from_axis"), METH_VARARGS, d.slice);
        m.add<&compare<&R::operator==, kEq>>(name(kEq), METH_VARARGS, d.eq);
        if constexpr (WithNe)
            m.add<&compare<&R::operator!=, kNe>>(name(kNe), METH_VARARGS, nullptr);
        m.add<&query<&R::toString, kToString>>(name(kToString), METH_O, d.to_string);
    }
};

} // namespace regions
} // namespace qw
