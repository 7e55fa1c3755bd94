"""Storage throughput, as ratios to plain Python doing the same transfer:
memory-store reads and writes in 1 MiB pieces vs memoryview copies,
mapped-file reads vs readinto, reads of 16 B of a mapped file vs an mmap
slice, file-stream reads (sequential, small ones of a stream never sought,
after seeks near and far, between writes through a store over the stream) vs
a buffered file, HTTP range reads vs http.client keep-alive, an HTTP stream of
a whole resource vs one streamed urllib response (each in fresh child
processes), two streams reading in turn over one HTTP store vs each over a
store of its own, a strip of an image view over an HTTP store vs one covering
read and a numpy slice, and how many requests small sequential HTTP reads cost.
Run with /usr/bin/python3."""
import http.client
import mmap
import os
import pathlib
import random
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from timing import compare, compare_stmt, report, section  # noqa: E402
from proxy import cls, q  # noqa: E402
from test_storage_http import Server  # noqa: E402
from views_util import region  # noqa: E402

MIB = 1 << 20
TOTAL = 64 * MIB
STREAMED = 64 * MIB  # the resource a stream reads whole


def memory_rows():
    store = q.RandomAccessFactory_allocate(TOTAL)
    piece = bytearray(MIB)
    src = memoryview(bytearray(TOTAL))
    dst = memoryview(piece)

    def store_reads():
        for off in range(0, TOTAL, MIB):
            q.RandomAccess___read(store, off, piece)

    def store_writes():
        for off in range(0, TOTAL, MIB):
            q.RandomAccess_write(store, off, piece)

    def view_reads():
        for off in range(0, TOTAL, MIB):
            dst[:] = src[off:off + MIB]

    def view_writes():
        for off in range(0, TOTAL, MIB):
            src[off:off + MIB] = dst

    section("Memory and mapped files, 64 MiB in 1 MiB pieces")
    compare("memory store reads", store_reads, "memoryview slice copies", view_reads)
    compare("memory store writes", store_writes, "memoryview slice assignments", view_writes)


def file_rows(folder):
    path = os.path.join(folder, "big.bin")
    with open(path, "wb") as f:
        f.write(os.urandom(TOTAL))
    store = q.RandomAccessFactory_map_file(path)
    piece = bytearray(MIB)
    f = open(path, "rb", buffering=0)

    def mapped():
        for off in range(0, TOTAL, MIB):
            q.RandomAccess___read(store, off, piece)

    def readinto():
        for off in range(0, TOTAL, MIB):
            f.seek(off)
            f.readinto(piece)

    compare("map_file store reads", mapped, "seek + readinto of an unbuffered file", readinto)
    f.close()
    small_mapped_rows(path, store)
    file_stream_rows(path)


def small_mapped_rows(path, store):
    """16-byte reads of a mapped store (each checks the bus-error guard: one handler query and one signal-mask
    query of the system) vs a slice of an mmap of the file copied into a bytearray."""
    with open(path, "rb") as f:
        m = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
    buf = bytearray(16)
    compare_stmt("map_file store reads of 16 B", "read(store, 40960, buf)", "mmap slice into a bytearray",
                 "buf[:] = m[40960:40976]", 200_000, read=q.RandomAccess___read, store=store, buf=buf, m=m)
    m.close()


