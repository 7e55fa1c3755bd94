"""The view base and the image view interface: handles, extensions, queries,
transfers checked against their buffers, and the setters."""
import gc

import numpy as np
import pytest

from proxy import QuelboError, cls, q
import _quelbo_twin as twin  # noqa: E402  (found through proxy's path)
from views_util import exact, image_type, read_region, region, vec


def small():
    return q.ImageViewFactory_allocate([4, 3], q.DataTypeId_UINT16)


# ------------------------------------------------------------------ View base

def test_view_base_and_its_origin():
    View = cls("View")
    v = View()
    assert q.View__extension(v, 1) is None and q.View__extension(v, 4) is None
    origin = q.View_view_origin(v)
    assert q.ViewOriginExtension_data_origin(origin) == q.ViewDataOrigin_UNKNOWN
    # every view has its own unique record, also handed out as extension 3
    img = small()
    mine = q.View_view_origin(img)
    assert q.ViewOriginExtension_uid(mine) != q.ViewOriginExtension_uid(origin)
    assert q.ViewOriginExtension_uid(q.ViewOriginExtension_cast(q.View__extension(img, 3))) == \
        q.ViewOriginExtension_uid(mine)
    assert q.ViewOriginExtension_data_origin(mine) == q.ViewDataOrigin_CPU_MEMORY
    copy = q.ImageViewFactory_copy_in_memory(q.ImageViewFactory__uniform([2, 2], q.DataTypeId_UINT8, b"\1", None, None))
    co = q.View_view_origin(copy)
    assert q.ViewOriginExtension_parent_count(co) == 1
    assert q.ViewOriginExtension_data_origin(q.ViewOriginExtension_parent(co, 0)) == q.ViewDataOrigin_GENERATED
    with pytest.raises(QuelboError):
        q.ViewOriginExtension_parent(co, 1)
    assert q.ImageView_tiling_info(img) is None


def test_argument_messages_of_the_base():
    v = small()
    with pytest.raises(OverflowError, match=exact("in method 'View__extension', argument 2 of type 'size_t'")):
        q.View__extension(v, -1)
    with pytest.raises(TypeError, match=exact("in method 'View__extension', argument 2 of type 'size_t'")):
        q.View__extension(v, 1.0)
    for fn, ty in (("View__extension", "quelbo::View *"), ("ImageView_get_shape", "quelbo::ImageView *"),
                   ("ImageView_get_capabilities", "quelbo::ImageView const *")):
        args = (None, 1) if fn == "View__extension" else (None,)
        with pytest.raises(ValueError, match=exact("invalid null reference in method '%s', argument 1 of type '%s'"
                                                   % (fn, ty))):
            getattr(q, fn)(*args)
    with pytest.raises(TypeError, match=exact("in method 'ImageView_get_shape', argument 1 of type "
                                              "'quelbo::ImageView *'")):
        q.ImageView_get_shape(cls("View")())


def test_release_functions_and_shared_handles():
    assert q.delete_View(None) is None
    v = small()
    assert q.delete_View(v) is None            # a derived handle keeps its holder
    assert vec(q.ImageView_get_shape(v)) == [4, 3]
    a, b = q.NumpyInterop_to_numpy_array(v), small()
    h = q.ImageViewFactory_copy_in_memory(v)   # in memory already: the same view
    del v
    gc.collect()
    a[0, 0] = 5
    out = bytearray(2)
    q.ImageView___read(h, [0, 0], out)
    assert out == b"\5\0"
    with pytest.raises(TypeError, match=exact("in method 'delete_ImageView', argument 1 of type "
                                              "'quelbo::ImageView *'")):
        q.delete_ImageView(cls("View")())


