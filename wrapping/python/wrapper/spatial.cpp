// SpatialDirections and SpatialCalibrationProperty: where an image lies in space.
#include "properties.h"
#include "quelbo/image_properties.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::SpatialCalibrationProperty;
using quelbo::SpatialDirections;
using quelbo::Vector3d;

using DirectionsTr = Traits<SpatialDirections>;

using CalibrationTr = Traits<SpatialCalibrationProperty>;

constexpr auto kVec3Ref = named<const quelbo::Vector3d&>;
constexpr auto kDirsRef = named<const quelbo::SpatialDirections&>;
using Vec3 = Seq<Vector3d>;
using Dirs = Ref<SpatialDirections>;

// ------------------------------------------------------------- directions

template <class P, int Decl>
using NewDirections = Constructor<&DirectionsTr::constructor, P, Decl>;

struct new_directions_empty : NewDirections<Params<>, 0>
{
    static constexpr auto call = [] { return constructed(new SpatialDirections()); };
};
struct new_directions_axes : NewDirections<Params<Vec3, Vec3>, 1>
{
    static constexpr auto call = [](const Vector3d& column, const Vector3d& row) {
        return constructed(new SpatialDirections(column, row));
    };
};
struct new_directions : DeclareOverloads<new_directions, new_directions_empty, CopyConstructor<DirectionsTr, 2>,
                                         MoveConstructor<DirectionsTr, 3>, new_directions_axes>
{
    static constexpr const char* name = "new_SpatialDirections";
};

void add_directions(Methods& m)
{
    m.add<new_directions>();
    add_const_getter<DirectionsTr, QW_NAME("get_column_direction"), &SpatialDirections::columnDirection>(
        m, "The direction vector following the column dimension (X)");
    add_const_getter<DirectionsTr, QW_NAME("get_row_direction"), &SpatialDirections::rowDirection>(
        m, "The direction vector following the row dimension (Y)");
    add_const_getter<DirectionsTr, QW_NAME("get_slice_direction"), &SpatialDirections::sliceDirection>(
        m, "The direction vector following the slice dimension (Z)");
    add_object_compare<DirectionsTr>(m);
    add_const_getter<DirectionsTr, QW_NAME("to_string"), &SpatialDirections::toString>(
        m, "Return a string decription of the spatial directions.");
    m.add<Delete<DirectionsTr>>();
    add_hooks<SpatialDirections>(m, "SpatialDirections");
}

// ------------------------------------------------------------ calibration

constexpr const char* kCalibrationDoc = "\n"
                                        "*Overload 1:*\n"
                                        "Initialize the property with default values.\n"
                                        " - origin: {0.0, 0.0, 0.0}\n"
                                        " - spacing: {1.0, 1.0, 1.0}\n"
                                        " - orientation: {1.0, 1.0, 1.0}\n"
                                        " - unit: \"\"\n"
                                        "\n"
                                        "|\n"
                                        "\n"
                                        "*Overload 2:*\n"
                                        "Initialize the property with only a custom origin.\n"
                                        ":type origin: :py:class:`Vector3d`\n"
                                        ":param origin: The origin of the raster grid.\n"
                                        "\n"
                                        "|\n"
                                        "\n"
                                        "*Overload 3:*\n"
                                        "Initialize a calibration property with an origin and a spacing.\n"
                                        ":type origin: :py:class:`Vector3d`\n"
                                        ":param origin: The origin of the raster grid.\n"
                                        ":type spacing: :py:class:`Vector3d`\n"
                                        ":param spacing: The size of each element of the raster grid.\n"
                                        "\n"
                                        "|\n"
                                        "\n"
                                        "*Overload 4:*\n"
                                        "Initialize a calibration without a specific unit.\n"
                                        ":type origin: :py:class:`Vector3d`\n"
                                        ":param origin: The origin of the raster grid.\n"
                                        ":type spacing: :py:class:`Vector3d`\n"
                                        ":param spacing: The size of each element of the raster grid.\n"
                                        ":type directions: :py:class:`SpatialDirections`\n"
                                        ":param directions: The directions of the axes.\n"
                                        "\n"
                                        "|\n"
                                        "\n"
                                        "*Overload 5:*\n"
                                        "Initialize a calibration property.\n"
                                        ":type origin: :py:class:`Vector3d`\n"
                                        ":param origin: The origin of the raster grid.\n"
                                        ":type spacing: :py:class:`Vector3d`\n"
                                        ":param spacing: The size of each element of the raster grid.\n"
                                        ":type directions: :py:class:`SpatialDirections`\n"
                                        ":param directions: The directions of the axes.\n"
                                        ":type unit: string\n"
                                        ":param unit: The unit of the axes.\n"
                                        "\n"
                                        "|\n"
                                        "\n"
                                        "*Overload 6:*\n"
                                        "Copy constructor.\n"
                                        "\n"
                                        "|\n"
                                        "\n"
                                        "*Overload 7:*\n"
                                        "Move constructor.\n";

