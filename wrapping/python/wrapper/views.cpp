// View and ImageView: the view base, queries, data transfer and the setters
// of the image's properties and metadata.
#include "views.h"

#include "buffer_args.h"
#include "properties.h"
#include "quelbo/image_properties.h"
#include "quelbo/metadata.h"
#include "quelbo/region.h"
#include "readonly/readonly_args.h"
#include "runtime/declare.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageView;
using quelbo::View;

constexpr auto kView = named<quelbo::View*>;
constexpr auto kImage = named<quelbo::ImageView*>;
constexpr auto kConstImage = named<const quelbo::ImageView*>;

// ------------------------------------------------------------------ View

using ViewTr = Traits<View>;

struct new_View : Declare<new_View, Params<>>
{
    static constexpr const char* name = "new_View";
    static constexpr auto call = [] { return constructed(new std::shared_ptr<View>(std::make_shared<View>())); };
};

using ViewSelf = SharedSelf<View, kView>;

// --------------------------------------------------------------- queries

// ImageView_<Name>(view): one member of the view, its result converted.
using ImageViewTr = Traits<ImageView>;
template <const char* Name, auto Self, auto Member>
void add_query(Methods& m, const char* doc = nullptr)
{
    m.add<Getter<ImageViewTr, Name, SharedSelf<ImageView, Self>, Member>>(doc);
}

// The directions as the value class the module knows.
quelbo::SpatialDirections directions(ImageView* v)
{
    return quelbo::SpatialDirections(v->spatialDirections());
}

using ImageSelf = SharedSelf<ImageView, kImage>;
constexpr auto kCapabilities = named<CapabilitySet<quelbo::ImageCapability>>;

// ---------------------------------------------------------- data transfer

constexpr auto kRegion = named<const quelbo::RegionXu64&>;
using Index = Seq<quelbo::VectorXu64>;
using Region = Copy<quelbo::RegionXu64, kRegion>;

// ImageView_<name>(view, where, buffer): the buffer of ___read / ___write
// holds one sample, that of the region transfers the region's samples, densely.
template <const char* Name, class Where, bool Read, auto Op>
using transfer = BlockTransfer<Name, Op, ImageSelf, Block<Read>, Where>;

void add_views(Methods& m)
{
    m.add<new_View>();
    m.add<SharedDelete<ViewTr>>();
    m.add<Fn<QW_NAME("View__extension"), &View::extension, ViewSelf, Arg<uint64_t, text::size>>>(
        "Get an extension of the view, corresponding to the given identifier.\n"
        ":raises: Error When the required extension is not available.");
    m.add<Fn<QW_NAME("View_view_origin"), &View::viewOrigin, ViewSelf>>("Shortcut to access to ViewOrigin extension");
    add_hooks<std::shared_ptr<View>>(m, "View");
}
QW_FAMILY(add_views);

