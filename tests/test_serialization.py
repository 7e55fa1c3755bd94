"""Serialization of vectors, value arrays and matrices: the library's bytes
against the independent codec of serial_codec.py, round trips, the decoders'
refusals, and the argument rules of the encoders and decoders."""
import random
import struct

import numpy as np
import pytest

import serial_codec as codec
from proxy import QuelboError, cls, q
from test_arrays import TYPES

SIZES = ["2", "3", "4", "x"]
VECTOR_CODE = {"u8": "u8", "u16": "u_16", "u32": "u_32", "u64": "u_64", "i8": "i8", "i16": "i_16",
               "i32": "i_32", "i64": "i_64", "f": "f", "d": "d"}
MATRICES = [("3f", "f", 3), ("4f", "f", 4), ("3d", "d", 3), ("4d", "d", 4)]


def version():
    v = q.Versioning_version()
    return q.VersionInfo_major_get(v), q.VersionInfo_minor_get(v), q.VersionInfo_patch_get(v)


def stream_of(data=b""):
    s = q.StreamAccessFactory_allocate(0)
    if data:
        q.StreamAccess_write(s, data)
    q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
    return s


def contents(s):
    q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
    out = b""
    while True:
        buf = bytearray(1 << 16)
        got = q.StreamAccess___read(s, buf)
        if not got:
            return out
        out += bytes(buf[:got])


def round_trip(encoder, decoder, value):
    """The value encoded into a new memory stream and decoded from its start."""
    s = stream_of()
    assert encoder(value, s) is None
    q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
    return decoder(s)


def random_values(code, n, rng):
    fmt, prim, bits = codec.ELEMENTS[code]
    if prim == 3:
        raw = [rng.uniform(-1e6, 1e6) for _ in range(n)]
        return list(struct.unpack("<%d%s" % (n, fmt), struct.pack("<%d%s" % (n, fmt), *raw)))
    lo, hi = (0, 2 ** bits - 1) if prim == 1 else (-2 ** (bits - 1), 2 ** (bits - 1) - 1)
    if code == "u64":
        hi = 2 ** 63 - 1  # the sequence items are read as signed 64-bit values
    return [rng.randint(lo, hi) for _ in range(n)]


def encode(fn, value):
    s = stream_of()
    assert fn(value, s) is None
    return contents(s)


def decode(fn, data):
    s = stream_of(data)
    out = fn(s)
    assert q.StreamAccess_tell(s) == len(data)  # the cursor stops right after the record
    return out


# ---------------------------------------------------------------- vectors

@pytest.mark.parametrize("size", SIZES)
@pytest.mark.parametrize("code", sorted(codec.ELEMENTS))
def test_vectors_match_the_codec_both_ways(size, code):
    rng = random.Random(hash((size, code)))
    name = size + VECTOR_CODE[code]
    enc = getattr(q, "Serialization_encode_vector_" + name)
    dec = getattr(q, "Serialization_decode_vector_" + name)
    for n in ([int(size)] if size != "x" else [0, 1, 5, 300]):
        values = random_values(code, n, rng)
        data = codec.vector(code, values, version())
        assert encode(enc, values) == data
        back = decode(dec, data)
        assert type(back).__name__ == "Vector%s%s" % (size.upper(), code)
        assert list(back) == values


def test_vector_items_keep_their_low_bits():
    assert codec.read_vector(encode(q.Serialization_encode_vector_2u8, [300, -1]), "u8") == [44, 255]
    assert codec.read_vector(encode(q.Serialization_encode_vector_xu_64, [-1]), "u64") == [2 ** 64 - 1]
    assert codec.read_vector(encode(q.Serialization_encode_vector_2i8, [200, b"\x01"[0]]), "i8") == [-56, 1]
    assert codec.read_vector(encode(q.Serialization_encode_vector_3d, [True, 0, 1.5]), "d") == [1.0, 0.0, 1.5]
    assert codec.read_vector(encode(q.Serialization_encode_vector_2u8, b"\x01\x02"), "u8") == [1, 2]
    assert codec.read_vector(encode(q.Serialization_encode_vector_xu8, []), "u8") == []
    assert codec.read_vector(encode(q.Serialization_encode_vector_2f, [1, 1e300]), "f") == [1.0, float("inf")]


