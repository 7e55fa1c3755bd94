#pragma once
#include <memory>
#include <string>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/image_view.h"
#include "quelbo/indexer.h"
#include "quelbo/vector.h"

namespace quelbo {

class ImageProperties;
class MetadataNode;
class RandomAccess;

// Image views whose samples lie raw in a store rather than in memory the
// view allocates. They read and write through the store at each call, so
// other users of the store see their writes at once, and a store that
// shrinks below the image makes reads past its end fail (never stale
// bytes). They are tiled: their TilingInfoExtension covers the image with
// tiles exactly once.
class QUELBO_API StoredViews
{
public:
    // A view over a store in the FORTRAN layout: READ and WRITE. InvalidArgument
    // for an empty store, Error when it cannot hold the image or when the
    // properties do not fit (default properties when empty).
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                       VectorXu64 const& shape,
                                                       DataType dataType);
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                       VectorXu64 const& shape,
                                                       DataType dataType,
                                                       std::shared_ptr<ImageProperties> properties,
                                                       std::shared_ptr<const MetadataNode> metadata);
    // The same in a given layout (UNKNOWN is FORTRAN; a value outside 0 to 2
    // is InvalidArgument); a store too small is InvalidArgument.
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                       MemoryLayout layout,
                                                       VectorXu64 const& shape,
                                                       DataType dataType);
    static std::shared_ptr<ImageView> fromRandomAccess(std::shared_ptr<RandomAccess> accessor,
                                                       MemoryLayout layout,
                                                       VectorXu64 const& shape,
                                                       DataType dataType,
                                                       std::shared_ptr<ImageProperties> properties,
                                                       std::shared_ptr<const MetadataNode> metadata);

    // A view whose samples lie raw in a new temporary file, created
    // exclusively and readable by its owner only, in dirPath (else the
    // usual temporary folder), removed when the view dies: READ, WRITE,
    // RESHAPE. InvalidArgument when dirPath is not a folder, Error when the
    // file cannot be made or the properties do not fit.
    static std::shared_ptr<ImageView> createOnDisk(VectorXu64 const& shape, DataType dataType);
    static std::shared_ptr<ImageView> createOnDisk(std::string const& dirPath, VectorXu64 const& shape, DataType dataType);
    static std::shared_ptr<ImageView> createOnDisk(VectorXu64 const& shape,
                                                   DataType dataType,
                                                   std::shared_ptr<ImageProperties> properties,
                                                   std::shared_ptr<MetadataNode> metadata);
    static std::shared_ptr<ImageView> createOnDisk(std::string const& dirPath,
                                                   VectorXu64 const& shape,
                                                   DataType dataType,
                                                   std::shared_ptr<ImageProperties> properties,
                                                   std::shared_ptr<MetadataNode> metadata);

    // A copy of an image in such a file, made by chunks of at most 1 MiB; the
    // file is removed when a chunk fails. InvalidArgument for an empty image or
    // properties that do not fit it.
    static std::shared_ptr<ImageView> copyOnDisk(std::shared_ptr<ImageView> image);
    static std::shared_ptr<ImageView> copyOnDisk(std::shared_ptr<ImageView> image, std::string const& dirPath);

    // The largest chunk copyOnDisk moves at once.
    static constexpr size_t COPY_CHUNK_BYTES = size_t(1) << 20;
};

} // namespace quelbo
