// The image views that live in memory: views owning their memory, views over
// caller memory and uniform views, and the factory that makes them.
#include "quelbo/image_view_factory.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "quelbo/dependency_graph.h"
#include "quelbo/error.h"
#include "quelbo/image_properties.h"
#include "quelbo/metadata.h"
#include "quelbo/region_copier.h"
#include "views/view_parts.h"

namespace quelbo {

namespace {

using Caps = ImageCapabilitySet;
using Parents = std::vector<std::shared_ptr<ViewOriginExtension>>;

Caps capsOf(std::initializer_list<ImageCapability> list)
{
    Caps caps;
    for (ImageCapability c : list)
        caps.add(c);
    return caps;
}

using detail::defaultAxes;
using detail::defaultProperties;
using detail::notSupported;

// The given properties when they fit; empty ones stand for the defaults.
std::shared_ptr<ImageProperties> checkedProperties(VectorXu64 const& shape, DataType dataType,
                                                   std::shared_ptr<ImageProperties> given)
{
    if (given && !given->isCompatibleWith(shape, dataType))
        throw Error("ImageViewFactory: the given properties are not compatible with the shape " + shape.toString() +
                    " and the data type " + dataType.toString());
    return given;
}

// A view that keeps its own properties and metadata; without given
// properties, the defaults of its shape and type, made when first asked for.
class DescribedView : public ImageView
{
public:
    DescribedView(ViewDataOrigin origin, std::string name, std::vector<std::shared_ptr<ViewOriginExtension>> parents,
                  Caps caps, VectorXu64 shape, DataType dataType, std::shared_ptr<ImageProperties> properties,
                  std::shared_ptr<MetadataNode> metadata)
        : ImageView(origin, std::move(name), std::move(parents)), m_caps(caps), m_shape(std::move(shape)),
          m_type(dataType), m_properties(dataType, defaultAxes(m_shape)), m_metadata(std::move(metadata))
    {
        if (properties)
            m_properties.set(std::move(properties));
    }

    ImageCapabilitySet capabilities() const override { return m_caps; }
    VectorXu64 const& shape() override { return m_shape; }
    DataType dataType() override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() override { return m_properties.get(); }
    std::shared_ptr<const MetadataNode> metadata() const override
    {
        if (!m_caps.has(ImageCapability::READ))
            notSupported("metadata");
        return m_metadata;
    }
    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        requireWrite("setProperties");
        if (!properties)
            throw InvalidArgument("ImageView: the properties cannot be empty");
        m_properties.set(std::make_shared<ImageProperties>(*properties));
    }
    // An empty node clears the metadata.
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override
    {
        requireWrite("setMetadata");
        m_metadata = metadata ? metadata->clone() : nullptr;
    }

protected:
    void requireWrite(char const* operation) const
    {
        if (!m_caps.has(ImageCapability::WRITE))
            notSupported(operation);
    }

    Caps m_caps;
    VectorXu64 m_shape;
    DataType m_type;
    LazyImageProperties m_properties;
    std::shared_ptr<MetadataNode> m_metadata;
};

// Samples in one memory block, in the default (FORTRAN) layout.
class MemoryView final : public DescribedView
{
public:
    MemoryView(std::string name, std::vector<std::shared_ptr<ViewOriginExtension>> parents, Caps caps, Indexer&& indexer,
               std::shared_ptr<MemoryBlock> block, std::shared_ptr<ImageProperties> properties,
               std::shared_ptr<MetadataNode> metadata)
        : DescribedView(ViewDataOrigin::CPU_MEMORY, std::move(name), std::move(parents), caps, indexer.shape(),
                        indexer.dtype(), std::move(properties), std::move(metadata)),
          m_indexer(std::move(indexer)), m_block(std::move(block))
    {}

