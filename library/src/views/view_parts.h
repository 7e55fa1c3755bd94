// Pieces shared by the views of this library that wrap other views or stores.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "quelbo/error.h"
#include "quelbo/extension.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/metadata.h"
#include "values/chunks.h"

namespace quelbo::detail {

// The refusal of an operation for want of a capability, in one wording:
// "<kind>: <operation> needs the <capability> capability".
inline std::string needsCapabilityText(std::string const& kind, std::string const& operation, char const* capability)
{
    return kind + ": " + operation + " needs the " + capability + " capability";
}
template <class E = NotImplemented>
[[noreturn]] void needsCapability(std::string const& kind, std::string const& operation, char const* capability)
{
    throw E(needsCapabilityText(kind, operation, capability));
}

// The refusal of an operation a view does not offer at all.
inline std::string notSupportedText(std::string const& operation)
{
    return "ImageView: " + operation + " is not supported by this view";
}
[[noreturn]] inline void notSupported(std::string const& operation)
{
    throw NotImplemented(notSupportedText(operation));
}

// The axes of a view given no properties: those of an image (two
// dimensions) or a volume (three).
inline ImageType defaultAxes(VectorXu64 const& shape)
{
    size_t const n = shape.size();
    return n == 2 ? ImageTypeId::IMAGE : n == 3 ? ImageTypeId::VOLUME : ImageTypeId::UNKNOWN;
}

// The properties of a view given none: its data type's, with the default axes.
inline std::shared_ptr<ImageProperties> defaultProperties(VectorXu64 const& shape, DataType type)
{
    auto p = ImageProperties::fromDataType(type);
    p->imageInfo().setAxesInterpretation(defaultAxes(shape));
    return p;
}

// A parallel access extension reporting a fixed set of capabilities.
class FixedParallelAccess final : public ParallelAccessExtension
{
public:
    explicit FixedParallelAccess(ParallelAccessCapabilitySet capabilities) : m_capabilities(capabilities) {}
    ParallelAccessCapabilitySet capabilities() const override { return m_capabilities; }

private:
    ParallelAccessCapabilitySet m_capabilities;
};

inline ViewDataOrigin dataOriginOf(View& view)
{
    auto o = view.viewOrigin();
    return o ? o->dataOrigin() : ViewDataOrigin::UNKNOWN;
}

// A copy of a view's properties to modify (from its data type when it has none).
inline std::shared_ptr<ImageProperties> propertiesOf(ImageView& view)
{
    auto p = view.properties();
    return p ? p->clone() : ImageProperties::fromDataType(view.dataType());
}

// A view's metadata when it can be read, else none.
inline std::shared_ptr<const MetadataNode> metadataOf(ImageView& view)
{
    if (!view.support(ImageCapability::READ))
        return nullptr;
    return view.metadata();
}

// Properties and metadata a view owns, with the setters' checks.
class OwnedDescription
{
public:
    OwnedDescription(std::shared_ptr<const ImageProperties> properties, std::shared_ptr<const MetadataNode> metadata)
        : m_properties(std::move(properties)), m_metadata(std::move(metadata))
    {}

    std::shared_ptr<const ImageProperties> properties() const { return m_properties; }
    std::shared_ptr<const MetadataNode> metadata(ImageCapabilitySet caps) const
    {
        if (!caps.has(ImageCapability::READ))
            needsCapability("ImageView", "metadata", "READ");
        return m_metadata;
    }
    // Any properties are kept as given, in any order of changes: what
    // reads them (slices, the array bridge) checks them against the view.
    void setProperties(ImageCapabilitySet caps, std::shared_ptr<const ImageProperties> properties)
    {
        if (!caps.has(ImageCapability::WRITE))
            needsCapability("ImageView", "setProperties", "WRITE");
        if (!properties)
            throw InvalidArgument("ImageView: the properties are empty");
        m_properties = std::move(properties);
    }
    // Properties the view made itself for what it holds now.
    void replaceProperties(std::shared_ptr<const ImageProperties> properties) { m_properties = std::move(properties); }
    void setMetadata(ImageCapabilitySet caps, std::shared_ptr<MetadataNode> metadata)
    {
        if (!caps.has(ImageCapability::WRITE))
            needsCapability("ImageView", "setMetadata", "WRITE");
        m_metadata = std::move(metadata);
    }

private:
    std::shared_ptr<const ImageProperties> m_properties;
    std::shared_ptr<const MetadataNode> m_metadata;
};

// Bytes a transfer passes through, left uninitialised: each is written
// before it is read.
class Scratch
{
public:
    Scratch() = default;
    explicit Scratch(size_t size) { resize(size); }
    void resize(size_t size)
    {
        if (size > m_size) {
            m_data.reset(new uint8_t[size]);
            m_size = size;
        }
    }
    uint8_t* data() { return m_data.get(); }

private:
    std::unique_ptr<uint8_t[]> m_data;
    size_t m_size = 0;
};

// Where a view's memory holds a region's samples as the region's dense
// buffer would (the default layout, first axis fastest): the address of its
// first sample; null for a view without READ and MEMORY_ACCESS, or a region
// laid out otherwise.
inline const uint8_t* denseInMemory(ImageView& view, RegionXu64 const& region)
{
    if (!view.support(ImageCapabilitySet(uint64_t(ImageCapability::READ) | uint64_t(ImageCapability::MEMORY_ACCESS))))
        return nullptr;
    // Byte strides are signed (a reversed axis), as the indexer reads them.
    VectorXu64 const& strides = view.indexer().byteStride();
    uint64_t step = view.sampleByteCount();
    int64_t offset = 0;
    for (size_t d = 0; d < region.dimensionCount(); ++d) {
        uint64_t const size = region.size().data()[d];
        if (size != 1 && strides.data()[d] != step)
            return nullptr;
        offset += int64_t(region.origin().data()[d]) * int64_t(strides.data()[d]);
        step *= size;
    }
    return static_cast<const uint8_t*>(view.bufferReadOnly()) + offset;
}

} // namespace quelbo::detail
