"""The data roads between files and memory, each against numpy doing the same
work on the same bytes: views over a file stream and a mapped file against
numpy.memmap, temporary-file writes and reads against memmap writes and
copies, copy_on_disk against tofile, flipped and sub-sampled disk views
against numpy flipping and slicing a memmap. Run with /usr/bin/python3."""
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from timing import compare, section  # noqa: E402
from proxy import cls, q  # noqa: E402

ROW, COLUMN = q.ImageDimension_ROW, q.ImageDimension_COLUMN


def region(origin, size):
    return cls("RegionXu64")(list(origin), list(size))


def image_file(folder, name, rows, cols, dtype=np.uint8):
    """A file of rows x cols samples (C order) and its numpy copy."""
    a = np.random.default_rng(rows ^ cols).integers(0, 255, (rows, cols)).astype(dtype)
    path = os.path.join(folder, name)
    a.tofile(path)
    return path, a


def region_read(label, v, mm, origin, size, dtype=np.uint8):
    """Reads the region (x, y origin and size) from view v and from the memmap."""
    out = np.empty((size[1], size[0]), dtype)
    box = region(origin, size)
    part = mm[origin[1]:origin[1] + size[1], origin[0]:origin[0] + size[0]]
    compare(label, lambda: q.ImageView___read_region(v, box, out), "numpy.memmap copy",
            lambda: np.copyto(out, part))
    assert np.array_equal(out, part)


def streams(folder):
    section("views over a file stream (from_stream(open_file_read)) and a mapped file")
    rows, cols = 8192 + 64, 8192 + 512
    path, _ = image_file(folder, "wide.raw", rows, cols)
    mm = np.memmap(path, np.uint8, "r", shape=(rows, cols))
    stream_store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path))
    v = q.ImageViewFactory_from_random_access(stream_store, [cols, rows], q.DataTypeId_UINT8)
    region_read("file stream, 64 MiB region (8 KiB rows)", v, mm, (100, 32), (8192, 8192))
    path, _ = image_file(folder, "narrow.raw", 131072, 512)
    mm = np.memmap(path, np.uint8, "r", shape=(131072, 512))
    narrow = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path))
    v = q.ImageViewFactory_from_random_access(narrow, [512, 131072], q.DataTypeId_UINT8)
    region_read("file stream, 32 MiB region of 256-byte rows", v, mm, (128, 0), (256, 131072))
    mapped = q.ImageViewFactory_from_random_access(q.RandomAccessFactory_map_file(path), [512, 131072],
                                                   q.DataTypeId_UINT8)
    region_read("map_file, 1 MiB region of 256-byte rows", mapped, mm, (128, 1000), (256, 4096))
    # 256 bytes of every 16 KiB row: runs far apart, through a stream opened for reading and writing
    path, _ = image_file(folder, "floats.raw", 4096, 4096, np.float32)
    mm = np.memmap(path, np.float32, "r", shape=(4096, 4096))
    sparse = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(path))
    v = q.ImageViewFactory_from_random_access(sparse, [4096, 4096], q.DataTypeId_FLOAT)
    region_read("file stream (open_file), 1 MiB region of 64 x 4096 floats (256 bytes of 16 KiB rows)", v, mm,
                (1024, 0), (64, 4096), np.float32)


