"""Per-call cost of vector functions, against math.hypot (a plain C function
call) and a plain Python function of the same arity; and the length (the L1
norm) and normalisation of dynamic vectors of every element type against
numpy doing the same work on an array of that dtype. Run with
/usr/bin/python3."""
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
from proxy import cls, q  # noqa: E402

NUMBER = 100_000
SIZES = (100_000, 4_000_000)
TYPES = dict(u8=np.uint8, i8=np.int8, u16=np.uint16, i16=np.int16, u32=np.uint32, i32=np.int32, u64=np.uint64,
             i64=np.int64, f=np.float32, d=np.float64)


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


def elements(rng, dtype, n):
    if dtype in (np.float32, np.float64):
        return rng.standard_normal(n).astype(dtype)
    info = np.iinfo(dtype)
    return rng.integers(max(info.min, -10 ** 6), min(info.max, 10 ** 6), n, endpoint=True).astype(dtype)


def norms():
    """length is the L1 norm: numpy's np.linalg.norm(a, 1); normalize divides
    by it in place, against numpy's a / np.linalg.norm(a, 1) and the
    Euclidean a / np.linalg.norm(a)."""
    rng = np.random.default_rng(63)
    for n in SIZES:
        section("Dynamic vectors' length and normalize, %g elements (numpy: arrays of that dtype)" % n)
        number = max(3, 2_000_000 // n)
        for suffix, dtype in TYPES.items():
            a = elements(rng, dtype, n)
            name = "VectorX" + suffix
            names = dict(v=cls(name)(a.tolist()), a=a, np=np, length=getattr(q, name + "_length"),
                         normalize=getattr(q, name + "_normalize"))
            for label, ours, anchor in (("length", "length(v)", "np.linalg.norm(a, 1)"),
                                        ("normalize", "normalize(v)", "a / np.linalg.norm(a, 1)"),
                                        ("normalize", "normalize(v)", "a / np.linalg.norm(a)")):
                compare_stmt("%s_%s" % (name, label), ours, "numpy " + anchor, anchor, number, **names)


if __name__ == "__main__":
    main()
    norms()
