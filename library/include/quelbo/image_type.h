#pragma once
#include <cstdint>

#include "quelbo/export.h"

namespace quelbo {

enum ImageDimension
{
    COLUMN = 0,
    ROW = 1,
    SLICE = 2,
    CHANNEL = 3,
    SEQUENCE = 4,
};

// The set of axes of an image, one bit per dimension.
class QUELBO_API ImageType
{
public:
    ImageType() = default;
    explicit ImageType(uint64_t value)
        : m_value(value)
    {
    }
    uint64_t value() const { return m_value; }

private:
    uint64_t m_value = 0;
};

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
