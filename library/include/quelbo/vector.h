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
#include "quelbo/vector_elements.h"

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
// scale with the data: bytes zero-filled, or (`filled` by the caller, every
// byte) left as they come; std::bad_alloc when they cannot be had; released
// given the same byte count.
QUELBO_API void* allocateElements(std::size_t bytes, bool filled = false);
QUELBO_API void releaseElements(void* block, std::size_t bytes) noexcept;

[[noreturn]] QUELBO_API void throwIndexOutOfRange(std::size_t index, std::size_t size);
[[noreturn]] QUELBO_API void throwSizeMismatch(char const* operation, std::size_t left, std::size_t right);
[[noreturn]] QUELBO_API void throwCrossSize(std::size_t size);
[[noreturn]] QUELBO_API void throwFixedSize(std::size_t fixedSize, std::size_t size);

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
    double length() const { return Run<>::length(self().data(), self().size()); }
    double squaredLength() const
    {
        double const l = length();
        return l * l;
    }
    void normalize() { Run<>::normalize(self().data(), self().size()); }

    // Each operator makes its result in one pass over the operands, into
    // elements that are not zeroed first; a compound one writes in place.
    Derived operator-() const
    {
        Derived result = Derived::unfilled(self().size());
        Run<>::negate(self().data(), result.data(), self().size());
        return result;
    }

    Derived operator+(Derived const& other) const { return combined<Arithmetic::add>(other); }
    Derived operator-(Derived const& other) const { return combined<Arithmetic::sub>(other); }
    Derived operator*(Derived const& other) const { return combined<Arithmetic::mul>(other); }
    Derived operator/(Derived const& other) const { return combined<Arithmetic::div>(other); }
    Derived operator*(T scalar) const { return combined<Arithmetic::mul>(scalar); }
    Derived operator/(T scalar) const { return combined<Arithmetic::div>(scalar); }

    Derived& operator+=(Derived const& other) { return combineInPlace<Arithmetic::add>(other); }
    Derived& operator-=(Derived const& other) { return combineInPlace<Arithmetic::sub>(other); }
    Derived& operator*=(Derived const& other) { return combineInPlace<Arithmetic::mul>(other); }
    Derived& operator/=(Derived const& other) { return combineInPlace<Arithmetic::div>(other); }
    Derived& operator*=(T scalar) { return combineInPlace<Arithmetic::mul>(scalar); }
    Derived& operator/=(T scalar) { return combineInPlace<Arithmetic::div>(scalar); }

    // Comparisons, as Python compares tuples of numbers: equal when the sizes
    // and all elements are (a NaN equals nothing); ordered by the first
    // position whose elements differ, else by size, so that a dynamic vector
    // compares with one of any size. At a NaN none of <, <=, >, >= holds.
    bool operator==(Derived const& other) const
    {
        std::size_t const n = self().size();
        return n == other.size() && Run<>::mismatch(self().data(), other.data(), n) == n;
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
    // The loops of the derived class (complete only where they run).
    template <class D = Derived>
    using Run = Loops<D::dynamic>;

    static T const* elements(Derived const& other) { return other.data(); }
    static T elements(T scalar) { return scalar; }
    static void checkOperand(char const*, T) {}
    void checkOperand(char const* operation, Derived const& other) const
    {
        if constexpr (Derived::dynamic)
            self().checkSameSize(operation, other);
    }

    template <Arithmetic A, class Operand>
    Derived combined(Operand const& other) const
    {
        checkOperand(operationName(A), other);
        Derived result = Derived::unfilled(self().size());
        Run<>::template combine<A>(self().data(), elements(other), result.data(), self().size());
        return result;
    }

    // A refused division throws before any element is written.
    template <Arithmetic A, class Operand>
    Derived& combineInPlace(Operand const& other)
    {
        checkOperand(operationName(A), other);
        Run<>::template combine<A>(self().data(), elements(other), self().data(), self().size());
        return self();
    }

    // The first position whose elements differ (a NaN differs from
    // everything, itself included) decides by that pair; when there is none,
    // the sizes decide.
    template <class Compare>
    bool compare(Derived const& other, Compare c) const
    {
        std::size_t const n = std::min(self().size(), other.size());
        std::size_t const i = Run<>::mismatch(self().data(), other.data(), n);
        return i < n ? c(self().data()[i], other.data()[i]) : c(self().size(), other.size());
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

    friend class vector_detail::Common<Vector, T>;

public:
    using ValueType = T;
    static constexpr bool dynamic = false;

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

    std::array<T, N> m_data;

private:
    struct Unfilled
    {
    };
    // Elements left for the caller to write, every one.
    explicit Vector(Unfilled) {}
    static Vector unfilled(std::size_t) { return Vector(Unfilled()); }
};

template <class T, std::size_t N>
Vector<T, N> operator*(T scalar, Vector<T, N> const& vector)
{
    return vector * scalar;
}

// A vector whose size is chosen at run time. Up to four elements live in
// m_array inside the object, more in a heap block of their own; m_data always
// points at the first element.
template <class T>
class VectorX : public vector_detail::Common<VectorX<T>, T>
{
    static_assert(std::is_arithmetic<T>::value, "vector elements are numbers");
    friend class vector_detail::Common<VectorX, T>;

public:
    using ValueType = T;
    static constexpr bool dynamic = true;

    VectorX() : m_size(0), m_data(nullptr), m_array{} { m_data = m_array.data(); }

    // size zero-filled elements; throws std::bad_alloc when they cannot be had.
    explicit VectorX(std::size_t size) : m_size(0), m_data(nullptr), m_array{}
    {
        m_data = allocate(size);
        m_size = size;
    }

    VectorX(VectorX const& other) : VectorX(other.m_size, Unfilled())
    {
        copyElements(m_data, other.m_data, m_size);
    }

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
        VectorX v(size, Unfilled());
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
        return vector_detail::dotElements(m_data, other.m_data, m_size);
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

    std::size_t m_size;
    T* m_data;
    std::array<T, 4> m_array;

private:
    struct Unfilled
    {
    };

    // size elements left for the caller to write, every one.
    VectorX(std::size_t size, Unfilled) : m_size(0), m_data(nullptr), m_array{}
    {
        m_data = allocate(size, true);
        m_size = size;
    }
    static VectorX unfilled(std::size_t size) { return VectorX(size, Unfilled()); }

    bool isInline() const { return m_data == m_array.data(); }

    // Storage for size elements, zero-filled unless `filled` by the caller:
    // m_array when it fits, otherwise a block of their own.
    T* allocate(std::size_t size, bool filled = false)
    {
        if (size <= m_array.size())
            return m_array.data();
        if (size > std::numeric_limits<std::ptrdiff_t>::max() / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T*>(vector_detail::allocateElements(size * sizeof(T), filled));
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
};

template <class T>
VectorX<T> operator*(T scalar, VectorX<T> const& vector)
{
    return vector * scalar;
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
