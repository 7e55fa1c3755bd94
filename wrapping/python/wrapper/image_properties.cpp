// ImageProperties: the shared property set of an image view.
#include "quelbo/image_properties.h"
#include "properties.h"
#include "runtime/keepalive.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::DataType;
using quelbo::ImageInfoProperty;
using quelbo::ImageProperties;
using quelbo::SpatialCalibrationProperty;
using Shared = std::shared_ptr<ImageProperties>;

struct PropertiesTr
{
    using T = ImageProperties;
    static constexpr const char* name = "ImageProperties";
    static constexpr const char* self_type = "quelbo::ImageProperties const *";
    static constexpr const char* mut_type = "quelbo::ImageProperties *";
};

constexpr const char* kCalRef = "quelbo::SpatialCalibrationProperty const &";
constexpr const char* kInfoRef = "quelbo::ImageInfoProperty const &";
constexpr const char* kSharedConst = "std::shared_ptr< quelbo::ImageProperties const >";

// A calibration then an image information, each plain or read-only.
bool is_calibration_and_info(Args a, Py_ssize_t)
{
    return is_proxy_value<SpatialCalibrationProperty>(a[0]) && is_proxy_value<ImageInfoProperty>(a[1]);
}

template <class F>
PyObject* with_calibration_and_info(const char* fn, Args a, F&& use)
{
    const SpatialCalibrationProperty* calibration;
    const ImageInfoProperty* info;
    if (!proxy_value_arg(a[0], {fn, 1, kCalRef}, calibration) || !proxy_value_arg(a[1], {fn, 2, kInfoRef}, info))
        return nullptr;
    return use(*calibration, *info);
}

template <class F>
PyObject* new_shared(F&& make)
{
    return call([&] { return constructed(new Shared(make())); });
}

PyObject* new_ImageProperties(PyObject*, PyObject* args)
{
    static const char* fn = "new_ImageProperties";
    static const Overloads rows(
        fn, {{"quelbo::ImageProperties::ImageProperties(quelbo::ImageProperties const &)", 1, 1,
              [](Args a, Py_ssize_t) { return is_shared<ImageProperties>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Shared other;
                  if (!shared_self(a[0], {fn, 1, "quelbo::ImageProperties const &"}, other))
                      return nullptr;
                  return new_shared([&] { return std::make_shared<ImageProperties>(*other); });
              },
              1},
             {"quelbo::ImageProperties::ImageProperties(quelbo::ImageProperties &&)", 1, 1,
              [](Args a, Py_ssize_t) { return is_obj<ImageProperties>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  ImageProperties* source;
                  if (!release(a[0], {fn, 1, "quelbo::ImageProperties &&"}, source))
                      return nullptr;
                  PyObject* r = new_shared([&] { return std::make_shared<ImageProperties>(std::move(*source)); });
                  dispose(source);
                  return r;
              },
              2},
             {"quelbo::ImageProperties::ImageProperties(quelbo::SpatialCalibrationProperty const &,quelbo::"
              "ImageInfoProperty const &)",
              2, 2, &is_calibration_and_info,
              [](Args a, Py_ssize_t) {
                  return with_calibration_and_info(fn, a, [](auto& calibration, auto& info) {
                      return new_shared([&] { return std::make_shared<ImageProperties>(calibration, info); });
                  });
              },
              0}});
    return rows(args);
}