def test_vector_encoder_refusals_write_nothing():
    s = stream_of()
    enc = q.Serialization_encode_vector_2u8
    cases = [
        ((5, s), ValueError, "input must be a sequence"),
        ((5, 5), ValueError, "input must be a sequence"),
        (((1, 2, 3), s), ValueError, "input sequence has invalid length"),
        (("ab", s), TypeError, "invalid item in sequence - expected long value"),
        (([1.0, 2], s), TypeError, "invalid item in sequence - expected long value"),
        (([1, 2], q.RandomAccessFactory_allocate(4)), TypeError,
         "in method 'Serialization_encode_vector_2u8', argument 2 of type "
         "'std::shared_ptr< quelbo::StreamAccess >'"),
    ]
    for args, exc, text in cases:
        with pytest.raises(exc) as info:
            enc(*args)
        assert str(info.value) == text
    with pytest.raises(TypeError, match="^invalid item in sequence - expected long or float value$"):
        q.Serialization_encode_vector_2f([1, "x"], s)
    with pytest.raises(OverflowError):
        q.Serialization_encode_vector_xu_64([2 ** 63], s)
    with pytest.raises(TypeError, match=r"^Serialization_encode_vector_2u8 expected 2 arguments, got 1$"):
        enc([1, 2])
    assert contents(s) == b""


# ------------------------------------------------------------- value arrays

@pytest.mark.parametrize("s,ctype,np_t", TYPES)
def test_arrays_match_the_codec_both_ways(s, ctype, np_t):
    rng = np.random.default_rng(7)
    code = s
    enc = getattr(q, "Serialization_encode_arrayx" + s)
    dec = getattr(q, "Serialization_decode_arrayx" + s)
    from_numpy = getattr(q, "ArrayX%s_from_numpy" % s)
    info = np.iinfo(np_t) if np.dtype(np_t).kind in "iu" else None
    for shape in [(2, 3, 4), (5,), (3, 0), (1, 1, 1, 2)]:
        for order in "CF":
            if info is not None:
                src = rng.integers(info.min, info.max, size=shape, dtype=np_t, endpoint=True)
            else:
                src = rng.standard_normal(shape).astype(np_t)
            src = np.asarray(src, order=order)
            a = from_numpy(src)
            lay = a.indexer().layout()
            layout = [lay.at(i) for i in range(lay.size())]  # an empty array may come in either order
            order = "C" if layout == list(range(len(shape)))[::-1] else "F"
            data = codec.array(code, list(shape), layout, src.flatten(order).tolist(), version())
            assert encode(enc, a) == data
            back = decode(dec, data)
            assert type(back).__name__ == "ArrayX" + s
            assert getattr(q, "ArrayX%s___eq__" % s)(back, a)
            out = back._to_numpy(None)
            assert out.shape == shape and (out == src).all()
            assert out.flags["C_CONTIGUOUS" if order == "C" else "F_CONTIGUOUS"]
    empty = cls("ArrayX" + s)([])
    data = codec.array(code, [], [], [], version())
    assert encode(enc, empty) == data
    assert getattr(q, "ArrayX%s___eq__" % s)(decode(dec, data), empty)


def test_strided_arrays_are_written_densely_in_their_dimension_order():
    # padded byte strides, the dimensions in memory in the order 0, 2, 1
    a = cls("ArrayXi16")(cls("Indexer")([3, 2, 2], q.DataTypeId_INT16, [4, 32, 12], [0, 2, 1]))
    for i in range(3):
        for j in range(2):
            for k in range(2):
                a.set_at([i, j, k], i * 100 + j * 10 + k)
    values = [i * 100 + j * 10 + k for j in range(2) for k in range(2) for i in range(3)]
    data = codec.array("i16", [3, 2, 2], [0, 2, 1], values, version())
    assert encode(q.Serialization_encode_arrayxi16, a) == data
    back = decode(q.Serialization_decode_arrayxi16, data)
    assert q.ArrayXi16___eq__(back, a) and back.indexer().layout().to_string() == "[0, 2, 1]"


