"""The operators of dynamic vectors over many elements: every element type
against numpy (or Python's exact integers), at the sizes where their loops
change step, with the operands aliased, the values at their extremes, and the
blocks of long vectors reused."""
import math
import os
import random

import numpy as np
import pytest

import helpers
from proxy import QuelboError, cls, q
from test_vector_ops import DTYPES, EVERY_OP, dynamic, items
from test_vectors import KINDS, every

SIZES = [0, 1, 5, 31, 33, 257, 1031]


def element(k, x):
    """The element that x becomes (a NaN stays one)."""
    return x if x != x else k.wrap(x)


def read(k, v):
    """The elements of v, through its text (quicker than one call an element)."""
    text = k.fn("to_string")(v)[1:-1]
    return [] if not text else [element(k, (float if k.floating else int)(x)) for x in text.split(", ")]


def make(k, values):
    return k.make(items(k, values))


def op(k, name):
    return getattr(q, "%s___%s__" % (k.name, name))


def same(xs, ys):
    return len(xs) == len(ys) and all(x == y or (x != x and y != y) for x, y in zip(xs, ys))


def randoms(k, rng, n):
    if k.floating:
        pool = [0.0, -0.0, 1.0, -2.5, 1e30, -1e-30, math.inf, -math.inf, math.nan]
        return [element(k, rng.choice(pool) if rng.random() < 0.1 else rng.uniform(-1e6, 1e6)) for _ in range(n)]
    return [rng.choice([k.lo, k.hi, 0, 1, k.lo + 1]) if rng.random() < 0.1 else rng.randint(k.lo, k.hi)
            for _ in range(n)]


def quotient(a, b):
    """Integer division truncating toward zero, exactly."""
    q_ = abs(a) // abs(b)
    return q_ if (a < 0) == (b < 0) else -q_


def divisors(k, a, b):
    """b with its zeros and the refused smallest / -1 made 1."""
    return [1 if y == 0 or (k.signed and y == -1 and x == k.lo) else y for x, y in zip(a, b)]


def expected(k, name, a, b):
    if name == "truediv" and not k.floating:
        return [k.wrap(quotient(x, y)) for x, y in zip(a, b)]
    dt = DTYPES[k.suffix]
    with np.errstate(all="ignore"):
        r = getattr(np, {"add": "add", "sub": "subtract", "mul": "multiply", "truediv": "divide"}[name])(
            np.array(a, dtype=dt), np.array(b, dtype=dt))
    return [float(x) if k.floating else int(x) for x in r]


