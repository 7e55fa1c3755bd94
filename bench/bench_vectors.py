"""Per-call cost of vector functions, against math.hypot (a plain C function
call) and a plain Python function of the same arity. Run with
/usr/bin/python3."""
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
from proxy import cls, q  # noqa: E402

NUMBER = 100_000


def plain1(a):
    return a


def plain2(a, b):
    return a


def main():
    v = cls("Vector3d")([1.0, 2.0, 3.0])
    x = cls("VectorXd")([0.5] * 8)
    names = dict(hypot=math.hypot, p1=plain1, p2=plain2, v=v, h=v.this, x=x, at=q.Vector3d_at,
                 length=q.Vector3d_length, dot=q.Vector3d_dot, n3=q.new_Vector3d, d3=q.delete_Vector3d,
                 nx=q.new_VectorXd, dx=q.delete_VectorXd, text=q.VectorXd_to_string)
    section("Vector functions, one call")
    for label, stmt, anchor_name, anchor in (
            ("Vector3d_at(v, 0)", "at(v, 0)", "plain Python f(a, b)", "p2(v, 0)"),
            ("Vector3d_at(v.this, 0)", "at(h, 0)", "plain Python f(a, b)", "p2(h, 0)"),
            ("Vector3d_length(v)", "length(v)", "plain Python f(a)", "p1(v)"),
            ("Vector3d_dot(v, [1, 0, 0])", "dot(v, [1, 0, 0])", "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)"),
            ("delete_(new_Vector3d())", "d3(n3())", "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)"),
            ("delete_(new_VectorXd(8))", "dx(nx(8))", "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)"),
            ("VectorXd_to_string(x), 8 items", "text(x)", "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)")):
        compare_stmt(label, stmt, anchor_name, anchor, NUMBER, **names)


if __name__ == "__main__":
    main()
