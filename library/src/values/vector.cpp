// Vector element texts and the failures of vector operations.
#include "quelbo/vector.h"

#include <charconv>

#include "values/large_block.h"

namespace quelbo {
namespace vector_detail {

namespace {

template <class V>
void appendChars(std::string& out, V value)
{
    char buffer[64];
    auto const result = std::to_chars(buffer, buffer + sizeof(buffer), value);
    out.append(buffer, result.ptr);
}

} // namespace

void appendElement(std::string& out, int64_t value)
{
    appendChars(out, value);
}

void appendElement(std::string& out, uint64_t value)
{
    appendChars(out, value);
}

void appendElement(std::string& out, float value)
{
    appendChars(out, value);
}

void appendElement(std::string& out, double value)
{
    appendChars(out, value);
}

void* allocateElements(std::size_t bytes, bool filled)
{
    return detail::allocateBlock(bytes, filled);
}

void releaseElements(void* block, std::size_t bytes) noexcept
{
    detail::releaseBlock(block, bytes);
}

void throwIndexOutOfRange(std::size_t index, std::size_t size)
{
    throw InvalidArgument("vector index " + std::to_string(index) + " is out of range for a vector of size " +
                          std::to_string(size));
}

void throwSizeMismatch(char const* operation, std::size_t left, std::size_t right)
{
    throw InvalidArgument(std::string(operation) + " needs vectors of the same size, got " + std::to_string(left) +
                          " and " + std::to_string(right));
}

void throwDivisionByZero()
{
    throw InvalidArgument("integer vector division by zero");
}

void throwDivisionOverflow()
{
    throw InvalidArgument("integer vector division overflows: the smallest value divided by -1");
}

void throwCrossSize(std::size_t size)
{
    throw InvalidArgument("cross product needs vectors of size 3, got size " + std::to_string(size));
}

void throwFixedSize(std::size_t fixedSize, std::size_t size)
{
    throw InvalidArgument("a vector of size " + std::to_string(fixedSize) + " cannot be made from a vector of size " +
                          std::to_string(size));
}

} // namespace vector_detail
} // namespace quelbo
