"""The capabilities a derived view reports are the ones that work: every
derived factory over sources that only read, only write, or do both (and
over memory), each reported capability exercised against the same view
made over a source that can do everything."""
import numpy as np
import pytest

from derived_util import D, region, shape
from proxy import QuelboError, cls, q
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

READ, WRITE, RESHAPE, MEMORY = 1, 2, 4, 8


def frames(*views):
    return q.MultiImageViewFactory_create_from_list(list(views))


FACTORIES = {
    "flip": lambda v: q.ImageViewFactory_flip_dimension_index(v, 0),
    "sub_sample": lambda v: q.ImageViewFactory_sub_sample(v, 2),
    "reinterpret_axes": lambda v: q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["COLUMN"]]),
    "disassemble_channels": q.ImageViewFactory_disassemble_channels,
    "assemble_channels": q.ImageViewFactory_assemble_channels,
    "extract_region": lambda v: q.ImageViewFactory_extract_region(v, region([1, 1], [2, 2])),
    "extract_adjusted_region": lambda v: q.ImageViewFactory_extract_adjusted_region(v, region([1, 1], [3, 1])),
    "extract_channel": lambda v: q.ImageViewFactory_extract_channel(v, 1),
    "deinterlace": lambda v: q.MultiImageView_frame(q.MultiImageViewFactory_deinterlace(v), 0),
    "unstack": lambda v: q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(v, 1), 2),
    "stack": lambda v: q.ImageViewFactory_stack(frames(v, q.ImageViewFactory_make_thread_safe(v)), D["SLICE"], 4),
    "interlace": lambda v: q.ImageViewFactory_interlace(frames(v, v)),
    "adapt_data_type": lambda v: q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_UINT16),
    "adapt_dynamic_range": lambda v: q.ImageViewFactory_adapt_dynamic_range(v, q.DataTypeId_DOUBLE, [0, 255], [0, 1]),
    "make_thread_safe": q.ImageViewFactory_make_thread_safe,
    "reinterpret": lambda v: q.ImageViewFactory_reinterpret(v, cls("ImageType")()),
    "from_image_view": lambda v: q.ImageViewFactory_from_image_view(v, None, None),
    "to_read_only": q.ImageViewProvider_to_read_only,
    "to_write_only": q.ImageViewProvider_to_write_only,
    "region of a channel": lambda v: q.ImageViewFactory_extract_region(q.ImageViewFactory_extract_channel(v, 0),
                                                                       region([0, 1], [4, 2])),
}
SOURCES = {"read-only": READ, "write-only": WRITE, "read-write": READ | WRITE, "memory": None}


def caps(v):
    return q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v))


def nbytes(v, size):
    return int(np.prod(size)) * q.DataType_byte_count(q.ImageView_get_data_type(v))


def contents(v):
    out = bytearray(nbytes(v, shape(v)))
    q.ImageView___read_region(v, region([0] * len(shape(v)), shape(v)), out)
    return bytes(out)


@pytest.mark.parametrize("factory", sorted(FACTORIES))
@pytest.mark.parametrize("kind", sorted(SOURCES))
def test_each_capability_reported_works(factory, kind):
    rng = np.random.default_rng(len(factory) * 7 + len(kind))
    for dtype, components in [(q.DataTypeId_UINT8, 1), (q.DataTypeId_VEC3_UINT8, 3)]:
        base, twin_base = (q.ImageViewFactory_allocate([4, 3], dtype) for _ in range(2))
        start = rng.integers(0, 250, 12 * components, dtype=np.uint8).tobytes()
        for b in (base, twin_base):
            q.ImageView___write_region(b, region([0, 0], [4, 3]), start)
        try:  # the reference, over a source that can do everything
            view = FACTORIES[factory](base if SOURCES[kind] is None else twin.restricted_view(base, SOURCES[kind]))
            reference = FACTORIES[factory](twin_base)
        except QuelboError:  # a factory that refuses the source or its type
            continue
        reported, size = caps(view), shape(view)
        assert reported & ~caps(reference) == 0
        first, one = [0] * len(size), nbytes(view, [1])
        if reported & READ:
            sample = bytearray(one)
            q.ImageView___read(view, first, sample)
            assert contents(view) == contents(reference) and bytes(sample) == contents(reference)[:one]
            q.ImageView___get_metadata(view)
        if reported & WRITE:
            values = rng.integers(0, 250, nbytes(view, size), dtype=np.uint8).tobytes()
            for v in (view, reference):
                q.ImageView___write_region(v, region(first, size), values)
                q.ImageView___write(v, first, values[-one:])
                q.ImageView_set_properties(v, q.ImageView___get_properties(v))
            assert contents(base) == contents(twin_base)
        if reported & MEMORY:
            q.NumpyInterop_to_numpy_array(view)[...] = 7
            assert contents(view) == bytes([7]) * nbytes(view, size)
        if reported & RESHAPE:
            q.ImageView_reshape(view, [2, 5], dtype)
            assert shape(view) == [2, 5]
