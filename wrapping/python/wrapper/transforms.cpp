// TransformMatrix3Factory and TransformMatrix4Factory: the matrices of
// homogeneous transforms of the plane and of space.
#include <string>

#include "quelbo/transform.h"
#include "runtime/item_parser.h"
#include "runtime/members.h"
#include "native_types.h"

namespace {

using namespace qw;
using quelbo::TransformMatrix3Factory;
using quelbo::TransformMatrix4Factory;

QW_TYPE(TransformMatrix3Factory);
QW_TYPE(TransformMatrix4Factory);

using Factory3Tr = Traits<TransformMatrix3Factory>;

using Factory4Tr = Traits<TransformMatrix4Factory>;

using Vec2 = Seq<quelbo::Vector2d>;
using Vec3 = Seq<quelbo::Vector3d>;
using Angle = Arg<double, text::real>;
using Convention = Arg<std::string, text::string_ref>;

void add_transforms(Methods& m)
{
    m.add<Fn<QW_NAME("TransformMatrix3Factory_translation"), &TransformMatrix3Factory::translation, Vec2>>(
        "\n"
        "Create a translation matrix.\n"
        "\n"
        ":type v: :py:class:`Vector2d`\n"
        ":param v: The vector used for the translation.\n"
        ":rtype: :py:class:`Matrix3d`\n"
        ":return: The translation matrix.\n");
    m.add<Fn<QW_NAME("TransformMatrix3Factory_rotation"), &TransformMatrix3Factory::rotation, Angle>>(
        "\n"
        "Create a rotation matrix.\n"
        "\n"
        "The rotation is done counter-clockwise, with the Y axis being up.\n"
        "\n"
        ":type angle: float\n"
        ":param angle: The angle of the rotation.\n"
        ":rtype: :py:class:`Matrix3d`\n"
        ":return: The rotation matrix.\n");
    m.add<Fn<QW_NAME("TransformMatrix3Factory_scaling"), &TransformMatrix3Factory::scaling, Vec2>>(
        "\n"
        "Create a Scaling matrix.\n"
        "\n"
        ":type v: :py:class:`Vector2d`\n"
        ":param v: The scaling factors.\n"
        ":rtype: :py:class:`Matrix3d`\n"
        ":return: The scaling matrix.\n");
    add_class<Factory3Tr, NewDefault>(m);

    m.add<Fn<QW_NAME("TransformMatrix4Factory_translation"), &TransformMatrix4Factory::translation, Vec3>>(
        "\n"
        "Create a translation matrix.\n"
        "\n"
        ":type v: :py:class:`Vector3d`\n"
        ":param v: The vector used for the translation.\n"
        ":rtype: :py:class:`Matrix4d`\n"
        ":return: The translation matrix.\n");
    m.add<Fn<QW_NAME("TransformMatrix4Factory_rotation_euler"), &TransformMatrix4Factory::rotationEuler, Vec3,
             Convention>>("\n"
                          "Create a rotation matrix for a rotation using Euler angles.\n"
                          "\n"
                          "The rotation is described by three Euler angles, chaining rotations, following\n"
                          "a given convention.\n"
                          "\n"
                          "The convention is decribed by a three-character-string, where each character\n"
                          "describes the axis of rotation for the corresponding angle.\n"
                          "A lowercase convention means that we are describing an extrinsic rotation,\n"
                          "while an uppercase convention means that we are describing an intrinsic\n"
                          "rotation. A mixed case convention is invalid.\n"
                          "\n"
                          "Extrinsinc and intrinsinc conventions are the inverse of each other, so\n"
                          "for example, intrinsinc convention \"ZYX\" is equivalent to the extrinsic\n"
                          "convention \"xyz\".\n"
                          "\n"
                          "Common conventions:\n"
                          "- \"ZYX\": Rotation around Z, then Y, then X.\n"
                          "- \"ZXZ\": Rotation around Z, then X, then Z.\n"
                          "\n"
                          ":type angles: :py:class:`Vector3d`\n"
                          ":param angles: The Euler angles of the rotation.\n"
                          ":type convention: string\n"
                          ":param convention: The convention used for the rotation.\n"
                          ":rtype: :py:class:`Matrix4d`\n"
                          ":return: The rotation matrix.\n"
                          "\n"
                          ":raises: InvalidArgument If the convention is invalid.\n");
    m.add<
        Fn<QW_NAME("TransformMatrix4Factory_rotation_on_axis"), &TransformMatrix4Factory::rotationOnAxis, Angle, Vec3>>(
        "\n"
        "Create a rotation matrix for a rotation around an axis.\n"
        "\n"
        "Rotation is done counter-clockwise, around the given axis.\n"
        "\n"
        ":type angle: float\n"
        ":param angle: The rotation angle.\n"
        ":type axis: :py:class:`Vector3d`\n"
        ":param axis: The axis around which the rotation is done, must be normalized.\n"
        ":rtype: :py:class:`Matrix4d`\n"
        ":return: The rotation matrix.\n");
    m.add<Fn<QW_NAME("TransformMatrix4Factory_scaling"), &TransformMatrix4Factory::scaling, Vec3>>(
        "\n"
        "Create a scaling matrix.\n"
        "\n"
        ":type v: :py:class:`Vector3d`\n"
        ":param v: The scaling factors.\n"
        ":rtype: :py:class:`Matrix4d`\n"
        ":return: The scaling matrix.\n");
    add_class<Factory4Tr, NewDefault>(m);
}

QW_FAMILY(add_transforms);

} // namespace
