"""File streams around what else reaches their file: stores over a stream
writing under what it read ahead, other writers before a seek, pipes read and
written through one stream, positions no file can have; and random sequences
of all of these checked against a model of the bytes."""
import contextlib
import os
import random
import signal
import tempfile

import pytest

from helpers import exact
from proxy import QuelboError, cls, q

BEGIN, CURRENT, END = q.SeekOrigin_BEGIN, q.SeekOrigin_CURRENT, q.SeekOrigin_END


def read_stream(stream, n):
    buf = bytearray(n)
    return bytes(buf[:q.StreamAccess___read(stream, buf)])


def read_store(store, offset, n):
    buf = bytearray(n)
    return bytes(buf[:q.RandomAccess___read(store, offset, buf)])


@contextlib.contextmanager
def deadline(seconds):
    """Fails a read that waits on a pipe for bytes that never come, rather than hanging."""
    def expired(*_):
        raise TimeoutError("a read of the pipe waited for bytes written before it")

    old = signal.signal(signal.SIGALRM, expired)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


# ------------------------------------------------- what a stream read ahead

def test_a_stream_reads_what_stores_over_it_wrote(tmp_path):
    path = tmp_path / "a.bin"
    path.write_bytes(b"a" * 100)
    stream = q.StreamAccessFactory_open_file(str(path))
    store = q.RandomAccessFactory_from_stream(stream)
    assert read_stream(stream, 10) == b"a" * 10
    assert q.RandomAccess_write(store, 20, b"ZZZZ") == 4
    assert read_stream(stream, 20) == b"a" * 10 + b"ZZZZ" + b"a" * 6
    q.StreamAccess_seek(stream, 0, BEGIN)
    assert read_stream(stream, 30) == path.read_bytes()[:30]
    # through a region of the store and a stream over the store as well
    assert q.RandomAccess_write(q.RandomAccessFactory_extract_region(store, 40), 2, b"YY") == 2
    over = q.StreamAccessFactory_from_random_access(store)
    q.StreamAccess_seek(over, 50, BEGIN)
    assert q.StreamAccess_write(over, b"XX") == 2
    assert read_stream(stream, 30) == b"a" * 12 + b"YY" + b"a" * 6 + b"XX" + b"a" * 8
    assert path.read_bytes() == b"a" * 20 + b"ZZZZ" + b"a" * 18 + b"YY" + b"a" * 6 + b"XX" + b"a" * 48


@pytest.mark.parametrize("offset, origin", [(5, BEGIN), (0, CURRENT), (-8, CURRENT), (-95, END)])
def test_a_seek_within_what_was_read_ahead_is_served_from_it(tmp_path, offset, origin):
    """Another writer's changes there are not seen, as from a buffered file of Python's (which reads the file
    again after any seek from the end, though)."""
    path = tmp_path / "a.bin"
    path.write_bytes(bytes(range(100)))
    stream = q.StreamAccessFactory_open_file_read(str(path))
    with open(path, "rb") as theirs:
        for at in (50, 0):
            q.StreamAccess_seek(stream, at, BEGIN)
            theirs.seek(at)
            assert read_stream(stream, 10) == theirs.read(10) == bytes(range(at, at + 10))
        with open(path, "r+b") as f:
            f.write(bytes(range(100, 200)))
        q.StreamAccess_seek(stream, offset, origin)
        at = q.StreamAccess_tell(stream)
        assert read_stream(stream, 4) == bytes(range(at, at + 4))
        if origin != END:
            theirs.seek(at)
            assert theirs.read(4) == bytes(range(at, at + 4))


def test_another_writers_changes_are_seen_after_a_seek_outside_what_was_read_ahead(tmp_path):
    path = tmp_path / "a.bin"
    size = 3 << 20  # more than a stream reads ahead
    path.write_bytes(bytes(size))
    stream = q.StreamAccessFactory_open_file(str(path))
    assert read_stream(stream, 10) == bytes(10)
    with open(path, "r+b") as f:
        f.write(b"\1" * size)
    q.StreamAccess_seek(stream, 2 << 20, BEGIN)  # away, reading nothing there: what it read ahead goes
    q.StreamAccess_seek(stream, 5, BEGIN)
    assert read_stream(stream, 4) == b"\1" * 4
    # its own writes are read back from what it reads ahead, before and after a flush
    q.StreamAccess_seek(stream, 2, BEGIN)
    assert q.StreamAccess_write(stream, b"ab") == 2
    q.StreamAccess_seek(stream, 0, BEGIN)
    assert read_stream(stream, 6) == b"\1\1ab\1\1"
    q.StreamAccess_flush(stream)
    q.StreamAccess_seek(stream, 3, BEGIN)
    assert read_stream(stream, 2) == b"b\1"
    assert path.read_bytes()[:6] == b"\1\1ab\1\1"


