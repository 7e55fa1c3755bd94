// Kind tests and conversions of generic views, and the view providers.
#pragma once
#include <memory>

#include "quelbo/data_frame.h"
#include "quelbo/export.h"
#include "quelbo/extension.h"
#include "quelbo/image_view.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/multi_image_view.h"
#include "quelbo/view.h"

namespace quelbo {

// Kind tests and conversions of generic views: a test is true when the view
// object is of the kind or derived from it; a conversion shares ownership
// with the given pointer and is empty when the test is false or the pointer
// empty.
namespace provider_detail {
template <class Kind>
bool is(std::shared_ptr<View> const& view)
{
    return dynamic_cast<Kind*>(view.get()) != nullptr;
}
template <class Kind>
std::shared_ptr<Kind> to(std::shared_ptr<View> const& view)
{
    return std::dynamic_pointer_cast<Kind>(view);
}
} // namespace provider_detail

class QUELBO_API ImageViewProvider
{
public:
    static bool isImage(std::shared_ptr<View> view) { return provider_detail::is<ImageView>(view); }
    static std::shared_ptr<ImageView> toImage(std::shared_ptr<View> view)
    {
        return provider_detail::to<ImageView>(view);
    }

    // A view of the image offering only READ (WRITE) of its capabilities:
    // every other operation raises NotImplemented and never reaches the
    // image. The image itself when it has exactly that capability;
    // InvalidArgument for an empty pointer.
    static std::shared_ptr<ImageView> toReadOnly(std::shared_ptr<ImageView> image);
    static std::shared_ptr<ImageView> toWriteOnly(std::shared_ptr<ImageView> image);
};

class QUELBO_API LodImageViewProvider
{
public:
    static bool isLodImage(std::shared_ptr<View> view) { return provider_detail::is<LodImageView>(view); }
    static std::shared_ptr<LodImageView> toLodImage(std::shared_ptr<View> view)
    {
        return provider_detail::to<LodImageView>(view);
    }
};

class QUELBO_API DataFrameViewProvider
{
public:
    static bool isDataFrame(std::shared_ptr<View> view) { return provider_detail::is<DataFrameView>(view); }
    static std::shared_ptr<DataFrameView> toDataFrame(std::shared_ptr<View> view)
    {
        return provider_detail::to<DataFrameView>(view);
    }
};

class QUELBO_API MultiImageViewProvider
{
public:
    static bool isMultiImage(std::shared_ptr<View> view) { return provider_detail::is<MultiImageView>(view); }
    static std::shared_ptr<MultiImageView> toMultiImage(std::shared_ptr<View> view)
    {
        return provider_detail::to<MultiImageView>(view);
    }
};

// Conversions of a generic extension; empty when it is of another kind.
class QUELBO_API ExtensionProvider
{
public:
    static std::shared_ptr<TilingInfoExtension> toTilingInfo(std::shared_ptr<Extension> extension);
    static std::shared_ptr<ParallelAccessExtension> toParallelAccess(std::shared_ptr<Extension> extension);
    static std::shared_ptr<ViewOriginExtension> toViewOrigin(std::shared_ptr<Extension> extension);
};

} // namespace quelbo