void add_image_views(Methods& m)
{
    m.add<SharedDelete<ImageViewTr>>();
    add_query<QW_NAME("get_capabilities"), kConstImage, &ImageView::capabilities>(m);
    m.add<Fn<QW_NAME("ImageView_support"), &ImageView::support, ImageSelf,
             FlagsArg<quelbo::ImageCapability, kCapabilities>>>(
        "Checks if the ImageView supports the given capabilities.");
    add_query<QW_NAME("get_shape"), kImage, &ImageView::shape>(
        m, "Return the shape of the image, each component containing the size in this dimension.\n"
           "For a 2D image: columns then rows; for a 3D image: columns, rows and slices.");
    add_query<QW_NAME("get_dimension_count"), kImage, &ImageView::dimensionCount>(m,
                                                                                  "Returns the dimension of the View.");
    add_query<QW_NAME("get_data_type"), kImage, &ImageView::dataType>(m);
    add_query<QW_NAME("__get_properties"), kImage, &ImageView::properties>(
        m, "Return the image's properties (shared with the view).");
    add_query<QW_NAME("__get_metadata"), kConstImage, &ImageView::metadata>(
        m, "Return the root node of the metadata attached to this image.\nAvailable with READ capability.\n:raises: "
           "NotImplemented otherwise.");
    add_query<QW_NAME("to_string"), kConstImage, &ImageView::toString>(m);
    add_query<QW_NAME("_get_image_interpretation"), kImage, &ImageView::imageInterpretation>(
        m, "Shortcut to the image interpretation of the image properties.");
    add_query<QW_NAME("get_axes_interpretation"), kImage, &ImageView::axesInterpretation>(
        m, "Shortcut to the axes interpretation of the image properties.");
    add_query<QW_NAME("get_spatial_origin"), kImage, &ImageView::spatialOrigin>(
        m, "Shortcut to the spatial origin of the image properties.");
    add_query<QW_NAME("get_spatial_spacing"), kImage, &ImageView::spatialSpacing>(
        m, "Shortcut to the spatial spacing of the image properties.");
    add_query<QW_NAME("get_spatial_unit"), kImage, &ImageView::spatialUnit>(
        m, "Shortcut to the spatial unit of the image properties.");
    add_query<QW_NAME("get_spatial_directions"), kImage, &directions>(
        m, "Shortcut to the spatial directions of the image properties.");
    add_query<QW_NAME("get_bit_depth"), kImage, &ImageView::bitDepth>(
        m, "Shortcut to the bit depth of the image properties.");
    add_query<QW_NAME("get_has_alpha"), kImage, &ImageView::hasAlpha>(
        m, "Shortcut to the alpha status of the image properties.");
    add_query<QW_NAME("get_value_range"), kImage, &ImageView::valueRange>(
        m, "Shortcut to the sample value range of the image properties.");
    add_query<QW_NAME("tiling_info"), kImage, &ImageView::tilingInfo>(m, "Shortcut to retrieve TilingInfo extension.");
    add_query<QW_NAME("parallel_access"), kImage, &ImageView::parallelAccess>(
        m, "Shortcut to retrieve ParallelAccess extension");
    m.add<transfer<QW_NAME("ImageView___read"), Index, true, &ImageView::readChecked>>(
        "Read the data at the given index into a buffer.\nAvailable with READ capability; by default reads a "
        "region of one pixel through readRegion.");
    m.add<transfer<QW_NAME("ImageView___read_region"), Region, true, &ImageView::readRegionChecked>>(
        "Read the data of the given region into a buffer, densely.");
    m.add<transfer<QW_NAME("ImageView___write"), Index, false, &ImageView::writeChecked>>(
        "Write value from a buffer at the given index.\nAvailable with WRITE capability; by default writes a "
        "region of one pixel through writeRegion.");
    m.add<transfer<QW_NAME("ImageView___write_region"), Region, false, &ImageView::writeRegionChecked>>(
        "Write a input buffer into a given region of the image\nAvailable with WRITE capability.\n:raises: "
        "NotImplemented otherwise.");
    m.add<Fn<QW_NAME("ImageView_reshape"), &ImageView::reshape, ImageSelf, Seq<quelbo::VectorXu64>, DTypeArg<>>>(
        "Change the shape and sample data type of the image.\nAvailable with RESHAPE capability.\nAll the "
        "image's data is invalidated after this operation.\n:raises: NotImplemented if the view cannot reshape.");
    // Adopts only a holder that native code handed over (quelbo::handOver).
    m.add<CreateFromPointer<QW_NAME("ImageView_create_from_pointer"), ImageView>>(
        "Create an ImageView from a pointer to an ImageView shared pointer as an int.");
    add_hooks<ViewPtr>(m, "ImageView", false);
}
QW_FAMILY(add_image_views);

// ---------------------------------------------------------------- setters

constexpr auto kPropertiesT = named<std::shared_ptr<const quelbo::ImageProperties>>;

