"""Views derived from other views: their samples against numpy's equivalent
over the same numpy-backed source, their capabilities, lifetimes and errors."""
import gc

import numpy as np
import pytest

from derived_util import D, TYPES, Error, caps, exact, read, region, shape, view, write
from helpers import run_child, under_sanitizer
from proxy import cls, q

F = "ImageViewFactory_"


def sample(dtype, *size):
    rng = np.random.default_rng(7)
    return (rng.random(size) * 100).astype(dtype)


@pytest.mark.parametrize("dtype", [t for t, _ in TYPES])
def test_flips_and_sub_samples_equal_numpy(dtype):
    a = sample(dtype, 5, 7)
    v = view(a, "ROW", "COLUMN")
    assert np.array_equal(read(q.ImageViewFactory_flip_dimension_index(v, 0), dtype), np.flip(a, axis=1))
    assert np.array_equal(read(q.ImageViewFactory_flip_dimension(v, D["ROW"]), dtype), np.flip(a, axis=0))
    for step in (1, 2, 3, 5):
        sub = q.ImageViewFactory_sub_sample(v, step)
        assert np.array_equal(read(sub, dtype), a[::step, ::step])
        assert caps(sub) == q.ImageCapability_READ
    # derived views of derived views
    twice = q.ImageViewFactory_sub_sample(q.ImageViewFactory_flip_dimension_index(v, 1), 2)
    assert np.array_equal(read(twice, dtype), np.flip(a, axis=0)[::2, ::2])


def read_box(v, dtype, origin, size, components=1):
    out = bytearray(int(np.prod(size)) * np.dtype(dtype).itemsize * components)
    q.ImageView___read_region(v, region(origin, size), out)
    return np.frombuffer(out, dtype=dtype).reshape(tuple(reversed(size)) + ((components,) if components > 1 else ()))


@pytest.mark.parametrize("dtype", [t for t, _ in TYPES])
def test_long_reversed_and_strided_runs_equal_numpy(dtype):
    # rows long enough for the vectorised gathers, read whole and from odd offsets
    a = sample(dtype, 3, 301)
    v = view(a, "ROW", "COLUMN")
    flipped = q.ImageViewFactory_flip_dimension_index(v, 0)
    assert np.array_equal(read(flipped, dtype), np.flip(a, axis=1))
    assert np.array_equal(read_box(flipped, dtype, [17, 1], [250, 2]), np.flip(a, axis=1)[1:3, 17:267])
    for step in (2, 3):
        sub = q.ImageViewFactory_sub_sample(v, step)
        assert np.array_equal(read(sub, dtype), a[::step, ::step])
        assert np.array_equal(read_box(sub, dtype, [3, 0], [70, 1]), a[::step, ::step][0:1, 3:73])


def test_long_runs_of_sixteen_byte_samples_equal_numpy():
    a = sample(np.float32, 3, 129, 4)
    packed = q.ImageViewFactory_assemble_channels(view(a, "ROW", "COLUMN", "CHANNEL"))
    flipped = q.ImageViewFactory_flip_dimension_index(packed, 0)
    assert np.array_equal(read(flipped, np.float32, 4), np.flip(a, axis=1))
    assert np.array_equal(read_box(flipped, np.float32, [5, 1], [100, 2], 4), np.flip(a, axis=1)[1:3, 5:105])
    assert np.array_equal(read(q.ImageViewFactory_sub_sample(packed, 2), np.float32, 4), a[::2, ::2])


def test_sub_sample_keeps_every_channel_and_refuses_bad_steps():
    a = sample(np.uint16, 6, 5, 3)
    v = view(a, "ROW", "COLUMN", "CHANNEL")
    assert np.array_equal(read(q.ImageViewFactory_sub_sample(v, 2), np.uint16), np.moveaxis(a[::2, ::2, :], 2, 0))
    # a step larger than a dimension but CHANNEL's
    assert shape(q.ImageViewFactory_sub_sample(v, 4)) == [2, 2, 3]
    for step in (0, 7):
        with pytest.raises(Error):
            q.ImageViewFactory_sub_sample(v, step)
    with pytest.raises(OverflowError, match=exact("in method 'ImageViewFactory_sub_sample', argument 2 of type 'size_t'")):
        q.ImageViewFactory_sub_sample(v, -1)


