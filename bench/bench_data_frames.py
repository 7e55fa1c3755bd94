"""Data frame views: bulk transfers of a 10-million-row int32 column against
numpy copying the same 40 MB, and one-cell access against math.hypot (a
plain C function call). Run with /usr/bin/python3."""
import math
import os
import sys

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare_stmt, section  # noqa: E402
from proxy import q  # noqa: E402


def bulk():
    section("Data frame bulk transfers, 10 million int32 rows (40 MB)")
    rows = 10_000_000
    df = q.DataFrameViewFactory__allocate([1, rows], ["n"], [q.DataTypeId_INT32])
    src = np.random.default_rng(1).integers(-2**31, 2**31 - 1, rows, dtype=np.int32)
    out = bytearray(src.nbytes)
    dst = np.frombuffer(out, dtype=np.int32)
    names = dict(w=q.DataFrameView__write_bytes, r=q.DataFrameView__read_bytes, v=df, n=rows, b=src, o=out,
                 np=np, d=dst, s=src)
    compare_stmt("_write_bytes", "w(v, 0, 0, n, b)", "numpy.copyto", "np.copyto(d, s)", 3, 5, **names)
    compare_stmt("_read_bytes", "r(v, 0, 0, n, o)", "numpy.copyto", "np.copyto(d, s)", 3, 5, **names)
    assert (dst == src).all()


def cells():
    section("Data frame cells, one per call")
    df = q.DataFrameViewFactory__allocate([2, 100], ["n", "s"], [q.DataTypeId_INT32, q.DataTypeId_UTF8_STRING])
    names = dict(hypot=math.hypot, at=q.DataFrameView__at, set_at=q.DataFrameView__set_at, v=df)
    for label, stmt in (("_at int32", "at(v, 0, 7)"), ("_set_at int32", "set_at(v, 0, 7, 12345)"),
                        ("_at string", "at(v, 1, 7)"), ("_set_at string", "set_at(v, 1, 7, 'abcdef')")):
        compare_stmt(label, stmt, "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)", 100_000, **names)


if __name__ == "__main__":
    bulk()
    cells()
