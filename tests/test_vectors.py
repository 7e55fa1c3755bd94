import math
import re
import struct

import pytest

from helpers import overload_text
from proxy import QuelboError, cls, q

ELEMS = [("u8", "uint8_t"), ("i8", "int8_t"), ("u16", "uint16_t"), ("i16", "int16_t"), ("u32", "uint32_t"),
         ("i32", "int32_t"), ("u64", "uint64_t"), ("i64", "int64_t"), ("f", "float"), ("d", "double")]
SIZES = ["2", "3", "4", "X"]


class Kind:
    def __init__(self, size, suffix, ctype):
        self.name = "Vector" + size + suffix
        self.n = None if size == "X" else int(size)
        self.floating = suffix in ("f", "d")
        self.native = ("quelbo::VectorX< %s >" % ctype) if self.n is None else ("quelbo::Vector< %s,%s >" % (ctype, size))
        bits = int(suffix[1:]) if not self.floating else None
        if bits and suffix[0] == "u":
            self.lo, self.hi = 0, 2 ** bits - 1
        elif bits:
            self.lo, self.hi = -2 ** (bits - 1), 2 ** (bits - 1) - 1
        self.bits, self.signed, self.suffix = bits, suffix[0] == "i", suffix

    def fn(self, member):
        return getattr(q, self.name + "_" + member)

    def make(self, values):
        return cls(self.name)(list(values))

    def values(self, v):
        return [self.fn("at")(v, i) for i in range(self.fn("size")(v))]

    def wrap(self, x):
        """The element an item (or an integer result) becomes."""
        if self.suffix == "f":
            return struct.unpack("f", struct.pack("f", x))[0] if abs(x) < 3.5e38 else math.copysign(math.inf, x)
        if self.floating:
            return float(x)
        x %= 2 ** self.bits
        return x - 2 ** self.bits if self.signed and x > self.hi else x

    def length(self, count=3):
        return self.n or count


KINDS = [Kind(s, suffix, ctype) for s in SIZES for suffix, ctype in ELEMS]
ids = [k.name for k in KINDS]
every = pytest.mark.parametrize("k", KINDS, ids=ids)
floating = [k for k in KINDS if k.floating]
integral = [k for k in KINDS if not k.floating]


@every
@pytest.mark.parametrize("form", [list, tuple, lambda xs: range(1, len(xs) + 1), bytes])
def test_construction_from_sequences(k, form):
    items = list(range(1, k.length() + 1))
    assert k.values(k.make(items)) == k.values(cls(k.name)(form(items))) == [k.wrap(x) for x in items]


@every
def test_default_empty_and_uniform(k):
    if k.n is None:
        assert k.fn("size")(cls(k.name)()) == 0
        assert k.values(cls(k.name)(3)) == [0, 0, 0]
        assert k.values(cls(k.name)(True)) == [0]
        assert k.values(k.fn("create_uniform")(2, 7)) == [7, 7]
        assert k.fn("size")(k.fn("create_uniform")(0, 7)) == 0
    else:
        assert k.values(cls(k.name)()) == [0] * k.n
        assert k.values(k.fn("create_uniform")(7)) == [7] * k.n
        assert k.fn("size")(None) == k.n


@every
def test_sequence_failures(k):
    class Unsized:
        def __getitem__(self, i):
            return 1

    v = k.make(range(k.length()))
    with pytest.raises(ValueError, match="^input must be a sequence$"):
        k.fn("dot")(v, {1, 2, 3})
    with pytest.raises(ValueError, match="^input sequence must be sized$"):
        k.fn("dot")(v, Unsized())
    if k.n:
        with pytest.raises(ValueError, match="^input sequence has invalid length$"):
            cls(k.name)([1] * (k.n + 1))
    bad = ["a"] + [1] * (k.length() - 1) if k.floating else [1.5] + [1] * (k.length() - 1)
    text = "invalid item in sequence - expected long" + (" or float value" if k.floating else " value")
    with pytest.raises(TypeError, match="^%s$" % text):
        cls(k.name)(bad)
    with pytest.raises(OverflowError):
        cls(k.name)([2 ** 63] * k.length())


@every
def test_items_keep_low_bits(k):
    items = ([300, -1, 65536, 1e39] if k.floating else [300, -1, 65536, 2 ** 40 + 5])[: k.length(4)]
    assert k.values(k.make(items)) == [k.wrap(x) for x in items]


