"""Per-call cost of the vector operators, as ratios to math.hypot and to
numpy's a + b on 3-element arrays. Run with /usr/bin/python3."""
import math
import os
import sys
import timeit

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from proxy import cls, q  # noqa: E402

NUMBER = 200_000


def paired(stmt, number=NUMBER, **names):
    """The call's cost and math.hypot's, measured in turns so that a busy
    machine weighs on both alike."""
    timer = timeit.Timer(stmt, globals=names)
    reference = timeit.Timer("hypot(3.0, 4.0)", globals=dict(hypot=math.hypot))
    calls, hypots = [], []
    for _ in range(7):
        calls.append(timer.timeit(number))
        hypots.append(reference.timeit(NUMBER))
    return min(calls) / number * 1e9, min(hypots) / NUMBER * 1e9


def main():
    v = cls("Vector3d")([1.0, 2.0, 3.0])
    u = cls("Vector3u8")([1, 2, 3])
    x = cls("VectorXd")([0.5] * 1000)
    items = [1.0] * 1000
    # The in-place calls go through an old, non-owning handle, so that the
    # results dropped by the loop free nothing; `owner` keeps the vector.
    w = cls("Vector3d")([1.0, 2.0, 3.0])
    owner = q.Vector3d___iadd__(w, [0, 0, 0])
    a, b = np.array([1.0, 2.0, 3.0]), np.array([1.0, 2.0, 3.0])
    rows = [
        ("numpy a + b, 3 float64", paired("a + b", a=a, b=b)),
        ("Vector3d___add__(v, [1, 2, 3])", paired("f(v, [1, 2, 3])", f=q.Vector3d___add__, v=v)),
        ("Vector3d___mul__(v, 2.0)", paired("f(v, 2.0)", f=q.Vector3d___mul__, v=v)),
        ("__mul__(2.0, v)", paired("f(2.0, v)", f=q.__mul__, v=v)),
        ("Vector3d___iadd__(w, [1, 2, 3])", paired("f(w, [1, 2, 3])", f=q.Vector3d___iadd__, w=w)),
        ("Vector3d___imul__(w, 1.0)", paired("f(w, 1.0)", f=q.Vector3d___imul__, w=w)),
        ("Vector3d___eq__(v, (1, 2, 3))", paired("f(v, (1, 2, 3))", f=q.Vector3d___eq__, v=v)),
        ("Vector3u8___lt__(u, (1, 2, 4))", paired("f(u, (1, 2, 4))", f=q.Vector3u8___lt__, u=u)),
        ("VectorXd___add__(x, 1000 items)", paired("f(x, s)", 20_000, f=q.VectorXd___add__, x=x, s=items)),
    ]
    assert owner.this.own()
    numpy_ratio = rows[0][1][0] / rows[0][1][1]
    print("%-34s %9s %9s %9s" % ("call", "ns", "x hypot", "x numpy"))
    for name, (ns, hypot) in rows:
        print("%-34s %9.1f %9.2f %9.2f" % (name, ns, ns / hypot, ns / hypot / numpy_ratio))


if __name__ == "__main__":
    main()
