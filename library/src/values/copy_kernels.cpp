// Runs gathered into a dense place move several elements a vector: the loops
// are written with the strides known at compile time, so that the compiler
// builds them from wide loads and shuffles. Scatters from a dense place keep
// one store an element: a wide store would rewrite the bytes between the
// elements, which other writers may own.
#include "values/copy_kernels.h"

#include <cstring>

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

} // namespace

QUELBO_WIDE_VECTORS void copyElements(const uint8_t* s, uint8_t* d, uint64_t count, int64_t ss, int64_t ds,
                                      size_t bytes)
{
    switch (bytes) {
    case 1:
        return copySized<1>(s, d, count, ss, ds);
    case 2:
        return copySized<2>(s, d, count, ss, ds);
    case 4:
        return copySized<4>(s, d, count, ss, ds);
    case 8:
        return copySized<8>(s, d, count, ss, ds);
    case 16:
        return copySized<16>(s, d, count, ss, ds);
    default:
        for (uint64_t i = 0; i < count; ++i, s += ss, d += ds)
            std::memcpy(d, s, bytes);
    }
}

} // namespace quelbo::detail