    // New memory; blocks handed out before keep the old bytes alive.
    void reshape(VectorXu64 const& shape, DataType dataType) override
    {
        if (!m_caps.has(ImageCapability::RESHAPE))
            notSupported("reshape");
        DataType::checkHeld(dataType);
        Indexer indexer(shape, dataType);
        auto block = MemoryBlock::allocate(indexer.byteCount());
        // Properties that still fit stay, those of the old defaults included.
        auto properties = m_properties.get();
        if (!properties->isCompatibleWith(shape, dataType))
            properties = defaultProperties(shape, dataType);
        m_indexer = std::move(indexer);
        m_block = std::move(block);
        m_shape = shape;
        m_type = dataType;
        m_properties.set(std::move(properties));
    }
    Indexer const& indexer() override { return m_indexer; }
    void* buffer() override { return m_block->data(); }
    const void* bufferReadOnly() const override { return m_block->data(); }
    size_t bufferSize() override { return m_indexer.byteCount(); }
    std::shared_ptr<MemoryBlock> memoryBlock() override { return m_block; }

protected:
    void loadSample(VectorXu64 const& index, uint8_t* dst) override
    {
        std::memmove(dst, m_block->data() + m_indexer.byteOffset(index), m_type.byteCount());
    }
    void load(RegionXu64 const& region, uint8_t* dst) override
    {
        Indexer dense(region.size(), m_type);
        RegionCopier(m_indexer, dense, region.origin(), VectorXu64(region.dimensionCount()), region.size(), m_type)
            .copy(m_block->data(), dst);
    }
    void storeSample(VectorXu64 const& index, const uint8_t* src) override
    {
        std::memmove(m_block->data() + m_indexer.byteOffset(index), src, m_type.byteCount());
    }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        Indexer dense(region.size(), m_type);
        RegionCopier(dense, m_indexer, VectorXu64(region.dimensionCount()), region.origin(), region.size(), m_type)
            .copy(src, m_block->data());
    }

private:
    Indexer m_indexer;
    std::shared_ptr<MemoryBlock> m_block;
};

// One value everywhere.
class UniformView final : public DescribedView
{
public:
    UniformView(VectorXu64 shape, DataType dataType, const void* value, std::shared_ptr<ImageProperties> properties,
                std::shared_ptr<MetadataNode> metadata)
        : DescribedView(ViewDataOrigin::GENERATED, "Uniform image", {}, capsOf({ImageCapability::READ}),
                        std::move(shape), dataType, std::move(properties), std::move(metadata)),
          m_value(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + dataType.byteCount())
    {}

protected:
    void loadSample(VectorXu64 const&, uint8_t* dst) override { std::memcpy(dst, m_value.data(), m_value.size()); }
    void load(RegionXu64 const& region, uint8_t* out) override
    {
        const size_t count = region.elementCount();
        for (size_t i = 0; i < count; ++i, out += m_value.size())
            std::memcpy(out, m_value.data(), m_value.size());
    }

private:
    std::vector<uint8_t> m_value;
};

const Caps kOwned =
    capsOf({ImageCapability::READ, ImageCapability::WRITE, ImageCapability::RESHAPE, ImageCapability::MEMORY_ACCESS});
const Caps kBorrowed = capsOf({ImageCapability::READ, ImageCapability::WRITE, ImageCapability::MEMORY_ACCESS});

} // namespace

