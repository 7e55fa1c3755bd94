// Regions: boxes of integer points, of fixed or dynamic dimension count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <type_traits>

#include "quelbo/error.h"
#include "quelbo/export.h"
#include "quelbo/vector.h"

namespace quelbo {

// Geometry shared by the fixed and the dynamic regions. A region is the set of
// integer points p with origin[i] <= p[i] < origin[i] + size[i] on every axis;
// every region keeps origin + size within the coordinate type, so these end
// points never wrap. Containment and intersection are those of the point sets:
// an empty region lies inside every region and intersects none.
namespace region_detail {

[[noreturn]] QUELBO_API void throwOverflow(std::size_t axis);
[[noreturn]] QUELBO_API void throwSizeMismatch(std::size_t originSize, std::size_t sizeSize);
[[noreturn]] QUELBO_API void throwDimensionMismatch(char const* operation, std::size_t left, std::size_t right);
[[noreturn]] QUELBO_API void throwSliceAxis(std::size_t dimension, std::size_t dimensionCount);
[[noreturn]] QUELBO_API void throwSlicePosition(std::size_t dimension, uint64_t origin, uint64_t size);

template <class T>
void checkBounds(T const* origin, T const* size, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (origin[i] > std::numeric_limits<T>::max() - size[i])
            throwOverflow(i);
    }
}

// origin + size, saturated at the largest coordinate: equal to the sum for
// every region the constructors accept, and never wrapping for any other.
template <class T>
T end(T origin, T size)
{
    return origin > std::numeric_limits<T>::max() - size ? std::numeric_limits<T>::max()
                                                         : static_cast<T>(origin + size);
}

template <class T>
bool isEmpty(T const* size, std::size_t n)
{
    if (n == 0)
        return true;
    for (std::size_t i = 0; i < n; ++i) {
        if (size[i] == 0)
            return true;
    }
    return false;
}

// Product of the sizes; throws InvalidArgument when it does not fit in size_t.
template <class T>
std::size_t elementCount(T const* size, std::size_t n)
{
    if (isEmpty(size, n))
        return 0;
    std::size_t count = 1;
    for (std::size_t i = 0; i < n; ++i)
        count = checkedMultiply(count, static_cast<std::size_t>(size[i]), "region element count");
    return count;
}

template <class T>
bool containsPoint(T const* origin, T const* size, T const* point, std::size_t n)
{
    if (isEmpty(size, n))
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        if (point[i] < origin[i] || point[i] - origin[i] >= size[i])
            return false;
    }
    return true;
}

template <class T>
bool containsRegion(T const* origin, T const* size, T const* otherOrigin, T const* otherSize, std::size_t n)
{
    if (isEmpty(otherSize, n))
        return true;
    for (std::size_t i = 0; i < n; ++i) {
        if (otherOrigin[i] < origin[i] || end(otherOrigin[i], otherSize[i]) > end(origin[i], size[i]))
            return false;
    }
    return true;
}

// Writes the common part into outOrigin/outSize and tells whether it is not
// empty; two regions that do not intersect give origin and size zero.
template <class T>
bool intersection(T const* origin, T const* size, T const* otherOrigin, T const* otherSize, std::size_t n, T* outOrigin,
                  T* outSize)
{
    bool common = n != 0;
    for (std::size_t i = 0; i < n && common; ++i) {
        T const low = origin[i] > otherOrigin[i] ? origin[i] : otherOrigin[i];
        T const thisEnd = end(origin[i], size[i]);
        T const otherEnd = end(otherOrigin[i], otherSize[i]);
        T const high = thisEnd < otherEnd ? thisEnd : otherEnd;
        common = low < high;
        outOrigin[i] = low;
        outSize[i] = common ? static_cast<T>(high - low) : T(0);
    }
    if (!common) {
        for (std::size_t i = 0; i < n; ++i) {
            outOrigin[i] = T(0);
            outSize[i] = T(0);
        }
    }
    return common;
}

