// The read-only property wrappers: ReadonlySpatialCalibrationProperty,
// ReadonlyImageInfoProperty and ReadonlyImageProperties.
#include "readonly/ReadonlyImageProperties.h"

#include "properties.h"
#include "readonly/readonly_args.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::ImageInfoProperty;
using quelbo::ImageProperties;
using quelbo::ReadonlyImageInfoProperty;
using quelbo::ReadonlyImageProperties;
using quelbo::ReadonlySpatialCalibrationProperty;
using quelbo::SpatialCalibrationProperty;

struct CalibrationTr : Traits<ReadonlySpatialCalibrationProperty>
{
    static constexpr const char* wrapped = Named<const quelbo::SpatialCalibrationProperty&>::text;
};

struct InfoTr : Traits<ReadonlyImageInfoProperty>
{
    static constexpr const char* wrapped = Named<const quelbo::ImageInfoProperty&>::text;
};

using PropertiesTr = Traits<ReadonlyImageProperties>;

// What new_Readonly<V> wraps: the object a plain handle holds (with that
// handle), or the object of another wrapper.
template <class W, class V, auto Text>
struct Wrapped : Kind<Text>
{
    struct value
    {
        const V* target = nullptr;
        SwigPyObject* handle = nullptr;
        W* wrapper = nullptr;
    };
    static bool check(PyObject* o) { return is_proxy_value<V>(o); }
    static bool get(PyObject* o, const ArgId& a, value& v)
    {
        if (!proxy_value_arg(o, a, v.target))
            return false;
        if (!is_obj<V>(o))
            return ref(o, a, v.wrapper);
        swig_cast_info* cast;
        v.handle = match_handle(o, type_of<V>(), &cast);
        if (!v.handle || v.handle->ptr != v.target) {
            fail_null(a);
            return false;
        }
        return true;
    }
    static value& pass(value& v) { return v; }
};

// new_Readonly<V>(value or wrapper): a wrapper over the object the argument
// denotes. Over a plain handle it keeps that handle and checks at each use
// that the handle still holds the object; over a wrapper it shares the
// wrapper's object and what keeps it.
template <class Tr, class V>
struct wrap_value : Declare<wrap_value<Tr, V>, Params<Wrapped<typename Tr::T, V, &Tr::wrapped>>>
{
    using W = typename Tr::T;
    static const char* name()
    {
        static const char* fn = joined("new_", Tr::name);
        return fn;
    }
    static constexpr auto call = [](const typename Wrapped<W, V, &Tr::wrapped>::value& source) {
        if (!source.handle)
            return constructed(new W(*source.wrapper));
        auto* handle = reinterpret_cast<PyObject*>(source.handle);
        return constructed(new W(*source.target, quelbo::ReadonlyAnchor(nullptr, handle, source.target)));
    };
};

constexpr auto kPropertiesConst = named<std::shared_ptr<const quelbo::ImageProperties>>;

struct new_wrapper : Declare<new_wrapper, Params<SharedObject<ImageProperties, kPropertiesConst>>>
{
    static constexpr const char* name = "new_ReadonlyImageProperties";
    static constexpr const char* doc = "Wrap the ImageProperties instance.";
    static constexpr auto call = [](const std::shared_ptr<ImageProperties>& properties) {
        return constructed(new ReadonlyImageProperties(properties));
    };
};

// __eq__ with another wrapper or with shared properties. Any other pair of
// operands, or a conversion's TypeError, gives NotImplemented.
struct Compared : WrapperSelf<ReadonlyImageProperties, &PropertiesTr::self_type>
{
    static bool check(PyObject* o) { return is_obj<ReadonlyImageProperties>(o); }
};

constexpr const char* kEqual = member_of<ReadonlyImageProperties, QW_NAME("operator ==")>;
constexpr auto kWrapperOther = named<const ReadonlyImageProperties&>;
constexpr auto kPropertiesOther = named<const quelbo::ImageProperties&>;

template <class Other>
struct equal_to : Candidate<Params<Compared, Other>>
{
    static constexpr const char* member = kEqual;
    static constexpr const char* suffix = " const";
    static constexpr auto call = [](const ReadonlyImageProperties* obj, const auto& other) { return *obj == other; };
};

