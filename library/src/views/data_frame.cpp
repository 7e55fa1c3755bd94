// Data frames in memory, the DataFrameView base and the data frame factory.
#include "quelbo/data_frame.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "quelbo/error.h"
#include "util/keyed_hash.h"
#include "values/large_block.h"
#include "views/data_frame_memory.h"
#include "views/view_parts.h"

namespace quelbo {

namespace {

const char* const kNotNumeric = "column do not store numeric data";
const char* const kNotStrings = "column do not store utf-8 strings";

using detail::FrameColumn;

void duplicateName(std::string const& name)
{
    throw Error("DataFrameView: duplicate column name '" + name + "'");
}

// The names must be unique, the counts shape[0], and neither count 0.
void checkTable(Vector2u64 const& shape, std::vector<std::string> const& names, std::vector<DataType> const& types)
{
    if (shape[0] == 0 || shape[1] == 0)
        throw InvalidArgument("DataFrameView: column count and row count cannot be 0");
    if (names.size() != shape[0] || types.size() != shape[0])
        throw InvalidArgument("DataFrameView: " + std::to_string(names.size()) + " names and " +
                              std::to_string(types.size()) + " types given for " + std::to_string(shape[0]) +
                              " columns");
    std::unordered_set<std::string_view, util::KeyedHash> seen;
    seen.reserve(names.size());
    for (auto const& name : names)
        if (!seen.insert(name).second)
            duplicateName(name);
}

bool isText(FrameColumn const& c)
{
    return DataFrameView::isUtf8String(c.type);
}

// A type the in-memory frame holds.
void checkColumnType(DataType type)
{
    DataType::checkHeld(type);
    if (!DataFrameViewFactory::supports(type))
        throw Error("DataFrameView: unsupported column data type " + type.toString());
}

// A column's cells for `rows` rows.
FrameColumn makeColumn(std::string const& name, DataType type, size_t rows)
{
    checkColumnType(type);
    FrameColumn c;
    c.name = name;
    c.type = type;
    if (isText(c))
        c.strings.resize(rows);
    else
        c.bytes.resize(checkedMultiply(rows, type.byteCount(), "data frame column size"));
    return c;
}

// The in-memory data frame: one store per column, cells packed (numeric) or
// strings, and the columns' indices by name.
class MemoryDataFrame final : public DataFrameView, public std::enable_shared_from_this<MemoryDataFrame>
{
public:
    MemoryDataFrame() : DataFrameView(ViewDataOrigin::CPU_MEMORY, "DataFrameView"), m_units(*this) {}

    DataFrameCapabilitySet capabilities() const override
    {
        return DataFrameCapabilitySet(DataFrameCapability::READ) | DataFrameCapability::WRITE |
               DataFrameCapability::RESHAPE;
    }
    Vector2u64 const& shape() const override { return m_shape; }
    std::string columnName(size_t index) const override { return column(index).name; }
    size_t columnIndex(std::string const& name) const override
    {
        auto const it = m_byName.find(name);
        if (it == m_byName.end())
            throw Error("DataFrameView: no column is named '" + name + "'");
        return it->second;
    }
    DataType columnDataType(size_t index) const override { return column(index).type; }

    void read(size_t index, size_t rowOffset, size_t rowCount, void* dst) override
    {
        FrameColumn const& c = column(index);
        checkRows(rowOffset, rowCount);
        if (rowCount == 0)
            return;
        if (isText(c)) {
            std::copy_n(c.strings.begin() + ptrdiff_t(rowOffset), rowCount, static_cast<std::string*>(dst));
        } else {
            size_t const cell = c.type.byteCount();
            std::memcpy(dst, c.bytes.data() + rowOffset * cell, rowCount * cell);
        }
    }
    void write(size_t index, size_t rowOffset, size_t rowCount, const void* src) override
    {
        FrameColumn& c = column(index);
        checkRows(rowOffset, rowCount);
        if (rowCount == 0)
            return;
        if (isText(c)) {
            std::copy_n(static_cast<std::string const*>(src), rowCount, c.strings.begin() + ptrdiff_t(rowOffset));
        } else {
            size_t const cell = c.type.byteCount();
            std::memmove(c.bytes.data() + rowOffset * cell, src, rowCount * cell);
        }
    }

