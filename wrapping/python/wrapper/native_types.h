// The native types whose texts the families write: each names itself once,
// through its row of type_list.h (or, outside the list, its written text),
// and every argument kind and traits struct derives its texts from it
// (runtime/type_text.h).
#pragma once

#include <initializer_list>
#include <ostream>
#include <string>

#include "quelbo/access_factory.h"
#include "quelbo/array.h"
#include "quelbo/data_access.h"
#include "quelbo/data_frame.h"
#include "quelbo/data_type.h"
#include "quelbo/dependency_graph.h"
#include "quelbo/error.h"
#include "quelbo/extension.h"
#include "quelbo/http_headers.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_type.h"
#include "quelbo/image_view.h"
#include "quelbo/image_view_factory.h"
#include "quelbo/indexer.h"
#include "quelbo/lod_image_view.h"
#include "quelbo/logger.h"
#include "quelbo/matrix.h"
#include "quelbo/metadata.h"
#include "quelbo/multi_image_view.h"
#include "quelbo/providers.h"
#include "quelbo/random_access.h"
#include "quelbo/region.h"
#include "quelbo/serialization.h"
#include "quelbo/stream_access.h"
#include "quelbo/transform.h"
#include "quelbo/uid.h"
#include "quelbo/uri.h"
#include "quelbo/vector.h"
#include "quelbo/version.h"
#include "quelbo/view.h"
#include "quelbo/writer.h"
#include "runtime/type_text.h"
#include "native_types.h"