def test_array_encoder_argument_rules():
    s = stream_of()
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'Serialization_encode_arrayxu8', "
                                         r"argument 1 of type 'quelbo::ArrayXu8 const &'$"):
        q.Serialization_encode_arrayxu8(None, 5)
    for bad in ([1, 2], cls("ArrayXi8")([2]), np.zeros(2, np.uint8)):
        with pytest.raises(TypeError, match=r"^in method 'Serialization_encode_arrayxu8', argument 1 of type "
                                            r"'quelbo::ArrayXu8 const &'$"):
            q.Serialization_encode_arrayxu8(bad, s)
    with pytest.raises(TypeError, match=r"^in method 'Serialization_encode_matrix_3f', argument 1 of type "
                                        r"'quelbo::Matrix3f const &'$"):
        q.Serialization_encode_matrix_3f(q.Matrix3d_identity(), s)
    with pytest.raises(TypeError, match=r"^in method 'Serialization_decode_arrayxu8', argument 1 of type "
                                        r"'std::shared_ptr< quelbo::StreamAccess >'$"):
        q.Serialization_decode_arrayxu8(q.RandomAccessFactory_allocate(4))
    assert contents(s) == b""


# ------------------------------------------------------------------ matrices

@pytest.mark.parametrize("name,code,n", MATRICES)
def test_matrices_match_the_codec_both_ways(name, code, n):
    rng = random.Random(n)
    m = getattr(q, "Matrix%s_identity" % name)()
    values = random_values(code, n * n, rng)
    for c in range(n):
        for r in range(n):
            getattr(q, "Matrix%s_set_at" % name)(m, c, r, values[c * n + r])
    data = codec.matrix(code, n, values, version())
    assert encode(getattr(q, "Serialization_encode_matrix_" + name), m) == data
    back = decode(getattr(q, "Serialization_decode_matrix_" + name), data)
    assert type(back).__name__ == "Matrix" + name
    assert getattr(q, "Matrix%s___eq__" % name)(back, m)


# ---------------------------------------------------- decoders' refusals

def test_decoders_refuse_magic_version_kind_and_type():
    v = version()
    good = codec.vector("u8", [1, 2], v)
    cases = [
        (q.Serialization_decode_vector_2u8, b"XLBO" + good[4:], "invalid magic number"),
        (q.Serialization_decode_vector_2u8, codec.vector("u8", [1, 2], (v[0] + 1, 0, 0)), "not compatible"),
        (q.Serialization_decode_vector_2u8, codec.vector("u8", [1, 2], (v[0], v[1] + 1, 0)), "not compatible"),
        (q.Serialization_decode_matrix_3f, good, "object to decode is not a Matrix"),
        (q.Serialization_decode_arrayxu8, good, "object to decode is not an ArrayX"),
        (q.Serialization_decode_vector_2u8, codec.matrix("f", 3, [0.0] * 9, v), "not a Vector"),
        (q.Serialization_decode_vector_2i8, good, "data type .* not compatible with requested vector type"),
        (q.Serialization_decode_vector_3u8, good, "size 2 read from stream"),
        (q.Serialization_decode_matrix_4d, codec.matrix("d", 3, [0.0] * 9, v), "data type or dimension"),
        (q.Serialization_decode_arrayxi16, codec.array("u8", [2], [0], [1, 2], v), "requested array type"),
        (q.Serialization_decode_arrayxu8, codec.array("u8", [2, 2], [0, 0], [1, 2, 3, 4], v), "layout"),
        (q.Serialization_decode_vector_2u8, b"", "truncated"),
    ]
    for fn, data, text in cases:
        with pytest.raises(QuelboError, match=text):
            fn(stream_of(data))
    # an older minor version of the same major version is read, and any patch (unsigned 32 bits)
    for recorded in ((v[0], 0, 0), (v[0], v[1], 2**31), (v[0], v[1], 2**32 - 1)):
        older = codec.vector("u8", [1, 2], recorded)
        assert list(decode(q.Serialization_decode_vector_2u8, older)) == [1, 2]
    with pytest.raises(QuelboError, match=r"version %d\.4294967295\.4294967295 read from stream" % v[0]):
        decode(q.Serialization_decode_vector_2u8, codec.vector("u8", [1, 2], (v[0], 2**32 - 1, 2**32 - 1)))
    # a fixed vector reads back as a dynamic one
    assert list(decode(q.Serialization_decode_vector_xu8, good)) == [1, 2]


