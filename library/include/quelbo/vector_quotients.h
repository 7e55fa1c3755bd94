// Integer quotients of the vector operators: the checks that refuse a
// division before any element is written, the division of many elements by
// one divisor, and 64-bit quotients of many divisors, each a vector at a time.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "quelbo/export.h"

namespace quelbo {
namespace vector_detail {

[[noreturn]] QUELBO_API void throwDivisionByZero();
[[noreturn]] QUELBO_API void throwDivisionOverflow();

// The integer quotients a[i] / b[i] (or a[i] / b for every i) that do not
// exist: the first one in the order of the elements throws, a zero divisor
// before an overflow. Checked before any element is written, so that a
// refused division leaves its vector as it was.
template <class T>
[[gnu::always_inline]] inline void checkQuotient(T a, T b)
{
    if (b == 0)
        throwDivisionByZero();
    if constexpr (std::is_signed<T>::value) {
        // The one quotient that does not fit: refused rather than wrapped.
        if (b == T(-1) && a == std::numeric_limits<T>::min())
            throwDivisionOverflow();
    }
}

template <class T>
[[gnu::always_inline]] inline void checkQuotients(T const* a, T const* b, std::size_t n)
{
    // A pass that only looks: the checks keep no division loop from running wide.
    bool refused = false;
    for (std::size_t i = 0; i < n; ++i) {
        if constexpr (std::is_signed<T>::value)
            refused |= (b[i] == 0) | ((b[i] == T(-1)) & (a[i] == std::numeric_limits<T>::min()));
        else
            refused |= b[i] == 0;
    }
    if (refused) {
        for (std::size_t i = 0; i < n; ++i)
            checkQuotient(a[i], b[i]);
    }
}

template <class T>
[[gnu::always_inline]] inline void checkQuotients(T const* a, T b, std::size_t n)
{
    if (n == 0)
        return;
    if (b == 0)
        throwDivisionByZero();
    if (std::is_signed<T>::value && b == T(-1)) {
        for (std::size_t i = 0; i < n; ++i)
            checkQuotient(a[i], b);
    }
}

// Integer division of many elements by one divisor d: a multiplication by a
// number made for d, keeping the high half of the product, and shifts
// (Granlund and Montgomery's method), which runs a vector at a time where a
// division runs an element at a time. Truncates toward zero as / does, for
// every dividend; d is neither 0 nor, for a dividend of the smallest signed
// value, -1 (checkQuotients).
template <class T>
class ByDivisor
{
    static_assert(std::is_integral<T>::value, "integer division");
    static constexpr bool kSigned = std::is_signed<T>::value;
    static constexpr int kBits = int(sizeof(T)) * 8;
    using U = std::make_unsigned_t<T>;
    using Big = unsigned __int128;
    template <class S, class Unsigned>
    using Like = std::conditional_t<kSigned, S, Unsigned>;
    // 8-bit elements are worked on at 16 bits, where vectors multiply and
    // shift; unsigned ones need no more than a 16-bit product's high half.
    using Work = std::conditional_t<sizeof(T) == 1, Like<std::int16_t, std::uint16_t>, T>;
    static constexpr bool kByte = sizeof(T) == 1 && !kSigned;
    using WorkU = std::make_unsigned_t<Work>;
    // The product of elements of 16 and 32 bits, at twice their width.
    using Twice = std::conditional_t<sizeof(T) <= 2, Like<std::int32_t, std::uint32_t>, Like<std::int64_t, std::uint64_t>>;

public:
    explicit ByDivisor(T d)
    {
        if constexpr (kByte) {
            // q = high16((n << m_first) * m_factor) >> m_second, a 16-bit
            // factor sufficing for 8-bit dividends: ceil(2^(15 + l) / d) for
            // d > 1, 2^15 on n doubled for d = 1.
            int const l = bitWidth(Big(d) - 1);
            m_factor = d == 1 ? Work(1u << 15) : Work(((std::uint32_t(1) << (15 + l)) + d - 1) / d);
            m_first = d == 1 ? 1 : 0;
            m_second = d == 1 ? 0 : l - 1;
        } else if constexpr (!kSigned) {
            int const l = bitWidth(Big(d) - 1); // the least l with d <= 2^l
            m_factor = T(((Big(1) << kBits) * ((Big(1) << l) - d)) / d + 1);
            m_first = l < 1 ? l : 1;
            m_second = l > 1 ? l - 1 : 0;
        } else {
            U const size = d < 0 ? U(U(0) - U(d)) : U(d);
            int const l = std::max(bitWidth(Big(size) - 1), 1);
            m_factor = T(U(1 + (Big(1) << (kBits + l - 1)) / size)); // less 2^kBits
            m_second = l - 1;
            m_sign = d < 0 ? Work(-1) : Work(0);
        }
    }