def disks(folder):
    section("temporary files")
    rows, cols = 8192, 8192
    a = np.random.default_rng(3).integers(0, 255, (rows, cols), dtype=np.uint8)  # 64 MiB
    v = q.ImageViewFactory_create_on_disk(folder, [cols, rows], q.DataTypeId_UINT8)
    path = os.path.join(folder, "anchor.raw")
    a.tofile(path)
    mm = np.memmap(path, np.uint8, "r+", shape=(rows, cols))
    box = region((0, 0), (cols, rows))
    compare("create_on_disk region write, 64 MiB (whole image)", lambda: q.ImageView___write_region(v, box, a),
            "numpy.memmap write", lambda: np.copyto(mm, a))
    out = np.empty_like(a)
    compare("create_on_disk region read, 64 MiB (whole image)", lambda: q.ImageView___read_region(v, box, out),
            "numpy.memmap copy", lambda: np.copyto(out, mm))
    assert np.array_equal(out, a)
    # rows of 8 KiB in a wider image: one write per row, the file being
    # written in parallel by other callers (no read-modify-write of the gaps)
    wide = q.ImageViewFactory_create_on_disk(folder, [cols + 512, rows + 64], q.DataTypeId_UINT8)
    wide_path = os.path.join(folder, "anchor_wide.raw")
    np.zeros((rows + 64, cols + 512), np.uint8).tofile(wide_path)
    wide_mm = np.memmap(wide_path, np.uint8, "r+", shape=(rows + 64, cols + 512))
    part = region((100, 32), (cols, rows))
    compare("create_on_disk region write, 64 MiB of 8 KiB rows", lambda: q.ImageView___write_region(wide, part, a),
            "numpy.memmap write", lambda: np.copyto(wide_mm[32:32 + rows, 100:100 + cols], a))
    del v, wide, mm, wide_mm
    big = np.random.default_rng(0).integers(0, 255, (16384, 16384), dtype=np.uint8)  # 256 MiB
    source = q.NumpyInterop__order_from_numpy_array(big, [ROW, COLUMN], 0, False)
    plain = os.path.join(folder, "plain.raw")

    def copy():
        c = q.ImageViewFactory_copy_on_disk(source, folder)
        del c

    def tofile():
        big.tofile(plain)
        os.remove(plain)

    compare("copy_on_disk, 256 MiB", copy, "ndarray.tofile", tofile, rounds=3)
    del big, source


def resident_growth(fn):
    """MiB the process's peak resident size grows by during fn(), and MiB of
    it that are pages of files mapped by then (page cache, as numpy.memmap
    maps them, not memory of the transfer) (Linux)."""
    def status(key):
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) for line in f if line.startswith(key)) / 1024
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before, mapped = status("VmHWM"), status("RssFile")
    fn()
    return status("VmHWM") - before, status("RssFile") - mapped


def derived(folder):
    section("derived views over a disk view (64 MiB of float32)")
    a = np.random.default_rng(1).random((4096, 4096)).astype(np.float32)
    source = q.NumpyInterop__order_from_numpy_array(a, [ROW, COLUMN], 0, False)
    disk = q.ImageViewFactory_copy_on_disk(source, folder)
    path = os.path.join(folder, "derived.raw")
    a.tofile(path)
    mm = np.memmap(path, np.float32, "r", shape=(4096, 4096))
    flipped = q.ImageViewFactory_flip_dimension(disk, ROW)
    out = np.empty((2048, 4096), np.float32)
    box = region((0, 1024), (4096, 2048))
    part = mm[::-1][1024:3072]
    compare("flip ROW, 32 MiB", lambda: q.ImageView___read_region(flipped, box, out), "numpy flip of memmap + copy",
            lambda: np.copyto(out, part))
    assert np.array_equal(out, part)
    sub = q.ImageViewFactory_sub_sample(disk, 2)
    half = np.ones((2048, 2048), np.float32)
    box = region((0, 0), (2048, 2048))
    grown, mapped = resident_growth(lambda: q.ImageView___read_region(sub, box, half))
    print(f"sub_sample 2, 16 MiB, first read into a buffer at hand: peak resident size grows {grown:.1f} MiB, "
          f"{mapped:.1f} MiB of them pages of the file mapped, {grown - mapped:.1f} MiB beyond them "
          "(goal beyond them: a tile of the source, at most 1 MiB)")
    compare("sub_sample 2, 16 MiB", lambda: q.ImageView___read_region(sub, box, half),
            "numpy memmap[::2, ::2] copy", lambda: np.copyto(half, mm[::2, ::2]))
    assert np.array_equal(half, mm[::2, ::2])


def main():
    with tempfile.TemporaryDirectory() as folder:
        streams(folder)
        disks(folder)
        derived(folder)


if __name__ == "__main__":
    main()
