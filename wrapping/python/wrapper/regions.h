// Flat functions shared by the fixed regions (Region2u64 .. Region4u64) and
// the dynamic region (RegionXu64). A family is described by a traits struct:
//   struct Tr { using T = quelbo::Region2u64; static constexpr const char* name = "Region2u64";
//               static constexpr const char* native = "quelbo::Region< uint64_t,2 >"; };
#pragma once

#include <string>

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

template <class Tr>
struct RegionOps
{
    using R = typename Tr::T;
    using V = typename R::VectorType;

    static const char* name(const char* member) { return str(Tr::name, "_", member); }
    static const char* self_type() { return str(Tr::native, " const *"); }
    static const char* ref_type() { return str(Tr::native, " const &"); }

    // A query of the region alone (single-object form); Q::get makes the result.
    template <class Q>
    static PyObject* query(PyObject*, PyObject* o)
    {
        static const char* fn = name(Q::name);
        R* r;
        if (!self(o, {fn, 1, self_type()}, r))
            return nullptr;
        return call([&] { return Q::get(*r); });
    }

    struct Origin
    {
        static constexpr const char* name = "get_origin";
        static PyObject* get(const R& r) { return value(r.origin()); }
    };
    struct Size
    {
        static constexpr const char* name = "get_size";
        static PyObject* get(const R& r) { return value(r.size()); }
    };
    struct Min
    {
        static constexpr const char* name = "get_min";
        static PyObject* get(const R& r) { return value(r.min()); }
    };
    struct Max
    {
        static constexpr const char* name = "get_max";
        static PyObject* get(const R& r) { return value(r.max()); }
    };
    struct ElementCount
    {
        static constexpr const char* name = "get_element_count";
        static PyObject* get(const R& r) { return to_py(r.elementCount()); }
    };
    struct IsEmpty
    {
        static constexpr const char* name = "get_is_empty";
        static PyObject* get(const R& r) { return to_py(r.isEmpty()); }
    };
    struct ToString
    {
        static constexpr const char* name = "to_string";
        static PyObject* get(const R& r) { return to_py(r.toString()); }
    };

    // A member taking the region and one other region; Op::get makes the result.
    template <class Op>
    static PyObject* with_other(const char* fn, PyObject* args)
    {
        PyObject* a[2];
        R* r;
        R* other;
        if (!unpack(fn, args, 2, 2, a) || !self(a[0], {fn, 1, self_type()}, r) ||
            !ref(a[1], {fn, 2, ref_type()}, other))
            return nullptr;
        return call([&] { return Op::get(*r, *other); });
    }

    struct Intersect
    {
        static PyObject* get(const R& r, const R& o) { return to_py(r.intersect(o)); }
    };
    struct Intersection
    {
        static PyObject* get(const R& r, const R& o) { return value(r.intersection(o)); }
    };
    struct Equal
    {
        static PyObject* get(const R& r, const R& o) { return to_py(r == o); }
    };
    struct NotEqual
    {
        static PyObject* get(const R& r, const R& o) { return to_py(r != o); }
    };

    static PyObject* intersect(PyObject*, PyObject* args)
    {
        static const char* fn = name("intersect");
        return with_other<Intersect>(fn, args);
    }

    static PyObject* intersection(PyObject*, PyObject* args)
    {
        static const char* fn = name("intersection");
        return with_other<Intersection>(fn, args);
    }

    static PyObject* eq(PyObject*, PyObject* args)
    {
        static const char* fn = name("__eq__");
        return not_implemented(with_other<Equal>(fn, args));
    }

    static PyObject* ne(PyObject*, PyObject* args)
    {
        static const char* fn = name("__ne__");
        return not_implemented(with_other<NotEqual>(fn, args));
    }

    // contains(region) or contains(position given as a sequence).
    static PyObject* contains(PyObject*, PyObject* args)
    {
        static const char* fn = name("contains");
        PyObject* a[2];
        Py_ssize_t n;
        if (unpack(fn, args, 0, 2, a, &n) && n == 2 && is_obj<R>(a[0], true)) {
            R* r;
            if (is_obj<R>(a[1])) {
                R* other;
                if (!self(a[0], {fn, 1, self_type()}, r) || !ref(a[1], {fn, 2, ref_type()}, other))
                    return nullptr;
                return call([&] { return to_py(r->contains(*other)); });
            }
            if (is_seq(a[1])) {
                V position;
                if (!self(a[0], {fn, 1, self_type()}, r) || !sequence_to_vector(a[1], position))
                    return nullptr;
                return call([&] { return to_py(r->contains(position)); });
            }
        }
        return fail_overload(fn, {str(Tr::native, "::contains(", str(Tr::native, " const &) const")),
                                  str(Tr::native, "::contains(", str(Tr::native, "::VectorType const &) const"))});
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
        m.add(name(Origin::name), &query<Origin>, METH_O, d.origin);
        m.add(name(Size::name), &query<Size>, METH_O, d.size);
        m.add(name(Min::name), &query<Min>, METH_O, d.min);
        m.add(name(Max::name), &query<Max>, METH_O, d.max);
        m.add(name(ElementCount::name), &query<ElementCount>, METH_O, d.element_count);
        m.add(name(IsEmpty::name), &query<IsEmpty>, METH_O, d.is_empty);
        m.add(name("contains"), &contains, METH_VARARGS, d.contains);
        m.add(name("intersect"), &intersect, METH_VARARGS, d.intersect);
        m.add(name("intersection"), &intersection, METH_VARARGS, d.intersection);
        m.add(name("extract_slice_from_axis"), &extract_slice_from_axis, METH_VARARGS, d.slice);
        m.add(name("__eq__"), &eq, METH_VARARGS, d.eq);
        if constexpr (WithNe)
            m.add(name("__ne__"), &ne, METH_VARARGS, nullptr);
        m.add(name(ToString::name), &query<ToString>, METH_O, d.to_string);
    }
};

} // namespace regions
} // namespace qw
