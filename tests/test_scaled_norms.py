"""Normalisations of tiny and huge directions: rotation axes, the slice
direction of two spatial directions, and the length and normalize of vectors,
each against the same direction at scale 1 (and numpy there)."""
import math
import random
from fractions import Fraction

import numpy as np
import pytest

from helpers import ldexp
from proxy import QuelboError, cls, q
from test_vectors import KINDS, integral


def scales(rng, low=-300, high=300):
    """Powers of two (exact: the results match bit for bit) and powers of ten
    (rounded: within a few units in the last place)."""
    exact = [2.0 ** k for k in (-1000, -600, -530, -90, 90, 520, 600, 1000) if low * 3.33 <= k <= high * 3.33]
    tens = [10.0 ** k for k in (low, -200, -160, 154, 160, 200, high) if low <= k <= high]
    return [(s, True) for s in exact] + [(s, False) for s in tens + list(10.0 ** rng.uniform(low, high, 12))]


def directions(rng, count=6):
    return [rng.standard_normal(3) for _ in range(count)] + [np.array([3.0, 4.0, 0.0]), np.array([1.0, 0, 0])]


def matrix(m, n=4):
    return np.array([[m.at(c, r) for c in range(n)] for r in range(n)])


def close(a, b, exact):
    if exact:
        np.testing.assert_array_equal(a, b)
    else:
        np.testing.assert_allclose(a, b, rtol=0, atol=4e-16)


def test_rotation_axes_of_any_scale():
    rng = np.random.default_rng(52)
    for axis in directions(rng):
        angle = rng.uniform(-3, 3)
        unit = matrix(q.TransformMatrix4Factory_rotation_on_axis(angle, list(axis)))
        r = unit[:3, :3]
        np.testing.assert_allclose(r @ r.T, np.eye(3), atol=1e-15)
        np.testing.assert_allclose(r @ (axis / np.linalg.norm(axis)), axis / np.linalg.norm(axis), atol=1e-15)
        for s, exact in scales(rng):
            close(matrix(q.TransformMatrix4Factory_rotation_on_axis(angle, list(axis * s))), unit, exact)
    x = matrix(q.TransformMatrix4Factory_rotation_on_axis(0.5, [1, 0, 0]))
    for tiny in ([5e-324, 0, 0], [1e308, 0, 0], [1.7e308, -0.0, 0]):  # subnormal; beyond the square's range
        assert (matrix(q.TransformMatrix4Factory_rotation_on_axis(0.5, tiny)) == x).all()
    diagonal = matrix(q.TransformMatrix4Factory_rotation_on_axis(0.5, [1.7e308] * 3))
    close(diagonal, matrix(q.TransformMatrix4Factory_rotation_on_axis(0.5, [1, 1, 1])), False)
    for bad in ([0, 0, 0], [-0.0, 0, 0], [math.inf, 0, 0], [math.nan, 1, 0], [1e308, -math.inf, 0]):
        with pytest.raises(QuelboError, match=r"the rotation axis .* has no direction"):
            q.TransformMatrix4Factory_rotation_on_axis(1.0, bad)


def slice_of(column, row):
    d = cls("SpatialDirections")(list(column), list(row))
    s = d.get_slice_direction()
    return np.array([s[i] for i in range(3)])


def test_slice_directions_of_any_scale():
    rng = np.random.default_rng(5)
    for column, row in zip(directions(rng), directions(rng)[::-1]):
        if np.linalg.norm(np.cross(column, row)) < 1e-3:
            continue
        unit = slice_of(column, row)
        expected = np.cross(column, row) / np.linalg.norm(np.cross(column, row))
        np.testing.assert_allclose(unit, expected, atol=4e-16)
        for (s, exact), (t, exact2) in zip(scales(rng), scales(rng)[::-1]):
            close(slice_of(column * s, row * t), unit, exact and exact2)
    for big in (1e-200, 1e154, 1e200, 1e300):
        assert (slice_of([big, 0, 0], [0, big, 0]) == [0, 0, 1]).all()
    # parallel directions have no normal: the slice stays the zero cross product
    assert (slice_of([1e200, 0, 0], [3e200, 0, 0]) == 0).all()


