"""Type and range adaptation against numpy's conversion with the library's
rules: values mapped linearly in double, integer stores rounded half to even
and saturated (NaN giving 0), floating-point stores beyond the type's range
giving an infinity; for every pair of element types, both ways."""
import numpy as np
import pytest

from derived_util import read, region, shape, view, write
from helpers import run_child, under_sanitizer
from proxy import q
from views_util import TYPES


def values(dtype):
    """Each type's ends, zero, ties and some random values."""
    if np.issubdtype(dtype, np.floating):
        top = float(np.finfo(dtype).max)
        special = [np.nan, np.inf, -np.inf, top, -top, 0.0, 0.5, 1.5, -2.5, 1e-30]
        rest = np.random.default_rng(0).normal(0, 1e3, 54)
    else:
        info = np.iinfo(dtype)
        special = [info.min, info.max, 0, 1, 2, 3, info.max - 1, info.min + 1]
        rest = np.random.default_rng(0).integers(info.min, info.max, 56, dtype=dtype, endpoint=True)
    return np.concatenate([np.array(special, dtype), rest.astype(dtype)]).reshape(8, 8)


def expected(a, dtype, in_range, out_range):
    """The library's conversion of `a` into dtype, written with numpy."""
    scale = (out_range[1] - out_range[0]) / (in_range[1] - in_range[0])
    with np.errstate(all="ignore"):
        mapped = (a.astype(np.float64) - in_range[0]) * scale + out_range[0]
        if np.issubdtype(dtype, np.floating):
            top = float(np.finfo(dtype).max)
            out = mapped.astype(dtype)
            out[mapped > top] = np.inf
            out[mapped < -top] = -np.inf
            return out
        info = np.iinfo(dtype)
        r = np.rint(mapped)
        low, high = r <= float(info.min), r >= float(info.max)
        middle = ~(low | high | np.isnan(r))
        out = np.zeros(a.shape, dtype)
        out[middle] = r[middle].astype(dtype)
        out[low], out[high] = info.min, info.max
        return out


def standard(dtype):
    if np.issubdtype(dtype, np.floating):
        return (0.0, 1.0)
    info = np.iinfo(dtype)
    return (float(info.min), float(info.max))


MAPS = [None, ((-3.0, 5.0), (-1.5, 2.5)), ((0.0, 1.0), (-1e5, 4e5))]


@pytest.mark.parametrize("source", TYPES, ids=[np.dtype(t).name for t, _ in TYPES])
def test_every_pair_reads_and_writes_as_numpy_converts(source):
    src_dtype, src_id = source
    for dtype, type_id in TYPES:
        for ranges in MAPS:
            a = values(src_dtype)
            v = view(a, "ROW", "COLUMN")
            if ranges is None:
                adapted = q.ImageViewFactory_adapt_data_type(v, type_id)
                in_range, out_range = standard(src_dtype), standard(dtype)
            else:
                in_range, out_range = ranges
                adapted = q.ImageViewFactory_adapt_dynamic_range(v, type_id, list(in_range), list(out_range))
            got = read(adapted, dtype)
            want = expected(a, dtype, in_range, out_range)
            assert np.array_equal(got, want, equal_nan=True), (np.dtype(dtype).name, ranges)
            stored = values(dtype)
            write(adapted, stored)
            assert np.array_equal(a, expected(stored, src_dtype, out_range, in_range), equal_nan=True), (
                np.dtype(dtype).name, ranges)


