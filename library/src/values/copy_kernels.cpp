// Runs gathered into a dense place move several elements a vector: the loops
// are written with the strides known at compile time, so that the compiler
// builds them from wide loads and shuffles. Scatters from a dense place keep
// one store an element: a wide store would rewrite the bytes between the
// elements, which other writers may own.
#include "values/copy_kernels.h"

#include <cstring>
#include <type_traits>

#include "util/wide_vectors.h"

namespace quelbo::detail {

namespace {

// Elements Stride elements apart into a dense run.
template <size_t Bytes, size_t Stride>
inline QUELBO_INLINED void gather(const uint8_t* s, uint8_t* d, uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        std::memcpy(d + i * Bytes, s + i * Stride * Bytes, Bytes);
}

// A reversed run into a dense one (a flipped axis).
template <size_t Bytes>
inline QUELBO_INLINED void reverse(const uint8_t* s, uint8_t* d, uint64_t count)
{
    for (uint64_t i = 0; i < count; ++i)
        std::memcpy(d + i * Bytes, s - i * Bytes, Bytes);
}

template <size_t Bytes>
inline QUELBO_INLINED void copySized(const uint8_t* s, uint8_t* d, uint64_t count, int64_t ss, int64_t ds)
{
    if (ds == int64_t(Bytes)) {
        // A reversed run (a flipped axis), a sub-sampled axis, interleaved
        // channels of one or two bytes into planes.
        if (ss == -int64_t(Bytes))
            return reverse<Bytes>(s, d, count);
        if (ss == 2 * int64_t(Bytes))
            return gather<Bytes, 2>(s, d, count);
        if (Bytes <= 2 && ss == 3 * int64_t(Bytes))
            return gather<Bytes, 3>(s, d, count);
        if (Bytes <= 2 && ss == 4 * int64_t(Bytes))
            return gather<Bytes, 4>(s, d, count);
        for (uint64_t i = 0; i < count; ++i)
            std::memcpy(d + i * Bytes, s + int64_t(i) * ss, Bytes);
        return;
    }
    for (uint64_t i = 0; i < count; ++i, s += ss, d += ds)
        std::memcpy(d, s, Bytes);
}

// Calls f with the element size as a compile-time constant for the sizes
// the kernels are built for, and with 0 for any other.
template <class F>
inline QUELBO_INLINED void bySize(size_t bytes, F&& f)
{
    switch (bytes) {
    case 1:
        return f(std::integral_constant<size_t, 1>());
    case 2:
        return f(std::integral_constant<size_t, 2>());
    case 4:
        return f(std::integral_constant<size_t, 4>());
    case 8:
        return f(std::integral_constant<size_t, 8>());
    case 16:
        return f(std::integral_constant<size_t, 16>());
    default:
        return f(std::integral_constant<size_t, 0>());
    }
}

// Planes components known at compile time: the stores of a sample are
// adjacent, and the loop builds them from wide loads and shuffles.
template <size_t Bytes, size_t Planes>
inline QUELBO_INLINED void interleaveSized(const uint8_t* const* planes, uint8_t* d, uint64_t count)
{
    const uint8_t* p[Planes];
    for (size_t k = 0; k < Planes; ++k)
        p[k] = planes[k];
    for (uint64_t i = 0; i < count; ++i)
        for (size_t k = 0; k < Planes; ++k)
            std::memcpy(d + (i * Planes + k) * Bytes, p[k] + i * Bytes, Bytes);
}

} // namespace

QUELBO_WIDE_VECTORS void copyElements(const uint8_t* s, uint8_t* d, uint64_t count, int64_t ss, int64_t ds,
                                      size_t bytes)
{
    bySize(bytes, [&](auto size) {
        constexpr size_t Bytes = decltype(size)::value;
        if constexpr (Bytes != 0)
            return copySized<Bytes>(s, d, count, ss, ds);
        for (uint64_t i = 0; i < count; ++i, s += ss, d += ds)
            std::memcpy(d, s, bytes);
    });
}

QUELBO_WIDE_VECTORS void interleave(const uint8_t* const* planes, size_t planeCount, uint8_t* d, uint64_t count,
                                    size_t bytes)
{
    bySize(bytes, [&](auto size) {
        constexpr size_t Bytes = decltype(size)::value;
        if constexpr (Bytes != 0 && Bytes <= 8) {
            if (planeCount == 2)
                return interleaveSized<Bytes, 2>(planes, d, count);
            if (planeCount == 3)
                return interleaveSized<Bytes, 3>(planes, d, count);
            if (planeCount == 4)
                return interleaveSized<Bytes, 4>(planes, d, count);
        }
        // Any other: a plane at a time, one store an element.
        size_t const sample = planeCount * bytes;
        for (size_t k = 0; k < planeCount; ++k)
            copyElements(planes[k], d + k * bytes, count, int64_t(bytes), int64_t(sample), bytes);
    });
}

} // namespace quelbo::detail
