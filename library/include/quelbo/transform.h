// Homogeneous transform matrices of the plane and of space.
#pragma once
#include <string>

#include "quelbo/export.h"
#include "quelbo/matrix.h"
#include "quelbo/vector.h"

namespace quelbo {

// Homogeneous transforms of the plane. Angles are in radians; the translation
// is in the last column.
class QUELBO_API TransformMatrix3Factory
{
public:
    static Matrix3d translation(Vector2d const& v);
    // Counter-clockwise, the y axis pointing up.
    static Matrix3d rotation(double angle);
    static Matrix3d scaling(Vector2d const& v);
};

// Homogeneous transforms of space. Angles are in radians; the translation is
// in the last column.
class QUELBO_API TransformMatrix4Factory
{
public:
    static Matrix4d translation(Vector3d const& v);
    static Matrix4d scaling(Vector3d const& v);
    // Counter-clockwise around the axis, which is normalised first; a zero
    // (or not finite) axis throws InvalidArgument.
    static Matrix4d rotationOnAxis(double angle, Vector3d const& axis);
    // Angle i turns around the axis named by character i of the convention:
    // three of x, y, z, all lower case (extrinsic: about the fixed axes, in
    // order) or all upper case (intrinsic: about the turned axes, in order).
    // Anything else throws InvalidArgument.
    static Matrix4d rotationEuler(Vector3d const& angles, std::string const& convention);
};

} // namespace quelbo
