// The factory of image views: in memory, over caller memory, stores and files.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "quelbo/buffer_keeper.h"
#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/image_type.h"
#include "quelbo/image_view.h"
#include "quelbo/indexer.h"
#include "quelbo/region.h"
#include "quelbo/vector.h"

namespace quelbo {

class ImageProperties;
class MetadataNode;
class MultiImageView;
class RandomAccess;
enum class ImageInterpretation : int32_t;

// Creates image views. A view made without properties gets those of its data
// type (ImageProperties::fromDataType) with the axes IMAGE for 2 dimensions,
// VOLUME for 3, UNKNOWN otherwise. Given properties are shared, not copied,
// and must be compatible with the shape and type (Error otherwise). Data
// types of no bits or no components are refused (InvalidArgument), and
// sizes are overflow-checked.
class QUELBO_API ImageViewFactory
{
public:
    // New zeroed memory in the default (FORTRAN) layout: READ, WRITE,
    // RESHAPE, MEMORY_ACCESS.
    static std::shared_ptr<ImageView> allocate(VectorXu64 const& shape, DataType dataType);
    static std::shared_ptr<ImageView> allocate(VectorXu64 const& shape, DataType dataType,
                                               std::shared_ptr<ImageProperties> properties,
                                               std::shared_ptr<MetadataNode> metadata);

    // Every element has the value of one element read at value: READ only.
    static std::shared_ptr<ImageView> uniform(VectorXu64 const& shape, DataType dataType, void* value,
                                              std::shared_ptr<ImageProperties> properties,
                                              std::shared_ptr<const MetadataNode> metadata);
    // The same, InvalidArgument unless valueSize holds one element.
    static std::shared_ptr<ImageView> uniform(VectorXu64 const& shape, DataType dataType, const void* value,
                                              size_t valueSize, std::shared_ptr<ImageProperties> properties,
                                              std::shared_ptr<const MetadataNode> metadata);

    // A view over caller memory in the default layout, nothing copied: READ,
    // WRITE, MEMORY_ACCESS. InvalidArgument unless bufferSize holds the
    // elements. The caller keeps the memory valid while the view lives.
    static std::shared_ptr<ImageView> fromBuffer(VectorXu64 const& shape, DataType dataType, void* buffer,
                                                 size_t bufferSize, std::shared_ptr<ImageProperties> properties,
                                                 std::shared_ptr<MetadataNode> metadata);
    // The same over lent memory; the view (and every block handed out from
    // it) holds the memory's keeper.
    static std::shared_ptr<ImageView> fromBuffer(VectorXu64 const& shape, DataType dataType, BorrowedMemory memory,
                                                 std::shared_ptr<ImageProperties> properties,
                                                 std::shared_ptr<MetadataNode> metadata);

    // The image itself when it offers MEMORY_ACCESS; otherwise a new memory
    // view holding a copy of its samples, properties and metadata.
    // InvalidArgument for an empty image or invalid properties, Error
    // without READ.
    static std::shared_ptr<ImageView> copyInMemory(std::shared_ptr<ImageView> image);

    // --- views derived from other views --------------------------------------
    // No image memory: each keeps its sources alive and reads (and, where its
    // capabilities say so, writes) through them at each call. Every
    // derivation names its sources as the parents of its view origin. An
    // empty source is InvalidArgument.
    // Every operation of the result runs under one lock; the capabilities are
    // the source's, the parallel access adds THREAD_SAFE.
    static std::shared_ptr<ImageView> makeThreadSafe(std::shared_ptr<ImageView> image);

    // The samples in reverse order along one dimension: READ only. Error
    // without READ; InvalidArgument for an index not below the dimension
    // count, or an image type that lacks the dimension.
    static std::shared_ptr<ImageView> flip(std::shared_ptr<ImageView> image, size_t dimensionIndex);
    static std::shared_ptr<ImageView> flip(std::shared_ptr<ImageView> image, ImageDimension dimension);

    // Every step-th sample along each dimension but CHANNEL (sizes rounded
    // up): READ only. InvalidArgument for a step of 0 or larger than such a
    // dimension.
    static std::shared_ptr<ImageView> subSample(std::shared_ptr<ImageView> image, size_t step);

    // The dimensions named by the list (one per dimension of the image, in
    // its order) put in canonical order. Error when the count differs,
    // InvalidArgument for an unknown or repeated dimension.
    static std::shared_ptr<ImageView> reinterpretAxes(std::shared_ptr<ImageView> image,
                                                      ImageDimension const* dimensions, size_t count);
    // The same samples with another image type (UNKNOWN fits any view);
    // Error when the type's dimension count differs.
    static std::shared_ptr<ImageView> reinterpret(std::shared_ptr<ImageView> image, ImageType newImageType);

    // Vector samples as scalars along a new CHANNEL dimension: READ only.
    static std::shared_ptr<ImageView> disassembleChannels(std::shared_ptr<ImageView> image);
    // The CHANNEL dimension (else the last) packed into vector samples: READ only.
    static std::shared_ptr<ImageView> assembleChannels(std::shared_ptr<ImageView> image);