def file_stream_rows(path):
    """Reads of a file stream vs the same reads of a buffered Python file."""
    section("File streams vs a buffered file (open(path, 'r+b'))")
    stream = q.StreamAccessFactory_open_file(path)
    store = q.RandomAccessFactory_from_stream(stream)
    f = open(path, "r+b")
    for n, label in ((100, "100 B"), (64 << 10, "64 KiB")):
        count = min(TOTAL // n, 40_000)
        sequential_reads("file stream sequential reads of %s (%d)" % (label, count), stream, f, n, count, "readinto")
    small_read_rows(path)
    buf = bytearray(100)
    ours_at, theirs_at = scattered(100, TOTAL), scattered(100, TOTAL)

    def ours_seek():
        for _ in range(10_000):
            q.StreamAccess_seek(stream, next(ours_at), q.SeekOrigin_BEGIN)
            q.StreamAccess___read(stream, buf)

    def theirs_seek():
        for _ in range(10_000):
            f.seek(next(theirs_at))
            f.readinto(buf)

    compare("file stream seek + read of 100 B far apart (10000)", ours_seek, "seek + readinto", theirs_seek)

    def ours_back():
        q.StreamAccess_seek(stream, 64, q.SeekOrigin_BEGIN)
        for _ in range(10_000):
            q.StreamAccess_seek(stream, -50, q.SeekOrigin_CURRENT)
            q.StreamAccess___read(stream, buf)

    def theirs_back():
        f.seek(64)
        for _ in range(10_000):
            f.seek(-50, 1)
            f.readinto(buf)

    compare("file stream seek back 50 B + read of 100 B (10000)", ours_back, "seek + readinto", theirs_back)
    piece = bytes(16)

    def ours_mixed():
        q.StreamAccess_seek(stream, 0, q.SeekOrigin_BEGIN)
        for i in range(10_000):
            q.StreamAccess___read(stream, buf)
            q.RandomAccess_write(store, (i * 7919 * 64) % TOTAL, piece)

    def theirs_mixed():
        f.seek(0)
        for i in range(10_000):
            f.readinto(buf)
            here = f.tell()
            f.seek((i * 7919 * 64) % TOTAL)
            f.write(piece)
            f.seek(here)

    compare("file stream reads of 100 B between 16 B store writes (10000)", ours_mixed, "readinto, seek + write",
            theirs_mixed)
    f.close()


def sequential_reads(label, stream, f, n, count, anchor, rewind=True):
    """Reads of n bytes one after the other: from the start, or on from where the last round stopped."""
    buf = bytearray(n)

    def ours():
        if rewind:
            q.StreamAccess_seek(stream, 0, q.SeekOrigin_BEGIN)
        for _ in range(count):
            q.StreamAccess___read(stream, buf)

    def theirs():
        if rewind:
            f.seek(0)
        for _ in range(count):
            f.readinto(buf)

    compare(label, ours, anchor, theirs)


def small_read_rows(path):
    """4-byte reads of a stream never sought, the same after a seek, and seeks within what was read ahead, vs
    the same on open(path, 'rb')."""
    buf = bytearray(4)
    count = 10_000
    f = open(path, "rb")
    sequential_reads("file stream never sought, reads of 4 B (%d)" % count, q.StreamAccessFactory_open_file_read(path),
                     f, 4, count, "readinto", rewind=False)
    sought = q.StreamAccessFactory_open_file_read(path)
    sequential_reads("file stream after a seek, reads of 4 B (%d)" % count, sought, f, 4, count, "seek + readinto")
    rng = random.Random(7)
    targets = [4096 + rng.randrange(-64, 65) for _ in range(count)]

    def ours_near():
        for at in targets:
            q.StreamAccess_seek(sought, at, q.SeekOrigin_BEGIN)
            q.StreamAccess___read(sought, buf)

    def theirs_near():
        for at in targets:
            f.seek(at)
            f.readinto(buf)

    compare("file stream seek within +-64 B + read of 4 B (%d)" % count, ours_near, "seek + readinto", theirs_near)
    f.close()


def http_rows(folder):
    section("HTTP on one local server (ranges sent with sendfile)")
    root = pathlib.Path(folder)
    size = 96 * MIB
    (root / "http.bin").write_bytes(os.urandom(size))
    cert = root / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", str(cert.with_suffix(".key")),
                    "-out", str(cert)], check=True, capture_output=True)
    server = Server(root, cert)
    try:
        url = server.url("files/http.bin")
        path = "/files/http.bin"
        open_store = lambda: q.RandomAccessFactory_open_http_read(cls("Uri")(url), "GET", cls("HTTPHeaders")())  # noqa
        store = open_store()
        conn = http.client.HTTPConnection("127.0.0.1", server.http)
        for n, label in ((4 << 10, "4 KiB"), (64 << 10, "64 KiB"), (16 * MIB, "16 MiB"), (64 * MIB, "64 MiB")):
            buf = bytearray(n)
            view = memoryview(buf)
            # each call reads somewhere new: nothing is served from what an earlier call fetched
            ours_at, theirs_at = scattered(n, size), scattered(n, size)

            def ours():
                q.RandomAccess___read(store, next(ours_at), buf)

            def keep_alive():
                at = next(theirs_at)
                conn.request("GET", path, headers={"Range": "bytes=%d-%d" % (at, at + n - 1)})
                conn.getresponse().readinto(view)

            compare("HTTP range read, %s" % label, ours, "http.client keep-alive", keep_alive, rounds=11,
                    number=max(1, (4 * MIB) // n))
        conn.close()
        (root / "stream.bin").write_bytes(os.urandom(STREAMED))
        stream_rows(server.url("files/stream.bin"))
        before = server.requests()
        stream = q.StreamAccessFactory_from_random_access(open_store())
        small = bytearray(100)
        for _ in range(10_000):
            q.StreamAccess___read(stream, small)
        print("HTTP small sequential reads: %d requests after opening for 10000 reads of 100 bytes"
              % (server.requests() - before - 1))
        interleaved_rows(server, open_store, size)
        strip_rows(server, root)
    finally:
        server.stop()


def interleaved_rows(server, open_store, size, reads=5000, rounds=7):
    """Two streams reading 100 bytes in turn, one from the start and one from
    the middle: over one store vs each over a store of its own. Each round
    opens its stores afresh (untimed), so that none serves what an earlier
    round fetched."""
    def run(separate):
        stores = [open_store(), open_store()] if separate else [open_store()] * 2
        a, b = (q.StreamAccessFactory_from_random_access(s) for s in stores)
        q.StreamAccess_seek(b, size // 2, q.SeekOrigin_BEGIN)
        buf = bytearray(100)
        before = server.requests()
        t = time.perf_counter()
        for _ in range(reads):
            q.StreamAccess___read(a, buf)
            q.StreamAccess___read(b, buf)
        return time.perf_counter() - t, server.requests() - before
    times = {False: [], True: []}
    for _ in range(rounds):
        for separate in (False, True):
            times[separate].append(run(separate))
    report("HTTP two streams over one store reading 100 B in turn (%d each, %d requests)"
           % (reads, times[False][-1][1]), statistics.median(t for t, _ in times[False]),
           "two separate stores (%d requests)" % times[True][-1][1], statistics.median(t for t, _ in times[True]))


def strip_rows(server, root):
    """A 16 x 1024 x 3 strip of a 2048 x 1024 x 3 image view over an HTTP
    store vs one read of the bytes covering it and a numpy slice."""
    shape, origin, size = (2048, 1024, 3), (1000, 0, 0), (16, 1024, 3)
    (root / "image.bin").write_bytes(os.urandom(int(np.prod(shape))))
    url = server.url("files/image.bin")
    open_store = lambda: q.RandomAccessFactory_open_http_read(cls("Uri")(url), "GET", cls("HTTPHeaders")())  # noqa
    view = q.ImageViewFactory_from_random_access(open_store(), list(shape), q.DataTypeId_UINT8)
    store = open_store()
    box = region(origin, size)
    out = bytearray(int(np.prod(size)))
    first = origin[0]
    last = origin[0] + size[0] - 1 + shape[0] * (shape[1] * shape[2] - 1)
    covering = bytearray(last + 1 - first)

    def ours():
        q.ImageView___read_region(view, box, out)

    def anchor():
        q.RandomAccess___read(store, first, covering)
        flat = np.frombuffer(covering, np.uint8)
        strip = np.lib.stride_tricks.as_strided(flat, size[::-1], (shape[0] * shape[1], shape[0], 1))
        out[:] = strip.tobytes()

    before = server.requests()
    ours()
    requests = server.requests() - before
    compare("HTTP view strip 16 x 1024 x 3 of 2048 x 1024 x 3 (%d request%s)" % (requests, "s" * (requests != 1)),
            ours, "one covering read + numpy slice", anchor, rounds=11)


def stream_rows(url, rounds=15):
    """A whole resource read in 1 MiB pieces through a stream over a fresh
    store vs one streamed urllib response. Each round times both in fresh
    child processes, in alternating order, so neither inherits a heap, an
    import or a connection the other left."""
    times = {"ours": [], "anchor": []}
    for r in range(rounds):
        for who in ("ours", "anchor") if r % 2 == 0 else ("anchor", "ours"):
            out = subprocess.run([sys.executable, os.path.abspath(__file__), "stream-child", who, url],
                                 check=True, capture_output=True, text=True).stdout
            times[who].append(float(out))
    report("HTTP stream of a fresh store, 64 reads of 1 MiB", statistics.median(times["ours"]),
           "one streamed urllib response", statistics.median(times["anchor"]))


def stream_child(who, url):
    """Opens the resource and reads it whole, sequentially in 1 MiB pieces,
    twice (the first pays one-time set-up, as a warm process would not), and
    prints the seconds of the second time."""
    piece = bytearray(MIB)
    view = memoryview(piece)

    def ours():
        s = q.StreamAccessFactory_from_random_access(
            q.RandomAccessFactory_open_http_read(cls("Uri")(url), "GET", cls("HTTPHeaders")()))
        for _ in range(STREAMED // MIB):
            q.StreamAccess___read(s, piece)

    def anchor():
        with urllib.request.urlopen(url) as r:
            for _ in range(STREAMED // MIB):
                r.readinto(view)

    work = ours if who == "ours" else anchor
    work()
    t = time.perf_counter()
    work()
    print(time.perf_counter() - t)


def scattered(n, size):
    """Offsets of reads of n bytes that jump around a resource of the given size."""
    at = 0
    while True:
        at = (at + n + 7919 * 4096) % (size - n)
        yield at


def main():
    if sys.argv[1:2] == ["stream-child"]:
        return stream_child(*sys.argv[2:4])
    memory_rows()
    with tempfile.TemporaryDirectory() as folder:
        file_rows(folder)
        http_rows(folder)


if __name__ == "__main__":
    main()
