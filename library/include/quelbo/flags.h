// FlagSet and the capability enumerations of accessors and views.
#pragma once
#include <cstdint>
#include <type_traits>

namespace quelbo {

// A set of bit flags of one enumeration, kept as a 64-bit value. Every
// operation is inline: the set is a plain value with no library state.
template <typename EnumType>
class FlagSet
{
public:
    using Enum = EnumType;

    FlagSet() = default;
    explicit FlagSet(uint64_t value) : m_value(value) {}
    // A negative enumerator value is sign-extended to 64 bits.
    FlagSet(EnumType flag) : m_value(static_cast<uint64_t>(static_cast<int64_t>(flag))) {}
    FlagSet(FlagSet const&) = default;
    FlagSet(FlagSet&&) = default;
    FlagSet& operator=(FlagSet const&) = default;
    FlagSet& operator=(FlagSet&&) = default;

    // Return the internal value
    uint64_t value() const { return m_value; }

    // Check if a given set of flags is true.
    bool has(FlagSet flags) const { return (m_value & flags.m_value) == flags.m_value; }
    // Set the given set of flags to true.
    void add(FlagSet flags) { m_value |= flags.m_value; }
    // Set the given set of flags to false.
    void remove(FlagSet flags) { m_value &= ~flags.m_value; }

    bool operator==(FlagSet other) const { return m_value == other.m_value; }
    bool operator!=(FlagSet other) const { return m_value != other.m_value; }

    FlagSet& operator|=(FlagSet other)
    {
        m_value |= other.m_value;
        return *this;
    }
    FlagSet& operator&=(FlagSet other)
    {
        m_value &= other.m_value;
        return *this;
    }
    FlagSet& operator^=(FlagSet other)
    {
        m_value ^= other.m_value;
        return *this;
    }

    FlagSet operator|(FlagSet other) const { return FlagSet(m_value | other.m_value); }
    FlagSet operator&(FlagSet other) const { return FlagSet(m_value & other.m_value); }
    FlagSet operator^(FlagSet other) const { return FlagSet(m_value ^ other.m_value); }

private:
    uint64_t m_value = 0;
};

enum class StreamAccessCapability : int32_t
{
    READ = 1,
    WRITE = 2,
    SEEK = 4,
    MEMORY_ACCESS = 8,
    READ_WRITE = READ | WRITE,
    READ_SEEK = READ | SEEK,
    WRITE_SEEK = WRITE | SEEK,
};

enum class RandomAccessCapability : int32_t
{
    READ = 1,
    WRITE = 2,
    RESIZE = 4,
    MEMORY_ACCESS = 8,
    READ_WRITE = READ | WRITE,
    WRITE_RESIZE = WRITE | RESIZE,
};

enum class ParallelAccessCapability : int32_t
{
    THREAD_SAFE = 1,
    PARALLEL_TILE_READ = 2,
    PARALLEL_TILE_WRITE = 4,
    PARALLEL_READ = 8,
    PARALLEL_WRITE = 16,
};

enum class ImageCapability : int32_t
{
    READ = 1,
    WRITE = 2,
    RESHAPE = 4,
    MEMORY_ACCESS = 8,
    READ_WRITE = READ | WRITE,
};

enum class MultiImageCapability : int32_t
{
    READ = 1,
    WRITE = 2,
    READ_WRITE = READ | WRITE,
};

enum class DataFrameCapability : int32_t
{
    READ = 1,
    WRITE = 2,
    RESHAPE = 4,
};

using StreamAccessCapabilitySet = FlagSet<StreamAccessCapability>;
using RandomAccessCapabilitySet = FlagSet<RandomAccessCapability>;
using ParallelAccessCapabilitySet = FlagSet<ParallelAccessCapability>;
using ImageCapabilitySet = FlagSet<ImageCapability>;
using MultiImageCapabilitySet = FlagSet<MultiImageCapability>;
using DataFrameCapabilitySet = FlagSet<DataFrameCapability>;

namespace detail {
template <typename E>
struct IsCapability
    : std::integral_constant<
          bool, std::is_same<E, StreamAccessCapability>::value || std::is_same<E, RandomAccessCapability>::value ||
                    std::is_same<E, ParallelAccessCapability>::value || std::is_same<E, ImageCapability>::value ||
                    std::is_same<E, MultiImageCapability>::value || std::is_same<E, DataFrameCapability>::value>
{
};
template <typename E>
using EnableCapability = std::enable_if_t<IsCapability<E>::value, FlagSet<E>>;
} // namespace detail

// Two enumerators of one capability enumeration combine into a set; the
// 32-bit result is sign-extended like a single enumerator.
template <typename E>
inline detail::EnableCapability<E> operator|(E a, E b)
{
    return FlagSet<E>(static_cast<E>(static_cast<int32_t>(a) | static_cast<int32_t>(b)));
}
template <typename E>
inline detail::EnableCapability<E> operator&(E a, E b)
{
    return FlagSet<E>(static_cast<E>(static_cast<int32_t>(a) & static_cast<int32_t>(b)));
}
template <typename E>
inline detail::EnableCapability<E> operator^(E a, E b)
{
    return FlagSet<E>(static_cast<E>(static_cast<int32_t>(a) ^ static_cast<int32_t>(b)));
}

} // namespace quelbo
