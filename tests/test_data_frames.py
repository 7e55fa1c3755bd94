"""Data frame views: structure, units, cell access, bulk transfer, the
factory and the adoption of handed-over frames."""
import os

import numpy as np
import pytest

from proxy import QuelboError as Error
from helpers import assert_memory_flat, attempt
from proxy import cls, q
from views_util import exact

import _quelbo_twin as twin  # noqa: E402  (found through the proxy's build folder)


def code(primitive, bits):
    return primitive << 16 | 1 << 8 | bits


INT12, UINT12, FLOAT16 = code(2, 12), code(1, 12), code(3, 16)
NUMERIC = [(q.DataTypeId_INT8, np.int8), (q.DataTypeId_UINT8, np.uint8), (q.DataTypeId_INT16, np.int16),
           (q.DataTypeId_UINT16, np.uint16), (q.DataTypeId_INT32, np.int32), (q.DataTypeId_UINT32, np.uint32),
           (q.DataTypeId_INT64, np.int64), (q.DataTypeId_UINT64, np.uint64), (q.DataTypeId_FLOAT, np.float32),
           (q.DataTypeId_DOUBLE, np.float64), (FLOAT16, np.float16), (INT12, np.int16), (UINT12, np.uint16)]


def frame(types, rows=4):
    names = ["c%d" % i for i in range(len(types))]
    return q.DataFrameViewFactory__allocate([len(types), rows], names, list(types))


def shape(df):
    s = q.DataFrameView_get_shape(df)
    return [s.at(0), s.at(1)]


def column(df, c, dtype):
    out = bytearray(shape(df)[1] * np.dtype(dtype).itemsize)
    q.DataFrameView__read_bytes(df, c, 0, shape(df)[1], out)
    return np.frombuffer(bytes(out), dtype)


def strings(df, c):
    out = [""] * shape(df)[1]
    q.DataFrameView__read_strings(df, c, 0, len(out), out)
    return out


# ------------------------------------------------------------------ structure

def test_allocate_and_query_the_structure():
    names = ["xs", "ys"]
    given = list(names)
    df = q.DataFrameViewFactory__allocate([2, 3], names, [q.DataTypeId_UINT8, q.DataTypeId_UTF8_STRING])
    assert type(df).__name__ == "DataFrameView"
    # the names are written back as new, equal strings
    assert names == given and all(a is not b for a, b in zip(names, given))
    s = q.DataFrameView_get_shape(df)
    assert type(s).__name__ == "Vector2u64" and shape(df) == [2, 3]
    q.Vector2u64_set_at(s, 0, 9)
    assert shape(df) == [2, 3]
    assert q.DataFrameView_column_name(df, 1) == "ys" and q.DataFrameView_column_index(df, "ys") == 1
    assert q.DataFrameView_column_data_type(df, 1) == cls("DataType")(q.DataTypeId_UTF8_STRING)
    caps = q.DataFrameView_get_capabilities(df)
    assert type(caps).__name__ == "DataFrameCapabilitySet"
    for c in (q.DataFrameCapability_READ, q.DataFrameCapability_WRITE, q.DataFrameCapability_RESHAPE):
        assert q.DataFrameCapabilitySet_has(caps, c)
    assert q.DataFrameView_to_string(df) == "DataFrameView(columns: 2, rows: 3, [xs: UINT8, ys: UTF8_STRING])"
    for call in (lambda: q.DataFrameView_column_name(df, 2), lambda: q.DataFrameView_column_index(df, "z"),
                 lambda: q.DataFrameView_column_data_type(df, 2), lambda: q.DataFrameView_unit(df, 2)):
        with pytest.raises(Error):
            call()
    with pytest.raises(ValueError, match=exact("invalid null reference in method 'DataFrameView_column_index', "
                                               "argument 2 of type 'std::string const &'")):
        q.DataFrameView_column_index(df, None)
    with pytest.raises(OverflowError, match=exact("in method 'DataFrameView_add_rows', argument 2 of type 'size_t'")):
        q.DataFrameView_add_rows(df, -1, 2)
    with pytest.raises(TypeError, match=exact("in method 'DataFrameView_get_shape', argument 1 of type "
                                              "'quelbo::DataFrameView const *'")):
        q.DataFrameView_get_shape(q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8))
    with pytest.raises(TypeError, match=exact("in method 'DataFrameView__at', argument 1 of type "
                                              "'quelbo::DataFrameView *'")):
        q.DataFrameView__at(cls("View")(), 0, 0)
    # None as the object: refused before the library is reached
    for fn in (q.DataFrameView_get_shape, q.DataFrameView_to_string, lambda v: q.DataFrameView__at(v, 0, 0),
               lambda v: q.DataFrameView__reshape(v, [1, 1], ["a"], [q.DataTypeId_UINT8])):
        with pytest.raises(ValueError, match="invalid null reference"):
            fn(None)


