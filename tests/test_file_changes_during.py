"""Large transfers against a second process that shrinks, truncates or grows
their file while they run (timed against the transfer, on every road: a mapped
store read or written whole, columns of a view over a stream store, the file
read whole by a stream or a store over one and copied in memory, a disk view
read and written in bands): each gives the bytes the file held (a read may end
where the file ends), or raises saying that the file shrank, never zeros for
bytes cut off nor a write lost.
Timing only changes which of the two; the trials are seeded."""
import json
import os
import random
import re
import subprocess
import sys
import time
import zlib

import numpy as np
import pytest

from proxy import QuelboError, cls, q

PAGE = os.sysconf("SC_PAGE_SIZE")
SIZE, WIDTH, ROWS = 8 << 20, 4096, 2048
CUT = re.compile(r"shrank to \d+ bytes|past the end of the store|holds \d+ bytes, fewer than the image needs|"
                 r"ended before its announced size")
RACER = r"""
import json, os, sys, time
for line in sys.stdin:
    path, delay, size = json.loads(line)
    start = time.perf_counter()
    while time.perf_counter() - start < delay:
        pass
    if size < 0:
        with open(path, "ab") as f:
            f.write(b"grown" * -size)
    else:
        os.truncate(path, size)
    print("done", flush=True)
"""


