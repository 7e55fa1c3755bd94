"""Value arrays: construction, element access at both ends of every element
type, reshaping, text form and comparison."""
import numpy as np
import pytest

from proxy import QuelboError, cls, q

TYPES = [("u8", "uint8_t", np.uint8), ("i8", "int8_t", np.int8), ("u16", "uint16_t", np.uint16),
         ("i16", "int16_t", np.int16), ("u32", "uint32_t", np.uint32), ("i32", "int32_t", np.int32),
         ("u64", "uint64_t", np.uint64), ("i64", "int64_t", np.int64), ("f", "float", np.float32),
         ("d", "double", np.float64)]
INTS = [t for t in TYPES if t[0] not in ("f", "d")]


def dtype_id(s):
    return getattr(q, "DataTypeId_" + {"u8": "UINT8", "i8": "INT8", "u16": "UINT16", "i16": "INT16",
                                       "u32": "UINT32", "i32": "INT32", "u64": "UINT64", "i64": "INT64",
                                       "f": "FLOAT", "d": "DOUBLE"}[s])


def shape_of(a):
    s = a.shape()
    return [s.at(i) for i in range(s.size())]


@pytest.mark.parametrize("s,ctype,np_t", INTS)
def test_integer_elements_at_both_ends(s, ctype, np_t):
    a = cls("ArrayX" + s)([2, 2])
    info = np.iinfo(np_t)
    a.set_at([0, 1], int(info.min))
    a.set_at([1, 0], int(info.max))
    assert a.at([0, 1]) == info.min and a.at([1, 0]) == info.max and a.at([1, 1]) == 0
    for bad, exc in ((int(info.max) + 1, OverflowError), (int(info.min) - 1, OverflowError), (1.0, TypeError)):
        with pytest.raises(exc, match=r"^in method 'ArrayX%s_set_at', argument 3 of type '%s'$" % (s, ctype)):
            a.set_at([0, 0], bad)
    assert a.at([0, 0]) == 0
    a.set_at([True, 0], True)
    assert a.at([1, 0]) == 1


@pytest.mark.parametrize("s", ["f", "d"])
def test_floating_elements(s):
    a = cls("ArrayX" + s)([3])
    a.set_at([0], True)
    a.set_at([1], float("inf"))
    a.set_at([2], 2)
    assert [a.at([i]) for i in range(3)] == [1.0, float("inf"), 2.0]
    big = np.finfo(np.float32).max
    a.set_at([0], float(big))
    a.set_at([1], -float(big))
    assert a.at([0]) == big and a.at([1]) == -big
    if s == "f":
        with pytest.raises(OverflowError, match=r"^in method 'ArrayXf_set_at', argument 3 of type 'float'$"):
            a.set_at([0], 1e39)
    else:
        a.set_at([0], 1e300)
        assert a.at([0]) == 1e300
    with pytest.raises(TypeError, match="^invalid item in sequence - expected long value$"):
        a.at([0.0])
    with pytest.raises(TypeError, match=r"argument 3 of type"):
        a.set_at(["x"] * 0 + [0], "x")
    with pytest.raises(TypeError, match="^invalid item in sequence - expected long value$"):
        a.set_at([0.5], "x")  # the index is converted first


def test_construction_forms():
    a = cls("ArrayXd")([2, 3])
    assert a.dimension_count() == 2 and shape_of(a) == [2, 3]
    assert cls("ArrayXd")([]).dimension_count() == 0
    a.set_at([1, 2], 4.5)
    b = cls("ArrayXd")(a)
    assert b == a and b.at([1, 2]) == 4.5
    b.set_at([1, 2], 1.0)
    assert a.at([1, 2]) == 4.5  # separately owned
    c = cls("ArrayXd")(a.indexer())
    assert shape_of(c) == [2, 3] and c.at([1, 2]) == 0.0
    ix = cls("Indexer")([4, 5], q.DataTypeId_DOUBLE, q.MemoryLayout_C)
    d = cls("ArrayXd")(ix)
    assert d.indexer() == ix
    with pytest.raises(TypeError, match="^invalid item in sequence - expected long value$"):
        cls("ArrayXd")("ab")
    message = ("Wrong number or type of arguments for overloaded function 'new_ArrayXd'.\n"
               "  Possible C/C++ prototypes are:\n"
               "    quelbo::ArrayX< double >::ArrayX(quelbo::VectorXu64 const &)\n"
               "    quelbo::ArrayX< double >::ArrayX(quelbo::Indexer const &)\n"
               "    quelbo::ArrayX< double >::ArrayX(quelbo::ArrayX< double > const &)\n"
               "    quelbo::ArrayX< double >::ArrayX(quelbo::ArrayX< double > &&)\n")
    for bad in ((cls("ArrayXf")([1]),), (1.5,), (None,), ()):
        with pytest.raises(TypeError) as e:
            q.new_ArrayXd(*bad)
        assert str(e.value) == message
    with pytest.raises(TypeError) as e:
        q.new_ArrayXd([1], [2])
    assert str(e.value) == "new_ArrayXd expected at most 1 arguments, got 2\nAdditional information:\n" + message


