"""Every kind of image view is read and written through one checked entry: an
index or region outside the view, or of another dimension count, is refused in
the same words by every kind, through the module and through the library's
own entries (which take no buffer length); a view without READ or WRITE
refuses in its kind's words before a byte moves."""
import re

import numpy as np
import pytest

from proxy import QuelboError, q
import _quelbo_twin as twin  # noqa: E402  (found through proxy's path)
from views_util import image_type, region, vec

U16 = q.DataTypeId_UINT16


def filled(view):
    shape = vec(q.ImageView_get_shape(view))
    size = int(np.prod(shape)) * 2
    q.ImageView___write_region(view, region([0] * len(shape), shape), np.arange(size // 2, dtype=np.uint16))
    return view


def kinds(tmp_path):
    """(name, view) for every kind of view a user can make, over uint16 samples."""
    memory = filled(q.ImageViewFactory_allocate([5, 4], U16))
    disk = filled(q.ImageViewFactory_create_on_disk(str(tmp_path), [5, 4], U16))
    array = np.arange(20, dtype=np.uint16).reshape(4, 5)
    frozen = array.copy()
    frozen.flags.writeable = False
    buffer = bytearray(np.arange(20, dtype=np.uint16).tobytes())
    uniform = q.ImageViewFactory__uniform([5, 4], U16, b"\x07\x00", None, None)
    pair = q.MultiImageViewFactory_create_from_list([memory, disk])
    views = {
        "memory": memory,
        "buffer": q.ImageViewFactory___from_buffer([5, 4], U16, buffer, None, None),
        "uniform": uniform,
        "numpy": q.NumpyInterop__from_numpy_array(array, image_type("COLUMN", "ROW"), 0, False),
        "numpy read-only": q.NumpyInterop__from_numpy_array(frozen, image_type("COLUMN", "ROW"), 0, False),
        "disk": disk,
        "flip": q.ImageViewFactory_flip_dimension_index(memory, 0),
        "disk sub-sampled": q.ImageViewFactory_sub_sample(disk, 2),
        "box": q.ImageViewFactory_extract_region(disk, region([1, 1], [3, 2])),
        "adapted": q.ImageViewFactory_adapt_data_type(memory, q.DataTypeId_FLOAT),
        "stack": q.ImageViewFactory_stack(pair),
        "interlace": q.ImageViewFactory_interlace(pair),
        "thread-safe": q.ImageViewFactory_make_thread_safe(disk),
        "reinterpreted": q.ImageViewFactory_reinterpret(uniform, image_type()),
        "described": q.ImageViewFactory_from_image_view(memory, None, None),
        "read-only": q.ImageViewProvider_to_read_only(memory),
        "write-only": q.ImageViewProvider_to_write_only(memory),
        "restricted": twin.restricted_view(memory, 1),
        "level of detail": q.LodImageView_resolution(twin.lod_view(-1, 3), 1),
    }
    return views, (array, buffer)


def refused(f, *args):
    with pytest.raises(QuelboError) as e:
        f(*args)
    return str(e.value)


def test_every_kind_refuses_what_lies_outside_it_in_the_same_words(tmp_path):
    views, keep = kinds(tmp_path)
    for name, view in views.items():
        shape = vec(q.ImageView_get_shape(view))
        n = len(shape)
        sample = q.DataType_byte_count(q.ImageView_get_data_type(view))
        edge = [shape[0]] + [0] * (n - 1)
        outside = [(edge, [1] * n), ([0] * n, [shape[0] + 1] + [1] * (n - 1)), ([0] * (n + 1), [1] * (n + 1)),
                   ([2**62] + [0] * (n - 1), [2**62] + [1] * (n - 1))]
        for origin, size in outside:
            words = refused(q.ImageView___read_region, view, region(origin, size), bytearray(10**4))
            assert re.match(r"ImageView: the region .* is not inside the image of shape \[", words), name
            assert refused(q.ImageView___write_region, view, region(origin, size), bytes(10**4)) == words, name
            data = bytes(int(np.prod(size)) * sample) if size[0] < 2**62 else None
            for given in (None, data) if data is not None else ():
                assert refused(twin.entry_transfer, view, origin, size, given) == words, name
        for index in (edge, [0] * (n + 1)):
            words = refused(q.ImageView___read, view, index, bytearray(64))
            assert re.match(r"ImageView: the index .* is not inside the image of shape \[", words), name
            assert refused(q.ImageView___write, view, index, bytes(64)) == words, name
            for given in (None, bytes(sample)):
                assert refused(twin.entry_transfer, view, index, None, given) == words, name
        # inside, the entries move what the module moves
        if q.ImageView_support(view, 1):
            out = bytearray(len(twin.entry_transfer(view, [0] * n, shape, None)))
            q.ImageView___read_region(view, region([0] * n, shape), out)
            assert twin.entry_transfer(view, [0] * n, shape, None) == out, name
            assert twin.entry_transfer(view, [s - 1 for s in shape], None, None) == out[-sample:], name
    assert (keep[0] == np.arange(20).reshape(4, 5)).all() and keep[1] == np.arange(20, dtype=np.uint16).tobytes()
    assert twin.entry_transfer(views["memory"], [0, 0], [5, 4], None) == np.arange(20, dtype=np.uint16).tobytes()


def test_a_view_without_read_or_write_refuses_in_its_kinds_words(tmp_path):
    views, keep = kinds(tmp_path)
    uniform, write_only = views["uniform"], views["write-only"]
    views.update({
        "adapted write-only": q.ImageViewFactory_adapt_data_type(write_only, q.DataTypeId_FLOAT),
        "reinterpreted write-only": q.ImageViewFactory_reinterpret(write_only, image_type()),
        "restricted write-only": twin.restricted_view(views["memory"], 2),
        "flip of uniform": q.ImageViewFactory_flip_dimension_index(uniform, 1),
        "stack of uniform": q.ImageViewFactory_stack(q.MultiImageViewFactory_create_from_list([uniform] * 2)),
    })
    # the words of each kind, {} naming the entry ("read" or "readRegion"...)
    cases = [("read", "adapted write-only", "ImageView: readRegion needs the READ capability"),
             ("read", "reinterpreted write-only", "ImageView: {} is not supported by this view"),
             ("read", "write-only", "write-only image view: {} is not available"),
             ("read", "restricted write-only", "restricted view: no readRegion"),
             ("write", "uniform", "ImageView: writeRegion is not supported by this view"),
             ("write", "level of detail", "ImageView: writeRegion is not supported by this view"),
             ("write", "flip of uniform", "ImageView: writeRegion needs the WRITE capability"),
             ("write", "stack of uniform", "ImageView: writeRegion needs the WRITE capability"),
             ("write", "reinterpreted", "ImageView: {} is not supported by this view"),
             ("write", "numpy read-only", "ImageView: {} is not supported by a read-only numpy array"),
             ("write", "read-only", "read-only image view: {} is not available"),
             ("write", "restricted", "restricted view: no writeRegion")]
    for way, name, words in cases:
        view = views[name]
        n = len(vec(q.ImageView_get_shape(view)))
        size = q.DataType_byte_count(q.ImageView_get_data_type(view))
        data = bytearray(size) if way == "read" else bytes(size)
        sample, box = words.format(way), words.format(way + "Region")
        f = {"read": (q.ImageView___read, q.ImageView___read_region),
             "write": (q.ImageView___write, q.ImageView___write_region)}[way]
        assert refused(f[0], view, [1] * n, data) == sample, name
        assert refused(f[1], view, region([0] * n, [1] * n), data) == box, name
        given = None if way == "read" else bytes(data)
        assert refused(twin.entry_transfer, view, [1] * n, None, given) == sample, name
        assert refused(twin.entry_transfer, view, [0] * n, [1] * n, given) == box, name
    assert twin.entry_transfer(views["memory"], [0, 0], [5, 4], None) == np.arange(20, dtype=np.uint16).tobytes()
    assert (keep[0] == np.arange(20).reshape(4, 5)).all()
