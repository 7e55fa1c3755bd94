// Image types: the set of axes of an image, and the named ones.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "quelbo/export.h"

namespace quelbo {

enum ImageDimension : int32_t
{
    COLUMN = 0,
    ROW = 1,
    SLICE = 2,
    CHANNEL = 3,
    SEQUENCE = 4,
};

// The set of axes of an image, one bit per dimension. Positions run over the
// dimensions present, in the order of the enumeration.
class QUELBO_API ImageType
{
public:
    static constexpr size_t npos = ~size_t(0);

    // Create an ImageType with no known dimensions
    ImageType() = default;
    // Create an ImageType with a single dimension
    ImageType(ImageDimension dimension);
    // Create an ImageType from count dimensions; InvalidArgument for a null
    // pointer with a non-zero count or an unknown dimension.
    ImageType(ImageDimension const* dimensions, size_t count);
    // Create an ImageType from an 64-bits integer; InvalidArgument when the
    // value holds bits of no known dimension.
    explicit ImageType(uint64_t value);

    // Insert a dimension; InvalidArgument for an unknown dimension.
    void add(ImageDimension dimension);
    // Take a dimension out; an absent dimension leaves the set unchanged.
    void remove(ImageDimension dimension);
    // Take out the dimension at a position; InvalidArgument if there is none.
    void remove(size_t position);
    bool has(ImageDimension dimension) const;
    size_t dimensionCount() const;
    // Error if index does not exist in current ImageType
    ImageDimension dimension(size_t position) const;
    // Position of a dimension, npos when it is absent.
    size_t indexDimension(ImageDimension dimension) const;

    // Equivalent to add
    ImageType operator|(ImageDimension dimension) const;
    bool operator==(ImageType const& other) const { return m_value == other.m_value; }
    bool operator!=(ImageType const& other) const { return m_value != other.m_value; }

    // Return string interpretation
    std::string toString() const;
    // Return internal 64-bit integer value
    uint64_t value() const { return m_value; }

private:
    uint64_t m_value = 0;
};

// Two dimensions make an ImageType of both.
QUELBO_API ImageType operator|(ImageDimension a, ImageDimension b);

// The usual combinations of dimensions.
class QUELBO_API ImageTypeId
{
public:
    static const ImageType UNKNOWN;
    static const ImageType IMAGE;
    static const ImageType VOLUME;
    static const ImageType MULTISPECTRAL_IMAGE;
    static const ImageType MULTISPECTRAL_VOLUME;
    static const ImageType IMAGE_SEQUENCE;
    static const ImageType VOLUME_SEQUENCE;
    static const ImageType MULTISPECTRAL_IMAGE_SEQUENCE;
    static const ImageType MULTISPECTRAL_VOLUME_SEQUENCE;
};

} // namespace quelbo