def test_indexers_the_array_cannot_use_are_refused():
    wrong_type = cls("Indexer")([2], q.DataTypeId_FLOAT, q.MemoryLayout_C)
    with pytest.raises(QuelboError, match="data type"):
        cls("ArrayXd")(wrong_type)
    odd = cls("Indexer")([2, 2], q.DataTypeId_DOUBLE, [8, 20], [0, 1])
    with pytest.raises(QuelboError, match="multiples"):
        cls("ArrayXd")(odd)
    backwards = cls("Indexer")([1, 2], q.DataTypeId_DOUBLE, [-8, 8], [0, 1])
    with pytest.raises(QuelboError, match="multiples"):
        cls("ArrayXd")(backwards)
    padded = cls("Indexer")([2, 2], q.DataTypeId_DOUBLE, [16, 64], [0, 1])
    a = cls("ArrayXd")(padded)
    a.set_at([1, 1], 3.0)
    assert a.at([1, 1]) == 3.0 and a.to_string() == "[[0, 0], [0, 3]]"
    a.reshape([4])  # compacted
    assert a.to_string() == "[0, 0, 0, 3]"
    for shape in ([2**63 - 1, 2**63 - 1], [2**62, 1], [2**40, 2**30], [-1]):
        with pytest.raises((QuelboError, MemoryError)):
            cls("ArrayXu8")(shape)


def test_indices_out_of_place_raise():
    a = cls("ArrayXi32")([2, 3])
    for index in ([2, 0], [0, 3], [0], [0, 0, 0], [], [-1, 0]):
        with pytest.raises(QuelboError, match="index"):
            a.at(index)
        with pytest.raises(QuelboError, match="index"):
            a.set_at(index, 1)
    empty = cls("ArrayXi32")([])
    for index in ([], [0]):
        with pytest.raises(QuelboError):
            empty.at(index)
        with pytest.raises(QuelboError):
            empty.set_at(index, 1)
    zero = cls("ArrayXi32")([3, 0])
    with pytest.raises(QuelboError):
        zero.at([0, 0])
    assert zero.to_string() == "[]" and empty.to_string() == "[]"


def test_reshape_keeps_the_element_count_and_order():
    a = q.ArrayXi64_from_numpy(np.arange(6, dtype=np.int64).reshape(2, 3))
    before = a.shape()
    a.reshape([3, 2])
    assert shape_of(a) == [3, 2] and before.to_string() == "[2, 3]"
    assert a.to_string() == "[[0, 1], [2, 3], [4, 5]]"  # C order kept, as numpy's reshape
    with pytest.raises(QuelboError, match="reshape"):
        a.reshape([4, 2])
    with pytest.raises(QuelboError, match="reshape"):
        a.reshape([])
    f = q.ArrayXi64_from_numpy(np.asfortranarray(np.arange(6, dtype=np.int64).reshape(2, 3)))
    f.reshape([6])
    assert f.to_string() == "[0, 3, 1, 4, 2, 5]"  # FORTRAN memory order kept
    z = cls("ArrayXi64")([0, 4])
    z.reshape([4, 0, 9])
    assert shape_of(z) == [4, 0, 9]


def test_equality_whatever_the_layout():
    base = np.arange(12, dtype=np.float32).reshape(3, 4)
    c = q.ArrayXf_from_numpy(base)
    f = q.ArrayXf_from_numpy(np.asfortranarray(base))
    assert c == f and not (c != f)
    f.set_at([2, 3], -1.0)
    assert c != f
    assert c != q.ArrayXf_from_numpy(base.reshape(4, 3))
    assert q.ArrayXf___eq__(c, 1) is NotImplemented and q.ArrayXf___eq__(c, cls("ArrayXd")([3, 4])) is NotImplemented
    assert (c == 1) is False
    with pytest.raises(ValueError, match=r"^invalid null reference in method 'ArrayXf___ne__', argument 2 of type "
                                         r"'quelbo::ArrayX< float > const &'$"):
        q.ArrayXf___ne__(c, None)
    nan = q.ArrayXd_from_numpy(np.array([np.nan]))
    assert nan != nan


def test_messages_and_docstrings():
    a = cls("ArrayXu16")([1])
    with pytest.raises(TypeError, match=r"^in method 'ArrayXu16_at', argument 1 of type 'quelbo::ArrayX< uint16_t > const \*'$"):
        q.ArrayXu16_at(cls("ArrayXu8")([1]), [0])
    with pytest.raises(ValueError, match="^input must be a sequence$"):
        a.at(0)
    with pytest.raises(TypeError, match="^ArrayXu16_reshape expected 2 arguments, got 1$"):
        q.ArrayXu16_reshape(a)
    assert q.ArrayXu16_set_at.__doc__.endswith(":type value: int\n:param value: The value to set at the given index.\n")
    assert ":type value: uint8_t\n" in q.ArrayXu8_set_at.__doc__
    assert q.ArrayXd_to_string.__doc__ == "Return a string representation"
    assert q.new_ArrayXd.__doc__ is None and q.ArrayXd__to_numpy.__doc__ is None
    assert q.delete_ArrayXd(None) is None
    u64 = cls("ArrayXu64")([1])
    u64.set_at([0], 2**64 - 1)
    assert u64.at([0]) == 18446744073709551615
