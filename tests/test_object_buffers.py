"""Memory that holds Python object references is never lent out as raw memory
to be written: raw bytes there would corrupt the interpreter."""
import numpy as np
import pytest

from proxy import q


def objects():
    return np.array([None, 1, "x", 2.5, None, None, None, None], dtype=object)


def test_object_arrays_are_not_written_or_lent():
    stream = q.StreamAccessFactory_allocate(64)
    q.StreamAccess_write(stream, b"\xff" * 64)
    q.StreamAccess_seek(stream, 0, q.SeekOrigin_BEGIN)
    view = q.ImageViewFactory_allocate([8], q.DataTypeId_UINT64, None, None)
    calls = [
        lambda a: q.StreamAccess___read(stream, a),
        lambda a: q.StreamAccess___read(stream, memoryview(a)),
        lambda a: q.ImageView___read(view, [0], a),
        lambda a: q.ImageViewFactory___from_buffer([8], q.DataTypeId_UINT64, a, None, None),
    ]
    for call in calls:
        a = objects()
        with pytest.raises(TypeError, match="^in method '"):
            call(a)
        assert a.tolist() == [None, 1, "x", 2.5, None, None, None, None]
    # plain memory still goes both ways
    out = bytearray(8)
    q.StreamAccess_seek(stream, 0, q.SeekOrigin_BEGIN)
    assert q.StreamAccess___read(stream, out) == 8 and out == b"\xff" * 8
    q.ImageView___read(view, [0], np.zeros(1, dtype=np.uint64))