def test_flip_refusals():
    v = view(sample(np.uint8, 3, 4), "ROW", "COLUMN")
    with pytest.raises(Error):
        q.ImageViewFactory_flip_dimension_index(v, 2)
    with pytest.raises(Error):
        q.ImageViewFactory_flip_dimension(v, D["SLICE"])
    with pytest.raises(Error):
        q.ImageViewFactory_make_thread_safe(None)


def test_regions_read_and_write_through_to_the_source():
    a = sample(np.int16, 6, 8)
    v = view(a, "ROW", "COLUMN")
    e = q.ImageViewFactory_extract_region(v, region([2, 1], [4, 3]))
    assert np.array_equal(read(e, np.int16), a[1:4, 2:6])
    assert caps(e) == q.ImageCapability_READ_WRITE
    write(e, np.full((3, 4), -5, np.int16))
    assert (a[1:4, 2:6] == -5).all() and a.sum() != -5 * a.size
    # a flip over the region reads what numpy reads
    assert np.array_equal(read(q.ImageViewFactory_flip_dimension_index(e, 1), np.int16), np.flip(a[1:4, 2:6], 0))

    vol = sample(np.float32, 4, 5, 6)
    w = view(vol, "SLICE", "ROW", "COLUMN")
    adj = q.ImageViewFactory_extract_adjusted_region(w, region([1, 2, 3], [4, 1, 1]))
    assert shape(adj) == [4]
    assert np.array_equal(read(adj, np.float32), vol[3, 2, 1:5])
    plane = q.ImageViewFactory_extract_adjusted_region(w, region([0, 0, 2], [6, 5, 1]))
    assert np.array_equal(read(plane, np.float32), vol[2])

    for bad in (region([0, 0], [0, 3]), region([5, 0], [4, 1]), region([0], [1])):
        with pytest.raises(Error):
            q.ImageViewFactory_extract_region(v, bad)
    with pytest.raises(TypeError, match=exact("in method 'ImageViewFactory_extract_region', argument 2 of type "
                                              "'quelbo::RegionXu64 const &'")):
        q.ImageViewFactory_extract_region(v, [[0, 0], [1, 1]])
    with pytest.raises(ValueError, match=exact("invalid null reference in method 'ImageViewFactory_extract_region', "
                                               "argument 2 of type 'quelbo::RegionXu64 const &'")):
        q.ImageViewFactory_extract_region(v, None)


def test_axes_and_image_types():
    a = sample(np.uint32, 3, 5)
    v = view(a, "ROW", "COLUMN")  # shape (5, 3): COLUMN, ROW
    # the view's first dimension named ROW, the second COLUMN: a transpose
    t = q.ImageViewFactory_reinterpret_axes(v, (D["ROW"], D["COLUMN"]))
    assert shape(t) == [3, 5]
    assert np.array_equal(read(t, np.uint32), a.T)
    write(t, np.zeros((5, 3), np.uint32))
    assert not a.any()
    with pytest.raises(TypeError, match=exact("list must contain ImageDimension")):
        q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], "x"])
    with pytest.raises(Error):
        q.ImageViewFactory_reinterpret_axes(v, [D["ROW"]])
    with pytest.raises(Error):
        q.ImageViewFactory_reinterpret_axes(v, [D["ROW"], D["ROW"]])

    image_type = cls("ImageType")
    volume = image_type()
    for d in ("COLUMN", "ROW", "SLICE"):
        q.ImageType_add(volume, D[d])
    with pytest.raises(Error):
        q.ImageViewFactory_reinterpret(v, volume)
    unknown = q.ImageViewFactory_reinterpret(v, image_type())
    assert q.ImageType_dimension_count(q.ImageView_get_axes_interpretation(unknown)) == 0
    assert np.array_equal(read(unknown, np.uint32), a)