    // The division as a function of the dividend, which holds the numbers
    // made for d by value: the compiler then sees them fixed through the loop
    // and the shifts below kBits (an 8-bit element's work runs at 16 bits).
    auto kernel() const
    {
        return [factor = m_factor, first = m_first & (kBits - 1), second = m_second & (kBits - 1),
                sign = m_sign](T element) { return divide(element, factor, first, second, sign); };
    }

private:
    [[gnu::always_inline]] static T divide(T element, Work factor, int first, int second, Work sign)
    {
        if constexpr (kByte) {
            Work const x = Work(element << first);
            Work const high = Work((std::uint32_t(x) * factor) >> 16);
            return T(high >> second);
        } else {
            Work const n = element;
            Work const high = highHalf(n, factor);
            if constexpr (!kSigned) {
                return T(Work(high + Work(Work(n - high) >> first)) >> second);
            } else {
                // In wrapping arithmetic, less -1 for a negative n.
                Work const q = Work(WorkU(Work(Work(WorkU(n) + WorkU(high)) >> second)) - WorkU(Work(n < 0 ? -1 : 0)));
                return T(WorkU(q ^ sign) - WorkU(sign));
            }
        }
    }

    // The high half of factor * n (kBits wide), both signed or both unsigned.
    [[gnu::always_inline]] static Work highHalf(Work n, Work factor)
    {
        if constexpr (sizeof(T) == 1) {
            return Work(Work(factor * n) >> kBits); // |factor * n| < 2^15
        } else if constexpr (sizeof(T) < 8) {
            return Work((Twice(factor) * Twice(n)) >> kBits);
        } else {
            // From four products of 32-bit halves, which run a vector at a
            // time where a 128-bit product does not; a signed product is the
            // unsigned one less each factor times the other's sign.
            std::uint64_t const x = std::uint64_t(factor), y = std::uint64_t(n);
            std::uint64_t const x0 = std::uint32_t(x), x1 = x >> 32, y0 = std::uint32_t(y), y1 = y >> 32;
            std::uint64_t const p00 = x0 * y0, p01 = x0 * y1, p10 = x1 * y0, p11 = x1 * y1;
            std::uint64_t const middle = (p00 >> 32) + std::uint32_t(p01) + std::uint32_t(p10);
            std::uint64_t high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
            if constexpr (kSigned)
                high -= (x & std::uint64_t(n >> 63)) + (y & std::uint64_t(factor >> 63));
            return Work(high);
        }
    }

    static constexpr int bitWidth(Big x)
    {
        int width = 0;
        for (; x != 0; x >>= 1)
            ++width;
        return width;
    }

    Work m_factor = 0;
    int m_first = 0;
    int m_second = 0;
    Work m_sign = 0;
};

// 64-bit integer quotients a[i] / b[i], the divisors checked: a block
// whose elements all lie within 2^53 of zero divides as doubles, exact as
// the smaller integers' do (compute), a vector at a time; any other block by
// the hardware's division, an element at a time. Each block's quotients are
// made apart, then stored: out may be a or b.
template <class T>
[[gnu::always_inline]] inline void divideWide(T const* a, T const* b, T* out, std::size_t n)
{
    static_assert(std::is_integral<T>::value && sizeof(T) == 8, "64-bit integers");
    using U = std::make_unsigned_t<T>;
    constexpr std::size_t kBlock = 32;
    constexpr U kExact = U(1) << 53;
    auto size = [](T x) { return std::is_signed<T>::value && x < 0 ? U(U(0) - U(x)) : U(x); };
    for (std::size_t i = 0; i < n; i += kBlock) {
        std::size_t const count = std::min(kBlock, n - i);
        T const* const x = a + i;
        T const* const y = b + i;
        T q[kBlock];
        U beyond = 0;
        for (std::size_t j = 0; j < count; ++j)
            beyond |= (size(x[j]) >= kExact ? U(1) : U(0)) | (size(y[j]) >= kExact ? U(1) : U(0));
        if (beyond) {
            for (std::size_t j = 0; j < count; ++j)
                q[j] = T(x[j] / y[j]);
        } else {
            for (std::size_t j = 0; j < count; ++j)
                q[j] = T(double(x[j]) / double(y[j]));
        }
        for (std::size_t j = 0; j < count; ++j)
            out[i + j] = q[j];
    }
}

} // namespace vector_detail
} // namespace quelbo
