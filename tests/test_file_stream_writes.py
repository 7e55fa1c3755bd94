"""What file streams hold before it reaches the file: random writes and seeks of a write-only stream against a
model of the file, several threads writing and reading one stream, pipes whose other end has gone, and bytes the
file refuses after their stream was let go (the library's log and an unraisable exception say so, also with an
exception on its way and at the interpreter's exit)."""
import os
import random
import sys
import threading

import pytest

from helpers import exact, run_child
from proxy import QuelboError, cls, q
from test_file_streams import read_stream
from test_serialization_pipes import pipe_stream

BEGIN, CURRENT, END = q.SeekOrigin_BEGIN, q.SeekOrigin_CURRENT, q.SeekOrigin_END
FULL = "cannot flush file '/dev/full': No space left on device"


@pytest.mark.parametrize("seed", range(12))
def test_a_write_only_stream_behaves_as_the_model(tmp_path, seed):
    """Writes small and larger than the stream's buffer, seeks from every origin (past the end too: the gap
    reads zero), against the file after each flush and once the stream is let go."""
    rng = random.Random(seed)
    path = str(tmp_path / "w.bin")
    stream = q.StreamAccessFactory_open_file_write(path)
    model, pos = bytearray(), 0
    for _ in range(400):
        step = rng.choice(["write", "write", "write", "seek", "flush"])
        if step == "write":
            data = rng.randbytes(rng.choice([1, 3, 60, 1000, 4095, 4096, 5000, 70000]))
            assert q.StreamAccess_write(stream, data) == len(data)
            model.extend(bytes(max(0, pos - len(model))))
            model[pos:pos + len(data)] = data
            pos += len(data)
        elif step == "seek":
            origin = rng.choice([BEGIN, CURRENT, END])
            target = max(0, rng.choice([rng.randrange(len(model) + 1), pos + rng.randrange(-100, 100),
                                        len(model) + rng.randrange(5000)]))
            q.StreamAccess_seek(stream, target - {BEGIN: 0, CURRENT: pos, END: len(model)}[origin], origin)
            pos = target
        else:
            q.StreamAccess_flush(stream)
            with open(path, "rb") as f:
                assert f.read() == model
        assert q.StreamAccess_tell(stream) == pos
    del stream
    with open(path, "rb") as f:
        assert f.read() == model


