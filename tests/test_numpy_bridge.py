"""The numpy bridge: arrays as image views and image views as arrays, both
without copy, for every layout numpy makes, with their lifetimes tied."""
import gc
import weakref

import numpy as np
import pytest

from proxy import QuelboError, cls, q
from views_util import D, TYPES, exact, from_numpy, image_type, read_region, region, vec

RGB = q.ImageInterpretation_RGB


def layouts(dtype, rng):
    """(name, array) of one type: C, Fortran, sliced, transposed and flipped, axes (z, y, x)."""
    base = (rng.random((6, 7, 9)) * 100).astype(dtype)
    return [("C", base.copy()),
            ("F", np.asfortranarray(base)),
            ("sliced", np.ascontiguousarray(rng.random((9, 11, 13)) * 100).astype(dtype)[1:7, ::2, 2:11]),
            ("F-sliced", np.asfortranarray((rng.random((8, 9, 10)) * 100).astype(dtype))[1:7, 1:8, ::1][:, :, 1:10]),
            ("transposed", np.ascontiguousarray(base.transpose(2, 1, 0)).transpose(2, 1, 0)),
            ("flipped", np.flip(base.copy(), (0, 2))),
            ("reversed", base.copy()[::-1, ::-2, ::-1]),
            ("unaligned", np.frombuffer(bytearray(b"\0" + base.tobytes()), dtype, offset=1).reshape(base.shape))]


# ------------------------------------------------------ worked examples

def test_rgb_array_round_trip():
    a = np.arange(480 * 640 * 3, dtype=np.uint64).astype(np.uint8).reshape(480, 640, 3)
    v = q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW", "CHANNEL"), RGB, False)
    same = from_numpy(a, "ROW", "COLUMN", "CHANNEL", interpretation=RGB)
    for view in (v, same):
        assert vec(view.get_shape()) == [640, 480, 3]
        assert q.ImageCapabilitySet_value(view.get_capabilities()) == 11
    out = bytearray(1)
    for x, y, c in ((0, 0, 0), (5, 7, 2), (639, 479, 1)):
        q.ImageView___read(v, [x, y, c], out)
        assert out[0] == a[y, x, c]
    back = q.NumpyInterop_to_numpy_array(v)
    assert back.shape == (480, 640, 3) and back.strides == (1920, 3, 1) and np.shares_memory(back, a)
    assert type(back.base).__name__ == "PyCapsule" and '"ContainerView"' in repr(back.base)


def test_properties_describe_the_array_when_first_asked_for():
    axes = image_type("COLUMN", "ROW", "CHANNEL")
    v = q.NumpyInterop__from_numpy_array(np.zeros((4, 5, 4), np.uint16), axes, RGB, True)
    assert (q.ImageView__get_image_interpretation(v), q.ImageView_get_has_alpha(v), q.ImageView_get_bit_depth(v),
            vec(q.ImageView_get_value_range(v))) == (RGB, True, 16, [0, 65535])
    made = q.ImageProperties_from_data_type(q.DataTypeId_UINT16)
    info = q.ImageProperties_get_image_info(made)
    q.ImageInfoProperty_set_axes_interpretation(info, axes)
    q.ImageInfoProperty_set_interpretation(info, RGB)
    q.ImageInfoProperty_set_alpha(info, True)
    assert q.ImageProperties___eq__(q.ImageView___get_properties(v), made)
    with pytest.raises(QuelboError, match=exact("Given information are not compatible with Numpy")):
        q.NumpyInterop__from_numpy_array(np.zeros((4, 5, 3), np.uint16), axes, RGB, True)


