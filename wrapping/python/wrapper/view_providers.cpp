// The view and extension providers, and DataFrameViewFactory.
#include "data_frames.h"
#include "runtime/members.h"
#include "quelbo/providers.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::DataFrameViewFactory;
using quelbo::Extension;
using quelbo::ImageView;
using quelbo::View;

QW_TYPE(quelbo::ImageViewProvider);
QW_TYPE(quelbo::LodImageViewProvider);
QW_TYPE(quelbo::DataFrameViewProvider);
QW_TYPE(quelbo::MultiImageViewProvider);
QW_TYPE(quelbo::ExtensionProvider);
QW_TYPE(quelbo::DataFrameViewFactory);
using ImageProviderTr = Traits<quelbo::ImageViewProvider>;
using LodProviderTr = Traits<quelbo::LodImageViewProvider>;
using FrameProviderTr = Traits<quelbo::DataFrameViewProvider>;
using MultiProviderTr = Traits<quelbo::MultiImageViewProvider>;
using ExtensionProviderTr = Traits<quelbo::ExtensionProvider>;
using FactoryTr = Traits<quelbo::DataFrameViewFactory>;

// <Provider>_<name>(object): one static operation over a shared pointer of
// Arg (None empty, a derived handle through its cast).
#define QW_PROVIDE(m, Class, Name, Arg, Op, doc)                                                                       \
    m.add<Fn<QW_NAME(#Class "_" #Name), &quelbo::Class::Op, SharedArg<Arg>>>(doc)

void add_providers(Methods& m)
{
    QW_PROVIDE(m, ImageViewProvider, is_image, View, isImage, "Checks if a given View is an ImageView.");
    QW_PROVIDE(m, ImageViewProvider, to_image, View, toImage,
               "Convert a View into an ImageView; null if the view is not an ImageView.");
    QW_PROVIDE(m, ImageViewProvider, to_read_only, ImageView, toReadOnly,
               "Remove all capacities except READ to an ImageView.\n"
               "If given ImageView only has READ capacity, it is returned directly.");
    QW_PROVIDE(m, ImageViewProvider, to_write_only, ImageView, toWriteOnly,
               "Remove all capacities except WRITE to an ImageView.\n"
               "If given ImageView only has WRITE capacity, it is returned directly.");
    add_class<ImageProviderTr, NewDefault>(m);

    QW_PROVIDE(m, LodImageViewProvider, is_lod_image, View, isLodImage, "Checks if a given View is a LodImageView.");
    QW_PROVIDE(m, LodImageViewProvider, to_lod_image, View, toLodImage,
               "Convert a View into a LodImageView; null if the view is not a LodImageView.");
    add_class<LodProviderTr, NewDefault>(m);

    QW_PROVIDE(m, DataFrameViewProvider, is_data_frame, View, isDataFrame,
               "Checks if a given View is a DataFrameView.");
    QW_PROVIDE(m, DataFrameViewProvider, to_data_frame, View, toDataFrame,
               "Convert a View into a DataFrameView; null if the view is not a DataFrameView.");
    add_class<FrameProviderTr, NewDefault>(m);

    QW_PROVIDE(m, MultiImageViewProvider, is_multi_image, View, isMultiImage,
               "Checks if a given View is a MultiImageView.");
    QW_PROVIDE(m, MultiImageViewProvider, to_multi_image, View, toMultiImage,
               "Convert a View into a MultiImageView; null if the view is not a MultiImageView.");
    add_class<MultiProviderTr, NewDefault>(m);

    QW_PROVIDE(m, ExtensionProvider, to_tiling_info, Extension, toTilingInfo,
               "Convert an Extension into a TilingInfoExtension; null if it is of another kind.");
    QW_PROVIDE(m, ExtensionProvider, to_parallel_access, Extension, toParallelAccess,
               "Convert an Extension into a ParallelAccessExtension; null if it is of another kind.");
    QW_PROVIDE(m, ExtensionProvider, to_view_origin, Extension, toViewOrigin,
               "Convert an Extension into a ViewOriginExtension; null if it is of another kind.");
    add_class<ExtensionProviderTr, NewDefault>(m);
}
#undef QW_PROVIDE
QW_FAMILY(add_providers);

// ------------------------------------------------------------ the factory

struct allocate : Declare<allocate, Params<TableShape, ColumnNames, ColumnTypes>>
{
    static constexpr const char* name = "DataFrameViewFactory__allocate";
    static constexpr const char* doc =
        "Create an in-memory DataFrameView of the given shape, column names and column data types.\n"
        "Warning: No check is done on inputs. Pass arguments very carefully.\n"
        "The names and the types must have the same element count, equal to shape[0]; "
        "column count and row count cannot be 0 (Error otherwise).\n"
        "An empty data frame is made by the parameterless form.\n"
        ":return: an in-memory DataFrameView";
    static constexpr auto call = [](quelbo::Vector2u64& shape, StringList& names,
                                    std::vector<quelbo::DataType>& types) {
        return names.returned(shared(DataFrameViewFactory::allocate(shape, names.items(), types)));
    };
};

struct allocate_empty : Declare<allocate_empty, Params<>>
{
    static constexpr const char* name = "DataFrameViewFactory__allocate_empty";
    static constexpr const char* doc =
        "This factory aims to create an empty DataFrame view.\nColumns and rows can be added later.";
    static constexpr auto call = [] { return DataFrameViewFactory::allocate(); };
};

void add_data_frame_factory(Methods& m)
{
    m.add<allocate>();
    m.add<allocate_empty>();
    add_class<FactoryTr, NewDefault>(m);
}
QW_FAMILY(add_data_frame_factory);

} // namespace
