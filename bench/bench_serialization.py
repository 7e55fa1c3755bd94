"""Serialization throughput, as ratios to numpy moving the same bytes: a
64 MiB ArrayXd and a 64 MiB image view encoded to and decoded from a file
stream (vs ndarray.tofile and numpy.fromfile) and a memory stream (vs a
memory copy of the array). Run with /usr/bin/python3."""
import os
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from timing import best  # noqa: E402
from proxy import q  # noqa: E402

MIB = 1 << 20
TOTAL = 64 * MIB



def row(name, ours, theirs):
    print("%-44s %8.1f MiB/s %8.1f MiB/s %6.2fx" % (name, TOTAL / ours / MIB, TOTAL / theirs / MIB, ours / theirs))


def rows(label, value, encode, decode, folder):
    src = np.arange(TOTAL // 8, dtype=np.float64)
    path = os.path.join(folder, "bench.bin")
    raw = os.path.join(folder, "raw.bin")

    def to_file():
        s = q.StreamAccessFactory_open_file_write(path)
        encode(value, s)
        q.StreamAccess_flush(s)

    def from_file():
        decode(q.StreamAccessFactory_open_file_read(path))

    memory = q.StreamAccessFactory_allocate(TOTAL + 4096)

    def to_memory():
        q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
        encode(value, memory)

    def from_memory():
        q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
        decode(memory)

    row(label + " encode to a file", best(to_file), best(lambda: src.tofile(raw)))
    row(label + " decode from a file", best(from_file), best(lambda: np.fromfile(raw, dtype=np.float64)))
    row(label + " encode to memory", best(to_memory), best(lambda: src.copy()))
    row(label + " decode from memory", best(from_memory), best(lambda: src.copy()))


def main():
    print("%-44s %13s %13s %7s" % ("", "quelbo", "numpy", "ratio"))
    src = np.arange(TOTAL // 8, dtype=np.float64).reshape(1024, -1)
    with tempfile.TemporaryDirectory() as folder:
        rows("64 MiB ArrayXd", q.ArrayXd_from_numpy(src), q.Serialization_encode_arrayxd,
             q.Serialization_decode_arrayxd, folder)
        view = q.ImageViewFactory_allocate([src.shape[1], src.shape[0]], q.DataTypeId_DOUBLE)
        q.NumpyInterop_to_numpy_array(view)[...] = src
        rows("64 MiB image view", view, q.Serialization_encode_image_view, q.Serialization_decode_image_view,
             folder)


main()
