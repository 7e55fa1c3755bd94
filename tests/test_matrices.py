"""Matrices: element access by column and row, products, transposes,
inverses and the operators, checked against numpy (M[r, c] = at(c, r))."""
import gc

import numpy as np
import pytest

from proxy import QuelboError, cls, q

KINDS = [("Matrix3f", 3, "float"), ("Matrix3d", 3, "double"), ("Matrix4f", 4, "float"), ("Matrix4d", 4, "double")]


def make(name, a):
    m = cls(name)()
    n = a.shape[0]
    for r in range(n):
        for c in range(n):
            m.set_at(c, r, float(a[r, c]))
    return m


def read(m, n):
    return np.array([[m.at(c, r) for c in range(n)] for r in range(n)])


def tol(elem):
    return dict(rtol=1e-5, atol=1e-5) if elem == "float" else dict(rtol=1e-12, atol=1e-12)


@pytest.mark.parametrize("name,n,elem", KINDS)
def test_arithmetic_agrees_with_numpy(name, n, elem):
    rng = np.random.default_rng(n)
    dtype = np.float32 if elem == "float" else np.float64
    for _ in range(5):
        a = rng.uniform(-2, 2, (n, n)).astype(dtype) + 3 * np.eye(n, dtype=dtype)
        b = rng.uniform(-2, 2, (n, n)).astype(dtype)
        v = rng.uniform(-2, 2, n).astype(dtype)
        m, k = make(name, a), make(name, b)
        np.testing.assert_allclose(read(m * k, n), a @ b, **tol(elem))
        prod = m * list(map(float, v))
        assert type(prod).__name__ == "Vector%d%s" % (n, elem[0])
        np.testing.assert_allclose([prod.at(i) for i in range(n)], a @ v, **tol(elem))
        np.testing.assert_allclose(read(m.transpose(), n), a.T)
        np.testing.assert_allclose(read(m.inverse(), n), np.linalg.inv(a.astype(np.float64)), **tol(elem))
        np.testing.assert_allclose(read(m + k, n), a + b, **tol(elem))
        np.testing.assert_allclose(read(m - k, n), a - b, **tol(elem))
        np.testing.assert_allclose(read(-m, n), -a)
        np.testing.assert_allclose(read(m * 2.5, n), a * dtype(2.5), **tol(elem))
        np.testing.assert_allclose(read(m / 4, n), a / dtype(4), **tol(elem))
        np.testing.assert_allclose(read(m, n), a)  # operands unchanged
        assert m(1, 2) == m.at(1, 2) == a[2, 1]


@pytest.mark.parametrize("name,n,elem", KINDS)
def test_construction_and_in_place_changes(name, n, elem):
    m = cls(name)()
    assert (read(m, n) == 0).all()  # zero-filled, never indeterminate
    ident = getattr(q, name + "_identity")()
    assert (read(ident, n) == np.eye(n)).all()
    assert ident.inverse() == ident
    u = getattr(q, name + "_uniform")(2)
    assert (read(u, n) == 2.0).all()
    assert u.set_at(1, 2, 5) is None and u.at(1, 2) == 5.0 and u(1, 2) == 5.0
    t = u.transpose()
    assert t.at(2, 1) == 5.0 and u.at(2, 1) == 2.0
    assert u.transpose_in_place() is None and u.at(2, 1) == 5.0 and u == t
    assert u.to_string().startswith("[[")
    m2 = m
    m += ident
    m *= 3
    m -= ident
    m /= 2
    assert (read(m, n) == np.eye(n)).all()
    assert m2 == m


