#pragma once
#include <cstddef>
#include <memory>

#include "quelbo/buffer_keeper.h"
#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/image_view.h"
#include "quelbo/vector.h"

namespace quelbo {

class ImageProperties;
class MetadataNode;

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
    static std::shared_ptr<ImageView> allocate(VectorXu64 const& shape,
                                               DataType dataType,
                                               std::shared_ptr<ImageProperties> properties,
                                               std::shared_ptr<MetadataNode> metadata);

    // Every element has the value of one element read at value: READ only.
    static std::shared_ptr<ImageView> uniform(VectorXu64 const& shape,
                                              DataType dataType,
                                              void* value,
                                              std::shared_ptr<ImageProperties> properties,
                                              std::shared_ptr<const MetadataNode> metadata);
    // The same, InvalidArgument unless valueSize holds one element.
    static std::shared_ptr<ImageView> uniform(VectorXu64 const& shape,
                                              DataType dataType,
                                              const void* value,
                                              size_t valueSize,
                                              std::shared_ptr<ImageProperties> properties,
                                              std::shared_ptr<const MetadataNode> metadata);

    // A view over caller memory in the default layout, nothing copied: READ,
    // WRITE, MEMORY_ACCESS. InvalidArgument unless bufferSize holds the
    // elements. The caller keeps the memory valid while the view lives.
    static std::shared_ptr<ImageView> fromBuffer(VectorXu64 const& shape,
                                                 DataType dataType,
                                                 void* buffer,
                                                 size_t bufferSize,
                                                 std::shared_ptr<ImageProperties> properties,
                                                 std::shared_ptr<MetadataNode> metadata);
    // The same over lent memory; the view (and every block handed out from
    // it) holds the memory's keeper.
    static std::shared_ptr<ImageView> fromBuffer(VectorXu64 const& shape,
                                                 DataType dataType,
                                                 BorrowedMemory memory,
                                                 std::shared_ptr<ImageProperties> properties,
                                                 std::shared_ptr<MetadataNode> metadata);

    // The image itself when it offers MEMORY_ACCESS; otherwise a new memory
    // view holding a copy of its samples, properties and metadata.
    // InvalidArgument for an empty image or invalid properties, Error
    // without READ.
    static std::shared_ptr<ImageView> copyInMemory(std::shared_ptr<ImageView> image);
};

} // namespace quelbo
