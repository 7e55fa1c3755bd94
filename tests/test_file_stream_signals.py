"""File streams under signals, as Python's files: a call that waits (on a pipe,
the open of a FIFO) runs Python's signal handlers. One that returns lets the
call go on, nothing lost or written twice; one that raises ends the call with
its exception, and the stream goes on from where it was. Each case runs in a
process of its own (its timer and handlers with it)."""
import pytest

from helpers import run_child

PRELUDE = r'''
import os, random, signal, subprocess, sys, tempfile
from proxy import QuelboError, q

class Stop(Exception):
    pass

def stop(*_):
    raise Stop

def read(s, n):
    buf = bytearray(n)
    return bytes(buf[:q.StreamAccess___read(s, buf)])

def ends_with_stop(call):
    """call() waits until a SIGALRM whose handler raises Stop: Stop reaches here."""
    signal.setitimer(signal.ITIMER_REAL, 0.2)
    try:
        call()
        raise AssertionError("the call did not end with the handler's exception")
    except Stop:
        pass
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)

def ticking():
    """Interrupts every millisecond, the handler returning: the list of its ticks."""
    ticks = []
    signal.signal(signal.SIGALRM, lambda *_: ticks.append(1))
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    return ticks

def copy_of(r, slowly=False):
    """A process copying the pipe's end r (4 KiB a millisecond, slowly) to a new file: it and the path."""
    path = tempfile.mktemp()
    slow = "import os, time\nwhile b := os.read(0, 4096):\n    os.write(1, b)\n    time.sleep(0.001)"
    with open(path, "wb") as out:
        reader = subprocess.Popen([sys.executable, "-c", slow] if slowly else ["cat"], stdin=r, stdout=out)
    os.close(r)
    return reader, path

def fill(fd, blocking=True):
    """Writes to the pipe's end fd until the pipe is full."""
    os.set_blocking(fd, False)
    try:
        while os.write(fd, bytes(4096)):
            pass
    except BlockingIOError:
        pass
    os.set_blocking(fd, blocking)

data = random.Random(7).randbytes(200 << 10)
fifo = os.path.join(tempfile.mkdtemp(), "fifo")
os.mkfifo(fifo)
r, w = os.pipe()
'''

