"""Image views over numpy memory: region transfers against numpy copying the
same region, the cost of the bridge in both directions against the array
size, and one-sample reads against numpy scalar indexing. Ratios are taken
within one run. Run with /usr/bin/python3."""
import os
import sys
import timeit

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from timing import best_per_call as best  # noqa: E402
from proxy import cls, q  # noqa: E402



def image_type(*dims):
    t = cls("ImageType")()
    for d in dims:
        q.ImageType_add(t, d)
    return t


IMAGE = image_type(q.ImageDimension_COLUMN, q.ImageDimension_ROW)


def regions():
    rows, cols = 8192, 8192                 # 64 MiB of uint8
    src = np.random.default_rng(1).integers(0, 255, (rows + 64, cols + 512), dtype=np.uint8)
    view = q.NumpyInterop__from_numpy_array(src, IMAGE, 0, False)
    box = cls("RegionXu64")([100, 32], [cols, rows])
    part = src[32:32 + rows, 100:100 + cols]
    out = bytearray(rows * cols)
    dst = np.frombuffer(out, dtype=np.uint8).reshape(rows, cols)
    read = best("f(v, r, b)", 3, f=q.ImageView___read_region, v=view, r=box, b=out)
    np_read = best("np.copyto(d, s)", 3, np=np, d=dst, s=part)
    assert (dst == part).all()
    write = best("f(v, r, b)", 3, f=q.ImageView___write_region, v=view, r=box, b=out)
    np_write = best("np.copyto(s, d)", 3, np=np, d=dst, s=part)
    # a transposing read: a C-ordered RGB image read into its dense (x, y, c) order
    rgb = np.random.default_rng(2).integers(0, 255, (2048, 4096, 3), dtype=np.uint8)
    rgb_view = q.NumpyInterop__from_numpy_array(
        rgb, image_type(q.ImageDimension_COLUMN, q.ImageDimension_ROW, q.ImageDimension_CHANNEL),
        q.ImageInterpretation_RGB, False)
    planes = bytearray(rgb.size)
    planes_np = np.frombuffer(planes, dtype=np.uint8).reshape(3, 2048, 4096)
    rgb_box = cls("RegionXu64")([0, 0, 0], [4096, 2048, 3])
    rgb_read = best("f(v, r, b)", 3, f=q.ImageView___read_region, v=rgb_view, r=rgb_box, b=planes)
    np_rgb = best("np.copyto(d, s)", 3, np=np, d=planes_np, s=rgb.transpose(2, 0, 1))
    print("region transfers, 64 MiB of uint8 (rows of 8 KiB in a wider array)")
    print("  __read_region   %8.2f ms   numpy copyto %8.2f ms   ratio %.2f" % (read * 1e3, np_read * 1e3,
                                                                                read / np_read))
    print("  __write_region  %8.2f ms   numpy copyto %8.2f ms   ratio %.2f" % (write * 1e3, np_write * 1e3,
                                                                                write / np_write))
    print("  RGB 24 MiB to planes %5.2f ms   numpy copyto %8.2f ms   ratio %.2f" % (
        rgb_read * 1e3, np_rgb * 1e3, rgb_read / np_rgb))


def bridge():
    print("bridge per call against the array size (np.empty); rounds interleave the sizes")
    sizes = (1 << 10, 1 << 20, 1 << 30)
    arrays = [np.empty((size // 1024, 1024), dtype=np.uint8) for size in sizes]
    views = [q.NumpyInterop__from_numpy_array(a, IMAGE, 0, False) for a in arrays]
    frm = [float("inf")] * 3
    to = [float("inf")] * 3
    for _ in range(7):
        for i, (a, v) in enumerate(zip(arrays, views)):
            frm[i] = min(frm[i], best("f(a, t, 0, False)", 2000, f=q.NumpyInterop__from_numpy_array, a=a, t=IMAGE))
            to[i] = min(to[i], best("f(v)", 2000, f=q.NumpyInterop_to_numpy_array, v=v))
    for size, f, t in zip(sizes, frm, to):
        print("  %10d bytes   _from_numpy_array %6.2f us   to_numpy_array %6.2f us" % (size, f * 1e6, t * 1e6))
    print("  largest / smallest: from %.2f, to %.2f" % (frm[-1] / frm[0], to[-1] / to[0]))


def sample():
    a = np.arange(64 * 64, dtype=np.uint16).reshape(64, 64)
    v = q.NumpyInterop__from_numpy_array(a, IMAGE, 0, False)
    out = bytearray(2)
    read = best("f(v, [3, 5], b)", 200_000, f=q.ImageView___read, v=v, b=out)
    index = best("a[5, 3]", 200_000, a=a)
    print("one sample: __read %.0f ns   numpy a[y, x] %.0f ns   ratio %.2f" % (read * 1e9, index * 1e9, read / index))


if __name__ == "__main__":
    regions()
    bridge()
    sample()