namespace qw {

QW_NATIVE(quelbo::ColumnUnitExtension, "_p_quelbo__ColumnUnitExtension");
QW_NATIVE(quelbo::ConstMetadataIteratorObject, "_p_quelbo__ConstMetadataIteratorObject");
QW_NATIVE(quelbo::ConstMetadataNodeIterator, "_p_quelbo__ConstMetadataNodeIterator");
QW_NATIVE(quelbo::DataAccess, "_p_quelbo__DataAccess");
QW_NATIVE(quelbo::DataFrameView, "_p_quelbo__DataFrameView");
QW_NATIVE(quelbo::DataFrameViewFactory, "_p_quelbo__DataFrameViewFactory");
QW_NATIVE(quelbo::DataType, "_p_quelbo__DataType");
QW_NATIVE(quelbo::DataFrameViewProvider, "_p_quelbo__DataFrameViewProvider");
QW_NATIVE(quelbo::DataStorage, "_p_quelbo__DataStorage");
QW_NATIVE(quelbo::DependencyGraph, "_p_quelbo__DependencyGraph");
QW_NATIVE(quelbo::Error, "_p_quelbo__Error");
QW_NATIVE(quelbo::Extension, "_p_quelbo__Extension");
QW_NATIVE(quelbo::ExtensionProvider, "_p_quelbo__ExtensionProvider");
QW_NATIVE(quelbo::HTTPHeaders, "_p_quelbo__HTTPHeaders");
QW_NATIVE(quelbo::HTTPHeaders::Entry, "_p_quelbo__HTTPHeaders__Entry");
QW_NATIVE(quelbo::ImageDimension, "_p_quelbo__ImageDimension");
QW_NATIVE(quelbo::ImageInfoProperty, "_p_quelbo__ImageInfoProperty");
QW_NATIVE(quelbo::ImageProperties, "_p_quelbo__ImageProperties");
QW_NATIVE(quelbo::ImageType, "_p_quelbo__ImageType");
QW_NATIVE(quelbo::ImageTypeId, "_p_quelbo__ImageTypeId");
QW_NATIVE(quelbo::ImageView, "_p_quelbo__ImageView");
QW_NATIVE(quelbo::ImageViewFactory, "_p_quelbo__ImageViewFactory");
QW_NATIVE(quelbo::ImageViewProvider, "_p_quelbo__ImageViewProvider");
QW_NATIVE(quelbo::Indexer, "_p_quelbo__Indexer");
QW_NATIVE(quelbo::InvalidArgument, "_p_quelbo__InvalidArgument");
QW_NATIVE(quelbo::LodImageView, "_p_quelbo__LodImageView");
QW_NATIVE(quelbo::LodImageViewProvider, "_p_quelbo__LodImageViewProvider");
QW_NATIVE(quelbo::Logger, "_p_quelbo__Logger");
QW_NATIVE(quelbo::Matrix3d, "_p_quelbo__MatrixT_double_3_t");
QW_NATIVE(quelbo::Matrix3f, "_p_quelbo__MatrixT_float_3_t");
QW_NATIVE(quelbo::Matrix4d, "_p_quelbo__MatrixT_double_4_t");
QW_NATIVE(quelbo::Matrix4f, "_p_quelbo__MatrixT_float_4_t");
QW_NATIVE(quelbo::MetadataIteratorObject, "_p_quelbo__MetadataIteratorObject");
QW_NATIVE(quelbo::MetadataNode, "_p_quelbo__MetadataNode");
QW_NATIVE(quelbo::MetadataNodeFactory, "_p_quelbo__MetadataNodeFactory");
QW_NATIVE(quelbo::MetadataNodeHelper, "_p_quelbo__MetadataNodeHelper");
QW_NATIVE(quelbo::MetadataNodeIterator, "_p_quelbo__MetadataNodeIterator");
QW_NATIVE(quelbo::MultiImageView, "_p_quelbo__MultiImageView");
QW_NATIVE(quelbo::MultiImageViewFactory, "_p_quelbo__MultiImageViewFactory");
QW_NATIVE(quelbo::MultiImageViewProvider, "_p_quelbo__MultiImageViewProvider");
QW_NATIVE(quelbo::NotImplemented, "_p_quelbo__NotImplemented");
QW_NATIVE(quelbo::ParallelAccessExtension, "_p_quelbo__ParallelAccessExtension");
QW_NATIVE(quelbo::RandomAccess, "_p_quelbo__RandomAccess");
QW_NATIVE(quelbo::RandomAccessFactory, "_p_quelbo__RandomAccessFactory");
QW_NATIVE(quelbo::RandomAccessProvider, "_p_quelbo__RandomAccessProvider");
QW_NATIVE(quelbo::Region2u64, "_p_quelbo__RegionT_uint64_t_2_t");
QW_NATIVE(quelbo::Region3u64, "_p_quelbo__RegionT_uint64_t_3_t");
QW_NATIVE(quelbo::Region4u64, "_p_quelbo__RegionT_uint64_t_4_t");
QW_NATIVE(quelbo::RegionXu64, "_p_quelbo__RegionXT_uint64_t_t");
QW_NATIVE(quelbo::Serialization, "_p_quelbo__Serialization");
QW_NATIVE(quelbo::SpatialCalibrationProperty, "_p_quelbo__SpatialCalibrationProperty");
QW_NATIVE(quelbo::SpatialDirections, "_p_quelbo__SpatialDirections");
QW_NATIVE(quelbo::StreamAccess, "_p_quelbo__StreamAccess");
QW_NATIVE(quelbo::StreamAccessFactory, "_p_quelbo__StreamAccessFactory");
QW_NATIVE(quelbo::StreamAccessProvider, "_p_quelbo__StreamAccessProvider");
QW_NATIVE(quelbo::TilingInfoExtension, "_p_quelbo__TilingInfoExtension");
QW_NATIVE(quelbo::TransformMatrix3Factory, "_p_quelbo__TransformMatrix3Factory");
QW_NATIVE(quelbo::TransformMatrix4Factory, "_p_quelbo__TransformMatrix4Factory");
QW_NATIVE(quelbo::UidGenerator, "_p_quelbo__UidGenerator");
QW_NATIVE(quelbo::Uri, "_p_quelbo__Uri");
QW_NATIVE(quelbo::VariantDataValue, "_p_quelbo__VariantDataValue");
QW_NATIVE(quelbo::VariantDataValueFactory, "_p_quelbo__VariantDataValueFactory");
QW_NATIVE(quelbo::VersionInfo, "_p_quelbo__VersionInfo");
QW_NATIVE(quelbo::Versioning, "_p_quelbo__Versioning");
QW_NATIVE(quelbo::View, "_p_quelbo__View");
QW_NATIVE(quelbo::ViewOriginExtension, "_p_quelbo__ViewOriginExtension");
QW_NATIVE(quelbo::Writer, "_p_quelbo__Writer");

// The classes of one element type: the four vectors and the value array.
#define QW_NATIVE_ELEMENT(Type, Suffix)                                                                                \
    QW_NATIVE(quelbo::Vector2##Suffix, "_p_quelbo__VectorT_" #Type "_2_t");                                            \
    QW_NATIVE(quelbo::Vector3##Suffix, "_p_quelbo__VectorT_" #Type "_3_t");                                            \
    QW_NATIVE(quelbo::Vector4##Suffix, "_p_quelbo__VectorT_" #Type "_4_t");                                            \
    QW_NATIVE(quelbo::VectorX##Suffix, "_p_quelbo__VectorXT_" #Type "_t");                                             \
    QW_NATIVE(quelbo::ArrayX##Suffix, "_p_quelbo__ArrayXT_" #Type "_t")
QW_NATIVE_ELEMENT(uint8_t, u8);
QW_NATIVE_ELEMENT(int8_t, i8);
QW_NATIVE_ELEMENT(uint16_t, u16);
QW_NATIVE_ELEMENT(int16_t, i16);
QW_NATIVE_ELEMENT(uint32_t, u32);
QW_NATIVE_ELEMENT(int32_t, i32);
QW_NATIVE_ELEMENT(uint64_t, u64);
QW_NATIVE_ELEMENT(int64_t, i64);
QW_NATIVE_ELEMENT(float, f);
QW_NATIVE_ELEMENT(double, d);
#undef QW_NATIVE_ELEMENT

// The capability sets; a capability names itself by its set's template argument.
#define QW_NATIVE_CAPABILITY(Flag)                                                                                     \
    QW_NATIVE(quelbo::Flag##Set, "_p_quelbo__FlagSetT_quelbo__" #Flag "_t");                                           \
    template <>                                                                                                        \
    struct Native<quelbo::Flag> : FirstArgument<quelbo::Flag##Set>                                                     \
    {                                                                                                                  \
    }
QW_NATIVE_CAPABILITY(StreamAccessCapability);
QW_NATIVE_CAPABILITY(RandomAccessCapability);
QW_NATIVE_CAPABILITY(ParallelAccessCapability);
QW_NATIVE_CAPABILITY(ImageCapability);
QW_NATIVE_CAPABILITY(MultiImageCapability);
QW_NATIVE_CAPABILITY(DataFrameCapability);
#undef QW_NATIVE_CAPABILITY
// A capability set as its alias writes it: Named<CapabilitySet<quelbo::ImageCapability>>
// is "quelbo::ImageCapabilitySet".
inline constexpr char kSetSuffix[] = "Set";
template <class Flag>
struct CapabilitySet;
template <class Flag>
struct Native<CapabilitySet<Flag>> : JoinedText<&Native<Flag>::text, kSetSuffix>
{
};

QW_NATIVE(std::initializer_list<quelbo::HTTPHeaders::Entry>, "_p_std__initializer_listT_quelbo__HTTPHeaders__Entry_t");
QW_NATIVE(std::ostream, "_p_std__ostream");

// The library's namespace, the scope of its free functions:
// member_of<Library, kName> is "quelbo::<name>".
struct Library;
QW_NATIVE_TEXT(Library, "quelbo");

QW_NATIVE_TEXT(quelbo::AccessCapabilities, "quelbo::AccessCapabilities");
QW_NATIVE_TEXT(quelbo::DataTypeId, "quelbo::DataTypeId");
QW_NATIVE_TEXT(quelbo::DataTypeInterpretation, "quelbo::DataTypeInterpretation");
QW_NATIVE_TEXT(quelbo::ImageInterpretation, "quelbo::ImageInterpretation");
QW_NATIVE_TEXT(quelbo::LogLevel, "quelbo::LogLevel");
QW_NATIVE_TEXT(quelbo::MemoryLayout, "quelbo::MemoryLayout");
QW_NATIVE_TEXT(quelbo::PrimitiveTypeId, "quelbo::PrimitiveTypeId");
QW_NATIVE_TEXT(quelbo::SeekOrigin, "quelbo::SeekOrigin");
QW_NATIVE_TEXT(std::string, "std::string");

} // namespace qw
