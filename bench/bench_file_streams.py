"""File streams against Python's buffered file doing the same walk on a file
of its own, timed side by side in one run: writes and reads that alternate
(write 16 B then read 16 B; read 16 B, skip 4, write 4), small reads from
what the stream read ahead (also after a seek within it), pipes read and
written in 1 MiB pieces; and reads through a store over a stream: one byte
per row of a column whose rows lie 1 MiB apart in a file read for the first
time (vs Python's seek + read per row and os.pread), and a dense column (vs
one os.pread of the span and a numpy slice). Run with /usr/bin/python3."""
import os
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
import statistics  # noqa: E402
import time  # noqa: E402

from timing import compare, compare_stmt, report, section  # noqa: E402
from proxy import cls, q  # noqa: E402
from views_util import region  # noqa: E402

MIB = 1 << 20
BEGIN, CURRENT = q.SeekOrigin_BEGIN, q.SeekOrigin_CURRENT


def twins(folder, size):
    """Two files of the same random bytes: one for our stream, one for Python's."""
    data = os.urandom(size)
    paths = []
    for name in ("ours.bin", "theirs.bin"):
        paths.append(os.path.join(folder, name))
        with open(paths[-1], "wb") as f:
            f.write(data)
    return paths


def interleaved_rows(folder):
    section("File streams vs open(path, 'r+b') on a twin file")
    ours_path, theirs_path = twins(folder, 8 * MIB)
    stream = q.StreamAccessFactory_open_file(ours_path)
    f = open(theirs_path, "r+b")
    names = dict(read=q.StreamAccess___read, write=q.StreamAccess_write, seek=q.StreamAccess_seek, s=stream, f=f,
                 b=bytearray(16), piece=bytes(16), four=bytes(4), C=CURRENT)
    # each round goes on from where the last stopped (8 rounds of `count` fit in the file)
    count = 20_000
    compare_stmt("write 16 B then read 16 B", "write(s, piece); read(s, b)", "write + readinto",
                 "f.write(piece); f.readinto(b)", count, **names)
    compare_stmt("walk: read 16 B, skip 4, write 4", "read(s, b); seek(s, 4, C); write(s, four)",
                 "readinto, seek, write", "f.readinto(b); f.seek(4, 1); f.write(four)", count, **names)
    f.close()
    del stream, names
    with open(ours_path, "rb") as a, open(theirs_path, "rb") as b:
        assert a.read() == b.read()


def small_read_rows(folder):
    ours_path, theirs_path = twins(folder, 16 * MIB)
    stream = q.StreamAccessFactory_open_file(ours_path)
    f = open(theirs_path, "r+b")
    buf = bytearray(16)
    count = 100_000
    # one after the other, a read-ahead refilled every 256 reads (8 rounds of `count` fit in the file)
    compare_stmt("reads of 16 B, one after the other", "read(s, b)", "readinto", "f.readinto(b)", count,
                 read=q.StreamAccess___read, s=stream, b=buf, f=f)
    compare_stmt("seek within the read-ahead + read of 16 B", "seek(s, 100, B); read(s, b)", "seek + readinto",
                 "f.seek(100); f.readinto(b)", count, read=q.StreamAccess___read, seek=q.StreamAccess_seek, s=stream,
                 b=buf, f=f, B=BEGIN)
    compare_stmt("memory stream reads of 16 B (the call alone)", "read(m, b); seek(m, 0, B)", "readinto of a BytesIO",
                 "bio.readinto(b); bio.seek(0)", count, read=q.StreamAccess___read, seek=q.StreamAccess_seek,
                 m=q.StreamAccessFactory_allocate(4096), b=buf, bio=__import__("io").BytesIO(bytes(4096)), B=BEGIN)
    f.close()


