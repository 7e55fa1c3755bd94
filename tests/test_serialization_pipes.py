"""Serialization through file streams. Into a file that is not regular every
encoder hands its record to the file before it returns, and fails with the
system's reason when the file refuses it (a full device, a pipe whose reader
has gone); into a regular file an encode buffers its record as a write does,
and a refusal raises where the bytes reach the file, at every later flush,
or, for a stream let go, as an unraisable exception. Records with empty
strings decode from a pipe."""
import os

import pytest

from helpers import exact, run_child
from proxy import QuelboError, cls, q
from test_serialization import contents, stream_of
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

ENCODERS = sorted(n for n in dir(q) if n.startswith("Serialization_encode_"))


def value_for(name):
    """A small value of the kind the encoder takes."""
    kind = name[len("Serialization_encode_"):]
    if kind == "image_view":
        return q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT8)
    if kind == "data_frame_view":
        return twin.data_frame([("x", q.DataTypeId_INT16, "", b"\1\0\2\0")], 2)
    if kind.startswith("arrayx"):
        return cls("ArrayX" + kind[len("arrayx"):])([2, 3])
    if kind.startswith("matrix_"):
        return getattr(q, "Matrix%s_identity" % kind[len("matrix_"):])()
    size = kind[len("vector_")]
    return [1] * (3 if size == "x" else int(size))


def record_of(name, value):
    s = stream_of()
    getattr(q, name)(value, s)
    return contents(s)


def pipe_stream(mode):
    """A stream over a new pipe's end ("w" or "r") and the pipe's two descriptors."""
    r, w = os.pipe()
    fd = w if mode == "w" else r
    opener = q.StreamAccessFactory_open_file_write if mode == "w" else q.StreamAccessFactory_open_file_read
    return opener("/proc/self/fd/%d" % fd), r, w


@pytest.mark.parametrize("name", ENCODERS)
def test_every_encoder_delivers_its_record_or_fails(name):
    value = value_for(name)
    record = record_of(name, value)
    assert len(record) < 4096  # a record that the stream would only buffer
    # a pipe with a reader holds the whole record once the encode returns
    s, r, w = pipe_stream("w")
    os.close(w)
    getattr(q, name)(value, s)
    os.set_blocking(r, False)
    assert os.read(r, 1 << 16) == record
    # a pipe whose reader has gone (SIGPIPE is ignored: the write fails)
    os.close(r)
    with pytest.raises(QuelboError, match=r"^cannot flush file '/proc/self/fd/\d+': Broken pipe$"):
        getattr(q, name)(value, s)
    full = q.StreamAccessFactory_open_file_write("/dev/full")
    with pytest.raises(QuelboError, match=r"^cannot flush file '/dev/full': No space left on device$"):
        getattr(q, name)(value, full)


def test_a_refused_write_keeps_failing_every_flush():
    s = q.StreamAccessFactory_open_file_write("/dev/full")
    assert q.StreamAccess_write(s, b"abc") == 3  # only buffered
    for _ in range(3):  # the bytes are lost: no later flush says they arrived
        with pytest.raises(QuelboError, match="^cannot flush file '/dev/full': No space left on device$"):
            q.StreamAccess_flush(s)
    assert q.StreamAccess_get_fail(s)
    # the same for a write that fails after bytes were accepted
    s, r, w = pipe_stream("w")
    os.close(w)
    q.StreamAccess_write(s, b"first")
    os.close(r)
    with pytest.raises(QuelboError, match="Broken pipe"):
        q.StreamAccess_write(s, bytes(1 << 20))
    with pytest.raises(QuelboError, match="^cannot flush file .*: Broken pipe$"):
        q.StreamAccess_flush(s)


