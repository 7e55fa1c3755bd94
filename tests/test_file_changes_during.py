"""Large transfers against a second process that shrinks, truncates or grows
their file while they run (timed against the transfer, on every road: a mapped
store read or written whole, columns of a view over a stream store, a disk
view read and written in bands): each gives the bytes the file held, or raises
saying that the file shrank, never zeros for bytes cut off nor a write lost.
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
SIZE, WIDTH = 8 << 20, 4096
CUT = re.compile(r"shrank to \d+ bytes|past the end of the store|holds \d+ bytes, fewer than the image needs")


@pytest.fixture
def racer():
    """race(path, transfer, delay, size): the second process shrinks the file to size (grows it by -5 size bytes
    when negative) delay seconds after transfer() began; transfer's result (None when it raised for the cut) and
    the seconds it took."""
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    proc = subprocess.Popen([sys.executable, "-c", RACER], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                            env=env)

    def race(path, transfer, delay, size):
        proc.stdin.write(json.dumps([path, delay, size]) + "\n")
        proc.stdin.flush()
        start = time.perf_counter()
        try:
            got = transfer()
        except QuelboError as e:
            assert CUT.search(str(e)), str(e)
            got = None
        took = time.perf_counter() - start
        assert proc.stdout.readline() == "done\n"
        return got, took

    yield race
    proc.stdin.close()
    proc.wait(timeout=60)


def region_of(x, y, w, h):
    return cls("RegionXu64")([x, y], [w, h])


class Whole:
    """A mapped store read or written whole; written, the file holds the bytes up to where it ends."""

    def __init__(self, rng, path, data):
        self.file, self.store, self.data = path, q.RandomAccessFactory_map_file(path), data
        self.new = rng.randbytes(SIZE) if rng.random() < 0.3 else None
        self.kind = "read" if self.new is None else "write"

    def transfer(self):
        if self.new is None:
            buf = bytearray(SIZE)
            q.RandomAccess___read(self.store, 0, buf)
            return bytes(buf)
        return q.RandomAccess_write(self.store, 0, self.new)

    def check(self, got):
        if self.new is None:
            return got is None or got == self.data
        with open(self.file, "rb") as f:
            now = f.read(SIZE)
        return got is None or now == self.new[:len(now)]


class Columns:
    """The right half of a view over a stream store of the file, to the file's end: runs apart, copied from a
    mapping."""
    W = 1 << 16

    def __init__(self, rng, path, data):
        self.file, self.data, self.kind = path, data, "read"
        store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path))
        self.view = q.ImageViewFactory_from_random_access(store, [self.W, SIZE // self.W], q.DataTypeId_UINT8)

    def transfer(self):
        buf = bytearray(SIZE // 2)
        q.ImageView___read_region(self.view, region_of(self.W // 2, 0, self.W // 2, SIZE // self.W), buf)
        return bytes(buf)

    def check(self, got):
        return got is None or got == np.frombuffer(self.data, np.uint8).reshape(-1, self.W)[:, self.W // 2:].tobytes()


class Temporary:
    """A disk view in a file of its own, written in part or not at all first (so that a transfer reaches pieces
    written before and never written), then read whole, or written from a row on in bands of 1 MB (a call each).
    Once the second process is done the view reads what it wrote, or it raises from the first call that met the
    cut on."""
    BAND = (1 << 20) // WIDTH

    def __init__(self, rng, path, data):
        folder = path + ".view"
        os.mkdir(folder)
        self.view = q.ImageViewFactory_create_on_disk(folder, [WIDTH, SIZE // WIDTH], q.DataTypeId_UINT8)
        self.file = os.path.join(folder, os.listdir(folder)[0])
        self.model, self.rows = bytearray(SIZE), rng.choice((0, SIZE // WIDTH // 2))
        if rng.random() < 0.7:
            self.write(0, SIZE // WIDTH // 2, data)
        self.new = rng.randbytes(SIZE) if rng.random() < 0.6 else None
        self.kind = ("read" if self.new is None else "write", self.rows)

    def write(self, y, h, data):
        at, end = y * WIDTH, (y + h) * WIDTH
        q.ImageView___write_region(self.view, region_of(0, y, WIDTH, h), data[at:end])
        self.model[at:end] = data[at:end]

    def whole(self):
        buf = bytearray(SIZE)
        q.ImageView___read_region(self.view, region_of(0, 0, WIDTH, SIZE // WIDTH), buf)
        return bytes(buf)

    def transfer(self):
        if self.new is None:
            return self.whole()
        for y in range(self.rows, SIZE // WIDTH, self.BAND):
            self.write(y, min(self.BAND, SIZE // WIDTH - y), self.new)
        return True

    def check(self, got):
        if got not in (None, True) and got != bytes(self.model):
            return False
        try:
            now = self.whole()
        except QuelboError as e:
            return bool(CUT.search(str(e)))
        return got is not None and now == bytes(self.model)


DURING = {"mapped store": Whole, "stream store columns": Columns, "disk view": Temporary}


@pytest.mark.parametrize("road", sorted(DURING))
def test_a_transfer_during_which_the_file_changes_gives_its_bytes_or_raises(road, tmp_path, racer):
    rng = random.Random(zlib.crc32(road.encode()))
    took = {}  # per kind of transfer, the shortest it took once the first one's costs were paid
    for trial in range(30):
        path, data = str(tmp_path / ("%d.bin" % trial)), rng.randbytes(SIZE)
        with open(path, "wb") as f:
            f.write(data)
        walker = DURING[road](rng, path, data)
        if trial < 6:  # warming up
            start = time.perf_counter()
            walker.transfer()
            took[walker.kind] = min(took.get(walker.kind, 1), time.perf_counter() - start)
            continue
        last = (SIZE - 1) // PAGE * PAGE  # where the last page begins
        size = rng.choice((rng.randrange(last, SIZE),) * 3 + (rng.randrange(SIZE), 0, -rng.randrange(1, PAGE)))
        delay = rng.uniform(0, took.get(walker.kind, min(took.values())))
        got, seconds = racer(walker.file, walker.transfer, delay, size)
        if got is not None:
            took[walker.kind] = min(took.get(walker.kind, 1), seconds)
        assert (got is not None or size >= 0) and walker.check(got), (trial, size)