# ------------------------------------------------------------------ pipes

def test_a_pipe_read_and_written_keeps_both_directions(tmp_path):
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    stream = q.StreamAccessFactory_open_file(str(fifo))
    with deadline(20):
        assert q.StreamAccess_write(stream, b"abcdef") == 6
        q.StreamAccess_flush(stream)
        assert read_stream(stream, 2) == b"ab"
        assert q.StreamAccess_write(stream, b"XY") == 2
        q.StreamAccess_flush(stream)
        assert read_stream(stream, 6) == b"cdefXY"
        # a peek reads ahead too
        assert q.StreamAccess_write(stream, b"123") == 3
        assert q.StreamAccess_peek(stream) == ord("1")
        assert q.StreamAccess_write(stream, b"45") == 2
        assert read_stream(stream, 5) == b"12345"
    assert not q.StreamAccess_get_fail(stream)


# ------------------------------------------------------- huge positions

@pytest.mark.parametrize("offset, origin, target", [(2 ** 63 - 1, CURRENT, 2 ** 63 + 9),
                                                    (2 ** 63 - 1, END, 2 ** 63 + 19)])
def test_a_seek_past_the_largest_file_offset_says_so(tmp_path, offset, origin, target):
    path = tmp_path / "a.bin"
    path.write_bytes(bytes(range(20)))
    stream = q.StreamAccessFactory_open_file(str(path))
    q.StreamAccess_seek(stream, 10, BEGIN)
    with pytest.raises(FileNotFoundError):
        os.stat(tmp_path / "missing")  # a failure the system reported before, unrelated
    message = "cannot seek in file '%s': position %d is past the largest offset a file can have" % (path, target)
    with pytest.raises(QuelboError, match=exact(message)):
        q.StreamAccess_seek(stream, offset, origin)
    assert q.StreamAccess_tell(stream) == 10
    assert read_stream(stream, 4) == bytes(range(10, 14))


@pytest.fixture
def largest_file():
    """A sparse file of the largest size a file can have, where a file system here holds one."""
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as folder:
        path = os.path.join(folder, "largest.bin")
        with open(path, "wb") as f:
            f.write(b"head")
            try:
                f.truncate(2 ** 63 - 1)
            except OSError:
                pytest.skip("no file system here holds a file of 2**63 - 1 bytes")
            f.seek(2 ** 63 - 5)
            f.write(b"tail")
        yield path


def test_the_largest_file_is_read_to_its_end_and_no_further(largest_file):
    stream = q.StreamAccessFactory_open_file(largest_file)
    q.StreamAccess_seek(stream, -4, END)
    assert q.StreamAccess_tell(stream) == 2 ** 63 - 5
    message = "cannot seek in file '%s': position %d is past the largest offset a file can have"
    with pytest.raises(QuelboError, match=exact(message % (largest_file, 2 ** 63))):
        q.StreamAccess_seek(stream, 1, END)
    store = q.RandomAccessFactory_from_stream(stream)
    assert read_store(store, 2 ** 63 - 6, 100) == b"\0tail"
    assert read_store(store, 0, 4) == b"head"
    with pytest.raises(QuelboError, match=exact("offset %d is past the end of the store (size %d)" % (2 ** 64 - 1,
                                                                                                      2 ** 63 - 1))):
        read_store(store, 2 ** 64 - 1, 1)



