"""Views whose bytes meet: the frames of a stack over one image, written on
threads only when no two share bytes, and caller buffers that overlap the
memory a view reads or writes, moved as numpy moves them (as if the source
were copied first)."""
import numpy as np
import pytest

from derived_util import D, read, region, shape, view, write
from proxy import q
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

F = "ImageViewFactory_"


def stack(frames, threads=8):
    return q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list(frames), D["SLICE"], threads)


def whole(v):
    return q.ImageViewFactory_extract_region(v, region([0] * len(shape(v)), shape(v)))


# Frames that reach the same bytes of one image, each over it whole.
SHARING = {
    "extract_region": whole,
    "make_thread_safe": q.ImageViewFactory_make_thread_safe,
    "thread-safe regions": lambda v: q.ImageViewFactory_make_thread_safe(whole(v)),
    "reinterpret": lambda v: q.ImageViewFactory_reinterpret(v, q.ImageView_get_axes_interpretation(v)),
}


@pytest.mark.parametrize("kind", sorted(SHARING))
def test_frames_sharing_an_image_are_written_in_order_and_the_last_wins(kind):
    image = np.zeros((512, 512), np.uint8)
    frames = [SHARING[kind](view(image, "ROW", "COLUMN")) for _ in range(8)]
    stacked = stack(frames)
    values = np.stack([np.full((512, 512), k + 1, np.uint8) for k in range(8)])
    for _ in range(100):
        image[...] = 0
        write(stacked, values)
        assert (image == 8).all()
    # frames over parts of one image that meet: the later frame's samples win where they meet
    image = np.zeros((8, 8), np.uint8)
    v = view(image, "ROW", "COLUMN")
    parts = [q.ImageViewFactory_extract_region(v, region([k, 0], [4, 8])) for k in range(5)]
    for _ in range(20):
        write(stack(parts), np.stack([np.full((8, 4), k + 1, np.uint8) for k in range(5)]))
        assert (image[:, :4] == np.arange(1, 5)).all() and (image[:, 4:] == 5).all() and (image[:, 8:] == 0).all()


def test_frames_apart_are_still_written_side_by_side():
    # distinct memory: the writers of the frames meet (each waits for the other)
    for make in (lambda views: views, lambda views: [whole(v) for v in views],
                 lambda views: [q.ImageViewFactory_make_thread_safe(whole(v)) for v in views]):
        frames = make(twin.meeting_views(2, [64, 64]))
        write(stack(frames, 2), np.ones((2, 64, 64), np.uint8))
        assert twin.meeting_most() == 2
        assert (read(stack(frames), np.uint8) == 1).all()
    # slabs apart of one view's memory (its rows), and two images of numpy
    images = [np.zeros((64, 64), np.uint8) for _ in range(2)]
    for frames in ([whole(view(a, "ROW", "COLUMN")) for a in images],
                   [q.ImageViewFactory_extract_region(view(images[0], "ROW", "COLUMN"), region([0, k * 32], [64, 32]))
                    for k in range(2)]):
        size = shape(frames[0])
        values = np.stack([np.full(tuple(reversed(size)), k + 1, np.uint8) for k in range(2)])
        write(stack(frames), values)
        assert np.array_equal(read(stack(frames), np.uint8), values)
    # one view's memory reached twice through meeting views: in order
    one = twin.meeting_views(1, [16, 16])[0]
    write(stack([one, whole(one)], 2), np.stack([np.full((16, 16), k + 1, np.uint8) for k in range(2)]))
    assert twin.meeting_most() == 1 and (read(one, np.uint8) == 2).all()


# ---------------------------------------------------------------- overlaps

def transfer(op, v, origin, size, target):
    getattr(q, "ImageView___%s_region" % op)(v, region(origin, size), target)


