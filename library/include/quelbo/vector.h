// Vectors of fixed and dynamic size, their element texts and arithmetic.
#pragma once
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "quelbo/element_types.h"
#include "quelbo/error.h"
#include "quelbo/export.h"
#include "quelbo/norm.h"

namespace quelbo {

template <class T>
class VectorX;

namespace vector_detail {

// Text of one element: integers in decimal, floating values in the shortest
// form that reads back to the same value.
QUELBO_API void appendElement(std::string& out, int64_t value);
QUELBO_API void appendElement(std::string& out, uint64_t value);
QUELBO_API void appendElement(std::string& out, float value);
QUELBO_API void appendElement(std::string& out, double value);

template <class T>
std::string format(T const* data, std::size_t size)
{
    std::string out = "[";
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0)
            out += ", ";
        if constexpr (std::is_floating_point<T>::value)
            appendElement(out, data[i]);
        else if constexpr (std::is_signed<T>::value)
            appendElement(out, static_cast<int64_t>(data[i]));
        else
            appendElement(out, static_cast<uint64_t>(data[i]));
    }
    out += "]";
    return out;
}

// The elements' own storage, from the library's one source of blocks that
// scale with the data: bytes zero-filled, std::bad_alloc when they cannot be
// had; released given the same byte count.
QUELBO_API void* allocateElements(std::size_t bytes);
QUELBO_API void releaseElements(void* block, std::size_t bytes) noexcept;

[[noreturn]] QUELBO_API void throwIndexOutOfRange(std::size_t index, std::size_t size);
[[noreturn]] QUELBO_API void throwSizeMismatch(char const* operation, std::size_t left, std::size_t right);
[[noreturn]] QUELBO_API void throwDivisionByZero();
[[noreturn]] QUELBO_API void throwDivisionOverflow();
[[noreturn]] QUELBO_API void throwCrossSize(std::size_t size);
[[noreturn]] QUELBO_API void throwFixedSize(std::size_t fixedSize, std::size_t size);

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

template <class T>
T add(T a, T b)
{
    if constexpr (std::is_floating_point<T>::value)
        return a + b;
    else
        return static_cast<T>(static_cast<Wide<T>>(a) + static_cast<Wide<T>>(b));
}

template <class T>
T sub(T a, T b)
{
    if constexpr (std::is_floating_point<T>::value)
        return a - b;
    else
        return static_cast<T>(static_cast<Wide<T>>(a) - static_cast<Wide<T>>(b));
}

template <class T>
T mul(T a, T b)
{
    if constexpr (std::is_floating_point<T>::value)
        return a * b;
    else
        return static_cast<T>(static_cast<Wide<T>>(a) * static_cast<Wide<T>>(b));
}

template <class T>
T div(T a, T b)
{
    if constexpr (std::is_floating_point<T>::value)
        return a / b;
    else {
        if (b == 0)
            throwDivisionByZero();
        if constexpr (std::is_signed<T>::value) {
            // The one quotient that does not fit: refused rather than wrapped.
            if (b == T(-1) && a == std::numeric_limits<T>::min())
                throwDivisionOverflow();
        }
        return static_cast<T>(a / b);
    }
}

template <class T>
T neg(T a)
{
    if constexpr (std::is_floating_point<T>::value)
        return -a;
    else
        return static_cast<T>(static_cast<Wide<T>>(0) - static_cast<Wide<T>>(a));
}

template <class T>
double l1Norm(T const* data, std::size_t size)
{
    return norm_detail::measure<norm_detail::Norm::L1>(data, size).value();
}

template <class T>
T dot(T const* a, T const* b, std::size_t size)
{
    T sum = T(0);
    for (std::size_t i = 0; i < size; ++i)
        sum = add(sum, mul(a[i], b[i]));
    return sum;
}

template <class T>
void cross3(T const* a, T const* b, T* out)
{
    out[0] = sub(mul(a[1], b[2]), mul(a[2], b[1]));
    out[1] = sub(mul(a[2], b[0]), mul(a[0], b[2]));
    out[2] = sub(mul(a[0], b[1]), mul(a[1], b[0]));
}