def test_channels_assemble_split_and_join_like_numpy():
    rgb = sample(np.uint8, 4, 6, 3)
    planar = view(rgb, "ROW", "COLUMN", "CHANNEL")
    packed = q.ImageViewFactory_assemble_channels(planar)
    assert shape(packed) == [6, 4]
    assert q.DataType_get_element_count(q.ImageView_get_data_type(packed)) == 3
    assert np.array_equal(read(packed, np.uint8, 3), rgb)
    for c in range(3):
        assert np.array_equal(read(q.ImageViewFactory_extract_channel(packed, c), np.uint8), rgb[:, :, c])
    with pytest.raises(Error):
        q.ImageViewFactory_extract_channel(packed, 3)
    split = q.ImageViewFactory_disassemble_channels(packed)
    assert shape(split) == [6, 4, 3]
    assert np.array_equal(read(split, np.uint8), np.moveaxis(rgb, 2, 0))
    with pytest.raises(Error):
        q.ImageViewFactory_disassemble_channels(planar)

    frames = q.MultiImageViewFactory_deinterlace(packed)
    assert q.MultiImageView_get_frame_count(frames) == 3
    for c in range(3):
        assert np.array_equal(read(q.MultiImageView_frame(frames, c), np.uint8), rgb[:, :, c])
    joined = q.ImageViewFactory_interlace(frames, q.ImageInterpretation_RGB, False)
    assert np.array_equal(read(joined, np.uint8, 3), rgb)
    with pytest.raises(Error, match=exact("ImageViewFactory: interlace: the interpretation 33 with alpha takes 4 "
                                          "components, not the 3 frames")):
        q.ImageViewFactory_interlace(frames, q.ImageInterpretation_RGB, True)
    four = q.MultiImageViewFactory_create_from_list([q.MultiImageView_frame(frames, c) for c in (0, 1, 2, 0)])
    assert q.ImageView_get_has_alpha(q.ImageViewFactory_interlace(four, q.ImageInterpretation_RGB, True)) is True
    assert np.array_equal(read(q.ImageViewFactory_interlace(frames), np.uint8, 3), rgb)


@pytest.mark.parametrize("dtype", [np.uint8, np.int16, np.float32, np.float64])
@pytest.mark.parametrize("count", [2, 3, 5])
def test_interlace_equals_numpy_stack_on_the_last_axis_across_tiles(dtype, count):
    # 300 x 400 samples of up to 5 x 8 bytes: several tiles, cut inside a row;
    # frames held in memory as read, in memory strided, and without memory
    planes = [sample(dtype, 300, 400) + i for i in range(count)]
    kinds = [lambda a: view(a, "ROW", "COLUMN"), lambda a: view(np.asfortranarray(a), "ROW", "COLUMN"),
             lambda a: q.ImageViewFactory_flip_dimension_index(view(a[:, ::-1].copy(), "ROW", "COLUMN"), 0)]
    multi = q.MultiImageViewFactory_create_from_list([kinds[i % 3](p) for i, p in enumerate(planes)])
    joined = q.ImageViewFactory_interlace(multi)
    assert np.array_equal(read(joined, dtype, count), np.stack(planes, axis=-1))
    out = bytearray(390 * 290 * count * np.dtype(dtype).itemsize)
    q.ImageView___read_region(joined, region([7, 3], [390, 290]), out)
    assert np.array_equal(np.frombuffer(out, dtype).reshape(290, 390, count), np.stack(planes, axis=-1)[3:293, 7:397])
    if count == 2:  # written back into frames held in memory (a flipped one reads only)
        values = sample(dtype, 300, 400, count)[::-1].copy()
        write(joined, values)
        assert np.array_equal(planes[0], values[:, :, 0])
        assert np.array_equal(read(joined, dtype, count), values)


