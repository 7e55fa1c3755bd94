// The element-copy step of region copies: one run of elements between two
// strided places (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>

namespace quelbo::detail {

// Copies count elements of `bytes` bytes each from s to d, the elements ss
// and ds bytes apart on each side (negative strides included).
void copyElements(const uint8_t* s, uint8_t* d, uint64_t count, int64_t ss, int64_t ds, size_t bytes);

} // namespace quelbo::detail
