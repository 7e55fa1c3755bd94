"""Serialization of image views: round trips of every data type with
properties, metadata trees and samples, the bytes against the independent
codec, views that are not memory, the refusals and the argument rules."""
import struct

import numpy as np
import pytest

import serial_codec as codec
from proxy import QuelboError, cls, q
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)
from test_serialization import contents, stream_of, version
from test_serialization import round_trip as serial_round_trip
from views_util import TYPES, image_type, vec

Node = cls("MetadataNode")
create = q.VariantDataValueFactory_create

MULTI = [(np.float32, q.DataTypeId_VEC3_FLOAT, 3), (np.uint8, q.DataTypeId_VEC4_UINT8, 4),
         (np.float64, q.DataTypeId_COMPLEX_DOUBLE, 2), (np.float32, q.DataTypeId_MATRIX3_FLOAT, 9)]


def tree(node):
    """A metadata tree as nested tuples: key, value type and items, children."""
    if node is None:
        return None
    value = q.MetadataNode_get_value(node)
    items = None
    if value is not None:
        items = (q.DataType_get_id(q.VariantDataValue_get_type(value)),
                 [q.VariantDataValue___getitem(value, i) for i in range(q.VariantDataValue_get_count(value))])
    children = []
    it, end = q.MetadataNode___begin(node), q.MetadataNode___end(node)
    while q.MetadataNodeIterator___ne__(it, end):
        children.append(tree(q.MetadataNodeIterator_value(it)))
        q.MetadataNodeIterator_next(it)
    return q.MetadataNode_get_key(node), items, children


def sample_tree(depth=3):
    root = Node("root", create(7))
    q.MetadataNode_add_child(root, Node("text", create(["é", "", "two words"])))
    q.MetadataNode_add_child(root, Node("numbers", create([1.5, -2.0, float("inf")])))
    q.MetadataNode_add_child(root, Node("bytes", create(b"\x00\xff")))
    q.MetadataNode_add_child(root, Node("empty", None))
    for name, fmt, tid, values in [("u16", "H", 65808, [1, 65535]), ("f32", "f", 196896, [0.5, -1.0])]:
        raw = struct.pack("<%d%s" % (len(values), fmt), *values)
        q.MetadataNode_add_child(root, Node(name, twin.raw_value(tid, raw, len(values))))
    node = root
    for level in range(depth):
        child = Node("level%d" % level, create(level))
        q.MetadataNode_add_child(node, child)
        node = child
    return root


def with_everything(view):
    q.ImageView_set_spatial_origin(view, (1.0, -2, 3.5))
    q.ImageView_set_spatial_spacing(view, [0.25, 0.5, 2])
    q.ImageView_set_spatial_unit(view, "mm µ")
    q.ImageView_set_spatial_directions(view, cls("SpatialDirections")([0, 1, 0], [1, 0, 0]))
    q.ImageView_set_image_interpretation(view, q.ImageInterpretation_UNKNOWN)
    q.ImageView_set_value_range(view, [-1, 1e9])
    q.ImageView_set_metadata(view, sample_tree())
    return view


def samples(view, sample_bytes):
    shape = vec(q.ImageView_get_shape(view))
    out = bytearray(int(np.prod(shape)) * sample_bytes)
    if out:
        q.ImageView___read_region(view, cls("RegionXu64")([0] * len(shape), shape), out)
    return bytes(out)


def same_view(a, b, dtype, components=1):
    assert vec(q.ImageView_get_shape(a)) == vec(q.ImageView_get_shape(b))
    assert q.DataType_get_id(q.ImageView_get_data_type(a)) == q.DataType_get_id(q.ImageView_get_data_type(b))
    assert q.ImageProperties___eq__(q.ImageView___get_properties(a), q.ImageView___get_properties(b))
    assert tree(q.ImageView___get_metadata(a)) == tree(q.ImageView___get_metadata(b))
    size = np.dtype(dtype).itemsize * components
    assert samples(a, size) == samples(b, size)


def round_trip(view):
    out = serial_round_trip(q.Serialization_encode_image_view, q.Serialization_decode_image_view, view)
    assert type(out).__name__ == "ImageView"
    return out


@pytest.mark.parametrize("np_t,tid", TYPES)
def test_round_trips_of_every_scalar_type(np_t, tid):
    rng = np.random.default_rng(tid % 1000)
    v = with_everything(q.ImageViewFactory_allocate([5, 4, 3], tid))
    raw = rng.integers(0, 256, size=5 * 4 * 3 * np.dtype(np_t).itemsize, dtype=np.uint8).tobytes()
    q.ImageView___write_region(v, cls("RegionXu64")([0, 0, 0], [5, 4, 3]), raw)
    out = round_trip(v)
    same_view(v, out, np_t)
    assert q.ImageView_support(out, 15)  # an in-memory view with every capability


