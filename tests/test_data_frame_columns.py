"""Data frames whose columns come and go: columns added, removed and found by
name at random against a list model, rows inserted and cells written, each
state encoded and decoded; and a frame of 20 000 columns built one by one,
found by every name, read back from its records with and without rows, and
thinned at random (itself and its decoded copy)."""
import random

import pytest

from proxy import QuelboError, q
from test_serialization import contents, stream_of
import _quelbo_twin as twin  # noqa: E402 (found through proxy's path)

UTF8 = q.DataTypeId_UTF8_STRING
TYPES = {q.DataTypeId_INT8: 1, q.DataTypeId_UINT16: 2, q.DataTypeId_INT32: 4, q.DataTypeId_DOUBLE: 8,
         2 << 16 | 1 << 8 | 12: 2, 3 << 16 | 1 << 8 | 16: 2, UTF8: None}


def decoded(frame):
    s = stream_of()
    q.Serialization_encode_data_frame_view(frame, s)
    return q.Serialization_decode_data_frame_view(stream_of(contents(s)))


def check(frame, model, rows):
    expected = (rows, [(n, t, u, list(c) if t == UTF8 else bytes(c)) for n, t, u, c in model])
    assert twin.frame_content(frame) == expected
    for i, (name, _, _, _) in enumerate(model):
        assert q.DataFrameView_column_index(frame, name) == i and q.DataFrameView_column_name(frame, i) == name
    with pytest.raises(QuelboError, match="no column is named 'absent'"):
        q.DataFrameView_column_index(frame, "absent")
    back = decoded(frame)
    assert twin.frame_content(back) == expected
    assert [q.DataFrameView_column_index(back, n) for n, _, _, _ in model] == list(range(len(model)))


@pytest.mark.parametrize("seed", range(3))
def test_columns_and_rows_against_a_model(seed):
    rng = random.Random(seed)
    frame, model, rows = q.DataFrameViewFactory__allocate_empty(), [], 0
    for step in range(300):
        op = rng.random()
        if op < 0.4:
            name, tid = "c%d" % rng.randrange(40), rng.choice(list(TYPES))
            if any(name == n for n, _, _, _ in model):
                with pytest.raises(QuelboError, match="duplicate column name '%s'" % name):
                    q.DataFrameView_add_column(frame, name, tid)
                continue
            q.DataFrameView_add_column(frame, name, tid)
            model.append((name, tid, "", [""] * rows if tid == UTF8 else bytearray(rows * TYPES[tid])))
        elif op < 0.55:
            index = rng.randrange(len(model) + 2)
            if index >= len(model):
                with pytest.raises(QuelboError, match="out of range"):
                    q.DataFrameView_remove_column(frame, index)
                continue
            q.DataFrameView_remove_column(frame, index)
            del model[index]
        elif op < 0.7:
            at, count = rng.randrange(rows + 1), rng.randrange(4)
            q.DataFrameView_add_rows(frame, at, count)
            for _, tid, _, cells in model:
                size = 1 if tid == UTF8 else TYPES[tid]
                cells[at * size:at * size] = [""] * count if tid == UTF8 else bytes(count * size)
            rows += count
        elif op < 0.9 and model and rows:
            c = rng.randrange(len(model))
            name, tid, unit, cells = model[c]
            if tid == UTF8:
                cells[:] = ["é%d" % rng.randrange(99) for _ in range(rows)]
                q.DataFrameView__write_strings(frame, c, 0, rows, list(cells))
            else:
                cells[:] = bytes(rng.randrange(256) for _ in range(len(cells)))
                q.DataFrameView__write_bytes(frame, c, 0, rows, bytes(cells))
        elif model:
            c = rng.randrange(len(model))
            unit = "u%d" % step
            q.DataFrameView_set_unit(frame, c, unit)
            model[c] = model[c][:2] + (unit,) + model[c][3:]
        if step % 50 == 49:
            check(frame, model, rows)
    check(frame, model, rows)


def test_a_wide_frame_built_column_by_column():
    count = 20_000
    frame = q.DataFrameViewFactory__allocate_empty()
    names = ["column %d" % i for i in range(count)]
    for i, name in enumerate(names):
        q.DataFrameView_add_column(frame, name, q.DataTypeId_UINT8 if i % 2 else UTF8)
    model = [(n, q.DataTypeId_UINT8 if i % 2 else UTF8, "", [] if i % 2 == 0 else b"") for i, n in enumerate(names)]
    check(frame, model, 0)
    q.DataFrameView_add_rows(frame, 0, 2)
    model = [(n, t, u, ["", ""] if t == UTF8 else bytes(2)) for n, t, u, _ in model]
    check(frame, model, 2)
    q.DataFrameView_remove_column(frame, 0)
    assert q.DataFrameView_column_index(frame, names[-1]) == count - 2
    # columns removed at random from it and from its decoded copy: the later ones move down
    rng = random.Random(7)
    for f in (frame, decoded(frame)):
        left = names[1:]
        for _ in range(1000):
            at = rng.randrange(min(len(left), 50)) if rng.random() < 0.5 else rng.randrange(len(left))
            q.DataFrameView_remove_column(f, at)
            del left[at]
        assert [q.DataFrameView_column_index(f, n) for n in left] == list(range(len(left)))
        assert [q.DataFrameView_column_name(f, i) for i in range(0, len(left), 97)] == left[::97]
