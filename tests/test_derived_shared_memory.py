"""Views whose bytes meet: the frames of a stack, written on threads only
when no two share bytes, and caller buffers overlapping the memory a view
reads or writes, moved as numpy moves them (as if the source were copied
first)."""
import numpy as np
import pytest

from derived_util import D, read, region, shape, view, write
from proxy import q
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)


def stack(frames, threads=8):
    return q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list(frames), D["SLICE"], threads)


def crop(v, box=None):
    return q.ImageViewFactory_extract_region(v, box or region([0] * len(shape(v)), shape(v)))


def ts(v):
    return q.ImageViewFactory_make_thread_safe(v)


@pytest.mark.parametrize("kind", ["extract_region", "thread-safe region"])
def test_frames_sharing_an_image_are_written_in_order_and_the_last_wins(kind):
    image = np.zeros((512, 512), np.uint8)
    make = crop if kind == "extract_region" else lambda v: ts(crop(v))
    stacked = stack([make(view(image, "ROW", "COLUMN")) for _ in range(8)])
    values = np.stack([np.full((512, 512), k + 1, np.uint8) for k in range(8)])
    for _ in range(100):
        image[...] = 0
        write(stacked, values)
        assert (image == 8).all()


def test_frames_apart_are_still_written_side_by_side():
    # the writers of frames in memory apart meet there (each waits for the other)
    for make in (lambda v: v, crop, lambda v: ts(crop(v))):
        frames = [make(v) for v in twin.meeting_views(2, [64, 64])]
        write(stack(frames, 2), np.ones((2, 64, 64), np.uint8))
        assert twin.meeting_most() == 2 and (read(stack(frames), np.uint8) == 1).all()


# Frames over an image: a region of it, through thread-safe views, its axes
# turned, a slice of a stack of it.
FRAMES = [crop, lambda v, box: ts(crop(v, box)), lambda v, box: crop(ts(v), box),
          lambda v, box: q.ImageViewFactory_reinterpret_axes(crop(v, box), [D["ROW"], D["COLUMN"]]),
          lambda v, box: q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(
              stack([crop(v, box)]), 2), 0)]


def test_random_frames_written_on_threads_end_as_written_in_order():
    rng = np.random.default_rng(5)
    for _ in range(30):
        count = int(rng.integers(1, 4))
        images = [rng.integers(0, 250, (384, 384), dtype=np.uint8) for _ in range(count)]
        copies = [a.copy() for a in images]
        picks = [(int(rng.integers(count)), [int(x) for x in rng.integers(0, 129, 2)], int(rng.integers(len(FRAMES))))
                 for _ in range(int(rng.integers(2, 9)))]

        def frames(arrays):
            return [FRAMES[kind](view(arrays[k], "ROW", "COLUMN"), region(at, [256, 256])) for k, at, kind in picks]
        on_threads, in_order = stack(frames(images), 8), stack(frames(copies), 1)
        values = rng.integers(0, 250, (len(picks), 256, 256), dtype=np.uint8)
        for _ in range(3):
            write(on_threads, values)
            write(in_order, values)
        assert all(np.array_equal(a, b) for a, b in zip(images, copies)), picks


# ---------------------------------------------------------------- overlaps

def transfer(op, v, origin, size, target):
    getattr(q, "ImageView___%s_region" % op)(v, region(origin, size), target)


def as_if_copied_first(rng, mine, a, apart, b):
    """A random region of `mine` (a view over a's bytes) read into, and written
    from, a's own bytes at a random offset: a ends as b does, `apart` being the
    same view over b moved through a buffer of its own holding the same bytes."""
    size = shape(mine)
    origin = [int(rng.integers(0, s)) for s in size]
    extent = [int(rng.integers(1, s - o + 1)) for s, o in zip(size, origin)]
    n = int(np.prod(extent)) * q.DataType_byte_count(q.ImageView_get_data_type(mine))
    raw, raw_b = a.view(np.uint8).reshape(-1), b.view(np.uint8).reshape(-1)
    if n > raw.size:  # a wider type: the transfer is larger than the source
        return
    off = int(rng.integers(0, raw.size - n + 1))
    caps = q.ImageCapabilitySet_value(q.ImageView_get_capabilities(mine))
    for op, cap in (("read", 1), ("write", 2)):
        if caps & cap:
            lent = bytearray(raw_b[off:off + n].tobytes())
            transfer(op, apart, origin, extent, lent)
            if op == "read":
                raw_b[off:off + n] = np.frombuffer(lent, np.uint8)
            transfer(op, mine, origin, extent, memoryview(raw)[off:off + n])
            assert np.array_equal(a, b), (op, origin, extent, off)


def test_a_buffer_overlapping_the_view_moves_as_if_copied_first():
    rng = np.random.default_rng(53)
    for _ in range(300):  # regions moved forward and backward within one array
        a = rng.integers(0, 200, int(rng.integers(2, 200))).astype([np.uint8, np.uint16, np.float64][_ % 3])
        b = a.copy()
        as_if_copied_first(rng, view(a, "COLUMN"), a, view(b, "COLUMN"), b)


