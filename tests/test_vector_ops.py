"""Arithmetic and comparison operators of the vector classes."""
import math
import operator
import os
import random
import sys

import numpy as np
import pytest

from helpers import overload_text, rss
from proxy import QuelboError, cls, q
from test_vectors import KINDS, every, integral

DTYPES = dict(u8=np.uint8, i8=np.int8, u16=np.uint16, i16=np.int16, u32=np.uint32, i32=np.int32, u64=np.uint64,
              i64=np.int64, f=np.float32, d=np.float64)
ARITH = ["add", "sub", "mul", "truediv"]
COMPARISONS = dict(eq=operator.eq, ne=operator.ne, lt=operator.lt, le=operator.le, gt=operator.gt, ge=operator.ge)
IN_PLACE = ["iadd", "isub", "imul", "itruediv"]
EVERY_OP = ARITH + IN_PLACE + list(COMPARISONS)
FLT_MAX = 3.4028234663852886e38
dynamic = [k for k in KINDS if k.n is None]
by_name = {k.name: k for k in KINDS}


def op(k, name):
    return getattr(q, "%s___%s__" % (k.name, name))


def item_text(k):
    return "invalid item in sequence - expected long" + (" or float value" if k.floating else " value")


def overload_message(k, name):
    symbol = {"imul": "*=", "itruediv": "/="}[name]
    return overload_text("%s___%s__" % (k.name, name), "%s::operator %s(%s::ValueType)" % (k.native, symbol, k.native),
                         "%s::operator %s(%s const &)" % (k.native, symbol, k.native))


def same(xs, ys):
    return len(xs) == len(ys) and all(x == y or (x != x and y != y) for x, y in zip(xs, ys))


def randoms(k, rng, n, divisor=False):
    if k.floating:
        xs = [k.wrap(rng.choice([rng.uniform(-1e6, 1e6), rng.randint(-9, 9), 0.0, 1e30, -1e-30])) for _ in range(n)]
    else:
        xs = [rng.choice([rng.randint(k.lo, k.hi), rng.randint(-3, 3) % (k.hi + 1), k.lo, k.hi]) for _ in range(n)]
        if divisor:
            xs = [x or 1 for x in xs]
    return xs


def reference(k, name, a, b):
    """numpy of the same dtype; integer division truncates toward zero."""
    dt = DTYPES[k.suffix]
    x, y = np.array(a, dtype=dt), np.array(b, dtype=dt)
    with np.errstate(all="ignore"):
        if name == "truediv" and not k.floating:
            r = (x - np.fmod(x, y)) // y
        else:
            r = getattr(operator, name)(x, y)
    return [float(e) if k.floating else int(e) for e in np.atleast_1d(r.astype(dt))]


def items(k, xs):
    """Sequence items for the values xs: items are read as signed 64-bit ints."""
    return [x - 2 ** 64 if not k.floating and x >= 2 ** 63 else x for x in xs]


def safe_divisors(k, a, b):
    # the smallest signed value divided by -1 is refused (tested below)
    return [1 if k.signed and y == -1 and x == k.lo else y for x, y in zip(a, b)]


def test_method_table_places():
    names = list(q.__dict__)
    for k in KINDS:
        at = names.index(k.name + "_swiginit") + 1
        mine = names[at:at + 14 + (k.name == "VectorXd")]
        assert sorted(mine) == sorted(["%s___%s__" % (k.name, n) for n in EVERY_OP] +
                                      (["__mul__"] if k.name == "VectorXd" else []))
    assert names[names.index("VectorXd___sub__") + 1] == "__mul__"
    assert q.__mul__.__doc__ is None and all(op(k, n).__doc__ is None for k in KINDS for n in EVERY_OP)


