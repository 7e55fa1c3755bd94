// GPU image views. The view classes come with the library's image views.
#include "quelbo_cuda/cuda_image_factory.h"

#include "quelbo/error.h"
#include "quelbo_cuda/driver.h"

namespace quelbo_cuda {

namespace {

[[noreturn]] void unavailable()
{
    Driver::get(); // no driver: that is the error to report
    throw quelbo::NotImplemented("GPU image views are not available in this build");
}

} // namespace

std::shared_ptr<quelbo::ImageView> CudaImageFactory::allocate(quelbo::VectorXu64 const&, quelbo::DataType)
{
    unavailable();
}

std::shared_ptr<quelbo::ImageView> CudaImageFactory::allocate(quelbo::VectorXu64 const&, quelbo::DataType,
                                                              std::shared_ptr<quelbo::ImageProperties> properties,
                                                              std::shared_ptr<quelbo::MetadataNode>)
{
    if (!properties)
        throw quelbo::Error("CudaImageFactory::allocate: properties are null");
    unavailable();
}

std::shared_ptr<quelbo::ImageView> CudaImageFactory::allocateCoalesced(quelbo::VectorXu64 const&, quelbo::DataType)
{
    unavailable();
}

std::shared_ptr<quelbo::ImageView> CudaImageFactory::allocateCoalesced(
    quelbo::VectorXu64 const&, quelbo::DataType, std::shared_ptr<quelbo::ImageProperties>,
    std::shared_ptr<quelbo::MetadataNode>)
{
    unavailable();
}

std::shared_ptr<quelbo::ImageView> CudaImageFactory::copyInCudaMemory(std::shared_ptr<quelbo::ImageView> image)
{
    if (!image)
        throw quelbo::InvalidArgument("CudaImageFactory::copyInCudaMemory: the image is null");
    unavailable();
}

std::shared_ptr<quelbo::ImageView> CudaImageFactory::adaptToCuda(std::shared_ptr<quelbo::ImageView> image)
{
    if (!image)
        throw quelbo::InvalidArgument("CudaImageFactory::adaptToCuda: the image is null");
    unavailable();
}

bool CudaExtensionProvider::isCudaImage(std::shared_ptr<quelbo::ImageView>)
{
    return false;
}

} // namespace quelbo_cuda