// Divides every element by the L1 norm, however large or small; a vector
// without a direction (zero, or holding an infinity or NaN) stays as it is.
// Integer quotients truncate toward zero, exactly: x / L1 reaches 1 only for
// the one non-zero element of a vector that has one (measured in double,
// 64-bit elements such as 2^64 - 1 next to 1 would round up to it).
template <class T>
void normalize(T* data, std::size_t size)
{
    if constexpr (std::is_floating_point<T>::value) {
        norm_detail::Measure const norm = norm_detail::measure<norm_detail::Norm::L1>(data, size);
        if (!norm.hasDirection())
            return;
        for (std::size_t i = 0; i < size; ++i)
            data[i] = static_cast<T>(norm.unit(static_cast<double>(data[i])));
    } else {
        std::size_t const nonZero = std::size_t(std::count_if(data, data + size, [](T x) { return x != 0; }));
        for (std::size_t i = 0; i < size; ++i)
            data[i] = nonZero == 1 && data[i] != 0 ? static_cast<T>(data[i] > 0 ? 1 : -1) : T(0);
    }
}

// Ordering as Python orders tuples of numbers: the first position whose
// elements differ (a NaN differs from everything, itself included) decides by
// that pair; when there is none, the lengths decide.
template <class T, class Compare>
bool order(T const* a, std::size_t na, T const* b, std::size_t nb, Compare compare)
{
    std::size_t const n = std::min(na, nb);
    for (std::size_t i = 0; i < n; ++i) {
        if (!(a[i] == b[i]))
            return compare(a[i], b[i]);
    }
    return compare(na, nb);
}

template <class T>
bool equal(T const* a, std::size_t na, T const* b, std::size_t nb)
{
    return na == nb && std::equal(a, a + na, b);
}

// Members shared by Vector and VectorX, written once over the derived
// class's data() and size(). Holds no data, so Vector stays a plain array.
template <class Derived, class T>
class Common
{
public:
    T at(std::size_t index) const { return self()[index]; }
    void setAt(std::size_t index, T value) { self()[index] = value; }

    T& operator[](std::size_t index)
    {
        checkIndex(index);
        return self().data()[index];
    }

    T const& operator[](std::size_t index) const
    {
        checkIndex(index);
        return self().data()[index];
    }

    std::string toString() const { return format(self().data(), self().size()); }

    // L1 norm: the sum of the absolute values of the elements.
    double length() const { return l1Norm(self().data(), self().size()); }
    double squaredLength() const
    {
        double const l = length();
        return l * l;
    }
    void normalize() { vector_detail::normalize(self().data(), self().size()); }

    Derived operator-() const
    {
        Derived result(self());
        T* out = result.data();
        for (std::size_t i = 0; i < result.size(); ++i)
            out[i] = neg(out[i]);
        return result;
    }

    Derived operator+(Derived const& other) const { return Derived(self()) += other; }
    Derived operator-(Derived const& other) const { return Derived(self()) -= other; }
    Derived operator*(Derived const& other) const { return Derived(self()) *= other; }
    Derived operator/(Derived const& other) const { return Derived(self()) /= other; }
    Derived operator*(T scalar) const { return Derived(self()) *= scalar; }
    Derived operator/(T scalar) const { return Derived(self()) /= scalar; }

    // Comparisons, as Python compares tuples of numbers: equal when the sizes
    // and all elements are (a NaN equals nothing); ordered by the first
    // position whose elements differ, else by size, so that a dynamic vector
    // compares with one of any size. At a NaN none of <, <=, >, >= holds.
    bool operator==(Derived const& other) const
    {
        return equal(self().data(), self().size(), other.data(), other.size());
    }
    bool operator!=(Derived const& other) const { return !(*this == other); }
    bool operator<(Derived const& other) const
    {
        return compare(other, [](auto x, auto y) { return x < y; });
    }
    bool operator<=(Derived const& other) const
    {
        return compare(other, [](auto x, auto y) { return x <= y; });
    }
    bool operator>(Derived const& other) const
    {
        return compare(other, [](auto x, auto y) { return x > y; });
    }
    bool operator>=(Derived const& other) const
    {
        return compare(other, [](auto x, auto y) { return x >= y; });
    }

private:
    template <class Compare>
    bool compare(Derived const& other, Compare c) const
    {
        return order(self().data(), self().size(), other.data(), other.size(), c);
    }

