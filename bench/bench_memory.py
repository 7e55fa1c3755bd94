"""Memory the library allocates itself, each road against numpy doing the same
work on the same bytes (256 MiB unless said): stores and streams in memory
written, grown and read, an image view encoded into and decoded from a new
memory stream, files copied into memory (through streams and mappings),
data-frame columns and vectors made, and how long allocations of 2 and 4 GiB
take. Run with /usr/bin/python3."""
import os
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
sys.path.insert(0, HERE)
from timing import compare, section  # noqa: E402
from proxy import cls, q  # noqa: E402

MIB = 1 << 20
TOTAL = 256 * MIB
ROUNDS = 5


def stores():
    section("Stores and streams in memory, 256 MiB")
    src = np.random.default_rng(5).integers(0, 255, TOTAL, dtype=np.uint8)
    piece = src[:MIB]

    def allocate_write():
        q.RandomAccess_write(q.RandomAccessFactory_allocate(TOTAL), 0, src)

    def empty_copy():
        np.copyto(np.empty(TOTAL, np.uint8), src)

    compare("RandomAccessFactory_allocate + one write", allocate_write, "np.empty + copy", empty_copy,
            rounds=ROUNDS)

    def stream_writes():
        s = q.StreamAccessFactory_allocate()
        for _ in range(TOTAL // MIB):
            q.StreamAccess_write(s, piece)

    def slice_copies():
        a = np.empty(TOTAL, np.uint8)
        for at in range(0, TOTAL, MIB):
            a[at:at + MIB] = piece

    compare("StreamAccessFactory_allocate() + 256 writes of 1 MiB", stream_writes, "np.empty + 256 slice copies",
            slice_copies, rounds=ROUNDS)

    def resize_write():
        store = q.RandomAccessFactory_allocate(MIB)
        q.RandomAccess_write(store, 0, piece)
        q.RandomAccess_resize(store, TOTAL)
        q.RandomAccess_write(store, TOTAL - MIB, piece)

    def zeros_copies():
        a = np.zeros(TOTAL, np.uint8)
        a[:MIB] = piece
        a[-MIB:] = piece

    compare("RandomAccess_resize 1 MiB -> 256 MiB + last MiB written", resize_write, "np.zeros + the same copies",
            zeros_copies, rounds=ROUNDS)

    store = q.RandomAccessFactory_allocate(TOTAL)
    q.RandomAccess_write(store, 0, src)

    def store_read():
        q.RandomAccess___read(store, 0, np.empty(TOTAL, np.uint8))

    compare("RandomAccess___read of a whole store into a new array", store_read, "np.empty + copy", empty_copy,
            rounds=ROUNDS)


def serialization():
    section("An image view of 255 MiB (float64) encoded into a new memory stream, and decoded")
    rows, cols = 1020, 32768
    a = np.random.default_rng(6).random((rows, cols))
    view = q.ImageViewFactory_allocate([cols, rows], q.DataTypeId_DOUBLE)
    q.NumpyInterop_to_numpy_array(view)[...] = a
    flat = a.reshape(-1)

    def encode():
        q.Serialization_encode_image_view(view, q.StreamAccessFactory_allocate())

    def empty_copy():
        np.copyto(np.empty(flat.size), flat)

    compare("Serialization_encode_image_view into a new memory stream", encode, "np.empty + copy of its bytes",
            empty_copy, rounds=ROUNDS)
    stream = q.StreamAccessFactory_allocate()
    q.Serialization_encode_image_view(view, stream)

    def decode():
        q.StreamAccess_seek(stream, 0, q.SeekOrigin_BEGIN)
        q.Serialization_decode_image_view(stream)

    compare("Serialization_decode_image_view from a memory stream", decode, "np.empty + copy of its bytes",
            empty_copy, rounds=ROUNDS)


def copies(folder):
    section("A file of 256 MiB copied into memory")
    path = os.path.join(folder, "copy.bin")
    np.random.default_rng(7).integers(0, 255, TOTAL, dtype=np.uint8).tofile(path)
    uri = cls("Uri")("file://" + path)

    def store_copy():
        q.RandomAccessFactory_copy_in_memory(q.RandomAccessFactory_open_uri_read(uri))

    def stream_copy():
        q.StreamAccessFactory_copy_in_memory(q.StreamAccessFactory_open_file_read(path))

    def mapped_copy():
        q.RandomAccessFactory_copy_in_memory(q.RandomAccessFactory_map_file(path))

    def fromfile():
        np.fromfile(path, np.uint8)

    compare("RandomAccessFactory_copy_in_memory", store_copy, "np.fromfile", fromfile, rounds=ROUNDS)
    compare("StreamAccessFactory_copy_in_memory", stream_copy, "np.fromfile", fromfile, rounds=ROUNDS)
    compare("RandomAccessFactory_copy_in_memory of a map_file store", mapped_copy, "np.fromfile", fromfile,
            rounds=ROUNDS)


def frames_and_vectors():
    section("Data-frame columns and vectors")
    rows = 16 * MIB
    column = np.random.default_rng(8).random(rows)

    def frame():
        df = q.DataFrameViewFactory__allocate([2, rows], ["a", "b"], [q.DataTypeId_DOUBLE, q.DataTypeId_DOUBLE])
        q.DataFrameView__write_bytes(df, 0, 0, rows, column)

    def zeros():
        np.zeros((2, rows))[0] = column

    compare("DataFrameViewFactory__allocate 2 float64 x 16 Mi rows, one column written", frame,
            "np.zeros((2, n)) + the column", zeros, rounds=ROUNDS)
    compare("VectorXu8_create_uniform(256 Mi, 7)", lambda: q.VectorXu8_create_uniform(TOTAL, 7), "np.full",
            lambda: np.full(TOTAL, 7, np.uint8), rounds=ROUNDS)


def hostile():
    section("Allocations a hostile caller asks for")
    compare("VectorXu8_create_uniform(2**31, 1)", lambda: q.VectorXu8_create_uniform(2**31, 1), "np.full",
            lambda: np.full(2**31, 1, np.uint8), rounds=3)
    compare("RandomAccessFactory_allocate(2**32)", lambda: q.RandomAccessFactory_allocate(2**32), "np.zeros",
            lambda: np.zeros(2**32, np.uint8), rounds=3)


def main():
    stores()
    serialization()
    with tempfile.TemporaryDirectory() as folder:
        copies(folder)
    frames_and_vectors()
    hostile()


if __name__ == "__main__":
    main()
