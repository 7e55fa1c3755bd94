// DataType: the element type of images, arrays and columns.
#include "core_args.h"
#include "quelbo/data_type.h"
#include "quelbo/vector.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::DataType;

QW_TYPE(DataType);

using DataTypeTr = Traits<DataType>;

constexpr const char* kMember = DataTypeTr::constructor;
constexpr auto kPrimitive = named<quelbo::PrimitiveTypeId>;
constexpr auto kInterpretation = named<quelbo::DataTypeInterpretation>;
constexpr auto kId = named<quelbo::DataTypeId>;
using Primitive = Arg<int32_t, kPrimitive>;
using Size = Arg<uint64_t, text::size>;
using Other = DTypeArg<>;
using Constant = Self<DataType, &DataTypeTr::self_type>;

struct new_empty : Candidate<Params<>, 0>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [] { return constructed(new DataType()); };
};
struct new_id : Candidate<Params<Arg<int32_t, kId>>, 2>
{
    static constexpr const char* member = kMember;
    // sign-extended: -1 is the identifier with every bit set
    static constexpr auto call = [](int32_t id) {
        return constructed(new DataType(quelbo::DataTypeId(uint64_t(int64_t(id)))));
    };
};
struct new_value : Candidate<Params<Arg<uint64_t, text::u64>>, 1>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](uint64_t id) { return constructed(new DataType(id)); };
};
struct new_interpreted : Candidate<Params<Primitive, Size, Size, Arg<int32_t, kInterpretation>>, 3>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](int32_t primitive, uint64_t first, uint64_t second, int32_t interpretation) {
        return constructed(new DataType(static_cast<quelbo::PrimitiveTypeId>(primitive), first, second,
                                        static_cast<quelbo::DataTypeInterpretation>(interpretation)));
    };
};
struct new_primitive : Candidate<Params<Primitive, Size, Size>, 4>
{
    static constexpr const char* member = kMember;
    static constexpr auto call = [](int32_t primitive, uint64_t first, uint64_t second) {
        return constructed(new DataType(static_cast<quelbo::PrimitiveTypeId>(primitive), first, second));
    };
};
struct new_datatype : DeclareOverloads<new_datatype, new_empty, new_id, new_value, new_interpreted, new_primitive>
{
    static constexpr const char* name = "new_DataType";
};

using is_convertible_to = Fn<QW_NAME("DataType_is_convertible_to"), &DataType::isConvertibleTo, Constant, Other>;
using extract_scalar_type = Fn<QW_NAME("DataType_extract_scalar_type"), &DataType::extractScalarType, Other>;
using standard_range = Fn<QW_NAME("DataType_standard_range"), &DataType::standardRange, Other>;

// ___eq__ / ___ne__ with a data type given by objectToDataType.
template <bool Equal>
struct compare : Declare<compare<Equal>, Params<Constant, Other>>
{
    static constexpr const char* name = Equal ? "DataType___eq__" : "DataType___ne__";
    static constexpr auto call = [](const DataType* obj, const DataType& other) {
        return Equal ? *obj == other : *obj != other;
    };
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

void add_datatype(Methods& m)
{
    m.add<new_datatype>();
    m.add<Delete<DataTypeTr>>();
    add_const_getter<DataTypeTr, QW_NAME("get_id"), &DataType::id>(m);
    add_const_getter<DataTypeTr, QW_NAME("get_bit_depth"), &DataType::bitDepth>(m);
    add_const_getter<DataTypeTr, QW_NAME("get_element_count"), &DataType::elementCount>(m);
    add_const_getter<DataTypeTr, QW_NAME("_get_primitive_type"), &DataType::primitiveType>(m);
    add_const_getter<DataTypeTr, QW_NAME("_get_interpretation"), &DataType::interpretation>(m);
    add_const_getter<DataTypeTr, QW_NAME("bit_count"), &DataType::bitCount>(m);
    add_const_getter<DataTypeTr, QW_NAME("byte_count"), &DataType::byteCount>(m);
    add_const_getter<DataTypeTr, QW_NAME("is_scalar"), &DataType::isScalar>(m);
    add_const_getter<DataTypeTr, QW_NAME("is_vector"), &DataType::isVector>(m);
    add_const_getter<DataTypeTr, QW_NAME("is_numeric"), &DataType::isNumeric>(m);
    m.add<is_convertible_to>();
    m.add<extract_scalar_type>();
    m.add<standard_range>();
    add_const_getter<DataTypeTr, QW_NAME("to_string"), &DataType::toString>(m);
    m.add<compare<true>>();
    m.add<compare<false>>();
    add_hooks<DataType>(m, "DataType");
}

QW_FAMILY(add_datatype);

} // namespace