std::shared_ptr<ImageView> ImageViewFactory::allocate(VectorXu64 const& shape, DataType dataType)
{
    return allocate(shape, dataType, nullptr, nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::allocate(VectorXu64 const& shape, DataType dataType,
                                                      std::shared_ptr<ImageProperties> properties,
                                                      std::shared_ptr<MetadataNode> metadata)
{
    DataType::checkHeld(dataType);
    Indexer indexer(shape, dataType);
    auto described = checkedProperties(shape, dataType, std::move(properties));
    auto block = MemoryBlock::allocate(indexer.byteCount());
    return std::make_shared<MemoryView>("Memory image", Parents{}, kOwned, std::move(indexer), std::move(block),
                                        std::move(described), std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::uniform(VectorXu64 const& shape, DataType dataType, void* value,
                                                     std::shared_ptr<ImageProperties> properties,
                                                     std::shared_ptr<const MetadataNode> metadata)
{
    return uniform(shape, dataType, value, dataType.byteCount(), std::move(properties), std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::uniform(VectorXu64 const& shape, DataType dataType, const void* value,
                                                     size_t valueSize, std::shared_ptr<ImageProperties> properties,
                                                     std::shared_ptr<const MetadataNode> metadata)
{
    DataType::checkHeld(dataType);
    if (!value || valueSize < dataType.byteCount())
        throw InvalidArgument("ImageViewFactory: the value of " + std::to_string(valueSize) +
                              " bytes does not hold one element of " + dataType.toString());
    Indexer(shape, dataType); // checks the sizes
    auto described = checkedProperties(shape, dataType, std::move(properties));
    return std::make_shared<UniformView>(shape, dataType, value, std::move(described),
                                         metadata ? metadata->clone() : nullptr);
}

std::shared_ptr<ImageView> ImageViewFactory::fromBuffer(VectorXu64 const& shape, DataType dataType, void* buffer,
                                                        size_t bufferSize, std::shared_ptr<ImageProperties> properties,
                                                        std::shared_ptr<MetadataNode> metadata)
{
    BorrowedMemory memory;
    memory.data = static_cast<uint8_t*>(buffer);
    memory.size = bufferSize;
    return fromBuffer(shape, dataType, std::move(memory), std::move(properties), std::move(metadata));
}

std::shared_ptr<ImageView> ImageViewFactory::fromBuffer(VectorXu64 const& shape, DataType dataType,
                                                        BorrowedMemory memory,
                                                        std::shared_ptr<ImageProperties> properties,
                                                        std::shared_ptr<MetadataNode> metadata)
{
    DataType::checkHeld(dataType);
    Indexer indexer(shape, dataType);
    if (!memory.data || memory.size < indexer.byteCount())
        throw InvalidArgument("ImageViewFactory: the buffer of " + std::to_string(memory.size) +
                              " bytes cannot hold the " + std::to_string(indexer.byteCount()) + " bytes of the image");
    auto described = checkedProperties(shape, dataType, std::move(properties));
    auto block = MemoryBlock::borrow(memory.data, memory.size, std::move(memory.keeper));
    auto view = std::make_shared<MemoryView>("Buffer image", Parents{}, kBorrowed, std::move(indexer), std::move(block),
                                             std::move(described), std::move(metadata));
    DependencyGraph::recordForeignMemory(*view);
    return view;
}

std::shared_ptr<ImageView> ImageViewFactory::copyInMemory(std::shared_ptr<ImageView> image)
{
    if (!image)
        throw InvalidArgument("ImageViewFactory: the image to copy in memory is empty");
    if (image->support(ImageCapability::MEMORY_ACCESS))
        return image;
    if (!image->support(ImageCapability::READ))
        throw Error("ImageViewFactory: the image to copy in memory does not support READ");
    const VectorXu64 shape = image->shape();
    const DataType dataType = image->dataType();
    auto source = image->properties();
    if (!source || !source->isCompatibleWith(shape, dataType))
        throw InvalidArgument("ImageViewFactory: the properties of the image to copy in memory are not valid");
    DataType::checkHeld(dataType);
    Indexer indexer(shape, dataType);
    auto block = MemoryBlock::allocate(indexer.byteCount());
    if (indexer.elementCount() != 0)
        image->readRegion(RegionXu64::createFullRegion(shape), block->data());
    auto metadata = image->metadata();
    return std::make_shared<MemoryView>("Memory copy", Parents{image->viewOrigin()}, kOwned, std::move(indexer),
                                        std::move(block), std::make_shared<ImageProperties>(*source),
                                        metadata ? metadata->clone() : nullptr);
}

} // namespace quelbo
