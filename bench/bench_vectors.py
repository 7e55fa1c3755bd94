"""Per-call cost of vector functions, as ratios to math.hypot and to a plain
Python function of the same arity. Run with /usr/bin/python3."""
import math
import os
import sys
import timeit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from proxy import cls, q  # noqa: E402

NUMBER = 200_000


def per_call(stmt, **names):
    best = min(timeit.repeat(stmt, globals=names, number=NUMBER, repeat=5))
    return best / NUMBER * 1e9


def plain1(a):
    return a


def plain2(a, b):
    return a


def main():
    v = cls("Vector3d")([1.0, 2.0, 3.0])
    x = cls("VectorXd")([0.5] * 8)
    hypot = per_call("hypot(3.0, 4.0)", hypot=math.hypot)
    rows = [
        ("math.hypot(3.0, 4.0)", hypot),
        ("plain Python f(a)", per_call("f(v)", f=plain1, v=v)),
        ("plain Python f(a, b)", per_call("f(v, 0)", f=plain2, v=v)),
        ("Vector3d_at(v, 0)", per_call("at(v, 0)", at=q.Vector3d_at, v=v)),
        ("Vector3d_at(v.this, 0)", per_call("at(h, 0)", at=q.Vector3d_at, h=v.this)),
        ("Vector3d_length(v)", per_call("f(v)", f=q.Vector3d_length, v=v)),
        ("Vector3d_dot(v, [1, 0, 0])", per_call("dot(v, [1, 0, 0])", dot=q.Vector3d_dot, v=v)),
        ("delete_(new_Vector3d())", per_call("d(n())", n=q.new_Vector3d, d=q.delete_Vector3d)),
        ("delete_(new_VectorXd(8))", per_call("d(n(8))", n=q.new_VectorXd, d=q.delete_VectorXd)),
        ("VectorXd_to_string(x), 8 items", per_call("f(x)", f=q.VectorXd_to_string, x=x)),
    ]
    print("%-34s %9s %9s" % ("call", "ns", "x hypot"))
    for name, ns in rows:
        print("%-34s %9.1f %9.2f" % (name, ns, ns / hypot))


if __name__ == "__main__":
    main()
