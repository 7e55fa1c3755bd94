"""Cost of matrix calls (ratios to math.hypot and to numpy's 4x4 products) and
of the value arrays' numpy exchange (ratios between sizes and to numpy's own
copy). Run with /usr/bin/python3."""
import math
import os
import sys
import timeit

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from proxy import q  # noqa: E402


def per_call(stmt, number, **names):
    best = min(timeit.repeat(stmt, globals=names, number=number, repeat=5))
    return best / number * 1e9


def paired(stmt, ref_stmt, number, rounds=7, **names):
    """Cost of stmt and its ratio to ref_stmt, both timed in alternation so
    that a busy machine weighs on them alike; the best time of each."""
    best, ref = float("inf"), float("inf")
    for _ in range(rounds):
        best = min(best, timeit.timeit(stmt, globals=names, number=number))
        ref = min(ref, timeit.timeit(ref_stmt, globals=names, number=number))
    return best / number * 1e9, best / ref


def main():
    n = 200_000
    m = q.Matrix4d_uniform(1.5)
    k = q.Matrix4d_identity()
    m3 = q.Matrix3d_identity()
    a, b, v = np.full((4, 4), 1.5), np.eye(4), np.ones(4)
    names = dict(hypot=math.hypot, a=a, b=b, v=v, m=m, k=k, m3=m3, mul=q.Matrix4d___mul__, at=q.Matrix3d_at)
    rows = [
        ("numpy a @ b (4x4)", "a @ b"),
        ("numpy a @ v (4x4, 4)", "a @ v"),
        ("Matrix4d___mul__(m, n)", "mul(m, k)"),
        ("m * n (proxy)", "m * k"),
        ("Matrix4d___mul__(m, [1, 2, 3, 4])", "mul(m, [1.0, 2.0, 3.0, 4.0])"),
        ("Matrix3d_at(m, 1, 2)", "at(m3, 1, 2)"),
    ]
    print("%-36s %12s %9s %9s" % ("call", "ns", "x hypot", "x a@b"))
    for name, stmt in rows:
        ns, to_hypot = paired(stmt, "hypot(3.0, 4.0)", n // 4, **names)
        _, to_np = paired(stmt, "a @ b", n // 4, **names)
        print("%-36s %12.1f %9.2f %9.2f" % (name, ns, to_hypot, to_np))

    small = q.ArrayXd_from_numpy(np.zeros(1))
    big_np = np.ones(8 << 20)  # 64 MiB of doubles
    big = q.ArrayXd_from_numpy(big_np)
    to_small, _ = paired("f(a, None)", "f(a, None)", 50_000, f=q.ArrayXd__to_numpy, a=small)
    to_big, big_ratio = paired("f(b, None)", "f(a, None)", 50_000, f=q.ArrayXd__to_numpy, a=small, b=big)
    np_copy = per_call("np.array(x, copy=True)", 10, np=np, x=big_np)
    from_big, from_ratio = paired("f(x)", "np.array(x, copy=True)", 10, 5, f=q.ArrayXd_from_numpy, np=np, x=big_np)
    print()
    print("%-36s %12s %9s" % ("call", "ns", "ratio"))
    print("%-36s %12.1f %9s" % ("ArrayXd__to_numpy, 1 element", to_small, ""))
    print("%-36s %12.1f %9.2f" % ("ArrayXd__to_numpy, 64 MiB", to_big, big_ratio))
    print("%-36s %12.1f %9s" % ("numpy.array(a, copy=True), 64 MiB", np_copy, ""))
    print("%-36s %12.1f %9.2f" % ("ArrayXd_from_numpy, 64 MiB", from_big, from_ratio))


if __name__ == "__main__":
    main()
