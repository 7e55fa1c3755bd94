// GPU image views: samples in device memory (dense, or with rows padded to
// the driver's pitch), moved only by driver copies; and adapted views, which
// give any view's reads and writes device buffers through host staging.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "quelbo/error.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/metadata.h"
#include "quelbo_cuda/cuda_image_factory.h"
#include "quelbo_cuda/driver.h"
#include "device_copies.h"
#include "util/release.h"
#include "values/chunks.h"
#include "values/large_block.h"
#include "views/view_reach.h"

namespace quelbo_cuda {

namespace {

using quelbo::DataType;
using quelbo::ImageCapability;
using quelbo::ImageCapabilitySet;
using quelbo::ImageProperties;
using quelbo::ImageView;
using quelbo::MetadataNode;
using quelbo::RegionXu64;
using quelbo::VectorXu64;

// Largest host staging buffer of one transfer step.
constexpr size_t kStageBytes = size_t(64) << 20;

// A host stage of `bytes` bytes: the library's block, left as it comes (each
// transfer step writes the bytes it then reads).
std::shared_ptr<unsigned char> stageOf(size_t bytes)
{
    return quelbo::detail::sharedBlock(bytes, true);
}

// Moves a region between a view and a dense device buffer through a host
// stage of at most kStageBytes, whatever the region's shape: the library's
// chunk walk cuts it in pieces of the dense buffer (from a chunk's offset on,
// as many samples as the stage holds), one driver copy each. Every road
// through host memory is this one.
void stageThroughHost(ImageView& view, RegionXu64 const& region, DevicePtr device, bool toDevice)
{
    const size_t sample = view.sampleByteCount();
    const uint64_t perStage = std::max<uint64_t>(1, kStageBytes / sample);
    if (region.elementCount() == 0)
        return;
    auto const stage = stageOf(size_t(std::min(region.elementCount(), perStage)) * sample);
    Driver& d = Driver::get();
    quelbo::detail::forEachChunk(region, perStage, [&](RegionXu64 const& chunk, uint64_t offset) {
        const size_t bytes = size_t(chunk.elementCount()) * sample;
        const DevicePtr at = device + DevicePtr(offset * sample);
        if (toDevice) {
            view.readRegion(chunk, stage.get());
            d.toDevice(at, stage.get(), bytes);
        } else {
            d.toHost(stage.get(), at, bytes);
            view.writeRegion(chunk, stage.get());
        }
    });
}

// Device memory owned by one view, freed with it.
class DeviceMemory
{
public:
    // Dense: rowBytes * rows bytes. Pitched: every row padded to the driver's
    // pitch. Zeroed unless the caller fills it at once.
    DeviceMemory(size_t rowBytes, size_t rows, size_t sampleBytes, bool pitched, bool zeroed)
    {
        Driver& d = Driver::get();
        if (pitched) {
            m_ptr = d.allocatePitched(rowBytes, rows, sampleBytes, m_pitch);
        } else {
            m_pitch = rowBytes;
            m_ptr = d.allocate(quelbo::checkedMultiply(rowBytes, rows, "GPU image size"));
        }
        try {
            if (zeroed)
                d.zero(m_ptr, m_pitch * rows);
        } catch (...) {
            d.release(m_ptr);
            throw;
        }
    }
    ~DeviceMemory() { Driver::get().release(m_ptr); }
    DeviceMemory(DeviceMemory const&) = delete;
    DeviceMemory& operator=(DeviceMemory const&) = delete;

    DevicePtr ptr() const { return m_ptr; }
    size_t pitch() const { return m_pitch; }

private:
    DevicePtr m_ptr = 0;
    size_t m_pitch = 0;
};

// Bytes of one sample, as a host view of the type lays it out (a type of 12
// bits takes two); Error for a type the library cannot hold.
size_t sampleBytesOf(DataType type)
{
    DataType::checkHeld(type);
    return type.byteCount();
}

// InvalidArgument for an image without samples; else the number of rows
// (the product of every size but the first).
size_t rowCountOf(VectorXu64 const& shape, const char* what)
{
    const uint64_t* first = shape.data();
    if (shape.size() == 0 || std::find(first, first + shape.size(), 0) != first + shape.size())
        throw quelbo::InvalidArgument(std::string(what) + ": the image " + shape.toString() + " is empty");
    size_t rows = 1;
    for (size_t d = 1; d < shape.size(); ++d)
        rows = quelbo::checkedMultiply(rows, size_t(shape[d]), "GPU image size");
    return rows;
}

// Marks the views this library makes.
class CudaView : public ImageView
{
protected:
    using ImageView::ImageView;
};

class CudaImageView final : public CudaView
{
public:
    CudaImageView(VectorXu64 const& shape, DataType type, std::shared_ptr<const ImageProperties> properties,
                  std::shared_ptr<const MetadataNode> metadata, bool pitched, bool zeroed = true,
                  std::vector<std::shared_ptr<quelbo::ViewOriginExtension>> parents = {})
        : CudaView(quelbo::ViewDataOrigin::GPU_MEMORY, "CudaImageView", std::move(parents)), m_shape(shape),
          m_type(type), m_sample(sampleBytesOf(type)),
          m_rowBytes(quelbo::checkedMultiply(size_t(shape.size() ? shape[0] : 0), m_sample, "GPU image size")),
          m_rows(rowCountOf(shape, "GPU image")), m_properties(std::move(properties)), m_metadata(std::move(metadata)),
          m_memory(m_rowBytes, m_rows, m_sample, pitched, zeroed)
    {
        quelbo::checkedMultiply(m_memory.pitch(), m_rows, "GPU image size");
    }