def test_element_and_scalar_conversions():
    m = cls("Matrix3f")()
    assert q.Matrix3f_uniform(float("inf")).at(0, 0) == float("inf")
    with pytest.raises(OverflowError, match=r"^in method 'Matrix3f_uniform', argument 1 of type 'float'$"):
        q.Matrix3f_uniform(1e39)
    with pytest.raises(OverflowError, match=r"^in method 'Matrix3f_at', argument 2 of type 'size_t'$"):
        m.at(-1, 0)
    with pytest.raises(TypeError, match=r"^in method 'Matrix3f_at', argument 2 of type 'size_t'$"):
        m.at(0.0, 0)
    with pytest.raises(TypeError, match=r"^in method 'Matrix3f_at', argument 3 of type 'size_t'$"):
        m.at(0, 1.5)
    m.set_at(1, 0, 7)
    assert m.at(True, 0) == 7.0
    with pytest.raises(TypeError, match=r"^in method 'Matrix3f_at', argument 1 of type 'quelbo::Matrix< float,3 > const \*'$"):
        q.Matrix3f_at(cls("Matrix3d")(), 0, 0)
    with pytest.raises(TypeError, match=r"^in method 'Matrix3f_set_at', argument 4 of type 'float'$"):
        m.set_at(0, 0, "x")
    assert m.at(0, 0) == 0.0
    with pytest.raises(TypeError, match=r"^Matrix3f_at expected 3 arguments, got 2$"):
        q.Matrix3f_at(m, 0)
    assert q.delete_Matrix3f(None) is None


@pytest.mark.parametrize("name,n", [("Matrix3f", 3), ("Matrix4d", 4)])
def test_outside_positions_and_singular_inverse_raise(name, n):
    m = cls(name)()
    for c, r in [(n, 0), (0, n), (2**64 - 1, 2**64 - 1)]:
        with pytest.raises(QuelboError, match="outside"):
            m.at(c, r)
        with pytest.raises(QuelboError, match="outside"):
            m(c, r)
        with pytest.raises(QuelboError, match="outside"):
            m.set_at(c, r, 1.0)
    with pytest.raises(QuelboError, match="singular"):
        m.inverse()
    a = np.arange(n * n, dtype=float).reshape(n, n)  # rank 2
    with pytest.raises(QuelboError, match="singular"):
        make(name, a).inverse()
    assert np.isnan(read(make(name, np.full((n, n), np.nan)).inverse(), n)).all()  # as numpy gives it


def test_null_and_wrong_operands():
    m, d = cls("Matrix3f")(), cls("Matrix3d")()
    assert q.Matrix3f___eq__(m, 5) is NotImplemented and q.Matrix3f___ne__(m, 5) is NotImplemented
    assert (m == 5) is False and m != 5
    for op in ("eq", "ne", "add", "sub"):
        with pytest.raises(ValueError, match=r"^invalid null reference in method 'Matrix3f___%s__', argument 2 of "
                                             r"type 'quelbo::Matrix< float,3 > const &'$" % op):
            getattr(q, "Matrix3f___%s__" % op)(m, None)
    assert q.Matrix3f___add__(m, d) is NotImplemented
    assert q.Matrix3f___mul__(m, None) is NotImplemented
    assert q.Matrix3f___mul__(d, m) is NotImplemented and q.Matrix3f___mul__(d, [1, 2, 3]) is NotImplemented
    assert q.Matrix3f___mul__(m, 1e39) is NotImplemented
    assert q.Matrix3f___mul__(m, m, m) is NotImplemented
    assert q.Matrix3f___truediv__(m, [1, 2, 3]) is NotImplemented
    with pytest.raises(OverflowError, match=r"^in method 'Matrix3f___truediv__', argument 2 of type 'float'$"):
        m / 1e39
    for bad in (m, [1, 2, 3]):
        with pytest.raises(TypeError, match=r"^in method 'Matrix3f___imul__', argument 2 of type 'float'$"):
            q.Matrix3f___imul__(m, bad)
    with pytest.raises(OverflowError, match=r"^in method 'Matrix3f___imul__', argument 2 of type 'float'$"):
        q.Matrix3f___imul__(m, 1e39)
    with pytest.raises(ValueError, match="argument 2 of type 'quelbo::Matrix< float,3 > const &'"):
        q.Matrix3f___iadd__(m, None)
    assert m.this.own()  # failed in-place calls keep the ownership
    with pytest.raises(ValueError, match="invalid null reference in method 'Matrix3f___neg__'"):
        q.Matrix3f___neg__(None)


