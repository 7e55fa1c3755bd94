"""Serialization of data-frame views: round trips of every column kind with
units, the bytes against the independent codec, refusals and argument
rules, and data frames in the dependency graph."""
import struct

import numpy as np
import pytest

import serial_codec as codec
from proxy import QuelboError, q
from test_serialization import contents, stream_of, version
from test_serialization import round_trip as serial_round_trip
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

UTF8 = q.DataTypeId_UTF8_STRING
HALF = 3 << 16 | 1 << 8 | 16
INT12 = 2 << 16 | 1 << 8 | 12


def column(name, tid, unit, rows, rng):
    if tid == UTF8:
        return name, tid, unit, [("é%d" % i) * (i % 4) for i in range(rows)]
    size = {q.DataTypeId_UINT8: 1, q.DataTypeId_INT16: 2, INT12: 2, HALF: 2, q.DataTypeId_UINT32: 4,
            q.DataTypeId_FLOAT: 4, q.DataTypeId_INT64: 8, q.DataTypeId_DOUBLE: 8}[tid]
    return name, tid, unit, rng.integers(0, 256, size=rows * size, dtype=np.uint8).tobytes()


def frame(rows, seed=0):
    rng = np.random.default_rng(seed)
    spec = [column("id", q.DataTypeId_INT64, "", rows, rng), column("name", UTF8, "", rows, rng),
            column("mass", q.DataTypeId_DOUBLE, "kg", rows, rng), column("flag", q.DataTypeId_UINT8, "", rows, rng),
            column("level", INT12, "dB", rows, rng), column("half", HALF, "", rows, rng),
            column("count", q.DataTypeId_UINT32, "µm", rows, rng), column("ratio", q.DataTypeId_FLOAT, "", rows, rng),
            column("delta", q.DataTypeId_INT16, "", rows, rng)]
    return twin.data_frame(spec, rows), (rows, spec)


def round_trip(f):
    out = serial_round_trip(q.Serialization_encode_data_frame_view, q.Serialization_decode_data_frame_view, f)
    assert type(out).__name__ == "DataFrameView"
    return out


@pytest.mark.parametrize("rows", [0, 1, 7, 5000, 150_000])  # the last: columns of several chunks
def test_round_trips(rows):
    f, expected = frame(rows, rows)
    assert twin.frame_content(f) == expected
    assert twin.frame_content(round_trip(f)) == expected
    empty = twin.data_frame([], 0)
    assert twin.frame_content(round_trip(empty)) == (0, [])


def test_bytes_match_the_codec():
    f = twin.data_frame([("x", q.DataTypeId_INT16, "mm", struct.pack("<3h", 1, -2, 3)),
                         ("s", UTF8, "", ["a", "", "né"])], 3)
    s = struct.pack
    body = s("<Q", 2)
    body += s("<Q", 1) + b"x" + s("<Q", q.DataTypeId_INT16) + s("<Q", 2) + b"mm"
    body += s("<Q", 1) + b"s" + s("<Q", UTF8) + s("<Q", 0)
    body += s("<Q", 3) + codec.SYNC
    body += s("<3h", 1, -2, 3)
    for text in (b"a", b"", "né".encode()):
        body += s("<Q", len(text)) + text
    body += codec.SYNC
    data = codec.header(codec.DATA_FRAME, 0, version()) + body
    out = stream_of()
    q.Serialization_encode_data_frame_view(f, out)
    assert contents(out) == data
    assert twin.frame_content(q.Serialization_decode_data_frame_view(stream_of(data))) == twin.frame_content(f)


def test_refusals_and_argument_rules():
    f, _ = frame(3)
    s = stream_of()
    q.Serialization_encode_data_frame_view(f, s)
    data = contents(s)
    for fn, bad, text in [(q.Serialization_decode_data_frame_view, data[:-5], "truncated"),
                          (q.Serialization_decode_data_frame_view, data[:-4] + b"SYNX", "synchronization tag"),
                          (q.Serialization_decode_image_view, data, "object to decode is not an ImageView"),
                          (q.Serialization_decode_data_frame_view, codec.vector("u8", [1], version()),
                           "object to decode is not a DataFrameView")]:
        with pytest.raises(QuelboError, match=text):
            fn(stream_of(bad))
    empty = stream_of()
    with pytest.raises(QuelboError, match="DataFrameView has not READ capacity"):
        q.Serialization_encode_data_frame_view(twin.unreadable_frame(f), empty)
    with pytest.raises(QuelboError, match="no DataFrameView"):
        q.Serialization_encode_data_frame_view(None, empty)
    # a column type no data frame in memory holds is refused before any byte
    with pytest.raises(QuelboError, match="cannot be written"):
        q.Serialization_encode_data_frame_view(twin.foreign_frame([q.DataTypeId_INT8, q.DataTypeId_UTF16_STRING], 2),
                                               empty)
    assert contents(empty) == b""
    view = q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8)
    with pytest.raises(TypeError, match=r"^in method 'Serialization_encode_data_frame_view', argument 1 of type "
                                        r"'std::shared_ptr< quelbo::DataFrameView >'$"):
        q.Serialization_encode_data_frame_view(view, empty)
    with pytest.raises(TypeError, match=r"^in method 'Serialization_encode_image_view', argument 1 of type "
                                        r"'std::shared_ptr< quelbo::ImageView >'$"):
        q.Serialization_encode_image_view(f, empty)
    assert q.Serialization_encode_data_frame_view.__doc__.splitlines()[1] == \
        "Factory to serialize a DataFrameView into a stream."
    assert q.Serialization_decode_data_frame_view.__doc__.splitlines()[-2:] == [
        ":raises: Error if object to decode is not a DataFrameView",
        ":raises: Error if decoding issue (synchronization tag not found)"]


def test_data_frames_in_the_dependency_graph():
    f, _ = frame(2)
    g, _ = frame(2)
    view = q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8)
    assert q.DependencyGraph__has_common_ancestor(f, f) == q.CommonAncestorStatus_SHARE_ANCESTOR
    for a, b in ((f, view), (f, g)):
        first = q.DependencyGraph__has_common_ancestor(a, b)
        assert first == q.DependencyGraph__has_common_ancestor(b, a)
        assert first != q.CommonAncestorStatus_SHARE_ANCESTOR
