"""Indexer, checked against numpy's strides and offsets."""
import random
import re

import numpy as np
import pytest

from helpers import exact, overload, overload_text, vec
from proxy import QuelboError, cls, handle, q

Indexer = cls("Indexer")
DataType = cls("DataType")

NUMPY_TYPES = {
    np.uint8: q.DataTypeId_UINT8, np.int16: q.DataTypeId_INT16, np.uint32: q.DataTypeId_UINT32,
    np.float32: q.DataTypeId_FLOAT, np.float64: q.DataTypeId_DOUBLE, np.int64: q.DataTypeId_INT64,
}


@pytest.mark.parametrize("seed", range(12))
@pytest.mark.parametrize("order", ["C", "F"])
def test_dense_layouts_agree_with_numpy(seed, order):
    rnd = random.Random(seed)
    shape = [rnd.randint(1, 6) for _ in range(rnd.randint(1, 5))]
    npt = rnd.choice(sorted(NUMPY_TYPES, key=str))
    a = np.zeros(shape, dtype=npt, order=order)
    layout = q.MemoryLayout_C if order == "C" else q.MemoryLayout_FORTRAN
    ix = Indexer(shape, NUMPY_TYPES[npt], layout)
    n = len(shape)
    assert vec(q.Indexer_byte_stride(ix)) == list(a.strides)
    assert vec(q.Indexer_stride(ix)) == [s // a.itemsize for s in a.strides]
    assert vec(q.Indexer_layout(ix)) == (list(range(n))[::-1] if order == "C" else list(range(n)))
    assert [q.Indexer_byte_stride(ix, i) for i in range(n)] == list(a.strides)
    assert (q.Indexer_element_count(ix), q.Indexer_byte_count(ix), q.Indexer_dimension_count(ix)) == (a.size, a.nbytes, n)
    assert q.Indexer_is_continuous(ix) is True
    for _ in range(5):
        index = [rnd.randrange(s) for s in shape]
        assert q.Indexer_byte_offset(ix, index) == sum(i * s for i, s in zip(index, a.strides))
        assert q.Indexer_offset(ix, index) == np.ravel_multi_index(index, shape, order=order)


def test_default_layout_is_fortran():
    ix = Indexer([3, 4], DataType(q.DataTypeId_UINT16))
    assert vec(q.Indexer_byte_stride(ix)) == [2, 6] and vec(q.Indexer_layout(ix)) == [0, 1]
    assert q.Indexer___eq__(ix, Indexer([3, 4], q.DataTypeId_UINT16, q.MemoryLayout_UNKNOWN)) is True


def test_explicit_order_and_strides():
    # dimension 1 fastest, then 0, then 2
    ix = Indexer([2, 3, 4], q.DataTypeId_UINT32, [1, 0, 2])
    assert vec(q.Indexer_byte_stride(ix)) == [12, 4, 24] and vec(q.Indexer_layout(ix)) == [1, 0, 2]
    a = np.zeros((8, 9), dtype=np.float64)[::2, 1:7]  # padded view of a C array
    ix = Indexer(list(a.shape), q.DataTypeId_DOUBLE, list(a.strides), [1, 0])
    assert q.Indexer_is_continuous(ix) is False
    assert q.Indexer_byte_offset(ix, [3, 5]) == 3 * a.strides[0] + 5 * a.strides[1]
    assert q.Indexer_byte_count(ix) == 3 * a.strides[0] + 5 * a.strides[1] + 8
    assert q.DataType_get_id(q.Indexer_dtype(ix)) == q.DataTypeId_DOUBLE


def test_constructor_candidates():
    shape = [4, 5]
    assert q.Indexer_dimension_count(Indexer()) == 0 and q.Indexer_element_count(Indexer()) == 0
    by_int, by_obj = Indexer(shape, 65800), Indexer(shape, DataType(65800))
    assert q.Indexer___eq__(by_int, by_obj) is True
    assert q.DataType_get_id(q.Indexer_dtype(by_int)) == 65800
    assert vec(q.Indexer_layout(Indexer(shape, 65800, q.MemoryLayout_FORTRAN))) == [0, 1]
    assert vec(q.Indexer_layout(Indexer(shape, 65800, [1, 0]))) == [1, 0]
    copy = Indexer(by_int)
    assert q.Indexer___eq__(copy, by_int) is True
    q.delete_Indexer(by_int)
    assert vec(q.Indexer_shape(copy)) == shape
    with pytest.raises(TypeError, match=exact("invalid item in sequence - expected long value")):
        Indexer([1, "x"], 65800)


PROTOS = (
    "quelbo::Indexer::Indexer()", "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType)",
    "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::MemoryLayout)",
    "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::VectorXu64 const &)",
    "quelbo::Indexer::Indexer(quelbo::VectorXu64 const &,quelbo::DataType,quelbo::VectorXu64 const &,"
    "quelbo::VectorXu64 const &)",
    "quelbo::Indexer::Indexer(quelbo::Indexer const &)", "quelbo::Indexer::Indexer(quelbo::Indexer &&)",
)


@pytest.mark.parametrize("args", [(None,), (5, 65800), ([1], 1.5), ([1], 1, 2**31), ([1], 1, 1.0), ([1], 1, [0], 3),
                                  ([1], 1, [0], [0], [0])])
def test_constructor_refusals(args):
    with pytest.raises(TypeError) as info:
        q.new_Indexer(*args)
    assert str(info.value).endswith(overload_text("new_Indexer", *PROTOS))


@pytest.mark.parametrize("args", [
    ([2, 3], 65800, [0]),                    # layout shorter than the shape
    ([2, 3], 65800, [0, 0]),                 # not an order of the dimensions
    ([2, 3], 65800, [0, 2]),
    ([2, 3], 65800, 7),                      # unknown memory layout
    ([2, 3], 65800, [1, 2, 3], [0, 1]),      # strides of another length
    ([2**40, 2**40], 65800),                 # byte count past 64 bits
    ([2**32, 2**32], q.DataTypeId_UINT16, q.MemoryLayout_C),
    ([2, 5], 65800, [1, 2**62], [0, 1]),     # explicit strides past 64 bits
])
def test_inconsistent_indexers_are_refused(args):
    with pytest.raises(QuelboError, match="Indexer"):
        Indexer(*args)


@pytest.mark.parametrize("name", ["shape", "stride", "byte_stride", "layout"])
def test_one_entry_accessors(name):
    fn = getattr(q, "Indexer_" + name)
    ix = Indexer([2, 3], 65800, q.MemoryLayout_C)
    assert fn(ix, 1) == vec(fn(ix))[1]
    for past in (2, 2**64 - 1):
        with pytest.raises(QuelboError):
            fn(ix, past)
    native = "byteStride" if name == "byte_stride" else name
    for args in ((ix, "x"), (ix, -1), (ix, 1, 2), ()):
        with pytest.raises(TypeError) as info:
            fn(*args)
        assert str(info.value).endswith(overload_text(
            "Indexer_" + name, "quelbo::Indexer::%s() const" % native, "quelbo::Indexer::%s(size_t) const" % native))


def test_offsets_of_invalid_indices_are_refused():
    ix = Indexer([2, 3], 65800)
    for index in ([2, 0], [0, 3], [0], [0, 0, 0]):
        for fn in (q.Indexer_offset, q.Indexer_byte_offset):
            with pytest.raises(QuelboError):
                fn(ix, index)
    with pytest.raises(ValueError, match=exact("input must be a sequence")):
        q.Indexer_byte_offset(ix, 1)


def test_shape_result_is_an_independent_copy():
    ix = Indexer([2, 3], 65800)
    s = q.Indexer_shape(ix)
    q.VectorXu64_set_at(s, 0, 9)
    assert vec(q.Indexer_shape(ix)) == [2, 3] and s.this.own() is True


def test_indexer_comparisons():
    ix = Indexer([2, 3], 65800)
    assert q.Indexer___ne__(ix, Indexer([2, 3], 65800, q.MemoryLayout_C)) is True
    assert q.Indexer___eq__(ix, [2, 3]) is NotImplemented
    for fn in ("Indexer___eq__", "Indexer___ne__"):
        with pytest.raises(ValueError, match=exact(
                "invalid null reference in method '%s', argument 2 of type 'quelbo::Indexer const &'" % fn)):
            getattr(q, fn)(ix, None)
