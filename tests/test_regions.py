import itertools
import random

import pytest

from proxy import QuelboError, cls, q

FIXED = {2: "Region2u64", 3: "Region3u64", 4: "Region4u64"}
U64_MAX = 2**64 - 1


def vec(v):
    """The elements of a returned vector as a tuple."""
    name = type(v).__name__
    size = getattr(q, name + "_size")(v)
    return tuple(getattr(q, name + "_at")(v, i) for i in range(size))


def make(name, origin, size):
    return cls(name)(origin, size)


def fn(name, member):
    return getattr(q, name + "_" + member)


def box(region, name):
    return vec(fn(name, "get_origin")(region)), vec(fn(name, "get_size")(region))


# --------------------------------------------------------------- slicing

@pytest.mark.parametrize("name", ["Region3u64", "RegionXu64"])
@pytest.mark.parametrize(
    "origin,dim,pos,expected",
    [
        ((0, 0, 0), 0, 3, ((3, 0, 0), (1, 6, 7))),
        ((0, 0, 0), 1, 4, ((0, 4, 0), (5, 1, 7))),
        ((0, 0, 0), 2, 5, ((0, 0, 5), (5, 6, 1))),
        ((2, 3, 4), 0, 3, ((5, 3, 4), (1, 6, 7))),
    ],
)
def test_slice_examples(name, origin, dim, pos, expected):
    r = make(name, origin, (5, 6, 7))
    s = fn(name, "extract_slice_from_axis")(r, dim, pos)
    assert box(s, name) == expected
    assert box(r, name) == (origin, (5, 6, 7))


@pytest.mark.parametrize("name", ["Region3u64", "RegionXu64"])
def test_slice_out_of_range(name):
    f = fn(name, "extract_slice_from_axis")
    r = make(name, (2, 3, 4), (5, 6, 7))
    with pytest.raises(OverflowError) as e:
        f(r, -1, 0)
    assert str(e.value) == "in method '%s_extract_slice_from_axis', argument 2 of type 'size_t'" % name
    with pytest.raises(TypeError, match="argument 3 of type 'uint64_t'"):
        f(r, 0, 1.0)
    for dim, pos in [(3, 0), (0, 5), (2, 7), (1, U64_MAX)]:
        with pytest.raises(QuelboError):
            f(r, dim, pos)


# ----------------------------------------------------- dimension checks

def test_dynamic_dimension_mismatch_is_a_library_error():
    r3 = cls("RegionXu64")([0, 0, 0], [4, 4, 4])
    r2 = cls("RegionXu64")([0, 0], [4, 4])
    for call in (
        lambda: q.RegionXu64_contains(r3, [1, 2]),
        lambda: q.RegionXu64_contains(r3, r2),
        lambda: q.RegionXu64_intersect(r3, r2),
        lambda: q.RegionXu64_intersection(r2, r3),
    ):
        with pytest.raises(QuelboError, match="dimension count"):
            call()
    assert q.RegionXu64___eq__(r3, r2) is False
    assert q.RegionXu64___ne__(r3, r2) is True


def test_fixed_position_length_and_overloads():
    r = make("Region3u64", (0, 0, 0), (2, 2, 2))
    assert q.Region3u64_contains(r, [1, 1, 1]) is True
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        q.Region3u64_contains(r, [1, 1])
    for bad in (None, 3, make("Region2u64", (0, 0), (1, 1)), cls("RegionXu64")(3)):
        with pytest.raises(TypeError, match="overloaded function 'Region3u64_contains'"):
            q.Region3u64_contains(r, bad)


@pytest.mark.parametrize(
    "build",
    [
        # sequence items keep the low 64 bits: -1 is 2^64-1, -2**63 is 2^63
        lambda: make("Region2u64", [-1, 0], [1, 0]),  # origin + size wraps
        lambda: make("RegionXu64", [-2**63], [-2**63]),
        lambda: make("RegionXu64", [1, 2], [3]),  # origin and size lengths differ
        lambda: q.RegionXu64_from_index([-1]),
        lambda: cls("Region2u64")(cls("RegionXu64")([1, 2, 3], [1, 1, 1])),
        lambda: q.RegionXu64_get_element_count(make("RegionXu64", [0, 0], [2**33, 2**33])),
    ],
)
def test_unsound_regions_are_refused(build):
    with pytest.raises(QuelboError):
        build()


# ------------------------------------------- geometry against brute force

def points(origin, size):
    return set(itertools.product(*[range(o, o + s) for o, s in zip(origin, size)]))


def random_box(rng, dims):
    return tuple(rng.randrange(6) for _ in range(dims)), tuple(rng.choice((0, 1, 1, 2, 3, 4)) for _ in range(dims))


