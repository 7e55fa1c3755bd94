"""Value arrays and numpy: round trips in both layouts, sharing in both
directions, the refusals of from_numpy in their order, and the lifetime of the
elements behind an exported array."""
import gc
import sys

import numpy as np
import pytest

from proxy import QuelboError, cls, q
from test_arrays import TYPES


@pytest.mark.parametrize("s,ctype,np_t", TYPES)
@pytest.mark.parametrize("order", ["C", "F"])
def test_round_trip_in_both_layouts(s, ctype, np_t, order):
    src = np.asarray(np.arange(24).reshape(2, 3, 4) - 5, order=order).astype(np_t, order=order)
    a = getattr(q, "ArrayX%s_from_numpy" % s)(src)
    assert a.indexer().layout().to_string() == ("[2, 1, 0]" if order == "C" else "[0, 1, 2]")
    assert [a.shape().at(i) for i in range(3)] == [2, 3, 4]
    assert a.at([1, 2, 3]) == src[1, 2, 3] and a.at([0, 1, 2]) == src[0, 1, 2]
    out = a._to_numpy(a)
    assert out.dtype == np.dtype(np_t) and out.shape == (2, 3, 4)
    assert (out == src).all()
    assert out.strides == src.strides  # same layout, strides in bytes
    assert out.flags["C_CONTIGUOUS" if order == "C" else "F_CONTIGUOUS"] and out.flags.writeable
    # the export shares the elements, the import copied them
    kept = src.copy()
    out[1, 1, 1] = 70
    assert a.at([1, 1, 1]) == 70 and (src == kept).all()
    a.set_at([0, 0, 0], 9)
    assert out[0, 0, 0] == 9
    src[0, 1, 0] = 3
    assert a.at([0, 1, 0]) == kept[0, 1, 0]


@pytest.mark.parametrize("mib", [1, 8])  # on the heap, and mapped on its own
def test_copies_fill_every_element_of_blocks_left_unfilled(mib):
    # blocks of the same size let go just before, full of other bytes
    for _ in range(3):
        q.ArrayXd_from_numpy(np.full(mib << 17, -7.0))
    for order in ("C", "F"):
        src = np.asarray(np.random.default_rng(mib).random((mib << 10, 128)), order=order)
        a = q.ArrayXd_from_numpy(src)
        assert (a._to_numpy(None) == src).all()
        assert (cls("ArrayXd")(a)._to_numpy(None) == src).all()


def test_sharing_and_copying():
    src = np.zeros((2, 3))
    a = q.ArrayXd_from_numpy(src)
    src[0, 0] = 1.0
    assert a.at([0, 0]) == 0.0
    a.set_at([1, 1], 2.0)
    assert src[1, 1] == 0.0
    view = a._to_numpy(None)
    view[0, 2] = 5.0
    assert a.at([0, 2]) == 5.0
    empty = q.ArrayXd_from_numpy(np.zeros((3, 0)))
    assert [empty.shape().at(i) for i in range(2)] == [3, 0]
    assert empty._to_numpy(None).shape == (3, 0)
    ro = np.arange(4, dtype=np.int16)
    ro.flags.writeable = False
    assert q.ArrayXi16_from_numpy(ro).at([3]) == 3
    top = q.ArrayXu64_from_numpy(np.array([2**64 - 1, 2**63], dtype=np.uint64))
    assert top.at([0]) == 2**64 - 1 and top._to_numpy(None).tolist() == [2**64 - 1, 2**63]
    one_d = q.ArrayXu8_from_numpy(np.arange(3, dtype=np.uint8))
    assert one_d._to_numpy(None).tolist() == [0, 1, 2]


def test_from_numpy_refusals_in_order():
    with pytest.raises(TypeError, match="^Input Numpy Array is not valid$"):
        q.ArrayXd_from_numpy([1.0, 2.0])
    with pytest.raises(TypeError, match="^Input Numpy Array is not valid$"):
        q.ArrayXd_from_numpy(None)
    for bad in (np.zeros(2, dtype=bool), np.zeros(2, dtype=np.longlong), np.zeros(2, dtype=np.float16),
                np.zeros(2, dtype=object), np.zeros(2, dtype=">f8"), np.zeros(2, dtype=">i4")[::2]):
        with pytest.raises(QuelboError, match="^Unsupported numpy data type$"):
            q.ArrayXd_from_numpy(bad)
    with pytest.raises(ValueError, match="^numpy array data type do not match$"):
        q.ArrayXi64_from_numpy(np.zeros(2, dtype=np.int32))
    with pytest.raises(ValueError, match="^numpy array data type do not match$"):
        q.ArrayXi64_from_numpy(np.zeros((4, 4), dtype=np.int32)[:, ::2])  # type before layout
    for bad in (np.zeros((4, 4))[:, ::2], np.zeros((2, 3, 4)).swapaxes(0, 1)):
        with pytest.raises(ValueError, match="^numpy array has unsupported flags$"):
            q.ArrayXd_from_numpy(bad)
    with pytest.raises(ValueError, match="dimension count 0"):
        q.ArrayXd_from_numpy(np.array(3.0))


def test_to_numpy_holds_obj_and_refuses_what_has_no_element():
    a = cls("ArrayXf")([2, 2])
    holder = object()
    before = sys.getrefcount(holder)
    out = q.ArrayXf__to_numpy(a, holder)
    assert sys.getrefcount(holder) == before + 1
    del out
    gc.collect()
    assert sys.getrefcount(holder) == before
    with pytest.raises(ValueError, match="dimension count 0"):
        cls("ArrayXf")([])._to_numpy(None)
    with pytest.raises(TypeError, match=r"^in method 'ArrayXf__to_numpy', argument 1 of type 'quelbo::ArrayX< float > \*'$"):
        q.ArrayXf__to_numpy(cls("ArrayXd")([1]), None)
    with pytest.raises(TypeError, match="^ArrayXf__to_numpy expected 2 arguments, got 1$"):
        q.ArrayXf__to_numpy(a)
    with pytest.raises(ValueError):
        cls("ArrayXf")([1] * 33)._to_numpy(None)  # more dimensions than numpy takes


def test_exported_elements_outlive_the_value_array():
    a = q.ArrayXd_from_numpy(np.arange(6.0).reshape(2, 3))
    out = a._to_numpy(None)  # obj does not keep the array alive
    q.delete_ArrayXd(a)
    del a
    gc.collect()
    filler = [q.ArrayXd_from_numpy(np.full((2, 3), -1.0)) for _ in range(20)]
    assert out.tolist() == [[0, 1, 2], [3, 4, 5]]
    out[1, 2] = 42.0
    assert out[1, 2] == 42.0
    del filler

    b = q.ArrayXd_from_numpy(np.arange(6.0).reshape(2, 3))
    old = b._to_numpy(b)
    b.reshape([3, 2])
    assert old.tolist() == [[0, 1, 2], [3, 4, 5]]
    padded = cls("ArrayXd")(cls("Indexer")([2, 2], q.DataTypeId_DOUBLE, [16, 64], [0, 1]))
    p_out = padded._to_numpy(padded)
    assert p_out.strides == (16, 64)
    padded.reshape([4])  # compacted into a new block; the export keeps the old one
    p_out[1, 1] = 8.0
    assert padded.at([3]) == 0.0
    del padded
    gc.collect()
    assert p_out[1, 1] == 8.0