@pytest.mark.parametrize("seed", range(4))
def test_a_stream_reads_and_writes_the_last_bytes_of_the_largest_file(largest_file, seed):
    """Reads from within a read-ahead of the largest offset (the system refuses a read reaching past it whole),
    peeks, writes and seeks there, against a model of the file's last bytes."""
    rng = random.Random(seed)
    size = 2 ** 63 - 1
    window = 40000  # the last bytes, modelled; the file holds "head" before them
    base = size - window
    tail = bytearray(window - 4) + bytearray(b"tail")
    stream = q.StreamAccessFactory_open_file(largest_file)
    store = q.RandomAccessFactory_from_stream(stream)
    q.StreamAccess_seek(stream, -rng.randrange(window + 1), END)
    pos = q.StreamAccess_tell(stream) - base
    for _ in range(150):
        step = rng.choice(["read", "read", "peek", "write", "seek", "store"])
        if step == "read":
            n = rng.choice([0, 1, 3, 100, 5000, 9000, window])
            assert read_stream(stream, n) == tail[pos:pos + n]
            pos = min(window, pos + n)
        elif step == "peek":
            assert q.StreamAccess_get_eof(stream) == (pos == window)
            if pos < window:
                assert q.StreamAccess_peek(stream) == tail[pos]
        elif step == "write":  # within the file: it cannot grow past the largest offset
            data = rng.randbytes(rng.choice([1, 7, 300, 5000]))[:window - pos]
            assert q.StreamAccess_write(stream, data) == len(data)
            tail[pos:pos + len(data)] = data
            pos += len(data)
        elif step == "seek":
            pos = rng.choice([window, window - 1, rng.randrange(window), window - rng.randrange(1, 9000)])
            q.StreamAccess_seek(stream, base + pos, BEGIN)
        else:
            at, n = rng.randrange(window), rng.choice([1, 100, 9000])
            assert read_store(store, base + at, n) == tail[at:at + n]
        assert q.StreamAccess_tell(stream) == base + pos
    assert not q.StreamAccess_get_fail(stream)
    assert read_store(store, 0, 4) == b"head" and read_store(store, base, window) == tail

def store_kinds(tmp_path):
    """A store of every kind (64 bytes each, some over file streams) and whether it takes writes."""
    path = tmp_path / "a.bin"
    path.write_bytes(bytes(range(64)))
    backing = bytearray(64)
    over_file = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path)))
    return {
        "memory": (q.RandomAccessFactory_allocate(64), True),
        "buffer": ((q.RandomAccessFactory___from_buffer(backing), backing)[0], True),
        "mapped": (q.RandomAccessFactory_map_file(str(path)), True),
        "region": (q.RandomAccessFactory_extract_region(q.RandomAccessFactory_allocate(100), 10, 64), True),
        "file stream": (over_file, True),
        "file stream read only": (q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(str(path))),
                                  False),
        "region of a file stream": (q.RandomAccessFactory_extract_region(over_file, 0), True),
        "uri": (q.RandomAccessFactory_open_uri_read(cls("Uri")("file://" + str(path))), False),
        "stream over a store": (q.RandomAccessFactory_from_stream(
            q.StreamAccessFactory_from_random_access(q.RandomAccessFactory_allocate(64))), True),
    }


@pytest.mark.parametrize("offset", [65, 2 ** 62, 2 ** 63 - 1, 2 ** 63, 2 ** 64 - 1])
def test_every_store_says_an_offset_is_past_its_end(tmp_path, offset):
    message = exact("offset %d is past the end of the store (size 64)" % offset)
    for kind, (store, writable) in store_kinds(tmp_path).items():
        for n in (0, 1, 100):
            with pytest.raises(QuelboError, match=message):
                read_store(store, offset, n)
            if writable:
                with pytest.raises(QuelboError, match=message):
                    q.RandomAccess_write(store, offset, bytes(n))
        assert q.RandomAccess___read(store, 64, bytearray(4)) == 0, kind


def test_a_store_over_a_stream_writes_and_reads_to_the_end_another_process_moved(tmp_path):
    path = tmp_path / "a.bin"
    path.write_bytes(bytes(10000))
    store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path)))
    assert read_store(store, 9000, 10) == bytes(10)
    for size in (100, 20000):  # shrunk, then grown past the size the store saw
        os.truncate(path, size)
        for at in (50, 100, 5000, 15000):
            if at > size:
                message = exact("offset %d is past the end of the store (size %d)" % (at, size))
                for transfer in (read_store, lambda s, at, n: q.RandomAccess_write(s, at, bytes(n))):
                    with pytest.raises(QuelboError, match=message):
                        transfer(store, at, 4)
            else:
                assert q.RandomAccess_write(store, at, b"\1" * 80) == len(read_store(store, at, 80)) == min(80, size - at)
        assert os.path.getsize(path) == size


