"""Cost of matrix calls against numpy's 4x4 products, and of the value
arrays' numpy exchange against numpy's own copy. Run with /usr/bin/python3."""
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
from proxy import q  # noqa: E402


def refusing(fn, error):
    def call(x):
        try:
            fn(x)
        except error:
            pass
    return call


def main():
    n = 50_000
    a, b, v = np.full((4, 4), 1.5), np.eye(4), np.ones(4)
    names = dict(a=a, b=b, v=v, m=q.Matrix4d_uniform(1.5), k=q.Matrix4d_identity(), m3=q.Matrix3d_identity(),
                 mul=q.Matrix4d___mul__, at=q.Matrix3d_at)
    section("Matrix calls, one call")
    compare_stmt("Matrix4d___mul__(m, n)", "mul(m, k)", "numpy a @ b (4x4)", "a @ b", n, **names)
    compare_stmt("m * n (proxy)", "m * k", "numpy a @ b (4x4)", "a @ b", n, **names)
    compare_stmt("Matrix4d___mul__(m, [1, 2, 3, 4])", "mul(m, [1.0, 2.0, 3.0, 4.0])", "numpy a @ v (4x4, 4)",
                 "a @ v", n, **names)
    compare_stmt("Matrix3d_at(m, 1, 2)", "at(m3, 1, 2)", "numpy a[1, 2]", "a[1, 2]", n, **names)
    # a general matrix, and singular ones: entries alike, rows of entries 2^-1000 to 2^1000, and a
    # repeated row mixing the largest doubles with subnormals (the widest rows there are); numpy
    # refuses the first of them
    general = np.array([[4.0, 1, 2, 0.5], [1, 5, 0.25, 2], [2, 0.25, 6, 1], [0.5, 2, 1, 7]])
    wide = np.full((4, 4), 3.0) @ np.diag(2.0 ** np.array([-1000.0, 0, 500, 1000]))
    rng = np.random.default_rng(7)
    widest = np.array([[1.7e308, 5e-324, -1.3e308, 7e-320], [1.7e308, 5e-324, -1.3e308, 7e-320],
                       [3e-310, 1.1e308, 9e-322, -1.5e308], rng.standard_normal(4) * [1e308, 1e-310, 1e300, 1e-320]])
    for label, x in (("a general 4x4", general), ("singular, refused", np.full((4, 4), 3.0)),
                     ("singular, entries 2^-1000 to 2^1000, refused", wide),
                     ("singular, a repeated row of 1.7e308 and subnormals, refused", widest)):
        m = q.Matrix4d_identity()
        for r in range(4):
            for c in range(4):
                q.Matrix4d_set_at(m, c, r, float(x[r, c]))
        compare_stmt(f"Matrix4d_inverse, {label}", "inv(m)", "numpy.linalg.inv", "inv_np(x)", n // 5,
                     inv=refusing(q.Matrix4d_inverse, Exception), m=m, x=x,
                     inv_np=refusing(np.linalg.inv, np.linalg.LinAlgError))

    section("Value arrays and numpy, 64 MiB of doubles")
    big_np = np.ones(8 << 20)
    names = dict(np=np, x=big_np, big=q.ArrayXd_from_numpy(big_np), to=q.ArrayXd__to_numpy,
                 frm=q.ArrayXd_from_numpy)
    compare_stmt("ArrayXd__to_numpy (no copy)", "to(big, None)", "numpy.asarray(x)", "np.asarray(x)", 20_000,
                 **names)
    compare_stmt("ArrayXd_from_numpy (a copy)", "frm(x)", "numpy.array(x, copy=True)", "np.array(x, copy=True)",
                 3, 5, **names)

    section("ArrayXf_from_numpy against numpy's copy")
    for mib, number in ((1, 200), (64, 5), (256, 2)):
        x = np.ones(mib << 18, np.float32)
        compare_stmt(f"ArrayXf_from_numpy, {mib} MiB", "frm(x)", "np.array(x)", "np.array(x)", number,
                     np=np, x=x, frm=q.ArrayXf_from_numpy)


if __name__ == "__main__":
    main()