def exact_normal(column, row):
    """The unit normal of the exact cross product, rounded once; None when it is zero."""
    a, b = [Fraction(float(x)) for x in column], [Fraction(float(x)) for x in row]
    c = [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]]
    top = max(abs(x) for x in c)
    if top == 0:
        return None
    near_one = [float(x / top) for x in c]
    return np.array(near_one) / math.sqrt(sum(x * x for x in near_one))


def test_slice_directions_of_components_far_apart():
    # each component at its own scale, some zero: no product over- or
    # underflows on the way, even where the two lie 2^1022 apart in one direction
    rng = np.random.default_rng(8)
    for _ in range(400):
        column, row = (rng.standard_normal(3) * 10.0 ** rng.uniform(-320, 300, 3) * (rng.random(3) < 0.8)
                       for _ in range(2))
        expected = exact_normal(column, row)
        if expected is not None:
            np.testing.assert_allclose(slice_of(column, row), expected, rtol=0, atol=4e-16)
    assert (slice_of([1.5e-142, 9.7e248, 0], [0, 2.5e280, 0]) == [0, 0, 1]).all()


VECTORS = ["Vector2d", "Vector3d", "Vector4d", "VectorXd", "Vector3f", "VectorXf"]


def values(v):
    return np.array([v.at(i) for i in range(v.size())], dtype=np.float64)


@pytest.mark.parametrize("name", VECTORS)
def test_vector_length_and_normalize_of_any_scale(name):
    rng = np.random.default_rng(len(name))
    single = name.endswith("f")
    dtype = np.float32 if single else np.float64
    size = int(name[6]) if name[6] != "X" else 7
    for _ in range(6):
        direction = rng.standard_normal(size).astype(dtype)
        v = cls(name)(list(map(float, direction)))
        length = v.length()
        assert length == np.sum(np.abs(direction.astype(np.float64)))  # the L1 norm
        v.normalize()
        unit = values(v)
        for s, exact in scales(rng, -30, 30) if single else scales(rng):
            scaled = (direction * dtype(s)).astype(dtype)
            w = cls(name)(list(map(float, scaled)))
            np.testing.assert_allclose(w.length(), np.sum(np.abs(scaled.astype(np.float64))), rtol=1e-15)
            w.normalize()
            if exact:
                np.testing.assert_array_equal(values(w), unit)
            else:
                np.testing.assert_allclose(values(w), unit, rtol=0, atol=1e-6 if single else 4e-16)


def test_only_a_length_beyond_the_double_range_is_infinite():
    v = cls("Vector3d")([1e308, 1e308, 0])
    assert v.length() == math.inf  # 2e308
    v.normalize()
    assert values(v).tolist() == [0.5, 0.5, 0.0]
    f = cls("Vector3f")([3e38, -3e38, 0])
    assert f.length() == float(np.float32(3e38)) * 2  # a double: no overflow
    f.normalize()
    assert values(f).tolist() == [0.5, -0.5, 0.0]
    tiny = cls("VectorXd")([5e-324, -5e-324, 1e-323])
    assert tiny.length() == 2e-323
    tiny.normalize()
    assert values(tiny).tolist() == [0.25, -0.25, 0.5]
    for kept in ([0.0, 0.0, 0.0], [math.inf, 1.0, 0.0], [1.0, math.nan, 0.0]):
        w = cls("Vector3d")(kept)
        w.normalize()
        np.testing.assert_array_equal(values(w), kept)  # without a direction: unchanged
    assert math.isnan(cls("Vector3d")([1.0, math.nan, math.inf]).length())
    assert cls("Vector3d")([1.0, math.inf, 0.0]).length() == math.inf


@pytest.mark.parametrize("k", integral, ids=[k.name for k in integral])
def test_integer_normalize_truncates_the_exact_quotient(k):
    # x / L1 truncated toward zero: 1 only for a lone non-zero element, also
    # where the quotient in doubles rounds up to 1 (2^64 - 1 next to 1)
    rng = random.Random(k.name)
    ends = [k.lo, k.hi, k.lo + 1, k.hi - 1, 0, 0, 1, -1 if k.signed else 2]
    for _ in range(100):
        items = [rng.choice(ends) if rng.random() < 0.7 else rng.randint(k.lo, k.hi)
                 for _ in range(k.length(rng.randint(1, 6)))]
        v = k.make(x - 2 ** 64 if x >= 2 ** 63 else x for x in items)  # items are signed 64-bit
        v.normalize()
        total = sum(abs(x) for x in items)
        assert k.values(v) == [int(Fraction(x, total)) if total else 0 for x in items], items