@every
@pytest.mark.parametrize("name", ARITH)
def test_arithmetic_agrees_with_numpy(k, name):
    rng = random.Random(k.name + name)
    inplace = getattr(q, "%s___i%s__" % (k.name, name))
    for _ in range(12):
        n = k.length(rng.randint(0, 6))
        a = randoms(k, rng, n)
        b = randoms(k, rng, n, divisor=name == "truediv")
        if name == "truediv":
            b = safe_divisors(k, a, b)
        v = k.make(items(k, a))
        expect = reference(k, name, a, b)
        assert same(k.values(op(k, name)(v, items(k, b))), expect) and same(k.values(v), a)
        assert same(k.values(inplace(v, tuple(items(k, b)))), expect) and same(k.values(v), expect)
        if name in ("mul", "truediv"):
            s = randoms(k, rng, 1, divisor=name == "truediv")[0]
            if name == "truediv" and k.signed and s == -1:
                s = 2
            v = k.make(items(k, a))
            expect = reference(k, name, a, [s] * n)
            assert same(k.values(op(k, name)(v, s)), expect) and same(k.values(v), a)
            if name == "mul":
                assert same(k.values(q.__mul__(s, v)), expect) and same(k.values(s * v), expect)
            assert same(k.values(inplace(v, s)), expect)


@every
def test_python_operators_through_the_proxy(k):
    v = k.make(range(1, k.length() + 1))
    w = k.make([2] * k.length())
    assert k.values(v + w) == [k.wrap(x + 2) for x in range(1, k.length() + 1)]
    assert k.values(3 * v) == k.values(v * 3) == [k.wrap(3 * x) for x in range(1, k.length() + 1)]
    assert v == list(v) and v != w and (v < w) == (list(v) < list(w))
    v += w
    v *= 2
    assert k.values(v) == [k.wrap(2 * (x + 2)) for x in range(1, k.length() + 1)]
    with pytest.raises(TypeError, match="unsupported operand"):
        v + ["x"] * k.length()
    with pytest.raises(ValueError, match="^input must be a sequence$"):
        v + 5


def tuple_order(a, b, compare):
    """Python's ordering of tuples of numbers, a NaN differing from everything."""
    for x, y in zip(a, b):
        if not x == y:
            return compare(x, y)
    return compare(len(a), len(b))


@every
def test_comparisons_follow_tuple_order(k):
    rng = random.Random(k.name)
    pool = [0, 1, 2] + ([math.nan, -0.0, math.inf] if k.floating else [k.lo, k.hi])
    for _ in range(60):
        a = [rng.choice(pool) for _ in range(k.length(rng.randint(0, 3)))]
        b = [rng.choice(pool) for _ in range(k.length(rng.randint(0, 3)))]
        v = k.make(items(k, a))
        for name, compare in COMPARISONS.items():
            assert op(k, name)(v, items(k, b)) is tuple_order(a, b, compare), (a, b, name)


def test_comparison_of_nan_and_lengths():
    x = cls("VectorXd")([1.0, math.nan])
    assert not any(op(by_name["VectorXd"], n)(x, [1.0, math.nan]) for n in ("eq", "lt", "le", "gt", "ge"))
    assert q.VectorXd___ne__(x, [1.0, math.nan])
    assert q.VectorXu8___lt__(cls("VectorXu8")([1, 2]), [1, 2, 3]) and q.VectorXu8___gt__(cls("VectorXu8")([2]), [1, 9])
    assert q.VectorXu8___eq__(cls("VectorXu8")(), "") and q.VectorXu8___le__(cls("VectorXu8")(), b"")


@pytest.mark.parametrize("suffix", ["u8", "i8", "u16", "i16", "u32", "i32", "u64", "i64"])
def test_integer_scalar_range(suffix):
    for k in [by_name["Vector%s%s" % (s, suffix)] for s in "234X"]:
        v = k.make([1] * k.length())
        for s in (k.lo, k.hi, True, False):
            assert k.values(op(k, "mul")(v, s)) == [k.wrap(s)] * k.length()
            assert k.values(q.__mul__(s, v)) == [k.wrap(s)] * k.length()
            assert k.values(op(k, "imul")(k.make([1] * k.length()), s)) == [k.wrap(s)] * k.length()
        for s in (k.lo - 1, k.hi + 1, 2.0, None, 2 ** 64, -2 ** 63 - 1):
            for name in ("mul", "truediv"):
                assert op(k, name)(v, s) is NotImplemented
            assert q.__mul__(s, v) is NotImplemented
            for name in ("imul", "itruediv"):
                with pytest.raises(TypeError) as e:
                    op(k, name)(v, s)
                assert str(e.value) == overload_message(k, name)
        assert k.values(v) == [1] * k.length() and v.this.own()