@pytest.mark.parametrize("k", dynamic, ids=[k.name for k in dynamic])
@pytest.mark.parametrize("n", SIZES)
def test_operators_agree_with_numpy(k, n):
    rng = random.Random("%s %d" % (k.name, n))
    a, b = randoms(k, rng, n), randoms(k, rng, n)
    v, w = make(k, a), make(k, b)
    for name in ("add", "sub", "mul", "truediv"):
        y = b if k.floating or name != "truediv" else divisors(k, a, b)
        want = expected(k, name, a, y)
        right = w if y is b else make(k, y)
        # a wrapped vector, read where it lies, and a list, converted
        assert same(read(k, op(k, name)(v, right)), want) and same(read(k, op(k, name)(v, items(k, y))), want)
        s = make(k, a)
        assert same(read(k, op(k, "i" + name)(s, right)), want) and same(read(k, s), want)
    # (-1 would refuse the smallest signed value, which a holds)
    for scalar in ([3, -7, 1e-3, -0.0, math.inf, math.nan] if k.floating else [3, 1, k.hi, k.lo or 2, k.hi // 2 - 1]):
        for name in ("mul", "truediv"):
            want = expected(k, name, a, [scalar] * n)
            assert same(read(k, op(k, name)(v, scalar)), want)
            s = make(k, a)
            op(k, "i" + name)(s, scalar)
            assert same(read(k, s), want)
        assert same(read(k, q.__mul__(scalar, v)), expected(k, "mul", a, [scalar] * n))
    assert same(read(k, op(k, "neg")(v)), expected(k, "sub", [0] * n, a) if not k.floating else [-x for x in a])
    assert same(read(k, v), a)


@pytest.mark.parametrize("k", dynamic, ids=[k.name for k in dynamic])
@pytest.mark.parametrize("n", SIZES)
def test_dot_and_comparisons(k, n):
    rng = random.Random("dot %s %d" % (k.name, n))
    if k.floating:
        a, b = [rng.random() for _ in range(n)], [rng.random() for _ in range(n)]
        exact = math.fsum(element(k, x) * element(k, y) for x, y in zip(a, b))
        assert k.fn("dot")(make(k, a), items(k, b)) == pytest.approx(exact, rel=1e-5 if k.suffix == "f" else 1e-12)
    else:
        a, b = randoms(k, rng, n), randoms(k, rng, n)
        assert k.fn("dot")(make(k, a), make(k, b)) == k.wrap(sum(x * y for x, y in zip(a, b)))
    v = make(k, a)
    cases = [(list(a), "equal"), (a[:-1], "shorter"), (a + [a[-1] if a else 1], "longer")]
    for at in {0, n // 2, n - 1} if n else set():
        for delta in (1, -1):
            c = list(a)
            c[at] = k.wrap(c[at] + delta) if not k.floating else c[at] + delta
            cases.append((c, "at %d" % at))
    if k.floating and n:
        c = list(a)
        c[n - 1] = math.nan
        cases.append((c, "nan"))
    for c, why in cases:
        for name, rule in (("eq", lambda x, y: x == y), ("ne", lambda x, y: x != y), ("lt", lambda x, y: x < y),
                           ("le", lambda x, y: x <= y), ("gt", lambda x, y: x > y), ("ge", lambda x, y: x >= y)):
            # Python's tuples of these floats order as the vectors do.
            want = rule(tuple(element(k, x) for x in a), tuple(element(k, x) for x in c))
            assert op(k, name)(v, make(k, c)) is want, (why, name)


@pytest.mark.parametrize("k", [k for k in dynamic if k.bits == 8], ids=lambda k: k.name)
def test_every_8_bit_division(k):
    values = list(range(k.lo, k.hi + 1))
    v = make(k, values)
    for d in values:
        if d == 0:
            continue
        if k.signed and d == -1:
            want_all = [quotient(x, d) for x in values[1:]]
            assert read(k, op(k, "truediv")(make(k, values[1:]), d)) == want_all
            continue
        assert read(k, op(k, "truediv")(v, d)) == [quotient(x, d) for x in values], d
    pairs = [(x, y) for x in values for y in values if y != 0 and not (k.signed and y == -1 and x == k.lo)]
    xs, ys = [x for x, _ in pairs], [y for _, y in pairs]
    assert read(k, op(k, "truediv")(make(k, xs), make(k, ys))) == [quotient(x, y) for x, y in pairs]


@pytest.mark.parametrize("k", [k for k in dynamic if k.bits and k.bits > 8], ids=lambda k: k.name)
def test_wider_integer_division(k):
    rng = random.Random(k.name)
    edges = {k.lo, k.hi, 0, 1, 2, 3, 7, 10, k.hi // 2, k.hi // 3 + 1}
    for p in range(1, k.bits):
        edges |= {2 ** p - 1, 2 ** p, 2 ** p + 1} | ({-2 ** p + 1, -2 ** p, -2 ** p - 1} if k.signed else set())
    if k.bits == 64:
        # doubles hold integers exactly up to 2^53: the quotients around it
        edges |= {2 ** 53 - 1, 2 ** 53, 2 ** 53 + 1, 3 * 2 ** 52 + 1} | ({-2 ** 53, -2 ** 53 - 1} if k.signed else set())
    edges = sorted(x for x in edges if k.lo <= x <= k.hi)
    dividends = edges + [rng.randint(k.lo, k.hi) for _ in range(1000)]
    dividends += [rng.randint(k.lo, k.hi) >> rng.randint(0, k.bits) for _ in range(1000)]
    v = make(k, dividends)
    for d in [x for x in edges if x != 0] + [rng.randint(k.lo, k.hi) or 1 for _ in range(40)]:
        xs = [x for x in dividends if not (k.signed and d == -1 and x == k.lo)]
        got = read(k, op(k, "truediv")(v if len(xs) == len(dividends) else make(k, xs), d))
        assert got == [quotient(x, d) for x in xs], d
    # element by element, small and large magnitudes mixed within and across blocks
    ys = [rng.choice(edges) or 1 for _ in dividends]
    ys = divisors(k, dividends, ys)
    cases = [(dividends, ys), (sorted(dividends, key=abs), ys)]
    if k.bits == 64:
        # whole blocks just past 2^53, where a double no longer holds every integer
        xs = [2 ** 53 + 1 + 2 * i for i in range(96)] + ([-2 ** 53 - 1 - 2 * i for i in range(96)] if k.signed else [])
        cases.append((xs, [1 + i % 3 for i in range(len(xs))]))
    for xs, ys in cases:
        assert read(k, op(k, "truediv")(make(k, xs), make(k, ys))) == [quotient(x, y) for x, y in zip(xs, ys)]


@pytest.mark.parametrize("k", [k for k in dynamic if not k.floating], ids=lambda k: k.name)
def test_refused_divisions_leave_long_vectors_unchanged(k):
    n = 1000
    base = [5] * n
    for divisor, message in [([1] * (n - 1) + [0], "by zero"), (0, "by zero")] + (
            [([1] * 700 + [-1] + [1] * 299, "overflows"), (-1, "overflows")] if k.signed else []):
        a = list(base)
        if message == "overflows":
            a[700 if isinstance(divisor, list) else n - 1] = k.lo
        v = make(k, a)
        for name in ("truediv", "itruediv"):
            with pytest.raises(QuelboError, match=message):
                op(k, name)(v, divisor if not isinstance(divisor, list) else make(k, divisor))
        assert read(k, v) == a and v.this.own()
    if k.signed:
        # the first refused element in order decides: an overflow before a zero
        a, d = [k.lo] + [1] * (n - 1), [-1] + [1] * (n - 2) + [0]
        with pytest.raises(QuelboError, match="overflows"):
            op(k, "itruediv")(make(k, a), make(k, d))
    assert read(k, op(k, "truediv")(make(k, []), 0)) == []


@pytest.mark.parametrize("k", dynamic, ids=[k.name for k in dynamic])
def test_operands_that_are_one_vector(k):
    a = [x or 1 for x in randoms(k, random.Random(k.name), 300)]
    if k.signed:
        a = [x if x != k.lo else 1 for x in a]
    v = make(k, a)
    for name in ("add", "sub", "mul", "truediv"):
        want = expected(k, name, a, a)
        assert same(read(k, op(k, name)(v, v)), want)
        s = make(k, a)
        r = op(k, "i" + name)(s, s)  # the left and right operand are one object
        assert same(read(k, r), want) and same(read(k, s), want)
        # through the old handle, which reaches the vector its result owns
        assert same(read(k, op(k, "i" + name)(s, r)), expected(k, name, want, want))
    assert op(k, "eq")(v, v) is (not k.floating or all(x == x for x in a))


def test_a_wrapped_operand_of_a_derived_class_gives_its_own_items():
    X = cls("VectorXd")

    class Doubled(X):
        def __getitem__(self, i):
            return 2 * X.__getitem__(self, i)

    v, w = X([1.0, 2.0, 3.0]), Doubled([1.0, 2.0, 3.0])
    assert read(_kind("VectorXd"), q.VectorXd___add__(v, w)) == [3.0, 6.0, 9.0]
    assert q.VectorXd_dot(v, w) == 28.0 and q.VectorXd___lt__(v, w)
    moved = X([1.0, 2.0, 3.0])
    X(moved)  # its vector moved away: read as a sequence, as before
    with pytest.raises(ValueError, match="^input sequence must be sized$"):
        q.VectorXd___add__(v, moved)


@pytest.mark.parametrize("name", ["Vector3i16", "VectorXd"])
def test_a_wrapped_operand_of_a_class_without_a_length_is_no_sequence(name):
    proxy, k = cls(name), next(k for k in KINDS if k.name == name)

    class Unsized:  # item access, no length
        __getitem__ = proxy.__getitem__
        __swig_destroy__ = getattr(q, "delete_" + name)

    getattr(q, name + "_swigregister")(Unsized)
    try:
        u = Unsized()
        getattr(q, name + "_swiginit")(u, getattr(q, "new_" + name)([1, 2, 3]))
        for f in [op(k, n) for n in EVERY_OP] + [k.fn("dot")]:
            with pytest.raises(ValueError, match="^input sequence must be sized$"):
                f(k.make([1, 2, 3]), u)
    finally:
        getattr(q, name + "_swigregister")(proxy)


def outcome(k, f, *args):
    """A call's elements, value or failure."""
    try:
        r = f(*args)
    except (ValueError, QuelboError) as e:
        return type(e), str(e)
    return k.values(r) if hasattr(r, "this") else r


@every
@pytest.mark.parametrize("deed", ["delete", "move", "change"])
def test_a_wrapped_operand_is_used_as_it_was_read(k, deed):
    # The left operand's handle is computed by Python code, which deletes,
    # moves or changes the right operand (read where it lies) when it runs
    # after that operand was read.
    n = k.length()
    for name in EVERY_OP + ["dot", "cross"]:
        f = op(k, name) if name in EVERY_OP else k.fn(name)
        want = outcome(k, f, k.make(range(1, n + 1)), k.make([2] * n))
        v, w = k.make(range(1, n + 1)), k.make([2] * n)
        reads = []

        class Left:
            @property
            def this(self):
                reads.append(1)
                if len(reads) == 2:
                    if deed == "delete":
                        getattr(q, "delete_" + k.name)(w)
                    elif deed == "move":
                        cls(k.name)(w)
                    else:
                        k.fn("set_at")(w, 0, 7)
                return v.this

        assert outcome(k, f, Left(), w) == want, name


def _kind(name):
    return next(k for k in dynamic if k.name == name)


def test_long_vectors_reuse_their_blocks():
    k, n = _kind("VectorXd"), (1 << 20) + 3  # 8 MiB of elements: a mapped block
    a = np.arange(n, dtype=np.float64)
    v = cls("VectorXd")(a.tolist())
    ones = q.VectorXd_create_uniform(n, 1.0)
    for _ in range(3):
        r = q.VectorXd___mul__(v, 2.0)
        assert q.VectorXd___eq__(r, (2 * a).tolist())
        del r  # its block is kept for the next result of its length
        s = q.VectorXd___sub__(v, v)
        assert q.VectorXd_dot(s, ones) == 0.0 and q.VectorXd___eq__(q.VectorXd___add__(s, v), v)
        del s
        # a zero-filled vector is never made from a kept block
        z = cls("VectorXd")(n)
        assert q.VectorXd_dot(z, ones) == 0.0 and q.VectorXd___eq__(z, q.VectorXd_create_uniform(n, 0.0))
        del z
    m = cls("VectorXd")((1 << 19) + 1)  # another length: blocks of the first are no use to it
    assert q.VectorXd_dot(q.VectorXd___neg__(m), q.VectorXd_create_uniform((1 << 19) + 1, 1.0)) == 0.0


@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="the sanitizer holds freed memory in quarantine")
def test_memory_stays_flat_over_long_vector_operators():
    n = 3 << 20  # 24 MiB of doubles
    v, w = q.VectorXd_create_uniform(n, 1.5), q.VectorXd_create_uniform(n, 2.0)

    def round_of_calls():
        for r in (q.VectorXd___add__(v, w), q.VectorXd___mul__(v, 2.0), q.VectorXd___neg__(w),
                  q.VectorXd___truediv__(w, v)):
            del r
        q.VectorXd___imul__(v, 1.0)

    for _ in range(3):
        round_of_calls()
    before = helpers.rss()
    for _ in range(20):
        round_of_calls()
    assert helpers.rss() - before < 8 << 20
