#pragma once
#include <memory>

#include "quelbo/data_type.h"
#include "quelbo/export.h"
#include "quelbo/vector.h"

namespace quelbo {
class ImageView;
class ImageProperties;
class MetadataNode;
} // namespace quelbo

namespace quelbo_cuda {

// Image views whose samples live in GPU memory. Their capabilities are READ
// and WRITE, never MEMORY_ACCESS: no device address is handed out for CPU
// access. Data moves by driver copies; device memory is freed with the
// view's last owner. Every function throws quelbo::Error when the driver
// cannot be used (no driver library, no device, a failed start).
class QUELBO_API CudaImageFactory
{
public:
    // An image of the given shape and data type in device memory.
    static std::shared_ptr<quelbo::ImageView> allocate(quelbo::VectorXu64 const& shape, quelbo::DataType dtype);
    // The same with properties (required) and metadata (optional).
    static std::shared_ptr<quelbo::ImageView> allocate(quelbo::VectorXu64 const& shape, quelbo::DataType dtype,
                                                       std::shared_ptr<quelbo::ImageProperties> properties,
                                                       std::shared_ptr<quelbo::MetadataNode> metadata);

    // As allocate, with every row padded to the driver's pitch.
    static std::shared_ptr<quelbo::ImageView> allocateCoalesced(quelbo::VectorXu64 const& shape,
                                                                quelbo::DataType dtype);
    static std::shared_ptr<quelbo::ImageView> allocateCoalesced(quelbo::VectorXu64 const& shape, quelbo::DataType dtype,
                                                                std::shared_ptr<quelbo::ImageProperties> properties,
                                                                std::shared_ptr<quelbo::MetadataNode> metadata);

    // A copy of the image in device memory; the image itself when its
    // samples already lie there.
    static std::shared_ptr<quelbo::ImageView> copyInCudaMemory(std::shared_ptr<quelbo::ImageView> image);

    // The image, accepting device buffers as well as host buffers in its
    // reads and writes (staged through host memory); a GPU image itself.
    static std::shared_ptr<quelbo::ImageView> adaptToCuda(std::shared_ptr<quelbo::ImageView> image);
};

class QUELBO_API CudaExtensionProvider
{
public:
    // True exactly for the views this library made (GPU and adapted views).
    static bool isCudaImage(std::shared_ptr<quelbo::ImageView> image);
};

} // namespace quelbo_cuda
