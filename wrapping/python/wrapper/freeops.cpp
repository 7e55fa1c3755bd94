// The operators of the library's namespace: __or__ (image dimensions into an
// ImageType), __and__ and __xor__ (capability enumerators into a set) and
// __lshift__ (a data type's text into an output stream). All four follow
// notImplementedRule and never raise the overload message.
#include <ostream>

#include "core_args.h"
#include "quelbo/flags.h"
#include "quelbo/image_type.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageType;

QW_TYPE(std::ostream, "_p_std__ostream");

// Exactly two operands, or nothing (a count error is cleared by the caller).
bool two(const char* fn, PyObject* args, PyObject** a)
{
    return unpack(fn, args, 2, 2, a);
}

PyObject* or_operator(PyObject*, PyObject* args)
{
    PyObject* a[2];
    if (!two("__or__", args, a) || !is<int32_t>(a[0]))
        return not_implemented(nullptr);
    int32_t first;
    arg(a[0], {"__or__", 1, "quelbo::ImageDimension"}, first);
    const auto d = static_cast<ImageDimension>(first);
    if (is_obj<ImageType>(a[1])) {
        ImageType* type;
        if (!ref(a[1], {"__or__", 2, "quelbo::ImageType const &"}, type))
            return not_implemented(nullptr);
        return not_implemented(call([&] { return value(*type | d); }));
    }
    if (is<int32_t>(a[1])) {
        int32_t second;
        arg(a[1], {"__or__", 2, "quelbo::ImageDimension"}, second);
        // unknown dimensions are refused by the library
        return not_implemented(call([&] { return value(d | static_cast<ImageDimension>(second)); }));
    }
    return not_implemented(nullptr);
}

// __and__ and __xor__: the first enumerator pair, StreamAccessCapability,
// takes every call with two 32-bit ints.
template <bool And>
PyObject* combine(PyObject*, PyObject* args)
{
    using E = quelbo::StreamAccessCapability;
    const char* fn = And ? "__and__" : "__xor__";
    PyObject* a[2];
    if (!two(fn, args, a) || !is<int32_t>(a[0]) || !is<int32_t>(a[1]))
        return not_implemented(nullptr);
    int32_t x, y;
    arg(a[0], {fn, 1, "quelbo::StreamAccessCapability"}, x);
    arg(a[1], {fn, 2, "quelbo::StreamAccessCapability"}, y);
    return not_implemented(call([&] { return value(And ? E(x) & E(y) : E(x) ^ E(y)); }));
}

PyObject* lshift_operator(PyObject*, PyObject* args)
{
    const char* fn = "__lshift__";
    PyObject* a[2];
    std::ostream* os;
    quelbo::DataType type;
    if (!two(fn, args, a) || !ref(a[0], {fn, 1, "std::ostream &"}, os) ||
        !dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, type))
        return not_implemented(nullptr);
    return not_implemented(call([&] {
        *os << type.toString();
        return borrowed(os);
    }));
}

void add_freeops(Methods& m)
{
    m.add<&or_operator>("__or__", METH_VARARGS);
    m.add<&combine<true>>("__and__", METH_VARARGS);
    m.add<&combine<false>>("__xor__", METH_VARARGS);
    m.add<&lshift_operator>("__lshift__", METH_VARARGS);
}

QW_FAMILY(order::freeops, add_freeops);

} // namespace