def pipe_rows():
    """64 MiB through a pipe in 1 MiB pieces: read from a process writing it, written to one reading it."""
    total = 64 * MIB
    piece = bytearray(MIB)

    def through(read):
        def run():
            r, w = os.pipe()
            writer = subprocess.Popen(["dd", "if=/dev/zero", "bs=1M", "count=%d" % (total // MIB), "status=none"],
                                      stdout=w)
            os.close(w)
            if read:
                s = q.StreamAccessFactory_open_file_read("/proc/self/fd/%d" % r)
                while q.StreamAccess___read(s, piece):
                    pass
            else:
                with open(r, "rb", closefd=False) as f:
                    while f.readinto(piece):
                        pass
            os.close(r)
            writer.wait()
        return run

    def into(write):
        def run():
            r, w = os.pipe()
            reader = subprocess.Popen(["cat"], stdin=r, stdout=subprocess.DEVNULL)
            os.close(r)
            if write:
                s = q.StreamAccessFactory_open_file_write("/proc/self/fd/%d" % w)
                for _ in range(total // MIB):
                    q.StreamAccess_write(s, piece)
                q.StreamAccess_flush(s)
                del s
            else:
                with open(w, "wb", closefd=False) as f:
                    for _ in range(total // MIB):
                        f.write(piece)
            os.close(w)
            reader.wait()
        return run

    section("Pipes, 64 MiB in 1 MiB pieces")
    # two processes a transfer: the scheduler's noise is large, hence more rounds
    compare("file stream reads of a pipe", through(True), "readinto of open(fd, 'rb')", through(False), rounds=15)
    compare("file stream writes to a pipe", into(True), "write of open(fd, 'wb')", into(False), rounds=15)


def evicted(path):
    """Drops the file's pages from the page cache: the next read is a first read."""
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
    finally:
        os.close(fd)


def column_rows(folder):
    section("A column through a store over a file stream (an image view over it)")
    path = os.path.join(folder, "rows.bin")
    rows, stride = 4096, MIB
    with open(path, "wb") as f:  # sparse but for the byte of each row
        f.truncate(rows * stride)
        for i in range(rows):
            f.seek(i * stride)
            f.write(bytes([i & 255]))
    want = bytes(i & 255 for i in range(rows))
    out = bytearray(rows)
    box = region([0, 0], [1, rows])

    def ours():
        view = q.ImageViewFactory_from_random_access(
            q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path)), [stride, rows],
            q.DataTypeId_UINT8)
        q.ImageView___read_region(view, box, out)

    def theirs():
        with open(path, "rb") as f:
            for i in range(rows):
                f.seek(i * stride)
                out[i] = f.read(1)[0]

    def pread():
        fd = os.open(path, os.O_RDONLY)
        for i in range(rows):
            out[i] = os.pread(fd, 1, i * stride)[0]
        os.close(fd)

    times = {ours: [], theirs: [], pread: []}
    for _ in range(5):
        for fn in times:
            evicted(path)
            t = time.perf_counter()
            fn()
            times[fn].append(time.perf_counter() - t)
            assert out == want
    label = "column of %d rows 1 MiB apart, first read" % rows
    for fn, anchor in ((theirs, "seek + read of open(path, 'rb')"), (pread, "os.pread per row")):
        report(label, statistics.median(times[ours]), anchor, statistics.median(times[fn]))
    dense_rows(folder)


def dense_rows(folder):
    """One byte per row of rows 64 B apart (a warm file): the whole span read at once is the anchor."""
    path = os.path.join(folder, "dense.bin")
    rows, stride = 1 << 18, 64
    data = os.urandom(rows * stride)
    with open(path, "wb") as f:
        f.write(data)
    view = q.ImageViewFactory_from_random_access(
        q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path)), [stride, rows],
        q.DataTypeId_UINT8)
    box = region([5, 0], [1, rows])
    out = bytearray(rows)
    fd = os.open(path, os.O_RDONLY)

    def ours():
        q.ImageView___read_region(view, box, out)

    def anchor():
        span = os.pread(fd, rows * stride, 0)
        out[:] = np.frombuffer(span, np.uint8)[5::stride].tobytes()

    compare("dense column of %d rows %d B apart" % (rows, stride), ours, "one os.pread + numpy slice", anchor)
    assert out == data[5::stride]
    os.close(fd)


def main():
    with tempfile.TemporaryDirectory(dir=os.environ.get("BENCH_DIR")) as folder:
        interleaved_rows(folder)
        small_read_rows(folder)
        pipe_rows()
        column_rows(folder)


if __name__ == "__main__":
    main()
