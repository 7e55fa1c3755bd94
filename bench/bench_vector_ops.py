"""Per-call cost of the vector operators: the fixed vectors against numpy's
a + b on 3-element arrays (the anchor a user would reach for), the dynamic
vectors against numpy doing the same work on arrays already made, at 1e3,
1e4, 4e5 and 4e6 elements. A comparison orders vectors as Python orders
tuples (the first position whose elements differ decides, else the sizes):
its anchor finds that position with numpy, on equal vectors, where every
element is read. Run with /usr/bin/python3."""
import operator
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
from proxy import cls, q  # noqa: E402

NUMBER = 100_000
SIZES = (1_000, 10_000, 400_000, 4_000_000)


def lexicographic(compare):
    """numpy's way to the tuple order of two 1-d arrays."""

    def order(a, b):
        n = min(len(a), len(b))
        differs = a[:n] != b[:n]
        i = int(differs.argmax()) if n else 0
        return compare(a[i], b[i]) if n and differs[i] else compare(len(a), len(b))

    return order


def small():
    v = cls("Vector3d")([1.0, 2.0, 3.0])
    u = cls("Vector3u8")([1, 2, 3])
    x = cls("VectorXd")([0.5] * 1000)
    # The in-place calls go through an old, non-owning handle, so that the
    # results dropped by the loop free nothing; `owner` keeps the vector.
    w = cls("Vector3d")([1.0, 2.0, 3.0])
    owner = q.Vector3d___iadd__(w, [0, 0, 0])
    a, b = np.array([1.0, 2.0, 3.0]), np.array([1.0, 2.0, 3.0])
    xa = np.full(1000, 0.5)
    names = dict(v=v, u=u, w=w, x=x, a=a, b=b, xa=xa, items=[1.0] * 1000, np=np, add=q.Vector3d___add__,
                 mul=q.Vector3d___mul__, rmul=q.__mul__, iadd=q.Vector3d___iadd__, imul=q.Vector3d___imul__,
                 eq=q.Vector3d___eq__, lt=q.Vector3u8___lt__, addx=q.VectorXd___add__)
    section("Vector operators, one call (numpy: 3 float64)")
    for label, stmt in (("Vector3d___add__(v, [1, 2, 3])", "add(v, [1, 2, 3])"),
                        ("Vector3d___mul__(v, 2.0)", "mul(v, 2.0)"),
                        ("__mul__(2.0, v)", "rmul(2.0, v)"),
                        ("Vector3d___iadd__(w, [1, 2, 3])", "iadd(w, [1, 2, 3])"),
                        ("Vector3d___imul__(w, 1.0)", "imul(w, 1.0)"),
                        ("Vector3d___eq__(v, (1, 2, 3))", "eq(v, (1, 2, 3))"),
                        ("Vector3u8___lt__(u, (1, 2, 4))", "lt(u, (1, 2, 4))")):
        compare_stmt(label, stmt, "numpy a + b", "a + b", NUMBER, **names)
    section("Vector operators, 1000 items from a list")
    compare_stmt("VectorXd___add__(x, list)", "addx(x, items)", "numpy xa + np.array(list)",
                 "xa + np.array(items)", 10_000, **names)
    assert owner.this.own()