@pytest.mark.parametrize("np_t,tid,n", MULTI)
def test_round_trips_of_multi_component_types(np_t, tid, n):
    v = q.ImageViewFactory_allocate([3, 2], tid)
    raw = np.arange(3 * 2 * n, dtype=np_t).tobytes()
    q.ImageView___write_region(v, cls("RegionXu64")([0, 0], [3, 2]), raw)
    same_view(v, round_trip(v), np_t, n)


def test_views_that_are_not_memory_and_empty_views(tmp_path):
    src = np.arange(6 * 5 * 4, dtype=np.int16).reshape(4, 5, 6)
    base = q.NumpyInterop__from_numpy_array(src, image_type("SLICE", "ROW", "COLUMN"), 0, False)
    for view in (q.ImageViewFactory_flip_dimension_index(base, 0),
                 q.ImageViewFactory_extract_region(base, cls("RegionXu64")([1, 1, 1], [3, 2, 2])),
                 q.ImageViewFactory_copy_on_disk(base, str(tmp_path)),
                 q.ImageViewFactory__uniform([3, 3], q.DataTypeId_INT16, b"\1\2", None, None),
                 twin.restricted_view(q.ImageViewFactory_copy_in_memory(base), 1),
                 base):
        same_view(view, round_trip(view), np.int16)
    for shape in ([0, 3], [4, 0, 2]):
        empty = q.ImageViewFactory_allocate(shape, q.DataTypeId_DOUBLE)
        same_view(empty, round_trip(empty), np.float64)


def test_deep_metadata_trees_round_trip_without_recursion():
    v = q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8)
    q.ImageView_set_metadata(v, sample_tree(depth=20000))
    out = round_trip(v)
    node = q.ImageView___get_metadata(out)
    depth = 0
    while q.MetadataNode_has_child(node, "level%d" % depth):
        node = q.MetadataNode_child(node, "level%d" % depth)
        depth += 1
    assert depth == 20000


def test_bytes_match_the_codec():
    v = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT16)
    q.ImageView___write_region(v, cls("RegionXu64")([0, 0], [3, 2]), struct.pack("<6H", *range(1, 7)))
    q.ImageView_set_spatial_unit(v, "mm")
    root = Node("k", create([5, -6]))
    q.MetadataNode_add_child(root, Node("s", create("hé")))
    q.ImageView_set_metadata(v, root)
    props = q.ImageView___get_properties(v)
    info = q.ImageProperties_get_image_info(props)
    rng = q.ImageInfoProperty_get_value_range(info)
    s = struct.pack
    body = s("<Q", 2) + s("<2Q", 3, 2) + codec.SYNC
    body += s("<15d", 0, 0, 0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1) + s("<Q", 2) + b"mm"
    body += s("<QiBQ2d", q.ImageType_value(q.ImageInfoProperty_get_axes_interpretation(info)),
              q.ImageInfoProperty__get_interpretation(info), 0, 16, q.Vector2d_at(rng, 0), q.Vector2d_at(rng, 1))
    body += codec.SYNC
    text = "hé".encode()
    body += b"\x01" + s("<Q", 1) + b"k" + b"\x01" + s("<QQ", q.DataTypeId_INT64, 2) + s("<2q", 5, -6) + s("<Q", 1)
    body += s("<Q", 1) + b"s" + b"\x01" + s("<QQ", q.DataTypeId_UTF8_STRING, 1) + s("<Q", len(text)) + text
    body += s("<Q", 0) + codec.SYNC
    body += s("<Q", 12) + s("<6H", *range(1, 7)) + codec.SYNC
    data = codec.header(codec.IMAGE_VIEW, q.DataTypeId_UINT16, version()) + body
    out = stream_of()
    q.Serialization_encode_image_view(v, out)
    assert contents(out) == data
    same_view(v, q.Serialization_decode_image_view(stream_of(data)), np.uint16)


def test_refusals():
    v = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8)
    s = stream_of()
    q.Serialization_encode_image_view(v, s)
    data = contents(s)
    sync = data.index(codec.SYNC)
    for bad, text in [(data[:sync] + b"SYNX" + data[sync + 4:], r"decoding issue \(synchronization tag not found\)"),
                      (data[:-1], "truncated"),
                      (data[:-4] + b"CNYS", "synchronization tag not found"),
                      (codec.vector("u8", [1], version()), "object to decode is not an ImageView"),
                      (b"QLBX" + data[4:], "invalid magic number")]:
        with pytest.raises(QuelboError, match=text):
            q.Serialization_decode_image_view(stream_of(bad))
    with pytest.raises(QuelboError, match="not a Vector"):
        q.Serialization_decode_vector_xu8(stream_of(data))
    # a view without READ, or none at all, writes nothing
    s = stream_of()
    with pytest.raises(QuelboError, match="ImageView has not READ capacity"):
        q.Serialization_encode_image_view(twin.restricted_view(v, 2), s)
    with pytest.raises(QuelboError, match="no ImageView"):
        q.Serialization_encode_image_view(None, s)
    with pytest.raises(QuelboError, match="no stream"):
        q.Serialization_decode_image_view(None)
    # a metadata value the format cannot hold is refused before any byte
    q.ImageView_set_metadata(v, Node("k", twin.raw_value(q.DataTypeId_VEC2_FLOAT, bytes(8), 1)))
    with pytest.raises(QuelboError, match="cannot be written"):
        q.Serialization_encode_image_view(v, s)
    assert contents(s) == b""