@pytest.mark.parametrize("args, exc, text", [
    ((3, ["a"], [65800]), ValueError, "input must be a sequence"),
    ([[1, 2, 3], ["a"], [65800]], ValueError, "input sequence has invalid length"),
    ([[1, "2"], ["a"], [65800]], TypeError, "invalid item in sequence - expected long value"),
    ([[2, 3], "ab", [65800, 65800]], TypeError, "not a list"),
    ([[2, 3], ("a", "b"), [65800, 65800]], TypeError, "not a list"),
    ([[2, 3], ["a", 2], [65800, 65800]], TypeError, "list must contains strings"),
    ([[2, 3], ["a", "b"], 65800], TypeError, "not a list"),
    ([[2, 3], ["a", "b"], [65800, 1.0]], TypeError, "list must contains longs"),
    ([[2, 3], ["a", "b"], [65800, 2**64]], OverflowError, None),
    ([[2, 3], ["a", "\ud800"], [65800, 65800]], UnicodeEncodeError, None),
])
def test_table_argument_rules(args, exc, text):
    match = exact(text) if text else None
    with pytest.raises(exc, match=match):
        q.DataFrameViewFactory__allocate(*args)
    df = frame([q.DataTypeId_UINT8])
    q.DataFrameView__set_at(df, 0, 1, 7)
    with pytest.raises(exc, match=match):
        q.DataFrameView__reshape(df, *args)
    assert shape(df) == [1, 4] and q.DataFrameView__at(df, 0, 1) == 7


def test_table_counts_and_names_are_checked_before_the_library_reads():
    dt = cls("DataType")(q.DataTypeId_UINT8)
    with pytest.raises(TypeError, match=exact("list must contains longs")):
        q.DataFrameViewFactory__allocate([1, 1], ["a"], [dt])
    bad = [([2, 3], ["a"], [65800, 65800]), ([2, 3], ["a", "b"], [65800]), ([0, 3], [], []),
           ([1, 0], ["a"], [65800]), ([2, 3], ["a", "a"], [65800, 65800]),
           ([1, 1], ["a"], [q.DataTypeId_VEC3_FLOAT]), ([1, 1], ["a"], [q.DataTypeId_UTF16_STRING]),
           ([1, 1], ["a"], [True]), ([1, 1], ["a"], [code(3, 24)])]
    df = frame([q.DataTypeId_INT32], 2)
    for args in bad:
        names = args[1]
        before = list(names)
        with pytest.raises(Error):
            q.DataFrameViewFactory__allocate(*args)
        with pytest.raises(Error):
            q.DataFrameView__reshape(df, *args)
        assert names == before
    assert shape(df) == [1, 2]


def test_reshape_replaces_the_table():
    df = frame([q.DataTypeId_INT32], 2)
    q.DataFrameView_set_unit(df, 0, "s")
    names = ["p", "q", "r"]
    assert q.DataFrameView__reshape(df, [3, 5], names, [q.DataTypeId_UTF8_STRING, q.DataTypeId_DOUBLE, INT12]) is None
    assert names == ["p", "q", "r"] and shape(df) == [3, 5]
    assert strings(df, 0) == [""] * 5 and list(column(df, 1, np.float64)) == [0.0] * 5
    assert q.DataFrameView_unit(df, 0) == ""
    # a frame without RESHAPE refuses, as the Error class
    foreign = twin.foreign_frame([q.DataTypeId_UINT8], 2)
    with pytest.raises(Error):
        q.DataFrameView__reshape(foreign, [1, 1], ["a"], [q.DataTypeId_UINT8])


