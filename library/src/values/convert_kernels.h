// Element type conversions of whole runs, compiled for every pair of numeric
// types (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>

#include "quelbo/data_type.h"

namespace quelbo::detail {

// A linear map between two value ranges: out = (in - from) * scale + to,
// computed in double.
struct Linear
{
    double from, scale, to;
};

// Maps `count` components of one type into another: integer stores round
// (half to even) and saturate, NaN giving 0; floating-point stores beyond the
// type's range give an infinity.
using ConvertFn = void (*)(const uint8_t* src, uint8_t* dst, size_t count, Linear const& map);

// The conversion between two numeric scalar types of 8, 16, 32 or 64 bits
// for this map (one without the checks when no value can leave the range);
// null for any other pair.
ConvertFn linearConverter(DataType from, DataType to, Linear const& map);

} // namespace quelbo::detail