# (label, our statement, numpy's statement): v, w and e are VectorXd of the
# elements a, b and d hold (d: ones), s the in-place vector and c its numpy
# counterpart (`c.__iadd__(b)` is `c += b`, which a timed statement cannot
# write of a name it did not bind).
ROWS = [
    ("v + w", "q.VectorXd___add__(v, w)", "a + b"),
    ("v - w", "q.VectorXd___sub__(v, w)", "a - b"),
    ("v * w", "q.VectorXd___mul__(v, w)", "a * b"),
    ("v / w", "q.VectorXd___truediv__(v, w)", "a / b"),
    ("v * 2.0", "q.VectorXd___mul__(v, 2.0)", "a * 2.0"),
    ("v / 2.0", "q.VectorXd___truediv__(v, 2.0)", "a / 2.0"),
    ("2.0 * v", "q.__mul__(2.0, v)", "2.0 * a"),
    ("s += w", "q.VectorXd___iadd__(s, w)", "c.__iadd__(b)"),
    ("s -= w", "q.VectorXd___isub__(s, w)", "c.__isub__(b)"),
    ("s *= ones", "q.VectorXd___imul__(s, e)", "c.__imul__(d)"),
    ("s /= ones", "q.VectorXd___itruediv__(s, e)", "c.__itruediv__(d)"),
    ("s *= 1.0", "q.VectorXd___imul__(s, 1.0)", "c.__imul__(1.0)"),
    ("s /= 1.0", "q.VectorXd___itruediv__(s, 1.0)", "c.__itruediv__(1.0)"),
    ("-v", "q.VectorXd___neg__(v)", "-a"),
    ("v.dot(w)", "q.VectorXd_dot(v, w)", "a.dot(b)"),
    ("v == w", "q.VectorXd___eq__(v, w)", "np.array_equal(a, b)"),
    ("v != w", "q.VectorXd___ne__(v, w)", "not np.array_equal(a, b)"),
    ("v < w", "q.VectorXd___lt__(v, w)", "lt(a, b)"),
    ("v <= w", "q.VectorXd___le__(v, w)", "le(a, b)"),
    ("v > w", "q.VectorXd___gt__(v, w)", "gt(a, b)"),
    ("v >= w", "q.VectorXd___ge__(v, w)", "ge(a, b)"),
]


def dynamic():
    rng = np.random.default_rng(54)
    for n in SIZES:
        section("VectorXd operators, %g elements (numpy: float64 arrays)" % n)
        a = rng.uniform(-1e3, 1e3, n)
        b = a.copy()
        c, d = a.copy(), np.ones(n)
        X = cls("VectorXd")
        v, w, e = X(a.tolist()), X(b.tolist()), X(d.tolist())
        s = X(a.tolist())
        owner = q.VectorXd___iadd__(s, [0.0] * n)  # s: an old handle, see small()
        names = dict(q=q, np=np, v=v, w=w, e=e, s=s, a=a, b=b, c=c, d=d, lt=lexicographic(operator.lt),
                     le=lexicographic(operator.le), gt=lexicographic(operator.gt), ge=lexicographic(operator.ge))
        number = max(3, 2_000_000 // n)
        for label, ours, theirs in ROWS:
            compare_stmt("VectorXd %s" % label, ours, "numpy " + theirs, theirs, number, **names)
        assert owner.this.own()


TYPES = dict(u8=np.uint8, i8=np.int8, u16=np.uint16, i16=np.int16, u32=np.uint32, i32=np.int32, u64=np.uint64,
             i64=np.int64, f=np.float32, d=np.float64)


def element_types(n=400_000):
    """Every element type at one size, on positive values: there numpy's
    floor division of integers is our truncating one."""
    section("Dynamic vectors of each element type, %g elements (numpy: arrays of that dtype)" % n)
    rng = np.random.default_rng(54)
    for suffix, dtype in TYPES.items():
        a, b = rng.integers(1, 100, n).astype(dtype), rng.integers(1, 100, n).astype(dtype)
        X, name = cls("VectorX" + suffix), "VectorX" + suffix
        names = dict(v=X(a.tolist()), w=X(b.tolist()), a=a, b=b, s=dtype(3), add=getattr(q, name + "___add__"),
                     div=getattr(q, name + "___truediv__"), dot=getattr(q, name + "_dot"))
        quotient = "a / s" if dtype in (np.float32, np.float64) else "a // s"
        for label, ours, theirs in (("v + w", "add(v, w)", "a + b"), ("v / w", "div(v, w)", quotient.replace("s", "b")),
                                    ("v / 3", "div(v, 3)", quotient), ("v.dot(w)", "dot(v, w)", "a.dot(b)")):
            compare_stmt("%s %s" % (name, label), ours, "numpy " + theirs, theirs, 5, **names)


def main():
    small()
    dynamic()
    element_types()


if __name__ == "__main__":
    main()
