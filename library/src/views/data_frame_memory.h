// The columns of the in-memory data frame, for code of the library that
// builds one from cells it already holds or reads one's cells in place (the
// records of data frames), without a copy.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/data_frame.h"
#include "values/large_block.h"

namespace quelbo::detail {

// A column of an in-memory data frame: numeric cells packed in `bytes` (rows
// times the type's byte count), UTF-8 strings in `strings`, one per row.
struct FrameColumn
{
    std::string name;
    DataType type;
    std::string unit;
    Bytes bytes;
    std::vector<std::string> strings;
};

// An in-memory data frame (DataFrameViewFactory's) of `rows` rows over these
// columns, their cells taken as they are. Error for a duplicate name or a
// type such a frame does not hold, InvalidArgument for cells that are not
// `rows` of the column's, before anything is taken.
std::shared_ptr<DataFrameView> memoryFrame(std::vector<FrameColumn>& columns, std::size_t rows);

// The columns of an in-memory data frame, to be read in place; null for a
// frame of another kind.
std::vector<FrameColumn> const* memoryColumns(DataFrameView const& frame);

} // namespace quelbo::detail
