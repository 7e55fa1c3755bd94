// Data frame cells as values: the encoding and decoding of one cell by the
// column's data type.
#include <cstring>
#include <type_traits>

#include "quelbo/data_frame.h"
#include "quelbo/data_type_traits.h"
#include "quelbo/error.h"

namespace quelbo {

namespace {

using Kind = DataFrameCell::Kind;

[[noreturn]] void unsupported()
{
    throw Error("unsupported column data type for cell access");
}

// A scalar cell's bytes: at most 32 (a bit depth of at most 255, one element).
struct CellBytes
{
    alignas(8) uint8_t bytes[32] = {};
};

template <class T>
constexpr Kind kindOf()
{
    return std::is_floating_point<T>::value ? Kind::REAL : std::is_signed<T>::value ? Kind::SIGNED : Kind::UNSIGNED;
}

[[noreturn]] void badDepth(DataType type)
{
    switch (type.primitiveType()) {
    case PrimitiveTypeId::SIGNED_INTEGER:
        throw Error("invalid signed integer bit depth");
    case PrimitiveTypeId::UNSIGNED_INTEGER:
        throw Error("invalid unsigned integer bit depth");
    default:
        throw Error("invalid floating-point bit depth");
    }
}

} // namespace

DataFrameCell DataFrameView::cell(size_t column, size_t row)
{
    DataType const type = columnDataType(column);
    DataFrameCell value;
    if (type.isScalar()) {
        CellBytes cell;
        readBytes(column, row, 1, cell.bytes, type.byteCount());
        visitElement(
            type,
            [&](auto tag) {
                using T = typename decltype(tag)::type;
                T v;
                std::memcpy(&v, cell.bytes, sizeof v);
                value.kind = kindOf<T>();
                if constexpr (std::is_floating_point<T>::value)
                    value.real = double(v);
                else if constexpr (std::is_signed<T>::value)
                    value.signedValue = int64_t(v);
                else
                    value.unsignedValue = uint64_t(v);
            },
            [] { unsupported(); });
        return value;
    }
    if (!isUtf8String(type))
        unsupported();
    value.kind = Kind::TEXT;
    readStrings(column, row, 1, &value.text, 1);
    return value;
}

DataFrameCell::Kind DataFrameView::cellKind(size_t column) const
{
    DataType const type = columnDataType(column);
    if (type.isScalar())
        return visitElement(
            type, [](auto tag) { return kindOf<typename decltype(tag)::type>(); }, [&] { badDepth(type); });
    if (!isUtf8String(type))
        unsupported();
    return Kind::TEXT;
}

void DataFrameView::setCell(size_t column, size_t row, DataFrameCell const& value)
{
    DataType const type = columnDataType(column);
    if (cellKind(column) != value.kind)
        throw InvalidArgument("DataFrameView: the value is not of the kind the cells of column " +
                              std::to_string(column) + " hold");
    if (value.kind == Kind::TEXT)
        return writeStrings(column, row, 1, &value.text, 1);
    CellBytes cell;
    visitElement(
        type,
        [&](auto tag) {
            using T = typename decltype(tag)::type;
            T v;
            if constexpr (std::is_floating_point<T>::value)
                v = T(value.real);
            else if constexpr (std::is_signed<T>::value)
                v = static_cast<T>(value.signedValue);
            else
                v = static_cast<T>(value.unsignedValue);
            std::memcpy(cell.bytes, &v, sizeof v);
        },
        [] { unsupported(); });
    writeBytes(column, row, 1, cell.bytes, type.byteCount());
}

} // namespace quelbo
