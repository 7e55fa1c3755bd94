// Data-frame view records: columns (name, type, unit), then the cells
// column after column.
#include <algorithm>
#include <string>
#include <vector>

#include "quelbo/data_frame.h"
#include "quelbo/serialization.h"
#include "serialization/serialization_stream.h"
#include "values/chunks.h"

namespace quelbo {

namespace {

using serial::Kind;
using serial::Reader;
using serial::Writer;

// Strings move by runs of this many; numbers by chunks.
constexpr std::size_t kRunStrings = 4096;
// The fewest bytes a column description takes: name length, type, unit length.
constexpr uint64_t kColumnBytes = 8 + 8 + 8;

struct Column
{
    std::string name;
    DataType type;
    std::string unit;
    detail::Bytes bytes;
    std::vector<std::string> strings;
};

} // namespace

void Serialization::encodeDataFrameView(std::shared_ptr<DataFrameView> dataFrame,
                                        std::shared_ptr<StreamAccess> outStream)
{
    if (!dataFrame)
        serial::fail("no DataFrameView given");
    if (!dataFrame->support(DataFrameCapability::READ))
        serial::fail("DataFrameView has not READ capacity");
    Writer out(outStream);
    out.hold();
    DataFrameView& frame = *dataFrame;
    std::size_t const columns = frame.shape()[0];
    std::size_t const rows = frame.shape()[1];
    auto units = ColumnUnitExtension::cast(frame.extension(ColumnUnitExtension::EXTENSION_ID));
    out.header(Kind::DATA_FRAME, DataType());
    out.u64(columns);
    std::vector<DataType> types;
    for (std::size_t c = 0; c < columns; ++c) {
        DataType const type = frame.columnDataType(c);
        if (!DataFrameViewFactory::supports(type))
            serial::fail("a column of type " + type.toString() + " cannot be written");
        types.push_back(type);
        out.string(frame.columnName(c));
        out.u64(type.id());
        out.string(units ? units->unit(c) : std::string());
    }
    out.u64(rows);
    out.sync();
    out.flush();
    for (std::size_t c = 0; c < columns; ++c) {
        if (DataFrameView::isUtf8String(types[c])) {
            std::vector<std::string> run(std::min(rows, kRunStrings));
            for (std::size_t at = 0; at < rows; at += run.size()) {
                std::size_t const n = std::min(run.size(), rows - at);
                frame.readStrings(c, at, n, run.data(), n);
                for (std::size_t i = 0; i < n; ++i)
                    out.string(run[i]);
            }
            continue;
        }
        std::size_t const cell = types[c].byteCount();
        std::vector<uint8_t> run;
        VectorXu64 all(1);
        all[0] = rows;
        detail::forEachChunk(RegionXu64(VectorXu64(1), all), detail::chunkSamples(cell),
                             [&](RegionXu64 const& part, uint64_t at) {
                                 std::size_t const n = std::size_t(part.size()[0]);
                                 run.resize(n * cell);
                                 frame.readBytes(c, std::size_t(at), n, run.data(), n * cell);
                                 out.raw(run.data(), n * cell);
                             });
    }
    out.sync();
    out.end();
}

std::shared_ptr<DataFrameView> Serialization::decodeDataFrameView(std::shared_ptr<StreamAccess> inStream)
{
    Reader in(inStream);
    DataType const type = in.header(Kind::DATA_FRAME);
    if (type != DataType())
        serial::fail("data type " + type.toString() + " of a DataFrameView record is not UNKNOWN");
    std::size_t const count = std::size_t(in.count(kColumnBytes, ~uint64_t(0), "column count"));
    std::vector<Column> columns;
    for (std::size_t c = 0; c < count; ++c) {
        Column column;
        column.name = in.string();
        column.type = DataType(in.u64());
        if (!DataFrameViewFactory::supports(column.type))
            serial::fail("column type " + column.type.toString() + " is not one a DataFrameView holds");
        column.unit = in.string();
        columns.push_back(std::move(column));
    }
    uint64_t const rows = in.u64();
    in.sync();
    // Every cell must still arrive: at least its bytes, or a string's length.
    uint64_t least = 0;
    for (Column const& column : columns) {
        std::size_t const cell = DataFrameView::isUtf8String(column.type) ? 8 : column.type.byteCount();
        least = checkedAdd(least, checkedMultiply(std::size_t(rows), cell, "data frame size"), "data frame size");
    }
    in.expect(least);
    for (Column& column : columns) {
        if (DataFrameView::isUtf8String(column.type)) {
            for (uint64_t r = 0; r < rows; ++r)
                column.strings.push_back(in.string());
            continue;
        }
        in.block(std::size_t(rows) * column.type.byteCount(), [&] {
            column.bytes.resize(std::size_t(rows) * column.type.byteCount());
            return static_cast<void*>(column.bytes.data());
        });
    }
    in.sync();

    std::shared_ptr<DataFrameView> frame;
    if (columns.empty() || rows == 0) {
        // The factory makes no table with a count of 0: build it up.
        frame = DataFrameViewFactory::allocate();
        for (Column const& column : columns)
            frame->addColumn(column.name, column.type);
        if (rows != 0)
            frame->addRows(0, std::size_t(rows));
    } else {
        std::vector<std::string> names;
        std::vector<DataType> types;
        for (Column const& column : columns) {
            names.push_back(column.name);
            types.push_back(column.type);
        }
        Vector2u64 shape;
        shape[0] = columns.size();
        shape[1] = rows;
        frame = DataFrameViewFactory::allocate(shape, names, types);
    }
    for (std::size_t c = 0; c < columns.size(); ++c) {
        Column const& column = columns[c];
        if (DataFrameView::isUtf8String(column.type))
            frame->writeStrings(c, 0, std::size_t(rows), column.strings.data(), column.strings.size());
        else
            frame->writeBytes(c, 0, std::size_t(rows), column.bytes.data(), column.bytes.size());
        if (!column.unit.empty())
            frame->setUnit(c, column.unit);
    }
    return frame;
}

} // namespace quelbo