@pytest.mark.parametrize("op", ["read", "write"])
def test_a_buffer_overlapping_the_view_moves_as_if_copied_first(op):
    rng = np.random.default_rng(53)
    for _ in range(300):
        n = int(rng.integers(2, 200))
        dtype = [np.uint8, np.uint16, np.float64][int(rng.integers(3))]
        a = rng.integers(0, 200, n).astype(dtype)
        count = int(rng.integers(1, n + 1))
        at, off = int(rng.integers(0, n - count + 1)), int(rng.integers(0, n - count + 1))  # forward and backward
        expected = a.copy()
        source = expected.copy()  # numpy's rule: the source copied first
        if op == "read":
            expected[off:off + count] = source[at:at + count]
        else:
            expected[at:at + count] = source[off:off + count]
        transfer(op, view(a, "COLUMN"), [at], [count], memoryview(a)[off:off + count])
        assert np.array_equal(a, expected)
    # two dimensions: a region of an image moved to or from the image's own bytes, shifted
    for _ in range(100):
        rows, cols = (int(x) for x in rng.integers(2, 24, 2))
        a = rng.integers(0, 250, (rows, cols)).astype(np.uint8)
        h, w = int(rng.integers(1, rows + 1)), int(rng.integers(1, cols + 1))
        y, x = int(rng.integers(0, rows - h + 1)), int(rng.integers(0, cols - w + 1))
        off = int(rng.integers(0, a.size - h * w + 1))
        flat, expected = a.reshape(-1), a.copy()
        source = expected.copy()
        if op == "read":
            expected.reshape(-1)[off:off + h * w] = source[y:y + h, x:x + w].reshape(-1)
        else:
            expected[y:y + h, x:x + w] = source.reshape(-1)[off:off + h * w].reshape(h, w)
        transfer(op, view(a, "ROW", "COLUMN"), [x, y], [w, h], memoryview(flat)[off:off + h * w])
        assert np.array_equal(a, expected)


# Every derived kind over a (rows 6, columns 8) source: (make, source dtype, components).
def channels(v):
    return q.MultiImageViewFactory_deinterlace(v)


KINDS = {
    "flip": (lambda v: q.ImageViewFactory_flip_dimension_index(v, 1), np.uint8, 1),
    "sub_sample": (lambda v: q.ImageViewFactory_sub_sample(v, 2), np.uint8, 1),
    "extract_region": (lambda v: q.ImageViewFactory_extract_region(v, region([1, 2], [6, 3])), np.uint8, 1),
    "extract_adjusted_region": (lambda v: q.ImageViewFactory_extract_adjusted_region(v, region([2, 1], [5, 1])),
                                np.uint16, 1),
    "reinterpret_axes": (lambda v: q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["COLUMN"]]), np.uint8, 1),
    "slice": (lambda v: q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(v, 0), 3), np.uint8, 1),
    "stack of flipped slices": (lambda v: stack([q.ImageViewFactory_flip_dimension_index(
        q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(v, 1), i), 0) for i in (5, 0, 3)]),
        np.uint8, 1),
    "interlace": (lambda v: q.ImageViewFactory_interlace(q.MultiImageViewFactory_create_from_list(
        [q.ImageViewFactory_flip_dimension_index(v, 0), v])), np.uint8, 1),
    "adapt_data_type": (lambda v: q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_UINT16), np.uint8, 1),
    "adapt_dynamic_range": (lambda v: q.ImageViewFactory_adapt_dynamic_range(
        q.ImageViewFactory_flip_dimension_index(v, 0), q.DataTypeId_UINT8, [0, 65535], [0, 255]), np.uint16, 1),
    "make_thread_safe": (lambda v: q.ImageViewFactory_make_thread_safe(q.ImageViewFactory_flip_dimension_index(v, 1)),
                         np.uint8, 1),
    "read-only flip": (lambda v: q.ImageViewFactory_flip_dimension_index(q.ImageViewProvider_to_read_only(v), 0),
                       np.uint8, 1),
    "flip of a thread-safe view": (lambda v: q.ImageViewFactory_flip_dimension_index(
        q.ImageViewFactory_make_thread_safe(v), 0), np.uint8, 1),
    "extract_channel": (lambda v: q.ImageViewFactory_extract_channel(v, 1), np.uint8, 3),
    "disassemble_channels": (lambda v: q.ImageViewFactory_disassemble_channels(v), np.uint8, 3),
    "assemble_channels": (lambda v: q.ImageViewFactory_assemble_channels(
        q.ImageViewFactory_extract_region(v, region([0, 0], [3, 6]))), np.uint16, 1),
    "deinterlace": (lambda v: q.MultiImageView_frame(channels(v), 2), np.uint16, 3),
}