@every
def test_move_leaves_source_empty(k):
    src = k.make(range(1, k.length() + 1))
    dst = cls(k.name)(src)
    assert k.values(dst) == [k.wrap(x) for x in range(1, k.length() + 1)]
    assert int(src.this) == 0 and not src.this.own()
    with pytest.raises(RuntimeError, match="cannot release ownership as memory is not owned for argument 1 of "
                                           "type '%s &&'" % k.native):
        cls(k.name)(src)
    with pytest.raises(ValueError, match="invalid null reference"):
        k.fn("at")(src, 0)
    assert getattr(q, "delete_" + k.name)(src) is None


@every
def test_delete_destroys_only_what_the_handle_owns(k):
    delete = getattr(q, "delete_" + k.name)
    src = k.make(range(k.length()))
    dst = cls(k.name)(src)
    assert delete(src) is None and delete(None) is None
    assert k.values(dst) == [k.wrap(x) for x in range(k.length())]
    assert delete(dst) is None and not dst.this.own()
    assert delete(dst) is None
    with pytest.raises(ValueError, match="invalid null reference"):
        k.fn("to_string")(dst)


@pytest.mark.parametrize("k", integral, ids=[k.name for k in integral])
def test_integer_element_range(k):
    v = k.make([0] * k.length(2))
    last = k.length(2) - 1
    for x in (k.lo, k.hi, True):
        k.fn("set_at")(v, last, x)
        assert k.fn("at")(v, last) == x
    text = "in method '%s_set_at', argument 3 of type '%s::ValueType'" % (k.name, k.native)
    for x in (k.lo - 1, k.hi + 1):
        with pytest.raises(OverflowError, match="^%s$" % text):
            k.fn("set_at")(v, 0, x)
    with pytest.raises(TypeError, match="^%s$" % text):
        k.fn("set_at")(v, 0, 1.0)
    assert k.fn("at")(v, 0) == 0


@pytest.mark.parametrize("k", floating, ids=[k.name for k in floating])
def test_floating_element_range(k):
    v = k.make([0] * k.length(2))
    for x in (0.1, -3.4028234663852886e38, math.inf, 2 ** 60):
        k.fn("set_at")(v, 1, x)
        assert k.fn("at")(v, 1) == k.wrap(x)
    k.fn("set_at")(v, 0, math.nan)
    assert math.isnan(k.fn("at")(v, 0))
    if k.suffix == "f":
        with pytest.raises(OverflowError):
            k.fn("set_at")(v, 0, 3.4028235e38)
    with pytest.raises(TypeError):
        k.fn("set_at")(v, 0, 10 ** 400)


@every
def test_index_past_the_end_raises(k):
    v = k.make(range(k.length()))
    for i in (k.length(), 2 ** 64 - 1):
        with pytest.raises(QuelboError, match="out of range"):
            k.fn("at")(v, i)
        with pytest.raises(QuelboError, match="out of range"):
            k.fn("set_at")(v, i, 1)
    with pytest.raises(OverflowError, match="argument 2 of type 'size_t'"):
        k.fn("at")(v, -1)
    if k.n is None:
        with pytest.raises(QuelboError):
            k.fn("at")(cls(k.name)(), 0)


@every
def test_text_form(k):
    v = k.make([1, 2, 3, 4][: k.length()])
    text = k.fn("to_string")(v)
    assert isinstance(text, str)
    assert text.encode("utf-8", "surrogateescape") == ("[%s]" % ", ".join("1234"[: k.length()])).encode()
    if k.floating:
        assert q.VectorXd_to_string(cls("VectorXd")([0.1, -2.5, 1e300])) == "[0.1, -2.5, 1e+300]"


@every
def test_measures_and_normalize(k):
    items = [3, 1, 0, 4][: k.length()] if not k.signed and not k.floating else [3, -1, 0, 4][: k.length()]
    v = k.make(items)
    norm = float(sum(abs(k.wrap(x)) for x in items))
    assert type(k.fn("length")(v)) is float and k.fn("length")(v) == norm
    assert type(k.fn("squared_length")(v)) is float and k.fn("squared_length")(v) == norm * norm
    assert k.fn("normalize")(v) is None
    expected = [x / norm for x in items] if k.floating else [int(x / norm) for x in items]
    assert k.values(v) == pytest.approx(expected)


@every
def test_negation(k):
    v = k.make(range(1, k.length() + 1))
    neg = k.fn("__neg__")(v)
    assert type(neg) is cls(k.name)
    assert k.values(neg) == [k.wrap(-x) for x in range(1, k.length() + 1)]
    getattr(q, "delete_" + k.name)(neg)
    assert k.values(v) == list(range(1, k.length() + 1))
    other = "Vector2i8" if k.name != "Vector2i8" else "Vector2u8"
    for bad in ([1, 2], 5, cls(other)([1, 2])):
        assert k.fn("__neg__")(bad) is NotImplemented


