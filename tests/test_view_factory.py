"""ImageViewFactory: views allocated in memory, uniform views, views over
caller memory and copies in memory."""
import array
import gc

import numpy as np
import pytest

from proxy import QuelboError, cls, q
from views_util import exact, image_type, read_region, region, vec

ALLOCATE = ("quelbo::ImageViewFactory::allocate(quelbo::VectorXu64 const &,quelbo::DataType,std::shared_ptr< "
            "quelbo::ImageProperties >,std::shared_ptr< quelbo::MetadataNode >)",
            "quelbo::ImageViewFactory::allocate(quelbo::VectorXu64 const &,quelbo::DataType)")


def overload(fn, *prototypes):
    return exact("Wrong number or type of arguments for overloaded function '%s'.\n  Possible C/C++ prototypes "
                 "are:\n%s" % (fn, "".join("    %s\n" % p for p in prototypes)))


def test_allocate_forms_and_defaults():
    a = q.ImageViewFactory_allocate([2, 3], q.DataTypeId_UINT8)
    b = q.ImageViewFactory_allocate([2, 3], cls("DataType")(q.DataTypeId_UINT8), None, None)
    for v in (a, b):
        assert vec(v.get_shape()) == [2, 3] and q.ImageCapabilitySet_value(v.get_capabilities()) == 15
        assert q.ImageType___eq__(v.get_axes_interpretation(), q.cvar.ImageTypeId_IMAGE)
        assert (q.NumpyInterop_to_numpy_array(v) == 0).all()
    vol = q.ImageViewFactory_allocate([2, 3, 4], q.DataTypeId_FLOAT)
    assert q.ImageType___eq__(vol.get_axes_interpretation(), q.cvar.ImageTypeId_VOLUME)
    one = q.ImageViewFactory_allocate([7], q.DataTypeId_FLOAT)
    assert q.ImageType___eq__(one.get_axes_interpretation(), cls("ImageType")())
    for args in (([2, 3],), ([2, 3], 65800, None), ([2, 3], None), ("x", 65800, None, 3)):
        with pytest.raises(TypeError, match=overload("ImageViewFactory_allocate", *ALLOCATE)):
            q.ImageViewFactory_allocate(*args)
    with pytest.raises(TypeError, match="ImageViewFactory_allocate expected at most 4 arguments, got 5\n"
                                        "Additional information:\nWrong number"):
        q.ImageViewFactory_allocate([1], 65800, None, None, None)
    with pytest.raises(TypeError, match=exact("invalid item in sequence - expected long value")):
        q.ImageViewFactory_allocate(["x"], 65800)


def test_allocate_refusals():
    for dtype in (0, q.DataTypeId_UINT8 & ~0xff, 2**40):
        with pytest.raises(QuelboError):
            q.ImageViewFactory_allocate([2, 2], dtype)
    with pytest.raises(QuelboError):
        q.ImageViewFactory_allocate([2**40, 2**40], q.DataTypeId_DOUBLE)  # past 64 bits
    with pytest.raises(MemoryError):
        q.ImageViewFactory_allocate([2**31, 2**31], q.DataTypeId_UINT8)
    rgb = q.ImageView___get_properties(q.NumpyInterop__from_numpy_array(
        np.zeros((2, 2, 3), np.uint8), image_type("COLUMN", "ROW", "CHANNEL"), q.ImageInterpretation_RGB, False))
    with pytest.raises(QuelboError, match="not compatible"):
        q.ImageViewFactory_allocate([4, 4], q.DataTypeId_UINT8, rgb, None)
    v = q.ImageViewFactory_allocate([5, 4, 3], q.DataTypeId_UINT8, rgb, None)
    assert q.ImageView__get_image_interpretation(v) == q.ImageInterpretation_RGB
    ro = cls("ReadonlyImageProperties")(rgb)
    assert q.ImageViewFactory_allocate([5, 4, 3], q.DataTypeId_UINT8, ro, None) is not None
    with pytest.raises(TypeError, match=overload("ImageViewFactory_allocate", *ALLOCATE)):
        q.ImageViewFactory_allocate([5, 4, 3], q.DataTypeId_UINT8, v, None)