def test_columns_and_rows_are_added_and_removed():
    df = q.DataFrameViewFactory__allocate_empty()
    assert shape(df) == [0, 0] and q.DataFrameView_to_string(df) == "DataFrameView(columns: 0, rows: 0, [])"
    q.DataFrameView_add_column(df, "n", q.DataTypeId_INT16)
    q.DataFrameView_add_rows(df, 0, 3)
    q.DataFrameView_add_column(df, "s", cls("DataType")(q.DataTypeId_UTF8_STRING))
    assert shape(df) == [2, 3] and strings(df, 1) == ["", "", ""] and list(column(df, 0, np.int16)) == [0, 0, 0]
    q.DataFrameView__write_bytes(df, 0, 0, 3, np.array([1, 2, 3], np.int16).tobytes())
    q.DataFrameView__write_strings(df, 1, 0, 3, ["a", "b", "c"])
    q.DataFrameView_add_rows(df, 1, 2)   # inserted before row 1
    q.DataFrameView_add_rows(df, 5, 1)   # appended
    assert list(column(df, 0, np.int16)) == [1, 0, 0, 2, 3, 0]
    assert strings(df, 1) == ["a", "", "", "b", "c", ""]
    q.DataFrameView_remove_rows(df, 1, 2)
    assert list(column(df, 0, np.int16)) == [1, 2, 3, 0]
    for call in (lambda: q.DataFrameView_add_rows(df, 9, 0), lambda: q.DataFrameView_remove_rows(df, 9, 0)):
        call()
        assert shape(df) == [2, 4]
    for call in (lambda: q.DataFrameView_add_rows(df, 5, 1), lambda: q.DataFrameView_remove_rows(df, 3, 2),
                 lambda: q.DataFrameView_remove_rows(df, 1, 2**64 - 1),
                 lambda: q.DataFrameView_add_rows(df, 0, 2**64 - 1),
                 lambda: q.DataFrameView_add_column(df, "s", q.DataTypeId_UINT8),
                 lambda: q.DataFrameView_add_column(df, "v", q.DataTypeId_VEC2_FLOAT),
                 lambda: q.DataFrameView_remove_column(df, 2)):
        with pytest.raises(Error):
            call()
    assert shape(df) == [2, 4]
    q.DataFrameView_remove_column(df, 0)
    assert q.DataFrameView_column_name(df, 0) == "s" and strings(df, 0) == ["a", "b", "c", ""]
    with pytest.raises(TypeError):
        q.DataFrameView_add_column(df, "t", "int")
    # a frame that cannot reshape raises NotImplemented, seen as Error
    foreign = twin.foreign_frame([q.DataTypeId_UINT8], 2)
    for call in (lambda: q.DataFrameView_add_column(foreign, "x", 65800), lambda: q.DataFrameView_add_rows(foreign, 0, 1),
                 lambda: q.DataFrameView_remove_column(foreign, 0), lambda: q.DataFrameView_remove_rows(foreign, 0, 1)):
        with pytest.raises(Error, match="RESHAPE"):
            call()


