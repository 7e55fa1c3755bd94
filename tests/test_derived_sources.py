"""Derived views at the edges of what they move: empty regions, sources
reshaped after the view was made over them, and samples whose components
are packed by their bits."""
import numpy as np
import pytest

from derived_util import D, Error, read, region, shape, view, write
from proxy import cls, q

F = "ImageViewFactory_"
DataType = cls("DataType")
PACKED = DataType(1, 12, 3)  # three 12-bit components in 5 bytes
TWELVE = DataType(1, 12, 1)  # one 12-bit component in 2 bytes


def allocated(size, dtype=q.DataTypeId_UINT8):
    v = q.ImageViewFactory_allocate(size, dtype)
    count = int(np.prod(size))
    q.ImageView___write_region(v, region([0] * len(size), size), bytes(i % 251 for i in range(count)))
    return v


def frames(*views):
    return q.MultiImageViewFactory_create_from_list(list(views))


def stacked_slices(v):
    return q.ImageViewFactory_stack(q.MultiImageViewFactory_unstack_dimension_index(v, 1))


# Views over a 4 x 3 UINT8 source whose every sample they show once, in
# the source's order or another.
WHOLE = {
    "extract_region": lambda v: q.ImageViewFactory_extract_region(v, region([0, 0], [4, 3])),
    "extract_adjusted_region": lambda v: q.ImageViewFactory_extract_adjusted_region(v, region([0, 0], [4, 3])),
    "sub_sample": lambda v: q.ImageViewFactory_sub_sample(v, 1),
    "flip of a flip": lambda v: q.ImageViewFactory_flip_dimension_index(q.ImageViewFactory_flip_dimension_index(v, 0), 0),
    "flip": lambda v: q.ImageViewFactory_flip_dimension_index(v, 1),
    "reinterpret_axes": lambda v: q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["COLUMN"]]),
    "stack of its slices": stacked_slices,
    "stack of a region's slices": lambda v: stacked_slices(WHOLE["extract_region"](v)),
    "interlace": lambda v: q.ImageViewFactory_interlace(frames(v)),
    "adapt_data_type": lambda v: q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_UINT8),
    "make_thread_safe": q.ImageViewFactory_make_thread_safe,
}


@pytest.mark.parametrize("kind", sorted(WHOLE))
def test_an_empty_region_moves_nothing_where_the_source_accepts_it(kind):
    v = allocated([4, 3])
    before = read(v, np.uint8).copy()
    derived = WHOLE[kind](v)
    size = shape(derived)
    writable = q.ImageView_support(derived, q.ImageCapability_WRITE)
    for axis in range(len(size)):
        for origin in (0, size[axis] // 2, size[axis]):  # at the start, inside, past the last sample
            lo, extent = [0] * len(size), list(size)
            lo[axis], extent[axis] = origin, 0
            guarded = bytearray(b"\xee" * 16)
            q.ImageView___read_region(derived, region(lo, extent), memoryview(guarded)[:1])
            assert guarded == b"\xee" * 16
            if writable:
                q.ImageView___write_region(derived, region(lo, extent), b"\xff" * 16)
    assert np.array_equal(read(v, np.uint8), before)
    # still refused where the region leaves the view
    past = [0] * len(size)
    past[0] = size[0] + 1
    with pytest.raises(Error, match="is not inside the image"):
        q.ImageView___read_region(derived, region(past, [0] * len(size)), bytearray(1))


# Views over a 64 x 64 source that take its geometry when they are made.
GEOMETRIC = dict(WHOLE, **{
    "extract_channel": lambda v: q.ImageViewFactory_extract_channel(v, 0),
    "assemble_channels": q.ImageViewFactory_assemble_channels,
    "disassemble_channels": q.ImageViewFactory_disassemble_channels,
    "a slice of unstack": lambda v: q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(v, 0), 63),
    "stack of itself": lambda v: q.ImageViewFactory_stack(frames(v, v)),
})
del GEOMETRIC["make_thread_safe"]  # forwards every call: it takes the source's new geometry