VECTORS = {np.uint8: q.DataTypeId_VEC3_UINT8, np.uint16: q.DataTypeId_VEC3_UINT16}


def source(values, components):
    """A view holding `values` (rows, columns[, components]) and a numpy array
    over its memory."""
    if components == 1:
        return view(values, "ROW", "COLUMN"), values
    v = q.ImageViewFactory_allocate([values.shape[1], values.shape[0]], VECTORS[values.dtype.type])
    a = q.NumpyInterop_to_numpy_array(v)
    a[...] = values
    return v, a


def caps(v):
    return q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v))


@pytest.mark.parametrize("kind", sorted(KINDS))
def test_every_derived_kind_moves_its_own_source_as_numpy_would(kind):
    make, dtype, components = KINDS[kind]
    rng = np.random.default_rng(sum(map(ord, kind)))
    dims = (6, 8, components) if components > 1 else (6, 8)
    for _ in range(25):
        values = rng.integers(1, 250, dims).astype(dtype)
        (v, a), (w, b) = source(values, components), source(values.copy(), components)
        # the same source twice: moved through its own bytes, and through a buffer apart
        mine, apart = make(v), make(w)
        size = shape(mine)
        origin = [int(rng.integers(0, s)) for s in size]
        extent = [int(rng.integers(1, s - o + 1)) for s, o in zip(size, origin)]
        unit = q.DataType_byte_count(q.ImageView_get_data_type(mine))
        nbytes = int(np.prod(extent)) * unit
        raw, raw_b = a.view(np.uint8).reshape(-1), b.view(np.uint8).reshape(-1)
        if nbytes > raw.size:  # a wider type: the transfer is larger than the source
            continue
        off = int(rng.integers(0, raw.size - nbytes + 1))
        for op in ("read", "write"):
            if not caps(mine) & (1 if op == "read" else 2):
                continue
            lent = bytearray(raw_b[off:off + nbytes].tobytes())  # the caller's bytes, copied first
            transfer(op, apart, origin, extent, lent)
            if op == "read":
                raw_b[off:off + nbytes] = np.frombuffer(lent, np.uint8)
            transfer(op, mine, origin, extent, memoryview(raw)[off:off + nbytes])
            assert np.array_equal(a, b), (op, origin, extent, off)


@pytest.mark.parametrize("layout", ["FORTRAN", "C"])
def test_a_store_over_the_callers_memory_moves_as_if_copied_first(layout):
    rng = np.random.default_rng(3 if layout == "C" else 4)
    over = lambda raw, shape: q.ImageViewFactory_from_random_access(  # noqa: E731
        q.RandomAccessFactory___from_buffer(memoryview(raw)), getattr(q, "MemoryLayout_" + layout), shape,
        q.DataTypeId_UINT8)
    for _ in range(60):
        raw = rng.integers(0, 250, 96, dtype=np.uint8)
        twin_raw = raw.copy()
        shape_ = [int(rng.integers(2, 9)), int(rng.integers(2, 9))]
        kinds = [lambda v: v, lambda v: q.ImageViewFactory_flip_dimension_index(v, 1),
                 lambda v: q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_UINT8)]
        make = kinds[int(rng.integers(len(kinds)))]
        mine, apart = make(over(raw, shape_)), make(over(twin_raw, shape_))
        origin = [int(rng.integers(0, s)) for s in shape_]
        extent = [int(rng.integers(1, s - o + 1)) for s, o in zip(shape_, origin)]
        n = int(np.prod(extent))
        off = int(rng.integers(0, 96 - n + 1))
        for op in ("read", "write"):
            if op == "write" and not caps(mine) & 2:
                continue
            lent = bytearray(twin_raw[off:off + n].tobytes())
            transfer(op, apart, origin, extent, lent)
            if op == "read":
                twin_raw[off:off + n] = np.frombuffer(lent, np.uint8)
            transfer(op, mine, origin, extent, memoryview(raw)[off:off + n])
            assert np.array_equal(raw, twin_raw), (op, shape_, origin, extent, off)
