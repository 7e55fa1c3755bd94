"""What an array encoder writes its decoder reads back equal, whatever the
layout (explicit strides, empty shapes of any size); what a decoder would
refuse its encoder refuses before writing a byte."""

import numpy as np
import pytest

import serial_codec as codec
from proxy import QuelboError, cls, q
from test_arrays import TYPES, dtype_id
from test_serialization import contents, decode, stream_of, version

PREFIX = b"earlier record"


def refused_writing_nothing(encoder, value, text):
    s = stream_of(PREFIX)
    q.StreamAccess_seek(s, 0, q.SeekOrigin_END)
    with pytest.raises(QuelboError, match=text):
        encoder(value, s)
    assert q.StreamAccess_tell(s) == len(PREFIX) and contents(s) == PREFIX


def random_elements(rng, np_t, count):
    if np.dtype(np_t).kind == "f":  # any bits but NaN, which compares unequal
        bits = rng.integers(0, 256, count * np.dtype(np_t).itemsize, dtype=np.uint8).view(np_t)
        return np.where(np.isnan(bits), np_t(-0.0), bits)
    info = np.iinfo(np_t)
    return rng.integers(info.min, info.max, count, dtype=np_t, endpoint=True)


def strided_array(rng, s, np_t, shape):
    """An array over padded byte strides, its dimensions in memory in a random
    order, filled element by element."""
    size = np.dtype(np_t).itemsize
    layout = [int(d) for d in rng.permutation(len(shape))]
    strides, step = [0] * len(shape), size * int(rng.integers(1, 3))
    for d in layout:
        strides[d] = step
        step *= max(shape[d], 1) * int(rng.integers(1, 3))
    a = cls("ArrayX" + s)(cls("Indexer")(list(shape), dtype_id(s), strides, layout))
    src = random_elements(rng, np_t, int(np.prod(shape))).reshape(shape)
    for index in np.ndindex(*shape):
        a.set_at(list(index), src[index].item())
    return a, src, layout


@pytest.mark.parametrize("s,ctype,np_t", TYPES)
def test_random_arrays_encode_and_decode_equal(s, ctype, np_t):
    rng = np.random.default_rng(len(s) * 11 + np.dtype(np_t).itemsize)
    enc, dec = getattr(q, "Serialization_encode_arrayx" + s), getattr(q, "Serialization_decode_arrayx" + s)
    shapes = [tuple(int(x) for x in rng.integers(0, 4, int(rng.integers(1, 6)))) for _ in range(12)]
    for shape in shapes:
        a, src, layout = strided_array(rng, s, np_t, shape)
        data = codec.array(s, list(shape), layout, src.transpose(layout[::-1]).flatten().tolist(), version())
        s_out = stream_of()
        enc(a, s_out)
        assert contents(s_out) == data
        back = decode(dec, data)
        assert getattr(q, "ArrayX%s___eq__" % s)(back, a)
        lay = back.indexer().layout()
        assert [lay.at(i) for i in range(lay.size())] == layout
        assert (back._to_numpy(None) == src).all()
    # the most dimensions a record holds
    shape = [1] * 60 + [2, 1, 2, 3]
    a = cls("ArrayX" + s)(shape)
    for i, index in enumerate(np.ndindex(2, 2, 3)):
        a.set_at([0] * 60 + [index[0], 0, index[1], index[2]], i)
    s_out = stream_of()
    enc(a, s_out)
    assert getattr(q, "ArrayX%s___eq__" % s)(decode(dec, contents(s_out)), a)


@pytest.mark.parametrize("s,ctype,np_t", TYPES)
def test_empty_arrays_of_any_shape_decode_equal(s, ctype, np_t):
    enc, dec = getattr(q, "Serialization_encode_arrayx" + s), getattr(q, "Serialization_decode_arrayx" + s)
    top = 2 ** 64 - 1
    for shape, layout in [([2 ** 62, 0], [0, 1]), ([0, top], [1, 0]), ([top, 0, top], [2, 0, 1]),
                          ([2 ** 63, 0, 2 ** 63, 5], [0, 1, 2, 3]), ([3, 0], [0, 1])]:
        signed = [x - 2 ** 64 if x >= 2 ** 63 else x for x in shape]  # sequence items are signed 64-bit
        a = cls("ArrayX" + s)(cls("Indexer")(signed, dtype_id(s), [0] * len(shape), layout))
        data = codec.array(s, shape, layout, [], version())
        s_out = stream_of()
        enc(a, s_out)
        assert contents(s_out) == data
        back = decode(dec, data)
        assert getattr(q, "ArrayX%s___eq__" % s)(back, a)
        got = back.shape()
        assert [got.at(i) for i in range(got.size())] == shape and back.indexer().element_count() == 0
    # where the dense strides fit, an empty array comes back dense as before
    back = decode(dec, codec.array(s, [3, 0], [0, 1], [], version()))
    assert back.indexer().byte_stride().to_string() == "[%d, %d]" % (np.dtype(np_t).itemsize,
                                                                     3 * np.dtype(np_t).itemsize)


@pytest.mark.parametrize("s,ctype,np_t", TYPES)
def test_arrays_of_too_many_dimensions_are_refused_before_a_byte(s, ctype, np_t):
    enc = getattr(q, "Serialization_encode_arrayx" + s)
    for n in (65, 200):
        refused_writing_nothing(enc, cls("ArrayX" + s)([1] * n),
                                "^Serialization: an ArrayX of %d dimensions cannot be written$" % n)


def test_image_views_the_decoder_cannot_lay_out_are_refused_before_a_byte():
    # no samples, but a dense layout of [2**62, 0] doubles has a stride past 64 bits
    source = q.ImageViewFactory_allocate([2 ** 62, 0], q.DataTypeId_UINT8)
    wide = q.ImageViewFactory_adapt_data_type(source, q.DataTypeId_DOUBLE)
    refused_writing_nothing(q.Serialization_encode_image_view, wide, "^image size: size overflows 64 bits$")
    # the first axis empty: every stride of the layout counts, and it comes back
    s = stream_of()
    q.Serialization_encode_image_view(q.ImageViewFactory_allocate([0, 2 ** 62], q.DataTypeId_DOUBLE), s)
    back = decode(q.Serialization_decode_image_view, contents(s))
    assert q.ImageView_get_shape(back).to_string() == "[0, %d]" % 2 ** 62
    refused_writing_nothing(q.Serialization_encode_image_view, q.ImageViewFactory_allocate([1] * 65, 65800),
                            "^Serialization: an ImageView of 65 dimensions cannot be written$")
