"""An independent codec of the byte format in library/SERIALIZATION.md,
written with ``struct`` alone: the tests compare the library's bytes with
these, and decode these with the library."""
import struct

MAGIC = b"QLBO"
SYNC = b"SYNC"
VECTOR, ARRAY, MATRIX, IMAGE_VIEW, DATA_FRAME = 1, 2, 3, 4, 5

# element code -> (struct format, primitive type, bits)
ELEMENTS = {
    "u8": ("B", 1, 8), "u16": ("H", 1, 16), "u32": ("I", 1, 32), "u64": ("Q", 1, 64),
    "i8": ("b", 2, 8), "i16": ("h", 2, 16), "i32": ("i", 2, 32), "i64": ("q", 2, 64),
    "f": ("f", 3, 32), "d": ("d", 3, 64),
}


def dtype(code, count=1, interpretation=0):
    _, prim, bits = ELEMENTS[code]
    return interpretation << 32 | prim << 16 | count << 8 | bits


def header(kind, data_type, version):
    return MAGIC + struct.pack("<IIIIQ", version[0], version[1], version[2], kind, data_type)


def elements(code, values):
    return struct.pack("<%d%s" % (len(values), ELEMENTS[code][0]), *values)


def vector(code, values, version):
    return header(VECTOR, dtype(code), version) + struct.pack("<Q", len(values)) + elements(code, values)


def matrix(code, n, column_major, version):
    return header(MATRIX, dtype(code, n * n, 2), version) + elements(code, column_major)


def array(code, shape, layout, values_in_layout_order, version):
    d = len(shape)
    return (header(ARRAY, dtype(code), version) + struct.pack("<Q", d) + struct.pack("<%dQ" % d, *shape)
            + struct.pack("<%dQ" % d, *layout) + elements(code, values_in_layout_order))


INT64, UTF8 = 2 << 16 | 1 << 8 | 64, 4 << 16 | 1 << 8 | 8


def string(text):
    raw = text.encode()
    return struct.pack("<Q", len(raw)) + raw


def metadata(root):
    """The metadata section of an image-view record for a graph of nodes with
    .key, .value (None, or a list of ints written as INT64, or of str) and
    .children (a dict in order): each distinct node's entry once, in
    pre-order; a node met again is a link: an empty key, the flag 2 and the
    number of its entry (entries counted from 0, links not counted)."""
    if root is None:
        return b"\x00"
    out, numbers = [b"\x01"], {}
    pending = [root]
    while pending:
        node = pending.pop()
        if id(node) in numbers:
            out.append(string("") + struct.pack("<BQ", 2, numbers[id(node)]))
            continue
        numbers[id(node)] = len(numbers)
        out.append(string(node.key))
        if node.value is None:
            out.append(b"\x00")
        elif all(isinstance(v, str) for v in node.value):
            out.append(struct.pack("<BQQ", 1, UTF8, len(node.value)) + b"".join(map(string, node.value)))
        else:
            out.append(struct.pack("<BQQ%dq" % len(node.value), 1, INT64, len(node.value), *node.value))
        out.append(struct.pack("<Q", len(node.children)))
        pending.extend(reversed(list(node.children.values())))
    return b"".join(out)


class Reader:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def take(self, n):
        chunk = self.data[self.pos:self.pos + n]
        assert len(chunk) == n, "truncated"
        self.pos += n
        return chunk

    def unpack(self, fmt):
        return struct.unpack("<" + fmt, self.take(struct.calcsize("<" + fmt)))

    def header(self):
        assert self.take(4) == MAGIC
        major, minor, patch, kind, data_type = self.unpack("IIIIQ")
        return (major, minor, patch), kind, data_type


def read_vector(data, code):
    r = Reader(data)
    _, kind, data_type = r.header()
    assert (kind, data_type) == (VECTOR, dtype(code))
    (n,) = r.unpack("Q")
    values = list(r.unpack("%d%s" % (n, ELEMENTS[code][0])))
    assert r.pos == len(data)
    return values