def test_create_from_pointer_adopts_only_handed_over_holders():
    v = small()
    address = twin.hand_over_view(v)
    w = q.ImageView_create_from_pointer(address)
    assert type(w).__name__ == "ImageView" and vec(w.get_shape()) == [4, 3]
    # once: the address is no longer a holder afterwards
    for bad in (address, 7, id(v), 2**64 - 1):
        with pytest.raises(ValueError, match=exact("in method 'ImageView_create_from_pointer', argument 1 of "
                                                   "type 'unsigned long long'")):
            q.ImageView_create_from_pointer(bad)
    assert q.ImageView_create_from_pointer(0) is None
    with pytest.raises(OverflowError):
        q.ImageView_create_from_pointer(-1)
    # an empty holder gives a handle that every method refuses
    empty = q.ImageView_create_from_pointer(twin.hand_over_view(None))
    with pytest.raises(ValueError, match="invalid null reference"):
        q.ImageView_get_shape(empty)


# ------------------------------------------------------------------- queries

def test_queries_of_a_numpy_view():
    a = np.zeros((480, 640, 3), dtype=np.uint8)
    v = q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW", "CHANNEL"), q.ImageInterpretation_RGB, False)
    assert vec(q.ImageView_get_shape(v)) == [640, 480, 3] and q.ImageView_get_dimension_count(v) == 3
    assert q.DataType_get_id(q.ImageView_get_data_type(v)) == q.DataTypeId_UINT8
    caps = q.ImageView_get_capabilities(v)
    assert q.ImageCapabilitySet_value(caps) == 11
    assert q.ImageView_support(v, 11) and q.ImageView_support(v, 0) and not q.ImageView_support(v, 4)
    assert q.ImageView_support(v, caps)
    assert q.ImageView__get_image_interpretation(v) == q.ImageInterpretation_RGB
    assert q.ImageType_to_string(q.ImageView_get_axes_interpretation(v)) == \
        q.ImageType_to_string(image_type("COLUMN", "ROW", "CHANNEL"))
    assert q.ImageView___get_metadata(v) is None
    assert "640, 480, 3" in q.ImageView_to_string(v)
    with pytest.raises(RuntimeError, match=exact("in method 'ImageView_support', argument 2 of type "
                                                 "'quelbo::ImageCapabilitySet'")):
        q.ImageView_support(v, None)
    with pytest.raises(TypeError, match=exact("in method 'ImageView_support', argument 2 of type "
                                              "'quelbo::ImageCapabilitySet'")):
        q.ImageView_support(v, "x")
    with pytest.raises(TypeError, match="ImageView_support expected 2 arguments, got 1"):
        q.ImageView_support((v,))


def test_shape_result_is_a_copy_and_properties_are_shared():
    v = small()
    shape = q.ImageView_get_shape(v)
    q.ImageView_reshape(v, [2, 2, 2], q.DataTypeId_UINT8)
    assert vec(shape) == [4, 3] and vec(q.ImageView_get_shape(v)) == [2, 2, 2]
    a = np.zeros((3, 4))
    w = q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW"), 0, False)
    p = q.ImageView___get_properties(w)
    cal = q.ImageProperties_get_calibration(p)
    q.SpatialCalibrationProperty_set_origin(cal, [1, 2, 3])
    o = q.ImageView_get_spatial_origin(w)
    assert [q.Vector3d_at(o, i) for i in range(3)] == [1.0, 2.0, 3.0]


# --------------------------------------------------------------- transfers

def test_read_and_write_one_sample():
    a = np.arange(12, dtype=np.uint16).reshape(3, 4)
    v = q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW"), 0, False)
    out = bytearray(2)
    q.ImageView___read(v, [2, 1], out)
    assert out == a[1, 2].tobytes()
    q.ImageView___write(v, [3, 2], np.uint16(999).tobytes())
    assert a[2, 3] == 999
    with pytest.raises(TypeError, match=exact("in method 'ImageView___read', argument 3 of type "
                                              "'(uint8_t* dst, size_t size)'")):
        q.ImageView___read(v, [0, 0], b"xx")
    with pytest.raises(TypeError, match=exact("in method 'ImageView___write', argument 3 of type "
                                              "'(const uint8_t* src, size_t size)'")):
        q.ImageView___write(v, [0, 0], "xx")
    with pytest.raises(TypeError, match=exact("invalid item in sequence - expected long value")):
        q.ImageView___read(v, "ab", out)
    with pytest.raises(ValueError, match=exact("input must be a sequence")):
        q.ImageView___read(v, 3, out)