# ---------------------------------------------- random sequences vs a model

class FileModel:
    """A file stream opened for reading and writing, stores over it, and another writer, against the bytes of the
    file and the stream's position as they should be. The stream may serve a byte that the other writer changed
    from what it read ahead (`stale` holds the values it may then give), until its own writes or a store's
    change the byte again; stores read the file as it is, where the stream's pending run, which spans the bytes
    it read between those it wrote (as a buffered file of Python's writes them), may have put such a value back."""

    def __init__(self, rng, path):
        self.rng, self.path = rng, path
        self.bytes = bytearray(rng.randbytes(rng.choice([0, 1, 100, 4096, 9000, 30000, 70000])))
        with open(path, "wb") as f:
            f.write(self.bytes)
        self.pos = 0
        self.stream = q.StreamAccessFactory_open_file(path)
        self.store = q.RandomAccessFactory_from_stream(self.stream)
        self.base = rng.randrange(len(self.bytes) + 1)
        self.region = q.RandomAccessFactory_extract_region(self.store, self.base)
        self.region_size = len(self.bytes) - self.base  # the file never shrinks here
        self.stale = {}
        self.unflushed = False  # the stream may hold writes it has not handed to the file yet

    def data(self):
        return self.rng.randbytes(self.rng.choice([1, 2, 17, 100, 3000, 5000]))

    def offset(self, size):
        """Mostly within a store of the given size (often just after the stream's position, where what the stream
        read ahead lies), at times at its end or past it."""
        near = min(size, max(0, self.pos + self.rng.randrange(-100, 4096)))
        return self.rng.choice([self.rng.randrange(size + 1), near, near, size, size + self.rng.randrange(1, 5000)])

    def stream_write(self):
        data = self.data()
        assert q.StreamAccess_write(self.stream, data) == len(data)
        self.bytes.extend(bytes(max(0, self.pos - len(self.bytes))))  # a gap reads zero
        self.bytes[self.pos:self.pos + len(data)] = data
        self.written(self.pos, len(data))
        self.pos += len(data)
        self.unflushed = True

    def written(self, at, n):
        for p in range(at, at + n):
            self.stale.pop(p, None)

    def check(self, got, at):
        """Bytes the stream gave from at on: the file's, or old ones of bytes the other writer changed."""
        want = bytes(self.bytes[at:at + len(got)])
        assert len(got) == len(want)
        if got != want:
            for i, (g, w) in enumerate(zip(got, want)):
                assert g == w or g in self.stale.get(at + i, ()), "byte %d: %d, not %d" % (at + i, g, w)

    def stream_read(self):
        n = self.rng.choice([0, 1, 7, 100, 100, 500, 4096, 10000])
        got = read_stream(self.stream, n)
        assert len(got) == len(self.bytes[self.pos:self.pos + n])
        self.check(got, self.pos)
        self.pos += len(got)

    def peek(self):
        if self.pos < len(self.bytes):
            self.check(bytes([q.StreamAccess_peek(self.stream)]), self.pos)
        else:
            with pytest.raises(QuelboError, match="end of file"):
                q.StreamAccess_peek(self.stream)

    def seek(self, refused=True):
        origin = self.rng.choice([BEGIN, CURRENT, END])
        base = {BEGIN: 0, CURRENT: self.pos, END: len(self.bytes)}[origin]
        target = max(0, self.rng.choice([self.offset(len(self.bytes)), self.pos + self.rng.randrange(-50, 50)]))
        if refused and self.rng.random() < 0.2:
            target = -self.rng.randrange(1, 100)
        if target < 0:
            with pytest.raises(QuelboError, match="before the beginning"):
                q.StreamAccess_seek(self.stream, target - base, origin)
        else:
            q.StreamAccess_seek(self.stream, target - base, origin)
            self.pos = target

    def store_write(self, store=None, base=0, size=None):
        store = store or self.store
        size = len(self.bytes) if size is None else size
        at, data = self.offset(size), self.data()
        if at > size:
            with pytest.raises(QuelboError, match=exact("offset %d is past the end of the store (size %d)" %
                                                        (at, size))):
                q.RandomAccess_write(store, at, data)
            return
        n = min(len(data), size - at)
        assert q.RandomAccess_write(store, at, data) == n
        self.bytes[base + at:base + at + n] = data[:n]
        self.written(base + at, n)
        self.unflushed = False

    def region_write(self):
        self.store_write(self.region, self.base, self.region_size)

    def store_read(self):
        at, n = self.offset(len(self.bytes)), self.rng.choice([0, 1, 100, 5000])
        self.unflushed = False
        if at > len(self.bytes):
            with pytest.raises(QuelboError, match="past the end"):
                read_store(self.store, at, n)
        else:
            got = read_store(self.store, at, n)
            assert len(got) == len(self.bytes[at:at + n])
            self.check(got, at)

    def other_writer(self):
        """Another writer changes the file; the stream seeks after. Writes the stream holds go first (a flush, only
        when there may be some)."""
        if self.unflushed:
            self.flush()
        at, data = min(self.offset(len(self.bytes)), len(self.bytes)), self.data()
        fd = os.open(self.path, os.O_WRONLY)
        try:
            assert os.pwrite(fd, data, at) == len(data)
        finally:
            os.close(fd)
        for p in range(at, min(at + len(data), len(self.bytes))):
            if self.bytes[p] != data[p - at]:
                self.stale.setdefault(p, set()).add(self.bytes[p])
        self.bytes[at:at + len(data)] = data
        self.seek(refused=False)

    def state(self):
        assert q.StreamAccess_tell(self.stream) == self.pos
        assert q.RandomAccess_get_size(self.store) == len(self.bytes)
        assert q.StreamAccess_get_eof(self.stream) == (self.pos >= len(self.bytes))
        assert not q.StreamAccess_get_fail(self.stream)

    def flush(self):
        q.StreamAccess_flush(self.stream)
        self.unflushed = False

    def end(self):
        self.flush()
        with open(self.path, "rb") as f:
            held = f.read()
        assert len(held) == len(self.bytes)
        self.check(held, 0)


