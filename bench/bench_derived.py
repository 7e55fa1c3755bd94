"""Derived and disk views: copy_on_disk of 256 MiB against Python writing the
same bytes to a file; region reads through extract_region, flip_dimension and
sub_sample against reading the same bytes from the source view; stack with
one thread and with the machine's. Run with /usr/bin/python3."""
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from timing import best  # noqa: E402
from proxy import cls, q  # noqa: E402

ROW, COLUMN = q.ImageDimension_ROW, q.ImageDimension_COLUMN


def region(origin, size):
    return cls("RegionXu64")(list(origin), list(size))


def view(a):
    return q.NumpyInterop__order_from_numpy_array(a, [ROW, COLUMN], 0, False)


def disk(folder):
    a = np.random.default_rng(0).integers(0, 255, size=(16384, 16384), dtype=np.uint8)  # 256 MiB
    source = view(a)

    def copy():
        c = q.ImageViewFactory_copy_on_disk(source, folder)
        del c

    def python():
        path = os.path.join(folder, "plain.raw")
        with open(path, "wb") as f:
            mv = memoryview(a).cast("B")
            for start in range(0, len(mv), 1 << 20):
                f.write(mv[start:start + (1 << 20)])
        os.remove(path)

    t_copy, t_py = best(copy, 3), best(python, 3)
    return [("copy_on_disk, 256 MiB", t_copy, t_py, "Python writing the bytes in 1 MiB pieces")]


def reads():
    dtype = np.float32
    a = np.random.default_rng(1).random((4096, 4096)).astype(dtype)  # 64 MiB
    source = view(a)
    rows = []
    out = bytearray(2048 * 4096 * 4)  # 32 MiB
    big = bytearray(4096 * 4096 * 4)

    def read_from(v, size, origin=(0, 0)):
        r = region(origin, size)
        return lambda: q.ImageView___read_region(v, r, out)

    same = best(read_from(source, (4096, 2048), (0, 1024)))
    region_view = q.ImageViewFactory_extract_region(source, region((0, 1024), (4096, 2048)))
    rows.append(("extract_region, 32 MiB", best(read_from(region_view, (4096, 2048))), same,
                 "the same region read from the source"))
    flipped = q.ImageViewFactory_flip_dimension(source, ROW)
    rows.append(("flip_dimension ROW, 32 MiB", best(read_from(flipped, (4096, 2048), (0, 1024))), same,
                 "the same bytes read from the source"))
    both = q.ImageViewFactory_flip_dimension_index(q.ImageViewFactory_extract_region(
        source, region((0, 1024), (4096, 2048))), 0)
    rows.append(("flip COLUMN of a region, 32 MiB", best(read_from(both, (4096, 2048))), same,
                 "the same bytes read from the source"))
    sub = q.ImageViewFactory_sub_sample(source, 2)  # 2048 x 2048: 16 MiB
    half = best(read_from(source, (4096, 1024)))
    t_sub = best(read_from(sub, (2048, 2048)))
    rows.append(("sub_sample step 2, 16 MiB", t_sub, half, "16 MiB read from the source"))
    whole = best(lambda: q.ImageView___read_region(source, region((0, 0), (4096, 4096)), big))
    rows.append(("sub_sample step 2, 16 MiB", t_sub, whole, "the 64 MiB the samples lie in, read from the source"))
    return rows


def stacks():
    frames = [view(np.full((1024, 1024), i, np.float64)) for i in range(32)]  # 256 MiB
    multi = q.MultiImageViewFactory_create_from_list(frames)
    out = bytearray(1024 * 1024 * 8 * 32)
    r = region((0, 0, 0), (1024, 1024, 32))
    one = q.ImageViewFactory_stack(multi, q.ImageDimension_SLICE, 1)
    many = q.ImageViewFactory_stack(multi, q.ImageDimension_SLICE, 0)
    t1 = best(lambda: q.ImageView___read_region(one, r, out))
    t0 = best(lambda: q.ImageView___read_region(many, r, out))
    return [("stack of 32 frames, threadCount 0", t0, t1, "threadCount 1 (%d cores)" % (os.cpu_count() or 1))]


def main():
    with tempfile.TemporaryDirectory() as folder:
        rows = disk(folder) + reads() + stacks()
    print("%-36s %9s %9s %7s  %s" % ("operation", "ms", "ref ms", "ratio", "reference"))
    for name, t, ref, what in rows:
        print("%-36s %9.1f %9.1f %7.2f  %s" % (name, t * 1e3, ref * 1e3, t / ref, what))


if __name__ == "__main__":
    main()