def test_lengths_indices_and_regions_are_checked_before_a_byte_moves():
    a = np.arange(12, dtype=np.uint16).reshape(3, 4)
    v = q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW"), 0, False)
    guard = bytearray(b"\xee" * 23)
    for index in ([4, 0], [0, 3], [0], [0, 0, 0], [2**63 - 1, 0]):
        with pytest.raises(QuelboError):
            q.ImageView___read(v, index, guard)
    with pytest.raises(QuelboError, match="cannot hold"):
        q.ImageView___read(v, [0, 0], bytearray(1))
    with pytest.raises(QuelboError, match="cannot hold"):
        q.ImageView___write(v, [0, 0], b"x")
    with pytest.raises(QuelboError, match="cannot hold"):
        q.ImageView___read_region(v, region([0, 0], [4, 3]), guard)  # 24 bytes needed
    for r in (region([1, 0], [4, 3]), region([0, 0, 0], [1, 1, 1]), region([0], [1]),
              region([2**62, 0], [1, 1])):
        with pytest.raises(QuelboError):
            q.ImageView___read_region(v, r, bytearray(10**6))
        with pytest.raises(QuelboError):
            q.ImageView___write_region(v, r, bytes(10**6))
    assert guard == b"\xee" * 23 and (a == np.arange(12).reshape(3, 4)).all()
    with pytest.raises(TypeError, match=exact("in method 'ImageView___read_region', argument 2 of type "
                                              "'quelbo::RegionXu64 const &'")):
        q.ImageView___read_region(v, (0, 0), guard)
    with pytest.raises(ValueError, match=exact("invalid null reference in method 'ImageView___write_region', "
                                               "argument 2 of type 'quelbo::RegionXu64 const &'")):
        q.ImageView___write_region(v, None, guard)
    # an empty region moves nothing and needs no byte
    q.ImageView___read_region(v, region([1, 1], [0, 2]), bytearray())


def test_regions_of_memory_views_and_reshape():
    v = q.ImageViewFactory_allocate([5, 4, 3], q.DataTypeId_INT32)
    src = np.arange(60, dtype=np.int32)
    q.ImageView___write_region(v, region([0, 0, 0], [5, 4, 3]), src)
    arr = q.NumpyInterop_to_numpy_array(v)            # axes X, Y, Z: numpy (Z, Y, X)
    assert arr.shape == (3, 4, 5) and (arr.ravel() == src).all()
    assert (read_region(v, [1, 2, 0], [3, 2, 3], np.int32) == arr[0:3, 2:4, 1:4]).all()
    q.ImageView___write_region(v, region([4, 3, 2], [1, 1, 1]), np.int32(-7))
    assert arr[2, 3, 4] == -7
    q.ImageView_reshape(v, [4, 4], cls("DataType")(q.DataTypeId_UINT8))
    assert vec(q.ImageView_get_shape(v)) == [4, 4] and arr[2, 3, 4] == -7  # the old memory lives on
    with pytest.raises(TypeError):
        q.ImageView_reshape(v, [4, 4], "x")
    n = np.zeros((2, 2))
    w = q.NumpyInterop__from_numpy_array(n, image_type("COLUMN", "ROW"), 0, False)
    for dt in (q.DataTypeId_UINT8, cls("DataType")(q.DataTypeId_UINT8)):
        with pytest.raises(QuelboError):
            q.ImageView_reshape(w, [4, 4], dt)