// Properties that must be given: a view always has properties, so None is
// refused like a missing reference.
struct Required : ProxyShared<const quelbo::ImageProperties, kPropertiesT>
{
    static bool get(PyObject* o, const ArgId& a, value& v)
    {
        if (!proxy_shared_arg(o, a, v))
            return false;
        if (!v)
            fail_null(a);
        return v != nullptr;
    }
};

// The value of a property setter, of the type the member takes, by the
// properties' parameter rule.
template <auto Member, auto Text>
struct SetterValue : Kind<Text>
{
    using value = typename props::SetterArg<decltype(Member)>::type;
    static bool get(PyObject* o, const ArgId& a, value& v) { return props::param(o, a, v); }
    static value& pass(value& v) { return v; }
};

// ImageView_<Name>(view, value): one shortcut setter; `Type` is the value's
// declared type in messages.
template <const char* Name, auto Type, auto Member>
struct shortcut : Declare<shortcut<Name, Type, Member>, Params<ImageSelf, SetterValue<Member, Type>>>
{
    static const char* name()
    {
        static const char* fn = joined("ImageView_", Name);
        return fn;
    }
    static constexpr auto call = Member;
};

template <const char* Name, auto Type, auto Member>
void add_shortcut(Methods& m, const char* doc)
{
    m.add<shortcut<Name, Type, Member>>(doc);
}

constexpr auto kInterpretationT = named<quelbo::ImageInterpretation>;
constexpr auto kAxesT = named<const quelbo::ImageType>;
constexpr auto kVector3T = named<const quelbo::Vector3d&>;
constexpr auto kUnitT = named<const std::string&>;
constexpr auto kDirectionsT = named<const quelbo::SpatialDirections&>;
constexpr auto kVector2T = named<const quelbo::Vector2d&>;

void add_image_view_properties(Methods& m)
{
    m.add<Fn<QW_NAME("ImageView_set_properties"), &ImageView::setProperties, ImageSelf, Required>>(
        "Update the image's properties.\nAvailable with WRITE capability.\n:raises: "
        "NotImplemented if the view does not support writing.");
    // set_metadata(view, None) clears the metadata.
    m.add<Fn<QW_NAME("ImageView_set_metadata"), &ImageView::setMetadata, ImageSelf, ProxyShared<quelbo::MetadataNode>>>(
        "Attach a new metadata node to the image.\nAvailable with WRITE "
        "capability.\n:raises: NotImplemented if the view does not support writing.");
    add_shortcut<QW_NAME("set_image_interpretation"), kInterpretationT, &ImageView::setImageInterpretation>(
        m, "Shortcut to set the image interpretation into the image properties.");
    add_shortcut<QW_NAME("set_axes_interpretation"), kAxesT, &ImageView::setAxesInterpretation>(
        m, "Shortcut to set the axes interpretation into the image properties.");
    add_shortcut<QW_NAME("set_spatial_origin"), kVector3T, &ImageView::setSpatialOrigin>(
        m, "Shortcut to set the spatial origin into the image properties.");
    add_shortcut<QW_NAME("set_spatial_spacing"), kVector3T, &ImageView::setSpatialSpacing>(
        m, "Shortcut to set the spatial spacing into the image properties.");
    add_shortcut<QW_NAME("set_spatial_unit"), kUnitT, &ImageView::setSpatialUnit>(
        m, "Shortcut to set the spatial unit into the image properties.");
    add_shortcut<QW_NAME("set_spatial_directions"), kDirectionsT, &ImageView::setSpatialDirections>(
        m, "Shortcut to set the spatial directions into the image properties.");
    add_shortcut<QW_NAME("set_bit_depth"), text::size, &ImageView::setBitDepth>(
        m, "Shortcut to set the bit depth into the image properties.");
    add_shortcut<QW_NAME("set_alpha"), text::boolean, &ImageView::setAlpha>(
        m, "Shortcut to set into the image properties whether the image has an alpha channel.");
    add_shortcut<QW_NAME("set_value_range"), kVector2T, &ImageView::setValueRange>(
        m, "Shortcut to set the sample value range into the image properties.");
}
QW_FAMILY(add_image_view_properties);

} // namespace
