// Multi-image views: ordered sets of image views, and their factory.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "quelbo/export.h"
#include "quelbo/flags.h"
#include "quelbo/image_type.h"
#include "quelbo/image_view.h"
#include "quelbo/view.h"

namespace quelbo {

class MetadataNode;

// An ordered set of image views (its frames), with capabilities and a
// metadata tree of its own. Frames may differ in shape and type. A frame is
// never empty: adding or setting an empty pointer is InvalidArgument, and so
// is an index past the frames.
class QUELBO_API MultiImageView : public View
{
public:
    explicit MultiImageView(std::vector<std::shared_ptr<ImageView>> frames = {},
                            MultiImageCapabilitySet capabilities = MultiImageCapability::READ_WRITE);
    ~MultiImageView() override;

    virtual MultiImageCapabilitySet capabilities() const;
    virtual size_t frameCount() const;
    virtual std::shared_ptr<ImageView> frame(size_t index);
    virtual std::shared_ptr<MetadataNode> metadata() const;
    // Appends at the end. Needs WRITE.
    virtual void addFrame(std::shared_ptr<ImageView> frame);
    // Replaces an existing frame; nothing is allocated. Needs WRITE.
    virtual void setFrame(size_t index, std::shared_ptr<ImageView> frame);
    // Needs WRITE.
    virtual void removeFrame(size_t index);
    virtual void setMetadata(std::shared_ptr<MetadataNode> metadata);

    std::string toString() const;
    bool support(MultiImageCapabilitySet flags) const { return (capabilities() & flags) == flags; }

private:
    void checkIndex(size_t index) const;
    void checkWrite(char const* operation) const;

    std::vector<std::shared_ptr<ImageView>> m_frames;
    MultiImageCapabilitySet m_capabilities;
    std::shared_ptr<MetadataNode> m_metadata;
};

// Makes multi-image views. InvalidArgument for an empty image view, Error
// for a dimension the view lacks.
class QUELBO_API MultiImageViewFactory
{
public:
    static std::shared_ptr<MultiImageView> create();
    // Every given frame in order; InvalidArgument for an empty one.
    static std::shared_ptr<MultiImageView> createFromList(std::shared_ptr<ImageView>* list, size_t count);
    // One frame per position along the dimension, each without it.
    static std::shared_ptr<MultiImageView> unstack(std::shared_ptr<ImageView> view, ImageDimension dimension);
    static std::shared_ptr<MultiImageView> unstack(std::shared_ptr<ImageView> view, size_t idxDimensionUnstack);
    // One frame per channel: the components of vector samples, or the
    // positions along CHANNEL.
    static std::shared_ptr<MultiImageView> deinterlace(std::shared_ptr<ImageView> view);
};

} // namespace quelbo
