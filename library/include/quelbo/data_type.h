// Data types of samples and values: their identifiers, kinds and interpretations.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "quelbo/export.h"
#include "quelbo/vector.h"

namespace quelbo {

// Kind of each element of a data type.
enum class PrimitiveTypeId : uint16_t
{
    UNKNOWN = 0,
    UNSIGNED_INTEGER = 1,
    SIGNED_INTEGER = 2,
    FLOATING_POINT = 3,
    UNICODE_STRING = 4,
};

// How the elements of a data type are read together.
enum class DataTypeInterpretation : int32_t
{
    RAW = 0,
    COMPLEX = 1,
    SQUARE_MATRIX = 2,
    SYMMETRIC_MATRIX = 3,
};

// identifier = interpretation << 32 | primitive type << 16 | element count << 8 | bit depth
#define QUELBO_DATA_TYPE_ID(interp, prim, count, bits)                                                                 \
    ((uint64_t(interp) << 32) | (uint64_t(prim) << 16) | (uint64_t(count) << 8) | uint64_t(bits))

// The named data types.
enum class DataTypeId : uint64_t
{
    UNKNOWN = 0,
    UINT8 = QUELBO_DATA_TYPE_ID(0, 1, 1, 8),
    UINT16 = QUELBO_DATA_TYPE_ID(0, 1, 1, 16),
    UINT32 = QUELBO_DATA_TYPE_ID(0, 1, 1, 32),
    UINT64 = QUELBO_DATA_TYPE_ID(0, 1, 1, 64),
    INT8 = QUELBO_DATA_TYPE_ID(0, 2, 1, 8),
    INT16 = QUELBO_DATA_TYPE_ID(0, 2, 1, 16),
    INT32 = QUELBO_DATA_TYPE_ID(0, 2, 1, 32),
    INT64 = QUELBO_DATA_TYPE_ID(0, 2, 1, 64),
    FLOAT = QUELBO_DATA_TYPE_ID(0, 3, 1, 32),
    DOUBLE = QUELBO_DATA_TYPE_ID(0, 3, 1, 64),
    UTF8_STRING = QUELBO_DATA_TYPE_ID(0, 4, 1, 8),
    UTF16_STRING = QUELBO_DATA_TYPE_ID(0, 4, 1, 16),
    UTF32_STRING = QUELBO_DATA_TYPE_ID(0, 4, 1, 32),

    VEC2_UINT8 = QUELBO_DATA_TYPE_ID(0, 1, 2, 8),
    VEC2_UINT16 = QUELBO_DATA_TYPE_ID(0, 1, 2, 16),
    VEC2_UINT32 = QUELBO_DATA_TYPE_ID(0, 1, 2, 32),
    VEC2_UINT64 = QUELBO_DATA_TYPE_ID(0, 1, 2, 64),
    VEC2_INT8 = QUELBO_DATA_TYPE_ID(0, 2, 2, 8),
    VEC2_INT16 = QUELBO_DATA_TYPE_ID(0, 2, 2, 16),
    VEC2_INT32 = QUELBO_DATA_TYPE_ID(0, 2, 2, 32),
    VEC2_INT64 = QUELBO_DATA_TYPE_ID(0, 2, 2, 64),
    VEC2_FLOAT = QUELBO_DATA_TYPE_ID(0, 3, 2, 32),
    VEC2_DOUBLE = QUELBO_DATA_TYPE_ID(0, 3, 2, 64),

    VEC3_UINT8 = QUELBO_DATA_TYPE_ID(0, 1, 3, 8),
    VEC3_UINT16 = QUELBO_DATA_TYPE_ID(0, 1, 3, 16),
    VEC3_UINT32 = QUELBO_DATA_TYPE_ID(0, 1, 3, 32),
    VEC3_UINT64 = QUELBO_DATA_TYPE_ID(0, 1, 3, 64),
    VEC3_INT8 = QUELBO_DATA_TYPE_ID(0, 2, 3, 8),
    VEC3_INT16 = QUELBO_DATA_TYPE_ID(0, 2, 3, 16),
    VEC3_INT32 = QUELBO_DATA_TYPE_ID(0, 2, 3, 32),
    VEC3_INT64 = QUELBO_DATA_TYPE_ID(0, 2, 3, 64),
    VEC3_FLOAT = QUELBO_DATA_TYPE_ID(0, 3, 3, 32),
    VEC3_DOUBLE = QUELBO_DATA_TYPE_ID(0, 3, 3, 64),

