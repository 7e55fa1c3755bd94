"""The file roads against a second process that shortens, extends, replaces
and removes their file between calls: every call gives the bytes the file
holds at that moment, or raises saying why (the file shrank, or is gone).
What a call read or wrote is checked through a descriptor of the same file
that the test opened beside the road's own.

File streams are read after a seek far from where they read before, so that
what a stream may keep of its read-ahead plays no part."""
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
    elif what == "extend":
        with open(path, "ab") as f:
            f.write(random.Random(seed).randbytes(n))
    elif what == "replace":
        with open(path + ".new", "wb") as f:
            f.write(random.Random(seed).randbytes(n))
        os.rename(path + ".new", path)
    elif what == "remove":
        os.unlink(path)
    print("done", flush=True)
"""


@pytest.fixture
def changer():
    """The second process: changes the file it is told to, then answers."""
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    proc = subprocess.Popen([sys.executable, "-c", CHANGER], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            text=True, env=env)

    def change(rng, path):
        """A change of the file at path; through a link of /proc to a file a
        road holds (whatever its name now), only its size changes."""
        if not os.path.exists(path):
            what, n = "replace", rng.randrange(6 * PAGE)
        else:
            what = rng.choice(("shorten", "shorten", "extend") + ("replace", "remove") * (not path.startswith("/proc")))
            size = os.path.getsize(path)
            n = {"shorten": rng.choice((rng.randrange(size + 1), size // PAGE * PAGE, max(0, size - rng.randrange(64)))),
                 "extend": rng.randrange(1, 2 * PAGE), "replace": rng.randrange(6 * PAGE), "remove": 0}[what]
        proc.stdin.write(json.dumps([what, path, n, rng.randrange(1 << 30)]) + "\n")
        proc.stdin.flush()
        assert proc.stdout.readline() == "done\n"

    yield change
    proc.stdin.close()
    proc.wait(timeout=60)


class Twin:
    """The test's own descriptor of the file a road reads; `link` reaches
    that file whatever becomes of its name."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDONLY)
        self.link = "/proc/%d/fd/%d" % (os.getpid(), self.fd)

    def read(self, offset, n):
        return os.pread(self.fd, n, offset)

    def size(self):
        return os.fstat(self.fd).st_size

    def close(self):
        os.close(self.fd)


CAUSE = re.compile(r"shrank to (\d+) bytes|past the end of the store \(size (\d+)\)")


def gives_or_says_why(call, twin, runs):
    """call() reads the runs (offset, size): it gives the file's bytes there
    now (a stream stops at the end), or raises because the file ends before
    the last of them."""
    try:
        got = call()
    except QuelboError as e:
        found = CAUSE.search(str(e))
        assert found, str(e)
        size = int(found.group(1) or found.group(2))
        assert size == twin.size() < max(o + n for o, n in runs), str(e)
        return
    assert got == b"".join(twin.read(o, n) for o, n in runs)


def lands_or_says_why(call, twin, runs, data):
    """call() writes data over the runs: the file then holds it there, or
    the call raises because the file ends before the last of them."""
    try:
        call()
    except QuelboError as e:
        found = CAUSE.search(str(e))
        assert found, str(e)
        assert int(found.group(1) or found.group(2)) == twin.size() < max(o + n for o, n in runs), str(e)
        return
    assert b"".join(twin.read(o, n) for o, n in runs) == data


def opened(open_access, path):
    """The road's accessor and a twin of its file, or (None, None) when the
    file is gone and the open said so."""
    try:
        access = open_access()
    except QuelboError as e:
        assert not os.path.exists(path) and "No such file or directory" in str(e), str(e)
        return None, None
    return access, Twin(path)


def read_stream(stream, offset, n):
    q.StreamAccess_seek(stream, offset + FAR, BEGIN)
    q.StreamAccess_seek(stream, offset, BEGIN)
    buf = bytearray(n)
    return bytes(buf[:q.StreamAccess___read(stream, buf)])


def read_store(store, offset, n):
    buf = bytearray(n)
    return bytes(buf[:q.RandomAccess___read(store, offset, buf)])


