"""Derived and disk views: copy_on_disk of 256 MiB against Python writing the
same bytes to a file; region reads through extract_region, flip_dimension and
sub_sample against numpy doing the same slicing and copy; stack with
one thread and with the machine's; transfers whose buffer is the view's own
memory against numpy's copies between overlapping arrays; a query of a chain
of thread-safe views against the same query of the view under it. Run with
/usr/bin/python3."""
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from timing import best, compare, section  # noqa: E402
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
    """Derived views over memory against numpy doing the same rearrangement
    and copy; printed as they are measured."""
    section("derived views over 64 MiB of float32 in memory")
    a = np.random.default_rng(1).random((4096, 4096)).astype(np.float32)
    source = view(a)
    out = np.empty((2048, 4096), np.float32)

    def read_from(v, size, origin=(0, 0), into=out):
        r = region(origin, size)
        return lambda: q.ImageView___read_region(v, r, into)

    region_view = q.ImageViewFactory_extract_region(source, region((0, 1024), (4096, 2048)))
    compare("extract_region, 32 MiB", read_from(region_view, (4096, 2048)), "numpy slice copy",
            lambda: np.copyto(out, a[1024:3072]))
    flipped = q.ImageViewFactory_flip_dimension(source, ROW)
    compare("flip_dimension ROW, 32 MiB", read_from(flipped, (4096, 2048), (0, 1024)), "numpy flip copy",
            lambda: np.copyto(out, a[::-1][1024:3072]))
    both = q.ImageViewFactory_flip_dimension_index(q.ImageViewFactory_extract_region(
        source, region((0, 1024), (4096, 2048))), 0)
    compare("flip COLUMN of a region, 32 MiB", read_from(both, (4096, 2048)), "numpy flip copy",
            lambda: np.copyto(out, a[1024:3072, ::-1]))
    half = np.empty((2048, 2048), np.float32)
    sub = q.ImageViewFactory_sub_sample(source, 2)  # 2048 x 2048: 16 MiB
    compare("sub_sample step 2, 16 MiB", read_from(sub, (2048, 2048), into=half), "numpy [::2, ::2] copy",
            lambda: np.copyto(half, a[::2, ::2]))
    frames = [np.random.default_rng(2 + i).random((2048, 2048), dtype=np.float32) for i in range(3)]
    interlaced = q.ImageViewFactory_interlace(q.MultiImageViewFactory_create_from_list([view(f) for f in frames]))
    pixels = np.empty((2048, 2048, 3), np.float32)
    compare("interlace of 3 frames of 2048 x 2048 floats", read_from(interlaced, (2048, 2048), into=pixels),
            "np.stack(axis=-1, out=)", lambda: np.stack(frames, axis=-1, out=pixels))
    assert np.array_equal(pixels, np.stack(frames, axis=-1))
    plane = np.empty((2048, 2048), np.float32)
    green = q.ImageViewFactory_extract_channel(interlaced, 1)
    compare("extract_channel 1 of the interlace, read", read_from(green, (2048, 2048), into=plane),
            "numpy [..., 1] copy", lambda: np.copyto(plane, pixels[..., 1]))
    compare("extract_channel 1 of the interlace, written",
            lambda: q.ImageView___write_region(green, region((0, 0), (2048, 2048)), plane),
            "numpy [..., 1] = plane", lambda: pixels.__setitem__((Ellipsis, 1), plane))
    return []


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


def overlaps():
    """Buffers that are the view's own memory, against numpy moving the same
    bytes between overlapping arrays (it copies the source first where they
    overlap), and stacks written from buffers apart."""
    section("transfers within one array of 64 MiB of float32")
    a = np.random.default_rng(5).random((4096, 4096)).astype(np.float32)
    source = view(a)
    flipped = q.ImageViewFactory_flip_dimension(source, ROW)
    whole = region((0, 0), (4096, 4096))
    compare("flip ROW read into its own source", lambda: q.ImageView___read_region(flipped, whole, a),
            "np.copyto(a, a[::-1])", lambda: np.copyto(a, a[::-1]))
    rows = memoryview(a.reshape(-1))[4096:]
    shifted = region((0, 0), (4096, 4095))
    compare("write rows 0-4094 from rows 1-4095", lambda: q.ImageView___write_region(source, shifted, rows),
            "a[:-1] = a[1:]", lambda: a.__setitem__(slice(0, -1), a[1:]))
    section("stacks of 8 frames of 1024 x 1024 float64, written")
    values = np.random.default_rng(6).random((8, 1024, 1024))
    apart = [view(np.zeros((1024, 1024))) for _ in range(8)]
    shared = [q.ImageViewFactory_make_thread_safe(apart[0]) for _ in range(8)]
    for name, frames in (("frames apart", apart), ("frames over one array", shared)):
        multi = q.MultiImageViewFactory_create_from_list(frames)
        r = region((0, 0, 0), (1024, 1024, 8))
        many = q.ImageViewFactory_stack(multi, q.ImageDimension_SLICE, 0)
        one = q.ImageViewFactory_stack(multi, q.ImageDimension_SLICE, 1)
        compare("write, %s, threadCount 0" % name, lambda: q.ImageView___write_region(many, r, values),
                "threadCount 1", lambda: q.ImageView___write_region(one, r, values))
    return []


def chains():
    section("a chain of 64 thread-safe views")
    plain = q.ImageViewFactory_allocate([64, 64], q.DataTypeId_UINT8)
    chain = plain
    for _ in range(64):
        chain = q.ImageViewFactory_make_thread_safe(chain)
    compare("get_shape of the chain", lambda: q.ImageView_get_shape(chain), "get_shape of the view under it",
            lambda: q.ImageView_get_shape(plain), number=20000)
    return []


def main():
    with tempfile.TemporaryDirectory() as folder:
        rows = disk(folder) + reads() + stacks() + overlaps() + chains()
    print("%-36s %9s %9s %7s  %s" % ("operation", "ms", "ref ms", "ratio", "reference"))
    for name, t, ref, what in rows:
        print("%-36s %9.1f %9.1f %7.2f  %s" % (name, t * 1e3, ref * 1e3, t / ref, what))


if __name__ == "__main__":
    main()
