// ImageInfoProperty: how an image's samples are read.
#include "properties.h"
#include "quelbo/image_properties.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::DataType;
using quelbo::ImageInfoProperty;
using quelbo::ImageInterpretation;
using quelbo::ImageType;

struct InfoTr
{
    using T = ImageInfoProperty;
    static constexpr const char* name = "ImageInfoProperty";
    static constexpr const char* native = "quelbo::ImageInfoProperty";
    static constexpr const char* self_type = "quelbo::ImageInfoProperty const *";
    static constexpr const char* mut_type = "quelbo::ImageInfoProperty *";
    static constexpr const char* other_type = "quelbo::ImageInfoProperty const &";
};

constexpr const char* kNew = "new_ImageInfoProperty";

bool is_axes(PyObject* o)
{
    return is_obj<ImageType>(o);
}

// The leading (axes, interpretation, alpha) items of the 4- and 5-item forms.
bool leading(Args a, ImageType& axes, ImageInterpretation& interpretation, bool& alpha)
{
    return param(a[0], {kNew, 1, "quelbo::ImageType"}, axes) &&
           param(a[1], {kNew, 2, "quelbo::ImageInterpretation"}, interpretation) &&
           param(a[2], {kNew, 3, "bool"}, alpha);
}

PyObject* make_full(Args a, Py_ssize_t)
{
    ImageType axes;
    ImageInterpretation interpretation;
    bool alpha;
    size_t bits;
    quelbo::Vector2d range;
    if (!leading(a, axes, interpretation, alpha) || !param(a[3], {kNew, 4, "size_t"}, bits) ||
        !sequence_to_vector(a[4], range))
        return nullptr;
    return call([&] { return constructed(new ImageInfoProperty(axes, interpretation, alpha, bits, range)); });
}