@pytest.mark.skipif(under_sanitizer(), reason="the sanitizer's allocator keeps its own reserves")
def test_interlacing_a_large_region_keeps_a_tile_beyond_the_output():
    child = run_child("""
        import numpy as np
        from proxy import q
        from views_util import from_numpy, region
        frames = [np.full((2048, 2048), i, np.float32) for i in range(3)]
        held = [from_numpy(f, "ROW", "COLUMN") for f in frames]
        apart = [q.ImageViewFactory_flip_dimension_index(v, 0) for v in held]  # without memory
        out = np.ones((2048, 2048, 3), np.float32)

        def kib(field):
            with open("/proc/self/status") as f:
                return next(int(line.split()[1]) for line in f if line.startswith(field))

        for views in (held, apart):
            v = q.ImageViewFactory_interlace(q.MultiImageViewFactory_create_from_list(views))
            q.ImageView___read_region(v, region([0, 0], [4, 4]), out)
            with open("/proc/self/clear_refs", "w") as f:
                f.write("5")
            before = kib("VmHWM:")
            q.ImageView___read_region(v, region([0, 0], [2048, 2048]), out)
            print(kib("VmHWM:") - before)
            assert (out == np.arange(3, dtype=np.float32)).all()
    """)
    assert child.returncode == 0, child.stderr
    assert all(int(grown) < 4096 for grown in child.stdout.split()), child.stdout  # KiB


@pytest.mark.parametrize("threads", [1, 0, 64])
def test_stack_equals_numpy_stack(threads):
    frames = [sample(np.float64, 4, 5) + i for i in range(6)]
    multi = q.MultiImageViewFactory_create_from_list([view(f, "ROW", "COLUMN") for f in frames])
    last = q.ImageViewFactory_stack(multi)
    assert shape(last) == [5, 4, 6]
    assert np.array_equal(read(last, np.float64), np.stack(frames))
    slices = q.ImageViewFactory_stack(multi, D["SLICE"], threads)
    assert np.array_equal(read(slices, np.float64), np.stack(frames))
    # a partial region crosses frames
    out = bytearray(2 * 3 * 4 * 8)
    q.ImageView___read_region(slices, region([1, 1, 2], [2, 3, 4]), out)
    assert np.array_equal(np.frombuffer(out).reshape(4, 3, 2), np.stack(frames)[2:6, 1:4, 1:3])
    write(slices, np.zeros((6, 4, 5)))
    assert not any(f.any() for f in frames)


def test_stack_between_axes_and_refusals():
    planes = [sample(np.int16, 3, 4, 2) for _ in range(3)]
    multi = q.MultiImageViewFactory_create_from_list([view(p, "ROW", "COLUMN", "CHANNEL") for p in planes])
    s = q.ImageViewFactory_stack(multi, D["SLICE"], 2)
    assert shape(s) == [4, 3, 3, 2]
    assert np.array_equal(read(s, np.int16), np.stack([np.moveaxis(p, 2, 0) for p in planes], axis=1))
    q.MultiImageView_add_frame(multi, view(sample(np.int16, 2, 2), "ROW", "COLUMN"))
    for derive in (q.ImageViewFactory_stack, q.ImageViewFactory_interlace):
        with pytest.raises(Error):
            derive(multi)
    with pytest.raises(Error):
        q.ImageViewFactory_stack(q.MultiImageViewFactory_create())
    with pytest.raises(TypeError, match="at most 3 arguments, got 4\nAdditional information:\nWrong number or type "
                                        "of arguments for overloaded function 'ImageViewFactory_stack'"):
        q.ImageViewFactory_stack(multi, 0, 0, 0)
    message = ("Wrong number or type of arguments for overloaded function 'ImageViewFactory_interlace'.\n"
               "  Possible C/C++ prototypes are:\n"
               "    quelbo::ImageViewFactory::interlace(std::shared_ptr< quelbo::MultiImageView >,"
               "quelbo::ImageInterpretation,bool)\n"
               "    quelbo::ImageViewFactory::interlace(std::shared_ptr< quelbo::MultiImageView >)\n")
    for args in ((multi, 0), (multi, 0, 0)):
        with pytest.raises(TypeError, match=exact(message)):
            q.ImageViewFactory_interlace(*args)


