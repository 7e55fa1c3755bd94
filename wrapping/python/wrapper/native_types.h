// The native types whose texts the families write: each names itself once,
// by its name, which finds its row of type_list.h (or, outside the list, by
// its written text), and every argument kind and traits struct derives its
// texts from it (runtime/type_text.h). The headers are those of the types
// named here.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <ostream>
#include <string>

#include "quelbo/access_factory.h"
#include "quelbo/array.h"
#include "quelbo/data_access.h"
#include "quelbo/data_frame.h"
#include "quelbo/data_type.h"
#include "quelbo/dependency_graph.h"
#include "quelbo/element_types.h"
#include "quelbo/error.h"
#include "quelbo/extension.h"
#include "quelbo/flags.h"
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

namespace qw {

QW_NATIVE(quelbo::ColumnUnitExtension);
QW_NATIVE(quelbo::ConstMetadataIteratorObject);
QW_NATIVE(quelbo::ConstMetadataNodeIterator);
QW_NATIVE(quelbo::DataAccess);
QW_NATIVE(quelbo::DataFrameView);
QW_NATIVE(quelbo::DataFrameViewFactory);
QW_NATIVE(quelbo::DataType);
QW_NATIVE(quelbo::DataFrameViewProvider);
QW_NATIVE(quelbo::DataStorage);
QW_NATIVE(quelbo::DependencyGraph);
QW_NATIVE(quelbo::Error);
QW_NATIVE(quelbo::Extension);
QW_NATIVE(quelbo::ExtensionProvider);
QW_NATIVE(quelbo::HTTPHeaders);
QW_NATIVE(quelbo::HTTPHeaders::Entry);
QW_NATIVE(quelbo::ImageDimension);
QW_NATIVE(quelbo::ImageInfoProperty);
QW_NATIVE(quelbo::ImageProperties);
QW_NATIVE(quelbo::ImageType);
QW_NATIVE(quelbo::ImageTypeId);
QW_NATIVE(quelbo::ImageView);
QW_NATIVE(quelbo::ImageViewFactory);
QW_NATIVE(quelbo::ImageViewProvider);
QW_NATIVE(quelbo::Indexer);
QW_NATIVE(quelbo::InvalidArgument);
QW_NATIVE(quelbo::LodImageView);
QW_NATIVE(quelbo::LodImageViewProvider);
QW_NATIVE(quelbo::Logger);
QW_NATIVE(quelbo::Matrix3d);
QW_NATIVE(quelbo::Matrix3f);
QW_NATIVE(quelbo::Matrix4d);
QW_NATIVE(quelbo::Matrix4f);
QW_NATIVE(quelbo::MetadataIteratorObject);
QW_NATIVE(quelbo::MetadataNode);
QW_NATIVE(quelbo::MetadataNodeFactory);
QW_NATIVE(quelbo::MetadataNodeHelper);
QW_NATIVE(quelbo::MetadataNodeIterator);
QW_NATIVE(quelbo::MultiImageView);
QW_NATIVE(quelbo::MultiImageViewFactory);
QW_NATIVE(quelbo::MultiImageViewProvider);
QW_NATIVE(quelbo::NotImplemented);
QW_NATIVE(quelbo::ParallelAccessExtension);
QW_NATIVE(quelbo::RandomAccess);
QW_NATIVE(quelbo::RandomAccessFactory);
QW_NATIVE(quelbo::RandomAccessProvider);
QW_NATIVE(quelbo::Region2u64);
QW_NATIVE(quelbo::Region3u64);
QW_NATIVE(quelbo::Region4u64);
QW_NATIVE(quelbo::RegionXu64);
QW_NATIVE(quelbo::Serialization);
QW_NATIVE(quelbo::SpatialCalibrationProperty);
QW_NATIVE(quelbo::SpatialDirections);
QW_NATIVE(quelbo::StreamAccess);
QW_NATIVE(quelbo::StreamAccessFactory);
QW_NATIVE(quelbo::StreamAccessProvider);
QW_NATIVE(quelbo::TilingInfoExtension);
QW_NATIVE(quelbo::TransformMatrix3Factory);
QW_NATIVE(quelbo::TransformMatrix4Factory);
QW_NATIVE(quelbo::UidGenerator);
QW_NATIVE(quelbo::Uri);
QW_NATIVE(quelbo::VariantDataValue);
QW_NATIVE(quelbo::VariantDataValueFactory);
QW_NATIVE(quelbo::VersionInfo);
QW_NATIVE(quelbo::Versioning);
QW_NATIVE(quelbo::View);
QW_NATIVE(quelbo::ViewOriginExtension);
QW_NATIVE(quelbo::Writer);

// The element types, their typed pointers' rows, and the classes of each:
// the four vectors and the value array.
#define QW_NATIVE_ELEMENT(T, Suffix, Id)                                                                               \
    QW_NATIVE(T);                                                                                                      \
    QW_NATIVE(quelbo::Vector2##Suffix);                                                                                \
    QW_NATIVE(quelbo::Vector3##Suffix);                                                                                \
    QW_NATIVE(quelbo::Vector4##Suffix);                                                                                \
    QW_NATIVE(quelbo::VectorX##Suffix);                                                                                \
    QW_NATIVE(quelbo::ArrayX##Suffix);
QUELBO_ELEMENT_TYPES(QW_NATIVE_ELEMENT)
#undef QW_NATIVE_ELEMENT

// A template of the list over one type, named by its template form:
// TemplateRow<kFlagSetOpen, quelbo::ImageCapability> names the row of
// "quelbo::FlagSet< quelbo::ImageCapability >".
template <auto Open, class Argument>
struct TemplateRow : RowName<named_row(JoinedText<Open, &Named<Argument>::text, spelling::arguments_close>::text)>
{
};

// The capability sets, named by their flags.
inline constexpr char kFlagSetOpen[] = "quelbo::FlagSet< ";
template <class Flag>
struct Native<quelbo::FlagSet<Flag>> : TemplateRow<kFlagSetOpen, Flag>
{
};
#define QW_NATIVE_CAPABILITY(Flag) QW_NATIVE_TEXT(quelbo::Flag, "quelbo::" #Flag)
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

inline constexpr char kInitializerListOpen[] = "std::initializer_list< ";
template <class T>
struct Native<std::initializer_list<T>> : TemplateRow<kInitializerListOpen, T>
{
};
QW_NATIVE(std::ostream);
QW_NATIVE(std::exception);
QW_NATIVE(char);
QW_NATIVE(void);

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
