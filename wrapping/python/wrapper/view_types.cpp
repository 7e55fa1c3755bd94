// The native types of the view family, declared once for every family that
// takes or returns them, with the casts between them.
#include <memory>

#include "quelbo/extension.h"
#include "quelbo/image_view.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/view.h"
#include "runtime/wrap.h"
#include "native_types.h"

namespace {

using namespace quelbo;

QW_TYPE(std::shared_ptr<View>);
QW_TYPE(std::shared_ptr<ImageView>);
QW_TYPE(std::shared_ptr<LodImageView>);
QW_SHARED_CAST(View, ImageView);
// Casts read the derived entry when they are built: declared next to it.
QW_SHARED_CAST(View, LodImageView);

} // namespace