UNHELD = (0x00090108, (7 << 32) | 0x00010108, 0x00010008, 0x00010100)  # primitive 9, interpretation 7, no element, no bit


def test_types_the_library_cannot_hold_are_refused_by_every_factory():
    held = q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8)
    frame = q.DataFrameViewFactory__allocate([1, 2], ["a"], [q.DataTypeId_UINT8])
    makers = (lambda t: q.ImageViewFactory_allocate([2, 2], t),
              lambda t: q.ImageViewFactory_allocate([2, 2], t, None, None),
              lambda t: q.ImageViewFactory__uniform([2, 2], t, bytes(8), None, None),
              lambda t: q.ImageViewFactory___from_buffer([2, 2], t, bytearray(64), None, None),
              lambda t: q.ImageView_reshape(held, [2, 2], t),
              lambda t: q.DataFrameViewFactory__allocate([1, 2], ["a"], [t]),
              lambda t: q.DataFrameView_add_column(frame, "b", t),
              lambda t: q.ImageViewFactory_create_on_disk([2, 2], t),
              lambda t: q.ImageViewFactory_from_random_access(q.RandomAccessFactory_allocate(64), [2, 2], t))
    for t in UNHELD:
        for make in makers:
            with pytest.raises(QuelboError, match="^the data type .* is not a known type$"):
                make(t)
    # the refused reshape and column leave what was there
    assert q.DataType_to_string(q.ImageView_get_data_type(held)) == "UINT8"
    assert "b" not in q.DataFrameView_to_string(frame)


def test_uniform():
    u = q.ImageViewFactory__uniform([3, 2], q.DataTypeId_INT16, np.int16(-3).tobytes() + b"zz", None, None)
    assert q.ImageCapabilitySet_value(u.get_capabilities()) == 1
    assert (read_region(u, [0, 0], [3, 2], np.int16) == -3).all()
    out = bytearray(2)
    q.ImageView___read(u, [2, 1], out)
    assert out == np.int16(-3).tobytes()
    with pytest.raises(QuelboError):
        q.ImageView___read(u, [3, 0], out)
    with pytest.raises(QuelboError):
        q.ImageView___write(u, [0, 0], out)
    with pytest.raises(QuelboError):
        q.ImageViewFactory__uniform([3, 2], q.DataTypeId_INT16, b"z", None, None)
    with pytest.raises(TypeError, match=exact("in method 'ImageViewFactory__uniform', argument 3 of type "
                                              "'(const uint8_t* src, size_t size)'")):
        q.ImageViewFactory__uniform([3, 2], q.DataTypeId_INT16, "zz", None, None)
    with pytest.raises(TypeError, match=exact("in method 'ImageViewFactory__uniform', argument 6 of type "
                                              "'std::shared_ptr< quelbo::MetadataNode const >'")):
        q.ImageViewFactory__uniform([3, 2], q.DataTypeId_INT16, b"zz", None, 5)


def test_from_buffer_shares_and_keeps_the_buffer():
    buf = bytearray(range(12))
    v = q.ImageViewFactory___from_buffer([4, 3], q.DataTypeId_UINT8, buf, None, None)
    assert q.ImageCapabilitySet_value(v.get_capabilities()) == 11
    q.ImageView___write(v, [1, 2], b"\xff")
    assert buf[9] == 255
    buf[0] = 42
    assert read_region(v, [0, 0], [2, 1], np.uint8).tolist() == [[42, 1]]
    with pytest.raises(BufferError):
        buf.append(0)
    del v
    gc.collect()
    buf.append(0)
    with pytest.raises(TypeError, match=exact("in method 'ImageViewFactory___from_buffer', argument 3 of type "
                                              "'(uint8_t* buffer, size_t bufferSize)'")):
        q.ImageViewFactory___from_buffer([4, 3], q.DataTypeId_UINT8, bytes(12), None, None)
    with pytest.raises(QuelboError, match="cannot hold"):
        q.ImageViewFactory___from_buffer([4, 4], q.DataTypeId_UINT8, bytearray(15), None, None)
    arr = np.zeros(6, dtype=np.float32)
    w = q.ImageViewFactory___from_buffer([3, 2], q.DataTypeId_FLOAT, arr, None, None)
    q.ImageView___write(w, [2, 1], np.float32(1.5).tobytes())
    assert arr[5] == 1.5