    void addColumn(std::string const& name, DataType type) override
    {
        if (m_byName.count(name) != 0)
            duplicateName(name);
        m_columns.push_back(makeColumn(name, type, m_shape[1]));
        try {
            m_positions.push_back(nullptr);
            m_positions.back() = &m_byName.emplace(name, m_columns.size() - 1).first->second;
        } catch (...) {
            m_positions.resize(m_columns.size() - 1);
            m_columns.pop_back();
            throw;
        }
        m_shape[0] = m_columns.size();
    }
    void addRows(size_t offset, size_t count) override
    {
        if (count == 0)
            return;
        if (offset > m_shape[1])
            throw Error("DataFrameView: row offset " + std::to_string(offset) + " beyond the " +
                        std::to_string(m_shape[1]) + " rows");
        const size_t rows = checkedAdd(m_shape[1], count, "data frame row count");
        // Room for every column first: the insertions then cannot fail, so a
        // failure leaves the table whole.
        for (auto& c : m_columns) {
            if (isText(c))
                c.strings.reserve(rows);
            else
                c.bytes.reserve(checkedMultiply(rows, c.type.byteCount(), "data frame column size"));
        }
        for (auto& c : m_columns) {
            if (isText(c))
                c.strings.insert(c.strings.begin() + ptrdiff_t(offset), count, std::string());
            else
                c.bytes.insert(offset * c.type.byteCount(), count * c.type.byteCount());
        }
        m_shape[1] = rows;
    }
    void removeColumn(size_t index) override
    {
        m_byName.erase(column(index).name);
        m_columns.erase(m_columns.begin() + ptrdiff_t(index));
        m_positions.erase(m_positions.begin() + ptrdiff_t(index));
        // the later columns' entries move one down, found without hashing their names
        for (size_t i = index; i < m_columns.size(); ++i)
            *m_positions[i] = i;
        m_shape[0] = m_columns.size();
    }
    void removeRows(size_t offset, size_t count) override
    {
        if (count == 0)
            return;
        checkRows(offset, count);
        for (auto& c : m_columns) {
            if (isText(c))
                c.strings.erase(c.strings.begin() + ptrdiff_t(offset), c.strings.begin() + ptrdiff_t(offset + count));
            else
                c.bytes.erase(offset * c.type.byteCount(), count * c.type.byteCount());
        }
        m_shape[1] -= count;
    }

    std::shared_ptr<Extension> extension(size_t id) override
    {
        if (id == ColumnUnitExtension::EXTENSION_ID)
            return std::shared_ptr<Extension>(shared_from_this(), &m_units);
        return DataFrameView::extension(id);
    }

    // Takes the columns (checked) and their cells.
    void take(std::vector<FrameColumn>& columns, size_t rows)
    {
        std::unordered_map<std::string, size_t, util::KeyedHash> byName;
        byName.reserve(columns.size());
        std::vector<size_t*> positions;
        positions.reserve(columns.size());
        for (size_t i = 0; i < columns.size(); ++i) {
            FrameColumn const& c = columns[i];
            checkColumnType(c.type);
            bool const fits = isText(c) ? c.strings.size() == rows && c.bytes.size() == 0
                                        : c.strings.empty() && c.bytes.size() / c.type.byteCount() == rows &&
                                              c.bytes.size() % c.type.byteCount() == 0;
            if (!fits)
                throw InvalidArgument("DataFrameView: the cells of column '" + c.name + "' are not " +
                                      std::to_string(rows) + " rows");
            auto const [entry, added] = byName.emplace(c.name, i);
            if (!added)
                duplicateName(c.name);
            positions.push_back(&entry->second);
        }
        m_columns = std::move(columns);
        m_byName = std::move(byName);
        m_positions = std::move(positions);
        m_shape[0] = m_columns.size();
        m_shape[1] = rows;
    }

    std::vector<FrameColumn> const& columns() const { return m_columns; }

protected:
    void reshapeTable(Vector2u64 const& shape, std::vector<std::string> const& names,
                      std::vector<DataType> const& types) override
    {
        std::vector<FrameColumn> columns;
        columns.reserve(names.size());
        for (size_t i = 0; i < names.size(); ++i)
            columns.push_back(makeColumn(names[i], types[i], shape[1]));
        take(columns, shape[1]);
    }

private:
    class Units final : public ColumnUnitExtension
    {
    public:
        explicit Units(MemoryDataFrame& frame) : m_frame(frame) {}
        std::string const& unit(size_t index) const override { return m_frame.column(index).unit; }
        void setUnit(size_t index, std::string const& unit) override
        {
            FrameColumn& c = m_frame.column(index);
            if (!m_frame.support(DataFrameCapability::WRITE))
                detail::needsCapability<Error>("DataFrameView", "setting a unit", "WRITE");
            c.unit = unit;
        }

