// TransformMatrix3Factory and TransformMatrix4Factory: the matrices of
// homogeneous transforms of the plane and of space.
#include <string>

#include "common/item_parser.h"
#include "quelbo/transform.h"
#include "runtime/declare.h"

namespace {

using namespace qw;
using quelbo::TransformMatrix3Factory;
using quelbo::TransformMatrix4Factory;

QW_TYPE(TransformMatrix3Factory, "_p_quelbo__TransformMatrix3Factory");
QW_TYPE(TransformMatrix4Factory, "_p_quelbo__TransformMatrix4Factory");

struct Factory3Tr
{
    using T = TransformMatrix3Factory;
    static constexpr const char* name = "TransformMatrix3Factory";
    static constexpr const char* native = "quelbo::TransformMatrix3Factory";
};

struct Factory4Tr
{
    using T = TransformMatrix4Factory;
    static constexpr const char* name = "TransformMatrix4Factory";
    static constexpr const char* native = "quelbo::TransformMatrix4Factory";
};

constexpr char kT3Translation[] = "TransformMatrix3Factory_translation";
constexpr char kT3Rotation[] = "TransformMatrix3Factory_rotation";
constexpr char kT3Scaling[] = "TransformMatrix3Factory_scaling";
constexpr char kT4Translation[] = "TransformMatrix4Factory_translation";
constexpr char kT4RotationEuler[] = "TransformMatrix4Factory_rotation_euler";
constexpr char kT4RotationOnAxis[] = "TransformMatrix4Factory_rotation_on_axis";
constexpr char kT4Scaling[] = "TransformMatrix4Factory_scaling";

constexpr char kVector2[] = "quelbo::Vector2d const &";
constexpr char kVector3[] = "quelbo::Vector3d const &";
using Vec2 = Seq<quelbo::Vector2d, kVector2>;
using Vec3 = Seq<quelbo::Vector3d, kVector3>;
using Angle = Arg<double, text::real>;
using Convention = Arg<std::string, text::string_ref>;

// A docstring: summary, description lines, parameters {name, type, text},
// result type and text; a type in backquotes is a class.
struct Param
{
    const char* name;
    const char* type;
    const char* text;
};

std::string type_text(const char* type)
{
    return type[0] == '`' ? std::string(":py:class:") + type : type;
}

const char* doc(const char* summary, std::initializer_list<const char*> lines, std::initializer_list<Param> params,
                const char* rtype, const char* rtext, const char* raises = nullptr)
{
    std::string d = std::string("\n") + summary + "\n\n";
    for (const char* line : lines)
        d += std::string(line) + "\n";
    if (lines.size() != 0)
        d += "\n";
    for (const Param& p : params)
        d += std::string(":type ") + p.name + ": " + type_text(p.type) + "\n:param " + p.name + ": " + p.text + "\n";
    d += ":rtype: " + type_text(rtype) + "\n:return: " + rtext + "\n";
    if (raises)
        d += std::string("\n:raises: ") + raises + "\n";
    return intern(d);
}

void add_transforms(Methods& m)
{
    m.add<Fn<kT3Translation, &TransformMatrix3Factory::translation, Vec2>>(
        doc("Create a translation matrix.", {}, {{"v", "`Vector2d`", "The vector used for the translation."}},
            "`Matrix3d`", "The translation matrix."));
    m.add<Fn<kT3Rotation, &TransformMatrix3Factory::rotation, Angle>>(
        doc("Create a rotation matrix.", {"The rotation is done counter-clockwise, with the Y axis being up."},
            {{"angle", "float", "The angle of the rotation."}}, "`Matrix3d`", "The rotation matrix."));
    m.add<Fn<kT3Scaling, &TransformMatrix3Factory::scaling, Vec2>>(doc("Create a Scaling matrix.", {},
                                                                       {{"v", "`Vector2d`", "The scaling factors."}},
                                                                       "`Matrix3d`", "The scaling matrix."));
    ClassOps<Factory3Tr>::add<&ClassOps<Factory3Tr>::new_default>(m);

    m.add<Fn<kT4Translation, &TransformMatrix4Factory::translation, Vec3>>(
        doc("Create a translation matrix.", {}, {{"v", "`Vector3d`", "The vector used for the translation."}},
            "`Matrix4d`", "The translation matrix."));
    m.add<Fn<kT4RotationEuler, &TransformMatrix4Factory::rotationEuler, Vec3, Convention>>(
        doc("Create a rotation matrix for a rotation using Euler angles.",
            {"The rotation is described by three Euler angles, chaining rotations, following", "a given convention.",
             "", "The convention is decribed by a three-character-string, where each character",
             "describes the axis of rotation for the corresponding angle.",
             "A lowercase convention means that we are describing an extrinsic rotation,",
             "while an uppercase convention means that we are describing an intrinsic",
             "rotation. A mixed case convention is invalid.", "",
             "Extrinsinc and intrinsinc conventions are the inverse of each other, so",
             "for example, intrinsinc convention \"ZYX\" is equivalent to the extrinsic", "convention \"xyz\".", "",
             "Common conventions:", "- \"ZYX\": Rotation around Z, then Y, then X.",
             "- \"ZXZ\": Rotation around Z, then X, then Z."},
            {{"angles", "`Vector3d`", "The Euler angles of the rotation."},
             {"convention", "string", "The convention used for the rotation."}},
            "`Matrix4d`", "The rotation matrix.", "InvalidArgument If the convention is invalid."));
    m.add<Fn<kT4RotationOnAxis, &TransformMatrix4Factory::rotationOnAxis, Angle, Vec3>>(
        doc("Create a rotation matrix for a rotation around an axis.",
            {"Rotation is done counter-clockwise, around the given axis."},
            {{"angle", "float", "The rotation angle."},
             {"axis", "`Vector3d`", "The axis around which the rotation is done, must be normalized."}},
            "`Matrix4d`", "The rotation matrix."));
    m.add<Fn<kT4Scaling, &TransformMatrix4Factory::scaling, Vec3>>(doc("Create a scaling matrix.", {},
                                                                       {{"v", "`Vector3d`", "The scaling factors."}},
                                                                       "`Matrix4d`", "The scaling matrix."));
    ClassOps<Factory4Tr>::add<&ClassOps<Factory4Tr>::new_default>(m);
}

QW_FAMILY(order::transforms, add_transforms);

} // namespace
