// SpatialDirections and SpatialCalibrationProperty: where an image lies in space.
#include "properties.h"
#include "quelbo/image_properties.h"

namespace {

using namespace qw;
using namespace qw::props;
using quelbo::SpatialCalibrationProperty;
using quelbo::SpatialDirections;
using quelbo::Vector3d;

struct DirectionsTr
{
    using T = SpatialDirections;
    static constexpr const char* name = "SpatialDirections";
    static constexpr const char* native = "quelbo::SpatialDirections";
    static constexpr const char* self_type = "quelbo::SpatialDirections const *";
    static constexpr const char* other_type = "quelbo::SpatialDirections const &";
};

struct CalibrationTr
{
    using T = SpatialCalibrationProperty;
    static constexpr const char* name = "SpatialCalibrationProperty";
    static constexpr const char* native = "quelbo::SpatialCalibrationProperty";
    static constexpr const char* self_type = "quelbo::SpatialCalibrationProperty const *";
    static constexpr const char* mut_type = "quelbo::SpatialCalibrationProperty *";
    static constexpr const char* other_type = "quelbo::SpatialCalibrationProperty const &";
};

constexpr const char* kDirRef = "quelbo::SpatialDirections const &";

// ------------------------------------------------------------- directions

PyObject* new_SpatialDirections(PyObject*, PyObject* args)
{
    static const char* fn = "new_SpatialDirections";
    static const Overloads rows(
        fn, {{"quelbo::SpatialDirections::SpatialDirections()", 0, 0, nullptr,
              [](Args, Py_ssize_t) { return call([] { return constructed(new SpatialDirections()); }); }, 0},
             {"quelbo::SpatialDirections::SpatialDirections(quelbo::SpatialDirections const &)", 1, 1,
              [](Args a, Py_ssize_t) { return is_obj<SpatialDirections>(a[0]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  SpatialDirections* other;
                  if (!ref(a[0], {fn, 1, kDirRef}, other))
                      return nullptr;
                  return call([&] { return constructed(new SpatialDirections(*other)); });
              },
              2},
             {"quelbo::SpatialDirections::SpatialDirections(quelbo::SpatialDirections &&)", 1, 1,
              [](Args, Py_ssize_t) { return false; }, nullptr, 3},
             {"quelbo::SpatialDirections::SpatialDirections(quelbo::Vector3d const &,quelbo::Vector3d const &)", 2, 2,
              [](Args a, Py_ssize_t) { return is_seq(a[0]) && is_seq(a[1]); },
              [](Args a, Py_ssize_t) -> PyObject* {
                  Vector3d column, row;
                  if (!sequence_to_vector(a[0], column) || !sequence_to_vector(a[1], row))
                      return nullptr;
                  return call([&] { return constructed(new SpatialDirections(column, row)); });
              },
              1}});
    return rows(args);
}

constexpr char kGetColumn[] = "get_column_direction";
constexpr char kGetRow[] = "get_row_direction";
constexpr char kGetSlice[] = "get_slice_direction";
constexpr char kToString[] = "to_string";

void add_directions(Methods& m)
{
    m.add<&new_SpatialDirections>("new_SpatialDirections", METH_VARARGS);
    add_const_getter<DirectionsTr, kGetColumn, &SpatialDirections::columnDirection>(
        m, "The direction vector following the column dimension (X)");
    add_const_getter<DirectionsTr, kGetRow, &SpatialDirections::rowDirection>(
        m, "The direction vector following the row dimension (Y)");
    add_const_getter<DirectionsTr, kGetSlice, &SpatialDirections::sliceDirection>(
        m, "The direction vector following the slice dimension (Z)");
    add_object_compare<DirectionsTr>(m);
    add_const_getter<DirectionsTr, kToString, &SpatialDirections::toString>(
        m, "Return a string decription of the spatial directions.");
    m.add<&ClassOps<DirectionsTr>::del>("delete_SpatialDirections", METH_O);
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

// new_SpatialCalibrationProperty(origin[, spacing[, directions[, unit]]])
PyObject* make_calibration(Args a, Py_ssize_t n)
{
    static const char* fn = "new_SpatialCalibrationProperty";
    Vector3d origin, spacing;
    SpatialDirections* directions = nullptr;
    std::string unit;
    if (!sequence_to_vector(a[0], origin) || (n >= 2 && !sequence_to_vector(a[1], spacing)) ||
        (n >= 3 && !ref(a[2], {fn, 3, kDirRef}, directions)) ||
        (n == 4 && !arg(a[3], {fn, 4, "std::string const &"}, unit)))
        return nullptr;
    return call([&] {
        switch (n) {
        case 1:
            return constructed(new SpatialCalibrationProperty(origin));
        case 2:
            return constructed(new SpatialCalibrationProperty(origin, spacing));
        case 3:
            return constructed(new SpatialCalibrationProperty(origin, spacing, *directions));
        default:
            return constructed(new SpatialCalibrationProperty(origin, spacing, *directions, unit));
        }
    });
}

bool is_dirs(PyObject* o)
{
    return is_obj<SpatialDirections>(o);
}

PyObject* new_SpatialCalibrationProperty(PyObject*, PyObject* args)
{
    static const char* fn = "new_SpatialCalibrationProperty";
    static const Overloads rows(
        fn,
        {{"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty()", 0, 0, nullptr,
          [](Args, Py_ssize_t) { return call([] { return constructed(new SpatialCalibrationProperty()); }); }, 0},
         {"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty(quelbo::SpatialCalibrationProperty const &)",
          1, 1, [](Args a, Py_ssize_t) { return is_obj<SpatialCalibrationProperty>(a[0]); },
          [](Args a, Py_ssize_t) -> PyObject* {
              SpatialCalibrationProperty* other;
              if (!ref(a[0], {fn, 1, CalibrationTr::other_type}, other))
                  return nullptr;
              return call([&] { return constructed(new SpatialCalibrationProperty(*other)); });
          },
          5},
         {"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty(quelbo::SpatialCalibrationProperty &&)", 1, 1,
          [](Args, Py_ssize_t) { return false; }, nullptr, 6},
         {"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty(quelbo::Vector3d const &)", 1, 1,
          [](Args a, Py_ssize_t) { return is_seq(a[0]); }, &make_calibration, 1},
         {"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty(quelbo::Vector3d const &,quelbo::Vector3d "
          "const &)",
          2, 2, [](Args a, Py_ssize_t) { return is_seq(a[0]) && is_seq(a[1]); }, &make_calibration, 2},
         {"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty(quelbo::Vector3d const &,quelbo::Vector3d "
          "const &,quelbo::SpatialDirections const &)",
          3, 3, [](Args a, Py_ssize_t) { return is_seq(a[0]) && is_seq(a[1]) && is_dirs(a[2]); }, &make_calibration, 3},
         {"quelbo::SpatialCalibrationProperty::SpatialCalibrationProperty(quelbo::Vector3d const &,quelbo::Vector3d "
          "const &,quelbo::SpatialDirections const &,std::string const &)",
          4, 4,
          [](Args a, Py_ssize_t) { return is_seq(a[0]) && is_seq(a[1]) && is_dirs(a[2]) && is<std::string>(a[3]); },
          &make_calibration, 4}});
    return rows(args);
}

constexpr char kGetOrigin[] = "get_origin";
constexpr char kGetSpacing[] = "get_spacing";
constexpr char kGetDirections[] = "get_directions";
constexpr char kGetUnit[] = "get_unit";
constexpr char kSetOrigin[] = "set_origin";
constexpr char kSetSpacing[] = "set_spacing";
constexpr char kSetDirections[] = "set_directions";
constexpr char kSetUnit[] = "set_unit";
constexpr char kVec3Ref[] = "quelbo::Vector3d const &";
constexpr char kDirsRef[] = "quelbo::SpatialDirections const &";
constexpr char kStringRef[] = "std::string const &";

void add_calibration(Methods& m)
{
    m.add<&new_SpatialCalibrationProperty>("new_SpatialCalibrationProperty", METH_VARARGS, kCalibrationDoc);
    add_const_getter<CalibrationTr, kGetOrigin, &SpatialCalibrationProperty::origin>(m, "Get the origin.");
    add_const_getter<CalibrationTr, kGetSpacing, &SpatialCalibrationProperty::spacing>(m, "Get the spacing.");
    add_const_getter<CalibrationTr, kGetDirections, &SpatialCalibrationProperty::directions>(
        m, "Get the spatial axis system.");
    add_const_getter<CalibrationTr, kGetUnit, &SpatialCalibrationProperty::unit>(m, "Get the unit.");
    add_setter<CalibrationTr, kSetOrigin, kVec3Ref, &SpatialCalibrationProperty::setOrigin>(m, "Set the origin.");
    add_setter<CalibrationTr, kSetSpacing, kVec3Ref, &SpatialCalibrationProperty::setSpacing>(m, "Set the spacing.");
    add_setter<CalibrationTr, kSetDirections, kDirsRef, &SpatialCalibrationProperty::setDirections>(
        m, "Set the directions.");
    add_setter<CalibrationTr, kSetUnit, kStringRef, &SpatialCalibrationProperty::setUnit>(m, "Set the unit.");
    add_object_compare<CalibrationTr>(m);
    add_const_getter<CalibrationTr, kToString, &SpatialCalibrationProperty::toString>(m,
                                                                                      "Return string representation");
    m.add<&ClassOps<CalibrationTr>::del>("delete_SpatialCalibrationProperty", METH_O, "Destructor.");
    add_hooks<SpatialCalibrationProperty>(m, "SpatialCalibrationProperty");
}

void add_spatial(Methods& m)
{
    add_directions(m);
    add_calibration(m);
}

QW_FAMILY(order::spatial, add_spatial);

} // namespace