@pytest.mark.parametrize("kind", sorted(GEOMETRIC))
@pytest.mark.parametrize("new", [([1, 1], q.DataTypeId_UINT8), ([64, 64], q.DataTypeId_DOUBLE),
                                 ([64, 8], q.DataTypeId_DOUBLE), ([64, 64, 1], q.DataTypeId_UINT8)])
def test_a_source_reshaped_underneath_is_refused_by_name(kind, new):
    v = allocated([64, 64])
    derived = GEOMETRIC[kind](v)
    size = shape(derived)
    count = int(np.prod(size)) * q.DataType_byte_count(q.ImageView_get_data_type(derived))
    made_later = q.ImageViewFactory_flip_dimension_index(derived, 0)  # made over the view, not the source
    q.ImageView_reshape(v, *new)
    # made after the reshape, over a view still laid out for the old source
    made_after = q.ImageViewFactory_flip_dimension_index(derived, 0)
    for w in (derived, made_later, made_after):
        guarded = bytearray(b"\xee" * (count + 64))
        with pytest.raises(Error, match=r"view was made over a view of shape \[64, 64\] and type UINT8, which is now "
                                        r"of shape \[.*\] and type (UINT8|DOUBLE)$"):
            q.ImageView___read_region(w, region([0] * len(size), size), memoryview(guarded)[:count])
        assert guarded == b"\xee" * len(guarded)
    if q.ImageView_support(derived, q.ImageCapability_WRITE):
        with pytest.raises(Error, match="which is now of shape"):
            q.ImageView___write_region(derived, region([0] * len(size), size), bytes(count))
    # the old geometry back: the view reads and writes its source again
    q.ImageView_reshape(v, [64, 64], q.DataTypeId_UINT8)
    q.ImageView___read_region(derived, region([0] * len(size), size), bytearray(count))


def test_a_stack_refuses_a_frame_reshaped_and_follows_a_thread_safe_source():
    a, b = allocated([8, 4]), allocated([8, 4])
    s = q.ImageViewFactory_stack(frames(a, b), D["SLICE"], 2)
    q.ImageView_reshape(b, [2, 2], q.DataTypeId_UINT8)
    with pytest.raises(Error, match=r"the Stack view was made over a view of shape \[8, 4\]"):
        q.ImageView___read_region(s, region([0, 0, 0], [8, 4, 1]), bytearray(32))  # frame a alone too
    safe = q.ImageViewFactory_make_thread_safe(b)
    assert shape(safe) == [2, 2]
    q.ImageView_reshape(b, [3, 1], q.DataTypeId_UINT16)
    assert shape(safe) == [3, 1]
    write(safe, np.array([[1, 2, 3]], np.uint16))
    assert read(safe, np.uint16).tolist() == [[1, 2, 3]]


MAKES_COMPONENTS = {
    "extract_channel": lambda v: q.ImageViewFactory_extract_channel(v, 2),
    "disassemble_channels": q.ImageViewFactory_disassemble_channels,
    "deinterlace": q.MultiImageViewFactory_deinterlace,
}


@pytest.mark.parametrize("kind", sorted(MAKES_COMPONENTS))
def test_components_packed_by_their_bits_are_not_taken_apart(kind):
    v = q.ImageViewFactory_allocate([4, 3], PACKED)
    with pytest.raises(Error, match="the components of .*bitDepth=12, elementCount=3.* do not take whole bytes each"):
        MAKES_COMPONENTS[kind](v)


def test_twelve_bit_planes_are_not_packed_into_one_sample():
    planes = [q.ImageViewFactory_allocate([4, 3], TWELVE) for _ in range(3)]
    with pytest.raises(Error, match=r"^ImageViewFactory: interlace: the components of .* do not take whole bytes"):
        q.ImageViewFactory_interlace(frames(*planes))
    with pytest.raises(Error, match=r"^ImageViewFactory: assembleChannels: the components of"):
        q.ImageViewFactory_assemble_channels(q.ImageViewFactory_stack(frames(*planes)))


