// The view providers: read-only and write-only views, kind conversions and extension casts.
#include "quelbo/providers.h"

#include <string>
#include <utility>

#include "quelbo/error.h"
#include "views/derived/derived_view.h"

namespace quelbo {

namespace {

std::shared_ptr<ImageView> restrict(std::shared_ptr<ImageView> image, ImageCapability kept)
{
    if (!image)
        throw InvalidArgument("ImageViewProvider: the image view is empty");
    if (image->capabilities() == ImageCapabilitySet(kept))
        return image;
    return derived::restricted(std::move(image), kept);
}

} // namespace

std::shared_ptr<ImageView> ImageViewProvider::toReadOnly(std::shared_ptr<ImageView> image)
{
    return restrict(std::move(image), ImageCapability::READ);
}

std::shared_ptr<ImageView> ImageViewProvider::toWriteOnly(std::shared_ptr<ImageView> image)
{
    return restrict(std::move(image), ImageCapability::WRITE);
}

std::shared_ptr<TilingInfoExtension> ExtensionProvider::toTilingInfo(std::shared_ptr<Extension> extension)
{
    return TilingInfoExtension::cast(extension);
}

std::shared_ptr<ParallelAccessExtension> ExtensionProvider::toParallelAccess(std::shared_ptr<Extension> extension)
{
    return ParallelAccessExtension::cast(extension);
}

std::shared_ptr<ViewOriginExtension> ExtensionProvider::toViewOrigin(std::shared_ptr<Extension> extension)
{
    return ViewOriginExtension::cast(extension);
}

} // namespace quelbo
