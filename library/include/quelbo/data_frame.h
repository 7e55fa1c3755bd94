// Data frame views: tables of typed, named columns, their cells, units and factory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/extension.h"
#include "quelbo/flags.h"
#include "quelbo/vector.h"
#include "quelbo/view.h"

namespace quelbo {

// The unit text of each column of a data frame view.
class QUELBO_API ColumnUnitExtension : public Extension
{
public:
    static constexpr size_t EXTENSION_ID = 4;

    // Error when the column index is out of range.
    virtual std::string const& unit(size_t columnIndex) const = 0;
    // Error when the column index is out of range or the view lacks WRITE.
    virtual void setUnit(size_t columnIndex, std::string const& unit) = 0;

    static std::shared_ptr<ColumnUnitExtension> cast(std::shared_ptr<Extension> const& extension);
};

// One cell of a data frame as a value, by the column's data type: an
// integer (signed or not), a floating-point number or a text.
struct DataFrameCell
{
    enum class Kind
    {
        SIGNED,
        UNSIGNED,
        REAL,
        TEXT,
    };
    Kind kind = Kind::SIGNED;
    int64_t signedValue = 0;
    uint64_t unsignedValue = 0;
    double real = 0;
    std::string text;
};

// A table of typed columns sharing one row count. Each column has a name
// (unique in the view), a data type and a unit.
//
// Cells: a numeric column of type t holds packed cells of t.byteCount()
// bytes each (a 12-bit integer takes 2 bytes); read and write move a run of
// such cells. A UTF-8 string column (DataTypeId::UTF8_STRING) moves arrays
// of std::string instead: the void pointers of read and write then address
// std::string elements.
class QUELBO_API DataFrameView : public View
{
public:
    ~DataFrameView() override;

    // --- the interface, in slot order -----------------------------------------
    // READ 1, WRITE 2, RESHAPE 4.
    virtual DataFrameCapabilitySet capabilities() const = 0;
    // Element 0 the column count, element 1 the row count.
    virtual Vector2u64 const& shape() const = 0;
    // Error when the index is out of range.
    virtual std::string columnName(size_t index) const = 0;
    // Error when no column has that name.
    virtual size_t columnIndex(std::string const& name) const = 0;
    // Error when the index is out of range.
    virtual DataType columnDataType(size_t index) const = 0;
    // rowCount cells of the column from rowOffset into dst / from src.
    // Need READ / WRITE; InvalidArgument when the column or the rows are out
    // of range.
    virtual void read(size_t column, size_t rowOffset, size_t rowCount, void* dst) = 0;
    virtual void write(size_t column, size_t rowOffset, size_t rowCount, const void* src) = 0;
    // Need RESHAPE (NotImplemented otherwise). A new column's unit is empty
    // and its cells zero or empty strings; so are new rows' cells. Error for
    // a duplicate name or an unsupported type, for an offset beyond the row
    // count. A count of 0 changes nothing.
    virtual void addColumn(std::string const& name, DataType dataType);
    virtual void addRows(size_t offset, size_t count);
    virtual void removeColumn(size_t index);
    virtual void removeRows(size_t offset, size_t count);

    // --- members --------------------------------------------------------------
    bool support(DataFrameCapabilitySet flags) const { return capabilities().has(flags); }

    // The unit of a column, through the view's ColumnUnitExtension
    // (NotImplemented when it has none).
    std::string unit(size_t index);
    void setUnit(size_t index, std::string const& unit);

    // "DataFrameView(columns: 2, rows: 3, [x: <type>, y: <type>])"
    std::string toString() const;

    // Replaces the whole table by one of the given shape, column names and
    // types (shape[0] of each); all data invalidated. Needs RESHAPE.
    // The pointer form trusts the caller's arrays; the vector form raises
    // InvalidArgument, before anything changes, unless both hold shape[0]
    // elements and neither count is 0, and Error for duplicate names.
    void reshape(Vector2u64 const& shape, std::string const* columnNames, DataType const* columnDataTypes);
    void reshape(Vector2u64 const& shape, std::vector<std::string> const& columnNames,
                 std::vector<DataType> const& columnDataTypes);

    // --- checked transfers ----------------------------------------------------
    // The transfers for callers that hold a length: InvalidArgument before
    // anything moves unless the rows lie in the view and the buffer holds
    // rowCount cells (bytes for numeric columns, strings for UTF-8 columns).
    // Error when the column's kind does not match the transfer.
    void readBytes(size_t column, size_t rowOffset, size_t rowCount, void* dst, size_t dstSize);
    void writeBytes(size_t column, size_t rowOffset, size_t rowCount, const void* src, size_t srcSize);
    void readStrings(size_t column, size_t rowOffset, size_t rowCount, std::string* dst, size_t dstCount);
    void writeStrings(size_t column, size_t rowOffset, size_t rowCount, std::string const* src, size_t srcCount);

    // InvalidArgument unless rowOffset + rowCount (overflow-checked) is at
    // most the row count.
    void checkRows(size_t rowOffset, size_t rowCount) const;

    static bool isUtf8String(DataType type) { return type == DataType(DataTypeId::UTF8_STRING); }

    // --- cells as values ------------------------------------------------------
    // Cell access takes columns of integers of 8, 16, 32 or 64 bits,
    // floating-point numbers of 32 or 64 bits and UTF-8 strings; Error for
    // other columns, InvalidArgument for a row out of range.
    // The cell at a row of a column.
    DataFrameCell cell(size_t column, size_t row);
    // The kind of value a cell of the column holds.
    DataFrameCell::Kind cellKind(size_t column) const;
    // Stores a value of the column's kind (InvalidArgument for another):
    // integers keep their low-order bits, floating-point numbers are
    // rounded to the cell's precision.
    void setCell(size_t column, size_t row, DataFrameCell const& value);

protected:
    DataFrameView();
    DataFrameView(ViewDataOrigin origin, std::string displayName,
                  std::vector<std::shared_ptr<ViewOriginExtension>> parents = {});

    // The body of reshape, given checked arrays of shape[0] elements.
    // The base raises NotImplemented.
    virtual void reshapeTable(Vector2u64 const& shape, std::vector<std::string> const& columnNames,
                              std::vector<DataType> const& columnDataTypes);
};

// Creates data frame views in memory (READ, WRITE and RESHAPE; columns of
// every scalar integer type of 1 to 64 bits, floating-point types of 16, 32
// and 64 bits, and UTF-8 strings; a ColumnUnitExtension).
class QUELBO_API DataFrameViewFactory
{
public:
    // shape[0] columns named columnNames[i] of type columnDataTypes[i], with
    // shape[1] rows of zero cells. The pointer form trusts the caller's
    // arrays; the vector form raises InvalidArgument unless both hold
    // shape[0] elements and neither count is 0.
    static std::shared_ptr<DataFrameView> allocate(Vector2u64 const& shape, std::string const* columnNames,
                                                   DataType const* columnDataTypes);
    static std::shared_ptr<DataFrameView> allocate(Vector2u64 const& shape, std::vector<std::string> const& columnNames,
                                                   std::vector<DataType> const& columnDataTypes);
    // No columns, no rows.
    static std::shared_ptr<DataFrameView> allocate();

    // Whether the in-memory views take columns of this type.
    static bool supports(DataType type);
};

} // namespace quelbo
