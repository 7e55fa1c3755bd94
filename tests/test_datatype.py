"""DataType: identifiers and fields, constructors, comparisons and static members."""
import random
import re

import numpy as np
import pytest

from helpers import exact, overload, overload_text, vec
from proxy import QuelboError, cls, handle, q

DataType = cls("DataType")
ImageType = cls("ImageType")

DATA_TYPE_IDS = {n[len("DataTypeId_"):]: getattr(q, n) for n in dir(q) if n.startswith("DataTypeId_")}


def expected_fields(name):
    """(bit depth, count, primitive, interpretation) read off a DataTypeId name."""
    if name == "UNKNOWN":
        return 0, 0, 0, 0
    m = re.fullmatch(r"(?:(VEC|MATRIX|SYM_MATRIX)(\d)_|(COMPLEX)_)?(U?INT|FLOAT|DOUBLE|UTF)(\d*)(?:_STRING)?", name)
    kind, n, cplx, base, bits = m.groups()
    bits = {"FLOAT": 32, "DOUBLE": 64}.get(base) or int(bits)
    prim = {"UINT": 1, "INT": 2, "FLOAT": 3, "DOUBLE": 3, "UTF": 4}[base]
    if cplx:
        return bits, 2, prim, 1
    n = int(n or 1)
    count, interp = {None: (n, 0), "VEC": (n, 0), "MATRIX": (n * n, 2), "SYM_MATRIX": (n * (n + 1) // 2, 3)}[kind]
    return bits, count, prim, interp


def test_all_56_identifiers_match_their_fields():
    assert len(DATA_TYPE_IDS) == 56
    for name, ident in DATA_TYPE_IDS.items():
        bits, count, prim, interp = expected_fields(name)
        assert ident == interp << 32 | prim << 16 | count << 8 | bits, name
        t = DataType(ident)
        assert q.DataType_get_id(t) == ident
        assert (q.DataType_get_bit_depth(t), q.DataType_get_element_count(t)) == (bits, count)
        assert (q.DataType__get_primitive_type(t), q.DataType__get_interpretation(t)) == (prim, interp)
        assert q.DataType_bit_count(t) == bits * count
        assert q.DataType_to_string(t) == name


@pytest.mark.parametrize(
    "args, bits, count",
    [((q.DataTypeId_UNKNOWN,), 0, 1), ((q.DataTypeId_VEC3_UINT16,), 48, 6), ((1, 12, 1), 12, 2), ((3, 64, 16), 1024, 128)],
)
def test_bit_and_byte_counts(args, bits, count):
    t = DataType(*args)
    assert (q.DataType_bit_count(t), q.DataType_byte_count(t)) == (bits, count)


def test_constructor_forms():
    assert q.DataType_get_id(DataType()) == 0
    # both identifiers succeed, through the DataTypeId and the uint64_t form
    assert q.DataType_get_id(DataType(65800)) == 65800
    assert q.DataType_get_id(DataType(4295164480)) == 4295164480
    assert q.DataType_get_id(DataType(-1)) == 2**64 - 1
    assert q.DataType_get_id(DataType(True)) == 1
    t = DataType(q.PrimitiveTypeId_FLOATING_POINT, 32, 2, q.DataTypeInterpretation_COMPLEX)
    assert q.DataType_get_id(t) == q.DataTypeId_COMPLEX_FLOAT
    assert q.DataType_get_id(DataType(q.PrimitiveTypeId_SIGNED_INTEGER, 16, 3)) == q.DataTypeId_VEC3_INT16


PROTOS = (
    "quelbo::DataType::DataType()",
    "quelbo::DataType::DataType(uint64_t)",
    "quelbo::DataType::DataType(quelbo::DataTypeId)",
    "quelbo::DataType::DataType(quelbo::PrimitiveTypeId,size_t,size_t,quelbo::DataTypeInterpretation)",
    "quelbo::DataType::DataType(quelbo::PrimitiveTypeId,size_t,size_t)",
)


@pytest.mark.parametrize("args", [(DataType(65800),), (1, 2), (2**64,), (-(2**31) - 1,), (1.0,), (None,), (1, 2, "x")])
def test_constructor_refusals_give_the_overload_message(args):
    with pytest.raises(TypeError, match=overload("new_DataType", *PROTOS)):
        q.new_DataType(*args)


def test_five_arguments_merge_the_count_message():
    with pytest.raises(TypeError) as info:
        q.new_DataType(1, 2, 3, 4, 5)
    assert str(info.value) == ("new_DataType expected at most 4 arguments, got 5\nAdditional information:\n" +
                               overload_text("new_DataType", *PROTOS))


def test_field_overflow_is_refused_by_the_library():
    with pytest.raises(QuelboError):
        DataType(1, 256, 1)
    with pytest.raises(QuelboError):
        DataType(1, 8, 300, 0)


def test_comparison_takes_objects_and_identifiers():
    t = DataType(q.DataTypeId_UINT8)
    assert q.DataType___eq__(t, 65800) is True and q.DataType___ne__(t, 65800) is False
    assert q.DataType___eq__(t, DataType(65800)) is True
    for other in (None, "x", 1.5):
        assert q.DataType___eq__(t, other) is NotImplemented
    with pytest.raises(OverflowError):
        q.DataType___eq__(t, 2**64)


def test_static_members_take_identifiers():
    for arg in (65800, DataType(65800)):
        r = q.DataType_standard_range(arg)
        assert type(r).__name__ == "Vector2d"
        assert (q.Vector2d_at(r, 0), q.Vector2d_at(r, 1)) == (0.0, 255.0)
    r = q.DataType_standard_range(q.DataTypeId_VEC3_INT16)
    assert (q.Vector2d_at(r, 0), q.Vector2d_at(r, 1)) == (-32768.0, 32767.0)
    for no_range in (0, q.DataTypeId_UTF8_STRING):
        with pytest.raises(QuelboError, match="standard range"):
            q.DataType_standard_range(no_range)
    s = q.DataType_extract_scalar_type(q.DataTypeId_COMPLEX_DOUBLE)
    assert q.DataType_get_id(s) == q.DataTypeId_DOUBLE
    with pytest.raises(TypeError):
        q.DataType_extract_scalar_type("x")


@pytest.mark.parametrize(
    "a, b, ok",
    [("UINT8", "UINT16", True), ("UINT8", "INT16", True), ("INT8", "UINT16", False), ("INT16", "FLOAT", True),
     ("INT32", "FLOAT", False), ("INT32", "DOUBLE", True), ("FLOAT", "INT64", False), ("VEC2_UINT8", "UINT16", False)],
)
def test_convertibility(a, b, ok):
    assert q.DataType_is_convertible_to(DataType(DATA_TYPE_IDS[a]), DATA_TYPE_IDS[b]) is ok


def test_kind_predicates():
    flags = lambda n: tuple(f(DataType(DATA_TYPE_IDS[n])) for f in (q.DataType_is_scalar, q.DataType_is_vector,
                                                                      q.DataType_is_numeric))
    assert flags("UINT8") == (True, False, True)
    assert flags("VEC4_FLOAT") == (False, True, True)
    assert flags("MATRIX3_DOUBLE") == (False, False, True)
    assert flags("UTF8_STRING") == (False, False, False)


def test_self_of_the_wrong_kind():
    with pytest.raises(TypeError, match=exact("in method 'DataType_get_id', argument 1 of type 'quelbo::DataType const *'")):
        q.DataType_get_id(ImageType())
