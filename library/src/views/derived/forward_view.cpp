// Views that forward every operation to their source: behind a lock, with another description, or offering
// one capability of the source's.
#include <mutex>

#include "views/derived/derived_view.h"

namespace quelbo {
using namespace derived;

namespace {

// ----------------------------------------------------------- forward view

// The source itself behind another description (properties, metadata) or a
// lock: every operation goes to the source. Over another forwarding view it
// goes straight to where that one forwards, with the capabilities both
// allow, behind the lock of the chain below (the one lock every caller of
// that view takes already, so a second would serialize nothing more), and
// to the nearest view that keeps each description: a query costs one lock
// and one call, however long the chain.
//
// A restricted view (read-only, write-only) keeps one capability of its
// source's (`kept`): every operation outside it raises NotImplemented in its
// own wording before it reaches the source, metadata is read only by a
// read-only view over a source that reads, descriptions are set only by a
// write-only one over a source that writes, and memory is never offered (it
// would give both). Between a view and the one that keeps its description,
// the uppermost restricted view decides: any one below that refuses has
// taken from it the capability it needs.
class ForwardView final : public ImageView, public detail::Reaching
{
public:
    ForwardView(char const* name, std::shared_ptr<ImageView> source, uint64_t capabilityMask, bool locked,
                std::shared_ptr<const ImageProperties> properties, bool ownMetadata,
                std::shared_ptr<const MetadataNode> metadata, uint64_t kept = 0)
        : ImageView(detail::dataOriginOf(*source), name, {source->viewOrigin()}), m_source(std::move(source)),
          m_data(m_source.get()), m_mask(capabilityMask), m_kept(kept), m_ownProperties(properties != nullptr),
          m_ownMetadata(ownMetadata), m_description(std::move(properties), std::move(metadata))
    {
        m_propertiesFrom = m_metadataFrom = m_data;
        uint64_t below = ~uint64_t(0); // what the source allows of its data
        if (auto* inner = dynamic_cast<ForwardView*>(m_source.get())) {
            m_data = inner->m_data;
            below = inner->m_mask;
            m_lock = inner->m_lock;
            m_showsTiling = inner->m_showsTiling;
            m_propertiesFrom = inner->m_ownProperties ? inner : inner->m_propertiesFrom;
            m_metadataFrom = inner->m_ownMetadata ? inner : inner->m_metadataFrom;
            m_propertiesGate = inner->m_ownProperties ? Gate{} : inner->m_propertiesGate;
            m_metadataGate = inner->m_ownMetadata ? Gate{} : inner->m_metadataGate;
        }
        m_mask &= below;
        if (m_kept) {
            m_propertiesGate = m_metadataGate = Gate{m_kept, below};
            m_showsTiling = false;
        }
        if (locked && !m_lock)
            m_lock = std::make_shared<std::recursive_mutex>();
        m_showsTiling = m_showsTiling && !m_lock;
        passesTo(name, *m_data);
        m_describedShape = m_data->shape();
        m_describedType = m_data->dataType();
    }
    ~ForwardView() override { util::release(m_source); }

    ImageCapabilitySet capabilities() const override
    {
        auto l = lock();
        return ImageCapabilitySet(m_data->capabilities().value() & m_mask);
    }
    VectorXu64 const& shape() override
    {
        auto l = lock();
        return m_data->shape();
    }
    DataType dataType() override
    {
        auto l = lock();
        return m_data->dataType();
    }
    std::shared_ptr<const ImageProperties> properties() override
    {
        auto l = lock();
        if (!m_ownProperties)
            return m_propertiesFrom->properties();
        refit();
        return m_description.properties();
    }
    std::shared_ptr<const MetadataNode> metadata() const override
    {
        auto l = lock();
        if (m_ownMetadata)
            return m_description.metadata(capabilities());
        pass(m_metadataGate, ImageCapability::READ, "metadata");
        return m_metadataFrom->metadata();
    }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        auto l = lock();
        if (!m_ownProperties) {
            pass(m_propertiesGate, ImageCapability::WRITE, "setProperties");
            return m_propertiesFrom->setProperties(std::move(properties));
        }
        m_description.setProperties(capabilities(), std::move(properties));
        m_describedShape = m_data->shape();
        m_describedType = m_data->dataType();
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        auto l = lock();
        if (!m_ownMetadata) {
            pass(m_metadataGate, ImageCapability::WRITE, "setMetadata");
            return m_metadataFrom->setMetadata(std::move(metadata));
        }
        m_description.setMetadata(capabilities(), std::move(metadata));
    }
    void reshape(VectorXu64 const& shape, DataType dataType) override
    {
        auto l = lock();
        need(ImageCapability::RESHAPE, "reshape");
        m_data->reshape(shape, dataType);
    }
    Indexer const& indexer() override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "indexer");
        return m_data->indexer();
    }
    void* buffer() override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "buffer");
        return m_data->buffer();
    }
    const void* bufferReadOnly() const override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "bufferReadOnly");
        return m_data->bufferReadOnly();
    }
    size_t bufferSize() override
    {
        auto l = lock();
        need(ImageCapability::MEMORY_ACCESS, "bufferSize");
        return m_data->bufferSize();
    }
    std::shared_ptr<MemoryBlock> memoryBlock() override
    {
        auto l = lock();
        return capabilities().has(ImageCapability::MEMORY_ACCESS) ? m_data->memoryBlock() : nullptr;
    }
    ParallelAccessCapabilitySet parallelCapabilities() override
    {
        auto l = lock();
        uint64_t caps = m_data->parallelCapabilities().value();
        if (m_lock)
            caps |= uint64_t(ParallelAccessCapability::THREAD_SAFE);
        return ParallelAccessCapabilitySet(caps);
    }
    std::shared_ptr<Extension> extension(size_t id) override
    {
        auto l = lock();
        if (id == TilingInfoExtension::EXTENSION_ID && m_showsTiling)
            return m_data->extension(id);
        return ImageView::extension(id);
    }
    std::string refusal(Transfer transfer) const override
    {
        return m_kept ? unavailable(m_kept, nameOf(transfer)) : detail::notSupportedText(nameOf(transfer));
    }

    void reachInto(detail::Reach&, std::vector<ImageView*>& through) override { through.push_back(m_data); }

