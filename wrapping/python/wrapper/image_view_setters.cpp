// ImageView: the setters of its properties and metadata, and the shortcut
// setters of the property values.
#include "order.h"
#include "properties.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/metadata.h"
#include "runtime/declare.h"
#include "views.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::ImageView;

constexpr auto kImage = named<quelbo::ImageView*>;
constexpr auto kPropertiesT = named<std::shared_ptr<const quelbo::ImageProperties>>;
using ImageSelf = SharedSelf<ImageView, kImage>;

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

constexpr char kSetProperties[] = "ImageView_set_properties";

// set_metadata(view, None) clears the metadata.
constexpr char kSetMetadata[] = "ImageView_set_metadata";

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

constexpr char kSetInterpretation[] = "set_image_interpretation";
constexpr char kSetAxes[] = "set_axes_interpretation";
constexpr char kSetOrigin[] = "set_spatial_origin";
constexpr char kSetSpacing[] = "set_spatial_spacing";
constexpr char kSetUnit[] = "set_spatial_unit";
constexpr char kSetDirections[] = "set_spatial_directions";
constexpr char kSetBitDepth[] = "set_bit_depth";
constexpr char kSetAlpha[] = "set_alpha";
constexpr char kSetValueRange[] = "set_value_range";
constexpr auto kInterpretationT = named<quelbo::ImageInterpretation>;
constexpr auto kAxesT = named<const quelbo::ImageType>;
constexpr auto kVector3T = named<const quelbo::Vector3d&>;
constexpr auto kUnitT = named<const std::string&>;
constexpr auto kDirectionsT = named<const quelbo::SpatialDirections&>;
constexpr char kSizeT[] = "size_t";
constexpr char kBoolT[] = "bool";
constexpr auto kVector2T = named<const quelbo::Vector2d&>;

void add_image_view_properties(Methods& m)
{
    m.add<Fn<kSetProperties, &ImageView::setProperties, ImageSelf, Required>>(
        "Update the image's properties.\nAvailable with WRITE capability.\n:raises: "
        "NotImplemented if the view does not support writing.");
    m.add<Fn<kSetMetadata, &ImageView::setMetadata, ImageSelf, ProxyShared<quelbo::MetadataNode, text::metadata>>>(
        "Attach a new metadata node to the image.\nAvailable with WRITE "
        "capability.\n:raises: NotImplemented if the view does not support writing.");
    add_shortcut<kSetInterpretation, kInterpretationT, &ImageView::setImageInterpretation>(
        m, "Shortcut to set the image interpretation into the image properties.");
    add_shortcut<kSetAxes, kAxesT, &ImageView::setAxesInterpretation>(
        m, "Shortcut to set the axes interpretation into the image properties.");
    add_shortcut<kSetOrigin, kVector3T, &ImageView::setSpatialOrigin>(
        m, "Shortcut to set the spatial origin into the image properties.");
    add_shortcut<kSetSpacing, kVector3T, &ImageView::setSpatialSpacing>(
        m, "Shortcut to set the spatial spacing into the image properties.");
    add_shortcut<kSetUnit, kUnitT, &ImageView::setSpatialUnit>(
        m, "Shortcut to set the spatial unit into the image properties.");
    add_shortcut<kSetDirections, kDirectionsT, &ImageView::setSpatialDirections>(
        m, "Shortcut to set the spatial directions into the image properties.");
    add_shortcut<kSetBitDepth, kSizeT, &ImageView::setBitDepth>(
        m, "Shortcut to set the bit depth into the image properties.");
    add_shortcut<kSetAlpha, kBoolT, &ImageView::setAlpha>(
        m, "Shortcut to set into the image properties whether the image has an alpha channel.");
    add_shortcut<kSetValueRange, kVector2T, &ImageView::setValueRange>(
        m, "Shortcut to set the sample value range into the image properties.");
}
QW_FAMILY(order::image_view_properties, add_image_view_properties);

} // namespace
