// The ImageView base: its defaults, and the checks of every read and write.
#include "quelbo/image_view.h"

#include <string>
#include <utility>

#include "quelbo/error.h"
#include "storage/access_detail.h"
#include "views/view_parts.h"

namespace quelbo {

namespace {

using detail::notSupported;

[[noreturn]] void shortBuffer(size_t have, size_t need)
{
    throw InvalidArgument("ImageView: the buffer of " + std::to_string(have) + " bytes cannot hold the " +
                          std::to_string(need) + " bytes of the transfer");
}

} // namespace

ImageView::ImageView() : View(ViewDataOrigin::UNKNOWN, "ImageView") {}

ImageView::ImageView(ViewDataOrigin origin, std::string displayName,
                     std::vector<std::shared_ptr<ViewOriginExtension>> parents)
    : View(origin, std::move(displayName), std::move(parents))
{}

ImageView::~ImageView() = default;

void ImageView::setProperties(std::shared_ptr<const ImageProperties>)
{
    notSupported("setProperties");
}

void ImageView::setMetadata(std::shared_ptr<MetadataNode>)
{
    notSupported("setMetadata");
}

void ImageView::reshape(VectorXu64 const&, DataType)
{
    notSupported("reshape");
}

Indexer const& ImageView::indexer()
{
    notSupported("indexer");
}

void* ImageView::buffer()
{
    notSupported("buffer");
}

const void* ImageView::bufferReadOnly() const
{
    notSupported("bufferReadOnly");
}

size_t ImageView::bufferSize()
{
    notSupported("bufferSize");
}

std::shared_ptr<MemoryBlock> ImageView::memoryBlock()
{
    return nullptr;
}

std::shared_ptr<TilingInfoExtension> ImageView::tilingInfo()
{
    return TilingInfoExtension::cast(extension(TilingInfoExtension::EXTENSION_ID));
}

std::shared_ptr<ParallelAccessExtension> ImageView::parallelAccess()
{
    return ParallelAccessExtension::cast(extension(ParallelAccessExtension::EXTENSION_ID));
}

std::string ImageView::toString() const
{
    auto* self = const_cast<ImageView*>(this);
    static const char* const names[] = {"READ", "WRITE", "RESHAPE", "MEMORY_ACCESS"};
    std::string caps;
    const uint64_t bits = capabilities().value();
    for (size_t i = 0; i < 4; ++i) {
        if (bits & (uint64_t(1) << i))
            caps += (caps.empty() ? "" : " | ") + std::string(names[i]);
    }
    return "ImageView(shape: " + self->shape().toString() + ", type: " + self->dataType().toString() +
           ", capabilities: " + (caps.empty() ? "none" : caps) + ")";
}

void ImageView::checkRegion(RegionXu64 const& region)
{
    VectorXu64 const& extent = shape();
    bool inside = region.dimensionCount() == extent.size();
    for (size_t d = 0; inside && d < extent.size(); ++d) {
        const uint64_t size = region.size().data()[d];
        inside = size <= extent.data()[d] && region.origin().data()[d] <= extent.data()[d] - size;
    }
    if (!inside)
        throw InvalidArgument("ImageView: the region " + region.toString() + " is not inside the image of shape " +
                              extent.toString());
}

size_t ImageView::regionByteCount(RegionXu64 const& region)
{
    return checkedMultiply(region.elementCount(), sampleByteCount(), "ImageView region byte count");
}

// InvalidArgument unless the index lies in the view, with its dimension count.
void ImageView::checkIndex(VectorXu64 const& index)
{
    VectorXu64 const& extent = shape();
    bool inside = index.size() == extent.size();
    for (size_t d = 0; inside && d < extent.size(); ++d)
        inside = index.data()[d] < extent.data()[d];
    if (!inside)
        throw InvalidArgument("ImageView: the index " + index.toString() + " is not inside the image of shape " +
                              extent.toString());
}

// ------------------------------------------------------------ transfers

char const* ImageView::nameOf(Transfer transfer)
{
    static char const* const names[] = {"read", "readRegion", "write", "writeRegion"};
    return names[int(transfer)];
}

ImageView::Transfer ImageView::regionOf(Transfer transfer)
{
    return transfer == Transfer::READ || transfer == Transfer::READ_REGION ? Transfer::READ_REGION
                                                                           : Transfer::WRITE_REGION;
}

std::string ImageView::refusal(Transfer transfer) const
{
    return detail::notSupportedText(nameOf(regionOf(transfer)));
}

void ImageView::require(Transfer transfer)
{
    ImageCapability const need =
        regionOf(transfer) == Transfer::READ_REGION ? ImageCapability::READ : ImageCapability::WRITE;
    if (!capabilities().has(need))
        throw NotImplemented(refusal(transfer));
}

void ImageView::admit(Transfer transfer, VectorXu64 const& index, size_t const* length)
{
    checkIndex(index);
    if (length) {
        size_t const need = sampleByteCount();
        if (*length < need)
            shortBuffer(*length, need);
    }
    require(transfer);
}

bool ImageView::admit(Transfer transfer, RegionXu64 const& region, size_t const* length)
{
    checkRegion(region);
    if (length) {
        size_t const need = regionByteCount(region);
        if (*length < need)
            shortBuffer(*length, need);
    }
    require(transfer);
    return !region.isEmpty();
}

void ImageView::store(RegionXu64 const&, const uint8_t*)
{
    notSupported("writeRegion");
}

void ImageView::loadSample(VectorXu64 const& index, uint8_t* dst)
{
    load(RegionXu64::fromIndex(index), dst);
}

void ImageView::storeSample(VectorXu64 const& index, const uint8_t* src)
{
    store(RegionXu64::fromIndex(index), src);
}

void ImageView::read(VectorXu64 const& index, void* dst)
{
    admit(Transfer::READ, index, nullptr);
    loadSample(index, static_cast<uint8_t*>(dst));
}

void ImageView::readRegion(RegionXu64 const& region, void* dst)
{
    detail::GuardedCall const call; // the region's copies from file mappings
    if (admit(Transfer::READ_REGION, region, nullptr))
        load(region, static_cast<uint8_t*>(dst));
}

void ImageView::write(VectorXu64 const& index, const void* src)
{
    admit(Transfer::WRITE, index, nullptr);
    storeSample(index, static_cast<const uint8_t*>(src));
}

void ImageView::writeRegion(RegionXu64 const& region, const void* src)
{
    detail::GuardedCall const call; // the region's copies from file mappings
    if (admit(Transfer::WRITE_REGION, region, nullptr))
        store(region, static_cast<const uint8_t*>(src));
}

void ImageView::readChecked(VectorXu64 const& index, void* dst, size_t dstSize)
{
    admit(Transfer::READ, index, &dstSize);
    loadSample(index, static_cast<uint8_t*>(dst));
}

void ImageView::writeChecked(VectorXu64 const& index, const void* src, size_t srcSize)
{
    admit(Transfer::WRITE, index, &srcSize);
    storeSample(index, static_cast<const uint8_t*>(src));
}

void ImageView::readRegionChecked(RegionXu64 const& region, void* dst, size_t dstSize)
{
    detail::GuardedCall const call; // the region's copies from file mappings
    if (admit(Transfer::READ_REGION, region, &dstSize))
        load(region, static_cast<uint8_t*>(dst));
}

void ImageView::writeRegionChecked(RegionXu64 const& region, const void* src, size_t srcSize)
{
    detail::GuardedCall const call; // the region's copies from file mappings
    if (admit(Transfer::WRITE_REGION, region, &srcSize))
        store(region, static_cast<const uint8_t*>(src));
}

} // namespace quelbo