protected:
    // The view forwarded to checks the transfer again, under the lock.
    void loadSample(VectorXu64 const& index, uint8_t* dst) override
    {
        auto l = lock();
        m_data->read(index, dst);
    }
    void load(RegionXu64 const& region, uint8_t* dst) override
    {
        auto l = lock();
        m_data->readRegion(region, dst);
    }
    void storeSample(VectorXu64 const& index, const uint8_t* src) override
    {
        auto l = lock();
        m_data->write(index, src);
    }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        auto l = lock();
        m_data->writeRegion(region, src);
    }

private:
    // Its own properties were made (or set) for the shape and type of its
    // data then: data reshaped since has them fitted to what it holds now,
    // as a view derived from it now would, those that still fit kept.
    void refit()
    {
        VectorXu64 const& shape = m_data->shape();
        DataType const type = m_data->dataType();
        if (shape == m_describedShape && type == m_describedType)
            return;
        m_describedShape = shape;
        m_describedType = type;
        auto const given = m_description.properties();
        if (given->isCompatibleWith(shape, type))
            return;
        auto fitted = given->clone();
        fit(*fitted, shape, type);
        m_description.replaceProperties(std::move(fitted));
    }

    std::unique_lock<std::recursive_mutex> lock() const
    {
        return m_lock ? std::unique_lock<std::recursive_mutex>(*m_lock) : std::unique_lock<std::recursive_mutex>();
    }
    void need(ImageCapability flag, char const* operation) const
    {
        if (m_kept)
            throw NotImplemented(unavailable(m_kept, operation));
        if (!capabilities().has(flag))
            detail::notSupported(operation);
    }

    // A restricted view between this one and the one that keeps a
    // description: the capability it kept and what its source allowed.
    struct Gate
    {
        uint64_t kept = 0;
        uint64_t below = 0;
    };
    void pass(Gate const& gate, ImageCapability needed, char const* operation) const
    {
        uint64_t const flag = uint64_t(needed);
        if (gate.kept && (gate.kept != flag || !(m_data->capabilities().value() & gate.below & flag)))
            throw NotImplemented(unavailable(gate.kept, operation));
    }
    static std::string unavailable(uint64_t kept, char const* operation)
    {
        return std::string(kept == uint64_t(ImageCapability::READ) ? "read-only" : "write-only") +
               " image view: " + operation + " is not available";
    }

    std::shared_ptr<ImageView> m_source; // kept alive; the views below it stay with it
    ImageView* m_data;                   // where every operation goes
    ImageView* m_propertiesFrom;         // the nearest view below that keeps its own properties
    ImageView* m_metadataFrom;           // ... its own metadata
    uint64_t m_mask;
    uint64_t m_kept;   // the one capability a restricted view keeps, else 0
    Gate m_propertiesGate, m_metadataGate;
    bool m_showsTiling = true; // the tiling of its data: no lock and no restriction on the way
    std::shared_ptr<std::recursive_mutex> m_lock;
    bool m_ownProperties;
    bool m_ownMetadata;
    OwnedDescription m_description;
    VectorXu64 m_describedShape; // what its own properties were made or set for
    DataType m_describedType;
};

} // namespace

std::shared_ptr<ImageView> derived::restricted(std::shared_ptr<ImageView> source, ImageCapability kept)
{
    char const* name = kept == ImageCapability::READ ? "ReadOnlyImageView" : "WriteOnlyImageView";
    return std::make_shared<ForwardView>(name, std::move(source), uint64_t(kept), false, nullptr, false, nullptr,
                                         uint64_t(kept));
}

std::shared_ptr<ImageView> ImageViewFactory::makeThreadSafe(std::shared_ptr<ImageView> image)
{
    needView(image, "makeThreadSafe");
    return std::make_shared<ForwardView>("ThreadSafe", image, ~uint64_t(0), true, nullptr, false, nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::reinterpret(std::shared_ptr<ImageView> image, ImageType newImageType)
{
    needView(image, "reinterpret");
    size_t const n = image->dimensionCount();
    if (newImageType != ImageTypeId::UNKNOWN && newImageType.dimensionCount() != n)
        failure("reinterpret: an image type of " + std::to_string(newImageType.dimensionCount()) +
                " dimensions for a view of " + std::to_string(n));
    auto p = describe(*image, newImageType, image->shape(), image->dataType());
    return std::make_shared<ForwardView>("Reinterpret", image, kReadWrite, false, std::move(p), true,
                                         detail::metadataOf(*image));
}

std::shared_ptr<ImageView> ImageViewFactory::fromImageView(std::shared_ptr<ImageView> view,
                                                           std::shared_ptr<const ImageProperties> properties,
                                                           std::shared_ptr<const MetadataNode> metadata)
{
    needView(view, "fromImageView");
    if (!properties)
        properties = describe(*view, view->shape(), view->dataType());
    else if (!properties->isCompatibleWith(view->shape(), view->dataType()))
        failure("fromImageView: the properties do not fit the shape " + view->shape().toString() + " and type " +
                view->dataType().toString());
    return std::make_shared<ForwardView>("FromImageView", view, ~uint64_t(0), false, std::move(properties), true,
                                         std::move(metadata));
}

} // namespace quelbo
