// The view providers: read-only and write-only views, kind conversions and extension casts.
#include "quelbo/providers.h"

#include <string>
#include <utility>

#include "quelbo/error.h"
#include "util/release.h"
#include "views/view_parts.h"
#include "views/view_reach.h"

namespace quelbo {

namespace {

// The source's samples and description, offering one capability of the
// source's: every operation outside it raises NotImplemented before it
// reaches the source. Memory access is never offered (it would give both).
class RestrictedImageView final : public ImageView, public detail::Reaching
{
public:
    RestrictedImageView(std::shared_ptr<ImageView> source, ImageCapability kept)
        : ImageView(detail::dataOriginOf(*source),
                    kept == ImageCapability::READ ? "ReadOnlyImageView" : "WriteOnlyImageView", {source->viewOrigin()}),
          m_source(std::move(source)), m_kept(kept)
    {}
    ~RestrictedImageView() override { util::release(m_source); }

    ImageCapabilitySet capabilities() const override { return m_source->capabilities() & ImageCapabilitySet(m_kept); }
    VectorXu64 const& shape() override { return m_source->shape(); }
    DataType dataType() override { return m_source->dataType(); }
    std::shared_ptr<const ImageProperties> properties() override { return m_source->properties(); }
    std::shared_ptr<const MetadataNode> metadata() const override
    {
        need(ImageCapability::READ, "metadata");
        return m_source->metadata();
    }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        need(ImageCapability::WRITE, "setProperties");
        m_source->setProperties(std::move(properties));
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        need(ImageCapability::WRITE, "setMetadata");
        m_source->setMetadata(std::move(metadata));
    }
    void reshape(VectorXu64 const&, DataType) override { refuse("reshape"); }
    Indexer const& indexer() override { refuse("indexer"); }
    void* buffer() override { refuse("buffer"); }
    const void* bufferReadOnly() const override { refuse("bufferReadOnly"); }
    size_t bufferSize() override { refuse("bufferSize"); }
    std::shared_ptr<MemoryBlock> memoryBlock() override { return nullptr; }
    ParallelAccessCapabilitySet parallelCapabilities() override { return m_source->parallelCapabilities(); }
    std::string refusal(Transfer transfer) const override { return unavailable(nameOf(transfer)); }
    void reachInto(detail::Reach&, std::vector<ImageView*>& through) override { through.push_back(m_source.get()); }

protected:
    void loadSample(VectorXu64 const& index, uint8_t* dst) override { m_source->read(index, dst); }
    void load(RegionXu64 const& region, uint8_t* dst) override { m_source->readRegion(region, dst); }
    void storeSample(VectorXu64 const& index, const uint8_t* src) override { m_source->write(index, src); }
    void store(RegionXu64 const& region, const uint8_t* src) override { m_source->writeRegion(region, src); }

private:
    std::string unavailable(const char* what) const
    {
        return std::string(m_kept == ImageCapability::READ ? "read-only" : "write-only") + " image view: " + what +
               " is not available";
    }
    [[noreturn]] void refuse(const char* what) const { throw NotImplemented(unavailable(what)); }
    void need(ImageCapability capability, const char* what) const
    {
        if (capability != m_kept || !m_source->support(capability))
            refuse(what);
    }

    std::shared_ptr<ImageView> m_source;
    ImageCapability m_kept;
};

std::shared_ptr<ImageView> restrict(std::shared_ptr<ImageView> image, ImageCapability kept)
{
    if (!image)
        throw InvalidArgument("ImageViewProvider: the image view is empty");
    if (image->capabilities() == ImageCapabilitySet(kept))
        return image;
    return std::make_shared<RestrictedImageView>(std::move(image), kept);
}

} // namespace

std::shared_ptr<ImageView> ImageViewProvider::toReadOnly(std::shared_ptr<ImageView> image)
{
    return restrict(std::move(image), ImageCapability::READ);
}

std::shared_ptr<ImageView> ImageViewProvider::toWriteOnly(std::shared_ptr<ImageView> image)
{
    return restrict(std::move(image), ImageCapability::WRITE);
}

std::shared_ptr<TilingInfoExtension> ExtensionProvider::toTilingInfo(std::shared_ptr<Extension> extension)
{
    return TilingInfoExtension::cast(extension);
}

std::shared_ptr<ParallelAccessExtension> ExtensionProvider::toParallelAccess(std::shared_ptr<Extension> extension)
{
    return ParallelAccessExtension::cast(extension);
}

std::shared_ptr<ViewOriginExtension> ExtensionProvider::toViewOrigin(std::shared_ptr<Extension> extension)
{
    return ViewOriginExtension::cast(extension);
}

} // namespace quelbo
