// Norms of a run of numbers that neither overflow nor underflow on the way.
#pragma once
#include <cmath>
#include <cstddef>
#include <limits>

#include "quelbo/lanes.h"

namespace quelbo {
namespace norm_detail {

enum class Norm
{
    L1, // the sum of the magnitudes
    L2, // the Euclidean norm
};

// A norm measured on the elements times a power of two, `factor`: 1 where
// the plain formula neither overflows nor underflows, else chosen so that the
// largest magnitude times factor lies in [1, 2) (below 1 for a subnormal
// largest), so that no square or sum then overflows, and none that matters
// underflows. Scaling by a power of two is exact, so a direction scaled by
// one measures and normalises bit for bit as the direction itself. The norm
// is reduced / factor, infinite only when it really exceeds the largest
// double. Without a direction (every element zero, or one infinite or NaN)
// factor is 1 and reduced is the largest magnitude, or the plain sum (NaN
// when one is NaN).
struct Measure
{
    double factor;
    double reduced;

    double value() const { return reduced / factor; }
    bool hasDirection() const { return reduced > 0.0 && std::isfinite(reduced); }
    // An element divided by the norm (meant for a measure with a direction).
    double unit(double element) const { return element * factor / reduced; }
};

// Sums and maxima over the elements run in these many lanes (quelbo/lanes.h).
constexpr std::size_t kNormLanes = 16;

template <class T>
[[gnu::always_inline]] inline double magnitude(T x)
{
    return std::fabs(static_cast<double>(x));
}

// The measure scaled by the largest magnitude, whatever the plain formula
// would give.
template <Norm K, class T>
[[gnu::always_inline]] inline Measure scaledMeasure(T const* data, std::size_t size)
{
    // a NaN, once seen, stays: in any order of the lanes
    double const largest = lanes::reduce<kNormLanes>(
        size, 0.0, [data](std::size_t i) { return magnitude(data[i]); },
        [](double top, double a) { return a > top || a != a ? a : top; });
    if (!(largest > 0.0) || !std::isfinite(largest))
        return {1.0, largest};
    // 2^-k for the largest's exponent k; a subnormal largest is scaled by
    // 2^1022 only, so that the factor stays a double
    int const k = std::ilogb(largest);
    double const factor = std::ldexp(1.0, -(k < -1022 ? -1022 : k));
    double const sum = lanes::sum<kNormLanes, double>(size, [data, factor](std::size_t i) {
        double const x = static_cast<double>(data[i]) * factor;
        return K == Norm::L1 ? std::fabs(x) : x * x;
    });
    return {factor, K == Norm::L1 ? sum : std::sqrt(sum)};
}

// The L1 norm takes one pass where its plain sum is finite, as it is unless
// the norm exceeds the largest double: a sum of magnitudes underflows
// nowhere (sums of subnormal numbers are exact, and above them the grid is
// the scaled one's), so the plain sum is what scaling gives, bit for bit
// (short of terms so far below the largest that scaling would round them),
// with the factor 1. The Euclidean norm is always scaled: a square
// overflows or underflows long before the norm does.
template <Norm K, class T>
[[gnu::always_inline]] inline Measure measure(T const* data, std::size_t size)
{
    if constexpr (K == Norm::L1) {
        double const sum = lanes::sum<kNormLanes, double>(size, [data](std::size_t i) { return magnitude(data[i]); });
        if (!(sum > std::numeric_limits<double>::max())) // finite, or NaN where an element is
            return {1.0, sum};
    }
    return scaledMeasure<K>(data, size);
}

} // namespace norm_detail
} // namespace quelbo