    ImageCapabilitySet capabilities() const override
    {
        return ImageCapabilitySet(ImageCapability::READ) | ImageCapability::WRITE;
    }
    VectorXu64 const& shape() override { return m_shape; }
    DataType dataType() override { return m_type; }
    std::shared_ptr<const ImageProperties> properties() override { return m_properties; }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_metadata; }

    void setProperties(std::shared_ptr<const ImageProperties> properties) override
    {
        if (!properties || !properties->isCompatibleWith(m_shape, m_type))
            throw quelbo::InvalidArgument("CudaImageView::setProperties: the properties are null or do not fit");
        m_properties = std::move(properties);
    }
    void setMetadata(std::shared_ptr<MetadataNode> metadata) override { m_metadata = std::move(metadata); }

    // The device memory and its size; dense bytes for an image made unpitched.
    DevicePtr memory() const { return m_memory.ptr(); }
    size_t byteCount() const { return m_memory.pitch() * m_rows; }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override { transfer(region, dst, true); }
    void store(RegionXu64 const& region, const uint8_t* src) override { transfer(region, src, false); }

private:
    // Moves a checked region between the device and a dense caller buffer in
    // the fewest driver copies.
    void transfer(RegionXu64 const& region, const void* buffer, bool toBuffer)
    {
        const size_t n = region.dimensionCount();
        // Byte strides on the device: samples, rows of the pitch, then each
        // axis the one before times its size.
        std::vector<uint64_t> stride(n);
        Driver::Plane device;
        device.device = m_memory.ptr();
        for (size_t d = 0; d < n; ++d) {
            stride[d] = d == 0 ? m_sample : d == 1 ? m_memory.pitch() : stride[d - 1] * m_shape[d - 1];
            device.device += region.origin()[d] * stride[d];
        }
        VectorXu64 const dense = quelbo::detail::denseStrides(region.size(), m_sample);
        Driver::Plane const caller = planeOf(buffer);
        if (toBuffer)
            copyBox(caller, device, region.size().data(), dense.data(), stride.data(), n, m_sample);
        else
            copyBox(device, caller, region.size().data(), stride.data(), dense.data(), n, m_sample);
    }

    VectorXu64 m_shape;
    DataType m_type;
    size_t m_sample;
    size_t m_rowBytes;
    size_t m_rows;
    std::shared_ptr<const ImageProperties> m_properties;
    std::shared_ptr<const MetadataNode> m_metadata;
    DeviceMemory m_memory;
};

// Any view, taking device buffers too: those go through host memory.
class CudaAdaptedView final : public CudaView, public quelbo::detail::Reaching
{
public:
    explicit CudaAdaptedView(std::shared_ptr<ImageView> source)
        : CudaView(source->viewOrigin()->dataOrigin(), "CudaAdaptedImageView", {source->viewOrigin()}),
          m_source(std::move(source))
    {
        passesTo("CudaAdaptedImageView", *m_source);
    }
    ~CudaAdaptedView() override { quelbo::util::release(m_source); }

    ImageCapabilitySet capabilities() const override
    {
        return m_source->capabilities() & (ImageCapabilitySet(ImageCapability::READ) | ImageCapability::WRITE);
    }
    VectorXu64 const& shape() override { return m_source->shape(); }
    DataType dataType() override { return m_source->dataType(); }
    std::shared_ptr<const ImageProperties> properties() override { return m_source->properties(); }
    std::shared_ptr<const MetadataNode> metadata() const override { return m_source->metadata(); }
    void setProperties(std::shared_ptr<const ImageProperties> p) override { m_source->setProperties(std::move(p)); }
    void setMetadata(std::shared_ptr<MetadataNode> m) override { m_source->setMetadata(std::move(m)); }

    // The source's refusal: a transfer this view lacks the capability for is
    // one its source lacks.
    std::string refusal(Transfer transfer) const override { return m_source->refusal(regionOf(transfer)); }

