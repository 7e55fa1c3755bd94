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
from proxy import QuelboError, q
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


def test_refused_bytes_at_the_interpreters_exit_are_logged():
    child = run_child("""
        from proxy import q
        kept = q.StreamAccessFactory_open_file_write("/dev/full")
        q.StreamAccess_write(kept, b"abc")
    """)
    assert child.returncode == 0, child.stderr
    assert "[quelbo] %s\n" % FULL in child.stderr


def test_a_large_write_the_file_refuses_leaves_no_blocks_past_its_end(tmp_path):
    """Blocks reserved for a large write are given back when the file refuses it (RLIMIT_FSIZE here)."""
    child = run_child("""
        import os, resource
        from proxy import QuelboError, q
        path = %r
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, resource.RLIM_INFINITY))
        for write in (q.StreamAccessFactory_open_file_write, q.StreamAccessFactory_open_file):
            s = write(path)
            try:
                q.StreamAccess_write(s, bytes(8 << 20))
            except QuelboError as e:
                st = os.stat(path)
                print(str(e).endswith("File too large"), st.st_size, st.st_blocks * 512 <= st.st_size + (64 << 10))
    """ % str(tmp_path / "limited.bin"))
    assert child.stdout == "True 1048576 True\n" * 2, child.stdout + child.stderr