def test_views_without_read_or_write():
    v = small()
    no_read = twin.restricted_view(v, 2)
    no_write = twin.restricted_view(v, 1)
    with pytest.raises(QuelboError):
        q.ImageView___get_metadata(no_read)
    with pytest.raises(QuelboError):
        q.ImageView___read(no_read, [0, 0], bytearray(2))
    with pytest.raises(QuelboError):
        q.ImageView___write_region(no_write, region([0, 0], [1, 1]), b"ab")
    with pytest.raises(QuelboError):
        q.ImageView_set_properties(no_write, q.ImageView___get_properties(v))
    with pytest.raises(QuelboError):
        q.ImageViewFactory_copy_in_memory(no_read)
    with pytest.raises(ValueError, match=exact("Input ImageView must support MEMORY_ACCESS capability")):
        q.NumpyInterop_to_numpy_array(no_write)
    # copied in memory: the samples, now with every capability
    q.ImageView___write(v, [3, 2], b"\x34\x12")
    copy = q.ImageViewFactory_copy_in_memory(no_write)
    assert q.ImageView_support(copy, 15) and read_region(copy, [3, 2], [1, 1], np.uint16)[0, 0] == 0x1234


# ----------------------------------------------------------------- setters

def test_setters_change_what_the_queries_report():
    v = small()  # one component: the setters keep what they are given
    q.ImageView_set_alpha(v, True)
    assert q.ImageView_get_has_alpha(v) is True
    q.ImageView_set_spatial_origin(v, (1.0, 2, 3.5))
    o = q.ImageView_get_spatial_origin(v)
    assert [q.Vector3d_at(o, i) for i in range(3)] == [1.0, 2.0, 3.5]
    q.ImageView_set_spatial_spacing(v, [0.5, 0.5, 2])
    q.ImageView_set_spatial_unit(v, "mm µ")
    assert q.ImageView_get_spatial_unit(v) == "mm µ"
    q.ImageView_set_value_range(v, [0, 255])
    r = q.ImageView_get_value_range(v)
    assert (q.Vector2d_at(r, 0), q.Vector2d_at(r, 1)) == (0.0, 255.0)
    q.ImageView_set_bit_depth(v, 12)
    assert q.ImageView_get_bit_depth(v) == 12
    q.ImageView_set_image_interpretation(v, q.ImageInterpretation_GRAYSCALE)
    assert q.ImageView__get_image_interpretation(v) == q.ImageInterpretation_GRAYSCALE
    q.ImageView_set_axes_interpretation(v, image_type("ROW", "SLICE"))
    assert q.ImageType_to_string(q.ImageView_get_axes_interpretation(v)) == \
        q.ImageType_to_string(image_type("ROW", "SLICE"))
    d = cls("SpatialDirections")([0, 1, 0], [1, 0, 0])
    q.ImageView_set_spatial_directions(v, d)
    assert q.SpatialDirections___eq__(q.ImageView_get_spatial_directions(v), d)


def test_setter_messages():
    v = small()
    with pytest.raises(TypeError, match=exact("in method 'ImageView_set_alpha', argument 2 of type 'bool'")):
        q.ImageView_set_alpha(v, 1)
    with pytest.raises(ValueError, match=exact("input sequence has invalid length")):
        q.ImageView_set_spatial_origin(v, (1, 2))
    with pytest.raises(OverflowError, match=exact("in method 'ImageView_set_image_interpretation', argument 2 "
                                                  "of type 'quelbo::ImageInterpretation'")):
        q.ImageView_set_image_interpretation(v, 2147483648)
    with pytest.raises(OverflowError, match=exact("in method 'ImageView_set_bit_depth', argument 2 of type "
                                                  "'size_t'")):
        q.ImageView_set_bit_depth(v, -1)
    for fn, ty in (("set_spatial_unit", "std::string const &"),
                   ("set_spatial_directions", "quelbo::SpatialDirections const &"),
                   ("set_axes_interpretation", "quelbo::ImageType const"),
                   ("set_properties", "std::shared_ptr< quelbo::ImageProperties const >")):
        with pytest.raises(ValueError, match=exact("invalid null reference in method 'ImageView_%s', argument 2 "
                                                   "of type '%s'" % (fn, ty))):
            getattr(q, "ImageView_" + fn)(v, None)
    with pytest.raises(TypeError, match=exact("in method 'ImageView_set_properties', argument 2 of type "
                                              "'std::shared_ptr< quelbo::ImageProperties const >'")):
        q.ImageView_set_properties(v, small())