def test_from_buffer_takes_only_raw_writable_contiguous_memory():
    text = exact("in method 'ImageViewFactory___from_buffer', argument 3 of type '(uint8_t* buffer, size_t bufferSize)'")
    base = np.zeros((4, 6), np.uint8)
    read_only = base.copy()
    read_only.flags.writeable = False
    for refused in (base[:, ::2], read_only, memoryview(bytes(12)), np.zeros(3, dtype=object), "x" * 12, 12):
        with pytest.raises(TypeError, match=text):
            q.ImageViewFactory___from_buffer([3, 4], q.DataTypeId_UINT8, refused, None, None)
    for accepted in (base[1:3], memoryview(bytearray(12)), array.array("B", bytes(12))):  # 12 bytes each
        v = q.ImageViewFactory___from_buffer([3, 4], q.DataTypeId_UINT8, accepted, None, None)
        q.ImageView___write(v, [0, 1], b"\x07")
        assert bytes(memoryview(accepted).cast("B"))[3] == 7


def test_from_buffer_takes_what_a_memoryview_would_lend_for_writing():
    # A buffer is lent when a memoryview of it is writable, one C-contiguous
    # block and not of object references; its first byte is then the view's.
    grid = np.arange(24, dtype=np.uint8).reshape(4, 6)
    row = np.zeros((1, 6), np.uint8)
    cases = (grid, grid.T, np.asfortranarray(grid), grid[:1], grid[:, :1], grid[::-1], grid[1:3, :], row[:, ::-1],
             np.zeros((2, 0), np.uint8), np.zeros((0, 3), np.uint8)[:, ::2], np.zeros(1, np.uint8)[::-1],
             np.zeros((2, 3, 2), np.uint8)[:, :, :1], np.zeros((1, 1, 2), np.uint8), np.array(7, np.uint8),
             memoryview(bytearray(8))[::2], memoryview(bytearray(6)).cast("B", (2, 3)),
             np.zeros(2, dtype=[("O", np.uint8), ("b", np.uint8)]), np.zeros(2, dtype=[("a", object)]),
             np.zeros(3, ">u2"), np.zeros(2, np.complex64), np.zeros(3, np.float16), np.zeros(3, bool),
             np.zeros(3, "M8[s]"), np.zeros(2, "S3"), np.zeros((3, 2), ">f4")[:, ::-1])
    for case in cases:
        try:
            m = memoryview(case)
        except ValueError:  # numpy lends no buffer of dates
            m = memoryview(b"")
        lent = m.c_contiguous and not m.readonly and "O" not in m.format
        n = m.nbytes
        try:
            v = q.ImageViewFactory___from_buffer([n], q.DataTypeId_UINT8, case, None, None)
        except TypeError:
            assert not lent, case
            continue
        assert lent, case
        if n:
            q.ImageView___write(v, [0], b"\xee")
            assert m.tobytes()[0] == 0xee, case


def test_from_buffer_over_a_memoryview_leaves_it_free_to_release():
    buf = bytearray(12)
    with memoryview(buf) as m:
        v = q.ImageViewFactory___from_buffer([12], q.DataTypeId_UINT8, m, None, None)
    q.ImageView___write(v, [3], b"\x09")
    assert buf[3] == 9
    with pytest.raises(BufferError):
        buf.append(0)
    del v
    gc.collect()
    buf.append(0)


