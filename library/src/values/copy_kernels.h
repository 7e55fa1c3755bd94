// The element-copy step of region copies: one run of elements between two
// strided places (private to the library).
#pragma once
#include <cstddef>
#include <cstdint>

namespace quelbo::detail {

// Copies count elements of `bytes` bytes each from s to d, the elements ss
// and ds bytes apart on each side (negative strides included).
void copyElements(const uint8_t* s, uint8_t* d, uint64_t count, int64_t ss, int64_t ds, size_t bytes);

// Fills the dense run d with count samples of planeCount components of
// `bytes` bytes each: component k of sample i is element i of the dense run
// planes[k].
void interleave(const uint8_t* const* planes, size_t planeCount, uint8_t* d, uint64_t count, size_t bytes);

} // namespace quelbo::detail
