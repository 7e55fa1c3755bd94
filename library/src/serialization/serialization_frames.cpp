// Data-frame view records: columns (name, type, unit), then the cells
// column after column.
#include <algorithm>
#include <string>
#include <vector>

#include "quelbo/data_frame.h"
#include "quelbo/serialization.h"
#include "serialization/serialization_stream.h"
#include "values/chunks.h"
#include "views/data_frame_memory.h"

namespace quelbo {

namespace {

using detail::FrameColumn;
using serial::Kind;
using serial::Reader;
using serial::Writer;

// Strings move by runs of this many; numbers by chunks.
constexpr std::size_t kRunStrings = 4096;
// The fewest bytes a column description takes: name length, type, unit length.
constexpr uint64_t kColumnBytes = 8 + 8 + 8;

// The cells of a frame of another kind than the in-memory one, through its
// checked transfers.
void putCells(Writer& out, DataFrameView& frame, std::size_t c, DataType type, std::size_t rows)
{
    if (DataFrameView::isUtf8String(type)) {
        std::vector<std::string> run(std::min(rows, kRunStrings));
        for (std::size_t at = 0; at < rows; at += run.size()) {
            std::size_t const n = std::min(run.size(), rows - at);
            frame.readStrings(c, at, n, run.data(), n);
            for (std::size_t i = 0; i < n; ++i)
                out.string(run[i]);
        }
        return;
    }
    std::size_t const cell = type.byteCount();
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
    // The cells of an in-memory frame go from its columns straight to the stream.
    std::vector<FrameColumn> const* held = detail::memoryColumns(frame);
    for (std::size_t c = 0; c < columns; ++c) {
        if (!held) {
            putCells(out, frame, c, types[c], rows);
        } else if (DataFrameView::isUtf8String(types[c])) {
            for (std::string const& s : (*held)[c].strings)
                out.string(s);
        } else {
            out.raw((*held)[c].bytes.data(), (*held)[c].bytes.size());
        }
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
    std::vector<FrameColumn> columns;
    for (std::size_t c = 0; c < count; ++c) {
        FrameColumn column;
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
    for (FrameColumn const& column : columns) {
        std::size_t const cell = DataFrameView::isUtf8String(column.type) ? 8 : column.type.byteCount();
        least = checkedAdd(least, checkedMultiply(std::size_t(rows), cell, "data frame size"), "data frame size");
    }
    in.expect(least);
    // The cells are read into the columns the frame then takes.
    for (FrameColumn& column : columns) {
        if (DataFrameView::isUtf8String(column.type)) {
            for (uint64_t r = 0; r < rows; ++r)
                column.strings.push_back(in.string());
        } else {
            in.bytes(column.bytes, std::size_t(rows) * column.type.byteCount());
        }
    }
    in.sync();
    return detail::memoryFrame(columns, std::size_t(rows));
}

} // namespace quelbo
