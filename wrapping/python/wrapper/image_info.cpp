// ImageInfoProperty: how an image's samples are read.
#include "properties.h"
#include "quelbo/image_properties.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::DataType;
using quelbo::ImageInfoProperty;
using quelbo::ImageInterpretation;
using quelbo::ImageType;

using InfoTr = Traits<ImageInfoProperty>;

constexpr auto kAxesType = named<quelbo::ImageType>;
constexpr auto kInterpretationType = named<quelbo::ImageInterpretation>;
constexpr auto kRangeType = named<const quelbo::Vector2d&>;

using Axes = Param<ImageType, kAxesType>;
using Interpretation = Arg<ImageInterpretation>;
using Alpha = Arg<bool, text::boolean>;
using Type = DTypeArg<>;

template <class P, int Decl>
using Made = Constructor<&InfoTr::constructor, P, Decl>;

struct new_type : Made<Params<Type>, 2>
{
    static constexpr auto call = [](DataType type) { return constructed(new ImageInfoProperty(type)); };
};
struct new_axes_type : Made<Params<Axes, Type>, 3>
{
    static constexpr auto call = [](const ImageType& axes, DataType type) {
        return constructed(new ImageInfoProperty(axes, type));
    };
};
struct new_typed : Made<Params<Axes, Interpretation, Alpha, Type>, 1>
{
    static constexpr auto call = [](const ImageType& axes, ImageInterpretation interpretation, bool alpha,
                                    DataType type) {
        return constructed(new ImageInfoProperty(axes, interpretation, alpha, type));
    };
};
struct new_full : Made<Params<Axes, Interpretation, Alpha, Arg<size_t, text::size>, Seq<quelbo::Vector2d>>, 0>
{
    static constexpr auto call = [](const ImageType& axes, ImageInterpretation interpretation, bool alpha, size_t bits,
                                    const quelbo::Vector2d& range) {
        return constructed(new ImageInfoProperty(axes, interpretation, alpha, bits, range));
    };
};
struct new_info : DeclareOverloads<new_info, CopyConstructor<InfoTr, 4>, MoveConstructor<InfoTr, 5>, new_type,
                                   new_axes_type, new_typed, new_full>
{
    static constexpr const char* name = "new_ImageInfoProperty";
};

void add_image_info(Methods& m)
{
    m.add<new_info>();
    m.add<Fn<QW_NAME("ImageInfoProperty_channel_count"), &ImageInfoProperty::channelCount, Interpretation>>(
        "\nMethod which gives you the number of channels for one pixel in a specific ImageInterpretation\n"
        ":type interpretation: int\n"
        ":param interpretation: the interpretation\n"
        ":rtype: int\n"
        ":return: the channel count corresponding to the given ImageInterpretation\n");
    add_const_getter<InfoTr, QW_NAME("get_axes_interpretation"), &ImageInfoProperty::axesInterpretation>(
        m, "\nReturn an ImageType describing the interpretation of the axes of the image.\n"
           "For example a classical image ImageType will have the ImageDimension::COLUMN and\n"
           "ImageDimension::ROW set. A sequence of 2D images will have in addition the\n"
           "ImageDimension::SEQUENCE set.\n");
    add_setter<InfoTr, QW_NAME("set_axes_interpretation"), kAxesType, &ImageInfoProperty::setAxesInterpretation>(m);
    add_const_getter<InfoTr, QW_NAME("_get_interpretation"), &ImageInfoProperty::interpretation>(m);
    add_setter<InfoTr, QW_NAME("set_interpretation"), kInterpretationType, &ImageInfoProperty::setInterpretation>(m);
    add_const_getter<InfoTr, QW_NAME("get_alpha"), &ImageInfoProperty::hasAlpha>(
        m, "Return if an alpha channel is present");
    add_setter<InfoTr, QW_NAME("set_alpha"), text::boolean, &ImageInfoProperty::setAlpha>(m);
    add_const_getter<InfoTr, QW_NAME("get_bit_depth"), &ImageInfoProperty::bitDepth>(
        m, "\nThe bit depth of pixel components.\n"
           "For example, data stored on 16 bits of which only 12 are used has the data type\n"
           "UINT16 and a bit depth of 12.\n");
    add_setter<InfoTr, QW_NAME("set_bit_depth"), text::size, &ImageInfoProperty::setBitDepth>(
        m, "Set the bit depth of pixel components.");
    add_const_getter<InfoTr, QW_NAME("get_value_range"), &ImageInfoProperty::valueRange>(
        m, "The value range of the pixel component");
    add_setter<InfoTr, QW_NAME("set_value_range"), kRangeType, &ImageInfoProperty::setValueRange>(
        m, "Set the value range of components");
    m.add<ObjectCompare<InfoTr, true>>("Equality operator");
    add_const_getter<InfoTr, QW_NAME("to_string"), &ImageInfoProperty::toString>(m, "Return string representation");
    m.add<Delete<InfoTr>>();
    add_hooks<ImageInfoProperty>(m, "ImageInfoProperty");
}

QW_FAMILY(add_image_info);

} // namespace