def test_view_to_array_shapes():
    v = q.ImageViewFactory_allocate([12, 4, 6], q.DataTypeId_UINT8)   # axes VOLUME
    arr = q.NumpyInterop_to_numpy_array(v)
    assert arr.shape == (6, 4, 12)
    arr[0, 0, 1] = 7
    out = bytearray(1)
    q.ImageView___read(v, [1, 0, 0], out)
    assert out[0] == 7
    vv = q.ImageViewFactory_allocate([12, 4, 6], q.DataTypeId_VEC3_UINT16)
    arr = q.NumpyInterop_to_numpy_array(vv)
    assert arr.shape == (6, 4, 12, 3) and arr.strides[-1] == 2 and arr.dtype == np.uint16
    q.ImageView_set_axes_interpretation(vv, cls("ImageType")())           # UNKNOWN
    assert q.NumpyInterop_to_numpy_array(vv).shape == (12, 4, 6, 3)
    q.ImageView_set_axes_interpretation(v, cls("ImageType")())
    assert q.NumpyInterop_to_numpy_array(v).shape == (12, 4, 6)
    four = q.ImageViewFactory_allocate([8, 6, 3, 5], q.DataTypeId_FLOAT)
    q.ImageView_set_axes_interpretation(four, image_type("COLUMN", "ROW", "CHANNEL", "SEQUENCE"))
    assert q.NumpyInterop_to_numpy_array(four).shape == (5, 6, 8, 3)
    img = q.ImageViewFactory_allocate([12, 4], q.DataTypeId_VEC3_UINT8)
    arr = q.NumpyInterop_order_to_numpy_array(img, [D["CHANNEL"], D["ROW"], D["COLUMN"]])
    assert arr.shape == (3, 4, 12) and arr.strides[0] == 1
    rgb = q.ImageViewFactory_allocate([640, 480, 3], q.DataTypeId_UINT8)
    q.ImageView_set_axes_interpretation(rgb, image_type("COLUMN", "ROW", "CHANNEL"))
    assert q.NumpyInterop_to_numpy_array(rgb).shape == (480, 640, 3)


def test_types_outside_the_table_come_back_as_bools():
    v = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UTF8_STRING)
    arr = q.NumpyInterop_to_numpy_array(v)
    assert arr.dtype == np.bool_ and arr.shape == (2, 3)


# --------------------------------------- every layout and type, both ways

@pytest.mark.parametrize("np_t,code", TYPES)
def test_regions_agree_with_numpy_slicing(np_t, code):
    rng = np.random.default_rng(int(code) % 1000)
    for name, a in layouts(np_t, rng):
        kept = a.copy()
        v = from_numpy(a, "SLICE", "ROW", "COLUMN")
        assert vec(v.get_shape()) == [a.shape[2], a.shape[1], a.shape[0]], name
        assert q.DataType_get_id(v.get_data_type()) == code
        for _ in range(6):
            lo = [int(rng.integers(0, n)) for n in reversed(a.shape)]
            size = [int(rng.integers(1, n - o + 1)) for o, n in zip(lo, reversed(a.shape))]
            want = a[lo[2]:lo[2] + size[2], lo[1]:lo[1] + size[1], lo[0]:lo[0] + size[0]]
            assert (read_region(v, lo, size, np_t) == want).all(), name
            fresh = (rng.random(want.shape) * 100).astype(np_t)
            q.ImageView___write_region(v, region(lo, size), np.ascontiguousarray(fresh))
            kept[lo[2]:lo[2] + size[2], lo[1]:lo[1] + size[1], lo[0]:lo[0] + size[0]] = fresh
            assert (a == kept).all(), name
        back = q.NumpyInterop_to_numpy_array(v)
        assert back.shape == a.shape and back.strides == a.strides, name
        assert (back == a).all() and np.shares_memory(back, a), name


def test_memory_order_follows_the_strides():
    c = np.zeros((3, 4, 5), dtype=np.uint8)
    f = np.asfortranarray(c)
    t = c.transpose(2, 0, 1)
    # equal strides (axes of one element) keep the order the array lists them in
    for a in (c, f, t, c[:, ::2], f[1:, :, ::2], np.flip(c, 1), np.flip(f, 0), c[:1, :, :1], f[:, :1, :1],
              np.zeros((3, 4, 5), np.uint8).transpose(1, 2, 0)[:, ::-2]):
        v = from_numpy(a, "SLICE", "ROW", "COLUMN")
        arr = q.NumpyInterop_to_numpy_array(v)
        assert arr.strides == a.strides and np.shares_memory(arr, a)
        sample = np.arange(a.size, dtype=np.uint8).reshape(a.shape)
        q.ImageView___write_region(v, region([0, 0, 0], vec(v.get_shape())), np.ascontiguousarray(sample))
        assert (a == sample).all()