@pytest.mark.parametrize("suffix", ["f", "d"])
def test_floating_scalar_range(suffix):
    accepted = [FLT_MAX, -FLT_MAX, math.inf, -math.inf, 3, True, 0.1, 1e-50, 2 ** 24 + 1]
    refused = [10 ** 400, None] + ([3.4028235e38, 1e39, -1e39, 2 ** 128] if suffix == "f" else [])
    accepted += [1e308, 2 ** 1023] if suffix == "d" else []
    for k in [by_name["Vector%s%s" % (s, suffix)] for s in "234X"]:
        v = k.make([1] * k.length())
        for s in accepted:
            assert k.values(op(k, "mul")(v, s)) == k.values(q.__mul__(s, v)) == [k.wrap(float(s))] * k.length()
        assert all(x != x for x in k.values(op(k, "imul")(k.make([1] * k.length()), math.nan)))
        for s in refused:
            assert q.__mul__(s, v) is NotImplemented and op(k, "mul")(v, s) is NotImplemented
            with pytest.raises(TypeError, match="^Wrong number or type"):
                op(k, "itruediv")(v, s)
        assert k.values(v) == [1] * k.length()


def test_free_mul_refusals():
    v, x = cls("Vector2u8")([1, 2]), cls("VectorXi64")([1])
    for args in [(256, v), (2.5, v), (-1, cls("VectorXu64")([1])), (1e39, cls("Vector3f")()), (3, [1, 2]),
                 (3, None), (v, 3), (3,), (3, v, 3), ()]:
        assert q.__mul__(*args) is NotImplemented
    assert q.VectorXi64_to_string(q.__mul__(-1, x)) == "[-1]"
    assert q.Vector2u16_to_string(q.__mul__(256, cls("Vector2u16")([1, 2]))) == "[256, 512]"


@every
def test_free_mul_by_every_form_of_the_vector(k):
    v = k.make([1] * k.length())

    class Holder:
        this = v.this

    for form in (v, v.this, Holder()):
        assert k.values(q.__mul__(2, form)) == [2] * k.length()
    for other in (cls("Matrix3d")(), cls("Matrix3d")().this, [1] * k.length()):
        assert q.__mul__(2, other) is NotImplemented


@every
def test_outcomes_of_binary_operators(k):
    class Unsized:
        def __getitem__(self, i):
            return 1

    class Failing:
        def __init__(self, error):
            self.error = error

        def __len__(self):
            return k.length()

        def __getitem__(self, i):
            raise self.error("no item")

    v = k.make([1] * k.length())
    other = by_name[("Vector3" if k.name[6] != "3" else "Vector2") + k.suffix]
    good = [1] * k.length()
    for name in ARITH + list(COMPARISONS):
        f = op(k, name)
        assert f(v) is NotImplemented and f(v, good, good) is NotImplemented and f() is NotImplemented
        assert f(other.make([1] * other.length()), 5) is NotImplemented
        assert f(v, ["x"] * k.length()) is NotImplemented
        if not k.floating:
            assert f(v, [1.0] * k.length()) is NotImplemented
        assert f(v, Failing(TypeError)) is NotImplemented
        with pytest.raises(IndexError, match="no item"):
            f(v, Failing(IndexError))
        with pytest.raises(ValueError, match="^input sequence must be sized$"):
            f(v, Unsized())
        with pytest.raises(OverflowError):
            f(v, [2 ** 63] * k.length())
        if k.n:
            with pytest.raises(ValueError, match="^input sequence has invalid length$"):
                f(v, [1] * (k.n + 1))
        if name in ("mul", "truediv"):
            assert f(v, None) is NotImplemented and f(v, {}) is NotImplemented
        else:
            with pytest.raises(ValueError, match="^input must be a sequence$"):
                f(v, None)
    assert k.values(v) == [1] * k.length() and v.this.own()


