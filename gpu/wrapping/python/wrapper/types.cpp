// The module's type table: its rows of the one type list (type_list.h), every
// native type of the interface it is built against. Only a few are used by
// the module's own functions; all of them join the shared table, so either
// module may be imported first.
#include <cstring>

#include "quelbo/data_access.h"
#include "quelbo/error.h"
#include "quelbo/extension.h"
#include "quelbo/image_view.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/multi_image_view.h"
#include "quelbo/random_access.h"
#include "quelbo/stream_access.h"
#include "quelbo/view.h"
#include "quelbo_cuda/cuda_image_factory.h"
#include "readonly/ReadonlyImageProperties.h"
#include "readonly/ReadonlyMetadataNode.h"
#include "runtime/wrap.h"

namespace {

using namespace qw;

constexpr size_t kCount = rows_in(kGpu | kGpuBare);
static_assert(kCount == 99, "the module carries 99 types");

// The entries the module's functions reach through type_of<T>().
struct Use
{
    const char* name;
    swig_type_info** slot;
};
template <class T>
Use use(const char* name)
{
    return {name, &Type<T>::info};
}
template <class T>
Use use_shared(const char* name)
{
    return use<std::shared_ptr<T>>(name);
}
const Use kUsed[] = {
    use<quelbo::DataType>("_p_quelbo__DataType"),
    use<quelbo::Error>("_p_quelbo__Error"),
    use<quelbo::InvalidArgument>("_p_quelbo__InvalidArgument"),
    use<quelbo::NotImplemented>("_p_quelbo__NotImplemented"),
    use<quelbo::ReadonlyImageProperties>("_p_quelbo__ReadonlyImageProperties"),
    use<quelbo::ReadonlyMetadataNode>("_p_quelbo__ReadonlyMetadataNode"),
    use<quelbo_cuda::CudaExtensionProvider>("_p_quelbo_cuda__CudaExtensionProvider"),
    use<quelbo_cuda::CudaImageFactory>("_p_quelbo_cuda__CudaImageFactory"),
    use_shared<quelbo::DataAccess>("_p_std__shared_ptrT_quelbo__DataAccess_t"),
    use_shared<quelbo::Extension>("_p_std__shared_ptrT_quelbo__Extension_t"),
    use_shared<quelbo::ImageProperties>("_p_std__shared_ptrT_quelbo__ImageProperties_t"),
    use_shared<quelbo::ImageView>("_p_std__shared_ptrT_quelbo__ImageView_t"),
    use_shared<quelbo::LodImageView>("_p_std__shared_ptrT_quelbo__LodImageView_t"),
    use_shared<quelbo::MetadataNode>("_p_std__shared_ptrT_quelbo__MetadataNode_t"),
    use_shared<quelbo::MultiImageView>("_p_std__shared_ptrT_quelbo__MultiImageView_t"),
    use_shared<quelbo::ParallelAccessExtension>("_p_std__shared_ptrT_quelbo__ParallelAccessExtension_t"),
    use_shared<quelbo::RandomAccess>("_p_std__shared_ptrT_quelbo__RandomAccess_t"),
    use_shared<quelbo::StreamAccess>("_p_std__shared_ptrT_quelbo__StreamAccess_t"),
    use_shared<quelbo::TilingInfoExtension>("_p_std__shared_ptrT_quelbo__TilingInfoExtension_t"),
    use_shared<quelbo::ViewOriginExtension>("_p_std__shared_ptrT_quelbo__ViewOriginExtension_t"),
    use_shared<quelbo::View>("_p_std__shared_ptrT_quelbo__View_t"),
};

struct Table
{
    swig_type_info entries[kCount];
    swig_type_info* unused[kCount];
    Table()
    {
        size_t i = 0;
        for (const TypeRow& row : kTypeList) {
            if (!(row.in & (kGpu | kGpuBare)))
                continue;
            entries[i] = {row.mangled, row.in & kGpuBare ? nullptr : row.str, nullptr, nullptr, nullptr, 0};
            swig_type_info** slot = &unused[i];
            for (const Use& u : kUsed)
                if (std::strcmp(u.name, row.mangled) == 0)
                    slot = u.slot;
            *slot = &entries[i];
            declare_type({&entries[i], slot});
            ++i;
        }
    }
} g_table;

// Converter entries, declared after the table they point into. The data
// frame view's entry is added by the module that knows that class (in either
// import order, a joining module adds the entries an adopted record lacks).
QW_CAST(quelbo::Error, quelbo::InvalidArgument);
QW_CAST(quelbo::Error, quelbo::NotImplemented);
QW_SHARED_CAST(quelbo::DataAccess, quelbo::RandomAccess);
QW_SHARED_CAST(quelbo::DataAccess, quelbo::StreamAccess);
QW_SHARED_CAST(quelbo::Extension, quelbo::ParallelAccessExtension);
QW_SHARED_CAST(quelbo::Extension, quelbo::TilingInfoExtension);
QW_SHARED_CAST(quelbo::Extension, quelbo::ViewOriginExtension);
QW_SHARED_CAST(quelbo::View, quelbo::ImageView);
QW_SHARED_CAST(quelbo::View, quelbo::LodImageView);
QW_SHARED_CAST(quelbo::View, quelbo::MultiImageView);

} // namespace