struct equal : DeclareOverloads<equal, equal_to<Ref<ReadonlyImageProperties, kWrapperOther>>,
                                equal_to<SharedRef<ImageProperties, kPropertiesOther>>>
{
    static constexpr const char* name = "ReadonlyImageProperties___eq__";
    static constexpr const char* doc =
        "\n*Overload 1:*\nEquality operator.\n\n|\n\n*Overload 2:*\nEquality operator.\n";
    static PyObject* outcome(PyObject* r) { return not_implemented(r); }
};

void add_readonly_properties(Methods& m)
{
    using RC = ReadonlySpatialCalibrationProperty;
    m.add<wrap_value<CalibrationTr, SpatialCalibrationProperty>>("Wrap the SpatialCalibrationProperty instance.");
    add_wrapper_getter<CalibrationTr, QW_NAME("get_origin"), &RC::get_origin>(
        m, "Proxy for SpatialCalibrationProperty::origin.");
    add_wrapper_getter<CalibrationTr, QW_NAME("get_spacing"), &RC::get_spacing>(
        m, "Proxy for SpatialCalibrationProperty::spacing.");
    add_wrapper_getter<CalibrationTr, QW_NAME("get_directions"), &RC::get_directions>(
        m, "Proxy for SpatialCalibrationProperty::directions.");
    add_wrapper_getter<CalibrationTr, QW_NAME("get_unit"), &RC::get_unit>(
        m, "Proxy for SpatialCalibrationProperty::unit.");
    add_wrapper_getter<CalibrationTr, QW_NAME("to_string"), &RC::toString>(
        m, "Proxy for SpatialCalibrationProperty::toString.");
    m.add<Delete<CalibrationTr>>();
    add_hooks<RC>(m, CalibrationTr::name);

    using RI = ReadonlyImageInfoProperty;
    m.add<wrap_value<InfoTr, ImageInfoProperty>>("Wrap the ImageInfoProperty instance.");
    add_wrapper_getter<InfoTr, QW_NAME("get_axes_interpretation"), &RI::get_axes_interpretation>(
        m, "Proxy for ImageInfoProperty::axesInterpretation.");
    add_wrapper_getter<InfoTr, QW_NAME("_get_interpretation"), &RI::_get_interpretation>(
        m, "Proxy for ImageInfoProperty::interpretation.");
    add_wrapper_getter<InfoTr, QW_NAME("get_alpha"), &RI::get_alpha>(m, "Proxy for ImageInfoProperty::hasAlpha.");
    add_wrapper_getter<InfoTr, QW_NAME("get_bit_depth"), &RI::get_bit_depth>(m,
                                                                             "Proxy for ImageInfoProperty::bitDepth.");
    add_wrapper_getter<InfoTr, QW_NAME("get_value_range"), &RI::get_value_range>(
        m, "Proxy for ImageInfoProperty::valueRange.");
    add_wrapper_getter<InfoTr, QW_NAME("to_string"), &RI::toString>(m, "Proxy for ImageInfoProperty::toString.");
    m.add<Delete<InfoTr>>();
    add_hooks<RI>(m, InfoTr::name);

    using RP = ReadonlyImageProperties;
    m.add<new_wrapper>();
    add_wrapper_getter<PropertiesTr, QW_NAME("get_calibration"), &RP::get_calibration>(
        m, "Proxy for ImageProperties::calibration.");
    add_wrapper_getter<PropertiesTr, QW_NAME("get_image_info"), &RP::get_image_info>(
        m, "Proxy for ImageProperties::imageInfo.");
    add_wrapper_getter<PropertiesTr, QW_NAME("clone"), &RP::clone>(m, "Proxy for ImageProperties::clone.");
    add_wrapper_getter<PropertiesTr, QW_NAME("to_string"), &RP::toString>(m, "Proxy for ImageProperties::toString.");
    m.add<equal>();
    m.add<Delete<PropertiesTr>>();
    add_hooks<RP>(m, PropertiesTr::name);
}

QW_FAMILY(add_readonly_properties);

} // namespace
