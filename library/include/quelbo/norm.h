// Norms of a run of numbers that neither overflow nor underflow on the way.
#pragma once
#include <cmath>
#include <cstddef>

namespace quelbo {
namespace norm_detail {

enum class Norm
{
    L1, // the sum of the magnitudes
    L2, // the Euclidean norm
};

// A norm measured on the elements times a power of two, `factor`, chosen so
// that the largest magnitude times factor lies in [1, 2) (below 1 for a
// subnormal largest): no square or sum
// then overflows, and none that matters underflows. Scaling by a power of two
// is exact, so a direction scaled by one measures and normalises bit for bit
// as the direction itself. The norm is reduced / factor, infinite only when
// it really exceeds the largest double. Without a direction (every element
// zero, or one infinite or NaN) factor is 1 and reduced is the largest
// magnitude (NaN when one is NaN).
struct Measure
{
    double factor;
    double reduced;

    double value() const { return reduced / factor; }
    bool hasDirection() const { return reduced > 0.0 && std::isfinite(reduced); }
    // An element divided by the norm (meant for a measure with a direction).
    double unit(double element) const { return element * factor / reduced; }
};

template <Norm K, class T>
Measure measure(T const* data, std::size_t size)
{
    double largest = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        double const a = std::fabs(static_cast<double>(data[i]));
        if (a > largest || a != a) // a NaN, once seen, stays
            largest = a;
    }
    if (!(largest > 0.0) || !std::isfinite(largest))
        return {1.0, largest};
    // 2^-k for the largest's exponent k; a subnormal largest is scaled by
    // 2^1022 only, so that the factor stays a double
    int const k = std::ilogb(largest);
    double const factor = std::ldexp(1.0, -(k < -1022 ? -1022 : k));
    double sum = 0.0;
    for (std::size_t i = 0; i < size; ++i) {
        double const x = static_cast<double>(data[i]) * factor;
        sum += K == Norm::L1 ? std::fabs(x) : x * x;
    }
    return {factor, K == Norm::L1 ? sum : std::sqrt(sum)};
}

} // namespace norm_detail
} // namespace quelbo
