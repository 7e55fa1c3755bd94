// The module's type table: its rows of the one type list (type_list.h), every
// native type of the interface it is built against. Only a few are used by
// the module's own functions and bound here; the runtime makes the others'
// entries, and all of them join the shared table, so either module may be
// imported first.
#include "quelbo/data_access.h"
#include "quelbo/error.h"
#include "quelbo/extension.h"
#include "quelbo/image_view.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/multi_image_view.h"
#include "quelbo/random_access.h"
#include "quelbo/stream_access.h"
#include "quelbo/view.h"
#include "extension_types.h"
#include "cuda_types.h"
#include "native_types.h"
#include "readonly/ReadonlyImageProperties.h"
#include "readonly/ReadonlyMetadataNode.h"
#include "runtime/wrap.h"

namespace {

using namespace quelbo;

// The entries the module's functions reach through type_of<T>().
QW_TYPE(DataType);
QW_TYPE(Error);
QW_TYPE(ReadonlyImageProperties);
QW_TYPE(ReadonlyMetadataNode);
QW_TYPE(quelbo_cuda::CudaExtensionProvider);
QW_TYPE(quelbo_cuda::CudaImageFactory);
QW_TYPE(std::shared_ptr<DataAccess>);
QW_TYPE(std::shared_ptr<ImageProperties>);
QW_TYPE(std::shared_ptr<ImageView>);
QW_TYPE(std::shared_ptr<LodImageView>);
QW_TYPE(std::shared_ptr<MetadataNode>);
QW_TYPE(std::shared_ptr<MultiImageView>);
QW_TYPE(std::shared_ptr<RandomAccess>);
QW_TYPE(std::shared_ptr<StreamAccess>);
QW_TYPE(std::shared_ptr<View>);

// The shared-pointer casts. The data frame view's is added by the module
// that knows that class (in either import order, a joining module adds the
// casts an adopted entry lacks).
QW_SHARED_CAST(DataAccess, RandomAccess);
QW_SHARED_CAST(DataAccess, StreamAccess);
QW_EXTENSION_TYPES;
QW_SHARED_CAST(View, ImageView);
QW_SHARED_CAST(View, LodImageView);
QW_SHARED_CAST(View, MultiImageView);

} // namespace