def test_default_properties_are_the_same_whenever_first_asked_for():
    # The defaults of a view are made when first asked for: a reshape keeps
    # the old defaults while they still fit (an 8-bit depth fits 16 bits),
    # asked for before the reshape or not; defaults that no longer fit give
    # way to those of the new shape and type.
    def described(v):
        return (q.ImageView_get_bit_depth(v), q.ImageView__get_image_interpretation(v),
                q.ImageType_to_string(q.ImageView_get_axes_interpretation(v)))

    for asked_before in (False, True):
        v = q.ImageViewFactory_allocate([4, 3], q.DataTypeId_UINT8)
        if asked_before:
            assert described(v) == (8, q.ImageInterpretation_GRAYSCALE, "ImageType(COLUMN, ROW)")
        q.ImageView_reshape(v, [2, 2], q.DataTypeId_UINT16)
        assert described(v) == (8, q.ImageInterpretation_GRAYSCALE, "ImageType(COLUMN, ROW)")
        q.ImageView_reshape(v, [2, 2, 2], q.DataTypeId_UINT8)
        assert described(v) == (8, q.ImageInterpretation_GRAYSCALE, "ImageType(COLUMN, ROW, SLICE)")
    buf = bytearray(24)
    for shape, axes in (([24], "ImageType()"), ([6, 4], "ImageType(COLUMN, ROW)"),
                        ([2, 3, 4], "ImageType(COLUMN, ROW, SLICE)")):
        v = q.ImageViewFactory___from_buffer(shape, q.DataTypeId_UINT8, buf, None, None)
        assert described(v) == (8, q.ImageInterpretation_GRAYSCALE, axes)
        p = q.ImageView___get_properties(v)
        q.SpatialCalibrationProperty_set_unit(q.ImageProperties_get_calibration(p), "mm")
        assert q.ImageView_get_spatial_unit(v) == "mm"  # one object, however often asked for
    mine = q.ImageProperties_from_data_type(q.DataTypeId_UINT8)
    given = q.ImageViewFactory___from_buffer([2, 4, 3], q.DataTypeId_UINT8, buf, mine, None)
    q.ImageInfoProperty_set_bit_depth(q.ImageProperties_get_image_info(mine), 5)
    assert described(given) == (5, q.ImageInterpretation_GRAYSCALE, "ImageType()")  # the caller's object


def test_copy_in_memory():
    a = np.arange(6, dtype=np.uint8).reshape(2, 3)
    v = q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW"), 0, False)
    same = q.ImageViewFactory_copy_in_memory(v)          # already in memory
    q.ImageView___write(same, [0, 0], b"\x09")
    assert a[0, 0] == 9
    u = q.ImageViewFactory__uniform([3, 2], q.DataTypeId_UINT8, b"\x05", None, None)
    c = q.ImageViewFactory_copy_in_memory(u)
    assert q.ImageCapabilitySet_value(c.get_capabilities()) == 15
    assert (q.NumpyInterop_to_numpy_array(c) == 5).all()
    with pytest.raises(QuelboError):
        q.ImageViewFactory_copy_in_memory(None)
    with pytest.raises(TypeError, match=exact("in method 'ImageViewFactory_copy_in_memory', argument 1 of type "
                                              "'std::shared_ptr< quelbo::ImageView >'")):
        q.ImageViewFactory_copy_in_memory(3)
    assert q.delete_ImageViewFactory(None) is None


@pytest.mark.parametrize("code,np_t,components", [(q.DataTypeId_VEC3_UINT16, np.uint16, 3),
                                                  (q.DataTypeId_VEC2_DOUBLE, np.float64, 2),
                                                  (q.DataTypeId_INT64, np.int64, 1)])
def test_memory_views_agree_with_their_arrays(code, np_t, components):
    rng = np.random.default_rng(components)
    v = q.ImageViewFactory_allocate([7, 5, 4], code)
    arr = q.NumpyInterop_to_numpy_array(v)           # (z, y, x[, c]) over the view's memory
    shape = (4, 5, 7) + ((components,) if components > 1 else ())
    assert arr.shape == shape and arr.dtype == np.dtype(np_t)
    arr[...] = (rng.random(shape) * 1000).astype(np_t)
    for _ in range(10):
        lo = [int(rng.integers(0, n)) for n in (7, 5, 4)]
        size = [int(rng.integers(1, n - o + 1)) for o, n in zip(lo, (7, 5, 4))]
        want = arr[lo[2]:lo[2] + size[2], lo[1]:lo[1] + size[1], lo[0]:lo[0] + size[0]]
        out = bytearray(want.nbytes)
        q.ImageView___read_region(v, region(lo, size), out)
        assert (np.frombuffer(out, dtype=np_t).reshape(want.shape) == want).all()
        fresh = (rng.random(want.shape) * 1000).astype(np_t)
        q.ImageView___write_region(v, region(lo, size), fresh)
        assert (want == fresh).all()
