// The operators of the library's namespace: __or__ (image dimensions into an
// ImageType), __and__ and __xor__ (capability enumerators into a set) and
// __lshift__ (a data type's text into an output stream). All four follow
// notImplementedRule and never raise the overload message.
#include <ostream>

#include "core_args.h"
#include "quelbo/flags.h"
#include "quelbo/image_type.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageDimension;
using quelbo::ImageType;

QW_TYPE(std::ostream);

constexpr auto kStream = named<std::ostream&>;
using Dimension = Arg<ImageDimension>;
using Capability = Arg<quelbo::StreamAccessCapability>;

// Operators of the namespace: any call that fits no candidate is NotImplemented.
template <class D, class... C>
struct Operator : DeclareOverloads<D, C...>
{
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

struct or_type : Candidate<Params<Dimension, Ref<ImageType>>>
{
    static constexpr const char* member = QW_NAME("__or__");
    static constexpr auto call = [](ImageDimension d, const ImageType& type) { return type | d; };
};
// unknown dimensions are refused by the library
struct or_dimension : Candidate<Params<Dimension, Dimension>>
{
    static constexpr const char* member = QW_NAME("__or__");
    static constexpr auto call = [](ImageDimension a, ImageDimension b) { return a | b; };
};
struct or_operator : Operator<or_operator, or_type, or_dimension>
{
    static constexpr const char* name = QW_NAME("__or__");
};

// __and__ and __xor__: the first enumerator pair, StreamAccessCapability,
// takes every call with two 32-bit ints.
template <bool And>
struct combine_pair : Candidate<Params<Capability, Capability>>
{
    static constexpr const char* member = And ? "__and__" : "__xor__";
    static constexpr auto call = [](quelbo::StreamAccessCapability x, quelbo::StreamAccessCapability y) {
        return And ? x & y : x ^ y;
    };
};
template <bool And>
struct combine : Operator<combine<And>, combine_pair<And>>
{
    static constexpr const char* name = combine_pair<And>::member;
};

struct lshift_operator : Declare<lshift_operator, Params<Ref<std::ostream, kStream>, DTypeArg<>>>
{
    static constexpr const char* name = "__lshift__";
    static constexpr auto call = [](std::ostream& os, const quelbo::DataType& type) {
        os << type.toString();
        return borrowed(&os);
    };
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

void add_freeops(Methods& m)
{
    m.add<or_operator>();
    m.add<combine<true>>();
    m.add<combine<false>>();
    m.add<lshift_operator>();
}

QW_FAMILY(add_freeops);

} // namespace