    VEC4_UINT8 = QUELBO_DATA_TYPE_ID(0, 1, 4, 8),
    VEC4_UINT16 = QUELBO_DATA_TYPE_ID(0, 1, 4, 16),
    VEC4_UINT32 = QUELBO_DATA_TYPE_ID(0, 1, 4, 32),
    VEC4_UINT64 = QUELBO_DATA_TYPE_ID(0, 1, 4, 64),
    VEC4_INT8 = QUELBO_DATA_TYPE_ID(0, 2, 4, 8),
    VEC4_INT16 = QUELBO_DATA_TYPE_ID(0, 2, 4, 16),
    VEC4_INT32 = QUELBO_DATA_TYPE_ID(0, 2, 4, 32),
    VEC4_INT64 = QUELBO_DATA_TYPE_ID(0, 2, 4, 64),
    VEC4_FLOAT = QUELBO_DATA_TYPE_ID(0, 3, 4, 32),
    VEC4_DOUBLE = QUELBO_DATA_TYPE_ID(0, 3, 4, 64),

    COMPLEX_FLOAT = QUELBO_DATA_TYPE_ID(1, 3, 2, 32),
    COMPLEX_DOUBLE = QUELBO_DATA_TYPE_ID(1, 3, 2, 64),

    MATRIX2_FLOAT = QUELBO_DATA_TYPE_ID(2, 3, 4, 32),
    MATRIX2_DOUBLE = QUELBO_DATA_TYPE_ID(2, 3, 4, 64),
    MATRIX3_FLOAT = QUELBO_DATA_TYPE_ID(2, 3, 9, 32),
    MATRIX3_DOUBLE = QUELBO_DATA_TYPE_ID(2, 3, 9, 64),
    MATRIX4_FLOAT = QUELBO_DATA_TYPE_ID(2, 3, 16, 32),
    MATRIX4_DOUBLE = QUELBO_DATA_TYPE_ID(2, 3, 16, 64),

    SYM_MATRIX2_FLOAT = QUELBO_DATA_TYPE_ID(3, 3, 3, 32),
    SYM_MATRIX2_DOUBLE = QUELBO_DATA_TYPE_ID(3, 3, 3, 64),
    SYM_MATRIX3_FLOAT = QUELBO_DATA_TYPE_ID(3, 3, 6, 32),
    SYM_MATRIX3_DOUBLE = QUELBO_DATA_TYPE_ID(3, 3, 6, 64),
};

#undef QUELBO_DATA_TYPE_ID

// The element type of images, arrays and columns: an 8-byte value whose
// little-endian 64-bit reading is its identifier.
class QUELBO_API DataType
{
public:
    // An opaque type. See also: DataTypeId::UNKNOWN
    DataType() = default;
    explicit DataType(uint64_t id);
    DataType(DataTypeId id);
    // A type built from its properties. InvalidArgument when the bit depth or
    // the element count does not fit its 8-bit field.
    DataType(PrimitiveTypeId primitiveType, size_t bitDepth, size_t elementCount);
    DataType(PrimitiveTypeId primitiveType, size_t bitDepth, size_t elementCount,
             DataTypeInterpretation interpretation);

    uint64_t id() const;

    size_t bitDepth() const { return m_bitDepth; }
    size_t elementCount() const { return m_dimension; }
    PrimitiveTypeId primitiveType() const { return m_primitiveType; }
    DataTypeInterpretation interpretation() const { return m_interpretation; }
    size_t bitCount() const { return size_t(m_bitDepth) * size_t(m_dimension); }
    // Bytes of one value; a type of no bits still takes one byte.
    size_t byteCount() const { return size_t((int32_t(bitCount()) - 1) / 8 + 1); }

    // Checks if the type is a scalar numeric value
    bool isScalar() const;
    // Checks if the type is a vector of numeric values
    bool isVector() const;
    // Checks if the type is a mathematical one
    bool isNumeric() const;
    // Checks if this type is trivially convertible to another
    bool isConvertibleTo(DataType other) const;

    // The type of one element of a multi-element type; a scalar type itself.
    static DataType extractScalarType(DataType type);
    // Minimum and maximum: the representable range of integer types, [0, 1]
    // for floating-point types. Error If no range can be computed for this type.
    static Vector2d standardRange(DataType type);

    // Error when the library cannot hold values of the type: a primitive type
    // or an interpretation it does not define, no bits or no elements. Every
    // factory of views, columns and images checks its data type with it.
    static void checkHeld(DataType type);

    std::string toString() const;

    bool operator==(DataType other) const { return id() == other.id(); }
    bool operator!=(DataType other) const { return id() != other.id(); }

private:
    uint8_t m_bitDepth = 0;
    uint8_t m_dimension = 0;
    PrimitiveTypeId m_primitiveType = PrimitiveTypeId::UNKNOWN;
    DataTypeInterpretation m_interpretation = DataTypeInterpretation::RAW;
};

static_assert(sizeof(DataType) == 8, "DataType is one 64-bit value");

} // namespace quelbo