@every
def test_outcomes_of_in_place_operators(k):
    v = k.make([1] * k.length())
    other = by_name[("Vector3" if k.name[6] != "3" else "Vector2") + k.suffix]
    w = other.make([1] * other.length())
    good = [1] * k.length()
    for name in ("iadd", "isub"):
        f = op(k, name)
        with pytest.raises(TypeError, match=r"^%s___%s__ expected 2 arguments, got 1$" % (k.name, name)):
            f(v)
        with pytest.raises(TypeError, match=r"^%s___%s__ expected 2 arguments, got 3$" % (k.name, name)):
            f(v, good, good)
        with pytest.raises(TypeError) as e:
            f(w, None)
        assert str(e.value) == "in method '%s___%s__', argument 1 of type '%s *'" % (k.name, name, k.native)
        with pytest.raises(ValueError, match="^input must be a sequence$"):
            f(v, 5)
    for name in ("imul", "itruediv"):
        f = op(k, name)
        for args in [(v,), (), (w, 2), (v, None), (v, {})]:
            with pytest.raises(TypeError) as e:
                f(*args)
            assert str(e.value) == overload_message(k, name)
        with pytest.raises(TypeError) as e:
            f(v, 2, 3)
        assert str(e.value) == ("%s___%s__ expected at most 2 arguments, got 3\nAdditional information:\n%s"
                                % (k.name, name, overload_message(k, name)))
    for name in IN_PLACE:
        f = op(k, name)
        with pytest.raises(TypeError, match="^%s$" % item_text(k)):
            f(v, ["x"] * k.length())
        with pytest.raises(OverflowError):
            f(v, [2 ** 63] * k.length())
        if k.n:
            with pytest.raises(ValueError, match="^input sequence has invalid length$"):
                f(v, [1] * (k.n + 1))
    assert k.values(v) == [1] * k.length() and v.this.own()


@every
def test_in_place_ownership(k):
    v = k.make([2] * k.length())
    r = op(k, "iadd")(v, [1] * k.length())
    assert r is not v and type(r) is type(v) and int(r.this) == int(v.this)
    assert r.this.own() and not v.this.own()
    # through the old, non-owning handle: the result does not own either
    r2 = op(k, "imul")(v, 2)
    assert not r2.this.own() and r.this.own() and k.values(r) == [k.wrap(6)] * k.length()
    # a chain keeps one owner
    r3 = op(k, "isub")(op(k, "itruediv")(r, [3] * k.length()), [1] * k.length())
    assert r3.this.own() and not r.this.own() and k.values(r3) == [k.wrap(1)] * k.length()
    # failures leave the owner in place
    for name, arg in [("iadd", None), ("imul", {}), ("itruediv", ["x"] * k.length())]:
        with pytest.raises((TypeError, ValueError)):
            op(k, name)(r3, arg)
        assert r3.this.own()
    assert getattr(q, "delete_" + k.name)(r2) is None and r3.this.own()


@every
def test_reference_counts_are_unchanged(k):
    v = k.make([1] * k.length())
    item = 10 ** 6 + 7 if not k.floating else 1.5
    seq, bad = [item] * k.length(), [object()] * k.length()
    counts = lambda: [sys.getrefcount(x) for x in (v, v.this, seq, item, bad[0])]
    before = counts()
    for name in EVERY_OP:
        for arg in (seq, bad, None):
            left = k.make([1] * k.length()) if name in IN_PLACE else v
            try:
                op(k, name)(left, arg)
            except (TypeError, ValueError):
                pass
            left = None
    assert counts() == before


@pytest.mark.parametrize("k", integral, ids=[k.name for k in integral])
def test_integer_division_failures_leave_the_vector_unchanged(k):
    n = k.length()
    for divisor, last in [(0, 7)] + ([(-1, k.lo)] if k.signed else []):
        for form in (divisor, [1] * (n - 1) + [divisor]):
            v = k.make([3] * (n - 1) + [last])
            for name in ("truediv", "itruediv"):
                with pytest.raises(QuelboError, match="division"):
                    op(k, name)(v, form)
            assert k.values(v) == [3] * (n - 1) + [last] and v.this.own()


