// A plain image view over host memory, with or without memory access: the
// source of the copy and adaptation checks.
#pragma once
#include <memory>
#include <vector>

#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/indexer.h"
#include "quelbo/region_copier.h"

namespace quelbo_cuda::check {

using namespace quelbo;

class HostView final : public ImageView
{
public:
    HostView(VectorXu64 const& shape, DataType type, bool memoryAccess)
        : ImageView(ViewDataOrigin::CPU_MEMORY, "HostView"), m_shape(shape), m_type(type), m_indexer(shape, type),
          m_data(m_indexer.byteCount()), m_memoryAccess(memoryAccess)
    {}
    ImageCapabilitySet capabilities() const override
    {
        ImageCapabilitySet c = ImageCapabilitySet(ImageCapability::READ) | ImageCapability::WRITE;
        return m_memoryAccess ? c | ImageCapability::MEMORY_ACCESS : c;
    }
    VectorXu64 const& shape() override { return m_shape; }
    DataType dataType() override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() override { return m_properties; }
    std::shared_ptr<const MetadataNode> metadata() const override { return nullptr; }
    Indexer const& indexer() override { return m_indexer; }
    void* buffer() override { return m_data.data(); }
    const void* bufferReadOnly() const override { return m_data.data(); }
    size_t bufferSize() override { return m_data.size(); }
    std::vector<uint8_t>& data() { return m_data; }

protected:
    void load(RegionXu64 const& r, uint8_t* dst) override
    {
        RegionCopier(m_indexer, Indexer(r.size(), m_type), r.origin(), VectorXu64(r.dimensionCount()), r.size(), m_type)
            .copy(m_data.data(), dst);
    }
    void store(RegionXu64 const& r, const uint8_t* src) override
    {
        RegionCopier(Indexer(r.size(), m_type), m_indexer, VectorXu64(r.dimensionCount()), r.origin(), r.size(), m_type)
            .copy(src, m_data.data());
    }

private:
    VectorXu64 m_shape;
    DataType m_type;
    Indexer m_indexer;
    std::vector<uint8_t> m_data;
    bool m_memoryAccess;
    std::shared_ptr<const ImageProperties> m_properties = ImageProperties::fromDataType(m_type);
};

} // namespace quelbo_cuda::check