def test_value_mappings_saturate():
    a = np.array([[0, 250, 500], [750, 1000, 4000]], np.uint16)
    v = view(a, "ROW", "COLUMN")
    r = q.ImageViewFactory_adapt_dynamic_range(v, q.DataTypeId_UINT8, [0, 1000], [0, 255])
    assert np.array_equal(read(r, np.uint8), np.clip(np.round(a * 0.255), 0, 255).astype(np.uint8))
    assert caps(r) == q.ImageCapability_READ_WRITE
    write(r, np.full((2, 3), 51, np.uint8))
    assert (a == 200).all()

    f = np.array([[np.nan, -1e30, 0.5], [1e30, np.inf, -np.inf]])
    s = q.ImageViewFactory_adapt_dynamic_range(view(f, "ROW", "COLUMN"), q.DataTypeId_INT8, [0, 1], [0, 100])
    assert np.array_equal(read(s, np.int8), [[0, -128, 50], [127, 127, -128]])

    b = np.array([[0, 51, 255]], np.uint8)
    unit = q.ImageViewFactory_adapt_data_type(view(b, "ROW", "COLUMN"), q.DataTypeId_DOUBLE)
    assert np.allclose(read(unit, np.float64), b / 255)
    with pytest.raises(Error):
        q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_VEC3_UINT8)
    with pytest.raises(ValueError, match=exact("input sequence has invalid length")):
        q.ImageViewFactory_adapt_dynamic_range(v, q.DataTypeId_UINT8, [0, 1, 2], [0, 1])


def test_thread_safe_and_described_views_share_the_samples():
    a = sample(np.float32, 3, 4)
    v = view(a, "ROW", "COLUMN")
    t = q.ImageViewFactory_make_thread_safe(v)
    assert caps(t) == caps(v)
    assert np.array_equal(read(t, np.float32), a)
    par = q.ImageView_parallel_access(t)
    assert q.ParallelAccessExtension_support(par, q.ParallelAccessCapability_THREAD_SAFE)

    same = q.ImageViewFactory_from_image_view(v, None, None)
    assert caps(same) == caps(v)
    assert np.array_equal(read(same, np.float32), a)
    props = q.ImageProperties_from_data_type(q.DataTypeId_FLOAT)
    described = q.ImageViewFactory_from_image_view(v, props, None)
    assert np.array_equal(read(described, np.float32), a)
    other = q.ImageProperties_from_data_type(q.DataTypeId_DOUBLE)  # 64 bits deep: does not fit
    with pytest.raises(Error):
        q.ImageViewFactory_from_image_view(v, other, None)


def test_derived_views_keep_their_source_and_name_it_as_parent():
    a = sample(np.uint8, 4, 4)
    source = view(a, "ROW", "COLUMN")
    uid = q.ViewOriginExtension_uid(q.View_view_origin(source))
    d = q.ImageViewFactory_sub_sample(q.ImageViewFactory_flip_dimension_index(source, 0), 2)
    expected = np.flip(a, axis=1)[::2, ::2].copy()
    del source, a
    gc.collect()
    assert np.array_equal(read(d, np.uint8), expected)
    origin = q.View_view_origin(d)
    walk = []
    while q.ViewOriginExtension_parent_count(origin):
        origin = q.ViewOriginExtension_parent(origin, 0)
        walk.append(q.ViewOriginExtension_uid(origin))
    assert len(walk) == 2 and walk[-1] == uid
    with pytest.raises(Error):
        q.ViewOriginExtension_parent(origin, 0)


def test_threaded_stack_outlives_every_other_owner_of_its_frames():
    arrays = [np.full((64, 64), i, np.uint16) for i in range(16)]
    multi = q.MultiImageViewFactory_create_from_list([view(a, "ROW", "COLUMN") for a in arrays])
    stacked = q.ImageViewFactory_stack(multi, D["SLICE"], 0)
    del multi, arrays
    gc.collect()
    for _ in range(20):
        got = read(stacked, np.uint16)
        assert all((got[i] == i).all() for i in range(16))
    del stacked  # the frames and their numpy arrays go with it, on this thread
    gc.collect()


