// ImageType: the axes of an image, by dimension and by position.
#include "quelbo/image_type.h"

#include "quelbo/error.h"

namespace quelbo {

namespace {

constexpr int kDimensionCount = 5;
constexpr uint64_t kKnownBits = (uint64_t(1) << kDimensionCount) - 1;

constexpr bool known(ImageDimension d)
{
    return int(d) >= 0 && int(d) < kDimensionCount;
}

constexpr uint64_t bit(ImageDimension d)
{
    return uint64_t(1) << d;
}

uint64_t checkedBit(ImageDimension d)
{
    if (!known(d))
        throw InvalidArgument("ImageType: unknown image dimension " + std::to_string(int(d)));
    return bit(d);
}

char const* const kNames[kDimensionCount] = {"COLUMN", "ROW", "SLICE", "CHANNEL", "SEQUENCE"};

} // namespace

ImageType::ImageType(ImageDimension dimension) : m_value(checkedBit(dimension)) {}

ImageType::ImageType(ImageDimension const* dimensions, size_t count)
{
    if (dimensions == nullptr && count != 0)
        throw InvalidArgument("ImageType: null dimension list with a count of " + std::to_string(count));
    for (size_t i = 0; i < count; ++i)
        m_value |= checkedBit(dimensions[i]);
}

ImageType::ImageType(uint64_t value) : m_value(value)
{
    if (value & ~kKnownBits)
        throw InvalidArgument("ImageType: value " + std::to_string(value) + " holds unknown dimensions");
}

void ImageType::add(ImageDimension dimension)
{
    m_value |= checkedBit(dimension);
}

void ImageType::remove(ImageDimension dimension)
{
    if (known(dimension))
        m_value &= ~bit(dimension);
}

void ImageType::remove(size_t position)
{
    if (position >= dimensionCount())
        throw InvalidArgument("ImageType: no dimension at position " + std::to_string(position));
    m_value &= ~bit(dimension(position));
}

bool ImageType::has(ImageDimension dimension) const
{
    return known(dimension) && (m_value & bit(dimension)) != 0;
}

size_t ImageType::dimensionCount() const
{
    return size_t(__builtin_popcountll(m_value));
}

ImageDimension ImageType::dimension(size_t position) const
{
    size_t seen = 0;
    for (int d = 0; d < kDimensionCount; ++d)
        if (m_value & bit(ImageDimension(d)))
            if (seen++ == position)
                return ImageDimension(d);
    throw Error("ImageType: no dimension at position " + std::to_string(position) + " in " + toString());
}

size_t ImageType::indexDimension(ImageDimension dimension) const
{
    if (!has(dimension))
        return npos;
    return size_t(__builtin_popcountll(m_value & (bit(dimension) - 1)));
}

ImageType ImageType::operator|(ImageDimension dimension) const
{
    ImageType result(*this);
    result.add(dimension);
    return result;
}

std::string ImageType::toString() const
{
    std::string text = "ImageType(";
    char const* separator = "";
    for (int d = 0; d < kDimensionCount; ++d)
        if (m_value & bit(ImageDimension(d))) {
            text += separator;
            text += kNames[d];
            separator = ", ";
        }
    return text + ")";
}

ImageType operator|(ImageDimension a, ImageDimension b)
{
    return ImageType(a) | b;
}

const ImageType ImageTypeId::UNKNOWN{};
const ImageType ImageTypeId::IMAGE{bit(COLUMN) | bit(ROW)};
const ImageType ImageTypeId::VOLUME{bit(COLUMN) | bit(ROW) | bit(SLICE)};
const ImageType ImageTypeId::MULTISPECTRAL_IMAGE{bit(COLUMN) | bit(ROW) | bit(CHANNEL)};
const ImageType ImageTypeId::MULTISPECTRAL_VOLUME{bit(COLUMN) | bit(ROW) | bit(SLICE) | bit(CHANNEL)};
const ImageType ImageTypeId::IMAGE_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(SEQUENCE)};
const ImageType ImageTypeId::VOLUME_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(SLICE) | bit(SEQUENCE)};
const ImageType ImageTypeId::MULTISPECTRAL_IMAGE_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(CHANNEL) | bit(SEQUENCE)};
const ImageType ImageTypeId::MULTISPECTRAL_VOLUME_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(SLICE) | bit(CHANNEL) |
                                                           bit(SEQUENCE)};

} // namespace quelbo