template <class P, int Decl>
using NewCalibration = Constructor<&CalibrationTr::constructor, P, Decl>;
using String = Arg<std::string, text::string_ref>;

struct new_calibration_empty : NewCalibration<Params<>, 0>
{
    static constexpr auto call = [] { return constructed(new SpatialCalibrationProperty()); };
};
struct new_calibration_1 : NewCalibration<Params<Vec3>, 1>
{
    static constexpr auto call = [](const Vector3d& origin) {
        return constructed(new SpatialCalibrationProperty(origin));
    };
};
struct new_calibration_2 : NewCalibration<Params<Vec3, Vec3>, 2>
{
    static constexpr auto call = [](const Vector3d& origin, const Vector3d& spacing) {
        return constructed(new SpatialCalibrationProperty(origin, spacing));
    };
};
struct new_calibration_3 : NewCalibration<Params<Vec3, Vec3, Dirs>, 3>
{
    static constexpr auto call = [](const Vector3d& origin, const Vector3d& spacing,
                                    const SpatialDirections& directions) {
        return constructed(new SpatialCalibrationProperty(origin, spacing, directions));
    };
};
struct new_calibration_4 : NewCalibration<Params<Vec3, Vec3, Dirs, String>, 4>
{
    static constexpr auto call = [](const Vector3d& origin, const Vector3d& spacing,
                                    const SpatialDirections& directions, const std::string& unit) {
        return constructed(new SpatialCalibrationProperty(origin, spacing, directions, unit));
    };
};
struct new_calibration : DeclareOverloads<new_calibration, new_calibration_empty, CopyConstructor<CalibrationTr, 5>,
                                          MoveConstructor<CalibrationTr, 6>, new_calibration_1, new_calibration_2,
                                          new_calibration_3, new_calibration_4>
{
    static constexpr const char* name = "new_SpatialCalibrationProperty";
    static constexpr const char* doc = kCalibrationDoc;
};

void add_calibration(Methods& m)
{
    m.add<new_calibration>();
    add_const_getter<CalibrationTr, QW_NAME("get_origin"), &SpatialCalibrationProperty::origin>(m, "Get the origin.");
    add_const_getter<CalibrationTr, QW_NAME("get_spacing"), &SpatialCalibrationProperty::spacing>(m,
                                                                                                  "Get the spacing.");
    add_const_getter<CalibrationTr, QW_NAME("get_directions"), &SpatialCalibrationProperty::directions>(
        m, "Get the spatial axis system.");
    add_const_getter<CalibrationTr, QW_NAME("get_unit"), &SpatialCalibrationProperty::unit>(m, "Get the unit.");
    add_setter<CalibrationTr, QW_NAME("set_origin"), kVec3Ref, &SpatialCalibrationProperty::setOrigin>(
        m, "Set the origin.");
    add_setter<CalibrationTr, QW_NAME("set_spacing"), kVec3Ref, &SpatialCalibrationProperty::setSpacing>(
        m, "Set the spacing.");
    add_setter<CalibrationTr, QW_NAME("set_directions"), kDirsRef, &SpatialCalibrationProperty::setDirections>(
        m, "Set the directions.");
    add_setter<CalibrationTr, QW_NAME("set_unit"), text::string_ref, &SpatialCalibrationProperty::setUnit>(
        m, "Set the unit.");
    add_object_compare<CalibrationTr>(m);
    add_const_getter<CalibrationTr, QW_NAME("to_string"), &SpatialCalibrationProperty::toString>(
        m, "Return string representation");
    m.add<Delete<CalibrationTr>>("Destructor.");
    add_hooks<SpatialCalibrationProperty>(m, "SpatialCalibrationProperty");
}

void add_spatial(Methods& m)
{
    add_directions(m);
    add_calibration(m);
}

QW_FAMILY(add_spatial);

} // namespace