    // A box of the image; the adjusted form drops the dimensions of size 1.
    static std::shared_ptr<ImageView> extractAdjustedRegion(std::shared_ptr<ImageView> view, RegionXu64 const& region);
    static std::shared_ptr<ImageView> extractRegion(std::shared_ptr<ImageView> view, RegionXu64 const& region);
    // One component of vector samples.
    static std::shared_ptr<ImageView> extractChannel(std::shared_ptr<ImageView> view, size_t idxChannel);

    // Samples mapped linearly from the source's value range onto the
    // standard range of type; values stored into an integer type saturate,
    // NaN gives 0.
    static std::shared_ptr<ImageView> adaptDataType(std::shared_ptr<ImageView> view, DataType type);
    // inputRange mapped linearly onto outputRange (no clamping but the
    // saturation of integer types).
    static std::shared_ptr<ImageView> adaptDynamicRange(std::shared_ptr<ImageView> view, DataType type,
                                                        Vector2d const& inputRange, Vector2d const& outputRange);

    // The same view with other properties (a clone of the source's when
    // empty) and metadata. Error when the properties do not fit.
    static std::shared_ptr<ImageView> fromImageView(std::shared_ptr<ImageView> view,
                                                    std::shared_ptr<const ImageProperties> properties,
                                                    std::shared_ptr<const MetadataNode> metadata);

    // The frames as the components of one vector sample. InvalidArgument
    // for frames of different shape or type, with CHANNEL, or not scalar.
    static std::shared_ptr<ImageView> interlace(std::shared_ptr<MultiImageView> multiView);
    static std::shared_ptr<ImageView> interlace(std::shared_ptr<MultiImageView> multiView,
                                                ImageInterpretation newInterpretation, bool hasAlpha);

    // The frames along a new dimension (last, image type UNKNOWN, when none
    // is given). threadCount 0 uses the machine's cores, 1 no thread; counts
    // are capped to the machine, and frames are moved side by side only when
    // every frame allows parallel reads (writes). InvalidArgument for frames of different
    // shape or type, or no frame.
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multiView);
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multiView, ImageDimension newDimension);
    static std::shared_ptr<ImageView> stack(std::shared_ptr<MultiImageView> multiView, ImageDimension newDimension,
                                            size_t threadCount);

    // --- views over stores and in temporary files -------------------------------
    // The samples lie raw in a store rather than in memory the view
    // allocates. They read and write through the store at each call, so
    // other users of the store see their writes at once, and a store that
    // shrinks below the image makes reads past its end fail (never stale
    // bytes). They are tiled: their TilingInfoExtension covers the image with
    // tiles exactly once.
    // A view over a store in the FORTRAN layout: READ and WRITE. InvalidArgument
    // for an empty store, Error when it cannot hold the image or when the
    // properties do not fit (default properties when empty).
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor, VectorXu64 const& shape,
                                                       DataType dataType);
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor, VectorXu64 const& shape,
                                                       DataType dataType, std::shared_ptr<ImageProperties> properties,
                                                       std::shared_ptr<const MetadataNode> metadata);
    // The same in a given layout (UNKNOWN is FORTRAN; a value outside 0 to 2
    // is InvalidArgument); a store too small is InvalidArgument.
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor, MemoryLayout layout,
                                                       VectorXu64 const& shape, DataType dataType);
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor, MemoryLayout layout,
                                                       VectorXu64 const& shape, DataType dataType,
                                                       std::shared_ptr<ImageProperties> properties,
                                                       std::shared_ptr<const MetadataNode> metadata);

    // A view whose samples lie raw in a new temporary file, created
    // exclusively and readable by its owner only, in dirPath (else the
    // usual temporary folder), removed when the view dies: READ, WRITE,
    // RESHAPE. InvalidArgument when dirPath is not a folder, Error when the
    // file cannot be made or the properties do not fit.
    static std::shared_ptr<ImageView> createOnDisk(VectorXu64 const& shape, DataType dataType);
    static std::shared_ptr<ImageView> createOnDisk(std::string const& dirPath, VectorXu64 const& shape,
                                                   DataType dataType);
    static std::shared_ptr<ImageView> createOnDisk(VectorXu64 const& shape, DataType dataType,
                                                   std::shared_ptr<ImageProperties> properties,
                                                   std::shared_ptr<MetadataNode> metadata);
    static std::shared_ptr<ImageView> createOnDisk(std::string const& dirPath, VectorXu64 const& shape,
                                                   DataType dataType, std::shared_ptr<ImageProperties> properties,
                                                   std::shared_ptr<MetadataNode> metadata);

    // A copy of an image in such a file, made by chunks of at most 1 MiB; the
    // file is removed when a chunk fails. InvalidArgument for an empty image or
    // properties that do not fit it.
    static std::shared_ptr<ImageView> copyOnDisk(std::shared_ptr<ImageView> image);
    static std::shared_ptr<ImageView> copyOnDisk(std::shared_ptr<ImageView> image, std::string const& dirPath);
};

} // namespace quelbo
