"""The six capability flag sets: construction, changes, operators and ownership."""
import random
import re

import numpy as np
import pytest

from helpers import exact, overload, overload_text, vec
from proxy import QuelboError, cls, handle, q

SETS = {
    "StreamAccessCapabilitySet": "quelbo::FlagSet< StreamAccessCapability >",
    "RandomAccessCapabilitySet": "quelbo::FlagSet< RandomAccessCapability >",
    "ParallelAccessCapabilitySet": "quelbo::FlagSet< quelbo::ParallelAccessCapability >",
    "ImageCapabilitySet": "quelbo::FlagSet< ImageCapability >",
    "MultiImageCapabilitySet": "quelbo::FlagSet< quelbo::MultiImageCapability >",
    "DataFrameCapabilitySet": "quelbo::FlagSet< quelbo::DataFrameCapability >",
}


@pytest.fixture(params=sorted(SETS))
def fs(request):
    name = request.param
    return name, cls(name), lambda suffix: getattr(q, name + suffix)


def test_set_construction(fs):
    name, Set, f = fs
    assert f("_value")(Set()) == 0 and f("_has")(Set(), 0) is True
    s = Set(5)
    assert [f("_has")(s, v) for v in (1, 4, 5, 3)] == [True, True, True, False]
    assert f("_value")(Set(-1)) == 2**64 - 1
    assert f("_value")(Set(2**40)) == 2**40
    assert f("_value")(Set(s)) == 5
    enum = name[: -len("Set")]
    written = SETS[name]
    protos = [written + "::FlagSet()", written + "::FlagSet(uint64_t)", written + "::FlagSet(quelbo::%s)" % enum,
              written + "::FlagSet(quelbo::FlagSet< quelbo::%s > const &)" % enum,
              written + "::FlagSet(quelbo::FlagSet< quelbo::%s > &&)" % enum]
    for args in ((-2147483649,), (1.0,), (None,), (1, 2)):
        with pytest.raises(TypeError) as info:
            getattr(q, "new_" + name)(*args)
        assert str(info.value).endswith(overload_text("new_" + name, *protos))


def test_set_add_remove_and_binary_operators(fs):
    name, Set, f = fs
    s = Set(1)
    assert f("_add")(s, 6) is None and f("_value")(s) == 7
    assert f("_remove")(s, Set(3)) is None and f("_value")(s) == 4
    r = f("___or__")(s, 2)
    assert f("_value")(r) == 6 and f("_value")(s) == 4
    assert f("_value")(f("___and__")(Set(6), 3)) == 2 and f("_value")(f("___xor__")(Set(6), 3)) == 5
    with pytest.raises(OverflowError):
        f("_add")(s, 2**64)
    assert f("_value")(s) == 4


def test_set_comparisons_and_foreign_operands(fs):
    name, Set, f = fs
    other = "RandomAccessCapabilitySet" if name != "RandomAccessCapabilitySet" else "ImageCapabilitySet"
    assert f("___eq__")(Set(3), 3) is True and f("___ne__")(Set(3), Set(3)) is False
    for foreign in (cls(other)(3), "x", 1.5):
        assert f("___eq__")(Set(3), foreign) is NotImplemented
        assert f("___or__")(Set(3), foreign) is NotImplemented
    for op in ("___eq__", "___or__"):
        with pytest.raises(RuntimeError, match=exact(
                "in method '%s%s', argument 2 of type 'quelbo::FlagSet< quelbo::%s >'" % (name, op, name[:-3]))):
            f(op)(Set(3), None)
    assert f("___or__")(3, 3) is NotImplemented
    for op, written in (("_add", " *"), ("_has", " const *")):
        with pytest.raises(TypeError, match=exact(
                "in method '%s%s', argument 1 of type '%s%s'" % (name, op, SETS[name], written))):
            f(op)(3, 3)


def test_set_in_place_operators_move_ownership_only_on_success(fs):
    name, Set, f = fs
    for op, expect in (("___ior__", 7), ("___iand__", 1), ("___ixor__", 6)):
        s = Set(5)
        left = handle(s)
        with pytest.raises(TypeError, match=exact(
                "in method '%s%s', argument 2 of type 'quelbo::FlagSet< quelbo::%s >'" % (name, op, name[:-3]))):
            f(op)(s, "x")
        assert left.own() is True and f("_value")(s) == 5
        r = f(op)(s, 3)
        assert f("_value")(r) == expect and f("_value")(s) == expect
        assert handle(r).own() is True and left.own() is False
