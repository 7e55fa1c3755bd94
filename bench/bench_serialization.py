"""Serialization against numpy moving the same bytes: a 64 MiB ArrayXd and a
64 MiB image view encoded to and decoded from a file stream (vs
ndarray.tofile and numpy.fromfile) and a memory stream (vs a memory copy of
the array), timed in turns; a 256 MiB data frame of four float64 columns the
same ways (vs tofile and fromfile of the four columns), with the growth of
the peak resident size while it decodes (vs numpy.fromfile's); and small records encoded into a regular file's
stream, buffered like writes (vs struct.pack + a Python file's write of the
same bytes), and into a stream that cannot seek, each delivered before the
encode returns (vs a Python file's write and flush). Run with /usr/bin/python3."""
import os
import struct
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from timing import compare, compare_stmt, report, section  # noqa: E402
from proxy import q  # noqa: E402

MIB = 1 << 20
TOTAL = 64 * MIB
FRAME = 256 * MIB



def rows(label, value, encode, decode, folder):
    src = np.arange(TOTAL // 8, dtype=np.float64)
    path = os.path.join(folder, "bench.bin")
    raw = os.path.join(folder, "raw.bin")

    def to_file():
        s = q.StreamAccessFactory_open_file_write(path)
        encode(value, s)
        q.StreamAccess_flush(s)

    def from_file():
        decode(q.StreamAccessFactory_open_file_read(path))

    memory = q.StreamAccessFactory_allocate(TOTAL + 4096)

    def to_memory():
        q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
        encode(value, memory)

    def from_memory():
        q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
        decode(memory)

    section(label)
    compare("encode to a file", to_file, "ndarray.tofile", lambda: src.tofile(raw), rounds=5)
    compare("decode from a file", from_file, "numpy.fromfile", lambda: np.fromfile(raw, dtype=np.float64), rounds=5)
    compare("encode to memory", to_memory, "ndarray.copy", src.copy, rounds=5)
    compare("decode from memory", from_memory, "ndarray.copy", src.copy, rounds=5)


def resident_growth(fn):
    """MiB the process's peak resident size grows by during fn() (Linux)."""
    def peak():
        with open("/proc/self/status") as f:
            return next(int(line.split()[1]) for line in f if line.startswith("VmHWM")) / 1024
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = peak()
    fn()
    return peak() - before


def frame_rows(folder):
    columns = [np.arange(FRAME // 32, dtype=np.float64) * (c + 1) for c in range(4)]
    frame = q.DataFrameViewFactory__allocate([4, len(columns[0])], ["a", "b", "c", "d"], [q.DataTypeId_DOUBLE] * 4)
    for c, column in enumerate(columns):
        q.DataFrameView__write_bytes(frame, c, 0, len(column), column)
    path = os.path.join(folder, "frame.bin")
    raw = os.path.join(folder, "columns.bin")

    def to_file():
        s = q.StreamAccessFactory_open_file_write(path)
        q.Serialization_encode_data_frame_view(frame, s)
        q.StreamAccess_flush(s)

    def tofile():
        with open(raw, "wb") as f:
            for column in columns:
                column.tofile(f)

    def from_file():
        return q.Serialization_decode_data_frame_view(q.StreamAccessFactory_open_file_read(path))

    def fromfile():
        with open(raw, "rb") as f:
            return [np.fromfile(f, dtype=np.float64, count=len(column)) for column in columns]

    memory = q.StreamAccessFactory_allocate(FRAME + 4096)

    def to_memory():
        q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
        q.Serialization_encode_data_frame_view(frame, memory)

    def from_memory():
        q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
        q.Serialization_decode_data_frame_view(memory)

    section("Serialization of a 256 MiB data frame, four float64 columns")
    compare("encode to a file", to_file, "ndarray.tofile x4", tofile, rounds=5)
    compare("decode from a file", from_file, "numpy.fromfile x4", fromfile, rounds=5)
    compare("encode to memory", to_memory, "ndarray.copy x4", lambda: [c.copy() for c in columns], rounds=5)
    compare("decode from memory", from_memory, "ndarray.copy x4", lambda: [c.copy() for c in columns], rounds=5)
    ours, theirs = resident_growth(from_file), resident_growth(fromfile)
    report("decode from a file, peak resident growth", ours, "numpy.fromfile x4", theirs, unit="MiB")


def small_records(folder):
    """A record encoded into a regular file's stream is buffered like a write (vs struct.pack + file.write of the
    same bytes); into a stream that cannot seek (/dev/null here), each is delivered before the encode returns
    (vs file.write + flush)."""
    section("Small records into a file stream")
    value = [1.0, 2.0, 3.0]  # the Python floats the anchor packs
    memory = q.StreamAccessFactory_allocate(0)
    q.Serialization_encode_vector_3d(value, memory)
    record = bytearray(q.StreamAccess_tell(memory))
    q.StreamAccess_seek(memory, 0, q.SeekOrigin_BEGIN)
    q.StreamAccess___read(memory, record)
    layout = struct.Struct("<4s4IQQ3d")  # magic, version, kind, data type, count, the doubles
    fields = layout.unpack(bytes(record))[:-3]
    assert layout.pack(*fields, 1.0, 2.0, 3.0) == record
    stream = q.StreamAccessFactory_open_file_write(os.path.join(folder, "small.bin"))
    with open(os.path.join(folder, "small_raw.bin"), "wb") as f:
        compare_stmt(f"encode a {len(record)}-byte 3-double vector record", "encode(value, stream)",
                     "struct.pack + file.write of its bytes", "write(pack(*fields, x, y, z))", number=20_000,
                     encode=q.Serialization_encode_vector_3d, value=value, stream=stream, write=f.write,
                     pack=layout.pack, fields=fields, x=1.0, y=2.0, z=3.0)
    stream = q.StreamAccessFactory_open_file_write(os.devnull)
    with open(os.devnull, "wb") as f:
        compare_stmt(f"encode a {len(record)}-byte record into {os.devnull} (delivered at once)",
                     "encode(value, stream)", "file.write + flush of its bytes", "write(record); flush()",
                     number=20_000, encode=q.Serialization_encode_vector_3d, value=value, stream=stream,
                     write=f.write, flush=f.flush, record=bytes(record))


def main():
    src = np.arange(TOTAL // 8, dtype=np.float64).reshape(1024, -1)
    with tempfile.TemporaryDirectory() as folder:
        small_records(folder)
        frame_rows(folder)
        rows("Serialization of a 64 MiB ArrayXd", q.ArrayXd_from_numpy(src), q.Serialization_encode_arrayxd,
             q.Serialization_decode_arrayxd, folder)
        view = q.ImageViewFactory_allocate([src.shape[1], src.shape[0]], q.DataTypeId_DOUBLE)
        q.NumpyInterop_to_numpy_array(view)[...] = src
        rows("Serialization of a 64 MiB image view", view, q.Serialization_encode_image_view, q.Serialization_decode_image_view,
             folder)


if __name__ == "__main__":
    main()
