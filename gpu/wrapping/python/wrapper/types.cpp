// The module's type table: every native type of the interface it is built
// against, in byte order of the mangled names (lookups are binary searches).
// Only a few are used by the module's own functions; all of them join the
// shared table, so either module may be imported first.
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

struct Record
{
    const char* name;
    const char* str;
};

const Record kTypes[] = {
    {"_p_ConstIterator", "ConstIterator *"},
    {"_p_Iterator", "Iterator *"},
    {"_p_SizeType", "SizeType *"},
    {"_p_ValueType", "ValueType *"},
    {"_p_VectorType", "VectorType *"},
    {"_p_char", "char *"},
    {"_p_quelbo__ArrayXT_double_t", "quelbo::ArrayXd *|quelbo::ArrayX< double > *"},
    {"_p_quelbo__ArrayXT_float_t", "quelbo::ArrayXf *|quelbo::ArrayX< float > *"},
    {"_p_quelbo__ArrayXT_int16_t_t", "quelbo::ArrayXi16 *|quelbo::ArrayX< int16_t > *"},
    {"_p_quelbo__ArrayXT_int32_t_t", "quelbo::ArrayXi32 *|quelbo::ArrayX< int32_t > *"},
    {"_p_quelbo__ArrayXT_int64_t_t", "quelbo::ArrayXi64 *|quelbo::ArrayX< int64_t > *"},
    {"_p_quelbo__ArrayXT_int8_t_t", "quelbo::ArrayXi8 *|quelbo::ArrayX< int8_t > *"},
    {"_p_quelbo__ArrayXT_uint16_t_t", "quelbo::ArrayXu16 *|quelbo::ArrayX< uint16_t > *"},
    {"_p_quelbo__ArrayXT_uint32_t_t", "quelbo::ArrayXu32 *|quelbo::ArrayX< uint32_t > *"},
    {"_p_quelbo__ArrayXT_uint64_t_t", "quelbo::ArrayXu64 *|quelbo::ArrayX< uint64_t > *"},
    {"_p_quelbo__ArrayXT_uint8_t_t", "quelbo::ArrayXu8 *|quelbo::ArrayX< uint8_t > *"},
    {"_p_quelbo__DataType", "quelbo::DataType *"},
    {"_p_quelbo__Error", "quelbo::Error *"},
    {"_p_quelbo__FlagSetT_ImageCapability_t", "quelbo::FlagSet< ImageCapability > *"},
    {"_p_quelbo__FlagSetT_RandomAccessCapability_t", "quelbo::FlagSet< RandomAccessCapability > *"},
    {"_p_quelbo__FlagSetT_StreamAccessCapability_t", "quelbo::FlagSet< StreamAccessCapability > *"},
    {"_p_quelbo__FlagSetT_quelbo__DataFrameCapability_t", "quelbo::FlagSet< quelbo::DataFrameCapability > *"},
    {"_p_quelbo__FlagSetT_quelbo__MultiImageCapability_t", "quelbo::FlagSet< quelbo::MultiImageCapability > *"},
    {"_p_quelbo__FlagSetT_quelbo__ParallelAccessCapability_t", "quelbo::FlagSet< quelbo::ParallelAccessCapability > *"},
    {"_p_quelbo__ImageInfoProperty", "quelbo::ImageInfoProperty *"},
    {"_p_quelbo__InvalidArgument", nullptr},
    {"_p_quelbo__MatrixT_double_3_t", "quelbo::Matrix3d *|quelbo::Matrix< double,3 > *"},
    {"_p_quelbo__MatrixT_double_4_t", "quelbo::Matrix4d *|quelbo::Matrix< double,4 > *"},
    {"_p_quelbo__MatrixT_float_3_t", "quelbo::Matrix3f *|quelbo::Matrix< float,3 > *"},
    {"_p_quelbo__MatrixT_float_4_t", "quelbo::Matrix4f *|quelbo::Matrix< float,4 > *"},
    {"_p_quelbo__NotImplemented", nullptr},
    {"_p_quelbo__ReadonlyImageInfoProperty", "quelbo::ReadonlyImageInfoProperty *"},
    {"_p_quelbo__ReadonlyImageProperties", "quelbo::ReadonlyImageProperties *"},
    {"_p_quelbo__ReadonlyMetadataNode", "quelbo::ReadonlyMetadataNode *"},
    {"_p_quelbo__ReadonlySpatialCalibrationProperty", "quelbo::ReadonlySpatialCalibrationProperty *"},
    {"_p_quelbo__Region2T_uint64_t_t", "quelbo::Region2u64 *|quelbo::Region2< uint64_t > *"},
    {"_p_quelbo__Region3T_uint64_t_t", "quelbo::Region3u64 *|quelbo::Region3< uint64_t > *"},
    {"_p_quelbo__Region4T_uint64_t_t", "quelbo::Region4u64 *|quelbo::Region4< uint64_t > *"},
    {"_p_quelbo__RegionXT_uint64_t_t", "quelbo::RegionXu64 *|quelbo::RegionX< uint64_t > *"},
    {"_p_quelbo__SpatialCalibrationProperty", "quelbo::SpatialCalibrationProperty *"},
    {"_p_quelbo__VectorT_double_2_t", "quelbo::Vector2d *|quelbo::Vector< double,2 > *"},
    {"_p_quelbo__VectorT_double_3_t", "quelbo::Vector3d *|quelbo::Vector< double,3 > *"},
    {"_p_quelbo__VectorT_double_4_t", "quelbo::Vector4d *|quelbo::Vector< double,4 > *"},
    {"_p_quelbo__VectorT_float_2_t", "quelbo::Vector2f *|quelbo::Vector< float,2 > *"},
    {"_p_quelbo__VectorT_float_3_t", "quelbo::Vector3f *|quelbo::Vector< float,3 > *"},
    {"_p_quelbo__VectorT_float_4_t", "quelbo::Vector4f *|quelbo::Vector< float,4 > *"},
    {"_p_quelbo__VectorT_int16_t_2_t", "quelbo::Vector2i16 *|quelbo::Vector< int16_t,2 > *"},
    {"_p_quelbo__VectorT_int16_t_3_t", "quelbo::Vector3i16 *|quelbo::Vector< int16_t,3 > *"},
    {"_p_quelbo__VectorT_int16_t_4_t", "quelbo::Vector4i16 *|quelbo::Vector< int16_t,4 > *"},
    {"_p_quelbo__VectorT_int32_t_2_t", "quelbo::Vector2i32 *|quelbo::Vector< int32_t,2 > *"},
    {"_p_quelbo__VectorT_int32_t_3_t", "quelbo::Vector3i32 *|quelbo::Vector< int32_t,3 > *"},
    {"_p_quelbo__VectorT_int32_t_4_t", "quelbo::Vector4i32 *|quelbo::Vector< int32_t,4 > *"},
    {"_p_quelbo__VectorT_int64_t_2_t", "quelbo::Vector2i64 *|quelbo::Vector< int64_t,2 > *"},
    {"_p_quelbo__VectorT_int64_t_3_t", "quelbo::Vector3i64 *|quelbo::Vector< int64_t,3 > *"},
    {"_p_quelbo__VectorT_int64_t_4_t", "quelbo::Vector4i64 *|quelbo::Vector< int64_t,4 > *"},
    {"_p_quelbo__VectorT_int8_t_2_t", "quelbo::Vector2i8 *|quelbo::Vector< int8_t,2 > *"},
    {"_p_quelbo__VectorT_int8_t_3_t", "quelbo::Vector3i8 *|quelbo::Vector< int8_t,3 > *"},
    {"_p_quelbo__VectorT_int8_t_4_t", "quelbo::Vector4i8 *|quelbo::Vector< int8_t,4 > *"},
    {"_p_quelbo__VectorT_uint16_t_2_t", "quelbo::Vector2u16 *|quelbo::Vector< uint16_t,2 > *"},
    {"_p_quelbo__VectorT_uint16_t_3_t", "quelbo::Vector3u16 *|quelbo::Vector< uint16_t,3 > *"},
    {"_p_quelbo__VectorT_uint16_t_4_t", "quelbo::Vector4u16 *|quelbo::Vector< uint16_t,4 > *"},
    {"_p_quelbo__VectorT_uint32_t_2_t", "quelbo::Vector2u32 *|quelbo::Vector< uint32_t,2 > *"},
    {"_p_quelbo__VectorT_uint32_t_3_t", "quelbo::Vector3u32 *|quelbo::Vector< uint32_t,3 > *"},
    {"_p_quelbo__VectorT_uint32_t_4_t", "quelbo::Vector4u32 *|quelbo::Vector< uint32_t,4 > *"},
    {"_p_quelbo__VectorT_uint64_t_2_t", "quelbo::Vector2u64 *|quelbo::Vector< uint64_t,2 > *"},
    {"_p_quelbo__VectorT_uint64_t_3_t", "quelbo::Vector3u64 *|quelbo::Vector< uint64_t,3 > *"},
    {"_p_quelbo__VectorT_uint64_t_4_t", "quelbo::Vector4u64 *|quelbo::Vector< uint64_t,4 > *"},
    {"_p_quelbo__VectorT_uint8_t_2_t", "quelbo::Vector2u8 *|quelbo::Vector< uint8_t,2 > *"},
    {"_p_quelbo__VectorT_uint8_t_3_t", "quelbo::Vector3u8 *|quelbo::Vector< uint8_t,3 > *"},
    {"_p_quelbo__VectorT_uint8_t_4_t", "quelbo::Vector4u8 *|quelbo::Vector< uint8_t,4 > *"},
    {"_p_quelbo__VectorXT_double_t", "quelbo::VectorXd *|quelbo::VectorX< double > *"},
    {"_p_quelbo__VectorXT_float_t", "quelbo::VectorXf *|quelbo::VectorX< float > *"},
    {"_p_quelbo__VectorXT_int16_t_t", "quelbo::VectorXi16 *|quelbo::VectorX< int16_t > *"},
    {"_p_quelbo__VectorXT_int32_t_t", "quelbo::VectorXi32 *|quelbo::VectorX< int32_t > *"},
    {"_p_quelbo__VectorXT_int64_t_t", "quelbo::VectorXi64 *|quelbo::VectorX< int64_t > *"},
    {"_p_quelbo__VectorXT_int8_t_t", "quelbo::VectorXi8 *|quelbo::VectorX< int8_t > *"},
    {"_p_quelbo__VectorXT_uint16_t_t", "quelbo::VectorXu16 *|quelbo::VectorX< uint16_t > *"},
    {"_p_quelbo__VectorXT_uint32_t_t", "quelbo::VectorXu32 *|quelbo::VectorX< uint32_t > *"},
    {"_p_quelbo__VectorXT_uint64_t_t", "quelbo::VectorXu64 *|quelbo::VectorX< uint64_t > *"},
    {"_p_quelbo__VectorXT_uint8_t_t", "quelbo::VectorXu8 *|quelbo::VectorX< uint8_t > *"},
    {"_p_quelbo_cuda__CudaExtensionProvider", "quelbo_cuda::CudaExtensionProvider *"},
    {"_p_quelbo_cuda__CudaImageFactory", "quelbo_cuda::CudaImageFactory *"},
    {"_p_std__shared_ptrT_quelbo__DataAccess_t", "std::shared_ptr< quelbo::DataAccess > *"},
    {"_p_std__shared_ptrT_quelbo__DataFrameView_t", "std::shared_ptr< quelbo::DataFrameView > *"},
    {"_p_std__shared_ptrT_quelbo__DataStorage_t", "std::shared_ptr< quelbo::DataStorage > *"},
    {"_p_std__shared_ptrT_quelbo__Extension_t", "std::shared_ptr< quelbo::Extension > *"},
    {"_p_std__shared_ptrT_quelbo__ImageProperties_t", "std::shared_ptr< quelbo::ImageProperties > *"},
    {"_p_std__shared_ptrT_quelbo__ImageView_t", "std::shared_ptr< quelbo::ImageView > *"},
    {"_p_std__shared_ptrT_quelbo__LodImageView_t", "std::shared_ptr< quelbo::LodImageView > *"},
    {"_p_std__shared_ptrT_quelbo__MetadataNode_t", "std::shared_ptr< quelbo::MetadataNode > *"},
    {"_p_std__shared_ptrT_quelbo__MultiImageView_t", "std::shared_ptr< quelbo::MultiImageView > *"},
    {"_p_std__shared_ptrT_quelbo__ParallelAccessExtension_t", "std::shared_ptr< quelbo::ParallelAccessExtension > *"},
    {"_p_std__shared_ptrT_quelbo__RandomAccess_t", "std::shared_ptr< quelbo::RandomAccess > *"},
    {"_p_std__shared_ptrT_quelbo__StreamAccess_t", "std::shared_ptr< quelbo::StreamAccess > *"},
    {"_p_std__shared_ptrT_quelbo__TilingInfoExtension_t", "std::shared_ptr< quelbo::TilingInfoExtension > *"},
    {"_p_std__shared_ptrT_quelbo__VariantDataValue_t", "std::shared_ptr< quelbo::VariantDataValue > *"},
    {"_p_std__shared_ptrT_quelbo__ViewOriginExtension_t", "std::shared_ptr< quelbo::ViewOriginExtension > *"},
    {"_p_std__shared_ptrT_quelbo__View_t", "std::shared_ptr< quelbo::View > *"},
    {"_p_std__shared_ptrT_quelbo__Writer_t", "std::shared_ptr< quelbo::Writer > *"},
};
constexpr size_t kCount = sizeof(kTypes) / sizeof(kTypes[0]);
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
        for (size_t i = 0; i < kCount; ++i) {
            entries[i] = {kTypes[i].name, kTypes[i].str, nullptr, nullptr, nullptr, 0};
            swig_type_info** slot = &unused[i];
            for (const Use& u : kUsed)
                if (std::strcmp(u.name, kTypes[i].name) == 0)
                    slot = u.slot;
            *slot = &entries[i];
            declare_type({&entries[i], slot});
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