def test_product_with_a_sequence():
    m = q.Matrix3d_uniform(1.0)
    assert (m * (1.0, 2, True)).to_string() == "[4, 4, 4]"
    assert (m * m) == q.Matrix3d_uniform(3.0)
    assert m * q.Matrix3d_identity() == m
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        m * [1, 2]
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        m * "ab"
    assert q.Matrix3d___mul__(m, [1, "a", 3]) is NotImplemented
    assert q.Matrix3d___mul__(m, "abc") is NotImplemented
    assert type(q.Matrix4f_uniform(1.0) * [1, 2, 3, 4]).__name__ == "Vector4f"
    with pytest.raises(ValueError, match="^input sequence has invalid length$"):
        q.Matrix4f_uniform(1.0) * [1, 2, 3]
    with pytest.raises(TypeError):
        [1, 2, 3] * m  # no reflected form


def test_in_place_result_owns_and_old_handle_stays_safe():
    m = q.Matrix4d_uniform(1.0)
    w = m
    m += q.Matrix4d_identity()
    assert m.this.own() and not w.this.own()
    assert w.at(0, 0) == 2.0  # the old handle sees the change
    w2 = w
    w *= 2  # through the old handle: the new one does not own either
    assert not w.this.own()
    del m
    gc.collect()
    # The owner's proxy is gone: the old handles keep the matrix alive.
    assert w.at(0, 0) == 4.0 and w2.at(0, 0) == 4.0
    del w, w2
    gc.collect()
    # An explicitly deleted owner: the old handle refuses instead of reading freed memory.
    m = q.Matrix3f_uniform(1.0)
    old = m
    m += m
    q.delete_Matrix3f(m)
    with pytest.raises(ValueError, match="invalid null reference in method 'Matrix3f_at'"):
        old.at(0, 0)
    assert q.delete_Matrix3f(old) is None


def table():
    return [n for n in vars(q) if callable(getattr(q, n))]


def test_method_table_order_and_docstrings():
    members = ["identity", "uniform", "new_", "__eq__", "__ne__", "at", "__call__", "set_at", "transpose_in_place",
               "transpose", "inverse", "to_string", "__neg__", "__iadd__", "__isub__", "__add__", "__sub__",
               "__imul__", "__itruediv__", "__truediv__", "__mul__", "delete_", "swigregister", "swiginit"]
    expected = []
    for name, _, _ in KINDS:
        expected += [m + name if m in ("new_", "delete_") else name + "_" + m for m in members]
    expected += ["TransformMatrix3Factory_" + m for m in ("translation", "rotation", "scaling")]
    expected += ["new_TransformMatrix3Factory", "delete_TransformMatrix3Factory",
                 "TransformMatrix3Factory_swigregister", "TransformMatrix3Factory_swiginit"]
    expected += ["TransformMatrix4Factory_" + m for m in ("translation", "rotation_euler", "rotation_on_axis", "scaling")]
    expected += ["new_TransformMatrix4Factory", "delete_TransformMatrix4Factory",
                 "TransformMatrix4Factory_swigregister", "TransformMatrix4Factory_swiginit"]
    names = table()
    start = names.index("Matrix3f_identity")
    assert names[start:start + len(expected)] == expected
    arrays = []
    for s in ("u8", "i8", "u16", "i16", "u32", "i32", "u64", "i64", "f", "d"):
        c = "ArrayX" + s
        arrays += ["new_" + c, "delete_" + c] + [c + "_" + m for m in (
            "dimension_count", "shape", "indexer", "at", "set_at", "reshape", "to_string", "__eq__", "__ne__",
            "_to_numpy", "from_numpy", "swigregister", "swiginit")]
    start = names.index("new_ArrayXu8")
    assert names[start:start + len(arrays)] == arrays
    at_doc = ("\nAccess an element of the matrix.\n\n:type column: int\n:param column: The column of the element\n"
              ":type row: int\n:param row: The row of the element\n")
    assert q.Matrix4d_at.__doc__ == at_doc and q.Matrix4d___call__.__doc__ == at_doc
    assert q.Matrix3d_inverse.__doc__ == ("\nReturn the inverse matrix.\n\nWarning: Calling this method on a "
                                          "non-invertable matrix will cause\n         undefined behaviour.\n")
    assert q.Matrix3d_uniform.__doc__.startswith("\nInitialize an uniform matrix with an unique value.\n\n:type value: float\n")
    assert q.new_Matrix4f.__doc__ == "\nDefault constructor.\nObject will have indeterminate values.\n"
    assert q.Matrix4f___mul__.__doc__ is None and q.delete_Matrix4f.__doc__ is None
