// ImageView: the base of n-dimensional images and their transfers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/flags.h"
#include "quelbo/image_type.h"
#include "quelbo/indexer.h"
#include "quelbo/memory_block.h"
#include "quelbo/region.h"
#include "quelbo/vector.h"
#include "quelbo/view.h"

namespace quelbo {

class ImageProperties;
class MetadataNode;
class SpatialDirections;
enum class ImageInterpretation : int32_t;

// An n-dimensional image: samples read and written by index or by region,
// described by a shape, a sample data type, image properties and a metadata
// tree, optionally exposing its memory.
//
// Axes are in the canonical order COLUMN, ROW, SLICE, CHANNEL, SEQUENCE
// (those the image type holds). A region transfer moves the region's
// samples densely, in the default (FORTRAN) layout of an Indexer of the
// region's size: the first axis fastest.
//
// Implementations provide the pure operations; the others have base bodies
// that throw NotImplemented. Every transfer enters through read, readRegion,
// write, writeRegion or their checked forms, which refuse it once for all
// kinds (see below) and then call the kind's own load or store.
class QUELBO_API ImageView : public View
{
public:
    ~ImageView() override;

    // --- the interface, in declaration order --------------------------------
    // READ 1, WRITE 2, RESHAPE 4, MEMORY_ACCESS 8.
    virtual ImageCapabilitySet capabilities() const = 0;
    // Size of each dimension: columns, rows, then slices ...
    virtual VectorXu64 const& shape() = 0;
    virtual DataType dataType() = 0;
    // The view's own properties (shared, not a copy).
    virtual std::shared_ptr<const ImageProperties> properties() = 0;
    // The view's metadata root, possibly empty. Needs READ.
    virtual std::shared_ptr<const MetadataNode> metadata() const = 0;
    // One sample at index into dst. Needs READ.
    void read(VectorXu64 const& index, void* dst);
    // The samples of region into dst, densely. Needs READ.
    void readRegion(RegionXu64 const& region, void* dst);
    // Replace the properties / the metadata root. Need WRITE.
    virtual void setProperties(std::shared_ptr<const ImageProperties> properties);
    virtual void setMetadata(std::shared_ptr<MetadataNode> metadata);
    // One sample at index from src. Needs WRITE.
    void write(VectorXu64 const& index, const void* src);
    // The samples of region from src, densely. Needs WRITE.
    void writeRegion(RegionXu64 const& region, const void* src);
    // New shape and data type; all data invalidated. Needs RESHAPE.
    virtual void reshape(VectorXu64 const& shape, DataType dataType);
    // How buffer() is laid out; buffer() is the address of element 0.
    // Need MEMORY_ACCESS.
    virtual Indexer const& indexer();
    virtual void* buffer();
    virtual const void* bufferReadOnly() const;
    virtual size_t bufferSize();
    // The block that holds every byte the indexer reaches from buffer(),
    // and keeps it alive; empty without MEMORY_ACCESS.
    virtual std::shared_ptr<MemoryBlock> memoryBlock();

    // The view origin and a ParallelAccessExtension reporting
    // parallelCapabilities(), besides what a view adds.
    std::shared_ptr<Extension> extension(size_t id) override;
    // What concurrent callers may do: a view over memory allows reads and
    // writes side by side, other views nothing unless they say so.
    virtual ParallelAccessCapabilitySet parallelCapabilities();

    // --- shortcuts ----------------------------------------------------------
    bool support(ImageCapabilitySet flags) const { return capabilities().has(flags); }
    size_t dimensionCount() { return shape().size(); }
    // Bytes of one sample of the view's data type.
    size_t sampleByteCount() { return dataType().byteCount(); }

    // The values of the view's image properties.
    Vector3d spatialOrigin();
    Vector3d spatialSpacing();
    SpatialDirections const& spatialDirections();
    std::string spatialUnit();
    ImageType axesInterpretation();
    ImageInterpretation imageInterpretation();
    size_t bitDepth();
    bool hasAlpha();
    Vector2d valueRange();
    // Each sets one value into a copy of the properties, then setProperties.
    void setSpatialOrigin(Vector3d const& origin);
    void setSpatialSpacing(Vector3d const& spacing);
    void setSpatialUnit(std::string const& unit);
    void setSpatialDirections(SpatialDirections const& directions);
    void setAxesInterpretation(ImageType axes);
    void setImageInterpretation(ImageInterpretation interpretation);
    void setBitDepth(size_t bitDepth);
    void setAlpha(bool alpha);
    void setValueRange(Vector2d const& range);

    // The extensions of those kinds, empty when the view offers none.
    std::shared_ptr<TilingInfoExtension> tilingInfo();
    std::shared_ptr<ParallelAccessExtension> parallelAccess();

    std::string toString() const;

    // --- checked transfers ----------------------------------------------------
    // Every transfer is checked once, in this order, before anything moves:
    // InvalidArgument unless the index or region lies in the view (same
    // dimension count) and, for callers that give the buffer's length, the
    // buffer holds the transfer; NotImplemented, in the kind's wording
    // (refusal), unless the view has READ (WRITE).
    void readChecked(VectorXu64 const& index, void* dst, size_t dstSize);
    void writeChecked(VectorXu64 const& index, const void* src, size_t srcSize);
    void readRegionChecked(RegionXu64 const& region, void* dst, size_t dstSize);
    void writeRegionChecked(RegionXu64 const& region, const void* src, size_t srcSize);

    // InvalidArgument unless region (index) lies in the view, with its dimension count.
    void checkRegion(RegionXu64 const& region);
    void checkIndex(VectorXu64 const& index);
    // The bytes of a region's samples, overflow-checked.
    size_t regionByteCount(RegionXu64 const& region);

    // The transfer entries, as refusals name them.
    enum class Transfer { READ, READ_REGION, WRITE, WRITE_REGION };
    // The text with which the view refuses a transfer for want of READ
    // (WRITE). The base's names the region entry: "ImageView: writeRegion is
    // not supported by this view"; kinds with a wording of their own say it.
    virtual std::string refusal(Transfer transfer) const;
    // "read", "readRegion", "write", "writeRegion"; the region entry of the
    // same direction.
    static char const* nameOf(Transfer transfer);
    static Transfer regionOf(Transfer transfer);

protected:
    ImageView();
    ImageView(ViewDataOrigin origin, std::string displayName,
              std::vector<std::shared_ptr<ViewOriginExtension>> parents = {});

    // The kind's transfers, called only by the entries, once the transfer
    // passed their checks: the view has the capability, the region (index)
    // lies in it and the buffer holds the samples densely; an empty region
    // moves nothing and reaches no kind. A kind without WRITE needs no store.
    virtual void load(RegionXu64 const& region, uint8_t* dst) = 0;
    virtual void store(RegionXu64 const& region, const uint8_t* src);
    // One sample; by default a region of one sample.
    virtual void loadSample(VectorXu64 const& index, uint8_t* dst);
    virtual void storeSample(VectorXu64 const& index, const uint8_t* src);

private:
    // The checks of every transfer, in the order above; length is the
    // caller's buffer length, when it gave one. A region admitted has
    // samples to move unless it is empty (false).
    void admit(Transfer transfer, VectorXu64 const& index, size_t const* length);
    bool admit(Transfer transfer, RegionXu64 const& region, size_t const* length);
    void require(Transfer transfer);

    // Replaces the properties through a modified copy.
    template <class F>
    void updateProperties(F&& change);
};

} // namespace quelbo
