"""Storage throughput, as ratios to plain Python doing the same transfer:
memory-store reads and writes in 1 MiB pieces vs memoryview copies,
mapped-file reads vs readinto, 16 MiB HTTP range reads vs urllib (and vs a
local file), and how many requests small sequential HTTP reads cost.
Run with /usr/bin/python3."""
import os
import pathlib
import subprocess
import sys
import tempfile
import time
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from timing import best  # noqa: E402
from proxy import cls, q  # noqa: E402
from test_storage_http import Server  # noqa: E402

MIB = 1 << 20
TOTAL = 64 * MIB



def row(name, ours, theirs, unit_bytes):
    print("%-44s %8.1f MiB/s %8.1f MiB/s %6.2fx" % (name, unit_bytes / ours / MIB, unit_bytes / theirs / MIB,
                                                  ours / theirs))


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

    row("memory store reads, 1 MiB pieces", best(store_reads), best(view_reads), TOTAL)
    row("memory store writes, 1 MiB pieces", best(store_writes), best(view_writes), TOTAL)


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

    row("map_file reads, 1 MiB pieces vs readinto", best(mapped), best(readinto), TOTAL)
    f.close()


def http_rows(folder):
    root = pathlib.Path(folder)
    size = 16 * MIB
    (root / "http.bin").write_bytes(os.urandom(size + MIB))
    cert = root / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", str(cert.with_suffix(".key")),
                    "-out", str(cert)], check=True, capture_output=True)
    server = Server(root, cert)
    try:
        url = server.url("files/http.bin")
        store = q.RandomAccessFactory_open_http_read(cls("Uri")(url), "GET", cls("HTTPHeaders")())
        buf = bytearray(size)

        def ours():
            q.RandomAccess___read(store, 1000, buf)

        def urllib_fetch():
            req = urllib.request.Request(url, headers={"Range": "bytes=1000-%d" % (1000 + size - 1)})
            with urllib.request.urlopen(req) as r:
                r.readinto(memoryview(buf))

        def local_file():
            with open(root / "http.bin", "rb", buffering=0) as f:
                f.seek(1000)
                f.readinto(buf)

        t_ours = best(ours)
        row("HTTP 16 MiB range read vs urllib", t_ours, best(urllib_fetch), size)
        row("HTTP 16 MiB range read vs local file", t_ours, best(local_file), size)
        before = server.requests()
        stream = q.StreamAccessFactory_from_random_access(store)
        small = bytearray(100)
        for _ in range(10_000):
            q.StreamAccess___read(stream, small)
        print("%-44s %d requests for 10000 reads of 100 bytes" % ("HTTP small sequential reads",
                                                                   server.requests() - before))
    finally:
        server.stop()


def main():
    print("%-44s %15s %15s %7s" % ("transfer", "ours", "reference", "ratio"))
    memory_rows()
    with tempfile.TemporaryDirectory() as folder:
        file_rows(folder)
        http_rows(folder)


if __name__ == "__main__":
    main()