def test_properties_and_metadata_are_copied_in():
    src = q.ImageViewFactory_allocate([3, 3], q.DataTypeId_FLOAT)
    q.ImageView_set_spatial_unit(src, "cm")
    v = small()
    p = q.ImageView___get_properties(src)
    q.ImageView_set_properties(v, p)
    assert q.ImageView_get_spatial_unit(v) == "cm"
    q.ImageView_set_spatial_unit(src, "m")         # src's changes do not reach v
    assert q.ImageView_get_spatial_unit(v) == "cm"
    ro = cls("ReadonlyImageProperties")(q.ImageView___get_properties(src))
    q.ImageView_set_properties(v, ro)
    assert q.ImageView_get_spatial_unit(v) == "m"
    q.ImageView_set_metadata(v, None)               # clears
    assert q.ImageView___get_metadata(v) is None


def test_metadata_is_cloned_in_and_shared_out():
    a = np.zeros((2, 2), np.uint8)
    for v in (small(), q.NumpyInterop__from_numpy_array(a, image_type("COLUMN", "ROW"), 0, False)):
        node = q.MetadataNodeFactory_create("root", None)
        q.MetadataNode_add_child(node, q.MetadataNodeFactory_create("child", None))
        q.ImageView_set_metadata(v, node)
        got = q.ImageView___get_metadata(v)
        assert q.MetadataNode_to_string(got) == q.MetadataNode_to_string(node)
        q.MetadataNode_remove_child(node, "child")       # the caller's node is not the view's
        assert q.MetadataNode_has_child(q.ImageView___get_metadata(v), "child")
        q.MetadataNode_add_child(got, q.MetadataNodeFactory_create("more", None))  # the view's own node, shared
        assert q.MetadataNode_has_child(q.ImageView___get_metadata(v), "more")
        q.ImageView_set_metadata(v, cls("ReadonlyMetadataNode")(node))
        assert not q.MetadataNode_has_child(q.ImageView___get_metadata(v), "child")
        q.ImageView_set_metadata(v, None)
        assert q.ImageView___get_metadata(v) is None
    with pytest.raises(TypeError, match=exact("in method 'ImageView_set_metadata', argument 2 of type "
                                              "'std::shared_ptr< quelbo::MetadataNode >'")):
        q.ImageView_set_metadata(small(), small())
    node = q.MetadataNodeFactory_create("m", None)
    u = q.ImageViewFactory__uniform([2], q.DataTypeId_UINT8, b"\0", None, cls("ReadonlyMetadataNode")(node))
    assert q.MetadataNode_get_key(q.ImageView___get_metadata(u)) == "m"
    v = q.ImageViewFactory_allocate([2], q.DataTypeId_UINT8, None, node)
    assert q.MetadataNode_get_key(q.ImageView___get_metadata(v)) == "m"


def test_class_handles_of_the_bridge_and_the_factory():
    n = cls("NumpyInterop")()
    assert q.delete_NumpyInterop(n) is None and q.delete_NumpyInterop(None) is None
    for fn, ty in (("delete_NumpyInterop", "quelbo::NumpyInterop *"),
                   ("delete_ImageViewFactory", "quelbo::ImageViewFactory *"),
                   ("delete_LodImageView", "quelbo::LodImageView *")):
        with pytest.raises(TypeError, match=exact("in method '%s', argument 1 of type '%s'" % (fn, ty))):
            getattr(q, fn)(small())
    assert q.delete_LodImageView(None) is None
    v = cls("View")()
    q.delete_View(v)
    with pytest.raises(ValueError, match="invalid null reference"):
        q.View_view_origin(v)
