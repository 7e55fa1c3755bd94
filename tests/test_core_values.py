"""DataType, ImageType, the free operators and the capability flag sets."""
import re

import pytest

from proxy import QuelboError, cls, handle, q

DataType = cls("DataType")
ImageType = cls("ImageType")

DATA_TYPE_IDS = {n[len("DataTypeId_"):]: getattr(q, n) for n in dir(q) if n.startswith("DataTypeId_")}


def exact(text):
    return "^" + re.escape(text) + "$"


def overload_text(fn, *prototypes):
    return "Wrong number or type of arguments for overloaded function '%s'.\n  Possible C/C++ prototypes are:\n%s" % (
        fn, "".join("    %s\n" % p for p in prototypes))


def overload(fn, *prototypes):
    return exact(overload_text(fn, *prototypes))


# ------------------------------------------------------------------ DataType

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


# ----------------------------------------------------------------- ImageType

def dims(t):
    return [q.ImageType__dimension(t, i) for i in range(q.ImageType_dimension_count(t))]


def test_positions_run_over_present_dimensions():
    t = q.cvar.ImageTypeId_IMAGE_SEQUENCE
    assert dims(t) == [q.ImageDimension_COLUMN, q.ImageDimension_ROW, q.ImageDimension_SEQUENCE]
    assert q.ImageType_index_dimension(t, q.ImageDimension_SEQUENCE) == 2
    assert q.ImageType_index_dimension(t, q.ImageDimension_SLICE) == 2**64 - 1
    with pytest.raises(QuelboError):
        q.ImageType__dimension(ImageType(), 0)


def test_value_round_trip_of_the_named_types():
    names = str(q.cvar)[1:-1].split(", ")
    assert len([n for n in names if n.startswith("ImageTypeId_")]) == 9
    for name in (n for n in names if n.startswith("ImageTypeId_")):
        t = getattr(q.cvar, name)
        assert q.ImageType___eq__(ImageType(q.ImageType_value(t)), t) is True


def test_remove_by_dimension_and_by_position():
    t = ImageType(q.ImageType_value(q.cvar.ImageTypeId_MULTISPECTRAL_VOLUME))
    q.ImageType_remove(t, 1)  # the dimension ROW, not position 1
    assert dims(t) == [0, 2, 3]
    with pytest.raises(QuelboError):  # positions from 2**31 take the size_t form
        q.ImageType_remove(t, 2**31)
    assert dims(t) == [0, 2, 3]
    for bad in ("x", 2**64, None):
        with pytest.raises(TypeError, match=overload("ImageType_remove", "quelbo::ImageType::remove(quelbo::ImageDimension)",
                                                     "quelbo::ImageType::remove(size_t)")):
            q.ImageType_remove(t, bad)


def test_add_changes_or_copies():
    t = q.__or__(0, 1)
    u = q.ImageType___or__(t, q.ImageDimension_CHANNEL)
    assert dims(t) == [0, 1] and dims(u) == [0, 1, 3]
    assert q.ImageType_add(t, q.ImageDimension_SLICE) is None
    assert dims(t) == [0, 1, 2]
    assert q.ImageType___or__(t, "x") is NotImplemented
    with pytest.raises(OverflowError):
        q.ImageType___or__(t, 2**31)


@pytest.mark.parametrize("call", [lambda t: q.ImageType_add(t, 7), lambda t: q.ImageType___or__(t, -1),
                                  lambda t: q.__or__(5, t), lambda t: q.__or__(0, 99)])
def test_unknown_dimensions_are_refused(call):
    with pytest.raises(QuelboError, match="unknown image dimension"):
        call(ImageType())


def test_constructor_forms_and_refusals():
    assert q.ImageType_value(ImageType()) == 0
    assert q.ImageType_value(ImageType(None, 0)) == 0
    with pytest.raises(QuelboError):  # a null list with a count is never read
        ImageType(None, 3)
    with pytest.raises(QuelboError):
        ImageType(2**40)
    protos = ("quelbo::ImageType::ImageType()", "quelbo::ImageType::ImageType(quelbo::ImageDimension const *,size_t)",
              "quelbo::ImageType::ImageType(uint64_t)")
    for args in (("x",), ([0, 1], 2), (-1,), (1, 2, 3)):
        with pytest.raises(TypeError) as info:
            q.new_ImageType(*args)
        assert str(info.value).endswith(overload_text("new_ImageType", *protos))


def test_comparisons():
    t = q.__or__(0, 1)
    assert q.ImageType___eq__(t, q.cvar.ImageTypeId_IMAGE) is True
    assert q.ImageType___ne__(t, q.cvar.ImageTypeId_VOLUME) is True
    assert q.ImageType___eq__(t, "x") is NotImplemented
    for fn in ("ImageType___eq__", "ImageType___ne__"):
        with pytest.raises(ValueError, match=exact(
                "invalid null reference in method '%s', argument 2 of type 'quelbo::ImageType'" % fn)):
            getattr(q, fn)(t, None)


def test_named_types_cannot_be_changed():
    image = q.cvar.ImageTypeId_IMAGE
    for call in (lambda: q.ImageType_add(image, 3), lambda: q.ImageType_remove(image, 0)):
        with pytest.raises(TypeError, match="argument 1 of type 'quelbo::ImageType \\*'"):
            call()
    assert dims(q.cvar.ImageTypeId_IMAGE) == [0, 1]


# ------------------------------------------------------------- free operators

def test_free_or_builds_image_types():
    for a, b in ((0, 1), (q.StreamAccessCapability_READ, q.StreamAccessCapability_WRITE)):
        r = q.__or__(a, b)
        assert type(r).__name__ == "ImageType" and dims(r) == [a, b]
    t = q.__or__(0, 1)
    assert dims(q.__or__(q.ImageDimension_CHANNEL, t)) == [0, 1, 3] and dims(t) == [0, 1]


def test_free_and_xor_build_stream_sets():
    r = q.__and__(q.ImageCapability_READ_WRITE, q.ImageCapability_READ)
    assert type(r).__name__ == "StreamAccessCapabilitySet" and q.StreamAccessCapabilitySet_value(r) == 1
    assert q.StreamAccessCapabilitySet_value(q.__xor__(6, 3)) == 5
    assert q.StreamAccessCapabilitySet_value(q.__xor__(-1, 0)) == 2**64 - 1


UNFIT = [(1.5, 1), (1, "x"), (1, 2, 3), (1,), (), (2**31, 1)]


@pytest.mark.parametrize("fn, args", [(fn, args) for fn in ("__or__", "__and__", "__xor__", "__lshift__")
                                      for args in UNFIT] + [(fn, (None, 1)) for fn in ("__or__", "__and__", "__xor__")])
def test_free_operators_never_raise_for_unfit_operands(fn, args):
    assert getattr(q, fn)(*args) is NotImplemented


def test_lshift_stream_argument():
    with pytest.raises(ValueError, match=exact(
            "invalid null reference in method '__lshift__', argument 1 of type 'std::ostream &'")):
        q.__lshift__(None, 65800)
    assert q.__lshift__(1, 65800) is NotImplemented


# ------------------------------------------------------------------ flag sets

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