// Turns a copy of the region (in origin/size) into its slice at `position`
// along `dimension`, counted from the region's origin.
template <class T>
void slice(T* origin, T* size, std::size_t n, std::size_t dimension, uint64_t position)
{
    if (dimension >= n)
        throwSliceAxis(dimension, n);
    if (position >= size[dimension])
        throwSlicePosition(dimension, position, size[dimension]);
    origin[dimension] = end(origin[dimension], static_cast<T>(position));
    size[dimension] = T(1);
}

template <class T>
void max(T const* origin, T const* size, std::size_t n, T* out)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = end(origin[i], size[i]);
}

template <class T>
bool equal(T const* origin, T const* size, std::size_t n, T const* otherOrigin, T const* otherSize, std::size_t otherN)
{
    return vector_detail::equal(origin, n, otherOrigin, otherN) && vector_detail::equal(size, n, otherSize, otherN);
}

template <class T>
std::string format(T const* origin, T const* size, std::size_t n)
{
    return "{origin: " + vector_detail::format(origin, n) + ", size: " + vector_detail::format(size, n) + "}";
}

} // namespace region_detail

template <class T>
class RegionX;

// An axis-aligned box of N axes: its origin and its size along each axis.
template <class T, std::size_t N>
class Region
{
    static_assert(std::is_integral<T>::value && std::is_unsigned<T>::value,
                  "regions are boxes of unsigned integer coordinates");

public:
    using VectorType = Vector<T, N>;
    using SizeType = Vector<T, N>;

    // The empty region at the origin.
    Region() = default;

    // Throws InvalidArgument when origin + size overflows on an axis.
    Region(VectorType const& origin, SizeType const& size) : m_origin(origin), m_size(size)
    {
        region_detail::checkBounds(m_origin.data(), m_size.data(), N);
    }

    // Throws InvalidArgument unless the dynamic region has N axes.
    explicit Region(RegionX<T> const& other);

    VectorType const& origin() const { return m_origin; }
    SizeType const& size() const { return m_size; }
    VectorType min() const { return m_origin; }
    static constexpr std::size_t dimensionCount() { return N; }

    // The first point past the region on every axis (origin + size).
    VectorType max() const
    {
        VectorType result;
        region_detail::max(m_origin.data(), m_size.data(), N, result.data());
        return result;
    }

    std::size_t elementCount() const { return region_detail::elementCount(m_size.data(), N); }
    bool isEmpty() const { return region_detail::isEmpty(m_size.data(), N); }

    bool contains(Region const& other) const
    {
        return region_detail::containsRegion(m_origin.data(), m_size.data(), other.m_origin.data(), other.m_size.data(),
                                             N);
    }

    bool contains(VectorType const& position) const
    {
        return region_detail::containsPoint(m_origin.data(), m_size.data(), position.data(), N);
    }

    bool intersect(Region const& other) const { return !intersection(other).isEmpty(); }

    Region intersection(Region const& other) const
    {
        Region result;
        region_detail::intersection(m_origin.data(), m_size.data(), other.m_origin.data(), other.m_size.data(), N,
                                    result.m_origin.data(), result.m_size.data());
        return result;
    }

    // Throws InvalidArgument when dimension >= N or origin >= size()[dimension].
    Region extractSliceFromAxis(std::size_t dimension, uint64_t origin) const
    {
        Region result(*this);
        region_detail::slice(result.m_origin.data(), result.m_size.data(), N, dimension, origin);
        return result;
    }

    bool operator==(Region const& other) const
    {
        return region_detail::equal(m_origin.data(), m_size.data(), N, other.m_origin.data(), other.m_size.data(), N);
    }

    std::string toString() const { return region_detail::format(m_origin.data(), m_size.data(), N); }

    VectorType m_origin;
    SizeType m_size;
};

// An axis-aligned box whose number of axes is chosen at run time.
template <class T>
class RegionX
{
    static_assert(std::is_integral<T>::value && std::is_unsigned<T>::value,
                  "regions are boxes of unsigned integer coordinates");

public:
    using VectorType = VectorX<T>;
    using SizeType = VectorX<T>;

    // The empty region at the origin, with dimensionCount axes.
    explicit RegionX(std::size_t dimensionCount) : m_origin(dimensionCount), m_size(dimensionCount) {}

