// A view split into the frames of a multi-image view: its slices along a
// dimension, or its channels.
#include <string>

#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

std::shared_ptr<MultiImageView> MultiImageViewFactory::unstack(std::shared_ptr<ImageView> view,
                                                               ImageDimension dimension)
{
    needView(view, "unstack");
    ImageType const axes = axesOf(*view);
    if (dimension < ImageDimension::COLUMN || dimension > ImageDimension::SEQUENCE || !axes.has(dimension))
        throw Error("MultiImageViewFactory: the view has no dimension " + std::to_string(int(dimension)));
    return unstack(view, axes.indexDimension(dimension));
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::unstack(std::shared_ptr<ImageView> view,
                                                               size_t idxDimensionUnstack)
{
    needView(view, "unstack");
    size_t const n = view->dimensionCount();
    if (n < 2)
        throw Error("MultiImageViewFactory: a view of " + std::to_string(n) + " dimensions cannot be unstacked");
    if (idxDimensionUnstack >= n)
        throw Error("MultiImageViewFactory: dimension " + std::to_string(idxDimensionUnstack) + " of a view of " +
                    std::to_string(n));
    std::vector<std::shared_ptr<ImageView>> frames;
    for (uint64_t i = 0, count = view->shape().data()[idxDimensionUnstack]; i < count; ++i)
        frames.push_back(sliceOf(view, idxDimensionUnstack, i));
    return std::make_shared<MultiImageView>(std::move(frames));
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::deinterlace(std::shared_ptr<ImageView> view)
{
    needView(view, "deinterlace");
    size_t const components = view->dataType().elementCount();
    std::vector<std::shared_ptr<ImageView>> frames;
    if (components > 1) {
        componentsOf(view->dataType(), "MultiImageViewFactory: deinterlace");
        for (size_t i = 0; i < components; ++i)
            frames.push_back(channelOf(view, i));
        return std::make_shared<MultiImageView>(std::move(frames));
    }
    if (axesOf(*view).has(ImageDimension::CHANNEL))
        return unstack(view, ImageDimension::CHANNEL);
    frames.push_back(view);
    return std::make_shared<MultiImageView>(std::move(frames));
}

} // namespace quelbo