    // Host buffers reach the source's memory.
    void reachInto(quelbo::detail::Reach&, std::vector<ImageView*>& through) override
    {
        through.push_back(m_source.get());
    }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override
    {
        if (!Driver::get().isDevicePointer(dst))
            return m_source->readRegion(region, dst);
        stageThroughHost(*m_source, region, reinterpret_cast<DevicePtr>(dst), true);
    }
    void store(RegionXu64 const& region, const uint8_t* src) override
    {
        if (!Driver::get().isDevicePointer(src))
            return m_source->writeRegion(region, src);
        stageThroughHost(*m_source, region, reinterpret_cast<DevicePtr>(src), false);
    }

private:
    std::shared_ptr<ImageView> m_source;
};

std::shared_ptr<ImageView> allocateView(VectorXu64 const& shape, DataType type,
                                        std::shared_ptr<ImageProperties> properties,
                                        std::shared_ptr<MetadataNode> metadata, bool pitched)
{
    DataType::checkHeld(type);
    if (!properties)
        throw quelbo::Error("CudaImageFactory: the properties are null");
    if (!properties->isCompatibleWith(shape, type))
        throw quelbo::Error("CudaImageFactory: the properties do not fit the shape " + shape.toString() +
                            " and the data type " + type.toString());
    return std::make_shared<CudaImageView>(shape, type, std::move(properties), std::move(metadata), pitched);
}

} // namespace

std::shared_ptr<ImageView> CudaImageFactory::allocate(VectorXu64 const& shape, DataType dtype)
{
    return allocateView(shape, dtype, ImageProperties::fromDataType(dtype), nullptr, false);
}

std::shared_ptr<ImageView> CudaImageFactory::allocate(VectorXu64 const& shape, DataType dtype,
                                                      std::shared_ptr<ImageProperties> properties,
                                                      std::shared_ptr<MetadataNode> metadata)
{
    return allocateView(shape, dtype, std::move(properties), std::move(metadata), false);
}

std::shared_ptr<ImageView> CudaImageFactory::allocateCoalesced(VectorXu64 const& shape, DataType dtype)
{
    return allocateView(shape, dtype, ImageProperties::fromDataType(dtype), nullptr, true);
}

std::shared_ptr<ImageView> CudaImageFactory::allocateCoalesced(VectorXu64 const& shape, DataType dtype,
                                                               std::shared_ptr<ImageProperties> properties,
                                                               std::shared_ptr<MetadataNode> metadata)
{
    return allocateView(shape, dtype, std::move(properties), std::move(metadata), true);
}

std::shared_ptr<ImageView> CudaImageFactory::copyInCudaMemory(std::shared_ptr<ImageView> image)
{
    if (!image)
        throw quelbo::InvalidArgument("CudaImageFactory::copyInCudaMemory: the image is null");
    if (dynamic_cast<CudaImageView*>(image.get()))
        return image;
    Driver::get();
    if (!image->support(ImageCapabilitySet(ImageCapability::READ)))
        throw quelbo::Error("CudaImageFactory::copyInCudaMemory: the image cannot be read");
    VectorXu64 const shape = image->shape();
    DataType const type = image->dataType();
    rowCountOf(shape, "CudaImageFactory::copyInCudaMemory");
    std::shared_ptr<const ImageProperties> properties = image->properties();
    if (!properties || !properties->isCompatibleWith(shape, type))
        throw quelbo::InvalidArgument("CudaImageFactory::copyInCudaMemory: the image's properties are not valid");
    std::shared_ptr<const MetadataNode> metadata = image->metadata();
    auto copy = std::make_shared<CudaImageView>(
        shape, type, properties->clone(), metadata ? metadata->clone() : nullptr, false, false,
        std::vector<std::shared_ptr<quelbo::ViewOriginExtension>>{image->viewOrigin()});
    // Memory laid out as the copy's: one copy from it; else through the host stage.
    if (image->support(ImageCapabilitySet(ImageCapability::MEMORY_ACCESS)) &&
        image->indexer() == quelbo::Indexer(shape, type))
        Driver::get().toDevice(copy->memory(), image->bufferReadOnly(), copy->byteCount());
    else
        stageThroughHost(*image, RegionXu64::createFullRegion(shape), copy->memory(), true);
    return copy;
}

std::shared_ptr<ImageView> CudaImageFactory::adaptToCuda(std::shared_ptr<ImageView> image)
{
    if (!image)
        throw quelbo::InvalidArgument("CudaImageFactory::adaptToCuda: the image is null");
    if (dynamic_cast<CudaView*>(image.get()))
        return image;
    Driver::get();
    rowCountOf(image->shape(), "CudaImageFactory::adaptToCuda");
    std::shared_ptr<const ImageProperties> properties = image->properties();
    if (!properties || !properties->isCompatibleWith(image->shape(), image->dataType()))
        throw quelbo::InvalidArgument("CudaImageFactory::adaptToCuda: the image's properties are not valid");
    return std::make_shared<CudaAdaptedView>(std::move(image));
}

bool CudaExtensionProvider::isCudaImage(std::shared_ptr<ImageView> image)
{
    return dynamic_cast<CudaView*>(image.get()) != nullptr;
}

} // namespace quelbo_cuda