CASES = {
    # the FIFO's writer opens it late, writing a line at a time
    "returns while opening and reading": r'''
lines = 'sleep 0.3; for i in $(seq 40); do echo 0123456789; sleep 0.005; done > "$0"'
writer = subprocess.Popen(["timeout", "60", "sh", "-c", lines, fifo])  # bounded, should the open fail
ticks = ticking()
s = q.StreamAccessFactory_open_file_read(fifo)
assert read(s, 100) + read(s, 1 << 20) == b"0123456789\n" * 40
assert ticks and not q.StreamAccess_get_fail(s) and writer.wait() == 0
''',
    "returns while writing": r'''
reader, path = copy_of(r, slowly=True)
s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
os.close(w)
ticks = ticking()
q.StreamAccess_write(s, data[:100])
q.StreamAccess_write(s, data[100:])
q.StreamAccess_flush(s)
assert ticks and not q.StreamAccess_get_fail(s)
del s
assert reader.wait() == 0 and open(path, "rb").read() == data
''',
    "raises while reading": r'''
s = q.StreamAccessFactory_open_file_read("/proc/self/fd/%d" % r)
refused = []

def uses_the_stream(*_):
    try:
        read(s, 1)
    except QuelboError as e:
        refused.append(str(e))
    raise Stop

signal.signal(signal.SIGALRM, uses_the_stream)
# bytes read ahead into the stream's buffer, then straight into the caller's: given back
for first, size in [(b"abc", 100), (data[:5000], 10000)]:
    os.write(w, first)
    ends_with_stop(lambda: read(s, size))
    os.write(w, data[-6000:])
    assert read(s, len(first) + 6000) == first + data[-6000:]
assert not q.StreamAccess_get_fail(s)
assert refused == ["reentrant call inside file stream '/proc/self/fd/%d'" % r] * 2
''',
    "raises while writing": r'''
s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
os.close(w)
signal.signal(signal.SIGALRM, stop)
ends_with_stop(lambda: q.StreamAccess_write(s, data))  # part reached the pipe: the write took all
ends_with_stop(lambda: q.StreamAccess_write(s, b"x" * 5000))  # the pipe full: it took none
ends_with_stop(lambda: q.StreamAccess_flush(s))
assert not q.StreamAccess_get_fail(s)
reader, path = copy_of(r)
q.StreamAccess_write(s, b"x" * 5000)
q.StreamAccess_flush(s)
del s
assert reader.wait() == 0 and open(path, "rb").read() == data + b"x" * 5000
''',
    # the caller's buffer of a waiting call is exported meanwhile: a handler cannot resize or release it
    "changes the caller's buffer": r'''
def cannot(change):
    def handler(*_):
        try:
            change()
        except BufferError:
            raise Stop
        raise AssertionError("the buffer changed under the call")
    signal.signal(signal.SIGALRM, handler)
s = q.StreamAccessFactory_open_file_read("/proc/self/fd/%d" % r)
os.write(w, b"abc")
into, view = bytearray(1 << 16), memoryview(bytearray(1 << 16))
for target, change in [(into, into.clear), (view, view.release), (into, lambda: into.extend(bytes(1 << 20)))]:
    cannot(change)
    ends_with_stop(lambda: q.StreamAccess___read(s, target))
assert len(into) == 1 << 16 and read(s, 3) == b"abc"
r2, w2 = os.pipe()
out = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w2)
fill(w2)
source = bytearray(data)
cannot(source.clear)
ends_with_stop(lambda: q.StreamAccess_write(out, source))  # the pipe full: it took none
into.clear(), view.release(), source.clear()  # the calls over, nothing holds them
os.close(r2)
''',
    # what a call received or took is the stream's own before a handler runs: one that writes over the caller's
    # buffer (same length: the pin allows it) and raises changes nothing the stream gives back or writes
    "writes over the caller's bytes": r'''
def scribbles(buffer):
    def handler(*_):
        buffer[:] = bytes(len(buffer))
        raise Stop
    signal.signal(signal.SIGALRM, handler)
s = q.StreamAccessFactory_open_file_read("/proc/self/fd/%d" % r)
into = bytearray(100)  # through the stream's buffer
os.write(w, data[:50])
scribbles(into)
ends_with_stop(lambda: q.StreamAccess___read(s, into))
os.write(w, data[50:100])
assert read(s, 100) == data[:100]
# straight into the caller's, from a writer that trickles (the read waits many times before the handler raises)
trickle = subprocess.Popen(["sh", "-c", "for i in $(seq 100); do printf %05d $i; sleep 0.005; done"], stdout=w)
into = bytearray(10000)
scribbles(into)
ends_with_stop(lambda: q.StreamAccess___read(s, into))
assert trickle.wait() == 0 and read(s, 500) == b"".join(b"%05d" % i for i in range(1, 101))
r2, w2 = os.pipe()
out = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w2)
os.close(w2)
source = bytearray(data)
scribbles(source)
ends_with_stop(lambda: q.StreamAccess_write(out, source))  # part reached the pipe: the write took all
reader, path = copy_of(r2)
q.StreamAccess_flush(out)
del out
assert reader.wait() == 0 and open(path, "rb").read() == data
''',
    "raises while opening": r'''
signal.signal(signal.SIGALRM, stop)
ends_with_stop(lambda: q.StreamAccessFactory_open_file_read(fifo))
writer = subprocess.Popen(["timeout", "60", "sh", "-c", 'printf hello > "$0"', fifo])
assert read(q.StreamAccessFactory_open_file_read(fifo), 100) == b"hello" and writer.wait() == 0
''',
    # what a stream let go hands to a full pipe, a handler's exception cuts off
    "raises as the stream goes": r'''
reported = []
sys.unraisablehook = lambda u: reported.append(u.exc_value)
s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
fill(w, blocking=False)
q.StreamAccess_write(s, b"y" * 100)
signal.signal(signal.SIGALRM, stop)
signal.setitimer(signal.ITIMER_REAL, 0.2)
del s
assert [type(e) for e in reported] == [Stop, QuelboError], reported
assert str(reported[1]) == "cannot flush file '/proc/self/fd/%d': Interrupted system call" % w
''',
}


@pytest.mark.parametrize("case", CASES)
def test_a_signals_handler_runs_while_a_file_call_waits(case):
    child = run_child(PRELUDE + CASES[case] + "signal.setitimer(signal.ITIMER_REAL, 0)\nprint('done')\n")
    assert child.returncode == 0 and child.stdout == "done\n", child.stdout + child.stderr