def test_units_through_the_view_and_its_extension_agree():
    df = frame([q.DataTypeId_FLOAT, q.DataTypeId_UTF8_STRING])
    units = q.ColumnUnitExtension_cast(q.View__extension(df, q.ColumnUnitExtension_EXTENSION_ID))
    assert type(units).__name__ == "ColumnUnitExtension" and q.ColumnUnitExtension_EXTENSION_ID == 4
    assert q.DataFrameView_unit(df, 0) == "" == q.ColumnUnitExtension_unit(units, 1)
    q.DataFrameView_set_unit(df, 0, "µm²")
    q.ColumnUnitExtension_set_unit(units, 1, "°C")
    assert q.ColumnUnitExtension_unit(units, 0) == "µm²" and q.DataFrameView_unit(df, 1) == "°C"
    # the extension keeps the frame alive
    del df
    assert q.ColumnUnitExtension_unit(units, 0) == "µm²"
    for call in (lambda: q.ColumnUnitExtension_unit(units, 2), lambda: q.ColumnUnitExtension_set_unit(units, 2, "m")):
        with pytest.raises(Error):
            call()
    with pytest.raises(TypeError, match=exact("in method 'ColumnUnitExtension_set_unit', argument 3 of type "
                                              "'std::string const &'")):
        q.ColumnUnitExtension_set_unit(units, 0, b"m")
    with pytest.raises(ValueError, match=exact("invalid null reference in method 'ColumnUnitExtension_set_unit', "
                                               "argument 3 of type 'std::string const &'")):
        q.ColumnUnitExtension_set_unit(units, 0, None)
    with pytest.raises(OverflowError, match=exact("in method 'ColumnUnitExtension_unit', argument 2 of type "
                                                  "'size_t'")):
        q.ColumnUnitExtension_unit(units, -1)
    with pytest.raises(ValueError, match="invalid null reference"):
        q.ColumnUnitExtension_unit(None, 0)
    other = frame([q.DataTypeId_UINT8])
    assert q.ColumnUnitExtension_cast(q.View__extension(other, 3)) is None
    assert q.ColumnUnitExtension_cast(None) is None
    # a frame without units
    foreign = twin.foreign_frame([q.DataTypeId_UINT8], 1)
    assert q.View__extension(foreign, 4) is None
    with pytest.raises(Error):
        q.DataFrameView_unit(foreign, 0)


# ------------------------------------------------------------------ cells

def test_cells_of_every_numeric_type():
    df = frame([t for t, _ in NUMERIC[:10]], 2)
    for c, value in enumerate([-128, 255, -2, 65535, -7, 4294967295, -2**63, 2**64 - 1, 1.5, 0.1]):
        q.DataFrameView__set_at(df, c, 1, value)
        assert q.DataFrameView__at(df, c, 1) == value
        assert q.DataFrameView__at(df, c, 0) == 0
        assert column(df, c, NUMERIC[c][1])[1] == NUMERIC[c][1](value)
    # narrowing keeps the low-order bits; 32-bit floats are rounded
    q.DataFrameView__set_at(df, 1, 0, 300)
    q.DataFrameView__set_at(df, 0, 0, 200)
    q.DataFrameView__set_at(df, 8, 0, 0.1)
    q.DataFrameView__set_at(df, 9, 0, 3)   # an int into a double column
    assert [q.DataFrameView__at(df, c, 0) for c in (1, 0, 8, 9)] == [44, -56, 0.10000000149011612, 3.0]
    assert type(q.DataFrameView__at(df, 9, 0)) is float
    # failed conversions raise and write nothing
    for c, bad, exc in [(5, -1, OverflowError), (4, 2**64, OverflowError), (0, "1", TypeError),
                        (8, "x", TypeError), (7, 1.0, TypeError)]:
        before = q.DataFrameView__at(df, c, 1)
        with pytest.raises(exc):
            q.DataFrameView__set_at(df, c, 1, bad)
        assert q.DataFrameView__at(df, c, 1) == before
    for call in (lambda: q.DataFrameView__at(df, 0, 2), lambda: q.DataFrameView__set_at(df, 10, 0, 1),
                 lambda: q.DataFrameView__at(df, 0, 2**64 - 1)):
        with pytest.raises(Error):
            call()
    with pytest.raises(TypeError, match=exact("in method 'DataFrameView__set_at', argument 3 of type 'size_t'")):
        q.DataFrameView__set_at(df, 0, "0", 1)


