// Boxes of samples moved between device and host memory in the fewest driver
// copies.
#pragma once
#include <cstddef>
#include <cstdint>

#include "quelbo_cuda/driver.h"

namespace quelbo_cuda {

// A caller's buffer, in host or device memory (the driver tells).
Driver::Plane planeOf(const void* p);

// Copies a box of `n` axes of `size` elements of `elementBytes` bytes from
// src to dst, where element i lies at sum(i[d] * stride[d]) bytes from the
// side's plane (strides positive). The box's axes are ordered and merged by
// the library's box walk; the longest run both sides hold in a row is the
// width of every copy, and the one or two axes after it that hold the most
// elements where the driver takes their pitches its rows and slices: one
// driver copy for what is contiguous or evenly pitched, one per element of
// the axes left over.
void copyBox(Driver::Plane const& dst, Driver::Plane const& src, uint64_t const* size, uint64_t const* dstStride,
             uint64_t const* srcStride, std::size_t n, std::size_t elementBytes);

} // namespace quelbo_cuda
