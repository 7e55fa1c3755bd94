// Image properties: directions, calibration, image information, and properties made late.
#include "quelbo/image_properties.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "quelbo/error.h"
#include "quelbo/norm.h"

namespace quelbo {

namespace {

Vector3d vec3(double x, double y, double z)
{
    Vector3d v;
    v.m_data = {x, y, z};
    return v;
}

Vector2d vec2(double a, double b)
{
    Vector2d v;
    v.m_data = {a, b};
    return v;
}

Vector2d rangeOf(DataType type)
{
    try {
        return DataType::standardRange(type);
    } catch (Error const&) {
        return vec2(0.0, 0.0);
    }
}

ImageInterpretation defaultInterpretation(DataType type)
{
    return type.elementCount() == 1 ? ImageInterpretation::GRAYSCALE : ImageInterpretation::UNKNOWN;
}

} // namespace

// ---------------------------------------------------------------- directions

SpatialDirections::SpatialDirections() : m_columnDir(vec3(1, 0, 0)), m_rowDir(vec3(0, 1, 0)), m_sliceDir(vec3(0, 0, 1))
{}

namespace {

using norm_detail::Measure;
using norm_detail::Norm;

// The cross product of a and b times the power of two that brings its largest
// product near 1: every product is taken from the elements' mantissas and
// exponents, so that none overflows, and none underflows that the largest
// does not outweigh beyond the double range (scaling a or b by their own
// largest element instead loses a component that lies 2^1022 below it).
// With an element that is not finite, or every product zero, it is the plain
// cross product.
Vector3d scaledCross(Vector3d const& a, Vector3d const& b)
{
    double ma[3], mb[3];
    int ea[3], eb[3];
    for (std::size_t i = 0; i < 3; ++i) {
        if (!std::isfinite(a[i]) || !std::isfinite(b[i]))
            return a.cross(b);
        ma[i] = std::frexp(a[i], &ea[i]);
        mb[i] = std::frexp(b[i], &eb[i]);
    }
    int top = INT_MIN;
    for (std::size_t i = 0; i < 3; ++i)
        for (std::size_t j = 0; j < 3; ++j)
            if (i != j && ma[i] != 0.0 && mb[j] != 0.0)
                top = std::max(top, ea[i] + eb[j]);
    if (top == INT_MIN)
        return a.cross(b);
    auto product = [&](std::size_t i, std::size_t j) { return std::ldexp(ma[i] * mb[j], ea[i] + eb[j] - top); };
    return vec3(product(1, 2) - product(2, 1), product(2, 0) - product(0, 2), product(0, 1) - product(1, 0));
}

} // namespace

// The slice direction is the unit normal of the column and row directions;
// it stays as the cross product gives it when that has no direction (parallel
// directions, infinities, NaN).
SpatialDirections::SpatialDirections(Vector3d const& columnDirection, Vector3d const& rowDirection)
    : m_columnDir(columnDirection), m_rowDir(rowDirection),
      m_sliceDir(scaledCross(columnDirection, rowDirection))
{
    Measure const norm = norm_detail::measure<Norm::L2>(m_sliceDir.data(), 3);
    if (norm.hasDirection())
        for (double& v : m_sliceDir.m_data)
            v = norm.unit(v);
}

bool SpatialDirections::operator==(SpatialDirections const& other) const
{
    return m_columnDir == other.m_columnDir && m_rowDir == other.m_rowDir && m_sliceDir == other.m_sliceDir;
}

std::string SpatialDirections::toString() const
{
    return "SpatialDirections(column: " + m_columnDir.toString() + ", row: " + m_rowDir.toString() +
           ", slice: " + m_sliceDir.toString() + ")";
}

// --------------------------------------------------------------- calibration

struct SpatialCalibrationProperty::Private
{
    Vector3d origin = vec3(0, 0, 0);
    Vector3d spacing = vec3(1, 1, 1);
    SpatialDirections directions;
    std::string unit;
};

SpatialCalibrationProperty::SpatialCalibrationProperty() : m_private(new Private) {}

SpatialCalibrationProperty::SpatialCalibrationProperty(Vector3d const& origin) : m_private(new Private)
{
    m_private->origin = origin;
}

SpatialCalibrationProperty::SpatialCalibrationProperty(Vector3d const& origin, Vector3d const& spacing)
    : m_private(new Private{origin, spacing, SpatialDirections(), std::string()})
{}

SpatialCalibrationProperty::SpatialCalibrationProperty(Vector3d const& origin, Vector3d const& spacing,
                                                       SpatialDirections const& directions)
    : m_private(new Private{origin, spacing, directions, std::string()})
{}

SpatialCalibrationProperty::SpatialCalibrationProperty(Vector3d const& origin, Vector3d const& spacing,
                                                       SpatialDirections const& directions, std::string const& unit)
    : m_private(new Private{origin, spacing, directions, unit})
{}

SpatialCalibrationProperty::SpatialCalibrationProperty(SpatialCalibrationProperty const& other)
    : m_private(new Private(*other.m_private))
{}

SpatialCalibrationProperty::SpatialCalibrationProperty(SpatialCalibrationProperty&& other) : m_private(new Private)
{
    std::swap(m_private, other.m_private);
}

SpatialCalibrationProperty::~SpatialCalibrationProperty()
{
    delete m_private;
}

SpatialCalibrationProperty& SpatialCalibrationProperty::operator=(SpatialCalibrationProperty const& other)
{
    if (this != &other)
        *m_private = *other.m_private;
    return *this;
}

Vector3d const& SpatialCalibrationProperty::origin() const
{
    return m_private->origin;
}

Vector3d const& SpatialCalibrationProperty::spacing() const
{
    return m_private->spacing;
}

SpatialDirections const& SpatialCalibrationProperty::directions() const
{
    return m_private->directions;
}

std::string const& SpatialCalibrationProperty::unit() const
{
    return m_private->unit;
}

void SpatialCalibrationProperty::setOrigin(Vector3d const& origin)
{
    m_private->origin = origin;
}

void SpatialCalibrationProperty::setSpacing(Vector3d const& spacing)
{
    m_private->spacing = spacing;
}

void SpatialCalibrationProperty::setDirections(SpatialDirections const& directions)
{
    m_private->directions = directions;
}

void SpatialCalibrationProperty::setUnit(std::string const& unit)
{
    m_private->unit = unit;
}

bool SpatialCalibrationProperty::operator==(SpatialCalibrationProperty const& other) const
{
    Private const& a = *m_private;
    Private const& b = *other.m_private;
    return a.origin == b.origin && a.spacing == b.spacing && a.directions == b.directions && a.unit == b.unit;
}

std::string SpatialCalibrationProperty::toString() const
{
    return "SpatialCalibrationProperty(origin: " + m_private->origin.toString() +
           ", spacing: " + m_private->spacing.toString() + ", directions: " + m_private->directions.toString() +
           ", unit: \"" + m_private->unit + "\")";
}

// ---------------------------------------------------------------- image info

struct ImageInfoProperty::Private
{
    ImageType axes;
    ImageInterpretation interpretation = ImageInterpretation::UNKNOWN;
    bool alpha = false;
    size_t bitDepth = 0;
    Vector2d range;
};

ImageInfoProperty::ImageInfoProperty(ImageType axes, ImageInterpretation interpretation, bool alpha, size_t bitDepth,
                                     Vector2d const& valueRange)
    : m_private(new Private{axes, interpretation, alpha, bitDepth, valueRange})
{}

ImageInfoProperty::ImageInfoProperty(ImageType axes, ImageInterpretation interpretation, bool alpha, DataType dataType)
    : m_private(new Private{axes, interpretation, alpha, dataType.bitDepth(), rangeOf(dataType)})
{}

ImageInfoProperty::ImageInfoProperty(DataType dataType) : ImageInfoProperty(ImageTypeId::UNKNOWN, dataType) {}

ImageInfoProperty::ImageInfoProperty(ImageType axes, DataType dataType)
    : ImageInfoProperty(axes, defaultInterpretation(dataType), false, dataType)
{}

ImageInfoProperty::ImageInfoProperty(ImageInfoProperty const& other) : m_private(new Private(*other.m_private)) {}

ImageInfoProperty::ImageInfoProperty(ImageInfoProperty&& other)
    : m_private(new Private{ImageType(), ImageInterpretation::UNKNOWN, false, 0, vec2(0.0, 0.0)})
{
    std::swap(m_private, other.m_private);
}

ImageInfoProperty::~ImageInfoProperty()
{
    delete m_private;
}

ImageInfoProperty& ImageInfoProperty::operator=(ImageInfoProperty const& other)
{
    if (this != &other)
        *m_private = *other.m_private;
    return *this;
}

size_t ImageInfoProperty::channelCount(ImageInterpretation interpretation)
{
    switch (interpretation) {
    case ImageInterpretation::GRAYSCALE:
    case ImageInterpretation::LABEL:
    case ImageInterpretation::BINARY:
        return 1;
    case ImageInterpretation::CIE_XYZ:
    case ImageInterpretation::CIE_XYZ_CHROMATICITY:
    case ImageInterpretation::CIE_UVW:
    case ImageInterpretation::CIE_LUV:
    case ImageInterpretation::CIE_LAB:
    case ImageInterpretation::RGB:
    case ImageInterpretation::RGB_CHROMATICITY:
    case ImageInterpretation::SRGB:
    case ImageInterpretation::YUV:
    case ImageInterpretation::YCC:
    case ImageInterpretation::YIQ:
    case ImageInterpretation::YDD:
    case ImageInterpretation::HSL:
    case ImageInterpretation::HSV:
        return 3;
    case ImageInterpretation::CMYK:
        return 4;
    default:
        return 0;
    }
}

ImageType ImageInfoProperty::axesInterpretation() const
{
    return m_private->axes;
}

void ImageInfoProperty::setAxesInterpretation(ImageType axes)
{
    m_private->axes = axes;
}

ImageInterpretation ImageInfoProperty::interpretation() const
{
    return m_private->interpretation;
}

void ImageInfoProperty::setInterpretation(ImageInterpretation interpretation)
{
    m_private->interpretation = interpretation;
}

bool ImageInfoProperty::hasAlpha() const
{
    return m_private->alpha;
}

void ImageInfoProperty::setAlpha(bool alpha)
{
    m_private->alpha = alpha;
}

size_t ImageInfoProperty::bitDepth() const
{
    return m_private->bitDepth;
}

void ImageInfoProperty::setBitDepth(size_t bitDepth)
{
    m_private->bitDepth = bitDepth;
}

Vector2d const& ImageInfoProperty::valueRange() const
{
    return m_private->range;
}

void ImageInfoProperty::setValueRange(Vector2d const& range)
{
    m_private->range = range;
}

bool ImageInfoProperty::isCompatibleWith(VectorXu64 const& shape, DataType dataType) const
{
    Private const& p = *m_private;
    return isCompatible(p.axes, p.interpretation, p.alpha, p.bitDepth, shape, dataType);
}

bool ImageInfoProperty::isCompatible(ImageType axes, ImageInterpretation interpretation, bool alpha, size_t bitDepth,
                                     VectorXu64 const& shape, DataType dataType)
{
    size_t const axisCount = axes.dimensionCount();
    if (axisCount != 0 && axisCount != shape.size())
        return false;
    size_t const channels = channelCount(interpretation);
    if (channels != 0) {
        size_t const wanted = channels + (alpha ? 1 : 0);
        bool fits = wanted == dataType.elementCount();
        size_t const channelAxis = axes.indexDimension(CHANNEL);
        if (!fits && channelAxis != ImageType::npos && channelAxis < shape.size())
            fits = wanted == shape[channelAxis];
        if (!fits)
            return false;
    }
    return bitDepth <= dataType.bitDepth();
}

bool ImageInfoProperty::operator==(ImageInfoProperty const& other) const
{
    Private const& a = *m_private;
    Private const& b = *other.m_private;
    return a.axes == b.axes && a.interpretation == b.interpretation && a.alpha == b.alpha && a.bitDepth == b.bitDepth &&
           a.range == b.range;
}

std::string ImageInfoProperty::toString() const
{
    Private const& p = *m_private;
    return "ImageInfoProperty(axes: " + p.axes.toString() +
           ", interpretation: " + std::to_string(int32_t(p.interpretation)) +
           ", alpha: " + (p.alpha ? "true" : "false") + ", bit depth: " + std::to_string(p.bitDepth) +
           ", value range: " + p.range.toString() + ")";
}

// ---------------------------------------------------------------- properties

struct ImageProperties::Private
{
    SpatialCalibrationProperty calibration;
    ImageInfoProperty imageInfo;
};

ImageProperties::ImageProperties(SpatialCalibrationProperty const& calibration, ImageInfoProperty const& imageInfo)
    : m_private(new Private{calibration, imageInfo})
{}

ImageProperties::ImageProperties(ImageProperties const& other) : m_private(new Private(*other.m_private)) {}

ImageProperties::ImageProperties(ImageProperties&& other)
    : m_private(new Private{SpatialCalibrationProperty(), ImageInfoProperty(DataType())})
{
    std::swap(m_private, other.m_private);
}

ImageProperties::~ImageProperties()
{
    delete m_private;
}

ImageProperties& ImageProperties::operator=(ImageProperties const& other)
{
    if (this != &other) {
        m_private->calibration = other.m_private->calibration;
        m_private->imageInfo = other.m_private->imageInfo;
    }
    return *this;
}

std::shared_ptr<ImageProperties> ImageProperties::fromDataType(DataType dataType)
{
    return std::make_shared<ImageProperties>(SpatialCalibrationProperty(), ImageInfoProperty(dataType));
}

std::shared_ptr<ImageProperties> ImageProperties::fromProperties(SpatialCalibrationProperty const& calibration,
                                                                 ImageInfoProperty const& imageInfo)
{
    return std::make_shared<ImageProperties>(calibration, imageInfo);
}

namespace {

ImageProperties const& required(std::shared_ptr<const ImageProperties> const& properties)
{
    if (!properties)
        throw InvalidArgument("ImageProperties: no properties to copy from");
    return *properties;
}

} // namespace

std::shared_ptr<ImageProperties> ImageProperties::fromProperties(std::shared_ptr<const ImageProperties> properties,
                                                                 SpatialCalibrationProperty const& calibration)
{
    return std::make_shared<ImageProperties>(calibration, required(properties).imageInfo());
}

std::shared_ptr<ImageProperties> ImageProperties::fromProperties(std::shared_ptr<const ImageProperties> properties,
                                                                 ImageInfoProperty const& imageInfo)
{
    return std::make_shared<ImageProperties>(required(properties).calibration(), imageInfo);
}

std::shared_ptr<ImageProperties> ImageProperties::clone() const
{
    return std::make_shared<ImageProperties>(*this);
}

SpatialCalibrationProperty const& ImageProperties::calibration() const
{
    return m_private->calibration;
}

SpatialCalibrationProperty& ImageProperties::calibration()
{
    return m_private->calibration;
}

ImageInfoProperty const& ImageProperties::imageInfo() const
{
    return m_private->imageInfo;
}

ImageInfoProperty& ImageProperties::imageInfo()
{
    return m_private->imageInfo;
}

bool ImageProperties::isCompatibleWith(VectorXu64 const& shape, DataType dataType) const
{
    return m_private->imageInfo.isCompatibleWith(shape, dataType);
}

void ImageProperties::checkFit(VectorXu64 const& shape, DataType dataType, std::string const& owner) const
{
    if (!isCompatibleWith(shape, dataType))
        throw Error(owner + ": the properties do not fit the shape " + shape.toString() + " and type " +
                    dataType.toString());
}

bool ImageProperties::operator==(ImageProperties const& other) const
{
    return m_private->calibration == other.m_private->calibration && m_private->imageInfo == other.m_private->imageInfo;
}

std::string ImageProperties::toString() const
{
    return "ImageProperties(" + m_private->calibration.toString() + ", " + m_private->imageInfo.toString() + ")";
}

// ------------------------------------------------------ properties made late

LazyImageProperties::LazyImageProperties(DataType dataType, ImageType axes)
    : LazyImageProperties(dataType, axes, defaultInterpretation(dataType), false)
{}

LazyImageProperties::LazyImageProperties(DataType dataType, ImageType axes, ImageInterpretation interpretation,
                                         bool alpha)
    : m_dataType(dataType), m_axes(axes), m_interpretation(interpretation), m_alpha(alpha)
{}

LazyImageProperties::LazyImageProperties(std::shared_ptr<ImageProperties> properties)
    : m_properties(std::move(properties)), m_interpretation(ImageInterpretation::UNKNOWN), m_alpha(false)
{}

std::shared_ptr<ImageProperties> const& LazyImageProperties::get()
{
    return m_properties.get([this] {
        return std::make_shared<ImageProperties>(SpatialCalibrationProperty(),
                                                 ImageInfoProperty(m_axes, m_interpretation, m_alpha, m_dataType));
    });
}

bool LazyImageProperties::isCompatibleWith(VectorXu64 const& shape, DataType dataType) const
{
    if (auto const* made = m_properties.made())
        return *made && (*made)->isCompatibleWith(shape, dataType);
    return ImageInfoProperty::isCompatible(m_axes, m_interpretation, m_alpha, m_dataType.bitDepth(), shape, dataType);
}

} // namespace quelbo
