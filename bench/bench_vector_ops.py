"""Per-call cost of the vector operators, against numpy's a + b on
3-element arrays (the anchor a user would reach for) and math.hypot for
the long vector. Run with /usr/bin/python3."""
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
from proxy import cls, q  # noqa: E402

NUMBER = 100_000


def main():
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


if __name__ == "__main__":
    main()