def test_cells_without_access_and_their_texts():
    df = frame([FLOAT16, INT12, UINT12], 2)

    class Untouchable:
        def __index__(self):
            raise AssertionError("the value was looked at")
        __float__ = __int__ = __index__

    for c, text in enumerate(["invalid floating-point bit depth", "invalid signed integer bit depth",
                              "invalid unsigned integer bit depth"]):
        with pytest.raises(Error, match=exact(text)):
            q.DataFrameView__set_at(df, c, 0, Untouchable())
        with pytest.raises(Error, match=exact("unsupported column data type for cell access")):
            q.DataFrameView__at(df, c, 0)
    foreign = twin.foreign_frame([q.DataTypeId_UTF16_STRING, q.DataTypeId_UTF32_STRING,
                                  code(4, 16), q.DataTypeId_COMPLEX_FLOAT, code(1, 0), code(2, 255)], 1)
    for c in range(4):
        for call in (lambda: q.DataFrameView__at(foreign, c, 0), lambda: q.DataFrameView__set_at(foreign, c, 0, "a")):
            with pytest.raises(Error, match=exact("unsupported column data type for cell access")):
                call()
    # a type of 0 bits is no scalar; a 255-bit cell is read whole (32 bytes), then refused
    for c, text in ((4, "unsupported column data type for cell access"), (5, "invalid signed integer bit depth")):
        with pytest.raises(Error, match=exact("unsupported column data type for cell access")):
            q.DataFrameView__at(foreign, c, 0)
        with pytest.raises(Error, match=exact(text)):
            q.DataFrameView__set_at(foreign, c, 0, 1)


def test_string_cells_are_whole():
    df = frame([q.DataTypeId_UTF8_STRING], 3)
    for row, text in enumerate(["abc", "a\0b\0", "日本語 ✓"]):
        q.DataFrameView__set_at(df, 0, row, text)
        assert q.DataFrameView__at(df, 0, row) == text
    for bad, exc in [(1, TypeError), (b"abc", TypeError), (None, TypeError), ("\udc80", UnicodeEncodeError)]:
        with pytest.raises(exc):
            q.DataFrameView__set_at(df, 0, 0, bad)
        assert q.DataFrameView__at(df, 0, 0) == "abc"


# ------------------------------------------------------------------ bulk

@pytest.mark.parametrize("type_id, dtype", NUMERIC)
def test_bytes_round_trip_and_equal_numpy(type_id, dtype):
    df = frame([type_id, q.DataTypeId_UINT8], 6)
    info = np.finfo(dtype) if np.dtype(dtype).kind == "f" else np.iinfo(dtype)
    values = np.linspace(max(info.min, -1000), min(info.max, 1000), 6).astype(dtype)
    q.DataFrameView__write_bytes(df, 0, 0, 6, values.tobytes())
    assert np.array_equal(column(df, 0, dtype), values)
    part = bytearray(2 * values.itemsize)
    q.DataFrameView__read_bytes(df, 0, 3, 2, memoryview(part))
    assert np.array_equal(np.frombuffer(bytes(part), dtype), values[3:5])
    assert not column(df, 1, np.uint8).any()


def test_bulk_transfers_check_before_a_byte_moves():
    df = frame([q.DataTypeId_INT32, q.DataTypeId_UTF8_STRING], 4)
    data = bytes(range(16))
    q.DataFrameView__write_bytes(df, 0, 0, 4, data)
    out = bytearray(16)
    q.DataFrameView__read_bytes(df, 0, 0, 4, out)
    assert bytes(out) == data
    with pytest.raises(Error, match=exact("column do not store numeric data")):
        q.DataFrameView__read_bytes(df, 1, 0, 1, bytearray(8))
    with pytest.raises(Error, match=exact("column do not store numeric data")):
        q.DataFrameView__write_bytes(df, 1, 0, 0, b"")
    with pytest.raises(Error, match=exact("column do not store utf-8 strings")):
        q.DataFrameView__read_strings(df, 0, 0, 0, [])
    with pytest.raises(TypeError, match=exact("in method 'DataFrameView__read_bytes', argument 5 of type "
                                              "'(uint8_t* dst, size_t size)'")):
        q.DataFrameView__read_bytes(df, 0, 0, 4, bytes(16))
    with pytest.raises(TypeError, match=exact("in method 'DataFrameView__write_bytes', argument 5 of type "
                                              "'(const uint8_t* src, size_t size)'")):
        q.DataFrameView__write_bytes(df, 0, 0, 4, "text")
    with pytest.raises(OverflowError, match=exact("in method 'DataFrameView__read_strings', argument 4 of type "
                                                  "'size_t'")):
        q.DataFrameView__read_strings(df, 1, 0, -1, [])
    # short buffers and lists, rows beyond the view: nothing moves
    for call in (lambda: q.DataFrameView__write_bytes(df, 0, 0, 4, bytes(15)),
                 lambda: q.DataFrameView__read_bytes(df, 0, 0, 4, out[:15]),
                 lambda: q.DataFrameView__write_bytes(df, 0, 3, 2, bytes(8)),
                 lambda: q.DataFrameView__write_bytes(df, 0, 2**64 - 1, 2, bytes(8)),
                 lambda: q.DataFrameView__read_bytes(df, 0, 1, 2**62, out),
                 lambda: q.DataFrameView__write_strings(df, 1, 0, 3, ["a", "b"]),
                 lambda: q.DataFrameView__write_strings(df, 1, 3, 2, ["a", "b"]),
                 lambda: q.DataFrameView__write_bytes(df, 2, 0, 0, b"")):
        with pytest.raises(Error):
            call()
    q.DataFrameView__read_bytes(df, 0, 0, 4, out)
    assert bytes(out) == data and strings(df, 1) == [""] * 4
    # a count of 0 still tests the column's type
    q.DataFrameView__write_bytes(df, 0, 4, 0, b"")