PyObject* ImageProperties_from_data_type(PyObject*, PyObject* o)
{
    DataType type;
    if (!dtype_arg(o, {"ImageProperties_from_data_type", 1, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return shared(ImageProperties::fromDataType(type)); });
}

// fromProperties(properties, calibration or image information)
template <class V>
PyObject* from_shared(Args a, Py_ssize_t)
{
    static const char* fn = "ImageProperties_from_properties";
    Shared properties;
    const V* part;
    if (!shared_self(a[0], {fn, 1, kSharedConst}, properties) ||
        !proxy_value_arg(a[1], {fn, 2, std::is_same<V, ImageInfoProperty>::value ? kInfoRef : kCalRef}, part))
        return nullptr;
    return call([&] { return shared(ImageProperties::fromProperties(properties, *part)); });
}

PyObject* ImageProperties_from_properties(PyObject*, PyObject* args)
{
    static const char* fn = "ImageProperties_from_properties";
    static const Overloads rows(
        fn, {{"quelbo::ImageProperties::fromProperties(std::shared_ptr< quelbo::ImageProperties const >,quelbo::"
              "SpatialCalibrationProperty const &)",
              2, 2,
              [](Args a, Py_ssize_t) {
                  return is_shared<ImageProperties>(a[0]) && is_proxy_value<SpatialCalibrationProperty>(a[1]);
              },
              &from_shared<SpatialCalibrationProperty>, 1},
             {"quelbo::ImageProperties::fromProperties(std::shared_ptr< quelbo::ImageProperties const >,quelbo::"
              "ImageInfoProperty const &)",
              2, 2,
              [](Args a, Py_ssize_t) {
                  return is_shared<ImageProperties>(a[0]) && is_proxy_value<ImageInfoProperty>(a[1]);
              },
              &from_shared<ImageInfoProperty>, 2},
             {"quelbo::ImageProperties::fromProperties(quelbo::SpatialCalibrationProperty const &,quelbo::"
              "ImageInfoProperty const &)",
              2, 2, &is_calibration_and_info,
              [](Args a, Py_ssize_t) {
                  return with_calibration_and_info(fn, a, [](auto& calibration, auto& info) {
                      return call([&] { return shared(ImageProperties::fromProperties(calibration, info)); });
                  });
              },
              0}});
    return rows(args);
}

// get_calibration / get_image_info: a handle over the member itself, which
// keeps the properties alive for as long as it lives.
template <const char* Name, class V, V& (ImageProperties::*Member)()>
PyObject* member(PyObject*, PyObject* o)
{
    static const char* fn = joined("ImageProperties_", Name);
    Shared obj;
    if (!shared_self(o, {fn, 1, PropertiesTr::mut_type}, obj))
        return nullptr;
    return call([&] { return borrowed_from(&((*obj).*Member)(), obj); });
}

// set_calibration / set_image_info: copies the value a plain handle or a
// read-only wrapper denotes into the member.
template <const char* Name, class V, V& (ImageProperties::*Member)()>
PyObject* assign(PyObject*, PyObject* args)
{
    static const char* fn = joined("ImageProperties_", Name);
    static const char* type = joined(
        "quelbo::", std::is_same<V, ImageInfoProperty>::value ? "ImageInfoProperty" : "SpatialCalibrationProperty",
        " const &");
    PyObject* a[2];
    Shared obj;
    const V* value;
    if (!unpack(fn, args, 2, 2, a) || !shared_self(a[0], {fn, 1, PropertiesTr::mut_type}, obj) ||
        !proxy_value_arg(a[1], {fn, 2, type}, value))
        return nullptr;
    return call([&] {
        ((*obj).*Member)() = *value;
        return none();
    });
}

PyObject* ImageProperties_is_compatible_with(PyObject*, PyObject* args)
{
    static const char* fn = "ImageProperties_is_compatible_with";
    PyObject* a[3];
    Shared obj;
    quelbo::VectorXu64 shape;
    DataType type;
    if (!unpack(fn, args, 3, 3, a) || !shared_self(a[0], {fn, 1, PropertiesTr::self_type}, obj) ||
        !sequence_to_vector(a[1], shape) || !dtype_arg(a[2], {fn, 3, "quelbo::DataType"}, type))
        return nullptr;
    return call([&] { return to_py(obj->isCompatibleWith(shape, type)); });
}

PyObject* ImageProperties___eq__(PyObject*, PyObject* args)
{
    static const char* fn = "ImageProperties___eq__";
    PyObject* a[2];
    Shared obj, other;
    if (!unpack(fn, args, 2, 2, a) || !shared_self(a[0], {fn, 1, PropertiesTr::self_type}, obj) ||
        !shared_self(a[1], {fn, 2, "quelbo::ImageProperties const &"}, other))
        return not_implemented(nullptr);
    return not_implemented(call([&] { return to_py(*obj == *other); }));
}

PyObject* delete_ImageProperties(PyObject*, PyObject* o)
{
    return destroy<Shared>(o, {"delete_ImageProperties", 1, "quelbo::ImageProperties *"});
}

constexpr char kClone[] = "clone";
constexpr char kToString[] = "to_string";
constexpr char kGetCalibration[] = "get_calibration";
constexpr char kGetImageInfo[] = "get_image_info";
constexpr char kSetCalibration[] = "set_calibration";
constexpr char kSetImageInfo[] = "set_image_info";

void add_image_properties(Methods& m)
{
    m.add<&new_ImageProperties>("new_ImageProperties", METH_VARARGS);
    m.add<&ImageProperties_from_data_type>(
        "ImageProperties_from_data_type", METH_O,
        "\nCreate a property set with all values defaulted, according to a data type.\n"
        "Warning: In order to build ImageProperties compatible with a specific ImageView,\n"
        "given dataType must be retrieved from this ImageView.\n");
    m.add<&ImageProperties_from_properties>(
        "ImageProperties_from_properties", METH_VARARGS,
        "\n*Overload 1:*\nBuild a ImageProperties from a set of properties.\n\n|\n\n"
        "*Overload 2:*\nBuild a ImageProperties by copying properties from another, except the calibration.\n\n|\n\n"
        "*Overload 3:*\nBuild a ImageProperties by copying properties from another, except the Image info.\n");
    add_shared_getter<PropertiesTr, kClone, &ImageProperties::clone>(m, "Create a copy of the properties instance.");
    m.add<&member<kGetCalibration, SpatialCalibrationProperty, &ImageProperties::calibration>>(
        "ImageProperties_get_calibration", METH_O, "Return the calibration associated with these properties.");
    m.add<&member<kGetImageInfo, ImageInfoProperty, &ImageProperties::imageInfo>>(
        "ImageProperties_get_image_info", METH_O, "Return the image information associated with these properties.");
    m.add<&assign<kSetCalibration, SpatialCalibrationProperty, &ImageProperties::calibration>>(
        "ImageProperties_set_calibration", METH_VARARGS);
    m.add<&assign<kSetImageInfo, ImageInfoProperty, &ImageProperties::imageInfo>>("ImageProperties_set_image_info",
                                                                                  METH_VARARGS);
    m.add<&ImageProperties_is_compatible_with>(
        "ImageProperties_is_compatible_with", METH_VARARGS,
        "\nCheck if the current properties are compatible with given shape and type\n"
        ":rtype: boolean\n:return: TRUE if shape and type are compatible with ImageView\n");
    m.add<&ImageProperties___eq__>("ImageProperties___eq__", METH_VARARGS, "Equality operator");
    add_shared_getter<PropertiesTr, kToString, &ImageProperties::toString>(m, "Return string representation");
    m.add<&delete_ImageProperties>("delete_ImageProperties", METH_O);
    add_hooks<Shared>(m, "ImageProperties");
}

QW_FAMILY(order::image_properties, add_image_properties);

} // namespace
