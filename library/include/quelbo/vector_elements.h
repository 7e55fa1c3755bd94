// Element arithmetic of the vector operators and the loops that run it over
// the elements: written once, inlined into the fixed vectors' operators and
// built wide in the library for the dynamic vectors' (their kernels below).
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "quelbo/element_types.h"
#include "quelbo/export.h"
#include "quelbo/lanes.h"
#include "quelbo/norm.h"
#include "quelbo/vector_quotients.h"

namespace quelbo {
namespace vector_detail {

// Element arithmetic of the operators (+, -, *, / and their compound forms,
// element by element or by a scalar):
// - integers wrap around modulo 2^bits (never undefined), computed in an
//   unsigned type at least as wide as unsigned int so that no promotion to a
//   signed int can overflow; division truncates toward zero, and a division by
//   zero or of the smallest signed value by -1 throws InvalidArgument;
// - floating values follow IEEE 754 (a division by 0.0 gives an infinity or NaN);
// - a throwing operator leaves its vector unchanged, and the dynamic vectors
//   throw InvalidArgument for operands of different sizes.
template <class T>
using Wide = std::conditional_t<(sizeof(T) < sizeof(unsigned)), unsigned, std::make_unsigned_t<T>>;

enum class Arithmetic
{
    add,
    sub,
    mul,
    div,
};

// One element of a op b; an integer quotient's divisor has passed checkQuotients.
template <Arithmetic A, class T>
[[gnu::always_inline]] inline T compute(T a, T b)
{
    if constexpr (std::is_floating_point<T>::value) {
        if constexpr (A == Arithmetic::add)
            return a + b;
        else if constexpr (A == Arithmetic::sub)
            return a - b;
        else if constexpr (A == Arithmetic::mul)
            return a * b;
        else
            return a / b;
    } else {
        using W = Wide<T>;
        if constexpr (A == Arithmetic::add)
            return static_cast<T>(static_cast<W>(a) + static_cast<W>(b));
        else if constexpr (A == Arithmetic::sub)
            return static_cast<T>(static_cast<W>(a) - static_cast<W>(b));
        else if constexpr (A == Arithmetic::mul)
            return static_cast<T>(static_cast<W>(a) * static_cast<W>(b));
        else if constexpr (sizeof(T) <= 4) {
            // Integers of up to 32 bits divide as floating values that hold
            // them and their quotient exactly (float up to 16 bits, double for
            // 32), a vector at a time: a quotient that is no integer lies at
            // least 1/|b| from the next one, farther than its rounding error
            // (|a / b| times 2^-24, or 2^-53) can take it, so its truncation
            // is the integer quotient.
            using F = std::conditional_t<(sizeof(T) <= 2), float, double>;
            return static_cast<T>(static_cast<F>(a) / static_cast<F>(b));
        } else
            return static_cast<T>(a / b);
    }
}

// The element operations by name, as dot and cross products use them.
template <class T>
T add(T a, T b)
{
    return compute<Arithmetic::add>(a, b);
}

template <class T>
T sub(T a, T b)
{
    return compute<Arithmetic::sub>(a, b);
}

template <class T>
T mul(T a, T b)
{
    return compute<Arithmetic::mul>(a, b);
}

template <class T>
[[gnu::always_inline]] inline T neg(T a)
{
    if constexpr (std::is_floating_point<T>::value)
        return -a;
    else
        return static_cast<T>(static_cast<Wide<T>>(0) - static_cast<Wide<T>>(a));
}

// out[i] = a[i] op b[i] for n elements; out is a, b, or apart from both.
template <Arithmetic A, class T>
[[gnu::always_inline]] inline void combine(T const* a, T const* b, T* out, std::size_t n)
{
    if constexpr (A == Arithmetic::div && !std::is_floating_point<T>::value) {
        checkQuotients(a, b, n);
        if constexpr (sizeof(T) == 8)
            return divideWide(a, b, out, n);
    }
    // Each aliasing in a loop of its own, where the compiler knows that no
    // store changes an element still to be read.
    auto apart = [n](T const* __restrict x, T const* __restrict y, T* __restrict z) {
        for (std::size_t i = 0; i < n; ++i)
            z[i] = compute<A>(x[i], y[i]);
    };
    auto intoLeft = [n](T* __restrict x, T const* __restrict y) {
        for (std::size_t i = 0; i < n; ++i)
            x[i] = compute<A>(x[i], y[i]);
    };
    auto intoRight = [n](T const* __restrict x, T* __restrict y) {
        for (std::size_t i = 0; i < n; ++i)
            y[i] = compute<A>(x[i], y[i]);
    };
    auto withItself = [n](T* x) {
        for (std::size_t i = 0; i < n; ++i)
            x[i] = compute<A>(x[i], x[i]);
    };
    if (out == a && out == b)
        withItself(out);
    else if (out == a)
        intoLeft(out, b);
    else if (out == b)
        intoRight(a, out);
    else
        apart(a, b, out);
}

// out[i] = f(a[i]) for n elements; out is a or apart from it.
template <class T, class F>
[[gnu::always_inline]] inline void transform(T const* a, T* out, std::size_t n, F f)
{
    auto apart = [n, f](T const* __restrict x, T* __restrict z) {
        for (std::size_t i = 0; i < n; ++i)
            z[i] = f(x[i]);
    };
    if (out == a) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = f(out[i]);
    } else {
        apart(a, out);
    }
}

// out[i] = a[i] op b for n elements; out is a or apart from it.
template <Arithmetic A, class T>
[[gnu::always_inline]] inline void combine(T const* a, T b, T* out, std::size_t n)
{
    if constexpr (A == Arithmetic::div && !std::is_floating_point<T>::value) {
        checkQuotients(a, b, n);
        // Without elements any divisor passes, 0 included, and divides none.
        // (A branch around the loops instead keeps the compiler from finding
        // the 16-bit products of 8-bit elements.)
        transform(a, out, n, ByDivisor<T>(n == 0 ? T(1) : b).kernel());
    } else {
        transform(a, out, n, [b](T x) { return compute<A>(x, b); });
    }
}

// out[i] = -a[i]; out is a or apart from it.
template <class T>
[[gnu::always_inline]] inline void negate(T const* a, T* out, std::size_t n)
{
    transform(a, out, n, [](T x) { return neg(x); });
}

// The sum of a[i] * b[i], each product and sum in the element type. Integers
// wrap around, so any order of the sums gives the same result. Floating sums
// run in kDotLanes lanes (quelbo/lanes.h): fewer products in the order of the
// elements (as the fixed vectors' always do).
template <class T>
constexpr std::size_t kDotLanes = 128 / sizeof(T);

template <class T>
[[gnu::always_inline]] inline T dotProduct(T const* a, T const* b, std::size_t n)
{
    if constexpr (!std::is_floating_point<T>::value) {
        Wide<T> sum = 0;
        for (std::size_t i = 0; i < n; ++i)
            sum += static_cast<Wide<T>>(static_cast<Wide<T>>(a[i]) * static_cast<Wide<T>>(b[i]));
        return static_cast<T>(sum);
    } else {
        return lanes::sum<kDotLanes<T>, T>(n, [a, b](std::size_t i) { return a[i] * b[i]; });
    }
}

// The L1 norm, the sum of the magnitudes, in double (quelbo/norm.h).
template <class T>
[[gnu::always_inline]] inline double l1Norm(T const* data, std::size_t size)
{
    return norm_detail::measure<norm_detail::Norm::L1>(data, size).value();
}

// Divides every element by the L1 norm, however large or small; a vector
// without a direction (zero, or holding an infinity or NaN) stays as it is.
// Integer quotients truncate toward zero, exactly: x / L1 reaches 1 only for
// the one non-zero element of a vector that has one (measured in double,
// 64-bit elements such as 2^64 - 1 next to 1 would round up to it).
template <class T>
[[gnu::always_inline]] inline void normalize(T* data, std::size_t size)
{
    if constexpr (std::is_floating_point<T>::value) {
        norm_detail::Measure const norm = norm_detail::measure<norm_detail::Norm::L1>(data, size);
        if (!norm.hasDirection())
            return;
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<T>(norm.unit(static_cast<double>(data[i])));
    } else {
        std::size_t nonZero = 0;
        for (std::size_t i = 0; i < size; ++i)
            nonZero += data[i] != 0;
        for (std::size_t i = 0; i < size; ++i)
            data[i] = nonZero == 1 && data[i] != 0 ? static_cast<T>(data[i] > 0 ? 1 : -1) : T(0);
    }
}

// The first position i < n where a[i] and b[i] differ (a NaN differs from
// everything, itself included), or n: looked for in blocks that are read
// whole, wide, before their first difference is looked for one by one. Each
// difference is a mask of the elements' width, which the compiler compares
// and gathers a vector at a time.
template <class T>
[[gnu::always_inline]] inline std::size_t mismatch(T const* a, T const* b, std::size_t n)
{
    using Mask = std::conditional_t<
        sizeof(T) == 1, uint8_t,
        std::conditional_t<sizeof(T) == 2, uint16_t, std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>>>;
    constexpr std::size_t kBlock = 256 / sizeof(T);
    std::size_t i = 0;
    for (; i + kBlock <= n; i += kBlock) {
        Mask differs = 0;
        for (std::size_t j = 0; j < kBlock; ++j)
            differs |= a[i + j] != b[i + j] ? Mask(-1) : Mask(0); // != holds at a NaN
        if (differs)
            break;
    }
    for (; i < n; ++i) {
        if (!(a[i] == b[i]))
            return i;
    }
    return n;
}

// The kernels of the dynamic vectors: the loops above for each element type
// and operation, built for the widest vectors the machine has.
#define QUELBO_VECTOR_KERNELS(T, S, ID)                                                                                \
    QUELBO_API void combineElements(Arithmetic op, T const* a, T const* b, T* out, std::size_t n);                     \
    QUELBO_API void combineElements(Arithmetic op, T const* a, T b, T* out, std::size_t n);                            \
    QUELBO_API void negateElements(T const* a, T* out, std::size_t n);                                                 \
    QUELBO_API T dotElements(T const* a, T const* b, std::size_t n);                                                   \
    QUELBO_API double lengthElements(T const* a, std::size_t n);                                                       \
    QUELBO_API void normalizeElements(T* a, std::size_t n);                                                            \
    QUELBO_API std::size_t mismatchElements(T const* a, T const* b, std::size_t n);
QUELBO_ELEMENT_TYPES(QUELBO_VECTOR_KERNELS)
#undef QUELBO_VECTOR_KERNELS

// The loops as a vector runs them: a fixed vector inline, over its few
// elements known at compile time; a dynamic vector through the kernels.
template <bool Dynamic>
struct Loops
{
    template <Arithmetic A, class T, class B>
    static void combine(T const* a, B b, T* out, std::size_t n)
    {
        vector_detail::combine<A>(a, b, out, n);
    }
    template <class T>
    static void negate(T const* a, T* out, std::size_t n)
    {
        vector_detail::negate(a, out, n);
    }
    template <class T>
    static std::size_t mismatch(T const* a, T const* b, std::size_t n)
    {
        return vector_detail::mismatch(a, b, n);
    }
    template <class T>
    static double length(T const* a, std::size_t n)
    {
        return l1Norm(a, n);
    }
    template <class T>
    static void normalize(T* a, std::size_t n)
    {
        vector_detail::normalize(a, n);
    }
};

template <>
struct Loops<true>
{
    template <Arithmetic A, class T, class B>
    static void combine(T const* a, B b, T* out, std::size_t n)
    {
        combineElements(A, a, b, out, n);
    }
    template <class T>
    static void negate(T const* a, T* out, std::size_t n)
    {
        negateElements(a, out, n);
    }
    template <class T>
    static std::size_t mismatch(T const* a, T const* b, std::size_t n)
    {
        return mismatchElements(a, b, n);
    }
    template <class T>
    static double length(T const* a, std::size_t n)
    {
        return lengthElements(a, n);
    }
    template <class T>
    static void normalize(T* a, std::size_t n)
    {
        normalizeElements(a, n);
    }
};

// The operation an operator names in its messages.
constexpr char const* operationName(Arithmetic op)
{
    return op == Arithmetic::add   ? "addition"
           : op == Arithmetic::sub ? "subtraction"
           : op == Arithmetic::mul ? "multiplication"
                                   : "division";
}

} // namespace vector_detail
} // namespace quelbo
