"""The file roads against a second process that shortens, extends, replaces
and removes their file between calls: every call gives the bytes the file
holds at that moment, or raises saying why (the file shrank, or is gone).
A call is checked through a descriptor of the same file that the test opened
beside the road's own. A file stream may also give what it read ahead, as a
buffered file does: bytes the file held at one of its earlier reads, near
where that read was, until it seeks outside them (changes during a transfer:
test_file_changes_during.py)."""
import json
import os
import random
import re
import subprocess
import sys
import zlib

import pytest

from proxy import QuelboError, cls, q

PAGE = os.sysconf("SC_PAGE_SIZE")
FAR = 4 << 20  # beyond any read-ahead
BEGIN = q.SeekOrigin_BEGIN
CHANGER = r"""
import json, os, random, sys
for line in sys.stdin:
    what, path, n, seed = json.loads(line)
    if what == "shorten":
        os.truncate(path, n)
    elif what == "remove":
        os.unlink(path)
    else:
        with open(path + ".new" if what == "replace" else path, "wb" if what == "replace" else "ab") as f:
            f.write(random.Random(seed).randbytes(n))
        if what == "replace":
            os.rename(path + ".new", path)
    print("done", flush=True)
"""


@pytest.fixture
def changer():
    """The second process: changes a file (through a link of /proc to a file
    a road holds, only its size), then answers."""
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    proc = subprocess.Popen([sys.executable, "-c", CHANGER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            text=True, env=env)

    def change(rng, path):
        named = not path.startswith("/proc")
        what = rng.choice(("shorten", "shorten", "extend") + ("replace", "remove") * named)
        if not os.path.exists(path):
            what = "replace"
        size = os.path.getsize(path) if what == "shorten" else 0
        n = {"shorten": rng.choice((rng.randrange(size + 1), size // PAGE * PAGE, max(0, size - rng.randrange(64)))),
             "extend": rng.randrange(1, 2 * PAGE), "replace": rng.randrange(6 * PAGE), "remove": 0}[what]
        proc.stdin.write(json.dumps([what, path, n, rng.randrange(1 << 30)]) + "\n")
        proc.stdin.flush()
        assert proc.stdout.readline() == "done\n"

    yield change
    proc.stdin.close()
    proc.wait(timeout=60)


class Twin:
    """The test's descriptor of a road's file; `link` reaches that file
    whatever becomes of its name."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDONLY)
        self.link = "/proc/%d/fd/%d" % (os.getpid(), self.fd)

    def read(self, runs):
        return b"".join(os.pread(self.fd, n, o) for o, n in runs)

    def whole(self):
        return os.pread(self.fd, self.size(), 0)

    def size(self):
        return os.fstat(self.fd).st_size

    def __del__(self):
        os.close(self.fd)


CAUSE = re.compile(r"shrank to (\d+) bytes|past the end of the store \(size (\d+)\)")


def checked(call, twin, runs, written=None):
    """call() reads the runs (offset, size) and gives the file's bytes there
    now (a stream stops at the end), or writes `written` there and the file
    then holds it; or it raises because the file ends before the last run."""
    try:
        got = call()
    except QuelboError as e:
        found = CAUSE.search(str(e))
        assert found and int(found.group(1) or found.group(2)) == twin.size() < max(o + n for o, n in runs), str(e)
        return
    assert twin.read(runs) == (got if written is None else written)


def opened(open_access, path):
    """An accessor and a twin of its file; (None, None) when the file is gone
    and the open said so."""
    try:
        access = open_access()
    except QuelboError as e:
        assert not os.path.exists(path) and "No such file or directory" in str(e), str(e)
        return None, None
    return access, Twin(path)


def read_stream(stream, offset, n):
    q.StreamAccess_seek(stream, offset, BEGIN)
    buf = bytearray(n)
    return bytes(buf[:q.StreamAccess___read(stream, buf)])


class Reader:
    """A file stream, a twin of its file, and the file's bytes at each of the stream's reads since it last sought
    outside what those may have read ahead (from where a read began to a block of the file system past where it
    ended). A read gives the file's bytes now, or within those spans the bytes of one of those reads."""

    def __init__(self, stream, twin):
        self.stream, self.twin, self.seen = stream, twin, []
        block = os.fstat(twin.fd).st_blksize
        self.ahead = min(block, 1 << 20) if block > 1 else 8192

    def read(self, rng, offset, n):
        if rng.random() < 0.3:  # away first
            q.StreamAccess_seek(self.stream, offset + FAR, BEGIN)
            self.seen = []
        if not any(lo <= offset < hi for lo, hi, _ in self.seen):  # a seek outside what it read ahead
            self.seen = []
        self.check(offset, n, lambda: read_stream(self.stream, offset, n))

    def check(self, offset, n, read):
        now = self.twin.whole()
        got = read()
        assert min(n, max(0, len(now) - offset)) <= len(got) <= n, (len(got), n, len(now) - offset)
        if got != now[offset:offset + len(got)]:
            for p, b in enumerate(got, offset):
                assert (now[p:p + 1] == bytes([b]) or any(lo <= p < hi and then[p:p + 1] == bytes([b])
                                                          for lo, hi, then in self.seen)), "byte %d" % p
        self.seen.append((offset, offset + len(got) + self.ahead, now))
        self.last = offset, len(got)


def read_store(store, offset, n):
    buf = bytearray(n)
    return bytes(buf[:q.RandomAccess___read(store, offset, buf)])


def span(rng, end, limit):
    """An offset and a size within limit bytes, half the time ending near
    end (where the file ends now); None when limit is 0."""
    if not limit:
        return None
    n = rng.randrange(1, 2 * PAGE)
    offset = max(0, end + rng.randrange(-PAGE, 64) - n) if rng.random() < 0.5 else rng.randrange(limit)
    offset = min(offset, limit - 1)
    return offset, min(n, limit - offset)


def store_call(rng, store, twin):
    where = store and span(rng, twin.size(), q.RandomAccess_get_size(store))
    if not where:
        return
    if rng.random() < 0.6 or not q.RandomAccessCapabilitySet_value(q.RandomAccess_get_capabilities(store)) & 2:
        return checked(lambda: read_store(store, *where), twin, [where])
    data = random.Random(where[0]).randbytes(where[1])
    checked(lambda: q.RandomAccess_write(store, where[0], data), twin, [where], data)


# ------------------------------------------------------------------ roads

def stream_reader(path):
    stream, twin = opened(lambda: q.StreamAccessFactory_open_file_read(path), path)
    return stream and Reader(stream, twin)


class Stream:
    """A stream held over the file it opened (opened again now and then), and
    streams opened anew."""

    def __init__(self, path):
        self.path = path
        self.held = stream_reader(path)

    def targets(self):  # mostly the held stream's file: what it read ahead changes
        return [self.path, self.held.twin.link, self.held.twin.link]

    def call(self, rng):
        fresh = stream_reader(self.path)
        if fresh and rng.random() < 0.2:
            self.held = fresh
        reader = fresh if rng.random() < 0.3 else self.held
        if reader:
            size = reader.twin.size()
            offset, n = span(rng, size, size + 2 * PAGE)
            if reader.seen and rng.random() < 0.5:  # from where it read last on: from what it read ahead
                at, got = reader.last
                offset = rng.randint(at, at + got)
                n = rng.randrange(1, reader.ahead)
            reader.read(rng, offset, n)


class Folder:
    """Accessors opened through the storage of a stream opened by a relative
    path, from another working folder holding a file of the same name."""

    def __init__(self, path):
        self.path, self.name = path, os.path.basename(path)
        self.storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(self.name))
        os.mkdir("elsewhere")
        os.chdir("elsewhere")
        with open(self.name, "wb") as f:
            f.write(b"not this one" * 1000)

    def targets(self):
        return [self.path]

    def call(self, rng):
        caps = rng.choice((q.AccessCapabilities_READ_ONLY, q.AccessCapabilities_READ_WRITE))
        if rng.random() < 0.5:
            return store_call(rng, *opened(lambda: q.DataStorage_open_random_access(self.storage, self.name, caps),
                                           self.path))
        stream, twin = opened(lambda: q.DataStorage_open_stream_access(self.storage, self.name,
                                                                         q.AccessCapabilities_READ_ONLY), self.path)
        if stream:
            offset, n = span(rng, twin.size(), twin.size() + PAGE)
            Reader(stream, twin).read(rng, offset, n)


class Mapped:
    """A mapped store held over the file it mapped, mapped again now and then."""

    def __init__(self, path):
        self.path = path
        self.store, self.twin = opened(lambda: q.RandomAccessFactory_map_file(path), path)

    def targets(self):
        return [self.path, self.twin.link]

    def call(self, rng):
        if rng.random() < 0.15 and os.path.exists(self.path):
            self.store, self.twin = opened(lambda: q.RandomAccessFactory_map_file(self.path), self.path)
        store_call(rng, self.store, self.twin)


class Disk:
    """A view in a temporary file, its upper half written: boxes of rows read
    and written, from pieces written before and never written. A file found
    shorter than the view made it is the view's no more: the call that finds
    it so and every later one raise, naming the size it was found at; a new
    view is made then."""
    WIDTH, HEIGHT = 256, 5 * PAGE // 256 + 3

    def __init__(self, path):
        self.folder = os.path.dirname(path)
        self.made()

    def made(self):
        self.view = self.twin = None
        self.view = q.ImageViewFactory_create_on_disk(self.folder, [self.WIDTH, self.HEIGHT], q.DataTypeId_UINT8)
        self.path = os.path.join(self.folder, next(n for n in os.listdir(self.folder) if n.startswith("quelbo-view-")))
        self.twin, self.cut = Twin(self.path), None
        q.ImageView___write_region(self.view, cls("RegionXu64")([0, 0], [self.WIDTH, self.HEIGHT // 2]),
                                   random.Random(1).randbytes(self.WIDTH * (self.HEIGHT // 2)))

    def checked(self, call, runs, written=None):
        try:
            got = call()
        except QuelboError as e:
            found = re.search(r"shrank to (\d+) bytes", str(e))
            assert found and int(found.group(1)) == (self.twin.size() if self.cut is None else self.cut) < \
                self.WIDTH * self.HEIGHT, str(e)
            self.cut = int(found.group(1))
            return
        assert self.cut is None and self.twin.read(runs) == (got if written is None else written)

    def targets(self):
        return [self.path, self.twin.link]

    def call(self, rng):
        if self.cut is not None and rng.random() < 0.3:
            self.made()
        # a box whose last byte ends a span
        offset, n = span(rng, self.twin.size(), self.WIDTH * self.HEIGHT)
        last_y, last_x = divmod(offset + n - 1, self.WIDTH)
        h, x = rng.randint(1, min(8, last_y + 1)), rng.randint(0, last_x)
        y, w = last_y - h + 1, last_x - x + 1
        box, runs = cls("RegionXu64")([x, y], [w, h]), [((y + j) * self.WIDTH + x, w) for j in range(h)]
        if rng.random() < 0.6:
            buf = bytearray(w * h)
            return self.checked(lambda: q.ImageView___read_region(self.view, box, buf) or bytes(buf), runs)
        data = random.Random(x * y).randbytes(w * h)
        self.checked(lambda: q.ImageView___write_region(self.view, box, data), runs, data)


class Copy:
    """Copies in memory of a held stream, a held mapped store, a store opened
    anew and a disk view, each written once made: the file stays as it was."""

    def __init__(self, path):
        self.stream, self.mapped, self.disk = Stream(path), Mapped(path), Disk(path)

    def targets(self):
        return self.stream.targets() + self.mapped.targets()[1:] + self.disk.targets()

    def call(self, rng):
        kind = rng.choice(("stream", "mapped", "store", "view"))
        if kind == "stream":  # it reads through the stream, from what it read ahead too
            held = self.stream.held
            copy = q.StreamAccessFactory_copy_in_memory
            return held.check(0, 1 << 20, lambda: read_stream(copy(held.stream), 0, 1 << 20))
        if kind == "view":
            d = self.disk
            whole = q.RegionXu64_create_full_region([d.WIDTH, d.HEIGHT])

            def view_copy(buf=bytearray(d.WIDTH * d.HEIGHT)):
                c = q.ImageViewFactory_copy_in_memory(d.view)
                q.ImageView___read_region(c, whole, buf)
                q.ImageView___write_region(c, cls("RegionXu64")([0, 0], [4, 1]), b"COPY")
                return bytes(buf)
            return d.checked(view_copy, [(0, d.WIDTH * d.HEIGHT)])
        path = self.stream.path
        store, twin = (self.mapped.store, self.mapped.twin) if kind == "mapped" else \
            opened(lambda: q.RandomAccessFactory_open_uri_read(cls("Uri")("file://" + path)), path)
        size = store and q.RandomAccess_get_size(store)

        def store_copy():
            c = q.RandomAccessFactory_copy_in_memory(store)
            got = read_store(c, 0, size)
            q.RandomAccess_write(c, 0, b"C"[:size])
            return got
        if store:
            checked(store_copy, twin, [(0, size)])


ROADS = {"stream": Stream, "folder storage": Folder, "mapped store": Mapped, "disk view": Disk,
         "copy in memory": Copy}


@pytest.mark.parametrize("road", sorted(ROADS))
def test_every_call_gives_the_file_as_it_is_or_says_why(road, tmp_path, monkeypatch, changer):
    rng = random.Random(zlib.crc32(road.encode()))
    monkeypatch.chdir(tmp_path)
    path = str(tmp_path / "changing.bin")
    with open(path, "wb") as f:
        f.write(rng.randbytes(5 * PAGE + 100))
    walker = ROADS[road](path)
    for _ in range(60):
        changer(rng, rng.choice(walker.targets()))
        for _ in range(rng.randint(1, 3)):
            walker.call(rng)