def test_values_just_beyond_the_float_range_become_infinities_from_memory_and_through_tiles():
    top = float(np.finfo(np.float32).max)
    # between the largest float and the half step above it a plain store
    # would round to the largest float
    beyond = [top * (1 + 2.0 ** -30), top * (1 + 2.0 ** -50), 1e300, np.inf, top, np.nextafter(top, 0), 0.25, np.nan]
    a = np.array([beyond, [-v for v in beyond]])
    want = expected(a, np.float32, (0.0, 1.0), (0.0, 1.0))
    assert np.isinf(want[:, :4]).all() and (np.abs(want[:, 4]) == top).all()
    over_memory = q.ImageViewFactory_adapt_data_type(view(a, "ROW", "COLUMN"), q.DataTypeId_FLOAT)
    flipped = q.ImageViewFactory_flip_dimension_index(view(a[::-1], "ROW", "COLUMN"), 1)  # no memory of its own
    through_tiles = q.ImageViewFactory_adapt_data_type(flipped, q.DataTypeId_FLOAT)
    for adapted in (over_memory, through_tiles):
        assert np.array_equal(read(adapted, np.float32), want, equal_nan=True)
    # one row of memory whose rows run backwards: dense, from its own address
    rows_back = q.ImageViewFactory_adapt_data_type(view(a[::-1], "ROW", "COLUMN"), q.DataTypeId_FLOAT)
    for adapted, row in ((over_memory, want[1]), (rows_back, want[0])):
        part = bytearray(3 * 4)
        q.ImageView___read_region(adapted, region([1, 1], [3, 1]), part)
        assert np.array_equal(np.frombuffer(part, np.float32), row[1:4])


def test_regions_across_tiles_map_every_sample_once():
    # 3 x 200 x 700 of int32 is 1.6 MiB: several tiles, cut inside a plane.
    a = np.random.default_rng(3).integers(-50000, 50000, (3, 200, 700), dtype=np.int32)
    v = view(a, "SLICE", "ROW", "COLUMN")
    adapted = q.ImageViewFactory_adapt_dynamic_range(v, q.DataTypeId_INT16, [-50000, 50000], [-40000, 40000])
    want = expected(a, np.int16, (-50000, 50000), (-40000, 40000))
    assert np.array_equal(read(adapted, np.int16), want)
    origin, size = [13, 7, 1], [650, 190, 2]
    out = bytearray(650 * 190 * 2 * 2)
    q.ImageView___read_region(adapted, region(origin, size), out)
    part = np.frombuffer(out, np.int16).reshape(2, 190, 650)
    assert np.array_equal(part, want[1:3, 7:197, 13:663])

    replacement = np.random.default_rng(4).integers(-30000, 30000, (2, 190, 650), dtype=np.int16)
    before = a.copy()
    q.ImageView___write_region(adapted, region(origin, size), replacement.tobytes())
    before[1:3, 7:197, 13:663] = expected(replacement, np.int32, (-40000, 40000), (-50000, 50000))
    assert np.array_equal(a, before)
    assert shape(adapted) == [700, 200, 3]


@pytest.mark.skipif(under_sanitizer(), reason="the sanitizer's allocator keeps its own reserves")
def test_adapting_a_large_region_keeps_a_tile_beyond_the_output():
    # the peak resident size, reset once the source and the output are in
    # memory, stays within a few tiles (a copy of the source would add 32 MiB)
    child = run_child("""
        import numpy as np
        from proxy import q
        from views_util import from_numpy, region
        a = np.ones((4096, 4096), np.uint16)
        out = np.ones((4096, 4096), np.float32)
        v = q.ImageViewFactory_adapt_data_type(from_numpy(a, "ROW", "COLUMN"), q.DataTypeId_FLOAT)
        box = region([0, 0], [4096, 4096])
        q.ImageView___read_region(v, region([0, 0], [4, 4]), out)

        def kib(field):
            with open("/proc/self/status") as f:
                return next(int(line.split()[1]) for line in f if line.startswith(field))

        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        before = kib("VmHWM:")
        q.ImageView___read_region(v, box, out)
        q.ImageView___write_region(v, box, out)
        print(kib("VmHWM:") - before)
        assert (out == np.float32(1 / 65535)).all()
    """)
    assert child.returncode == 0, child.stderr
    assert int(child.stdout) < 4096
