"""Data frame views: bulk transfers of a 10-million-row int32 column against
numpy copying the same 40 MB, one-cell access against math.hypot (a plain C
function call), and wide frames of 20 000 and 40 000 columns: built column by
column (vs a dict of numpy columns), a column found by name (vs a dict
lookup), a record without rows decoded (vs numpy.dtype of the same named
fields), and the first column removed again and again (vs del of a list's first
item). Run with /usr/bin/python3."""
import math
import os
import statistics
import sys
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import compare, compare_stmt, report, section  # noqa: E402
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


def wide():
    for count in (20_000, 40_000):
        section("Wide data frames, %d float64 columns" % count)
        names = ["column %d" % i for i in range(count)]

        def build():
            df = q.DataFrameViewFactory__allocate_empty()
            for name in names:
                q.DataFrameView_add_column(df, name, q.DataTypeId_DOUBLE)
            return df

        def columns_dict():
            d = {}
            for name in names:
                d[name] = np.empty(0, np.float64)
            return d

        compare("add_column one by one", build, "dict[name] = numpy.empty(0)", columns_dict, rounds=3)
        df, d = build(), columns_dict()
        compare_stmt("DataFrameView_column_index", "index(df, key)", "dict lookup", "d[key]", 100_000,
                     index=q.DataFrameView_column_index, df=df, key=names[count // 2], d=d)
        record = q.StreamAccessFactory_allocate(0)
        q.Serialization_encode_data_frame_view(df, record)
        fields = [(name, np.float64) for name in names]

        def decode():
            q.StreamAccess_seek(record, 0, q.SeekOrigin_BEGIN)
            q.Serialization_decode_data_frame_view(record)

        compare("decode a record without rows", decode, "numpy.dtype of the named fields",
                lambda: np.dtype(fields), rounds=3)

        def drop_first(n=2_000):
            frame = build()
            t = time.perf_counter()
            for _ in range(n):
                q.DataFrameView_remove_column(frame, 0)
            return time.perf_counter() - t

        def del_first(n=2_000):
            columns = [np.empty(0, np.float64) for _ in names]
            t = time.perf_counter()
            for _ in range(n):
                del columns[0]
            return time.perf_counter() - t

        report("remove_column of the first, 2000 times", statistics.median(drop_first() for _ in range(3)),
               "del list[0] of numpy columns", statistics.median(del_first() for _ in range(3)))


if __name__ == "__main__":
    bulk()
    cells()
    wide()