class PipeModel:
    """A pipe opened for reading and writing through one stream, against the bytes it holds."""

    def __init__(self, rng, path):
        self.rng = rng
        os.mkfifo(path)
        self.stream = q.StreamAccessFactory_open_file(path)
        self.held = bytearray()

    def stream_write(self):
        data = self.rng.randbytes(self.rng.choice([1, 2, 17, 100, 3000]))
        if len(self.held) + len(data) < 48 << 10:  # the pipe holds 64 KiB: a write past that would wait
            assert q.StreamAccess_write(self.stream, data) == len(data)
            self.held += data

    def stream_read(self):
        n = min(len(self.held), self.rng.choice([1, 2, 100, 5000]))
        assert read_stream(self.stream, n) == self.held[:n]
        del self.held[:n]

    def peek(self):
        if self.held:  # an empty pipe would wait for a byte
            assert q.StreamAccess_peek(self.stream) == self.held[0]
            assert not q.StreamAccess_get_eof(self.stream)

    def flush(self):
        q.StreamAccess_flush(self.stream)

    def state(self):
        assert not q.StreamAccess_get_fail(self.stream)

    def end(self):
        self.flush()
        assert read_stream(self.stream, len(self.held)) == self.held


STEPS = {
    FileModel: ["stream_write", "stream_read", "stream_read", "peek", "seek", "seek", "store_write", "store_write",
                "region_write", "store_read", "other_writer", "other_writer", "state", "flush"],
    PipeModel: ["stream_write", "stream_read", "peek", "flush", "state"],
}


@pytest.mark.parametrize("seed", range(24))
@pytest.mark.parametrize("kind", [FileModel, PipeModel], ids=["file", "pipe"])
def test_file_streams_behave_as_the_model(tmp_path, kind, seed):
    rng = random.Random(seed)
    model = kind(rng, str(tmp_path / "f"))
    done = ["start"]
    with deadline(60):
        for _ in range(600):
            model.last = done[-1]
            done.append(rng.choice(STEPS[kind]))
            try:
                getattr(model, done[-1])()
            except AssertionError as e:
                raise AssertionError("after %s: %s" % (" ".join(done[-12:]), e)) from None
        model.end()