PyObject* make_typed(Args a, Py_ssize_t)
{
    ImageType axes;
    ImageInterpretation interpretation;
    bool alpha;
    DataType type;
    if (!leading(a, axes, interpretation, alpha) || !dtype_arg(a[3], {kNew, 4, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return constructed(new ImageInfoProperty(axes, interpretation, alpha, type)); });
}

PyObject* new_ImageInfoProperty(PyObject*, PyObject* args)
{
    static const Overloads rows(
        kNew,
        {{"quelbo::ImageInfoProperty::ImageInfoProperty(quelbo::ImageInfoProperty const &)", 1, 1,
          [](Args a, Py_ssize_t) { return is_obj<ImageInfoProperty>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              ImageInfoProperty* other;
              if (!ref(a[0], {kNew, 1, InfoTr::other_type}, other))
                  return nullptr;
              return call([&] { return constructed(new ImageInfoProperty(*other)); });
          },
          4},
         {"quelbo::ImageInfoProperty::ImageInfoProperty(quelbo::ImageInfoProperty &&)", 1, 1,
          [](Args, Py_ssize_t) { return false; }, nullptr, 5},
         {"quelbo::ImageInfoProperty::ImageInfoProperty(quelbo::DataType)", 1, 1,
          [](Args a, Py_ssize_t) { return is_dtype(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              DataType type;
              if (!dtype_arg(a[0], {kNew, 1, "quelbo::DataType"}, type))
                  return nullptr;
              return call([&] { return constructed(new ImageInfoProperty(type)); });
          },
          2},
         {"quelbo::ImageInfoProperty::ImageInfoProperty(quelbo::ImageType,quelbo::DataType)", 2, 2,
          [](Args a, Py_ssize_t) { return is_axes(a[0]) && is_dtype(a[1]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              ImageType axes;
              DataType type;
              if (!param(a[0], {kNew, 1, "quelbo::ImageType"}, axes) ||
                  !dtype_arg(a[1], {kNew, 2, "quelbo::DataType"}, type))
                  return nullptr;
              return call([&] { return constructed(new ImageInfoProperty(axes, type)); });
          },
          3},
         {"quelbo::ImageInfoProperty::ImageInfoProperty(quelbo::ImageType,quelbo::ImageInterpretation,bool,quelbo::"
          "DataType)",
          4, 4,
          [](Args a, Py_ssize_t) { return is_axes(a[0]) && is<int32_t>(a[1]) && is<bool>(a[2]) && is_dtype(a[3]); },
          &make_typed, 1},
         {"quelbo::ImageInfoProperty::ImageInfoProperty(quelbo::ImageType,quelbo::ImageInterpretation,bool,size_t,"
          "quelbo::Vector2d const &)",
          5, 5,
          [](Args a, Py_ssize_t) {
              return is_axes(a[0]) && is<int32_t>(a[1]) && is<bool>(a[2]) && is<size_t>(a[3]) && is_seq(a[4]);
          },
          &make_full, 0}});
    return rows(args);
}

PyObject* ImageInfoProperty_channel_count(PyObject*, PyObject* o)
{
    ImageInterpretation interpretation;
    if (!arg(o, {"ImageInfoProperty_channel_count", 1, "quelbo::ImageInterpretation"}, interpretation))
        return nullptr;
    return call([&] { return to_py(ImageInfoProperty::channelCount(interpretation)); });
}

constexpr char kGetAxes[] = "get_axes_interpretation";
constexpr char kSetAxes[] = "set_axes_interpretation";
constexpr char kGetInterpretation[] = "_get_interpretation";
constexpr char kSetInterpretation[] = "set_interpretation";
constexpr char kGetAlpha[] = "get_alpha";
constexpr char kSetAlpha[] = "set_alpha";
constexpr char kGetBitDepth[] = "get_bit_depth";
constexpr char kSetBitDepth[] = "set_bit_depth";
constexpr char kGetRange[] = "get_value_range";
constexpr char kSetRange[] = "set_value_range";
constexpr char kToString[] = "to_string";
constexpr char kAxesType[] = "quelbo::ImageType";
constexpr char kInterpretationType[] = "quelbo::ImageInterpretation";
constexpr char kBoolType[] = "bool";
constexpr char kSizeType[] = "size_t";
constexpr char kRangeType[] = "quelbo::Vector2d const &";

PyObject* ImageInfoProperty___eq__(PyObject* self, PyObject* args)
{
    return object_compare<InfoTr, true>(self, args);
}

void add_image_info(Methods& m)
{
    m.add<&new_ImageInfoProperty>(kNew, METH_VARARGS);
    m.add<&ImageInfoProperty_channel_count>(
        "ImageInfoProperty_channel_count", METH_O,
        "\nMethod which gives you the number of channels for one pixel in a specific ImageInterpretation\n"
        ":type interpretation: int\n"
        ":param interpretation: the interpretation\n"
        ":rtype: int\n"
        ":return: the channel count corresponding to the given ImageInterpretation\n");
    add_const_getter<InfoTr, kGetAxes, &ImageInfoProperty::axesInterpretation>(
        m, "\nReturn an ImageType describing the interpretation of the axes of the image.\n"
           "For example a classical image ImageType will have the ImageDimension::COLUMN and\n"
           "ImageDimension::ROW set. A sequence of 2D images will have in addition the\n"
           "ImageDimension::SEQUENCE set.\n");
    add_setter<InfoTr, kSetAxes, kAxesType, &ImageInfoProperty::setAxesInterpretation>(m);
    add_const_getter<InfoTr, kGetInterpretation, &ImageInfoProperty::interpretation>(m);
    add_setter<InfoTr, kSetInterpretation, kInterpretationType, &ImageInfoProperty::setInterpretation>(m);
    add_const_getter<InfoTr, kGetAlpha, &ImageInfoProperty::hasAlpha>(m, "Return if an alpha channel is present");
    add_setter<InfoTr, kSetAlpha, kBoolType, &ImageInfoProperty::setAlpha>(m);
    add_const_getter<InfoTr, kGetBitDepth, &ImageInfoProperty::bitDepth>(
        m, "\nThe bit depth of pixel components.\n"
           "For example, data stored on 16 bits of which only 12 are used has the data type\n"
           "UINT16 and a bit depth of 12.\n");
    add_setter<InfoTr, kSetBitDepth, kSizeType, &ImageInfoProperty::setBitDepth>(
        m, "Set the bit depth of pixel components.");
    add_const_getter<InfoTr, kGetRange, &ImageInfoProperty::valueRange>(m, "The value range of the pixel component");
    add_setter<InfoTr, kSetRange, kRangeType, &ImageInfoProperty::setValueRange>(m,
                                                                                 "Set the value range of components");
    m.add<&ImageInfoProperty___eq__>("ImageInfoProperty___eq__", METH_VARARGS, "Equality operator");
    add_const_getter<InfoTr, kToString, &ImageInfoProperty::toString>(m, "Return string representation");
    m.add<&ClassOps<InfoTr>::del>("delete_ImageInfoProperty", METH_O);
    add_hooks<ImageInfoProperty>(m, "ImageInfoProperty");
}

QW_FAMILY(order::image_info, add_image_info);

} // namespace