@every
def test_dot_and_cross(k):
    a, b = [7, 200, 3, 9][: k.length()], [100, 2, 300, 5][: k.length()]
    v = k.make(a)
    wa, wb = [k.wrap(x) for x in a], [k.wrap(x) for x in b]
    dot = k.fn("dot")(v, b)
    if k.suffix == "f":
        assert dot == pytest.approx(sum(x * y for x, y in zip(wa, wb)), rel=1e-6)
    else:
        assert dot == k.wrap(sum(x * y for x, y in zip(wa, wb)))
    if k.length() == 3:
        c = [wa[1] * wb[2] - wa[2] * wb[1], wa[2] * wb[0] - wa[0] * wb[2], wa[0] * wb[1] - wa[1] * wb[0]]
        result = k.fn("cross")(v, b)
        assert type(result) is cls(k.name) and k.values(result) == [k.wrap(x) for x in c]
    else:
        with pytest.raises(QuelboError, match="size 3"):
            k.fn("cross")(v, b)
    assert k.values(v) == wa
    if k.n is None:
        for other in ([], [1, 2]):
            with pytest.raises(QuelboError, match="same size"):
                k.fn("dot")(v, other)
            with pytest.raises(QuelboError):
                k.fn("cross")(v, other)


@every
def test_object_argument_refused(k):
    other = cls("Vector3i8" if k.name != "Vector3i8" else "Vector3u8")([1, 2, 3])
    for member, const in (("length", " const *"), ("normalize", " *"), ("dot", " const *"), ("at", " const *")):
        args = (other,) if member in ("length", "normalize") else (other, [1, 2, 3])
        text = "in method '%s_%s', argument 1 of type '%s%s'" % (k.name, member, k.native, const)
        with pytest.raises(TypeError, match="^%s$" % re.escape(text)):
            k.fn(member)(*args)
    with pytest.raises(TypeError, match="^in method 'delete_%s', argument 1 of type '%s \\*'$" % (k.name, k.native)):
        getattr(q, "delete_" + k.name)(other)


@pytest.mark.parametrize("fn, arg", [(q.new_Vector2u8, None), (q.new_Vector2u8, 5), (q.new_Vector2u8, {}),
                                     (q.new_VectorXu64, -1), (q.new_VectorXu64, 2.0), (q.new_VectorXu64, None)])
def test_constructor_overload_text(fn, arg):
    with pytest.raises(TypeError, match=r"^Wrong number .*'%s'.\n  Possible C/C\+\+ prototypes" % fn.__name__):
        fn(arg)


@every
def test_constructor_prototypes(k):
    ctor = k.native + ("::VectorX" if k.n is None else "::Vector")
    second = "size_t" if k.n is None else "VectorX< %s::ValueType > const &" % k.native
    text = overload_text("new_" + k.name, ctor + "()", "%s(%s)" % (ctor, second), "%s(%s const &)" % (ctor, k.native),
                         "%s(%s &&)" % (ctor, k.native))
    for args in [({},), (None,), (1, 2)]:
        with pytest.raises(TypeError) as e:
            getattr(q, "new_" + k.name)(*args)
        assert str(e.value).endswith(text)


def test_fixed_from_dynamic():
    x = cls("VectorXu8")([1, 2])
    assert cls("Vector2u8")(x) and q.VectorXu8_size(x) == 2 and x.this.own()
    with pytest.raises(QuelboError, match="size 3"):
        cls("Vector3u8")(x)
    cls("VectorXu8")(x)
    with pytest.raises(ValueError, match="^invalid null reference in method 'new_Vector2u8', argument 1 of type "
                                         r"'VectorX< quelbo::Vector< uint8_t,2 >::ValueType > const &'$"):
        q.new_Vector2u8(x)


def test_huge_sizes_raise_memory_error():
    for size in (2 ** 62, 2 ** 64 - 1):
        with pytest.raises(MemoryError):
            q.new_VectorXd(size)
        with pytest.raises(MemoryError):
            q.VectorXu64_create_uniform(size, 1)
    with pytest.raises(MemoryError):
        q.VectorXu8_dot(cls("VectorXu8")(), range(2 ** 62))


def test_create_uniform_messages():
    with pytest.raises(OverflowError, match="^in method 'VectorXu8_create_uniform', argument 1 of type 'size_t'$"):
        q.VectorXu8_create_uniform(-1, 256)
    with pytest.raises(OverflowError, match="argument 2 of type 'quelbo::VectorX< uint8_t >::ValueType'$"):
        q.VectorXu8_create_uniform(3, 256)
    with pytest.raises(OverflowError):
        q.Vector2f_create_uniform(1e39)
    assert q.Vector2f_to_string(q.Vector2f_create_uniform(math.inf)) == "[inf, inf]"