    Derived const& self() const { return static_cast<Derived const&>(*this); }
    Derived& self() { return static_cast<Derived&>(*this); }

    void checkIndex(std::size_t index) const
    {
        if (index >= self().size())
            throwIndexOutOfRange(index, self().size());
    }
};

} // namespace vector_detail

// A vector of N elements of T, held inline. A trivially copyable aggregate of
// its elements: copies are plain copies of m_data.
template <class T, std::size_t N>
class Vector : public vector_detail::Common<Vector<T, N>, T>
{
    static_assert(std::is_arithmetic<T>::value, "vector elements are numbers");

public:
    using ValueType = T;

    Vector() : m_data{} {}

    // Throws InvalidArgument when the dynamic vector does not have N elements.
    explicit Vector(VectorX<T> const& other);

    static Vector createUniform(T value)
    {
        Vector v;
        v.m_data.fill(value);
        return v;
    }

    static constexpr std::size_t size() { return N; }

    T* data() { return m_data.data(); }
    T const* data() const { return m_data.data(); }

    T dot(Vector const& other) const { return vector_detail::dot(m_data.data(), other.m_data.data(), N); }

    // Defined for three elements only; other sizes throw InvalidArgument.
    Vector cross(Vector const& other) const
    {
        Vector result;
        if constexpr (N == 3)
            vector_detail::cross3(m_data.data(), other.m_data.data(), result.m_data.data());
        else
            vector_detail::throwCrossSize(N);
        return result;
    }

    Vector& operator+=(Vector const& other) { return apply(other, vector_detail::add<T>); }
    Vector& operator-=(Vector const& other) { return apply(other, vector_detail::sub<T>); }
    Vector& operator*=(Vector const& other) { return apply(other, vector_detail::mul<T>); }
    Vector& operator/=(Vector const& other) { return apply(other, vector_detail::div<T>); }
    Vector& operator*=(T scalar) { return apply(createUniform(scalar), vector_detail::mul<T>); }
    Vector& operator/=(T scalar) { return apply(createUniform(scalar), vector_detail::div<T>); }

    std::array<T, N> m_data;

private:
    template <class Op>
    Vector& apply(Vector const& other, Op op)
    {
        // Computed into a copy first so that a throwing element (integer
        // division by zero) leaves the vector unchanged.
        std::array<T, N> result;
        for (std::size_t i = 0; i < N; ++i)
            result[i] = op(m_data[i], other.m_data[i]);
        m_data = result;
        return *this;
    }
};

template <class T, std::size_t N>
Vector<T, N> operator*(T scalar, Vector<T, N> vector)
{
    return vector *= scalar;
}

// A vector whose size is chosen at run time. Up to four elements live in
// m_array inside the object, more in a heap block of their own; m_data always
// points at the first element.
template <class T>
class VectorX : public vector_detail::Common<VectorX<T>, T>
{
    static_assert(std::is_arithmetic<T>::value, "vector elements are numbers");

public:
    using ValueType = T;

    VectorX() : m_size(0), m_data(nullptr), m_array{} { m_data = m_array.data(); }

    // size zero-filled elements; throws std::bad_alloc when they cannot be had.
    explicit VectorX(std::size_t size) : m_size(0), m_data(nullptr), m_array{}
    {
        m_data = allocate(size);
        m_size = size;
    }

    VectorX(VectorX const& other) : VectorX(other.m_size) { copyElements(m_data, other.m_data, m_size); }

    VectorX(VectorX&& other) noexcept : m_size(0), m_data(nullptr), m_array{}
    {
        m_data = m_array.data();
        take(other);
    }

    VectorX& operator=(VectorX const& other)
    {
        if (this != &other) {
            VectorX copy(other);
            release();
            take(copy);
        }
        return *this;
    }

    VectorX& operator=(VectorX&& other) noexcept
    {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }

    ~VectorX() { release(); }

