"""Region reads and writes of views whose elements lie a few elements apart
(interleaved channels, sub-sampled and flipped axes): every small stride,
odd lengths and every alignment, against numpy on the same bytes; writes
leave the bytes between the elements as they were."""
import numpy as np
import pytest

from proxy import q
from views_util import from_numpy, read_region, region

LENGTHS = (1, 2, 7, 15, 16, 17, 31, 33, 64, 65, 127, 1000)
STRIDES = (2, 3, 4, 5, -1, -2, -3)


def strided(dtype, stride, length, offset):
    """3 rows of `length` elements `stride` apart in a larger array, from
    `offset` elements in, and that array."""
    span = abs(stride) * length + 8
    base = np.random.default_rng(length * 10 + offset).integers(0, 250, (3, span)).astype(dtype)
    if stride > 0:
        part = base[:, offset:offset + stride * length:stride]
    else:
        start = offset + abs(stride) * (length - 1)
        part = base[:, start::stride][:, :length]
    assert part.shape == (3, length)
    return base, part


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.float32, np.float64])
@pytest.mark.parametrize("stride", STRIDES)
def test_strided_runs_read_and_write_as_numpy(dtype, stride):
    for length in LENGTHS:
        for offset in range(4):
            base, part = strided(dtype, stride, length, offset)
            v = from_numpy(part, "ROW", "COLUMN")
            assert np.array_equal(read_region(v, [0, 0], [length, 3], dtype), part)
            # a part of the run from an odd element, on two rows
            first = length // 3
            assert np.array_equal(read_region(v, [first, 1], [length - first, 2], dtype), part[1:, first:])

            values = (np.arange(3 * length).reshape(3, length) % 200 + 3).astype(dtype)
            want = base.copy()
            if stride > 0:
                want[:, offset:offset + stride * length:stride] = values
            else:
                want[:, offset + abs(stride) * (length - 1)::stride][:, :length] = values
            q.ImageView___write_region(v, region([0, 0], [length, 3]), values.tobytes())
            assert np.array_equal(base, want)


@pytest.mark.parametrize("dtype", [np.uint8, np.uint16])
def test_interleaved_channels_to_planes_and_back(dtype):
    for rows, cols in ((1, 1), (3, 5), (17, 33), (64, 129)):
        pixels = np.random.default_rng(rows).integers(0, 250, (rows, cols, 3)).astype(dtype)
        v = from_numpy(pixels, "ROW", "COLUMN", "CHANNEL")
        planes = read_region(v, [0, 0, 0], [cols, rows, 3], dtype)
        assert np.array_equal(planes, pixels.transpose(2, 0, 1))
        packed = q.ImageViewFactory_assemble_channels(v)
        for c in range(3):
            channel = q.ImageViewFactory_extract_channel(packed, c)
            assert np.array_equal(read_region(channel, [0, 0], [cols, rows], dtype), pixels[:, :, c])
        q.ImageView___write_region(v, region([0, 0, 0], [cols, rows, 3]), (planes[::-1] + 1).tobytes())
        assert np.array_equal(pixels.transpose(2, 0, 1), planes[::-1] + 1)