def test_records_follow_each_other_in_one_stream():
    s = stream_of()
    q.Serialization_encode_vector_3i_16([1, -2, 3], s)
    q.Serialization_encode_matrix_4f(q.Matrix4f_identity(), s)
    q.Serialization_encode_arrayxd(q.ArrayXd_from_numpy(np.arange(6.0).reshape(2, 3)), s)
    q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
    assert list(q.Serialization_decode_vector_3i_16(s)) == [1, -2, 3]
    assert q.Matrix4f___eq__(q.Serialization_decode_matrix_4f(s), q.Matrix4f_identity())
    assert (q.Serialization_decode_arrayxd(s)._to_numpy(None) == np.arange(6.0).reshape(2, 3)).all()
    with pytest.raises(QuelboError, match="truncated"):
        q.Serialization_decode_vector_3i_16(s)


def test_streams_none_unreadable_unwritable_and_full(tmp_path):
    path = str(tmp_path / "v.bin")
    with open(path, "wb") as f:
        f.write(codec.vector("u8", [1, 2], version()))
    for fn, args in [(q.Serialization_encode_vector_2u8, ([1, 2], None)),
                     (q.Serialization_decode_vector_2u8, (None,)),
                     (q.Serialization_encode_arrayxu8, (cls("ArrayXu8")([2]), None)),
                     (q.Serialization_decode_matrix_3f, (None,))]:
        with pytest.raises(QuelboError, match="no stream"):
            fn(*args)
    with pytest.raises(QuelboError, match="WRITE"):
        q.Serialization_encode_vector_2u8([1, 2], q.StreamAccessFactory_open_file_read(path))
    with open(path, "rb") as f:
        assert f.read()[-2:] == b"\x01\x02"
    with pytest.raises(QuelboError, match="READ"):
        q.Serialization_decode_vector_2u8(q.StreamAccessFactory_open_file_write(str(tmp_path / "w.bin")))
    assert list(q.Serialization_decode_vector_2u8(q.StreamAccessFactory_open_file_read(path))) == [1, 2]
    # a device that takes fewer bytes than given fails the encode
    import _quelbo_twin as twin
    full = twin.sequential_stream(stream_of(), 10)
    with pytest.raises(QuelboError, match="took 10 of"):
        q.Serialization_encode_vector_2u8([1, 2], full)


def test_streams_that_cannot_seek_grow_as_bytes_arrive():
    import _quelbo_twin as twin
    src = np.arange(3 * 1024 * 1024, dtype=np.uint8).reshape(1024, 3072)
    inner = stream_of()
    q.Serialization_encode_arrayxu8(q.ArrayXu8_from_numpy(src), inner)
    q.StreamAccess_seek(inner, 0, q.SeekOrigin_BEGIN)
    back = q.Serialization_decode_arrayxu8(twin.sequential_stream(inner, 0))
    assert (back._to_numpy(None) == src).all()
    data = contents(inner)
    with pytest.raises(QuelboError, match="truncated"):
        q.Serialization_decode_arrayxu8(twin.sequential_stream(stream_of(data[:-1]), 0))


def test_docstrings():
    assert q.Serialization_encode_vector_4u8.__doc__ == (
        "\nFactory to serialize a Vector4 into a stream.\n:type vect: :py:class:`Vector4u8`\n"
        ":param vect: Vector4 to serialize\n:type outStream: :py:class:`StreamAccess`\n"
        ":param outStream: Stream where data is written\n")
    assert q.Serialization_decode_vector_xu8.__doc__.splitlines()[1:6] == [
        "Factory to unserialize a VectorX from a stream.", ":type inStream: :py:class:`StreamAccess`",
        ":param inStream: Stream from where data is read", ":rtype: :py:class:`VectorXu8`",
        ":return: a VectorX built from input Stream"]
    assert q.Serialization_decode_vector_3u8.__doc__.splitlines()[1] == \
        "Method to load a Vector3 which has been serialized into a stream."
    assert q.Serialization_decode_arrayxi8.__doc__ == (
        "\nDecode an array from a stream.\n\n:type src: :py:class:`StreamAccess`\n"
        ":param src: The stream to decode from.\n\n:rtype: :py:class:`ArrayXi8`\n:return: The decoded array.\n")
    assert q.Serialization_decode_matrix_3f.__doc__.endswith(
        ":raises: Error if object to decode is not a Matrix\n:raises: Error if data type or dimension read from "
        "stream is not compatible with requested matrix type\n")
    names = [n for n in dir(q) if n.startswith("Serialization_")]
    documented = [n for n in names if getattr(q, n).__doc__]
    assert len(documented) == 16
    assert q.delete_Serialization(None) is None