def test_setters_keep_any_properties_and_the_decoder_reads_them_back():
    """Each setter keeps the value it is given, in any order, whether or not
    it fits the shape and type; what a view holds is written and read back."""
    rgb = q.ImageView___get_properties(q.ImageViewFactory_allocate([3, 2, 3], q.DataTypeId_UINT8))
    q.ImageInfoProperty_set_interpretation(q.ImageProperties_get_image_info(rgb), q.ImageInterpretation_RGB)
    scalar = [q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT16),
              q.NumpyInterop__from_numpy_array(np.zeros((2, 3), np.uint16), image_type("ROW", "COLUMN"), 0, False)]
    pair = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_VEC2_UINT16)
    for view in scalar + [pair]:
        q.ImageView_set_image_interpretation(view, q.ImageInterpretation_GRAYSCALE)
        q.ImageView_set_alpha(view, True)
        assert q.ImageView_get_has_alpha(view) is True
        assert q.ImageView__get_image_interpretation(view) == q.ImageInterpretation_GRAYSCALE
        back = round_trip(view)
        assert q.ImageView_get_has_alpha(back) is True
        same_view(view, back, np.uint16, 2 if view is pair else 1)
        q.ImageView_set_properties(view, rgb)
        assert q.ImageView__get_image_interpretation(view) == q.ImageInterpretation_RGB
        same_view(view, round_trip(view), np.uint16, 2 if view is pair else 1)
    # a view of another make whose properties do not fit is written and read back as well
    lying = twin.lying_view(2)
    back = round_trip(lying)
    assert q.ImageView__get_image_interpretation(back) == q.ImageInterpretation_RGB
    same_view(lying, back, np.uint8)
    # the factories keep their own check of the properties they are given
    with pytest.raises(QuelboError, match="not compatible"):
        q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8, rgb, None)


def test_a_node_with_two_children_of_one_key_is_refused():
    v = q.ImageViewFactory_allocate([1, 1], q.DataTypeId_UINT8)
    root = Node("root", None)
    q.MetadataNode_add_child(root, Node("a", create(1)))
    q.MetadataNode_add_child(root, Node("b", create(2)))
    q.ImageView_set_metadata(v, root)
    s = stream_of()
    q.Serialization_encode_image_view(v, s)
    data = contents(s)
    assert tree(q.ImageView___get_metadata(q.Serialization_decode_image_view(stream_of(data)))) == tree(root)
    # the second child renamed "a": decoding would keep one of the two
    second = data.index(struct.pack("<Q", 1) + b"b")
    twice = data[:second + 8] + b"a" + data[second + 9:]
    with pytest.raises(QuelboError, match="a metadata node has two children with the key 'a'"):
        q.Serialization_decode_image_view(stream_of(twice))


def test_argument_rules():
    v = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8)
    s = stream_of()
    msg = "in method 'Serialization_encode_image_view', argument %d of type 'std::shared_ptr< quelbo::%s >'"
    with pytest.raises(TypeError, match="^" + msg % (1, "ImageView") + "$"):
        q.Serialization_encode_image_view(s, v)
    multi = q.MultiImageViewFactory_create()
    lod = twin.lod_view(0, 2)
    for other in (cls("View")(), lod, multi, 5):
        with pytest.raises(TypeError, match="^" + msg % (1, "ImageView") + "$"):
            q.Serialization_encode_image_view(other, s)
    q.delete_LodImageView(lod)  # a bare handle: no class is registered for it
    with pytest.raises(TypeError, match="^" + msg % (2, "StreamAccess") + "$"):
        q.Serialization_encode_image_view(v, q.RandomAccessFactory_allocate(8))
    with pytest.raises(TypeError, match=r"^Serialization_encode_image_view expected 2 arguments, got 3$"):
        q.Serialization_encode_image_view(v, s, s)
    with pytest.raises(TypeError, match=r"^in method 'Serialization_decode_image_view', argument 1 of type "
                                        r"'std::shared_ptr< quelbo::StreamAccess >'$"):
        q.Serialization_decode_image_view(v)
    assert contents(s) == b""
