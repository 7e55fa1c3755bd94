"""Every matrix and value-array class writes its own native type in its
messages and prototypes: each class has its own texts, so a slip in one of
them shows only in that class's calls."""
import pytest

from proxy import cls, q
from test_arrays import TYPES

MATRICES = [("Matrix3f", "float", 3), ("Matrix3d", "double", 3), ("Matrix4f", "float", 4), ("Matrix4d", "double", 4)]
ARG = "in method '%s', argument %d of type '%s'"


def message(fn, *args):
    with pytest.raises(Exception) as e:
        fn(*args)
    return type(e.value), str(e.value)


@pytest.mark.parametrize("name,elem,n", MATRICES)
def test_matrix_argument_texts(name, elem, n):
    m = cls(name)()
    other = cls("Matrix3f" if name == "Matrix3d" else "Matrix3d")()
    native = "quelbo::Matrix< %s,%d >" % (elem, n)
    refused = [("at", (other, 0, 0), 1, native + " const *"), ("__call__", (m, 0, "x"), 3, "size_t"),
               ("set_at", (other, 0, 0, 0), 1, native + " *"), ("set_at", (m, 0, 0, "x"), 4, elem),
               ("transpose_in_place", (other,), 1, native + " *"), ("uniform", ("x",), 1, elem),
               ("__iadd__", (other, m), 1, native + " *"), ("__isub__", (m, 5), 2, native + " const &"),
               ("__imul__", (m, m), 2, elem), ("__itruediv__", (m, "x"), 2, elem)]
    for member, args, number, text in refused:
        fn = "%s_%s" % (name, member)
        assert message(getattr(q, fn), *args) == (TypeError, ARG % (fn, number, text))
    # Operators: a missing operand is the null reference, another kind NotImplemented.
    missing = [("__neg__", (None,), 1, native + " const *"), ("__mul__", (None, m), 1, native + " const *"),
               ("__add__", (m, None), 2, native + " const &"), ("__sub__", (m, None), 2, native + " const &")]
    for member, args, number, text in missing:
        fn = "%s_%s" % (name, member)
        assert message(getattr(q, fn), *args) == (ValueError, "invalid null reference " + ARG % (fn, number, text))
    for member, args in (("__neg__", (other,)), ("__mul__", (other, m)), ("__mul__", (m, object())),
                         ("__add__", (m, other)), ("__truediv__", (m, m))):
        assert getattr(q, "%s_%s" % (name, member))(*args) is NotImplemented
    assert type(m * ([1.0] * n)).__name__ == "Vector%d%s" % (n, elem[0])


@pytest.mark.parametrize("s,elem,np_t", TYPES)
def test_array_argument_texts_and_prototypes(s, elem, np_t):
    name = "ArrayX" + s
    a = cls(name)([2])
    other = cls("ArrayXf" if s == "d" else "ArrayXd")([2])
    native = "quelbo::ArrayX< %s >" % elem
    refused = [("at", (other, [0]), 1, native + " const *"), ("set_at", (other, [0], 0), 1, native + " *"),
               ("set_at", (a, [0], "x"), 3, elem), ("reshape", (other, [2]), 1, native + " *"),
               ("_to_numpy", (other, None), 1, native + " *")]
    for member, args, number, text in refused:
        fn = "%s_%s" % (name, member)
        assert message(getattr(q, fn), *args) == (TypeError, ARG % (fn, number, text))
    prototypes = "".join("    %s::ArrayX(%s)\n" % (native, p) for p in (
        "quelbo::VectorXu64 const &", "quelbo::Indexer const &", native + " const &", native + " &&"))
    assert message(getattr(q, "new_" + name), 1.5) == (
        TypeError, "Wrong number or type of arguments for overloaded function 'new_%s'.\n"
                   "  Possible C/C++ prototypes are:\n%s" % (name, prototypes))
    copy = cls(name)(a)
    assert copy == a and copy.this.own()
