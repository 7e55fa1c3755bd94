// DataType: identifiers, names, texts and value ranges of data types.
#include "quelbo/data_type.h"

#include <limits>

#include "quelbo/error.h"

namespace quelbo {

namespace {

struct NamedType
{
    DataTypeId id;
    char const* name;
};

#define QUELBO_NAMED(n)                                                                                                \
    {                                                                                                                  \
        DataTypeId::n, #n                                                                                              \
    }
constexpr NamedType kNamedTypes[] = {
    QUELBO_NAMED(UNKNOWN),
    QUELBO_NAMED(UINT8),
    QUELBO_NAMED(UINT16),
    QUELBO_NAMED(UINT32),
    QUELBO_NAMED(UINT64),
    QUELBO_NAMED(INT8),
    QUELBO_NAMED(INT16),
    QUELBO_NAMED(INT32),
    QUELBO_NAMED(INT64),
    QUELBO_NAMED(FLOAT),
    QUELBO_NAMED(DOUBLE),
    QUELBO_NAMED(UTF8_STRING),
    QUELBO_NAMED(UTF16_STRING),
    QUELBO_NAMED(UTF32_STRING),
    QUELBO_NAMED(VEC2_UINT8),
    QUELBO_NAMED(VEC2_UINT16),
    QUELBO_NAMED(VEC2_UINT32),
    QUELBO_NAMED(VEC2_UINT64),
    QUELBO_NAMED(VEC2_INT8),
    QUELBO_NAMED(VEC2_INT16),
    QUELBO_NAMED(VEC2_INT32),
    QUELBO_NAMED(VEC2_INT64),
    QUELBO_NAMED(VEC2_FLOAT),
    QUELBO_NAMED(VEC2_DOUBLE),
    QUELBO_NAMED(VEC3_UINT8),
    QUELBO_NAMED(VEC3_UINT16),
    QUELBO_NAMED(VEC3_UINT32),
    QUELBO_NAMED(VEC3_UINT64),
    QUELBO_NAMED(VEC3_INT8),
    QUELBO_NAMED(VEC3_INT16),
    QUELBO_NAMED(VEC3_INT32),
    QUELBO_NAMED(VEC3_INT64),
    QUELBO_NAMED(VEC3_FLOAT),
    QUELBO_NAMED(VEC3_DOUBLE),
    QUELBO_NAMED(VEC4_UINT8),
    QUELBO_NAMED(VEC4_UINT16),
    QUELBO_NAMED(VEC4_UINT32),
    QUELBO_NAMED(VEC4_UINT64),
    QUELBO_NAMED(VEC4_INT8),
    QUELBO_NAMED(VEC4_INT16),
    QUELBO_NAMED(VEC4_INT32),
    QUELBO_NAMED(VEC4_INT64),
    QUELBO_NAMED(VEC4_FLOAT),
    QUELBO_NAMED(VEC4_DOUBLE),
    QUELBO_NAMED(COMPLEX_FLOAT),
    QUELBO_NAMED(COMPLEX_DOUBLE),
    QUELBO_NAMED(MATRIX2_FLOAT),
    QUELBO_NAMED(MATRIX2_DOUBLE),
    QUELBO_NAMED(MATRIX3_FLOAT),
    QUELBO_NAMED(MATRIX3_DOUBLE),
    QUELBO_NAMED(MATRIX4_FLOAT),
    QUELBO_NAMED(MATRIX4_DOUBLE),
    QUELBO_NAMED(SYM_MATRIX2_FLOAT),
    QUELBO_NAMED(SYM_MATRIX2_DOUBLE),
    QUELBO_NAMED(SYM_MATRIX3_FLOAT),
    QUELBO_NAMED(SYM_MATRIX3_DOUBLE),
};
#undef QUELBO_NAMED

char const* primitiveName(PrimitiveTypeId p)
{
    switch (p) {
    case PrimitiveTypeId::UNKNOWN:
        return "UNKNOWN";
    case PrimitiveTypeId::UNSIGNED_INTEGER:
        return "UNSIGNED_INTEGER";
    case PrimitiveTypeId::SIGNED_INTEGER:
        return "SIGNED_INTEGER";
    case PrimitiveTypeId::FLOATING_POINT:
        return "FLOATING_POINT";
    case PrimitiveTypeId::UNICODE_STRING:
        return "UNICODE_STRING";
    }
    return nullptr;
}

char const* interpretationName(DataTypeInterpretation i)
{
    switch (i) {
    case DataTypeInterpretation::RAW:
        return "RAW";
    case DataTypeInterpretation::COMPLEX:
        return "COMPLEX";
    case DataTypeInterpretation::SQUARE_MATRIX:
        return "SQUARE_MATRIX";
    case DataTypeInterpretation::SYMMETRIC_MATRIX:
        return "SYMMETRIC_MATRIX";
    }
    return nullptr;
}

bool isNumericPrimitive(PrimitiveTypeId p)
{
    return p == PrimitiveTypeId::UNSIGNED_INTEGER || p == PrimitiveTypeId::SIGNED_INTEGER ||
           p == PrimitiveTypeId::FLOATING_POINT;
}

// Bits of an integer type's magnitude that a type can hold exactly.
size_t exactBits(DataType t)
{
    switch (t.primitiveType()) {
    case PrimitiveTypeId::UNSIGNED_INTEGER:
        return t.bitDepth();
    case PrimitiveTypeId::SIGNED_INTEGER:
        return t.bitDepth() - 1;
    case PrimitiveTypeId::FLOATING_POINT:
        // significand bits of the IEEE formats
        switch (t.bitDepth()) {
        case 16:
            return 11;
        case 32:
            return 24;
        case 64:
            return 53;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

Vector2d range(double minimum, double maximum)
{
    Vector2d r;
    r.m_data = {minimum, maximum};
    return r;
}

} // namespace

DataType::DataType(uint64_t id)
{
    static_assert(sizeof(*this) == sizeof(id), "");
    m_bitDepth = uint8_t(id & 0xff);
    m_dimension = uint8_t((id >> 8) & 0xff);
    m_primitiveType = PrimitiveTypeId(uint16_t((id >> 16) & 0xffff));
    m_interpretation = DataTypeInterpretation(int32_t(uint32_t(id >> 32)));
}

DataType::DataType(DataTypeId id) : DataType(static_cast<uint64_t>(id)) {}

DataType::DataType(PrimitiveTypeId primitiveType, size_t bitDepth, size_t elementCount)
    : DataType(primitiveType, bitDepth, elementCount, DataTypeInterpretation::RAW)
{}

DataType::DataType(PrimitiveTypeId primitiveType, size_t bitDepth, size_t elementCount,
                   DataTypeInterpretation interpretation)
{
    if (bitDepth > 0xff)
        throw InvalidArgument("DataType: bit depth " + std::to_string(bitDepth) + " does not fit 8 bits");
    if (elementCount > 0xff)
        throw InvalidArgument("DataType: element count " + std::to_string(elementCount) + " does not fit 8 bits");
    m_bitDepth = uint8_t(bitDepth);
    m_dimension = uint8_t(elementCount);
    m_primitiveType = primitiveType;
    m_interpretation = interpretation;
}

uint64_t DataType::id() const
{
    return (uint64_t(uint32_t(m_interpretation)) << 32) | (uint64_t(m_primitiveType) << 16) |
           (uint64_t(m_dimension) << 8) | uint64_t(m_bitDepth);
}

bool DataType::isScalar() const
{
    return isNumeric() && m_dimension == 1 && m_interpretation == DataTypeInterpretation::RAW;
}

bool DataType::isVector() const
{
    return isNumeric() && m_dimension > 1 && m_interpretation == DataTypeInterpretation::RAW;
}

bool DataType::isNumeric() const
{
    return isNumericPrimitive(m_primitiveType) && m_bitDepth > 0 && m_dimension > 0;
}

bool DataType::isConvertibleTo(DataType other) const
{
    if (*this == other)
        return true;
    if (!isNumeric() || !other.isNumeric() || m_dimension != other.m_dimension ||
        m_interpretation != other.m_interpretation)
        return false;
    const PrimitiveTypeId from = m_primitiveType, to = other.m_primitiveType;
    if (from == to)
        return other.bitDepth() >= bitDepth();
    if (from == PrimitiveTypeId::FLOATING_POINT)
        return false; // a fraction is lost in any integer
    if (from == PrimitiveTypeId::SIGNED_INTEGER && to == PrimitiveTypeId::UNSIGNED_INTEGER)
        return false; // negative values are lost
    return exactBits(other) >= exactBits(*this);
}

DataType DataType::extractScalarType(DataType type)
{
    if (type.m_dimension <= 1 && type.m_interpretation == DataTypeInterpretation::RAW)
        return type;
    return DataType(type.m_primitiveType, type.m_bitDepth, 1, DataTypeInterpretation::RAW);
}

Vector2d DataType::standardRange(DataType type)
{
    const size_t bits = type.bitDepth();
    switch (type.primitiveType()) {
    case PrimitiveTypeId::UNSIGNED_INTEGER:
        if (bits >= 1 && bits <= 64)
            return range(0.0,
                         bits == 64 ? double(std::numeric_limits<uint64_t>::max()) : double((uint64_t(1) << bits) - 1));
        break;
    case PrimitiveTypeId::SIGNED_INTEGER:
        if (bits >= 2 && bits <= 64) {
            const double half = double(uint64_t(1) << (bits - 1));
            return range(-half, half - 1.0);
        }
        break;
    case PrimitiveTypeId::FLOATING_POINT:
        if (bits > 0)
            return range(0.0, 1.0);
        break;
    default:
        break;
    }
    throw Error("No standard range can be computed for the data type " + type.toString());
}

void DataType::checkHeld(DataType type)
{
    if (type.bitDepth() == 0 || type.elementCount() == 0 || !primitiveName(type.primitiveType()) ||
        type.primitiveType() == PrimitiveTypeId::UNKNOWN || !interpretationName(type.interpretation()))
        throw Error("the data type " + type.toString() + " is not a known type");
}

std::string DataType::toString() const
{
    const uint64_t value = id();
    for (NamedType const& named : kNamedTypes)
        if (uint64_t(named.id) == value)
            return named.name;
    std::string text = "DataType(bitDepth=" + std::to_string(m_bitDepth) +
                       ", elementCount=" + std::to_string(m_dimension) + ", primitiveType=";
    char const* prim = primitiveName(m_primitiveType);
    text += prim ? prim : std::to_string(unsigned(m_primitiveType));
    text += ", interpretation=";
    char const* interp = interpretationName(m_interpretation);
    text += interp ? interp : std::to_string(int32_t(m_interpretation));
    return text + ")";
}

} // namespace quelbo
