"""Type and range adaptation, interleaved-to-planar reads and channel
extraction, each against numpy doing the same work on the same data, timed
interleaved within one run. Run with /usr/bin/python3."""
import os
import sys

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from timing import compare, section  # noqa: E402
from proxy import q  # noqa: E402
from views_util import from_numpy, region  # noqa: E402


def reader(v, shape, out):
    box = region([0] * len(shape), shape)
    return lambda: q.ImageView___read_region(v, box, out)


def adapters():
    section("type and range adaptation, 64 MiB out")
    rows, cols = 4096, 4096
    rng = np.random.default_rng(0)
    a = rng.integers(0, 65535, (rows, cols), dtype=np.uint16)
    out = np.empty((rows, cols), np.float32)
    adapted = q.ImageViewFactory_adapt_data_type(from_numpy(a, "ROW", "COLUMN"), q.DataTypeId_FLOAT)
    read = reader(adapted, [cols, rows], out)
    read()
    assert np.array_equal(out, (a / 65535.0).astype(np.float32))
    compare("adapt_data_type u16->f32", read, "astype", lambda: a.astype(np.float32))

    f = rng.random((rows, cols), dtype=np.float32) * 4000
    ranged = q.ImageViewFactory_adapt_dynamic_range(from_numpy(f, "ROW", "COLUMN"), q.DataTypeId_FLOAT,
                                                    [1000, 3000], [0, 1])
    read = reader(ranged, [cols, rows], out)
    scale = np.float32(1 / 2000)
    compare("adapt_dynamic_range f32", read, "(a - 1000) * (1 / 2000)", lambda: (f - np.float32(1000)) * scale)

    # [0, 1] onto [-1, 1], into a buffer at hand: numpy's two passes in place against one
    unit = rng.random((rows, cols), dtype=np.float32)
    ranged = q.ImageViewFactory_adapt_dynamic_range(from_numpy(unit, "ROW", "COLUMN"), q.DataTypeId_FLOAT,
                                                    [0, 1], [-1, 1])
    read = reader(ranged, [cols, rows], out)
    theirs = np.empty_like(out)

    def in_place():
        np.multiply(unit, np.float32(2), out=theirs)
        np.subtract(theirs, np.float32(1), out=theirs)

    compare("adapt_dynamic_range f32 -> f32, [0, 1] -> [-1, 1]", read, "np.multiply then np.subtract in place",
            in_place)
    assert np.allclose(out, theirs, atol=1e-6)


def channels():
    for rows, cols, what in ((256, 512, "384 KiB"), (2048, 4096, "24 MiB")):
        section(f"interleaved RGB u8, {what}")
        rgb = np.random.default_rng(1).integers(0, 255, (rows, cols, 3), dtype=np.uint8)
        planes = np.empty((3, rows, cols), np.uint8)
        v = from_numpy(rgb, "ROW", "COLUMN", "CHANNEL")
        read = reader(v, [cols, rows, 3], planes)
        read()
        assert np.array_equal(planes, rgb.transpose(2, 0, 1))
        number = max(1, (1 << 22) // rgb.size)
        compare("__read_region into planes", read, "copyto of the transpose",
                lambda: np.copyto(planes, rgb.transpose(2, 0, 1)), number=number)
        box = region([0, 0, 0], [cols, rows, 3])
        compare("__write_region of planes", lambda: q.ImageView___write_region(v, box, planes),
                "copyto into the transpose", lambda: np.copyto(rgb.transpose(2, 0, 1), planes), number=number)

        green = np.empty((rows, cols), np.uint8)
        channel = q.ImageViewFactory_extract_channel(q.ImageViewFactory_assemble_channels(v), 1)
        read = reader(channel, [cols, rows], green)
        read()
        assert np.array_equal(green, rgb[:, :, 1])
        compare("extract_channel of VEC3_UINT8", read, "copyto of a[:, :, 1]",
                lambda: np.copyto(green, rgb[:, :, 1]), number=number)


if __name__ == "__main__":
    adapters()
    channels()
