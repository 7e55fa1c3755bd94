// The ImageView shortcuts to the values of its image properties.
#include <utility>

#include "quelbo/error.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"

namespace quelbo {

namespace {

ImageProperties const& propertiesOf(std::shared_ptr<const ImageProperties> const& properties)
{
    if (!properties)
        throw Error("ImageView: the view has no properties");
    return *properties;
}

} // namespace

template <class F>
void ImageView::updateProperties(F&& change)
{
    auto copy = std::make_shared<ImageProperties>(propertiesOf(properties()));
    change(*copy);
    setProperties(std::move(copy));
}

Vector3d ImageView::spatialOrigin()
{
    return propertiesOf(properties()).calibration().origin();
}

Vector3d ImageView::spatialSpacing()
{
    return propertiesOf(properties()).calibration().spacing();
}

SpatialDirections const& ImageView::spatialDirections()
{
    return propertiesOf(properties()).calibration().directions();
}

std::string ImageView::spatialUnit()
{
    return propertiesOf(properties()).calibration().unit();
}

ImageType ImageView::axesInterpretation()
{
    return propertiesOf(properties()).imageInfo().axesInterpretation();
}

ImageInterpretation ImageView::imageInterpretation()
{
    return propertiesOf(properties()).imageInfo().interpretation();
}

size_t ImageView::bitDepth()
{
    return propertiesOf(properties()).imageInfo().bitDepth();
}

bool ImageView::hasAlpha()
{
    return propertiesOf(properties()).imageInfo().hasAlpha();
}

Vector2d ImageView::valueRange()
{
    return propertiesOf(properties()).imageInfo().valueRange();
}

void ImageView::setSpatialOrigin(Vector3d const& origin)
{
    updateProperties([&](ImageProperties& p) { p.calibration().setOrigin(origin); });
}

void ImageView::setSpatialSpacing(Vector3d const& spacing)
{
    updateProperties([&](ImageProperties& p) { p.calibration().setSpacing(spacing); });
}

void ImageView::setSpatialUnit(std::string const& unit)
{
    updateProperties([&](ImageProperties& p) { p.calibration().setUnit(unit); });
}

void ImageView::setSpatialDirections(SpatialDirections const& directions)
{
    updateProperties([&](ImageProperties& p) { p.calibration().setDirections(directions); });
}

void ImageView::setAxesInterpretation(ImageType axes)
{
    updateProperties([&](ImageProperties& p) { p.imageInfo().setAxesInterpretation(axes); });
}

void ImageView::setImageInterpretation(ImageInterpretation interpretation)
{
    updateProperties([&](ImageProperties& p) { p.imageInfo().setInterpretation(interpretation); });
}

void ImageView::setBitDepth(size_t bitDepth)
{
    updateProperties([&](ImageProperties& p) { p.imageInfo().setBitDepth(bitDepth); });
}

void ImageView::setAlpha(bool alpha)
{
    updateProperties([&](ImageProperties& p) { p.imageInfo().setAlpha(alpha); });
}

void ImageView::setValueRange(Vector2d const& range)
{
    updateProperties([&](ImageProperties& p) { p.imageInfo().setValueRange(range); });
}

} // namespace quelbo
