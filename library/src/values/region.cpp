// The failures of region checks, worded once.
#include "quelbo/region.h"

namespace quelbo {
namespace region_detail {

void throwOverflow(std::size_t axis)
{
    throw InvalidArgument("region origin plus size overflows 64 bits on axis " + std::to_string(axis));
}

void throwSizeMismatch(std::size_t originSize, std::size_t sizeSize)
{
    throw InvalidArgument("region origin and size must have the same length, got " + std::to_string(originSize) +
                          " and " + std::to_string(sizeSize));
}

void throwDimensionMismatch(char const* operation, std::size_t left, std::size_t right)
{
    throw InvalidArgument(std::string("region ") + operation + " needs the same dimension count, got " +
                          std::to_string(left) + " and " + std::to_string(right));
}

void throwSliceAxis(std::size_t dimension, std::size_t dimensionCount)
{
    throw InvalidArgument("slice axis " + std::to_string(dimension) + " is out of range for a region of " +
                          std::to_string(dimensionCount) + " dimensions");
}

void throwSlicePosition(std::size_t dimension, uint64_t origin, uint64_t size)
{
    throw InvalidArgument("slice position " + std::to_string(origin) + " is out of range on axis " +
                          std::to_string(dimension) + " of size " + std::to_string(size));
}

} // namespace region_detail
} // namespace quelbo