@pytest.fixture
def racer():
    """race(path, transfer, delay, size): the second process shrinks the file to size (grows it when negative)
    delay seconds after transfer() began; transfer's result (None when it raised for the cut), and its seconds."""
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    proc = subprocess.Popen([sys.executable, "-c", RACER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                            env=env)

    def race(path, transfer, delay, size):
        proc.stdin.write(json.dumps([path, delay, size]) + "\n")
        proc.stdin.flush()
        start, got = time.perf_counter(), None
        try:
            got = transfer()
        except QuelboError as e:
            assert CUT.search(str(e)), str(e)
        took = time.perf_counter() - start
        assert proc.stdout.readline() == "done\n"
        return got, took

    yield race
    proc.stdin.close()
    proc.wait(timeout=60)


def region_of(x, y, w, h):
    return cls("RegionXu64")([x, y], [w, h])


# Each road: (the file, the kind of transfer, the transfer, its check once the second process is done).

def mapped_store(rng, path, data):
    store = q.RandomAccessFactory_map_file(path)
    if rng.random() < 0.7:
        buf = bytearray(SIZE)
        return path, "read", lambda: q.RandomAccess___read(store, 0, buf) and bytes(buf), lambda got: got in (
            None, data)
    new = rng.randbytes(SIZE)

    def written(got):  # the file holds the bytes up to where it ends
        with open(path, "rb") as f:
            now = f.read(SIZE)
        return got is None or now == new[:len(now)]
    return path, "write", lambda: q.RandomAccess_write(store, 0, new), written


def stream_store_columns(rng, path, data):
    """The right half of a view over a stream store, to the file's end: runs apart, copied from a mapping."""
    w = 1 << 16
    store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path))
    view = q.ImageViewFactory_from_random_access(store, [w, SIZE // w], q.DataTypeId_UINT8)
    half, buf = region_of(w // 2, 0, w // 2, SIZE // w), bytearray(SIZE // 2)
    want = np.frombuffer(data, np.uint8).reshape(-1, w)[:, w // 2:].tobytes()
    return path, "read", lambda: q.ImageView___read_region(view, half, buf) or bytes(buf), lambda got: got in (
        None, want)


def whole_reads(rng, path, data):
    """The file read whole by positioned reads (a stream's read, a store over a stream), or copied in memory (a
    stream, a mapped store, a store over a stream): a read ends where the file ends once it returned, a store's
    copy raises short of its size."""
    kind = rng.choice(["stream", "stream store"] * 2 + ["stream copy", "mapped copy", "stream store copy"])
    stream = q.StreamAccessFactory_open_file_read(path)
    store = q.RandomAccessFactory_map_file(path) if kind == "mapped copy" else q.RandomAccessFactory_from_stream(stream)
    buf = bytearray(SIZE)

    def read():
        if kind == "stream":
            return bytes(buf[:q.StreamAccess___read(stream, buf)])
        if kind == "stream store":
            return bytes(buf[:q.RandomAccess___read(store, 0, buf)])
        if kind == "stream copy":
            return bytes(buf[:q.StreamAccess___read(q.StreamAccessFactory_copy_in_memory(stream), buf)])
        return bytes(buf[:q.RandomAccess___read(q.RandomAccessFactory_copy_in_memory(store), 0, buf)])

    def transfer():
        q.StreamAccess_seek(stream, 0, q.SeekOrigin_BEGIN)
        return read()
    return path, kind, transfer, lambda got: got is None or got == data[:len(got)]


def disk_view(rng, path, data):
    """A view in a file of its own, its upper half written first or not (so that a transfer reaches pieces written
    before and never written), read whole or written from a row on in bands of 1 MiB, a call each. Once the second
    process is done it reads what it wrote, or raises from the first call that met the cut on."""
    folder = path + ".view"
    os.mkdir(folder)
    view = q.ImageViewFactory_create_on_disk(folder, [WIDTH, ROWS], q.DataTypeId_UINT8)
    model = bytearray(SIZE)

    def write(y, h, src):
        q.ImageView___write_region(view, region_of(0, y, WIDTH, h), src[y * WIDTH:(y + h) * WIDTH])
        model[y * WIDTH:(y + h) * WIDTH] = src[y * WIDTH:(y + h) * WIDTH]

    def whole():
        buf = bytearray(SIZE)
        q.ImageView___read_region(view, region_of(0, 0, WIDTH, ROWS), buf)
        return bytes(buf)

    def check(got):
        try:
            now = whole()
        except QuelboError as e:
            return got in (None, True, bytes(model)) and bool(CUT.search(str(e)))
        return got in (True, bytes(model)) and now == model

    if rng.random() < 0.7:
        write(0, ROWS // 2, data)
    file = os.path.join(folder, os.listdir(folder)[0])
    if rng.random() < 0.4:
        return file, "read", whole, check
    new, start = rng.randbytes(SIZE), rng.choice((0, ROWS // 2))

    def bands():
        for y in range(start, ROWS, (1 << 20) // WIDTH):
            write(y, min((1 << 20) // WIDTH, ROWS - y), new)
        return True
    return file, ("write", start), bands, check


@pytest.mark.parametrize("road", [mapped_store, stream_store_columns, whole_reads, disk_view],
                         ids=lambda r: r.__name__)
def test_a_transfer_during_which_the_file_changes_gives_its_bytes_or_raises(road, tmp_path, racer):
    rng = random.Random(zlib.crc32(road.__name__.encode()))
    took = {}  # per kind of transfer, the shortest it took once the first one's costs were paid
    last = (SIZE - 1) // PAGE * PAGE  # where the last page begins
    for trial in range(30):
        path, data = str(tmp_path / ("%d.bin" % trial)), rng.randbytes(SIZE)
        with open(path, "wb") as f:
            f.write(data)
        file, kind, transfer, check = road(rng, path, data)
        if trial < 6:  # warming up
            start = time.perf_counter()
            transfer()
            took[kind] = min(took.get(kind, 1), time.perf_counter() - start)
            continue
        size = rng.choice((rng.randrange(last, SIZE),) * 3 + (rng.randrange(SIZE), 0, -rng.randrange(1, PAGE)))
        got, seconds = racer(file, transfer, rng.uniform(0, took.get(kind, min(took.values()))), size)
        if got is not None:
            took[kind] = min(took.get(kind, 1), seconds)
        assert (got is not None or size >= 0) and check(got), (trial, size)
