// The one list of the native types the modules know: the mangled name (the
// key of the shared table), the printable forms separated by '|' (the pretty
// name last) and the modules that carry the entry. A module carries an entry
// for every native type its functions name, used or not: a module binds the
// entries its functions reach to native types with QW_TYPE(T), which finds a
// type's row by its printable name (named_row), and the runtime makes the
// others from their rows. Rows are in byte order of the
// mangled names, the order of a module's entries in the shared table.
#pragma once

#include <cstddef>
#include <initializer_list>

namespace qw {

enum TypeIn : unsigned
{
    kMain = 1,    // _quelbo
    kGpu = 2,     // _quelbo_cuda
    kGpuBare = 4, // _quelbo_cuda, without printable names
};

struct TypeRow
{
    const char* mangled;
    const char* str;
    unsigned in;
};

inline constexpr TypeRow kTypeList[] = {
    {"_p_ConstIterator", "ConstIterator *", kMain | kGpu},
    {"_p_Iterator", "Iterator *", kMain | kGpu},
    {"_p_RegionXT_uint64_t_t", "RegionX< uint64_t > *", kMain},
    {"_p_SizeType", "SizeType *", kMain | kGpu},
    {"_p_ValueType", "ValueType *", kMain | kGpu},
    {"_p_VectorType", "VectorType *", kMain | kGpu},
    {"_p_VectorXT_double_t", "VectorX< double > *", kMain},
    {"_p_VectorXT_float_t", "VectorX< float > *", kMain},
    {"_p_VectorXT_int16_t_t", "VectorX< int16_t > *", kMain},
    {"_p_VectorXT_int32_t_t", "VectorX< int32_t > *", kMain},
    {"_p_VectorXT_int64_t_t", "VectorX< int64_t > *", kMain},
    {"_p_VectorXT_int8_t_t", "VectorX< int8_t > *", kMain},
    {"_p_VectorXT_uint16_t_t", "VectorX< uint16_t > *", kMain},
    {"_p_VectorXT_uint32_t_t", "VectorX< uint32_t > *", kMain},
    {"_p_VectorXT_uint64_t_t", "VectorX< uint64_t > *", kMain},
    {"_p_VectorXT_uint8_t_t", "VectorX< uint8_t > *", kMain},
    {"_p_char", "char *", kMain | kGpu},
    {"_p_double", "double *", kMain},
    {"_p_float", "float *", kMain},
    {"_p_int16_t", "int16_t *", kMain},
    {"_p_int32_t", "int32_t *", kMain},
    {"_p_int64_t", "int64_t *", kMain},
    {"_p_int8_t", "int8_t *", kMain},
    {"_p_p_char", "char **", kMain},
    {"_p_quelbo__ArrayXT_double_t", "quelbo::ArrayXd *|quelbo::ArrayX< double > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_float_t", "quelbo::ArrayXf *|quelbo::ArrayX< float > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_int16_t_t", "quelbo::ArrayXi16 *|quelbo::ArrayX< int16_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_int32_t_t", "quelbo::ArrayXi32 *|quelbo::ArrayX< int32_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_int64_t_t", "quelbo::ArrayXi64 *|quelbo::ArrayX< int64_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_int8_t_t", "quelbo::ArrayXi8 *|quelbo::ArrayX< int8_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_uint16_t_t", "quelbo::ArrayXu16 *|quelbo::ArrayX< uint16_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_uint32_t_t", "quelbo::ArrayXu32 *|quelbo::ArrayX< uint32_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_uint64_t_t", "quelbo::ArrayXu64 *|quelbo::ArrayX< uint64_t > *", kMain | kGpu},
    {"_p_quelbo__ArrayXT_uint8_t_t", "quelbo::ArrayXu8 *|quelbo::ArrayX< uint8_t > *", kMain | kGpu},
    {"_p_quelbo__ColumnUnitExtension", "quelbo::ColumnUnitExtension *", kMain},
    {"_p_quelbo__ConstMetadataIteratorObject", "quelbo::ConstMetadataIteratorObject *", kMain},
    {"_p_quelbo__ConstMetadataNodeIterator", "quelbo::ConstMetadataNodeIterator *", kMain},
    {"_p_quelbo__DataAccess", "quelbo::DataAccess *", kMain},
    {"_p_quelbo__DataFrameView", "quelbo::DataFrameView *", kMain},
    {"_p_quelbo__DataFrameViewFactory", "quelbo::DataFrameViewFactory *", kMain},
    {"_p_quelbo__DataFrameViewProvider", "quelbo::DataFrameViewProvider *", kMain},
    {"_p_quelbo__DataStorage", "quelbo::DataStorage *", kMain},
    {"_p_quelbo__DataType", "quelbo::DataType *", kMain | kGpu},
    {"_p_quelbo__DependencyGraph", "quelbo::DependencyGraph *", kMain},
    {"_p_quelbo__Error", "quelbo::Error *", kMain | kGpu},
    {"_p_quelbo__Extension", "quelbo::Extension *", kMain},
    {"_p_quelbo__ExtensionProvider", "quelbo::ExtensionProvider *", kMain},
    {"_p_quelbo__FlagSetT_ImageCapability_t", "quelbo::FlagSet< ImageCapability > *", kMain | kGpu},
    {"_p_quelbo__FlagSetT_RandomAccessCapability_t", "quelbo::FlagSet< RandomAccessCapability > *", kMain | kGpu},
    {"_p_quelbo__FlagSetT_StreamAccessCapability_t", "quelbo::FlagSet< StreamAccessCapability > *", kMain | kGpu},
    {"_p_quelbo__FlagSetT_quelbo__DataFrameCapability_t", "quelbo::FlagSet< quelbo::DataFrameCapability > *",
     kMain | kGpu},
    {"_p_quelbo__FlagSetT_quelbo__ImageCapability_t", "quelbo::FlagSet< quelbo::ImageCapability > *", kMain},
    {"_p_quelbo__FlagSetT_quelbo__MultiImageCapability_t", "quelbo::FlagSet< quelbo::MultiImageCapability > *",
     kMain | kGpu},
    {"_p_quelbo__FlagSetT_quelbo__ParallelAccessCapability_t", "quelbo::FlagSet< quelbo::ParallelAccessCapability > *",
     kMain | kGpu},
    {"_p_quelbo__FlagSetT_quelbo__RandomAccessCapability_t", "quelbo::FlagSet< quelbo::RandomAccessCapability > *",
     kMain},
    {"_p_quelbo__FlagSetT_quelbo__StreamAccessCapability_t", "quelbo::FlagSet< quelbo::StreamAccessCapability > *",
     kMain},
    {"_p_quelbo__HTTPHeaders", "quelbo::HTTPHeaders *", kMain},
    {"_p_quelbo__HTTPHeaders__Entry", "quelbo::HTTPHeaders::Entry *", kMain},
    {"_p_quelbo__ImageDimension", "quelbo::ImageAxis *|quelbo::ImageDimension *", kMain},
    {"_p_quelbo__ImageInfoProperty", "quelbo::ImageInfoProperty *", kMain | kGpu},
    {"_p_quelbo__ImageProperties", "quelbo::ImageProperties *", kMain},
    {"_p_quelbo__ImageType", "quelbo::AxesInterpretation *|quelbo::ImageType *", kMain},
    {"_p_quelbo__ImageTypeId", "quelbo::AxesInterpretationId *|quelbo::ImageTypeId *", kMain},
    {"_p_quelbo__ImageView", "quelbo::ImageView *", kMain},
    {"_p_quelbo__ImageViewFactory", "quelbo::ImageViewFactory *", kMain},
    {"_p_quelbo__ImageViewProvider", "quelbo::ImageViewProvider *", kMain},
    {"_p_quelbo__Indexer", "quelbo::Indexer *", kMain},
    {"_p_quelbo__InvalidArgument", "quelbo::InvalidArgument *", kMain | kGpuBare},
    {"_p_quelbo__LodImageView", "quelbo::LodImageView *", kMain},
    {"_p_quelbo__LodImageViewProvider", "quelbo::LodImageViewProvider *", kMain},
    {"_p_quelbo__Logger", "quelbo::Logger *", kMain},
    {"_p_quelbo__MatrixT_double_3_t", "quelbo::Matrix3d *|quelbo::Matrix< double,3 > *", kMain | kGpu},
    {"_p_quelbo__MatrixT_double_4_t", "quelbo::Matrix4d *|quelbo::Matrix< double,4 > *", kMain | kGpu},
    {"_p_quelbo__MatrixT_float_3_t", "quelbo::Matrix3f *|quelbo::Matrix< float,3 > *", kMain | kGpu},
    {"_p_quelbo__MatrixT_float_4_t", "quelbo::Matrix4f *|quelbo::Matrix< float,4 > *", kMain | kGpu},
    {"_p_quelbo__MetadataIteratorObject", "quelbo::MetadataIteratorObject *", kMain},
    {"_p_quelbo__MetadataNode", "quelbo::MetadataNode *", kMain},
    {"_p_quelbo__MetadataNodeFactory", "quelbo::MetadataNodeFactory *", kMain},
    {"_p_quelbo__MetadataNodeHelper", "quelbo::MetadataNodeHelper *", kMain},
    {"_p_quelbo__MetadataNodeIterator", "quelbo::MetadataNodeIterator *", kMain},
    {"_p_quelbo__MultiImageView", "quelbo::MultiImageView *", kMain},
    {"_p_quelbo__MultiImageViewFactory", "quelbo::MultiImageViewFactory *", kMain},
    {"_p_quelbo__MultiImageViewProvider", "quelbo::MultiImageViewProvider *", kMain},
    {"_p_quelbo__NotImplemented", "quelbo::NotImplemented *", kMain | kGpuBare},
    {"_p_quelbo__NumpyInterop", "quelbo::NumpyInterop *", kMain},
    {"_p_quelbo__ParallelAccessExtension", "quelbo::ParallelAccessExtension *", kMain},
    {"_p_quelbo__RandomAccess", "quelbo::RandomAccess *", kMain},
    {"_p_quelbo__RandomAccessFactory", "quelbo::RandomAccessFactory *", kMain},
    {"_p_quelbo__RandomAccessProvider", "quelbo::RandomAccessProvider *", kMain},
    {"_p_quelbo__ReadonlyImageInfoProperty", "quelbo::ReadonlyImageInfoProperty *", kMain | kGpu},
    {"_p_quelbo__ReadonlyImageProperties", "quelbo::ReadonlyImageProperties *", kMain | kGpu},
    {"_p_quelbo__ReadonlyMetadataNode", "quelbo::ReadonlyMetadataNode *", kMain | kGpu},
    {"_p_quelbo__ReadonlySpatialCalibrationProperty", "quelbo::ReadonlySpatialCalibrationProperty *", kMain | kGpu},
    {"_p_quelbo__Region2T_uint64_t_t", "quelbo::Region2u64 *|quelbo::Region2< uint64_t > *", kGpu},
    {"_p_quelbo__Region3T_uint64_t_t", "quelbo::Region3u64 *|quelbo::Region3< uint64_t > *", kGpu},
    {"_p_quelbo__Region4T_uint64_t_t", "quelbo::Region4u64 *|quelbo::Region4< uint64_t > *", kGpu},
    {"_p_quelbo__RegionT_uint64_t_2_t", "quelbo::Region2u64 *|quelbo::Region< uint64_t,2 > *", kMain},
    {"_p_quelbo__RegionT_uint64_t_3_t", "quelbo::Region3u64 *|quelbo::Region< uint64_t,3 > *", kMain},
    {"_p_quelbo__RegionT_uint64_t_4_t", "quelbo::Region4u64 *|quelbo::Region< uint64_t,4 > *", kMain},
    {"_p_quelbo__RegionXT_uint64_t_t", "quelbo::RegionXu64 *|quelbo::RegionX< uint64_t > *", kMain | kGpu},
    {"_p_quelbo__Serialization", "quelbo::Serialization *", kMain},
    {"_p_quelbo__SpatialCalibrationProperty", "quelbo::SpatialCalibrationProperty *", kMain | kGpu},
    {"_p_quelbo__SpatialDirections", "quelbo::SpatialDirections *", kMain},
    {"_p_quelbo__StreamAccess", "quelbo::StreamAccess *", kMain},
    {"_p_quelbo__StreamAccessFactory", "quelbo::StreamAccessFactory *", kMain},
    {"_p_quelbo__StreamAccessProvider", "quelbo::StreamAccessProvider *", kMain},
    {"_p_quelbo__TilingInfoExtension", "quelbo::TilingInfoExtension *", kMain},
    {"_p_quelbo__TransformMatrix3Factory", "quelbo::TransformMatrix3Factory *", kMain},
    {"_p_quelbo__TransformMatrix4Factory", "quelbo::TransformMatrix4Factory *", kMain},
    {"_p_quelbo__UidGenerator", "quelbo::UidGenerator *", kMain},
    {"_p_quelbo__Uri", "quelbo::Uri *", kMain},
    {"_p_quelbo__VariantDataValue", "quelbo::VariantDataValue *", kMain},
    {"_p_quelbo__VariantDataValueFactory", "quelbo::VariantDataValueFactory *", kMain},
    {"_p_quelbo__VectorT_double_2_t", "quelbo::Vector2d *|quelbo::Vector< double,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_double_3_t", "quelbo::Vector3d *|quelbo::Vector< double,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_double_4_t", "quelbo::Vector4d *|quelbo::Vector< double,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_float_2_t", "quelbo::Vector2f *|quelbo::Vector< float,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_float_3_t", "quelbo::Vector3f *|quelbo::Vector< float,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_float_4_t", "quelbo::Vector4f *|quelbo::Vector< float,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int16_t_2_t", "quelbo::Vector2i16 *|quelbo::Vector< int16_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int16_t_3_t", "quelbo::Vector3i16 *|quelbo::Vector< int16_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int16_t_4_t", "quelbo::Vector4i16 *|quelbo::Vector< int16_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int32_t_2_t", "quelbo::Vector2i32 *|quelbo::Vector< int32_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int32_t_3_t", "quelbo::Vector3i32 *|quelbo::Vector< int32_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int32_t_4_t", "quelbo::Vector4i32 *|quelbo::Vector< int32_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int64_t_2_t", "quelbo::Vector2i64 *|quelbo::Vector< int64_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int64_t_3_t", "quelbo::Vector3i64 *|quelbo::Vector< int64_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int64_t_4_t", "quelbo::Vector4i64 *|quelbo::Vector< int64_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int8_t_2_t", "quelbo::Vector2i8 *|quelbo::Vector< int8_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int8_t_3_t", "quelbo::Vector3i8 *|quelbo::Vector< int8_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_int8_t_4_t", "quelbo::Vector4i8 *|quelbo::Vector< int8_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint16_t_2_t", "quelbo::Vector2u16 *|quelbo::Vector< uint16_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint16_t_3_t", "quelbo::Vector3u16 *|quelbo::Vector< uint16_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint16_t_4_t", "quelbo::Vector4u16 *|quelbo::Vector< uint16_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint32_t_2_t", "quelbo::Vector2u32 *|quelbo::Vector< uint32_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint32_t_3_t", "quelbo::Vector3u32 *|quelbo::Vector< uint32_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint32_t_4_t", "quelbo::Vector4u32 *|quelbo::Vector< uint32_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint64_t_2_t", "quelbo::Vector2u64 *|quelbo::Vector< uint64_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint64_t_3_t", "quelbo::Vector3u64 *|quelbo::Vector< uint64_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint64_t_4_t", "quelbo::Vector4u64 *|quelbo::Vector< uint64_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint8_t_2_t", "quelbo::Vector2u8 *|quelbo::Vector< uint8_t,2 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint8_t_3_t", "quelbo::Vector3u8 *|quelbo::Vector< uint8_t,3 > *", kMain | kGpu},
    {"_p_quelbo__VectorT_uint8_t_4_t", "quelbo::Vector4u8 *|quelbo::Vector< uint8_t,4 > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_double_t", "quelbo::VectorXd *|quelbo::VectorX< double > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_float_t", "quelbo::VectorXf *|quelbo::VectorX< float > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_int16_t_t", "quelbo::VectorXi16 *|quelbo::VectorX< int16_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_int32_t_t", "quelbo::VectorXi32 *|quelbo::VectorX< int32_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_int64_t_t", "quelbo::VectorXi64 *|quelbo::VectorX< int64_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_int8_t_t", "quelbo::VectorXi8 *|quelbo::VectorX< int8_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_uint16_t_t", "quelbo::VectorXu16 *|quelbo::VectorX< uint16_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_uint32_t_t", "quelbo::VectorXu32 *|quelbo::VectorX< uint32_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_uint64_t_t", "quelbo::VectorXu64 *|quelbo::VectorX< uint64_t > *", kMain | kGpu},
    {"_p_quelbo__VectorXT_uint8_t_t", "quelbo::VectorXu8 *|quelbo::VectorX< uint8_t > *", kMain | kGpu},
    {"_p_quelbo__VersionInfo", "quelbo::VersionInfo *", kMain},
    {"_p_quelbo__Versioning", "quelbo::Versioning *", kMain},
    {"_p_quelbo__View", "quelbo::View *", kMain},
    {"_p_quelbo__ViewOriginExtension", "quelbo::ViewOriginExtension *", kMain},
    {"_p_quelbo__Writer", "quelbo::Writer *", kMain},
    {"_p_quelbo_cuda__CudaExtensionProvider", "quelbo_cuda::CudaExtensionProvider *", kGpu},
    {"_p_quelbo_cuda__CudaImageFactory", "quelbo_cuda::CudaImageFactory *", kGpu},
    {"_p_std__exception", "std::exception *", kMain},
    {"_p_std__initializer_listT_quelbo__HTTPHeaders__Entry_t", "std::initializer_list< quelbo::HTTPHeaders::Entry > *",
     kMain},
    {"_p_std__ostream", "std::ostream *", kMain},
    {"_p_std__shared_ptrT_quelbo__ColumnUnitExtension_t", "std::shared_ptr< quelbo::ColumnUnitExtension > *", kMain},
    {"_p_std__shared_ptrT_quelbo__DataAccess_t", "std::shared_ptr< quelbo::DataAccess > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__DataFrameView_t", "std::shared_ptr< quelbo::DataFrameView > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__DataStorage_t", "std::shared_ptr< quelbo::DataStorage > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__Extension_t", "std::shared_ptr< quelbo::Extension > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__ImageProperties_const_t", "std::shared_ptr< quelbo::ImageProperties const > *",
     kMain},
    {"_p_std__shared_ptrT_quelbo__ImageProperties_t", "std::shared_ptr< quelbo::ImageProperties > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__ImageView_t", "std::shared_ptr< quelbo::ImageView > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__LodImageView_t", "std::shared_ptr< quelbo::LodImageView > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__MetadataNode_const_t", "std::shared_ptr< quelbo::MetadataNode const > *", kMain},
    {"_p_std__shared_ptrT_quelbo__MetadataNode_t", "std::shared_ptr< quelbo::MetadataNode > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__MultiImageView_t", "std::shared_ptr< quelbo::MultiImageView > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__ParallelAccessExtension_t", "std::shared_ptr< quelbo::ParallelAccessExtension > *",
     kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__RandomAccess_t", "std::shared_ptr< quelbo::RandomAccess > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__StreamAccess_t", "std::shared_ptr< quelbo::StreamAccess > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__TilingInfoExtension_t", "std::shared_ptr< quelbo::TilingInfoExtension > *",
     kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__VariantDataValue_t", "std::shared_ptr< quelbo::VariantDataValue > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__ViewOriginExtension_t", "std::shared_ptr< quelbo::ViewOriginExtension > *",
     kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__View_t", "std::shared_ptr< quelbo::View > *", kMain | kGpu},
    {"_p_std__shared_ptrT_quelbo__Writer_t", "std::shared_ptr< quelbo::Writer > *", kMain | kGpu},
    {"_p_swig__SwigPyIterator", "swig::SwigPyIterator *", kMain},
    {"_p_uint16_t", "uint16_t *", kMain},
    {"_p_uint32_t", "uint32_t *", kMain},
    {"_p_uint64_t", "uint64_t *", kMain},
    {"_p_uint8_t", "uint8_t *", kMain},
    {"_p_void", "void *", kMain},
};
inline constexpr size_t kTypeListSize = sizeof(kTypeList) / sizeof(kTypeList[0]);

// The casts that keep the address: the derived type's pointer is accepted
// where the base type's is expected. (A shared pointer of a derived class
// is converted into a new one of the base: QW_SHARED_CAST.)
struct CastRow
{
    const char* base;
    const char* derived;
    unsigned in;
};

inline constexpr CastRow kCastList[] = {
    {"_p_quelbo__DataAccess", "_p_quelbo__RandomAccess", kMain},
    {"_p_quelbo__DataAccess", "_p_quelbo__StreamAccess", kMain},
    {"_p_quelbo__Error", "_p_quelbo__InvalidArgument", kMain | kGpu},
    {"_p_quelbo__Error", "_p_quelbo__NotImplemented", kMain | kGpu},
    {"_p_quelbo__Extension", "_p_quelbo__ColumnUnitExtension", kMain},
    {"_p_quelbo__Extension", "_p_quelbo__ParallelAccessExtension", kMain},
    {"_p_quelbo__Extension", "_p_quelbo__TilingInfoExtension", kMain},
    {"_p_quelbo__Extension", "_p_quelbo__ViewOriginExtension", kMain},
    {"_p_quelbo__View", "_p_quelbo__DataFrameView", kMain},
    {"_p_quelbo__View", "_p_quelbo__ImageView", kMain},
    {"_p_quelbo__View", "_p_quelbo__LodImageView", kMain},
    {"_p_quelbo__View", "_p_quelbo__MultiImageView", kMain},
    {"_p_std__exception", "_p_quelbo__Error", kMain},
    {"_p_std__exception", "_p_quelbo__InvalidArgument", kMain},
    {"_p_std__exception", "_p_quelbo__NotImplemented", kMain},
};

constexpr int compare_text(const char* a, const char* b)
{
    while (*a && *a == *b) {
        ++a;
        ++b;
    }
    return int(static_cast<unsigned char>(*a)) - int(static_cast<unsigned char>(*b));
}

constexpr bool rows_sorted()
{
    for (size_t i = 1; i < kTypeListSize; ++i)
        if (compare_text(kTypeList[i - 1].mangled, kTypeList[i].mangled) >= 0)
            return false;
    return true;
}
static_assert(rows_sorted(), "the rows are in byte order of their mangled names, each once");

// The row of a mangled name, or -1.
constexpr int type_row(const char* mangled)
{
    for (size_t i = 0; i < kTypeListSize; ++i)
        if (compare_text(kTypeList[i].mangled, mangled) == 0)
            return int(i);
    return -1;
}

// Is `name` one of the printable forms of the row's text (each less its " *")?
constexpr bool has_form(const char* str, const char* name)
{
    for (size_t begin = 0;;) {
        size_t i = 0;
        while (name[i] && str[begin + i] == name[i])
            ++i;
        const char* rest = str + begin + i;
        if (!name[i] && rest[0] == ' ' && rest[1] == '*' && (rest[2] == '|' || rest[2] == '\0'))
            return true;
        while (str[begin] && str[begin] != '|')
            ++begin;
        if (!str[begin])
            return false;
        ++begin;
    }
}

// Does the module (kMain or kGpu) carry the row? With which printable names?
constexpr bool carries(unsigned module, const TypeRow& r)
{
    return (r.in & module) != 0 || (module == kGpu && (r.in & kGpuBare) != 0);
}
constexpr const char* printable(unsigned module, const TypeRow& r)
{
    return module == kGpu && (r.in & kGpuBare) != 0 ? nullptr : r.str;
}

// The row of a native type, found by its printable name: the row of _quelbo's
// that has the name, else the GPU module's (each module has its own row for
// quelbo::Region2u64); -1 for a name of no row, -2 for a name of two rows of
// one module.
constexpr int named_row(const char* name)
{
    int found = -1;
    for (bool main_rows : {true, false}) {
        for (size_t i = 0; i < kTypeListSize; ++i) {
            if (carries(kMain, kTypeList[i]) != main_rows || !has_form(kTypeList[i].str, name))
                continue;
            if (found >= 0)
                return -2;
            found = int(i);
        }
        if (found >= 0)
            return found;
    }
    return -1;
}

// The number of rows a module carries.
constexpr size_t rows_in(unsigned module)
{
    size_t n = 0;
    for (const TypeRow& r : kTypeList)
        n += carries(module, r);
    return n;
}

// Every cast joins two rows of the module that carries it.
constexpr bool casts_listed()
{
    for (const CastRow& c : kCastList) {
        int b = type_row(c.base), d = type_row(c.derived);
        if (b < 0 || d < 0)
            return false;
        for (unsigned module : {kMain, kGpu})
            if ((c.in & module) && !(carries(module, kTypeList[b]) && carries(module, kTypeList[d])))
                return false;
    }
    return true;
}
static_assert(casts_listed(), "every cast joins two rows of the modules that carry it");
static_assert(rows_in(kMain) == 184, "_quelbo carries 184 types");
static_assert(rows_in(kGpu) == 99, "_quelbo_cuda carries 99 types");

// The row of a type the module declares; a name missing from the list, or
// naming two rows of one module, stops the build.
template <int I>
struct Listed
{
    static_assert(I >= 0, "every type of the modules is one row of type_list.h in each module");
    static constexpr const TypeRow& row = kTypeList[I];
};

} // namespace qw