# -------------------------------------------------------------- refusals

def test_array_refusals():
    t = image_type("COLUMN", "ROW")
    with pytest.raises(TypeError, match=exact("Input Numpy Array is not valid")):
        q.NumpyInterop__from_numpy_array([[1]], t, 0, False)
    sub = type("Sub", (np.ndarray,), {})
    assert q.NumpyInterop__from_numpy_array(np.zeros((2, 2)).view(sub), t, 0, False) is not None
    for bad in (np.zeros((2, 2), dtype=bool), np.zeros((2, 2), dtype=np.longlong), np.zeros((2, 2), complex),
                np.zeros((2, 2), dtype=">f8"), np.zeros((2, 2), dtype=">i4")):
        with pytest.raises(QuelboError, match=exact("Unsupported numpy data type")):
            q.NumpyInterop__from_numpy_array(bad, t, 0, False)
    with pytest.raises(QuelboError, match=exact("Given dimensions list is not compatible with array shape")):
        q.NumpyInterop__from_numpy_array(np.zeros((2, 2)), image_type("COLUMN", "ROW", "CHANNEL"), 0, False)
    with pytest.raises(QuelboError, match=exact("Given information are not compatible with Numpy")):
        q.NumpyInterop__from_numpy_array(np.zeros((2, 2, 2), np.uint8), image_type("COLUMN", "ROW", "CHANNEL"),
                                         RGB, False)
    with pytest.raises(TypeError, match=exact("in method 'NumpyInterop__from_numpy_array', argument 4 of type "
                                              "'bool'")):
        q.NumpyInterop__from_numpy_array(np.zeros((2, 2)), t, 0, 1)
    with pytest.raises(ValueError, match=exact("invalid null reference in method 'NumpyInterop__from_numpy_array'"
                                               ", argument 2 of type 'quelbo::ImageType'")):
        q.NumpyInterop__from_numpy_array(np.zeros((2, 2)), None, 0, False)


def test_dimension_list_refusals():
    a = np.zeros((2, 3))
    order = q.NumpyInterop__order_from_numpy_array
    assert order(a, (D["ROW"], D["COLUMN"]), 0, False) is not None
    with pytest.raises(TypeError, match=exact("not a list")):
        order(a, 5, 0, False)
    with pytest.raises(TypeError, match=exact("list must contain ImageDimension")):
        order(a, "ab", 0, False)
    with pytest.raises(TypeError, match=exact("list must contain ImageDimension")):
        order(a, [0, 2**40], 0, False)
    with pytest.raises(TypeError, match=exact("List of dimensions cannot be empty")):
        order([], [], 0, False)
    with pytest.raises(TypeError, match=exact("Input Numpy Array is not valid")):
        order([], [0, 1], 0, False)
    with pytest.raises(QuelboError, match=exact("Given dimensions list is not compatible with array shape")):
        order(a, [0, 1, 2], 0, False)
    with pytest.raises(QuelboError):
        order(a, [1, 1], 0, False)       # a dimension twice
    with pytest.raises(QuelboError):
        order(a, [1, 9], 0, False)       # no such dimension
    with pytest.raises(TypeError, match=exact("in method 'NumpyInterop__order_from_numpy_array', argument 5 of "
                                              "type 'bool'")):
        order(a, [0, 1], 0, None)