def stream_bytes(stream):
    q.StreamAccess_seek(stream, 0, BEGIN)
    return read_stream(stream, 0, 1 << 20)


def span(rng, end, limit):
    """An offset and a size within limit bytes; half the time it ends near
    end (where the file ends now). None when limit is 0."""
    if not limit:
        return None
    n = rng.randrange(1, 2 * PAGE)
    offset = max(0, end + rng.randrange(-PAGE, 64) - n) if rng.random() < 0.5 else rng.randrange(limit)
    offset = min(offset, limit - 1)
    return offset, min(n, limit - offset)


# ---------------------------------------------------------------- the roads
# Each road is made over the file at `path` and makes one call at a time.

class StreamRoad:
    """A stream held over the file it opened, and streams opened anew."""

    def __init__(self, path):
        self.path = path
        self.held, self.twin = opened(lambda: q.StreamAccessFactory_open_file_read(path), path)

    def targets(self):
        return [self.path, self.twin.link]

    def call(self, rng):
        if rng.random() < 0.2 and os.path.exists(self.path):
            self.twin.close()
            self.held, self.twin = opened(lambda: q.StreamAccessFactory_open_file_read(self.path), self.path)
        stream, twin = self.held, self.twin
        if rng.random() < 0.5:
            stream, twin = opened(lambda: q.StreamAccessFactory_open_file_read(self.path), self.path)
            if not stream:
                return
        offset, n = span(rng, twin.size(), twin.size() + 2 * PAGE)
        gives_or_says_why(lambda: read_stream(stream, offset, n), twin, [(offset, n)])
        if twin is not self.twin:
            twin.close()


class FolderRoad:
    """Accessors opened through the storage of a stream opened by a relative
    path, from another working folder holding a file of the same name."""

    def __init__(self, path):
        self.path, name = path, os.path.basename(path)
        self.storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(name))
        os.mkdir("elsewhere")
        with open(os.path.join("elsewhere", name), "wb") as f:
            f.write(b"not this one" * 1000)
        os.chdir("elsewhere")
        self.name = name

    def targets(self):
        return [self.path]

    def call(self, rng):
        kind = rng.choice(("stream", "store", "write"))
        if kind == "stream":
            stream, twin = opened(lambda: q.DataStorage_open_stream_access(
                self.storage, self.name, q.AccessCapabilities_READ_ONLY), self.path)
            if stream:
                offset, n = span(rng, twin.size(), twin.size() + PAGE)
                gives_or_says_why(lambda: read_stream(stream, offset, n), twin, [(offset, n)])
                twin.close()
            return
        caps = q.AccessCapabilities_READ_ONLY if kind == "store" else q.AccessCapabilities_READ_WRITE
        store, twin = opened(lambda: q.DataStorage_open_random_access(self.storage, self.name, caps), self.path)
        where = store and span(rng, twin.size(), q.RandomAccess_get_size(store))
        if where:
            offset, n = where
            if kind == "store":
                gives_or_says_why(lambda: read_store(store, offset, n), twin, [where])
            else:
                data = random.Random(offset).randbytes(n)
                lands_or_says_why(lambda: q.RandomAccess_write(store, offset, data), twin, [where], data)
        if twin:
            twin.close()


class MappedRoad:
    """A mapped store held over the file it mapped, mapped anew now and then."""

    def __init__(self, path):
        self.path = path
        self.store, self.twin = opened(lambda: q.RandomAccessFactory_map_file(path), path)

    def targets(self):
        return [self.path, self.twin.link]

    def call(self, rng):
        if rng.random() < 0.15 and os.path.exists(self.path):
            self.twin.close()
            self.store, self.twin = opened(lambda: q.RandomAccessFactory_map_file(self.path), self.path)
        where = span(rng, self.twin.size(), q.RandomAccess_get_size(self.store))
        if not where:
            return
        if rng.random() < 0.6:
            gives_or_says_why(lambda: read_store(self.store, *where), self.twin, [where])
        else:
            data = random.Random(where[0]).randbytes(where[1])
            lands_or_says_why(lambda: q.RandomAccess_write(self.store, where[0], data), self.twin, [where], data)


