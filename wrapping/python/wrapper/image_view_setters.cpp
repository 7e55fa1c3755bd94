// ImageView: the setters of its properties and metadata, and the shortcut
// setters of the property values.
#include "order.h"
#include "properties.h"
#include "quelbo/image_properties.h"
#include "quelbo/image_view.h"
#include "quelbo/metadata.h"
#include "views.h"

namespace {

using namespace qw;
using quelbo::ImageView;

constexpr const char* kImage = "quelbo::ImageView *";

// set_properties(view, None) is refused: a view always has properties.
PyObject* ImageView_set_properties(PyObject*, PyObject* args)
{
    const char* fn = "ImageView_set_properties";
    static const ArgId a2{fn, 2, "std::shared_ptr< quelbo::ImageProperties const >"};
    PyObject* a[2];
    ViewPtr view;
    std::shared_ptr<const quelbo::ImageProperties> properties;
    if (!unpack(fn, args, 2, 2, a) || !image_self(a[0], fn, kImage, view) || !proxy_shared_arg(a[1], a2, properties))
        return nullptr;
    if (!properties) {
        fail_null(a2);
        return nullptr;
    }
    return call([&] {
        view->setProperties(properties);
        return none();
    });
}

// set_metadata(view, None) clears the metadata.
PyObject* ImageView_set_metadata(PyObject*, PyObject* args)
{
    const char* fn = "ImageView_set_metadata";
    PyObject* a[2];
    ViewPtr view;
    std::shared_ptr<quelbo::MetadataNode> node;
    if (!unpack(fn, args, 2, 2, a) || !image_self(a[0], fn, kImage, view) ||
        !proxy_shared_arg(a[1], {fn, 2, "std::shared_ptr< quelbo::MetadataNode >"}, node))
        return nullptr;
    return call([&] {
        view->setMetadata(node);
        return none();
    });
}

// ImageView_<Name>(view, value): one shortcut setter; `Type` is the value's
// declared type in messages.
template <const char* Name, const char* Type, auto Member>
PyObject* shortcut(PyObject*, PyObject* args)
{
    static const char* fn = joined("ImageView_", Name);
    PyObject* a[2];
    ViewPtr view;
    typename props::SetterArg<decltype(Member)>::type v{};
    if (!unpack(fn, args, 2, 2, a) || !image_self(a[0], fn, kImage, view) || !props::param(a[1], {fn, 2, Type}, v))
        return nullptr;
    return call([&] {
        (view.get()->*Member)(v);
        return none();
    });
}

template <const char* Name, const char* Type, auto Member>
void add_shortcut(Methods& m, const char* doc)
{
    m.add<&shortcut<Name, Type, Member>>(joined("ImageView_", Name), METH_VARARGS, doc);
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

constexpr char kInterpretationT[] = "quelbo::ImageInterpretation";
constexpr char kAxesT[] = "quelbo::ImageType const";
constexpr char kVector3T[] = "quelbo::Vector3d const &";
constexpr char kUnitT[] = "std::string const &";
constexpr char kDirectionsT[] = "quelbo::SpatialDirections const &";
constexpr char kSizeT[] = "size_t";
constexpr char kBoolT[] = "bool";
constexpr char kVector2T[] = "quelbo::Vector2d const &";

void add_image_view_properties(Methods& m)
{
    m.add<&ImageView_set_properties>(
        "ImageView_set_properties", METH_VARARGS,
        "Update the image's properties.\nAvailable with WRITE capability.\n:raises: NotImplemented if the view "
        "does not support writing.");
    m.add<&ImageView_set_metadata>(
        "ImageView_set_metadata", METH_VARARGS,
        "Attach a new metadata node to the image.\nAvailable with WRITE capability.\n:raises: NotImplemented if "
        "the view does not support writing.");
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
