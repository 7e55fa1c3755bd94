// Multi-image views: ordered lists of frames, and the factory that makes them
// from frames (the frames of a view are derived views: views/derived/).
#include <string>

#include "quelbo/multi_image_view.h"
#include "views/view_parts.h"

namespace quelbo {

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

} // namespace quelbo
