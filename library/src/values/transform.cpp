// Translations, rotations and scalings of the plane and of space.
#include "quelbo/transform.h"

#include <cmath>

#include "quelbo/error.h"
#include "quelbo/norm.h"

namespace quelbo {

namespace {

// The 3x3 rotation around the unit axis (x, y, z), into the upper-left block.
// The diagonal is written as x^2 + c (1 - x^2), equal to t x^2 + c: exact on
// an axis of the frame, where t + c need not round to 1.
Matrix4d axisRotation(double angle, double x, double y, double z)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const double t = 1.0 - c;
    auto diagonal = [c](double e) { return e * e + c * (1.0 - e * e); };
    const double r[3][3] = {{diagonal(x), t * x * y - s * z, t * x * z + s * y},
                            {t * x * y + s * z, diagonal(y), t * y * z - s * x},
                            {t * x * z - s * y, t * y * z + s * x, diagonal(z)}};
    Matrix4d m = Matrix4d::identity();
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            m.setAt(column, row, r[row][column]);
    return m;
}

Matrix4d principalRotation(char axis, double angle)
{
    switch (axis) {
    case 'x':
        return axisRotation(angle, 1, 0, 0);
    case 'y':
        return axisRotation(angle, 0, 1, 0);
    default:
        return axisRotation(angle, 0, 0, 1);
    }
}

[[noreturn]] void invalidConvention(std::string const& convention)
{
    throw InvalidArgument("TransformMatrix4Factory: invalid Euler convention '" + convention +
                          "': expected three of x, y, z, all lower case or all upper case");
}

} // namespace

Matrix3d TransformMatrix3Factory::translation(Vector2d const& v)
{
    Matrix3d m = Matrix3d::identity();
    m.setAt(2, 0, v.m_data[0]);
    m.setAt(2, 1, v.m_data[1]);
    return m;
}

Matrix3d TransformMatrix3Factory::rotation(double angle)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    Matrix3d m = Matrix3d::identity();
    m.setAt(0, 0, c);
    m.setAt(1, 0, -s);
    m.setAt(0, 1, s);
    m.setAt(1, 1, c);
    return m;
}

Matrix3d TransformMatrix3Factory::scaling(Vector2d const& v)
{
    Matrix3d m = Matrix3d::identity();
    m.setAt(0, 0, v.m_data[0]);
    m.setAt(1, 1, v.m_data[1]);
    return m;
}

Matrix4d TransformMatrix4Factory::translation(Vector3d const& v)
{
    Matrix4d m = Matrix4d::identity();
    for (int i = 0; i < 3; ++i)
        m.setAt(3, i, v.m_data[i]);
    return m;
}

Matrix4d TransformMatrix4Factory::scaling(Vector3d const& v)
{
    Matrix4d m = Matrix4d::identity();
    for (int i = 0; i < 3; ++i)
        m.setAt(i, i, v.m_data[i]);
    return m;
}

Matrix4d TransformMatrix4Factory::rotationOnAxis(double angle, Vector3d const& axis)
{
    norm_detail::Measure const norm = norm_detail::measure<norm_detail::Norm::L2>(axis.data(), 3);
    if (!norm.hasDirection())
        throw InvalidArgument("TransformMatrix4Factory: the rotation axis " + axis.toString() + " has no direction");
    return axisRotation(angle, norm.unit(axis.m_data[0]), norm.unit(axis.m_data[1]), norm.unit(axis.m_data[2]));
}

Matrix4d TransformMatrix4Factory::rotationEuler(Vector3d const& angles, std::string const& convention)
{
    if (convention.size() != 3)
        invalidConvention(convention);
    int lower = 0;
    int upper = 0;
    for (char ch : convention) {
        if (ch == 'x' || ch == 'y' || ch == 'z')
            ++lower;
        else if (ch == 'X' || ch == 'Y' || ch == 'Z')
            ++upper;
        else
            invalidConvention(convention);
    }
    if (lower != 3 && upper != 3)
        invalidConvention(convention);
    Matrix4d m = Matrix4d::identity();
    for (int i = 0; i < 3; ++i) {
        const Matrix4d r = principalRotation(char(convention[i] | 0x20), angles.m_data[i]);
        // extrinsic turns apply on the left (fixed axes), intrinsic on the right
        m = upper == 3 ? m * r : r * m;
    }
    return m;
}

} // namespace quelbo