    // Throws InvalidArgument when origin and size differ in length or when
    // origin + size overflows on an axis.
    RegionX(VectorType const& origin, SizeType const& size) : m_origin(origin), m_size(size)
    {
        if (m_origin.size() != m_size.size())
            region_detail::throwSizeMismatch(m_origin.size(), m_size.size());
        region_detail::checkBounds(m_origin.data(), m_size.data(), m_size.size());
    }

    RegionX(RegionX const& other) : m_origin(other.m_origin), m_size(other.m_size) {}

    RegionX(RegionX&& other) noexcept = default;
    RegionX& operator=(RegionX const& other) = default;
    RegionX& operator=(RegionX&& other) noexcept = default;

    // The region of the single point at index.
    static RegionX fromIndex(VectorType const& index)
    {
        return RegionX(index, SizeType::createUniform(index.size(), T(1)));
    }

    // The region of origin zero and the given size.
    static RegionX createFullRegion(SizeType const& size) { return RegionX(VectorType(size.size()), size); }

    std::size_t dimensionCount() const { return m_size.size(); }
    VectorType const& origin() const { return m_origin; }
    SizeType const& size() const { return m_size; }
    VectorType min() const { return m_origin; }

    // The first point past the region on every axis (origin + size).
    VectorType max() const
    {
        VectorType result(dimensionCount());
        region_detail::max(m_origin.data(), m_size.data(), dimensionCount(), result.data());
        return result;
    }

    std::size_t elementCount() const { return region_detail::elementCount(m_size.data(), dimensionCount()); }
    bool isEmpty() const { return region_detail::isEmpty(m_size.data(), dimensionCount()); }

    // These throw InvalidArgument when the dimension counts differ.
    bool contains(RegionX const& other) const
    {
        checkDimensions("containment", other.dimensionCount());
        return region_detail::containsRegion(m_origin.data(), m_size.data(), other.m_origin.data(), other.m_size.data(),
                                             dimensionCount());
    }

    bool contains(VectorType const& position) const
    {
        checkDimensions("containment", position.size());
        return region_detail::containsPoint(m_origin.data(), m_size.data(), position.data(), dimensionCount());
    }

    bool intersect(RegionX const& other) const
    {
        checkDimensions("intersection", other.dimensionCount());
        return !intersection(other).isEmpty();
    }

    RegionX intersection(RegionX const& other) const
    {
        checkDimensions("intersection", other.dimensionCount());
        RegionX result(dimensionCount());
        region_detail::intersection(m_origin.data(), m_size.data(), other.m_origin.data(), other.m_size.data(),
                                    dimensionCount(), result.m_origin.data(), result.m_size.data());
        return result;
    }

    // Throws InvalidArgument when dimension >= dimensionCount() or
    // origin >= size()[dimension].
    RegionX extractSliceFromAxis(std::size_t dimension, uint64_t origin) const
    {
        RegionX result(*this);
        region_detail::slice(result.m_origin.data(), result.m_size.data(), dimensionCount(), dimension, origin);
        return result;
    }

    // Regions of different dimension counts are never equal.
    bool operator==(RegionX const& other) const
    {
        return region_detail::equal(m_origin.data(), m_size.data(), dimensionCount(), other.m_origin.data(),
                                    other.m_size.data(), other.dimensionCount());
    }
    bool operator!=(RegionX const& other) const { return !(*this == other); }

    std::string toString() const { return region_detail::format(m_origin.data(), m_size.data(), dimensionCount()); }

    VectorType m_origin;
    SizeType m_size;

private:
    void checkDimensions(char const* operation, std::size_t other) const
    {
        if (other != dimensionCount())
            region_detail::throwDimensionMismatch(operation, dimensionCount(), other);
    }
};

template <class T, std::size_t N>
Region<T, N>::Region(RegionX<T> const& other)
{
    if (other.dimensionCount() != N)
        region_detail::throwDimensionMismatch("conversion to a fixed region", N, other.dimensionCount());
    m_origin = VectorType(other.origin());
    m_size = SizeType(other.size());
}

using Region2u64 = Region<uint64_t, 2>;
using Region3u64 = Region<uint64_t, 3>;
using Region4u64 = Region<uint64_t, 4>;
using RegionXu64 = RegionX<uint64_t>;

} // namespace quelbo