def test_threads_share_a_stream_call_by_call(tmp_path):
    """Each call moves its bytes whole: records encoded by several threads decode intact, and reads of several
    threads together read each part of the file once."""
    path = str(tmp_path / "records.bin")
    stream = q.StreamAccessFactory_open_file(path)

    def encode(k):
        for i in range(500):
            q.Serialization_encode_vector_3d([k, i, 0.5], stream)

    def together(work, *args):
        threads = [threading.Thread(target=work, args=args + (k,)) for k in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    try:
        together(encode)
        q.StreamAccess_seek(stream, 0, BEGIN)
        decoded = {tuple(q.Serialization_decode_vector_3d(stream)) for _ in range(2000)}
        assert decoded == {(k, i, 0.5) for k in range(4) for i in range(500)}
        assert q.StreamAccess_get_eof(stream)
        q.StreamAccess_seek(stream, 0, BEGIN)
        parts = []
        together(lambda _: parts.extend(iter(lambda: read_stream(stream, 60), b"")))
    finally:
        sys.setswitchinterval(old)
    with open(path, "rb") as f:
        records = f.read()
    assert sorted(parts) == sorted(records[i:i + 60] for i in range(0, len(records), 60))


def test_pipes_whose_other_end_has_gone():
    # the reader has what was written before the writer went, then the end
    s, r, w = pipe_stream("r")
    os.write(w, b"abc")
    os.close(w)
    assert read_stream(s, 2) == b"ab"
    assert not q.StreamAccess_get_eof(s) and q.StreamAccess_peek(s) == ord("c")
    assert read_stream(s, 10) == b"c"
    for _ in range(2):  # the end, as often as asked
        assert q.StreamAccess_get_eof(s)
        with pytest.raises(QuelboError, match="end of file"):
            q.StreamAccess_peek(s)
        assert read_stream(s, 10) == b""
    os.close(r)
    # a writer learns of a gone reader when its bytes reach the pipe, and at every flush after
    s, r, w = pipe_stream("w")
    os.close(w)
    os.close(r)
    assert q.StreamAccess_write(s, b"held") == 4
    for _ in range(2):
        with pytest.raises(QuelboError, match=r"^cannot flush file '/proc/self/fd/\d+': Broken pipe$"):
            q.StreamAccess_flush(s)
    with pytest.raises(QuelboError, match=r"^cannot write file '/proc/self/fd/\d+': Broken pipe$"):
        q.StreamAccess_write(s, bytes(1 << 20))
    assert q.StreamAccess_get_fail(s)


def test_refused_bytes_of_a_stream_let_go_are_reported_as_unraisable(monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda u: reported.append((type(u.exc_value), str(u.exc_value))))

    def fails_holding_a_stream():
        s = q.StreamAccessFactory_open_file_write("/dev/full")
        q.StreamAccess_write(s, b"abc")
        raise ValueError("its own")

    with pytest.raises(ValueError, match="its own"):  # the exception on its way stays what it is
        fails_holding_a_stream()
    assert reported == [(QuelboError, FULL)]
    s = q.StreamAccessFactory_open_file_write("/dev/full")
    q.StreamAccess_write(s, b"abc")
    with pytest.raises(QuelboError, match=exact(FULL)):
        q.StreamAccess_flush(s)
    del s  # nothing left to write: nothing to report again
    assert len(reported) == 1


def test_a_large_write_the_file_refuses_leaves_no_blocks_past_its_end(tmp_path):
    """The blocks it reserved first are given back; the refusal raises there and at every later flush."""
    child = run_child("""
        import os, resource
        from proxy import QuelboError, q
        path = %r
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, resource.RLIM_INFINITY))
        for opened in (q.StreamAccessFactory_open_file_write, q.StreamAccessFactory_open_file):
            s = opened(path)
            for call in [lambda: q.StreamAccess_write(s, bytes(8 << 20))] + [lambda: q.StreamAccess_flush(s)] * 2:
                try:
                    call()
                    raise AssertionError("the file took bytes past its limit")
                except QuelboError as e:
                    assert str(e).endswith("file '%%s': File too large" %% path), e
            st = os.stat(path)
            assert st.st_size == 1 << 20 and st.st_blocks * 512 < 2 << 20, (st.st_size, st.st_blocks)
    """ % str(tmp_path / "limited.bin"))
    assert child.returncode == 0, child.stderr


def test_refused_bytes_at_the_interpreters_exit_are_logged():
    child = run_child("""
        from proxy import q
        kept = q.StreamAccessFactory_open_file_write("/dev/full")
        q.StreamAccess_write(kept, b"abc")
    """)
    assert child.returncode == 0, child.stderr
    assert "[quelbo] %s\n" % FULL in child.stderr


# ------------------------------------------- against Python's buffered file

class Twins:
    """A file stream and Python's buffered file (open(path, 'r+b')), each over a file of its own holding the same
    bytes, given the same steps: every read, peek and position must agree, and so must the files. A second stream
    over each file, another process, a column read through an image view over a store over the stream and a store's
    write over it change or read the files where the buffered rule allows the comparison (the main pair flushed
    first; after another writer, both seek far from where they stand, which drops what they read)."""

    def __init__(self, rng, folder):
        self.rng = rng
        data = rng.randbytes(rng.choice([0, 1, 100, 4096, 9000, 30000, 70000]))
        self.paths = [os.path.join(folder, name) for name in ("ours.bin", "theirs.bin")]
        for p in self.paths:
            with open(p, "wb") as f:
                f.write(data)
        self.ours, self.theirs = q.StreamAccessFactory_open_file(self.paths[0]), open(self.paths[1], "r+b")
        self.second = [q.StreamAccessFactory_open_file(self.paths[0]), open(self.paths[1], "r+b")]
        self.capacity = os.stat(self.paths[0]).st_blksize

    def size(self):
        return max(os.path.getsize(p) for p in self.paths)

    def n(self):
        return self.rng.choice([0, 1, 4, 16, 16, 100, 4095, 4096, 5000, 70000])

    def read(self):
        n = self.n()
        assert read_stream(self.ours, n) == self.theirs.read(n)

    def write(self):
        data = self.rng.randbytes(self.n())
        assert q.StreamAccess_write(self.ours, data) == self.theirs.write(data) == len(data)

    def target(self, near):
        return max(0, near + self.rng.choice([-20, -4, -1, 0, 1, 4, 16, 20, 3000, -5000, 9000]))

    def seek(self, target=None):
        origin = self.rng.choice([BEGIN, CURRENT, END])
        here = q.StreamAccess_tell(self.ours)
        target = self.target(self.rng.choice([here, here, self.size()])) if target is None else target
        if origin == END:
            self.theirs.flush()  # the end it seeks from holds the buffered bytes, as ours does
        offset = target - {BEGIN: 0, CURRENT: here, END: self.size()}[origin]
        q.StreamAccess_seek(self.ours, offset, origin)
        assert self.theirs.seek(offset, {BEGIN: 0, CURRENT: 1, END: 2}[origin]) == target

    def peek(self):
        got = self.theirs.peek(1)[:1]
        assert q.StreamAccess_get_eof(self.ours) == (not got)
        if got:
            assert q.StreamAccess_peek(self.ours) == got[0]

    def flush(self):
        q.StreamAccess_flush(self.ours)
        self.theirs.flush()

    def where(self):
        """Where another writer writes: near the streams, or anywhere (where they read before, too)."""
        return self.rng.choice([self.target(q.StreamAccess_tell(self.ours)), self.rng.randrange(self.size() + 1)])

    def changed(self, at):
        """Another writer changed the files at `at`: both streams seek far from where they stand, near it."""
        here, target = q.StreamAccess_tell(self.ours), self.target(at)
        self.seek(target if abs(target - here) > 2 * self.capacity else here + 2 * self.capacity + self.rng.randrange(99))

    def second_stream(self):
        self.flush()
        at, data = self.where(), self.rng.randbytes(self.n())
        q.StreamAccess_seek(self.second[0], at, BEGIN)
        self.second[1].seek(at)
        assert q.StreamAccess_write(self.second[0], data) == self.second[1].write(data)
        q.StreamAccess_flush(self.second[0])
        self.second[1].flush()
        self.changed(at)

    def other_process(self):
        self.flush()
        at, data = self.where(), self.rng.randbytes(self.n())
        pid = os.fork()
        if pid == 0:
            for p in self.paths:
                fd = os.open(p, os.O_WRONLY)
                os.pwrite(fd, data, at)
            os._exit(0)
        assert os.waitpid(pid, 0)[1] == 0
        self.changed(at)

    def column(self):
        """One byte of each row, rows close together or far apart in the file."""
        self.theirs.flush()
        width = self.rng.choice([1, 100, 5000, 20000])
        rows = self.size() // width
        if not rows:
            return
        x = self.rng.randrange(width)
        view = q.ImageViewFactory_from_random_access(q.RandomAccessFactory_from_stream(self.ours), [width, rows],
                                                     q.DataTypeId_UINT8)
        out = bytearray(rows)
        q.ImageView___read_region(view, cls("RegionXu64")([x, 0], [1, rows]), out)
        with open(self.paths[1], "rb") as f:
            assert out == f.read()[x:x + rows * width:width]

    def store_write(self):
        """A store over our stream writes where the file has bytes (it does not grow it); Python's file is written
        there by os.pwrite, what it holds dropped by a seek from the end and back."""
        self.theirs.flush()
        at, data = min(self.where(), self.size()), self.rng.randbytes(self.n())
        kept = min(len(data), self.size() - at)
        assert q.RandomAccess_write(q.RandomAccessFactory_from_stream(self.ours), at, data) == kept
        fd = os.open(self.paths[1], os.O_WRONLY)
        os.pwrite(fd, data[:kept], at)
        os.close(fd)
        here = self.theirs.tell()
        self.theirs.seek(0, 2)
        self.theirs.seek(here)

    def end(self):
        assert q.StreamAccess_tell(self.ours) == self.theirs.tell()
        self.flush()
        for stream in (self.ours, self.second[0]):
            q.StreamAccess_flush(stream)
        self.theirs.close()
        self.second[1].close()
        with open(self.paths[0], "rb") as a, open(self.paths[1], "rb") as b:
            assert a.read() == b.read()


@pytest.mark.parametrize("seed", range(16))
def test_a_file_stream_behaves_as_pythons_buffered_file(tmp_path, seed):
    rng = random.Random(seed)
    twins = Twins(rng, str(tmp_path))
    steps = ["read"] * 6 + ["write"] * 6 + ["seek"] * 3 + ["peek", "flush", "column", "store_write", "second_stream"]
    done = ["start"]
    for i in range(500):
        done.append(rng.choice(steps) if i % 100 != 99 else "other_process")
        try:
            getattr(twins, done[-1])()
            assert q.StreamAccess_tell(twins.ours) == twins.theirs.tell()
        except AssertionError as e:
            raise AssertionError("after %s: %s" % (" ".join(done[-12:]), e)) from None
    twins.end()
