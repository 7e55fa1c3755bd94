// The properties of derived views: their source's, fitted to the shape and
// type the derived view has.
#include "views/derived/derived_view.h"

namespace quelbo {
namespace derived {

ImageType axesOf(ImageView& view)
{
    auto p = view.properties();
    ImageType const axes = p ? p->imageInfo().axesInterpretation() : ImageTypeId::UNKNOWN;
    return axes.dimensionCount() == view.dimensionCount() ? axes : ImageTypeId::UNKNOWN;
}

void fit(ImageProperties& properties, VectorXu64 const& shape, DataType type)
{
    ImageInfoProperty& info = properties.imageInfo();
    size_t const named = info.axesInterpretation().dimensionCount();
    if (named != 0 && named != shape.size())
        info.setAxesInterpretation(ImageTypeId::UNKNOWN);
    if (info.bitDepth() > type.bitDepth())
        info.setBitDepth(type.bitDepth());
    // What is left to misfit is the interpretation: its channels are
    // neither the components nor the CHANNEL axis any more.
    if (!info.isCompatibleWith(shape, type)) {
        info.setInterpretation(ImageInterpretation::UNKNOWN);
        info.setAlpha(false);
    }
}

std::shared_ptr<ImageProperties> describe(ImageView& source, ImageType axes, VectorXu64 const& shape, DataType type)
{
    auto p = detail::propertiesOf(source);
    p->imageInfo().setAxesInterpretation(axes);
    fit(*p, shape, type);
    return p;
}

std::shared_ptr<ImageProperties> describe(ImageView& source, VectorXu64 const& shape, DataType type)
{
    return describe(source, axesOf(source), shape, type);
}

} // namespace derived
} // namespace quelbo
