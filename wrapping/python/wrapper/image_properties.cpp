// ImageProperties: the shared property set of an image view.
#include "quelbo/image_properties.h"
#include "properties.h"
#include "readonly/readonly_args.h"
#include "runtime/keepalive.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::DataType;
using quelbo::ImageInfoProperty;
using quelbo::ImageProperties;
using quelbo::SpatialCalibrationProperty;
using Shared = std::shared_ptr<ImageProperties>;

using PropertiesTr = Traits<ImageProperties>;

constexpr auto kCalRef = named<const quelbo::SpatialCalibrationProperty&>;
constexpr auto kInfoRef = named<const quelbo::ImageInfoProperty&>;
constexpr auto kSharedConst = named<std::shared_ptr<const quelbo::ImageProperties>>;

using Calibration = ProxyValue<SpatialCalibrationProperty, kCalRef>;
using Info = ProxyValue<ImageInfoProperty, kInfoRef>;
using Other = SharedRef<ImageProperties, &PropertiesTr::other_type>;
using Constant = SharedSelf<ImageProperties, &PropertiesTr::self_type>;
using Held = SharedHeld<ImageProperties, &PropertiesTr::mut_type>;

template <class P, int Decl>
using Made = Constructor<&PropertiesTr::constructor, P, Decl>;

struct new_parts : Made<Params<Calibration, Info>, 0>
{
    static constexpr auto call = [](const SpatialCalibrationProperty& calibration, const ImageInfoProperty& info) {
        return new_shared(std::make_shared<ImageProperties>(calibration, info));
    };
};
struct new_properties : DeclareOverloads<new_properties, SharedCopyConstructor<PropertiesTr, 1>,
                                         SharedMoveConstructor<PropertiesTr, 2>, new_parts>
{
    static constexpr const char* name = "new_ImageProperties";
};

// fromProperties(properties, calibration or image information), or from both parts
constexpr auto kFromProperties = &MemberText<ImageProperties, QW_NAME("fromProperties")>::text;
template <class P, int Decl>
using From = Constructor<kFromProperties, P, Decl>;
template <class Part, int Decl>
struct from_shared : From<Params<SharedObject<ImageProperties, kSharedConst>, Part>, Decl>
{
    static constexpr auto call = [](const Shared& properties, const auto& part) {
        return ImageProperties::fromProperties(properties, part);
    };
};
struct from_parts : From<Params<Calibration, Info>, 0>
{
    static constexpr auto call = [](const SpatialCalibrationProperty& calibration, const ImageInfoProperty& info) {
        return ImageProperties::fromProperties(calibration, info);
    };
};
struct from_properties
    : DeclareOverloads<from_properties, from_shared<Calibration, 1>, from_shared<Info, 2>, from_parts>
{
    static constexpr const char* name = "ImageProperties_from_properties";
    static constexpr const char* doc =
        "\n*Overload 1:*\nBuild a ImageProperties from a set of properties.\n\n|\n\n"
        "*Overload 2:*\nBuild a ImageProperties by copying properties from another, except the calibration.\n\n|\n\n"
        "*Overload 3:*\nBuild a ImageProperties by copying properties from another, except the Image info.\n";
};

// get_calibration / get_image_info: a handle over the member itself, which
// keeps the properties alive for as long as it lives.
template <const char* Name, class V, V& (ImageProperties::*Member)()>
struct member : Declare<member<Name, V, Member>, Params<Held>>
{
    static const char* name()
    {
        static const char* fn = joined("ImageProperties_", Name);
        return fn;
    }
    static constexpr auto call = [](const Shared& obj) { return borrowed_from(&((*obj).*Member)(), obj); };
};

// set_calibration / set_image_info: copies the value a plain handle or a
// read-only wrapper denotes into the member.
template <const char* Name, class Part, class V, V& (ImageProperties::*Member)()>
struct assign : Declare<assign<Name, Part, V, Member>, Params<Held, Part>>
{
    static const char* name()
    {
        static const char* fn = joined("ImageProperties_", Name);
        return fn;
    }
    static constexpr auto call = [](const Shared& obj, const V& value) { ((*obj).*Member)() = value; };
};

struct is_compatible_with : Declare<is_compatible_with, Params<Constant, Seq<quelbo::VectorXu64>, DTypeArg<>>>
{
    static constexpr const char* name = "ImageProperties_is_compatible_with";
    static constexpr const char* doc =
        "\nCheck if the current properties are compatible with given shape and type\n"
        ":rtype: boolean\n:return: TRUE if shape and type are compatible with ImageView\n";
    static constexpr auto call = &ImageProperties::isCompatibleWith;
};

struct equal : Declare<equal, Params<Constant, Other>>
{
    static constexpr const char* name = "ImageProperties___eq__";
    static constexpr const char* doc = "Equality operator";
    static constexpr auto call = [](ImageProperties* obj, const ImageProperties& other) { return *obj == other; };
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

void add_image_properties(Methods& m)
{
    m.add<new_properties>();
    m.add<Fn<QW_NAME("ImageProperties_from_data_type"), &ImageProperties::fromDataType, DTypeArg<>>>(
        "\nCreate a property set with all values defaulted, according to a data type.\n"
        "Warning: In order to build ImageProperties compatible with a specific ImageView,\n"
        "given dataType must be retrieved from this ImageView.\n");
    m.add<from_properties>();
    add_shared_getter<PropertiesTr, QW_NAME("clone"), &ImageProperties::clone>(
        m, "Create a copy of the properties instance.");
    m.add<member<QW_NAME("get_calibration"), SpatialCalibrationProperty, &ImageProperties::calibration>>(
        "Return the calibration associated with these properties.");
    m.add<member<QW_NAME("get_image_info"), ImageInfoProperty, &ImageProperties::imageInfo>>(
        "Return the image information associated with these properties.");
    m.add<assign<QW_NAME("set_calibration"), Calibration, SpatialCalibrationProperty, &ImageProperties::calibration>>();
    m.add<assign<QW_NAME("set_image_info"), Info, ImageInfoProperty, &ImageProperties::imageInfo>>();
    m.add<is_compatible_with>();
    m.add<equal>();
    add_shared_getter<PropertiesTr, QW_NAME("to_string"), &ImageProperties::toString>(m,
                                                                                      "Return string representation");
    m.add<Delete<SharedHandle<PropertiesTr>>>();
    add_hooks<Shared>(m, "ImageProperties");
}

QW_FAMILY(add_image_properties);

} // namespace
