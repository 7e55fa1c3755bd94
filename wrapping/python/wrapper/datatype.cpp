// DataType: the element type of images, arrays and columns.
#include "core_args.h"
#include "quelbo/data_type.h"
#include "quelbo/vector.h"

namespace {

using namespace qw;
using quelbo::DataType;

QW_TYPE(DataType, "_p_quelbo__DataType");

struct DataTypeTr
{
    using T = DataType;
    static constexpr const char* name = "DataType";
    static constexpr const char* native = "quelbo::DataType";
    static constexpr const char* self_type = "quelbo::DataType const *";
};

constexpr const char* kSelf = DataTypeTr::self_type;

// new_DataType(primitive, bit depth, count[, interpretation])
PyObject* make(Args a, Py_ssize_t n)
{
    const char* fn = "new_DataType";
    int32_t primitive;
    uint64_t first, second;
    int32_t interpretation = 0;
    if (!arg(a[0], {fn, 1, "quelbo::PrimitiveTypeId"}, primitive) || !arg(a[1], {fn, 2, "size_t"}, first) ||
        !arg(a[2], {fn, 3, "size_t"}, second) ||
        (n == 4 && !arg(a[3], {fn, 4, "quelbo::DataTypeInterpretation"}, interpretation)))
        return nullptr;
    return call([&] {
        const auto p = static_cast<quelbo::PrimitiveTypeId>(primitive);
        if (n == 3)
            return constructed(new DataType(p, first, second));
        return constructed(new DataType(p, first, second, static_cast<quelbo::DataTypeInterpretation>(interpretation)));
    });
}

PyObject* new_DataType(PyObject*, PyObject* args)
{
    static const char* fn = "new_DataType";
    static const Overloads rows(
        fn,
        {{"quelbo::DataType::DataType()", 0, 0, nullptr,
          [](Args, Py_ssize_t) { return call([] { return constructed(new DataType()); }); }, 0},
         {"quelbo::DataType::DataType(quelbo::DataTypeId)", 1, 1, [](Args a, Py_ssize_t) { return is<int32_t>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              int32_t id;
              if (!arg(a[0], {fn, 1, "quelbo::DataTypeId"}, id))
                  return nullptr;
              // sign-extended: -1 is the identifier with every bit set
              return call([&] { return constructed(new DataType(quelbo::DataTypeId(uint64_t(int64_t(id))))); });
          },
          2},
         {"quelbo::DataType::DataType(uint64_t)", 1, 1, [](Args a, Py_ssize_t) { return is<uint64_t>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              uint64_t id;
              if (!arg(a[0], {fn, 1, "uint64_t"}, id))
                  return nullptr;
              return call([&] { return constructed(new DataType(id)); });
          },
          1},
         {"quelbo::DataType::DataType(quelbo::PrimitiveTypeId,size_t,size_t,quelbo::DataTypeInterpretation)", 4, 4,
          [](Args a, Py_ssize_t) {
              return is<int32_t>(a[0]) && is<uint64_t>(a[1]) && is<uint64_t>(a[2]) && is<int32_t>(a[3]);
          },
          &make, 3},
         {"quelbo::DataType::DataType(quelbo::PrimitiveTypeId,size_t,size_t)", 3, 3,
          [](Args a, Py_ssize_t) { return is<int32_t>(a[0]) && is<uint64_t>(a[1]) && is<uint64_t>(a[2]); }, &make, 4}});
    return rows(args);
}

// Converts obj and a data type given by objectToDataType.
bool self_and_other(PyObject* args, const char* fn, DataType*& obj, DataType& other)
{
    PyObject* a[2];
    return unpack(fn, args, 2, 2, a) && self(a[0], {fn, 1, kSelf}, obj) &&
           dtype_arg(a[1], {fn, 2, "quelbo::DataType"}, other);
}

PyObject* DataType_is_convertible_to(PyObject*, PyObject* args)
{
    DataType* obj;
    DataType other;
    if (!self_and_other(args, "DataType_is_convertible_to", obj, other))
        return nullptr;
    return call([&] { return to_py(obj->isConvertibleTo(other)); });
}

PyObject* DataType_extract_scalar_type(PyObject*, PyObject* o)
{
    DataType type;
    if (!dtype_arg(o, {"DataType_extract_scalar_type", 1, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return value(DataType::extractScalarType(type)); });
}

PyObject* DataType_standard_range(PyObject*, PyObject* o)
{
    DataType type;
    if (!dtype_arg(o, {"DataType_standard_range", 1, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return value(DataType::standardRange(type)); });
}

template <bool Equal>
PyObject* compare(PyObject*, PyObject* args)
{
    DataType* obj;
    DataType other;
    if (!self_and_other(args, Equal ? "DataType___eq__" : "DataType___ne__", obj, other))
        return not_implemented(nullptr);
    return not_implemented(call([&] { return to_py(Equal ? *obj == other : *obj != other); }));
}

constexpr char kGetId[] = "get_id";
constexpr char kGetBitDepth[] = "get_bit_depth";
constexpr char kGetElementCount[] = "get_element_count";
constexpr char kGetPrimitiveType[] = "_get_primitive_type";
constexpr char kGetInterpretation[] = "_get_interpretation";
constexpr char kBitCount[] = "bit_count";
constexpr char kByteCount[] = "byte_count";
constexpr char kIsScalar[] = "is_scalar";
constexpr char kIsVector[] = "is_vector";
constexpr char kIsNumeric[] = "is_numeric";
constexpr char kToString[] = "to_string";

void add_datatype(Methods& m)
{
    m.add<&new_DataType>("new_DataType", METH_VARARGS);
    m.add<&ClassOps<DataTypeTr>::del>("delete_DataType", METH_O);
    add_const_getter<DataTypeTr, kGetId, &DataType::id>(m);
    add_const_getter<DataTypeTr, kGetBitDepth, &DataType::bitDepth>(m);
    add_const_getter<DataTypeTr, kGetElementCount, &DataType::elementCount>(m);
    add_const_getter<DataTypeTr, kGetPrimitiveType, &DataType::primitiveType>(m);
    add_const_getter<DataTypeTr, kGetInterpretation, &DataType::interpretation>(m);
    add_const_getter<DataTypeTr, kBitCount, &DataType::bitCount>(m);
    add_const_getter<DataTypeTr, kByteCount, &DataType::byteCount>(m);
    add_const_getter<DataTypeTr, kIsScalar, &DataType::isScalar>(m);
    add_const_getter<DataTypeTr, kIsVector, &DataType::isVector>(m);
    add_const_getter<DataTypeTr, kIsNumeric, &DataType::isNumeric>(m);
    m.add<&DataType_is_convertible_to>("DataType_is_convertible_to", METH_VARARGS);
    m.add<&DataType_extract_scalar_type>("DataType_extract_scalar_type", METH_O);
    m.add<&DataType_standard_range>("DataType_standard_range", METH_O);
    add_const_getter<DataTypeTr, kToString, &DataType::toString>(m);
    m.add<&compare<true>>("DataType___eq__", METH_VARARGS);
    m.add<&compare<false>>("DataType___ne__", METH_VARARGS);
    add_hooks<DataType>(m, "DataType");
}

QW_FAMILY(order::datatype, add_datatype);

} // namespace