def test_twelve_bit_samples_still_move_whole():
    # one 12-bit component takes two whole bytes: its channel is the sample
    v = q.ImageViewFactory_allocate([4, 3], TWELVE)
    values = (np.arange(12, dtype=np.uint16) * 300).reshape(3, 4)
    write(v, values)
    assert np.array_equal(read(q.ImageViewFactory_extract_channel(v, 0), np.uint16), values)
    one = q.ImageViewFactory_interlace(frames(v))
    assert np.array_equal(read(one, np.uint16), values)
    assert q.MultiImageView_get_frame_count(q.MultiImageViewFactory_deinterlace(v)) == 1
    # packed samples move whole through views that keep them whole
    packed = q.ImageViewFactory_allocate([4, 3], PACKED)
    raw = np.arange(60, dtype=np.uint8).reshape(3, 4, 5)
    write(packed, raw)
    flipped = q.ImageViewFactory_flip_dimension_index(packed, 0)
    assert np.array_equal(read(flipped, np.uint8, 5), raw[:, ::-1])
    assert np.array_equal(read(q.ImageViewFactory_stack(frames(packed, flipped)), np.uint8, 5),
                          np.stack([raw, raw[:, ::-1]]))


# Sources without memory: a channel of them is written as whole samples.
NO_MEMORY = {
    "temporary file": lambda tmp, size, t: q.ImageViewFactory_create_on_disk(str(tmp), size, t),
    "adapted": lambda tmp, size, t: q.ImageViewFactory_adapt_dynamic_range(q.ImageViewFactory_allocate(size, t), t,
                                                                           [0, 1], [0, 1]),
    "thread-safe file": lambda tmp, size, t: q.ImageViewFactory_make_thread_safe(
        q.ImageViewFactory_create_on_disk(str(tmp), size, t)),
}


@pytest.mark.parametrize("kind", sorted(NO_MEMORY))
def test_a_stack_of_channels_written_on_threads_keeps_every_channel(tmp_path, kind):
    rng = np.random.default_rng(7)
    for dtype, unit in [(q.DataTypeId_VEC3_UINT8, np.uint8), (q.DataTypeId_VEC4_UINT16, np.uint16)]:
        source = NO_MEMORY[kind](tmp_path, [192, 160], dtype)
        channels = q.MultiImageViewFactory_deinterlace(source)
        stacked = q.ImageViewFactory_stack(channels, D["SLICE"], 4)
        size = shape(stacked)
        for _ in range(3):
            values = rng.integers(1, 250, tuple(reversed(size)), dtype=unit)
            write(stacked, values)
            assert np.array_equal(read(stacked, unit), values)
            assert np.array_equal(read(source, unit, size[2]), np.moveaxis(values, 0, -1))


# Views that show every sample of what they write whole, as numpy shows
# the samples of a (rows 3, columns 4) array.
WRITES_WHOLE = {
    "reinterpret_axes": (lambda v: q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["COLUMN"]]),
                         lambda a: np.swapaxes(a, 0, 1)),
    "a region of reinterpret_axes": (
        lambda v: q.ImageViewFactory_extract_region(q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["COLUMN"]]),
                                                    region([1, 1], [2, 3])), lambda a: np.swapaxes(a, 0, 1)[1:4, 1:3]),
}


@pytest.mark.parametrize("kind", sorted(WRITES_WHOLE))
@pytest.mark.parametrize("under", ["memory", "temporary file"])
def test_views_over_a_write_only_source_write_what_they_show(tmp_path, kind, under):
    rng = np.random.default_rng(11)
    make, model = WRITES_WHOLE[kind]
    for dtype, unit, components in [(q.DataTypeId_UINT8, np.uint8, 1), (q.DataTypeId_VEC3_UINT16, np.uint16, 3),
                                    (PACKED, np.uint8, 5)]:
        target = (q.ImageViewFactory_allocate([4, 3], dtype) if under == "memory" else
                  q.ImageViewFactory_create_on_disk(str(tmp_path), [4, 3], dtype))
        truth = rng.integers(0, 250, (3, 4, components), dtype=unit)
        write(target, truth)
        derived = make(q.ImageViewProvider_to_write_only(target))
        values = rng.integers(0, 250, model(truth).shape, dtype=unit)
        write(derived, values)
        model(truth)[...] = values
        assert np.array_equal(read(target, unit, components), truth[..., 0] if components == 1 else truth)