@pytest.mark.parametrize("name,dims", [("Region2u64", 2), ("Region3u64", 3), ("RegionXu64", 1), ("RegionXu64", 3)])
def test_geometry_matches_point_sets(name, dims):
    rng = random.Random(dims * 7919 + len(name))
    for _ in range(250):
        (ao, as_), (bo, bs) = random_box(rng, dims), random_box(rng, dims)
        a, b = make(name, ao, as_), make(name, bo, bs)
        pa, pb = points(ao, as_), points(bo, bs)
        assert fn(name, "get_element_count")(a) == len(pa)
        assert fn(name, "get_is_empty")(a) is (not pa)
        assert fn(name, "contains")(a, b) is (pb <= pa), (ao, as_, bo, bs)
        assert fn(name, "intersect")(a, b) is bool(pa & pb), (ao, as_, bo, bs)
        common = fn(name, "intersection")(a, b)
        assert points(*box(common, name)) == pa & pb
        if not pa & pb:
            assert box(common, name) == ((0,) * dims, (0,) * dims)
        p = tuple(rng.randrange(8) for _ in range(dims))
        assert fn(name, "contains")(a, list(p)) is (p in pa)
        assert vec(fn(name, "get_min")(a)) == ao
        assert vec(fn(name, "get_max")(a)) == tuple(o + s for o, s in zip(ao, as_))


def test_counts_and_makers():
    big = make("Region2u64", (0, 0), (2**32, 2**31))
    assert q.Region2u64_get_element_count(big) == 2**63
    full = q.RegionXu64_create_full_region([5, 6, 7])
    assert box(full, "RegionXu64") == ((0, 0, 0), (5, 6, 7))
    assert box(q.RegionXu64_from_index([4, 2]), "RegionXu64") == ((4, 2), (1, 1))
    empty = cls("RegionXu64")(3)
    assert q.RegionXu64_get_dimension_count(empty) == 3 and q.RegionXu64_get_is_empty(empty)
    fixed = cls("Region2u64")(make("RegionXu64", [1, 2], [3, 4]))
    assert box(fixed, "Region2u64") == ((1, 2), (3, 4))
    for n, name in FIXED.items():
        assert fn(name, "get_dimension_count")(cls(name)()) == n
        assert fn(name, "get_dimension_count")(None) == n


# -------------------------------------------------------------- equality

@pytest.mark.parametrize("name,other", [("Region2u64", "Region3u64"), ("RegionXu64", "Region2u64")])
def test_equality_operators(name, other):
    r = make(name, (1, 2), (3, 4))
    ops = ["__eq__"] + (["__ne__"] if name == "RegionXu64" else [])
    for op in ops:
        f = fn(name, op)
        with pytest.raises(ValueError) as e:
            f(r, None)
        native = "quelbo::RegionX< uint64_t >" if name == "RegionXu64" else "quelbo::Region< uint64_t,2 >"
        assert str(e.value) == "invalid null reference in method '%s_%s', argument 2 of type '%s const &'" % (
            name, op, native)
        assert f(r, cls(other)()) is NotImplemented
        assert f(r, [1, 2]) is NotImplemented
        assert f(r, make(name, (1, 2), (3, 4))) is (op == "__eq__")
        assert f(r, make(name, (1, 2), (3, 5))) is (op == "__ne__")


# ------------------------------------------------------------ overloads

def test_constructor_overload_messages():
    with pytest.raises(TypeError) as e:
        q.new_Region2u64([1, 2], [3, 4], [5, 6])
    text = str(e.value)
    assert text.startswith("new_Region2u64 expected at most 2 arguments, got 3\nAdditional information:\n")
    assert text.endswith(
        "    quelbo::Region< uint64_t,2 >::Region(RegionX< uint64_t > const &)\n"
        "    quelbo::Region< uint64_t,2 >::Region(quelbo::Region< uint64_t,2 > const &)\n")
    for args in ([1, 2], 5, None):
        with pytest.raises(TypeError, match="^Wrong number or type of arguments for overloaded function 'new_Region2u64'"):
            q.new_Region2u64(args)
    with pytest.raises(TypeError, match="RegionX\\(size_t\\)"):
        q.new_RegionXu64(-1)
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        q.new_Region2u64([1, 2, 3], "ab")
    with pytest.raises(TypeError, match="^invalid item in sequence - expected long value$"):
        q.new_Region2u64(["a", 2], [1, 1])


@pytest.mark.parametrize("name,native", [("Region2u64", "quelbo::Region< uint64_t,2 >"),
                                         ("RegionXu64", "quelbo::RegionX< uint64_t >")])
def test_member_messages_name_the_declared_types(name, native):
    r = make(name, (0, 0), (1, 1))
    with pytest.raises(TypeError) as e:
        fn(name, "contains")(r, 3)
    assert str(e.value) == (
        "Wrong number or type of arguments for overloaded function '%s_contains'.\n"
        "  Possible C/C++ prototypes are:\n"
        "    %s::contains(%s const &) const\n"
        "    %s::contains(%s::VectorType const &) const\n" % (name, native, native, native, native))
    with pytest.raises(ValueError) as e:
        fn(name, "intersect")(None, r)
    assert str(e.value) == "invalid null reference in method '%s_intersect', argument 1 of type '%s const *'" % (
        name, native)
    other = cls("Region3u64")() if name == "RegionXu64" else cls("RegionXu64")(2)
    with pytest.raises(TypeError) as e:
        fn(name, "intersection")(r, other)
    assert str(e.value) == "in method '%s_intersection', argument 2 of type '%s const &'" % (name, native)
    with pytest.raises(OverflowError) as e:
        fn(name, "extract_slice_from_axis")(r, 0, -1)
    assert str(e.value) == "in method '%s_extract_slice_from_axis', argument 3 of type 'uint64_t'" % name
    with pytest.raises(TypeError) as e:
        fn(name, "get_dimension_count")(other)
    assert str(e.value) == "in method '%s_get_dimension_count', argument 1 of type '%s const *'" % (name, native)