def test_stack_threads_only_over_frames_that_allow_it():
    # frames over one store allow no concurrent access: read one by one, still right
    store = q.RandomAccessFactory_allocate(8 * 6 * 4)
    q.RandomAccess_write(store, 0, np.arange(8 * 6 * 4, dtype=np.uint8).tobytes())
    whole = q.ImageViewFactory_from_random_access(store, [8, 6, 4], q.DataTypeId_UINT8)
    slices = q.MultiImageViewFactory_unstack_dimension_index(whole, 2)
    stacked = q.ImageViewFactory_stack(slices, D["SLICE"], 0)
    assert np.array_equal(read(stacked, np.uint8), np.arange(8 * 6 * 4, dtype=np.uint8).reshape(4, 6, 8))
    locked = q.MultiImageViewFactory_create_from_list(
        [q.ImageViewFactory_make_thread_safe(q.MultiImageView_frame(slices, i)) for i in range(4)])
    assert np.array_equal(read(q.ImageViewFactory_stack(locked, D["SLICE"], 3), np.uint8), read(stacked, np.uint8))


def expected_views(a):
    """Derived views of a (rows, columns, channels) array and the numpy arrays
    they equal, as read (channels, rows, columns)."""
    planar = view(a, "ROW", "COLUMN", "CHANNEL")
    full = np.moveaxis(a, 2, 0)
    return [
        (planar, full),
        (q.ImageViewFactory_flip_dimension(planar, D["COLUMN"]), np.flip(full, 2)),
        (q.ImageViewFactory_flip_dimension(planar, D["CHANNEL"]), np.flip(full, 0)),
        (q.ImageViewFactory_sub_sample(planar, 2), full[:, ::2, ::2]),
        (q.ImageViewFactory_extract_region(planar, region([1, 2, 0], [5, 3, 2])), full[0:2, 2:5, 1:6]),
        (q.ImageViewFactory_sub_sample(q.ImageViewFactory_flip_dimension_index(planar, 1), 3),
         np.flip(full, 1)[:, ::3, ::3]),
    ]


@pytest.mark.parametrize("dtype", [np.uint8, np.int32, np.float64])
@pytest.mark.parametrize("disk", [False, True])
def test_random_regions_of_derived_views_equal_numpy(dtype, disk):
    rng = np.random.default_rng(3)
    a = (rng.random((6, 9, 3)) * 100).astype(dtype)
    cases = expected_views(a)
    if disk:  # the same derivations over a source without memory access
        stored = q.ImageViewFactory_copy_on_disk(cases[0][0])
        cases = [(q.ImageViewFactory_flip_dimension_index(stored, 0), np.flip(cases[0][1], 2)),
                 (q.ImageViewFactory_sub_sample(stored, 2), cases[3][1]),
                 (q.ImageViewFactory_extract_region(stored, region([1, 2, 0], [5, 3, 2])), cases[4][1])]
    for v, expected in cases:
        size = shape(v)
        for _ in range(10):
            lo = [int(rng.integers(0, s)) for s in size]
            extent = [int(rng.integers(1, s - o + 1)) for s, o in zip(size, lo)]
            out = bytearray(int(np.prod(extent)) * np.dtype(dtype).itemsize)
            q.ImageView___read_region(v, region(lo, extent), out)
            box = tuple(slice(o, o + e) for o, e in zip(reversed(lo), reversed(extent)))
            assert np.array_equal(np.frombuffer(out, dtype).reshape(tuple(reversed(extent))), expected[box])


def test_writes_through_derived_views_of_a_disk_view():
    rgb = np.zeros((4, 5, 3), np.uint8)
    packed = q.ImageViewFactory_copy_on_disk(q.ImageViewFactory_assemble_channels(view(rgb, "ROW", "COLUMN", "CHANNEL")))
    green = q.ImageViewFactory_extract_channel(packed, 1)
    write(green, np.full((4, 5), 9, np.uint8))
    q.ImageView___write_region(q.ImageViewFactory_extract_region(green, region([1, 1], [2, 2])),
                               region([0, 0], [2, 2]), bytes([7]) * 4)
    expected = np.zeros((4, 5, 3), np.uint8)
    expected[:, :, 1] = 9
    expected[1:3, 1:3, 1] = 7
    assert np.array_equal(read(packed, np.uint8, 3), expected)