@pytest.mark.parametrize("k", dynamic, ids=[k.name for k in dynamic])
def test_dynamic_operands_of_different_sizes_are_refused(k):
    v = k.make([1, 2, 3])
    for name in ARITH + IN_PLACE:
        for other in ([1, 2], [1, 2, 3, 4], [], list(range(1, 40))):
            with pytest.raises(QuelboError, match="same size"):
                op(k, name)(v, other)
    assert k.values(v) == [1, 2, 3] and v.this.own()
    for name in ("add", "iadd", "mul", "imul"):
        assert k.values(op(k, name)(k.make([]), [])) == []


@every
def test_a_missing_left_operand_is_a_null_reference(k):
    moved = k.make([1] * k.length())
    cls(k.name)(moved)
    for left in (None, moved):
        for name in EVERY_OP:
            for right in ([1] * k.length(), 2, {}, "x"):
                with pytest.raises(ValueError, match="^invalid null reference in method '%s___%s__', argument 1"
                                   % (k.name, name)):
                    op(k, name)(left, right)
    with pytest.raises(ValueError, match="^invalid null reference in method '__mul__', argument 2 of type '%s'$"
                       % k.native):
        q.__mul__(1, moved)


@every
def test_huge_reported_lengths(k):
    v = k.make([1] * k.length())
    for name in EVERY_OP:
        if k.n:
            with pytest.raises(ValueError, match="^input sequence has invalid length$"):
                op(k, name)(v, range(2 ** 62))
        else:
            with pytest.raises(MemoryError):
                op(k, name)(v, range(2 ** 62))


@every
@pytest.mark.parametrize("deed", ["delete", "move", "reuse"])
def test_item_access_that_changes_the_left_operand(k, deed):
    kept = []
    for name in EVERY_OP:
        v = k.make([1] * k.length())

        class Sneaky:
            def __len__(self):
                return k.length()

            def __getitem__(self, i):
                if i == 0:
                    if deed == "delete":
                        getattr(q, "delete_" + k.name)(v)
                    elif deed == "move":
                        cls(k.name)(v)
                    else:  # v's vector changes hands
                        kept.append(op(k, "iadd")(v, [1] * k.length()))
                return 1

        if deed == "reuse":
            assert op(k, name)(v, Sneaky()) is not NotImplemented
            assert kept[-1].this.own() and not v.this.own()
            continue
        with pytest.raises(ValueError, match="invalid null reference"):
            op(k, name)(v, Sneaky())


@every
def test_old_handle_after_the_owner_is_deleted(k):
    v = k.make([1] * k.length())
    w = v
    v += [1] * k.length()
    del v  # the new owner: w, the old handle, keeps the vector alive through it
    assert k.values(w) == [2] * k.length() and not w.this.own()
    r = op(k, "iadd")(w, [1] * k.length())
    assert k.values(r) == [3] * k.length() and not r.this.own()
    getattr(q, "delete_" + k.name)(r)
    del r
    assert k.values(w) == [3] * k.length()
    u = k.make([1] * k.length())
    x = op(k, "imul")(u, 2)
    getattr(q, "delete_" + k.name)(x)  # deleting the owner leaves the old handle nothing to reach
    with pytest.raises(ValueError, match="invalid null reference"):
        k.values(u)


@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="the sanitizer holds freed memory in quarantine")
def test_memory_stays_flat_over_repeated_calls():
    kinds = [by_name[n] for n in ("Vector3d", "Vector2u8", "VectorXf", "VectorXi64")]

    def round_of_calls():
        for k in kinds:
            v = k.make([1] * k.length(40))
            for name in EVERY_OP:
                for arg in ([2] * k.length(40), 2, ["x"] * k.length(40), None, [0] * k.length(40), range(2 ** 62)):
                    try:
                        r = op(k, name)(v, arg)
                    except (TypeError, ValueError, MemoryError, QuelboError):
                        continue
                    if name in IN_PLACE:
                        v = r
            q.__mul__(2, v)
            q.__mul__(2.0, v)

    for _ in range(200):
        round_of_calls()
    before = rss()
    for _ in range(2000):
        round_of_calls()
    assert rss() - before < 2 * 2 ** 20