DYNAMIC = [k for k in KINDS if k.n is None]
WIDTHS = {"f": (24, -149, 127), "d": (53, -1074, 1023)}  # significand bits, lowest and highest exponent


def magnitudes(k, rng):
    """A dynamic vector's items: integers of any size, or floating values at one of the scales where
    the plain formula is fine, overflows, underflows, or spans the whole range; with zeros, and
    now and then an infinity or NaN."""
    size = rng.choice([0, 1, 3, 15, 16, 17, 31, 33, 100, 257, 4099])
    if not k.floating:
        top = rng.choice([k.hi, 100])
        return [rng.randint(max(k.lo, -top), top) for _ in range(size)]
    bits, low, high = WIDTHS[k.suffix]
    lo, hi = rng.choice([(-4, 4), (high - 24, high), (low, low + bits), (low, high)])
    items = [rng.choice([-1, 1]) * math.ldexp(rng.getrandbits(bits) | 1 << (bits - 1), rng.randint(lo, hi) - bits + 1)
             if rng.random() < 0.9 else rng.choice([0.0, -0.0]) for _ in range(size)]
    items = [float(k.wrap(x)) for x in items]  # as the vector holds them
    if size and rng.random() < 0.15:
        items[rng.randrange(size)] = rng.choice([math.inf, -math.inf, math.nan])
    return items


def exact_l1(items):
    """The L1 norm correctly rounded (inf beyond the largest double), or None with a non-finite item."""
    if not all(math.isfinite(x) for x in items):
        return None
    total = sum(Fraction(abs(x)) for x in items)
    try:
        return float(total), total
    except OverflowError:
        return math.inf, total


def struct_of(values):
    return np.array(values, dtype=np.float64).tobytes()


@pytest.mark.parametrize("k", DYNAMIC, ids=[k.name for k in DYNAMIC])
def test_lengths_and_units_at_any_scale_against_exact_sums(k):
    # the sums run in lanes: within their rounding of the exact sum, never overflowing or
    # underflowing where the norm does not, exact for integers that doubles hold, and alike for a
    # direction scaled by a power of two
    rng = random.Random(k.name)
    for _ in range(40):
        items = magnitudes(k, rng)
        n, v = len(items), k.make(x - 2 ** 64 if isinstance(x, int) and x >= 2 ** 63 else x for x in items)
        length, kept = v.length(), k.values(v)
        exact = exact_l1(items)
        v.normalize()
        units = k.values(v)
        if exact is None:
            assert math.isnan(length) if any(x != x for x in items) else length == math.inf
            assert struct_of(units) == struct_of(kept)  # no direction: unchanged
            continue
        rounded, total = exact
        if rounded == math.inf or (not k.floating and total < 2 ** 53):
            assert length == rounded, items
        else:
            assert abs(Fraction(length) - total) <= n * Fraction(1, 2 ** 53) * total, items
        if total == 0:
            assert struct_of(units) == struct_of(kept)
            continue
        if not k.floating:
            continue  # integer quotients: test_integer_normalize_truncates_the_exact_quotient
        bits, low, _ = WIDTHS[k.suffix]
        eps, least = Fraction(1, 2 ** (bits - 1)), Fraction(1, 2 ** -low)
        for x, u in zip(items, units):
            assert abs(Fraction(u) - Fraction(x) / total) <= (n + 1) * eps * abs(Fraction(x)) / total + least
        if k.suffix == "d":
            shift = rng.choice([-1100, -600, -60, 60, 600, 1100])
            scaled = [ldexp(x, shift) for x in items]
            if all(math.ldexp(y, -shift) == x for x, y in zip(items, scaled)):  # every item exact there
                w = k.make(scaled)
                if length < math.inf:
                    assert w.length() == ldexp(length, shift)
                w.normalize()
                for u, s in zip(units, k.values(w)):
                    assert s == u if abs(u) >= 2 ** -1022 else abs(s - u) <= 2 ** -1073
