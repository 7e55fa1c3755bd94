#include "quelbo/image_type.h"

namespace quelbo {

namespace {
constexpr uint64_t bit(ImageDimension d)
{
    return uint64_t(1) << d;
}
} // namespace

const ImageType ImageTypeId::UNKNOWN{};
const ImageType ImageTypeId::IMAGE{bit(COLUMN) | bit(ROW)};
const ImageType ImageTypeId::VOLUME{bit(COLUMN) | bit(ROW) | bit(SLICE)};
const ImageType ImageTypeId::MULTISPECTRAL_IMAGE{bit(COLUMN) | bit(ROW) | bit(CHANNEL)};
const ImageType ImageTypeId::MULTISPECTRAL_VOLUME{bit(COLUMN) | bit(ROW) | bit(SLICE) | bit(CHANNEL)};
const ImageType ImageTypeId::IMAGE_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(SEQUENCE)};
const ImageType ImageTypeId::VOLUME_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(SLICE) | bit(SEQUENCE)};
const ImageType ImageTypeId::MULTISPECTRAL_IMAGE_SEQUENCE{bit(COLUMN) | bit(ROW) | bit(CHANNEL) | bit(SEQUENCE)};
const ImageType ImageTypeId::MULTISPECTRAL_VOLUME_SEQUENCE{
    bit(COLUMN) | bit(ROW) | bit(SLICE) | bit(CHANNEL) | bit(SEQUENCE)};

} // namespace quelbo