def test_string_lists_and_their_write_back():
    df = frame([q.DataTypeId_UTF8_STRING], 3)
    given = ["α", "b\0c", "", "extra"]
    q.DataFrameView__write_strings(df, 0, 0, 3, given)
    assert given == ["α", "b\0c", "", "extra"]
    out = ["", "", ""]
    q.DataFrameView__read_strings(df, 0, 1, 2, out)
    assert out == ["b\0c", "", ""]
    with pytest.raises(TypeError, match=exact("list must contains strings")):
        q.DataFrameView__write_strings(df, 0, 0, 2, [1, "x"])
    for bad in (("x", "y"), "xy", None, 5):
        with pytest.raises(TypeError, match=exact("not a list")):
            q.DataFrameView__read_strings(df, 0, 0, 1, bad)
    assert strings(df, 0) == ["α", "b\0c", ""]
    # a list that refuses the write-back reports it after the operation
    class Stubborn(list):
        def __setitem__(self, i, v):
            raise KeyError("no")
    with pytest.raises(KeyError):
        q.DataFrameView__read_strings(df, 0, 0, 1, Stubborn([""]))


def test_stored_strings_that_are_not_utf8():
    df = frame([q.DataTypeId_UTF8_STRING], 2)
    q.DataFrameView__set_at(df, 0, 0, "ok")
    twin.write_raw_string(df, 0, 1, b"\xff\xfe")
    with pytest.raises(UnicodeDecodeError):
        q.DataFrameView__at(df, 0, 1)
    # every string is decoded before the list changes
    out = ["a", "b"]
    with pytest.raises(UnicodeDecodeError):
        q.DataFrameView__read_strings(df, 0, 0, 2, out)
    assert out == ["a", "b"]
    assert q.DataFrameView__at(df, 0, 0) == "ok"


def test_arguments_that_change_the_frame_while_read():
    df = frame([q.DataTypeId_INT32], 2)

    class Sneaky:  # its conversion turns the int column into a string column
        def __index__(self):
            q.DataFrameView__reshape(df, [1, 2], ["s"], [q.DataTypeId_UTF8_STRING])
            return 5

    with pytest.raises(Error, match="not of the kind"):
        q.DataFrameView__set_at(df, 0, 0, Sneaky())
    assert strings(df, 0) == ["", ""]

    class Turning(list):  # reading its items turns the column back into ints
        def __getitem__(self, i):
            q.DataFrameView__reshape(df, [1, 2], ["n"], [q.DataTypeId_INT32])
            return list.__getitem__(self, i)

    given = Turning(["a", "b"])
    with pytest.raises(Error, match=exact("column do not store utf-8 strings")):
        q.DataFrameView__write_strings(df, 0, 0, 2, given)
    assert list(column(df, 0, np.int32)) == [0, 0] and list.__getitem__(given, slice(None)) == ["a", "b"]