    static VectorX createUniform(std::size_t size, T value)
    {
        VectorX v(size);
        std::fill(v.m_data, v.m_data + size, value);
        return v;
    }

    std::size_t size() const { return m_size; }

    T* data() { return m_data; }
    T const* data() const { return m_data; }

    // Both throw InvalidArgument when the sizes differ; cross also unless
    // the size is 3.
    T dot(VectorX const& other) const
    {
        checkSameSize("dot product", other);
        return vector_detail::dot(m_data, other.m_data, m_size);
    }

    VectorX cross(VectorX const& other) const
    {
        checkSameSize("cross product", other);
        if (m_size != 3)
            vector_detail::throwCrossSize(m_size);
        VectorX result(3);
        vector_detail::cross3(m_data, other.m_data, result.m_data);
        return result;
    }

    VectorX& operator+=(VectorX const& other) { return apply("addition", other, vector_detail::add<T>); }
    VectorX& operator-=(VectorX const& other) { return apply("subtraction", other, vector_detail::sub<T>); }
    VectorX& operator*=(VectorX const& other) { return apply("multiplication", other, vector_detail::mul<T>); }
    VectorX& operator/=(VectorX const& other) { return apply("division", other, vector_detail::div<T>); }
    VectorX& operator*=(T scalar)
    {
        return apply("multiplication", createUniform(m_size, scalar), vector_detail::mul<T>);
    }
    VectorX& operator/=(T scalar) { return apply("division", createUniform(m_size, scalar), vector_detail::div<T>); }

    std::size_t m_size;
    T* m_data;
    std::array<T, 4> m_array;

private:
    bool isInline() const { return m_data == m_array.data(); }

    // Storage for size zero-filled elements: m_array when it fits, otherwise
    // a block of their own.
    T* allocate(std::size_t size)
    {
        if (size <= m_array.size())
            return m_array.data();
        if (size > std::numeric_limits<std::ptrdiff_t>::max() / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T*>(vector_detail::allocateElements(size * sizeof(T)));
    }

    void release() noexcept
    {
        if (!isInline())
            vector_detail::releaseElements(m_data, m_size * sizeof(T));
        m_data = m_array.data();
        m_size = 0;
    }

    // Takes other's elements; other is left empty. This object must hold none.
    void take(VectorX& other) noexcept
    {
        if (other.isInline()) {
            m_array = other.m_array;
            m_data = m_array.data();
        } else {
            m_data = other.m_data;
        }
        m_size = other.m_size;
        other.m_data = other.m_array.data();
        other.m_size = 0;
    }

    static void copyElements(T* to, T const* from, std::size_t count)
    {
        if (count != 0)
            std::memcpy(to, from, count * sizeof(T));
    }

    void checkSameSize(char const* operation, VectorX const& other) const
    {
        if (m_size != other.m_size)
            vector_detail::throwSizeMismatch(operation, m_size, other.m_size);
    }

    template <class Op>
    VectorX& apply(char const* operation, VectorX const& other, Op op)
    {
        checkSameSize(operation, other);
        VectorX result(m_size);
        for (std::size_t i = 0; i < m_size; ++i)
            result.m_data[i] = op(m_data[i], other.m_data[i]);
        *this = std::move(result);
        return *this;
    }
};

template <class T>
VectorX<T> operator*(T scalar, VectorX<T> vector)
{
    return vector *= scalar;
}

template <class T, std::size_t N>
Vector<T, N>::Vector(VectorX<T> const& other) : m_data{}
{
    if (other.size() != N)
        vector_detail::throwFixedSize(N, other.size());
    std::copy(other.data(), other.data() + N, m_data.begin());
}

#define QUELBO_VECTOR_ALIASES(T, S, ID)                                                                                \
    using Vector2##S = Vector<T, 2>;                                                                                   \
    using Vector3##S = Vector<T, 3>;                                                                                   \
    using Vector4##S = Vector<T, 4>;                                                                                   \
    using VectorX##S = VectorX<T>;
QUELBO_ELEMENT_TYPES(QUELBO_VECTOR_ALIASES)
#undef QUELBO_VECTOR_ALIASES

} // namespace quelbo