VECTORS = {np.uint8: q.DataTypeId_VEC3_UINT8, np.uint16: q.DataTypeId_VEC3_UINT16}


def source(values):
    """A view holding `values` (rows, columns[, 3 components]) and a numpy array over its memory."""
    if values.ndim == 2:
        return view(values, "ROW", "COLUMN"), values
    v = q.ImageViewFactory_allocate([values.shape[1], values.shape[0]], VECTORS[values.dtype.type])
    a = q.NumpyInterop_to_numpy_array(v)
    a[...] = values
    return v, a


def slice_of(v, d, i):
    return q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(v, d), i)


# Every derived kind over a (rows 6, columns 8) source: (make, source dtype, components).
KINDS = {
    "flip": (lambda v: q.ImageViewFactory_flip_dimension_index(v, 1), np.uint8, 1),
    "sub_sample": (lambda v: q.ImageViewFactory_sub_sample(v, 2), np.uint8, 1),
    "extract_region": (lambda v: crop(v, region([1, 2], [6, 3])), np.uint8, 1),
    "extract_adjusted_region": (lambda v: q.ImageViewFactory_extract_adjusted_region(v, region([2, 1], [5, 1])),
                                np.uint16, 1),
    "reinterpret_axes": (lambda v: q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["COLUMN"]]), np.uint8, 1),
    "slice": (lambda v: slice_of(v, 0, 3), np.uint8, 1),
    "stack of flipped slices": (lambda v: stack([q.ImageViewFactory_flip_dimension_index(slice_of(v, 1, i), 0)
                                                 for i in (5, 0, 3)]), np.uint8, 1),
    "interlace": (lambda v: q.ImageViewFactory_interlace(q.MultiImageViewFactory_create_from_list(
        [q.ImageViewFactory_flip_dimension_index(v, 0), v])), np.uint8, 1),
    "adapt_data_type": (lambda v: q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_UINT16), np.uint8, 1),
    "adapt_dynamic_range": (lambda v: q.ImageViewFactory_adapt_dynamic_range(
        q.ImageViewFactory_flip_dimension_index(v, 0), q.DataTypeId_UINT8, [0, 65535], [0, 255]), np.uint16, 1),
    "make_thread_safe": (lambda v: ts(q.ImageViewFactory_flip_dimension_index(v, 1)), np.uint8, 1),
    "flip of a read-only view": (lambda v: q.ImageViewFactory_flip_dimension_index(
        q.ImageViewProvider_to_read_only(v), 0), np.uint8, 1),
    "extract_channel": (lambda v: q.ImageViewFactory_extract_channel(v, 1), np.uint8, 3),
    "disassemble_channels": (q.ImageViewFactory_disassemble_channels, np.uint8, 3),
    "assemble_channels": (lambda v: q.ImageViewFactory_assemble_channels(crop(v, region([0, 0], [3, 6]))),
                          np.uint16, 1),
    "deinterlace": (lambda v: q.MultiImageView_frame(q.MultiImageViewFactory_deinterlace(v), 2), np.uint16, 3),
    # chains whose links each pass the transfer on: the buffer is checked by the uppermost
    "conversion of a stack of conversions": (lambda v: q.ImageViewFactory_adapt_data_type(stack(
        [q.ImageViewFactory_adapt_data_type(slice_of(v, 1, i), q.DataTypeId_UINT16) for i in (4, 1, 4)]),
        q.DataTypeId_UINT8), np.uint8, 1),
    "interlace of thread-safe conversions": (lambda v: q.ImageViewFactory_interlace(
        q.MultiImageViewFactory_create_from_list([ts(q.ImageViewFactory_adapt_data_type(
            q.ImageViewFactory_flip_dimension_index(v, 0), q.DataTypeId_UINT8)), q.ImageViewProvider_to_read_only(v)])),
        np.uint8, 1),
}


@pytest.mark.parametrize("kind", sorted(KINDS))
def test_every_derived_kind_moves_its_own_source_as_numpy_would(kind):
    make, dtype, components = KINDS[kind]
    rng = np.random.default_rng(sum(map(ord, kind)))
    for _ in range(25):
        values = rng.integers(1, 250, (6, 8, components)[:3 if components > 1 else 2]).astype(dtype)
        (v, a), (w, b) = source(values), source(values.copy())
        as_if_copied_first(rng, make(v), a, make(w), b)


@pytest.mark.parametrize("layout", ["FORTRAN", "C"])
def test_a_store_over_the_callers_memory_moves_as_if_copied_first(layout):
    rng = np.random.default_rng(4)
    for _ in range(60):
        size = [int(x) for x in rng.integers(2, 9, 2)]
        make = [lambda v: v, lambda v: q.ImageViewFactory_flip_dimension_index(v, 1)][_ % 2]
        a = rng.integers(0, 250, 96, dtype=np.uint8)
        b = a.copy()
        mine, apart = (make(q.ImageViewFactory_from_random_access(q.RandomAccessFactory___from_buffer(memoryview(x)),
                                                                  getattr(q, "MemoryLayout_" + layout), size,
                                                                  q.DataTypeId_UINT8)) for x in (a, b))
        as_if_copied_first(rng, mine, a, apart, b)