def test_view_to_array_refusals(capfd):
    to = q.NumpyInterop_to_numpy_array
    with pytest.raises(TypeError, match=exact("Numpy array can only be built from ImageView instances")):
        to(3)
    with pytest.raises(TypeError, match=exact("Input ImageView cannot be empty")):
        to(None)
    uniform = q.ImageViewFactory__uniform([2, 2], q.DataTypeId_UINT8, b"\0", None, None)
    with pytest.raises(ValueError, match=exact("Input ImageView must support MEMORY_ACCESS capability")):
        to(uniform)
    img = q.ImageViewFactory_allocate([4, 3], q.DataTypeId_VEC3_UINT8)
    cases = [([D["ROW"], D["COLUMN"]], "Input dimensions list is not valid"),
             ([D["ROW"], D["COLUMN"], D["SLICE"]], "Input dimensions list is incomplete"),
             ("xy", None)]
    for dims, text in cases:
        with pytest.raises(QuelboError if text else TypeError, match=exact(text or "list must contain ImageDimension")):
            q.NumpyInterop_order_to_numpy_array(img, dims)
    rgb = q.ImageViewFactory_allocate([4, 3, 3], q.DataTypeId_VEC3_UINT8)
    q.ImageView_set_axes_interpretation(rgb, image_type("COLUMN", "ROW", "CHANNEL"))
    with pytest.raises(QuelboError, match=exact("CHANNEL dimension already exists - vectorial data cannot be "
                                                "converted")):
        q.NumpyInterop_order_to_numpy_array(rgb, [0, 1, 3])
    q.ImageView_set_axes_interpretation(img, cls("ImageType")())
    with pytest.raises(QuelboError, match=exact("ImageView has no axes interpretation - Dimensions are unknown")):
        q.NumpyInterop_order_to_numpy_array(img, [0, 1, 3])
    deep = q.ImageViewFactory_allocate([1] * 33, q.DataTypeId_UINT8)
    capfd.readouterr()
    with pytest.raises(ValueError):
        to(deep)
    assert capfd.readouterr().out == "error when creating array\n"


# ------------------------------------------------------ read-only arrays

def test_read_only_arrays_give_read_only_views():
    a = np.arange(6, dtype=np.int16).reshape(2, 3)
    a.flags.writeable = False
    v = from_numpy(a, "ROW", "COLUMN")
    assert q.ImageCapabilitySet_value(v.get_capabilities()) == 9
    with pytest.raises(QuelboError):
        q.ImageView___write(v, [0, 0], b"\1\0")
    with pytest.raises(QuelboError):
        q.ImageView___write_region(v, region([0, 0], [1, 1]), b"\1\0")
    with pytest.raises(QuelboError):
        q.ImageView_set_spatial_unit(v, "mm")
    back = q.NumpyInterop_to_numpy_array(v)
    assert not back.flags.writeable and (back == a).all()
    with pytest.raises(ValueError):
        back[0, 0] = 1
    assert read_region(v, [1, 0], [2, 2], np.int16).tolist() == a[0:2, 1:3].tolist()


# -------------------------------------------------------------- lifetimes

@pytest.mark.parametrize("drop", ["source view array", "array view source", "view source array",
                                  "source array view", "array source view", "view array source"])
def test_views_and_arrays_dropped_in_any_order(drop):
    box = {"source": np.arange(24, dtype=np.float64).reshape(2, 3, 4)}
    gone = weakref.ref(box["source"])
    box["view"] = from_numpy(box["source"], "SLICE", "ROW", "COLUMN")
    box["array"] = q.NumpyInterop_to_numpy_array(box["view"])
    survivor = q.NumpyInterop_order_to_numpy_array(box["view"], [D["COLUMN"], D["ROW"], D["SLICE"]])
    for name in drop.split():
        del box[name]
        gc.collect()
        assert gone() is not None
        assert survivor[3, 2, 1] == 23.0
    del survivor
    gc.collect()
    assert gone() is None


def test_export_outlives_a_reshape_and_its_view():
    v = q.ImageViewFactory_allocate([64, 64], q.DataTypeId_DOUBLE)
    arr = q.NumpyInterop_to_numpy_array(v)
    arr[:] = 2.5
    q.ImageView_reshape(v, [2], q.DataTypeId_UINT8)
    del v
    gc.collect()
    assert arr.sum() == 2.5 * 64 * 64
    buf = bytearray(16)
    w = q.ImageViewFactory___from_buffer([4, 4], q.DataTypeId_UINT8, buf, None, None)
    arr = q.NumpyInterop_to_numpy_array(w)
    del w
    gc.collect()
    with pytest.raises(BufferError):
        buf.extend(b"x")              # still exported for the array
    arr[1, 2] = 9
    assert buf[6] == 9
    del arr
    gc.collect()
    buf.extend(b"x")