    private:
        MemoryDataFrame& m_frame;
    };

    FrameColumn& column(size_t index)
    {
        if (index >= m_columns.size())
            throw Error("DataFrameView: column index " + std::to_string(index) + " out of range (" +
                        std::to_string(m_columns.size()) + " columns)");
        return m_columns[index];
    }
    FrameColumn const& column(size_t index) const { return const_cast<MemoryDataFrame*>(this)->column(index); }

    Vector2u64 m_shape;
    std::vector<FrameColumn> m_columns;
    std::unordered_map<std::string, size_t, util::KeyedHash> m_byName;
    // Each column's entry in m_byName (entries stay where they are as the
    // table grows), so that a removal moves the later ones without a lookup.
    std::vector<size_t*> m_positions;
    Units m_units;
};

} // namespace

// ------------------------------------------------------------ ColumnUnitExtension

std::shared_ptr<ColumnUnitExtension> ColumnUnitExtension::cast(std::shared_ptr<Extension> const& extension)
{
    return std::dynamic_pointer_cast<ColumnUnitExtension>(extension);
}

// ------------------------------------------------------------------ DataFrameView

DataFrameView::DataFrameView() : View(ViewDataOrigin::UNKNOWN, "DataFrameView") {}

DataFrameView::DataFrameView(ViewDataOrigin origin, std::string displayName,
                             std::vector<std::shared_ptr<ViewOriginExtension>> parents)
    : View(origin, std::move(displayName), std::move(parents))
{}

DataFrameView::~DataFrameView() = default;

void DataFrameView::addColumn(std::string const&, DataType)
{
    detail::needsCapability("DataFrameView", "adding a column", "RESHAPE");
}

void DataFrameView::addRows(size_t, size_t)
{
    detail::needsCapability("DataFrameView", "adding rows", "RESHAPE");
}

void DataFrameView::removeColumn(size_t)
{
    detail::needsCapability("DataFrameView", "removing a column", "RESHAPE");
}

void DataFrameView::removeRows(size_t, size_t)
{
    detail::needsCapability("DataFrameView", "removing rows", "RESHAPE");
}

void DataFrameView::reshapeTable(Vector2u64 const&, std::vector<std::string> const&, std::vector<DataType> const&)
{
    detail::needsCapability("DataFrameView", "reshaping", "RESHAPE");
}

namespace {
std::shared_ptr<ColumnUnitExtension> unitsOf(DataFrameView& view)
{
    auto units = ColumnUnitExtension::cast(view.extension(ColumnUnitExtension::EXTENSION_ID));
    if (!units)
        throw NotImplemented("DataFrameView: the view has no column units");
    return units;
}
} // namespace

std::string DataFrameView::unit(size_t index)
{
    return unitsOf(*this)->unit(index);
}

void DataFrameView::setUnit(size_t index, std::string const& unit)
{
    unitsOf(*this)->setUnit(index, unit);
}

std::string DataFrameView::toString() const
{
    std::ostringstream s;
    Vector2u64 const& sh = shape();
    s << "DataFrameView(columns: " << sh[0] << ", rows: " << sh[1] << ", [";
    for (size_t i = 0; i < sh[0]; ++i)
        s << (i ? ", " : "") << columnName(i) << ": " << columnDataType(i).toString();
    s << "])";
    return s.str();
}

void DataFrameView::reshape(Vector2u64 const& shape, std::string const* columnNames, DataType const* columnDataTypes)
{
    std::vector<std::string> names(columnNames, columnNames + shape[0]);
    std::vector<DataType> types(columnDataTypes, columnDataTypes + shape[0]);
    reshape(shape, names, types);
}

void DataFrameView::reshape(Vector2u64 const& shape, std::vector<std::string> const& columnNames,
                            std::vector<DataType> const& columnDataTypes)
{
    if (!support(DataFrameCapability::RESHAPE))
        detail::needsCapability("DataFrameView", "reshaping", "RESHAPE");
    checkTable(shape, columnNames, columnDataTypes);
    reshapeTable(shape, columnNames, columnDataTypes);
}

void DataFrameView::checkRows(size_t rowOffset, size_t rowCount) const
{
    const size_t end = checkedAdd(rowOffset, rowCount, "data frame rows");
    if (end > shape()[1])
        throw InvalidArgument("DataFrameView: rows " + std::to_string(rowOffset) + " to " + std::to_string(end) +
                              " beyond the " + std::to_string(shape()[1]) + " rows");
}

void DataFrameView::readBytes(size_t column, size_t rowOffset, size_t rowCount, void* dst, size_t dstSize)
{
    const DataType type = columnDataType(column);
    if (isUtf8String(type))
        throw Error(kNotNumeric);
    checkRows(rowOffset, rowCount);
    const size_t need = checkedMultiply(rowCount, type.byteCount(), "data frame transfer size");
    if (dstSize < need)
        throw InvalidArgument("DataFrameView: the buffer of " + std::to_string(dstSize) + " bytes cannot hold " +
                              std::to_string(need));
    read(column, rowOffset, rowCount, dst);
}

void DataFrameView::writeBytes(size_t column, size_t rowOffset, size_t rowCount, const void* src, size_t srcSize)
{
    const DataType type = columnDataType(column);
    if (isUtf8String(type))
        throw Error(kNotNumeric);
    checkRows(rowOffset, rowCount);
    const size_t need = checkedMultiply(rowCount, type.byteCount(), "data frame transfer size");
    if (srcSize < need)
        throw InvalidArgument("DataFrameView: the buffer of " + std::to_string(srcSize) + " bytes does not hold " +
                              std::to_string(need));
    write(column, rowOffset, rowCount, src);
}

void DataFrameView::readStrings(size_t column, size_t rowOffset, size_t rowCount, std::string* dst, size_t dstCount)
{
    if (!isUtf8String(columnDataType(column)))
        throw Error(kNotStrings);
    checkRows(rowOffset, rowCount);
    if (dstCount < rowCount)
        throw InvalidArgument("DataFrameView: a list of " + std::to_string(dstCount) + " strings cannot hold " +
                              std::to_string(rowCount) + " rows");
    read(column, rowOffset, rowCount, dst);
}

void DataFrameView::writeStrings(size_t column, size_t rowOffset, size_t rowCount, std::string const* src,
                                 size_t srcCount)
{
    if (!isUtf8String(columnDataType(column)))
        throw Error(kNotStrings);
    checkRows(rowOffset, rowCount);
    if (srcCount < rowCount)
        throw InvalidArgument("DataFrameView: a list of " + std::to_string(srcCount) + " strings does not hold " +
                              std::to_string(rowCount) + " rows");
    write(column, rowOffset, rowCount, src);
}

// ---------------------------------------------------------- DataFrameViewFactory

bool DataFrameViewFactory::supports(DataType type)
{
    if (DataFrameView::isUtf8String(type))
        return true;
    if (!type.isScalar())
        return false;
    if (type.primitiveType() == PrimitiveTypeId::FLOATING_POINT)
        return type.bitDepth() == 16 || type.bitDepth() == 32 || type.bitDepth() == 64;
    return type.bitDepth() >= 1 && type.bitDepth() <= 64;
}

std::shared_ptr<DataFrameView> DataFrameViewFactory::allocate(Vector2u64 const& shape, std::string const* columnNames,
                                                              DataType const* columnDataTypes)
{
    std::vector<std::string> names(columnNames, columnNames + shape[0]);
    std::vector<DataType> types(columnDataTypes, columnDataTypes + shape[0]);
    return allocate(shape, names, types);
}

std::shared_ptr<DataFrameView> DataFrameViewFactory::allocate(Vector2u64 const& shape,
                                                              std::vector<std::string> const& columnNames,
                                                              std::vector<DataType> const& columnDataTypes)
{
    auto view = std::make_shared<MemoryDataFrame>();
    view->reshape(shape, columnNames, columnDataTypes);
    return view;
}

std::shared_ptr<DataFrameView> DataFrameViewFactory::allocate()
{
    return std::make_shared<MemoryDataFrame>();
}

namespace detail {

std::shared_ptr<DataFrameView> memoryFrame(std::vector<FrameColumn>& columns, std::size_t rows)
{
    auto view = std::make_shared<MemoryDataFrame>();
    view->take(columns, rows);
    return view;
}

std::vector<FrameColumn> const* memoryColumns(DataFrameView const& frame)
{
    auto const* memory = dynamic_cast<MemoryDataFrame const*>(&frame);
    return memory ? &memory->columns() : nullptr;
}

} // namespace detail

} // namespace quelbo