def test_create_from_pointer_adopts_only_handed_over_frames():
    df = frame([q.DataTypeId_UINT8], 2)
    q.DataFrameView__set_at(df, 0, 1, 9)
    address = twin.hand_over_frame(df)
    other = q.DataFrameView_create_from_pointer(address)
    assert type(other).__name__ == "DataFrameView"
    del df
    assert q.DataFrameView__at(other, 0, 1) == 9
    for bad in (address, 7, 2**64 - 1):
        with pytest.raises(ValueError, match=exact("in method 'DataFrameView_create_from_pointer', argument 1 of "
                                                   "type 'unsigned long long'")):
            q.DataFrameView_create_from_pointer(bad)
    with pytest.raises(OverflowError, match=exact("in method 'DataFrameView_create_from_pointer', argument 1 of "
                                                  "type 'unsigned long long'")):
        q.DataFrameView_create_from_pointer(-1)
    assert q.DataFrameView_create_from_pointer(0) is None
    # an empty holder gives a handle that every method refuses, as for the other view kinds
    empty = q.DataFrameView_create_from_pointer(twin.hand_over_frame(None))
    with pytest.raises(ValueError, match="invalid null reference"):
        q.DataFrameView_column_name(empty, 0)


def test_factory_class_and_release():
    f = cls("DataFrameViewFactory")()
    with pytest.raises(TypeError, match=exact("in method 'delete_DataFrameViewFactory', argument 1 of type "
                                              "'quelbo::DataFrameViewFactory *'")):
        q.delete_DataFrameViewFactory(frame([q.DataTypeId_UINT8]))
    del f
    df = frame([q.DataTypeId_UINT8])
    q.delete_DataFrameView(df)
    with pytest.raises(ValueError, match="invalid null reference"):
        q.DataFrameView_get_shape(df)
    assert q.delete_DataFrameView(None) is None


# ------------------------------------------------------------------ memory

def batch():
    names = ["n", "s"]
    df = q.DataFrameViewFactory__allocate([2, 8], names, [q.DataTypeId_INT64, q.DataTypeId_UTF8_STRING])
    q.DataFrameView__set_at(df, 1, 3, "some text that does not fit a short string")
    q.DataFrameView__at(df, 1, 3)
    q.DataFrameView__set_at(df, 0, 2, 5)
    out = [""] * 8
    q.DataFrameView__read_strings(df, 1, 0, 8, out)
    q.DataFrameView__write_bytes(df, 0, 0, 8, bytes(64))
    q.DataFrameView_set_unit(df, 0, "kg")
    q.ColumnUnitExtension_unit(q.ColumnUnitExtension_cast(q.View__extension(df, 4)), 0)
    q.DataFrameView_to_string(df)
    q.DataFrameView_add_rows(df, 8, 4)
    attempt(q.DataFrameView__set_at, df, 0, 0, "x")
    attempt(q.DataFrameView__set_at, df, 1, 0, "\udc80")
    attempt(q.DataFrameView__read_strings, df, 1, 0, 8, ["a", 1])
    attempt(q.DataFrameView__read_strings, df, 1, 0, 20, out)
    attempt(q.DataFrameView__read_bytes, df, 1, 0, 8, bytearray(8))
    attempt(q.DataFrameView__reshape, df, [2, 3], ["a", "a"], [65800, 65800])
    attempt(q.DataFrameViewFactory__allocate, [2, 3], ["a"], [65800, 65800])
    attempt(q.DataFrameView_column_index, df, "missing")
    attempt(q.ImageViewProvider_to_read_only, None)
    ro = q.ImageViewProvider_to_read_only(q.ImageViewFactory_allocate([2, 2], q.DataTypeId_UINT8))
    attempt(q.ImageView___write, ro, [0, 0], b"\0")
    q.DataFrameViewProvider_to_data_frame(df)


@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="resident size is not meaningful under ASan")
def test_memory_stays_flat():
    assert_memory_flat(batch)