def test_method_table_order():
    names = [n for n in q.__dict__ if n.startswith("Serialization_") or n == "delete_Serialization"]
    arrays = ["i8", "i16", "i32", "i64", "u8", "u16", "u32", "u64", "f", "d"]
    vectors = ["u8", "u_16", "u_32", "u_64", "i8", "i_16", "i_32", "i_64", "f", "d"]
    expected = ["Serialization_encode_image_view", "Serialization_decode_image_view"]
    expected += ["Serialization_encode_arrayx" + c for c in arrays]
    expected += ["Serialization_decode_arrayx" + c for c in arrays]
    for size in SIZES:
        expected += ["Serialization_encode_vector_" + size + c for c in vectors]
        expected += ["Serialization_decode_vector_" + size + c for c in vectors]
    expected += ["Serialization_encode_data_frame_view", "Serialization_decode_data_frame_view"]
    expected += ["Serialization_encode_matrix_" + m for m in ("3f", "4f", "3d", "4d")]
    expected += ["Serialization_decode_matrix_" + m for m in ("3f", "4f", "3d", "4d")]
    expected += ["delete_Serialization", "Serialization_swigregister"]
    assert names == expected and len(expected) == 114


@pytest.mark.skipif("asan" in __import__("os").environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer keeps freed memory")
def test_memory_stays_flat_over_repeated_calls():
    import gc

    def rss_pages():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1])

    import _quelbo_twin as twin
    a = q.ArrayXf_from_numpy(np.ones((16, 16), np.float32))
    m = q.Matrix4d_identity()
    bad = stream_of(b"QLBO" + b"\xff" * 40)
    view = q.ImageViewFactory_allocate([8, 8], q.DataTypeId_UINT16)
    q.ImageView_set_metadata(view, q.MetadataNodeFactory_create("k", q.VariantDataValueFactory_create(["a", "b"])))
    frame = twin.data_frame([("s", q.DataTypeId_UTF8_STRING, "u", ["x", "yz"])], 2)
    crop = q.ImageViewFactory_extract_region(view, cls("RegionXu64")([1, 1], [2, 2]))
    writer = twin.recording_writer()
    option = q.VariantDataValueFactory_create(1)

    def rounds(n):
        for _ in range(n):
            s = stream_of()
            q.Serialization_encode_vector_xd([1.0] * 20, s)
            q.Serialization_encode_arrayxf(a, s)
            q.Serialization_encode_matrix_4d(m, s)
            q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
            q.Serialization_decode_vector_xd(s)
            q.Serialization_decode_arrayxf(s)
            q.Serialization_decode_matrix_4d(s)
            views = stream_of()
            q.Serialization_encode_image_view(view, views)
            q.Serialization_encode_data_frame_view(frame, views)
            q.StreamAccess_seek(views, 0, q.SeekOrigin_BEGIN)
            q.Serialization_decode_image_view(views)
            q.Serialization_decode_data_frame_view(views)
            q.DependencyGraph__has_common_ancestor(crop, view)
            q.Writer_to_string(writer)
            for fail in (lambda: q.Serialization_decode_arrayxf(s), lambda: q.Serialization_encode_vector_2u8("ab", s),
                         lambda: q.Serialization_decode_vector_2u8(bad), lambda: q.Serialization_encode_arrayxf(a, None),
                         lambda: q.Serialization_decode_image_view(s), lambda: q.Writer_set_option(writer, "x", option),
                         lambda: q.DependencyGraph__has_common_ancestor(None, view)):
                try:
                    fail()
                except Exception:
                    pass
            q.StreamAccess_seek(bad, 0, q.SeekOrigin_BEGIN)

    rounds(1000)
    before = rss_pages()
    rounds(3000)
    gc.collect()
    assert rss_pages() - before < 256