def test_last_owner_dropped_by_another_thread():
    import _quelbo_twin as twin
    a = np.zeros((4, 4))
    gone = weakref.ref(a)
    v = from_numpy(a, "ROW", "COLUMN")
    twin.park_view(v)
    del v, a
    gc.collect()
    assert gone() is not None
    twin.drop_parked_in_thread()
    assert gone() is None
    buf = bytearray(4)
    v = q.ImageViewFactory___from_buffer([2, 2], q.DataTypeId_UINT8, buf, None, None)
    twin.park_view(v)
    del v
    gc.collect()
    with pytest.raises(BufferError):
        buf.append(0)
    twin.drop_parked_in_thread()
    buf.append(0)


def test_array_given_other_memory_is_refused():
    a = np.zeros(8)
    v = from_numpy(a, "COLUMN")
    with pytest.warns(DeprecationWarning):
        a.data = memoryview(np.ones(8))
    with pytest.raises(QuelboError, match="other memory"):
        read_region(v, [0], [8], np.float64)
    with pytest.raises(QuelboError, match="other memory"):
        q.NumpyInterop_to_numpy_array(v)


def resize_in_place(a, shape):
    """Gives `a` new sizes over the same data address, as numpy's resize does
    when the allocator shrinks the block in place: the array's fields (data,
    nd, dimensions after the object's head, numpy's layout) written
    directly, so that nothing depends on where an allocator puts a block."""
    import ctypes
    head = id(a) + object.__basicsize__
    assert ctypes.c_void_p.from_address(head).value == a.ctypes.data
    assert ctypes.c_int.from_address(head + ctypes.sizeof(ctypes.c_void_p)).value == len(shape) == a.ndim
    dims = ctypes.cast(ctypes.c_void_p.from_address(head + 2 * ctypes.sizeof(ctypes.c_void_p)).value,
                       ctypes.POINTER(ctypes.c_ssize_t))
    for i, n in enumerate(shape):
        dims[i] = n


@pytest.mark.parametrize("shape, names, shrunk, region_", [
    ((1000,), ("COLUMN",), (10,), ((0,), (1000,))),
    ((1000,), ("COLUMN",), (0,), ((0,), (1,))),
    ((20, 50), ("ROW", "COLUMN"), (5, 50), ((0, 0), (50, 4))),  # the rows the view reads first still held
])
def test_an_array_shrunk_in_place_is_refused_and_never_read_past(shape, names, shrunk, region_):
    buf = bytearray(8 * int(np.prod(shape)))  # memory the test holds: the bytes stay, the array no longer covers them
    a = np.frombuffer(buf, np.float64).reshape(shape)
    a[...] = np.arange(a.size).reshape(shape)
    v = from_numpy(a, *names)
    message = exact("The numpy array of the view was given other memory")
    kept = bytes(buf)
    resize_in_place(a, shrunk)
    try:
        assert a.shape == shrunk
        with pytest.raises(QuelboError, match=message):
            read_region(v, *region_, np.float64)
        with pytest.raises(QuelboError, match=message):
            q.ImageView___write_region(v, region(*region_), bytes(8 * int(np.prod(region_[1]))))
        with pytest.raises(QuelboError, match=message):
            q.ImageView___read(v, [0] * len(shape), bytearray(8))
        with pytest.raises(QuelboError, match=message):
            q.NumpyInterop_to_numpy_array(v)
        assert buf == kept  # nothing written
    finally:
        resize_in_place(a, shape)
    # grown back in place, it holds the bytes again
    assert np.array_equal(read_region(v, [0] * len(shape), list(reversed(shape)), np.float64), a)


def test_an_array_given_other_sizes_over_the_same_bytes_keeps_its_view():
    a = np.arange(1000, dtype=np.float64)
    v = from_numpy(a, "COLUMN")
    a.shape = (10, 100)  # in place, same data
    assert np.array_equal(read_region(v, [0], [1000], np.float64), a.ravel())
    assert np.array_equal(q.NumpyInterop_to_numpy_array(v), a.ravel())


def test_views_whose_description_does_not_fit_their_memory_are_not_exported():
    import _quelbo_twin as twin
    with pytest.raises(QuelboError, match="no component"):
        q.NumpyInterop_to_numpy_array(twin.lying_view(0))
    with pytest.raises(QuelboError, match="does not hold"):
        q.NumpyInterop_to_numpy_array(twin.lying_view(1))
