// Multi-image views: ordered lists of frames, and the factory that makes them.
#include <string>

#include "quelbo/multi_image_view.h"
#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

MultiImageView::MultiImageView(std::vector<std::shared_ptr<ImageView>> frames, MultiImageCapabilitySet capabilities)
    : View(ViewDataOrigin::COMPOSITE, "MultiImageView"), m_frames(std::move(frames)), m_capabilities(capabilities)
{
    for (auto const& f : m_frames)
        if (!f)
            throw InvalidArgument("MultiImageView: a frame is empty");
}

MultiImageView::~MultiImageView() = default;

MultiImageCapabilitySet MultiImageView::capabilities() const
{
    return m_capabilities;
}

size_t MultiImageView::frameCount() const
{
    return m_frames.size();
}

void MultiImageView::checkIndex(size_t index) const
{
    if (index >= m_frames.size())
        throw InvalidArgument("MultiImageView: frame " + std::to_string(index) + " of " +
                              std::to_string(m_frames.size()));
}

void MultiImageView::checkWrite(char const* operation) const
{
    if (!support(MultiImageCapability::WRITE))
        detail::needsCapability("MultiImageView", operation, "WRITE");
}

std::shared_ptr<ImageView> MultiImageView::frame(size_t index)
{
    checkIndex(index);
    return m_frames[index];
}

std::shared_ptr<MetadataNode> MultiImageView::metadata() const
{
    return m_metadata;
}

void MultiImageView::addFrame(std::shared_ptr<ImageView> frame)
{
    checkWrite("addFrame");
    if (!frame)
        throw InvalidArgument("MultiImageView: the frame is empty");
    m_frames.push_back(std::move(frame));
}

void MultiImageView::setFrame(size_t index, std::shared_ptr<ImageView> frame)
{
    checkWrite("setFrame");
    checkIndex(index);
    if (!frame)
        throw InvalidArgument("MultiImageView: the frame is empty");
    m_frames[index] = std::move(frame);
}

void MultiImageView::removeFrame(size_t index)
{
    checkWrite("removeFrame");
    checkIndex(index);
    m_frames.erase(m_frames.begin() + index);
}

void MultiImageView::setMetadata(std::shared_ptr<MetadataNode> metadata)
{
    m_metadata = std::move(metadata);
}

std::string MultiImageView::toString() const
{
    std::string text = "MultiImageView(frames: " + std::to_string(m_frames.size()) + " [";
    for (size_t i = 0; i < m_frames.size(); ++i)
        text += (i ? ", " : "") + m_frames[i]->shape().toString() + " " + m_frames[i]->dataType().toString();
    return text + "])";
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::create()
{
    return std::make_shared<MultiImageView>();
}

std::shared_ptr<MultiImageView> MultiImageViewFactory::createFromList(std::shared_ptr<ImageView>* list, size_t count)
{
    if (count && !list)
        throw InvalidArgument("MultiImageViewFactory: no frame list");
    return std::make_shared<MultiImageView>(std::vector<std::shared_ptr<ImageView>>(list, list + count));
}

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