class DiskRoad:
    """A view in a temporary file, its file changed as any other: boxes of
    rows read and written."""
    WIDTH, HEIGHT = 256, 5 * PAGE // 256 + 3

    def __init__(self, path):
        folder = os.path.dirname(path)
        self.view = q.ImageViewFactory_create_on_disk(folder, [self.WIDTH, self.HEIGHT], q.DataTypeId_UINT8)
        name = next(n for n in os.listdir(folder) if n.startswith("quelbo-view-"))
        self.path = os.path.join(folder, name)
        self.twin = Twin(self.path)
        # the upper half written: the lower is read from pieces never written
        top = self.WIDTH * (self.HEIGHT // 2)
        q.ImageView___write_region(self.view, cls("RegionXu64")([0, 0], [self.WIDTH, self.HEIGHT // 2]),
                                   random.Random(1).randbytes(top))

    def targets(self):
        return [self.path, self.twin.link]

    def call(self, rng):
        # a box of rows whose last byte is one of a span
        offset, n = span(rng, self.twin.size(), self.WIDTH * self.HEIGHT)
        last_y, last_x = divmod(offset + n - 1, self.WIDTH)
        h = rng.randint(1, min(8, last_y + 1))
        x = rng.randint(0, last_x)
        y, w = last_y - h + 1, last_x - x + 1
        box = cls("RegionXu64")([x, y], [w, h])
        runs = [((y + j) * self.WIDTH + x, w) for j in range(h)]
        if rng.random() < 0.6:
            buf = bytearray(w * h)
            gives_or_says_why(lambda: q.ImageView___read_region(self.view, box, buf) or bytes(buf), self.twin, runs)
        else:
            data = random.Random(x * y).randbytes(w * h)
            lands_or_says_why(lambda: q.ImageView___write_region(self.view, box, data), self.twin, runs, data)


class CopyRoad:
    """Copies in memory of a held stream, a held mapped store, a store opened
    anew and a disk view, each written once made: the file stays as it was."""

    def __init__(self, path):
        self.streams, self.mapped, self.disk = StreamRoad(path), MappedRoad(path), DiskRoad(path)

    def targets(self):
        return self.streams.targets() + self.mapped.targets()[1:] + self.disk.targets()

    def call(self, rng):
        kind = rng.choice(("stream", "mapped", "store", "view"))
        if kind == "stream":
            held, twin = self.streams.held, self.streams.twin
            q.StreamAccess_seek(held, FAR, BEGIN)
            copy = lambda: stream_bytes(q.StreamAccessFactory_copy_in_memory(held))  # noqa: E731
            return gives_or_says_why(copy, twin, [(0, twin.size())])
        if kind == "view":
            disk = self.disk
            shape = [disk.WIDTH, disk.HEIGHT]

            def copy():
                c = q.ImageViewFactory_copy_in_memory(disk.view)
                buf = bytearray(disk.WIDTH * disk.HEIGHT)
                q.ImageView___read_region(c, q.RegionXu64_create_full_region(shape), buf)
                q.ImageView___write_region(c, cls("RegionXu64")([0, 0], [4, 1]), b"COPY")
                return bytes(buf)
            return gives_or_says_why(copy, disk.twin, [(0, disk.WIDTH * disk.HEIGHT)])
        if kind == "mapped":
            store, twin = self.mapped.store, self.mapped.twin
        else:
            path = self.streams.path
            store, twin = opened(lambda: q.RandomAccessFactory_open_uri_read(cls("Uri")("file://" + path)), path)
            if not store:
                return
        size = q.RandomAccess_get_size(store)

        def copy():
            c = q.RandomAccessFactory_copy_in_memory(store)
            got = read_store(c, 0, size)
            q.RandomAccess_write(c, 0, b"C"[:size])
            return got
        gives_or_says_why(copy, twin, [(0, size)])


ROADS = {"stream": StreamRoad, "folder storage": FolderRoad, "mapped store": MappedRoad, "disk view": DiskRoad,
         "copy in memory": CopyRoad}


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
