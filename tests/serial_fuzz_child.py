"""Run by test_serialization_fuzz.py in a child process under an
address-space limit: corrupt records must end in the library's Error, never
in MemoryError or a crash. Prints "fuzz ok <count>" when all went well."""
import random
import resource
import struct
import sys

limit = int(sys.argv[1])
if limit:
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

import numpy as np  # noqa: E402

from proxy import QuelboError, q  # noqa: E402
import _quelbo_twin as twin  # noqa: E402
import serial_codec as codec  # noqa: E402

HEADER = 28


def stream_of(data):
    s = q.StreamAccessFactory_allocate(0)
    if data:
        q.StreamAccess_write(s, data)
    q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
    return s


def encoded(fn, value):
    s = stream_of(b"")
    fn(value, s)
    q.StreamAccess_seek(s, 0, q.SeekOrigin_BEGIN)
    buf = bytearray(1 << 20)
    return bytes(buf[:q.StreamAccess___read(s, buf)])


def records():
    """(decoder, bytes, offsets of the counts in the record)"""
    out = []
    for code, name in [("u8", "u8"), ("i_16", "i16"), ("d", "d")]:
        out.append((getattr(q, "Serialization_decode_vector_x" + code),
                    encoded(getattr(q, "Serialization_encode_vector_x" + code), [1, 2, 3]), [HEADER]))
        out.append((getattr(q, "Serialization_decode_vector_3" + code),
                    encoded(getattr(q, "Serialization_encode_vector_3" + code), [1, 2, 3]), [HEADER]))
    for order in "CF":
        src = np.asarray(np.arange(24, dtype=np.int32).reshape(2, 3, 4), order=order)
        data = encoded(q.Serialization_encode_arrayxi32, q.ArrayXi32_from_numpy(src))
        out.append((q.Serialization_decode_arrayxi32, data, [HEADER + 8 * k for k in range(7)]))
    out.append((q.Serialization_decode_arrayxd, encoded(q.Serialization_encode_arrayxd, q.ArrayXd_from_numpy(
        np.zeros((3, 0)))), [HEADER]))  # any extent times 0 elements is a valid empty array
    view = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT16)
    root = q.MetadataNodeFactory_create("root", q.VariantDataValueFactory_create([1, 2]))
    q.MetadataNode_add_child(root, q.MetadataNodeFactory_create("s", q.VariantDataValueFactory_create(["ab", "c"])))
    q.ImageView_set_metadata(view, root)
    q.ImageView_set_spatial_unit(view, "mm")
    data = encoded(q.Serialization_encode_image_view, view)
    unit = HEADER + 8 + 16 + 4 + 15 * 8
    out.append((q.Serialization_decode_image_view, data, [HEADER, unit]))
    shared = q.MetadataNodeFactory_create("shared", q.VariantDataValueFactory_create([3]))
    for key in ("a", "b"):
        parent = q.MetadataNodeFactory_create(key, None)
        q.MetadataNode_add_child(parent, shared)
        q.MetadataNode_add_child(root, parent)
    q.MetadataNode_add_child(root, shared)
    q.ImageView_set_metadata(view, root)  # the view keeps a copy: now one that shares a node
    data = encoded(q.Serialization_encode_image_view, view)
    assert data.count(codec.string("") + struct.pack("<BQ", 2, 3)) == 2  # both links to "shared"
    out.append((q.Serialization_decode_image_view, data, [HEADER, unit]))
    frame = twin.data_frame([("x", q.DataTypeId_INT16, "mm", struct.pack("<3h", 1, -2, 3)),
                             ("s", q.DataTypeId_UTF8_STRING, "", ["a", "", "bc"])], 3)
    data = encoded(q.Serialization_encode_data_frame_view, frame)
    out.append((q.Serialization_decode_data_frame_view, data, [HEADER, HEADER + 8]))
    out.append((q.Serialization_decode_matrix_4d, encoded(q.Serialization_encode_matrix_4d, q.Matrix4d_identity()),
                []))
    return out


def attempt(decoder, data, must_fail):
    for s in (stream_of(data), twin.sequential_stream(stream_of(data), 0)):
        try:
            decoder(s)
        except QuelboError:
            continue
        if must_fail:
            raise AssertionError("decoded a corrupt record: %r" % data[:64])


def main():
    rng = random.Random(1234)
    count = 0
    for decoder, data, counts in records():
        attempt(decoder, data, False)
        for cut in range(len(data)):
            attempt(decoder, data[:cut], True)
            count += 1
        for _ in range(300):
            flipped = bytearray(data)
            for _ in range(rng.randint(1, 3)):
                flipped[rng.randrange(len(flipped))] ^= 1 << rng.randrange(8)
            attempt(decoder, bytes(flipped), False)
            count += 1
        for offset in range(HEADER, len(data) - 8):
            for huge in (2 ** 60, 2 ** 64 - 1):
                attempt(decoder, data[:offset] + struct.pack("<Q", huge) + data[offset + 8:], False)
                count += 1
        for offset in counts:
            for huge in (2 ** 60, 2 ** 63, 2 ** 64 - 1, 2 ** 40 + 1, 2 ** 32):
                patched = data[:offset] + struct.pack("<Q", huge) + data[offset + 8:]
                attempt(decoder, patched, True)
                count += 1
    print("fuzz ok", count)


main()
