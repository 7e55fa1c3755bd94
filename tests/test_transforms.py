"""Transform factories: homogeneous matrices (angles in radians, translation in
the last column), checked against numpy and against each other."""
import math

import numpy as np
import pytest

from proxy import QuelboError, q


def read(m, n):
    return np.array([[m.at(c, r) for c in range(n)] for r in range(n)])


def rot(axis, a):
    c, s = math.cos(a), math.sin(a)
    i, j = {"x": (1, 2), "y": (2, 0), "z": (0, 1)}[axis]
    r = np.eye(4)
    r[i, i], r[i, j], r[j, i], r[j, j] = c, -s, s, c
    return r


def test_plane_transforms_move_points_as_expected():
    t = read(q.TransformMatrix3Factory_translation([2, 3]), 3)
    np.testing.assert_allclose(t @ [1, 1, 1], [3, 4, 1])
    s = read(q.TransformMatrix3Factory_scaling((2, 0.5)), 3)
    np.testing.assert_allclose(s @ [4, 4, 1], [8, 2, 1])
    r = q.TransformMatrix3Factory_rotation(math.pi / 2)
    np.testing.assert_allclose([(r * [1, 0, 1]).at(i) for i in range(3)], [0, 1, 1], atol=1e-15)  # counter-clockwise
    assert q.TransformMatrix3Factory_rotation(0) == q.Matrix3d_identity()


def test_space_transforms():
    t = read(q.TransformMatrix4Factory_translation([1, 2, 3]), 4)
    np.testing.assert_allclose(t[:3, 3], [1, 2, 3])
    s = read(q.TransformMatrix4Factory_scaling((1, 2.5, True)), 4)
    np.testing.assert_allclose(np.diag(s), [1, 2.5, 1, 1])
    rng = np.random.default_rng(1)
    for _ in range(5):
        axis = rng.normal(size=3)
        angle = rng.uniform(-3, 3)
        m = read(q.TransformMatrix4Factory_rotation_on_axis(angle, list(axis)), 4)
        u = axis / np.linalg.norm(axis)
        np.testing.assert_allclose(m[:3, :3] @ u, u, atol=1e-12)  # the axis stays
        np.testing.assert_allclose(m[:3, :3] @ m[:3, :3].T, np.eye(3), atol=1e-12)
        # scaling the axis changes nothing: it is normalised
        big = read(q.TransformMatrix4Factory_rotation_on_axis(angle, list(axis * 7)), 4)
        np.testing.assert_allclose(big, m, atol=1e-12)
    with pytest.raises(QuelboError, match="axis"):
        q.TransformMatrix4Factory_rotation_on_axis(1.0, [0, 0, 0])


def test_euler_conventions():
    a, b, c = 0.3, -0.7, 1.1
    zyx = read(q.TransformMatrix4Factory_rotation_euler([a, b, c], "ZYX"), 4)
    np.testing.assert_allclose(zyx, rot("z", a) @ rot("y", b) @ rot("x", c), atol=1e-12)
    xyz = read(q.TransformMatrix4Factory_rotation_euler([c, b, a], "xyz"), 4)
    np.testing.assert_allclose(zyx, xyz, atol=1e-12)
    zxz = read(q.TransformMatrix4Factory_rotation_euler([a, b, c], "zxz"), 4)
    np.testing.assert_allclose(zxz, rot("z", c) @ rot("x", b) @ rot("z", a), atol=1e-12)
    for i, axis in enumerate("xyz"):
        angles = [0.0, 0.0, 0.0]
        angles[i] = 0.8
        for conv in ("xyz", "XYZ"):
            e = q.TransformMatrix4Factory_rotation_euler(angles, conv)
            on_axis = q.TransformMatrix4Factory_rotation_on_axis(0.8, [float(axis == k) for k in "xyz"])
            np.testing.assert_allclose(read(e, 4), read(on_axis, 4), atol=1e-15)
    for bad in ("xYz", "xy", "xyzx", "abc", "", "xy\u00e9"):
        with pytest.raises(QuelboError, match="convention"):
            q.TransformMatrix4Factory_rotation_euler([1, 2, 3], bad)


def test_rotations_about_a_frame_axis_are_exact():
    # as numpy builds them from cos and sin: the axis keeps its 1, whatever the angle
    rng = np.random.default_rng(31)
    for angle in rng.uniform(-7, 7, 200):
        for i, axis in enumerate("xyz"):
            angles = [0.0, 0.0, 0.0]
            angles[i] = angle
            e = read(q.TransformMatrix4Factory_rotation_euler(angles, "xyz"), 4)
            unit = [float(axis == k) * 2.0 ** -600 for k in "xyz"]
            on_axis = read(q.TransformMatrix4Factory_rotation_on_axis(angle, unit), 4)
            assert (e == rot(axis, angle)).all() and (on_axis == e).all(), (axis, angle)


def test_argument_failures():
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        q.TransformMatrix3Factory_translation([2, 3, 4])
    with pytest.raises(ValueError, match="^input must be a sequence$"):
        q.TransformMatrix3Factory_translation(5)
    with pytest.raises(TypeError, match="^invalid item in sequence - expected long or float value$"):
        q.TransformMatrix3Factory_translation(["a", 3])
    with pytest.raises(TypeError, match=r"^in method 'TransformMatrix3Factory_rotation', argument 1 of type 'double'$"):
        q.TransformMatrix3Factory_rotation("x")
    with pytest.raises(TypeError, match=r"^in method 'TransformMatrix4Factory_rotation_on_axis', argument 1 of type"):
        q.TransformMatrix4Factory_rotation_on_axis("x", [0])
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        q.TransformMatrix4Factory_rotation_on_axis(1.0, [0, 0])
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        q.TransformMatrix4Factory_rotation_euler([1, 2], "xyz")
    with pytest.raises(TypeError, match=r"^in method 'TransformMatrix4Factory_rotation_euler', argument 2 of type "
                                        r"'std::string const &'$"):
        q.TransformMatrix4Factory_rotation_euler([1, 2, 3], b"xyz")
    with pytest.raises(ValueError, match="^invalid null reference in method 'TransformMatrix4Factory_rotation_euler'"):
        q.TransformMatrix4Factory_rotation_euler([1, 2, 3], None)
    with pytest.raises(TypeError, match="^TransformMatrix4Factory_rotation_euler expected 2 arguments, got 1$"):
        q.TransformMatrix4Factory_rotation_euler([1, 2, 3])
    assert q.delete_TransformMatrix4Factory(None) is None
    f = q.new_TransformMatrix3Factory()
    assert q.delete_TransformMatrix3Factory(f) is None


def test_docstrings():
    assert q.TransformMatrix3Factory_translation.__doc__ == (
        "\nCreate a translation matrix.\n\n:type v: :py:class:`Vector2d`\n:param v: The vector used for the "
        "translation.\n:rtype: :py:class:`Matrix3d`\n:return: The translation matrix.\n")
    assert q.TransformMatrix3Factory_rotation.__doc__ == (
        "\nCreate a rotation matrix.\n\nThe rotation is done counter-clockwise, with the Y axis being up.\n\n"
        ":type angle: float\n:param angle: The angle of the rotation.\n:rtype: :py:class:`Matrix3d`\n"
        ":return: The rotation matrix.\n")
    assert q.TransformMatrix4Factory_rotation_euler.__doc__.endswith(
        ":return: The rotation matrix.\n\n:raises: InvalidArgument If the convention is invalid.\n")
    assert q.new_TransformMatrix4Factory.__doc__ is None
