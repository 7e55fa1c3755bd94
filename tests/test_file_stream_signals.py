"""File streams under signals, as Python's files behave: a call that waits (a
read or write of a pipe, the open of a FIFO) runs Python's signal handlers
when a signal interrupts it. One that returns lets the call go on, no byte lost
or written twice; one that raises ends the call with its own exception, and
the stream goes on from where it was: a read gives back what it took, a write
keeps pending what the pipe did not take. Each case runs in a process of its
own, its timer and handlers with it."""
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
    """call() waits until a SIGALRM comes whose handler raises Stop: Stop reaches here."""
    signal.setitimer(signal.ITIMER_REAL, 0.2)
    try:
        call()
    except Stop:
        return
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
    raise AssertionError("the call did not end with the handler's exception")

def ticking():
    """A timer that interrupts every millisecond, its handler returning: the count of its ticks."""
    ticks = []
    signal.signal(signal.SIGALRM, lambda *_: ticks.append(1))
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    return ticks

def output_of(r, slowly=False):
    """A process that copies the pipe's end r (a few KiB a millisecond, slowly) to a new file (its path)."""
    path = tempfile.mktemp()
    with open(path, "wb") as out:
        reader = subprocess.Popen([sys.executable, "-c", SLOW_READER] if slowly else ["cat"], stdin=r, stdout=out)
    os.close(r)
    return reader, path

data = random.Random(7).randbytes(200 << 10)
SLOWLY = """if True:
    import os, sys, time
    time.sleep(0.3)
    fd = os.open(sys.argv[1], os.O_WRONLY)
    for i in range(40):
        os.write(fd, bytes(range(256)) * 2)
        time.sleep(0.005)
"""
SLOW_READER = """if True:
    import os, time
    while chunk := os.read(0, 4096):
        while chunk:
            chunk = chunk[os.write(1, chunk):]
        time.sleep(0.001)
"""
folder = tempfile.mkdtemp()
'''

CASES = {
    # the FIFO's writer opens it late and writes slowly
    "returns while opening and reading": r'''
fifo = os.path.join(folder, "fifo")
os.mkfifo(fifo)
writer = subprocess.Popen([sys.executable, "-c", SLOWLY, fifo])
ticks = ticking()
s = q.StreamAccessFactory_open_file_read(fifo)
got = read(s, 100) + read(s, 1 << 20)
signal.setitimer(signal.ITIMER_REAL, 0)
assert writer.wait() == 0
assert got == bytes(range(256)) * 80
assert ticks and not q.StreamAccess_get_fail(s) and q.StreamAccess_get_eof(s)
''',
    # the pipe's reader reads slowly
    "returns while writing": r'''
r, w = os.pipe()
reader, path = output_of(r, slowly=True)
s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
os.close(w)
ticks = ticking()
q.StreamAccess_write(s, data[:100])
q.StreamAccess_write(s, data[100:])
q.StreamAccess_flush(s)
signal.setitimer(signal.ITIMER_REAL, 0)
assert not q.StreamAccess_get_fail(s)
del s
assert reader.wait() == 0
assert open(path, "rb").read() == data
assert ticks
''',
    "raises while reading": r'''
r, w = os.pipe()
s = q.StreamAccessFactory_open_file_read("/proc/self/fd/%d" % r)
refused = []

def uses_the_stream(*_):  # the stream is midway through its read: it refuses
    try:
        read(s, 1)
    except QuelboError as e:
        refused.append(str(e))
    raise Stop

signal.signal(signal.SIGALRM, uses_the_stream)
# bytes read ahead into the buffer, then bytes read straight into the caller's
for first, size in [(b"abc", 100), (data[:5000], 10000)]:
    os.write(w, first)
    ends_with_stop(lambda: read(s, size))
    assert not q.StreamAccess_get_fail(s)
    os.write(w, data[-6000:])
    assert read(s, len(first) + 6000) == first + data[-6000:]
os.close(w)
assert read(s, 10) == b"" and not q.StreamAccess_get_fail(s)
assert refused == ["reentrant call inside file stream '/proc/self/fd/%d'" % r] * 2
''',
    "raises while writing": r'''
r, w = os.pipe()
s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
os.close(w)
signal.signal(signal.SIGALRM, stop)
# the pipe takes part of the write and then waits: the write took all of it
ends_with_stop(lambda: q.StreamAccess_write(s, data))
# the pipe is full: handing over the rest ends, and this write took none
ends_with_stop(lambda: q.StreamAccess_write(s, b"x" * 5000))
ends_with_stop(lambda: q.StreamAccess_flush(s))
assert not q.StreamAccess_get_fail(s)
reader, path = output_of(r)
q.StreamAccess_write(s, b"x" * 5000)
q.StreamAccess_flush(s)
del s
assert reader.wait() == 0
assert open(path, "rb").read() == data + b"x" * 5000
''',
    "raises while opening": r'''
fifo = os.path.join(folder, "fifo")
os.mkfifo(fifo)
signal.signal(signal.SIGALRM, stop)
ends_with_stop(lambda: q.StreamAccessFactory_open_file_read(fifo))
writer = subprocess.Popen(["sh", "-c", 'printf hello > "$0"', fifo])
s = q.StreamAccessFactory_open_file_read(fifo)
assert read(s, 100) == b"hello"
assert writer.wait() == 0
''',
    # a stream let go waits to hand its bytes to a full pipe: the handler's
    # exception and the loss are reported, nothing is left raised
    "raises as the stream goes": r'''
reported = []
sys.unraisablehook = lambda u: reported.append(u.exc_value)
r, w = os.pipe()
s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
os.set_blocking(w, False)
try:
    while True:
        os.write(w, bytes(4096))
except BlockingIOError:
    pass
q.StreamAccess_write(s, b"y" * 100)
signal.signal(signal.SIGALRM, stop)
signal.setitimer(signal.ITIMER_REAL, 0.2)
del s
signal.setitimer(signal.ITIMER_REAL, 0)
assert [type(e) for e in reported] == [Stop, QuelboError], reported
assert str(reported[1]) == "cannot flush file '/proc/self/fd/%d': Interrupted system call" % w
''',
}


@pytest.mark.parametrize("case", CASES)
def test_a_signals_handler_runs_while_a_file_call_waits(case):
    child = run_child(PRELUDE + CASES[case] + "print('done')\n")
    assert child.returncode == 0 and child.stdout == "done\n", child.stdout + child.stderr
