// The factories of rearranged views: flips, sub-sampling, axis orders,
// channels taken apart and put together, regions.
#include <algorithm>
#include <string>
#include <utility>

#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

namespace {

// What a view that only reads (a flip, channels taken apart) can do over
// `source`: READ when the source reads.
ImageCapabilitySet readingOf(ImageView& source)
{
    return ImageCapabilitySet(source.capabilities().value() & uint64_t(ImageCapability::READ));
}

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::flip(std::shared_ptr<ImageView> image, size_t dimensionIndex)
{
    needView(image, "flip");
    if (!image->support(ImageCapability::READ))
        failure("flip: the image view cannot be read");
    size_t const n = image->dimensionCount();
    if (dimensionIndex >= n)
        invalid("flip: dimension " + std::to_string(dimensionIndex) + " of a view of " + std::to_string(n) +
                " dimensions");
    Mapping m = identityMapping(*image);
    m.axes[dimensionIndex].step = -1;
    m.start[dimensionIndex] = int64_t(image->shape().data()[dimensionIndex]) - 1;
    DataType const type = image->dataType();
    auto p = describe(*image, image->shape(), type);
    return mapped("Flip", image, ImageCapability::READ, image->shape(), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::flip(std::shared_ptr<ImageView> image, ImageDimension dimension)
{
    needView(image, "flip");
    ImageType const axes = axesOf(*image);
    if (axes == ImageTypeId::UNKNOWN)
        invalid("flip: the image type is unknown");
    if (dimension < ImageDimension::COLUMN || dimension > ImageDimension::SEQUENCE || !axes.has(dimension))
        invalid("flip: the image type has no dimension " + std::to_string(int(dimension)));
    return flip(image, axes.indexDimension(dimension));
}

std::shared_ptr<ImageView> ImageViewFactory::subSample(std::shared_ptr<ImageView> image, size_t step)
{
    needView(image, "subSample");
    if (step == 0)
        invalid("subSample: a step of 0");
    if (!image->support(ImageCapability::READ))
        failure("subSample: the image view cannot be read");
    ImageType const axes = axesOf(*image);
    size_t const channel =
        axes.has(ImageDimension::CHANNEL) ? axes.indexDimension(ImageDimension::CHANNEL) : ~size_t(0);
    VectorXu64 shape(image->shape());
    Mapping m = identityMapping(*image);
    for (size_t d = 0; d < shape.size(); ++d) {
        if (d == channel)
            continue;
        uint64_t const extent = shape.data()[d];
        // A step of 1 keeps every dimension as it is, empty ones included.
        if (step > extent && step != 1)
            invalid("subSample: a step of " + std::to_string(step) + " over a dimension of " + std::to_string(extent));
        shape.data()[d] = (extent + step - 1) / step;
        m.axes[d].step = int64_t(step);
    }
    DataType const type = image->dataType();
    auto p = describe(*image, shape, type);
    return mapped("SubSample", image, ImageCapability::READ, std::move(shape), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::reinterpretAxes(std::shared_ptr<ImageView> image,
                                                             ImageDimension const* dimensions, size_t count)
{
    needView(image, "reinterpretAxes");
    size_t const n = image->dimensionCount();
    if (count != n)
        failure("reinterpretAxes: " + std::to_string(count) + " dimensions given for a view of " + std::to_string(n));
    if (count && !dimensions)
        invalid("reinterpretAxes: no dimension list");
    ImageType const axes(dimensions, count);
    if (axes.dimensionCount() != count)
        invalid("reinterpretAxes: a dimension is repeated");
    // The view's dimension d is the source's dimension holding the d-th
    // dimension of the type in canonical order.
    Mapping m = identityMapping(*image);
    VectorXu64 shape(n);
    for (size_t i = 0; i < count; ++i) {
        size_t const d = axes.indexDimension(dimensions[i]);
        m.axes[d] = {int(i), 1};
        shape.data()[d] = image->shape().data()[i];
    }
    DataType const type = image->dataType();
    auto p = describe(*image, axes, shape, type);
    return mapped("ReinterpretAxes", image, readWriteOf(*image), std::move(shape), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::disassembleChannels(std::shared_ptr<ImageView> image)
{
    needView(image, "disassembleChannels");
    ImageType axes = axesOf(*image);
    if (axes.has(ImageDimension::CHANNEL))
        invalid("disassembleChannels: the view already has a CHANNEL dimension");
    DataType const type = image->dataType();
    DataType const scalar = componentsOf(type, "ImageViewFactory: disassembleChannels");
    size_t const n = image->dimensionCount();
    size_t position = n;
    if (axes != ImageTypeId::UNKNOWN) {
        axes.add(ImageDimension::CHANNEL);
        position = axes.indexDimension(ImageDimension::CHANNEL);
    }
    Mapping m = identityMapping(*image);
    m.unit = scalar;
    m.axes.insert(m.axes.begin() + position, MapAxis{-1, int64_t(scalar.byteCount())});
    VectorXu64 shape = withAxis(image->shape(), position, type.elementCount());
    auto p = describe(*image, axes, shape, scalar);
    return mapped("DisassembleChannels", image, readingOf(*image), std::move(shape), scalar, std::move(p),
                  std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::assembleChannels(std::shared_ptr<ImageView> image)
{
    needView(image, "assembleChannels");
    DataType const type = image->dataType();
    size_t const n = image->dimensionCount();
    if (!type.isScalar())
        invalid("assembleChannels: the samples are not scalar");
    if (n < 2)
        invalid("assembleChannels: a view of " + std::to_string(n) + " dimensions");
    ImageType axes = axesOf(*image);
    size_t const channel = axes.has(ImageDimension::CHANNEL) ? axes.indexDimension(ImageDimension::CHANNEL) : n - 1;
    uint64_t const count = image->shape().data()[channel];
    if (count == 0 || count > 255)
        invalid("assembleChannels: " + std::to_string(count) + " channels");
    Mapping m = identityMapping(*image);
    m.axes.erase(m.axes.begin() + channel);
    m.hasInner = true;
    m.inner = {int(channel), 1};
    m.innerCount = count;
    VectorXu64 shape = withoutAxis(image->shape(), channel);
    if (axes != ImageTypeId::UNKNOWN)
        axes.remove(channel);
    DataType const vector(type.primitiveType(), type.bitDepth(), size_t(count));
    componentsOf(vector, "ImageViewFactory: assembleChannels");
    auto p = describe(*image, axes, shape, vector);
    return mapped("AssembleChannels", image, readingOf(*image), std::move(shape), vector, std::move(p),
                  std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::extractRegion(std::shared_ptr<ImageView> view, RegionXu64 const& region)
{
    needView(view, "extractRegion");
    if (region.isEmpty())
        invalid("extractRegion: the region is empty");
    view->checkRegion(region);
    Mapping m = identityMapping(*view);
    for (size_t d = 0; d < m.start.size(); ++d)
        m.start[d] = int64_t(region.origin().data()[d]);
    DataType const type = view->dataType();
    auto p = describe(*view, region.size(), type);
    return mapped("ExtractRegion", view, readWriteOf(*view), region.size(), type, std::move(p), std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::extractAdjustedRegion(std::shared_ptr<ImageView> view,
                                                                   RegionXu64 const& region)
{
    needView(view, "extractAdjustedRegion");
    if (region.isEmpty())
        invalid("extractAdjustedRegion: the region is empty");
    view->checkRegion(region);
    size_t const n = region.dimensionCount();
    Mapping m;
    m.unit = view->dataType();
    std::vector<uint64_t> kept;
    ImageType axes = axesOf(*view);
    ImageType const original = axes;
    for (size_t d = 0; d < n; ++d) {
        m.start.push_back(int64_t(region.origin().data()[d]));
        if (region.size().data()[d] != 1) {
            m.axes.push_back({int(d), 1});
            kept.push_back(region.size().data()[d]);
        } else if (original != ImageTypeId::UNKNOWN) {
            axes.remove(original.dimension(d));
        }
    }
    if (kept.empty()) {
        // A single sample stays a view of one dimension.
        m.axes.push_back({0, 1});
        kept.push_back(1);
        axes = ImageTypeId::UNKNOWN;
    }
    VectorXu64 shape(kept.size());
    std::copy(kept.begin(), kept.end(), shape.data());
    DataType const type = view->dataType();
    auto p = describe(*view, axes, shape, type);
    return mapped("ExtractAdjustedRegion", view, readWriteOf(*view), std::move(shape), type, std::move(p),
                  std::move(m));
}

std::shared_ptr<ImageView> ImageViewFactory::extractChannel(std::shared_ptr<ImageView> view, size_t idxChannel)
{
    needView(view, "extractChannel");
    return channelOf(view, idxChannel);
}

} // namespace quelbo
