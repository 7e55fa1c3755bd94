"""Data frame views: bulk transfers of a 10-million-row int32 column against
numpy copying the same 40 MB, and one-cell access against math.hypot (a
plain C function call). Ratios are taken within one run. Run with
/usr/bin/python3."""
import math
import os
import sys
import timeit

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from timing import best_per_call as best  # noqa: E402
from proxy import q  # noqa: E402



def bulk():
    rows = 10_000_000
    df = q.DataFrameViewFactory__allocate([1, rows], ["n"], [q.DataTypeId_INT32])
    src = np.random.default_rng(1).integers(-2**31, 2**31 - 1, rows, dtype=np.int32)
    out = bytearray(src.nbytes)
    dst = np.frombuffer(out, dtype=np.int32)
    write = best("f(v, 0, 0, n, b)", 5, f=q.DataFrameView__write_bytes, v=df, n=rows, b=src)
    read = best("f(v, 0, 0, n, b)", 5, f=q.DataFrameView__read_bytes, v=df, n=rows, b=out)
    assert (dst == src).all()
    np_copy = best("np.copyto(d, s)", 5, np=np, d=dst, s=src)
    print("bulk transfers, 10 million int32 rows (40 MB)")
    print("  _write_bytes  %8.2f ms   numpy copyto %8.2f ms   ratio %.2f" % (write * 1e3, np_copy * 1e3,
                                                                             write / np_copy))
    print("  _read_bytes   %8.2f ms   numpy copyto %8.2f ms   ratio %.2f" % (read * 1e3, np_copy * 1e3,
                                                                             read / np_copy))


def cells():
    df = q.DataFrameViewFactory__allocate([2, 100], ["n", "s"], [q.DataTypeId_INT32, q.DataTypeId_UTF8_STRING])
    n = 200_000
    hypot = best("f(3.0, 4.0)", n, f=math.hypot)
    at = best("f(v, 0, 7)", n, f=q.DataFrameView__at, v=df)
    set_at = best("f(v, 0, 7, 12345)", n, f=q.DataFrameView__set_at, v=df)
    at_s = best("f(v, 1, 7)", n, f=q.DataFrameView__at, v=df)
    set_s = best("f(v, 1, 7, 'abcdef')", n, f=q.DataFrameView__set_at, v=df)
    print("one cell per call (math.hypot %.0f ns)" % (hypot * 1e9))
    for name, t in (("_at int32", at), ("_set_at int32", set_at), ("_at string", at_s), ("_set_at string", set_s)):
        print("  %-15s %6.0f ns   ratio %.1f" % (name, t * 1e9, t / hypot))


if __name__ == "__main__":
    bulk()
    cells()
