// Built without trapping math (see CMakeLists.txt): nothing reads the
// floating-point exception flags, and the selects of the saturation then
// compile to vector blends.
#include "values/convert_kernels.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "quelbo/data_type_traits.h"
#include "util/wide_vectors.h"

namespace quelbo::detail {

namespace {

template <class T>
inline QUELBO_INLINED T saturate(double v)
{
    using Limits = std::numeric_limits<T>;
    if constexpr (std::is_floating_point<T>::value) {
        // A value beyond the type's range, made large enough to round to an
        // infinity of its sign (one that would round to the largest value
        // too): the select then works on the vectors of the computation.
        double const top = double(Limits::max());
        return T(v * (std::fabs(v) > top ? 0x1p64 : 1.0));
    } else if constexpr (sizeof(T) <= 4) {
        // Clamped first (the bounds are integers, so this commutes with the
        // rounding), then rounded by adding and removing 1.5 * 2^52, which
        // leaves no fraction: branch-free, so that the loops vectorise.
        double const magic = 6755399441055744.0;
        v = v < double(Limits::min()) ? double(Limits::min()) : v;
        v = v > double(Limits::max()) ? double(Limits::max()) : v;
        v = v == v ? v : 0.0;
        return T((v + magic) - magic);
    } else {
        if (std::isnan(v))
            return 0;
        v = std::nearbyint(v);
        if (v <= double(Limits::min()))
            return Limits::min();
        if (v >= double(Limits::max()))
            return Limits::max();
        return T(v);
    }
}

// The store of a value known to lie in the type's range (of at most 32 bits
// for integers, which round).
template <class T>
inline QUELBO_INLINED T inRange(double v)
{
    if constexpr (std::is_floating_point<T>::value)
        return T(v);
    else
        return T((v + 6755399441055744.0) - 6755399441055744.0);
}

template <class From, class To, bool Checked>
QUELBO_WIDE_VECTORS void convert(const uint8_t* src, uint8_t* dst, size_t count, Linear const& map)
{
    double const from = map.from, scale = map.scale, to = map.to;
    for (size_t i = 0; i < count; ++i) {
        From v;
        std::memcpy(&v, src + i * sizeof(From), sizeof v);
        double const mapped = (double(v) - from) * scale + to;
        To const out = Checked ? saturate<To>(mapped) : inRange<To>(mapped);
        std::memcpy(dst + i * sizeof(To), &out, sizeof out);
    }
}

// Whether every value of an integer type maps into the range of To. Each
// step of the map is monotonic, so the ends of From's range bound the images
// of all its values (NaN ends fail the test).
template <class From, class To>
bool mapsInto(Linear const& map)
{
    if constexpr (std::is_floating_point<From>::value)
        return false; // NaN and infinities need the checks
    else if constexpr (!std::is_floating_point<To>::value && sizeof(To) == 8)
        return false; // the top of the range is not a double
    else {
        double const a = (double(std::numeric_limits<From>::min()) - map.from) * map.scale + map.to;
        double const b = (double(std::numeric_limits<From>::max()) - map.from) * map.scale + map.to;
        double const low = double(std::numeric_limits<To>::lowest()), high = double(std::numeric_limits<To>::max());
        return a >= low && a <= high && b >= low && b <= high;
    }
}

} // namespace

ConvertFn linearConverter(DataType from, DataType to, Linear const& map)
{
    auto none = []() -> ConvertFn { return nullptr; };
    return visitPair(
        from, to,
        [&](auto a, auto b) -> ConvertFn {
            using From = typename decltype(a)::type;
            using To = typename decltype(b)::type;
            return mapsInto<From, To>(map) ? &convert<From, To, false> : &convert<From, To, true>;
        },
        none);
}

} // namespace quelbo::detail
