// GPU image views: samples in device memory (dense, or with rows padded to
// the driver's pitch), moved only by driver copies; and adapted views, which
// give any view's reads and writes device buffers through host staging.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "quelbo/box_runs.h"
#include "quelbo/error.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/metadata.h"
#include "quelbo_cuda/cuda_image_factory.h"
#include "quelbo_cuda/driver.h"
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
// stage of at most kStageBytes: the library's chunk walk, each chunk the run
// of the dense buffer from its offset on, as many samples as the stage holds.
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

// A caller's buffer, in host or device memory (the driver tells).
Driver::Plane planeOf(const void* p, size_t pitch)
{
    Driver::Plane plane;
    if (Driver::get().isDevicePointer(p))
        plane.device = reinterpret_cast<DevicePtr>(p);
    else
        plane.host = const_cast<void*>(p);
    plane.pitch = pitch;
    return plane;
}

// One copy of `rows` rows of `width` bytes between two planes; rows that
// follow each other on both sides go as one linear copy.
void copyRows(Driver::Plane const& dst, Driver::Plane const& src, size_t width, size_t rows)
{
    Driver& d = Driver::get();
    if (rows == 1 || (dst.pitch == width && src.pitch == width)) {
        size_t bytes = width * rows;
        if (dst.device && src.device)
            d.deviceToDevice(dst.device, src.device, bytes);
        else if (dst.device)
            d.toDevice(dst.device, src.host, bytes);
        else if (src.device)
            d.toHost(dst.host, src.device, bytes);
        else
            std::copy_n(static_cast<const uint8_t*>(src.host), bytes, static_cast<uint8_t*>(dst.host));
        return;
    }
    d.copy(dst, src, width, rows);
}

Driver::Plane advanced(Driver::Plane p, size_t bytes)
{
    if (p.device)
        p.device += bytes;
    else
        p.host = static_cast<uint8_t*>(p.host) + bytes;
    return p;
}

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

    // Rows [first, first + count) of the image from / to a dense host buffer.
    void fillRows(size_t first, size_t count, const void* src)
    {
        Driver::Plane host = planeOf(src, m_rowBytes);
        copyRows(device(first * m_memory.pitch()), host, m_rowBytes, count);
    }

    size_t rowBytes() const { return m_rowBytes; }
    size_t rowCount() const { return m_rows; }

protected:
    void load(RegionXu64 const& region, uint8_t* dst) override { transfer(region, dst, true); }
    void store(RegionXu64 const& region, const uint8_t* src) override { transfer(region, src, false); }

private:
    Driver::Plane device(size_t offset) const
    {
        Driver::Plane p;
        p.device = m_memory.ptr() + offset;
        p.pitch = m_memory.pitch();
        return p;
    }

    // Moves a checked region between the device and a dense caller buffer:
    // one rectangle of the first two axes per position of the others.
    void transfer(RegionXu64 const& region, const void* buffer, bool toBuffer)
    {
        const size_t n = region.dimensionCount();
        if (region.elementCount() == 0)
            return;
        const size_t width = size_t(region.size()[0]) * m_sample;
        const size_t rows = n > 1 ? size_t(region.size()[1]) : 1;
        Driver::Plane caller = planeOf(buffer, width);
        // Byte strides of the device axes from the second one on.
        std::vector<size_t> stride(n, 0);
        if (n > 1)
            stride[1] = m_memory.pitch();
        for (size_t d = 2; d < n; ++d)
            stride[d] = stride[d - 1] * size_t(m_shape[d - 1]);
        size_t planes = 1;
        for (size_t d = 2; d < n; ++d)
            planes *= size_t(region.size()[d]);
        // The whole of a dense image: one copy.
        if (planes > 1 && m_memory.pitch() == m_rowBytes && region.elementCount() == size_t(m_shape[0]) * m_rows) {
            copyOne(caller, device(0), m_rowBytes, m_rows, toBuffer);
            return;
        }
        // One rectangle per element of the box of the axes from the third on,
        // dense in the caller's buffer.
        size_t const first = size_t(region.origin()[0]) * m_sample;
        std::vector<uint64_t> size, devStride, callerStride;
        size_t start = first;
        uint64_t callerStep = width * rows;
        for (size_t d = 1; d < n; ++d) {
            start += size_t(region.origin()[d]) * stride[d];
            if (d < 2)
                continue;
            size.push_back(region.size()[d]);
            devStride.push_back(stride[d]);
            callerStride.push_back(callerStep);
            callerStep *= region.size()[d];
        }
        if (size.empty()) {
            copyOne(caller, device(start), width, rows, toBuffer);
            return;
        }
        quelbo::BoxRuns const runs(size.data(), devStride.data(), callerStride.data(), size.size(), 1);
        quelbo::BoxRuns::Axis const& run = runs.run();
        runs.forEach([&](int64_t dev, int64_t at, size_t) {
            for (uint64_t i = 0; i < run.size; ++i)
                copyOne(advanced(caller, size_t(at + int64_t(i) * run.stride[1])),
                        device(start + size_t(dev + int64_t(i) * run.stride[0])), width, rows, toBuffer);
        });
    }

    static void copyOne(Driver::Plane const& caller, Driver::Plane const& dev, size_t width, size_t rows, bool toCaller)
    {
        if (toCaller)
            copyRows(caller, dev, width, rows);
        else
            copyRows(dev, caller, width, rows);
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
    // Memory laid out as the copy's: one copy from it.
    if (image->support(ImageCapabilitySet(ImageCapability::MEMORY_ACCESS)) &&
        image->indexer() == quelbo::Indexer(shape, type)) {
        copy->fillRows(0, copy->rowCount(), image->bufferReadOnly());
        return copy;
    }
    // Otherwise through host memory, a band along the last axis at a time:
    // the library's chunk walk, with chunks of whole slabs (a band of whole
    // rows is one device copy) as many as the stage holds.
    const size_t last = shape.size() - 1;
    const size_t rowsPerStep = last == 0 ? 0 : copy->rowCount() / size_t(shape[last]);
    const size_t stepBytes = last == 0 ? image->sampleByteCount() : copy->rowBytes() * rowsPerStep;
    const size_t perStage = std::min<size_t>(std::max<size_t>(1, kStageBytes / stepBytes), size_t(shape[last]));
    auto const stage = stageOf(quelbo::checkedMultiply(stepBytes, perStage, "GPU staging size"));
    const RegionXu64 whole(VectorXu64(shape.size()), shape);
    const uint64_t slabSamples = whole.elementCount() / shape[last];
    quelbo::detail::forEachChunk(whole, perStage * slabSamples, [&](RegionXu64 const& band, uint64_t) {
        image->readRegion(band, stage.get());
        if (last == 0)
            copy->writeRegion(band, stage.get());
        else
            copy->fillRows(size_t(band.origin()[last]) * rowsPerStep, size_t(band.size()[last]) * rowsPerStep,
                           stage.get());
    });
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