def test_empty_strings_decode_from_a_pipe():
    view = q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8)  # an empty spatial unit
    q.ImageView___write_region(view, cls("RegionXu64")([0, 0], [2, 2]), b"\1\2\3\4")
    node = cls("MetadataNode")("", q.VariantDataValueFactory_create(""))
    q.MetadataNode_add_child(node, cls("MetadataNode")("empty", q.VariantDataValueFactory_create([""])))
    q.MetadataNode_add_child(node, cls("MetadataNode")("none", twin.raw_value(q.DataTypeId_DOUBLE, b"", 0)))
    q.ImageView_set_metadata(view, node)
    frame = twin.data_frame([("", q.DataTypeId_UTF8_STRING, "", ["", "a", ""]),
                             ("n", q.DataTypeId_UINT8, "", b"\7\0\1")], 3)
    empty_frame = twin.data_frame([("", q.DataTypeId_UINT8, "", b"")], 0)
    for name, value in [("image_view", view), ("data_frame_view", frame), ("data_frame_view", empty_frame),
                        ("vector_xu8", []), ("arrayxd", cls("ArrayXd")([0, 2]))]:
        record = record_of("Serialization_encode_" + name, value)
        s, r, w = pipe_stream("r")
        os.write(w, record + record)
        os.close(w)
        os.close(r)
        decode = getattr(q, "Serialization_decode_" + name)
        for _ in range(2):  # records follow each other; the stream stops right after each
            back = decode(s)
            if name.startswith("vector"):
                back = list(back)
            assert record_of("Serialization_encode_" + name, back) == record
        assert q.StreamAccess___read(s, bytearray(1)) == 0


def test_an_encode_into_a_regular_file_buffers_like_a_write(tmp_path):
    path = tmp_path / "a.bin"
    value = [1.0, 2.0, 3.0]
    record = record_of("Serialization_encode_vector_3d", value)
    s = q.StreamAccessFactory_open_file_write(str(path))
    q.Serialization_encode_vector_3d(value, s)
    assert path.read_bytes() == b""  # held by the stream, as any write of its size
    q.StreamAccess_flush(s)
    assert path.read_bytes() == record
    # a stream reading the file back decodes the records it wrote
    rw = q.StreamAccessFactory_open_file(str(path))
    q.StreamAccess_seek(rw, 0, q.SeekOrigin_END)
    for _ in range(2):
        q.Serialization_encode_vector_3d(value, rw)
    q.StreamAccess_seek(rw, len(record), q.SeekOrigin_BEGIN)
    assert list(q.Serialization_decode_vector_3d(rw)) == value
    del s, rw  # what is still held reaches the file as the streams go
    assert path.read_bytes() == record * 3


def test_a_refused_encode_into_a_regular_file_raises_at_every_later_flush_and_as_the_stream_goes(tmp_path):
    """A regular file refuses bytes past the file size limit of the process (a child here)."""
    paths = [str(tmp_path / name) for name in ("a.bin", "b.bin", "c.bin")]
    child = run_child("""
        import resource, sys
        from proxy import q
        paths = %r
        limit = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (1000, limit[1]))
        s = q.StreamAccessFactory_open_file_write(paths[0])
        encoded = 0
        try:
            while encoded < 10 ** 5:
                q.Serialization_encode_vector_3d([1.0, 2.0, 3.0], s)
                encoded += 1
        except Exception as e:
            print(encoded * 60 >= 1000, e)
        for _ in range(2):
            try:
                q.StreamAccess_flush(s)
            except Exception as e:
                print(e)
        reported = []
        sys.unraisablehook = lambda u: reported.append(str(u.exc_value))
        t = q.StreamAccessFactory_open_file_write(paths[1])
        for _ in range(20):
            q.Serialization_encode_vector_3d([1.0, 2.0, 3.0], t)
        store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(paths[2]))
        q.StreamAccess_write(q.StreamAccessFactory_open_file_write("/dev/full"), b"abc")
        del t
        print(reported)
        q.RandomAccess_write(store, 0, b"x")  # a store keeps its stream
        print(len(reported))
        resource.setrlimit(resource.RLIMIT_FSIZE, limit)
    """ % paths)
    assert child.returncode == 0, child.stderr
    too_large = "'%s': File too large"
    undelivered = ["cannot flush file " + too_large % paths[1], "cannot flush file '/dev/full': No space left on device"]
    assert child.stdout.splitlines() == [
        "True cannot write file " + too_large % paths[0],
        "cannot flush file " + too_large % paths[0],
        "cannot flush file " + too_large % paths[0],
        str(undelivered[::-1]),
        "2",
    ]
    for text in undelivered:  # the library's log says so as well
        assert "[quelbo] %s\n" % text in child.stderr
    assert os.path.getsize(paths[0]) == os.path.getsize(paths[1]) == 1000
