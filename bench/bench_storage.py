"""Storage throughput, as ratios to plain Python doing the same transfer:
memory-store reads and writes in 1 MiB pieces vs memoryview copies,
mapped-file reads vs readinto, HTTP range reads vs http.client keep-alive and
an HTTP stream vs one streamed urllib response, and how many requests small
sequential HTTP reads cost.
Run with /usr/bin/python3."""
import http.client
import os
import pathlib
import subprocess
import sys
import tempfile
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from timing import best, compare, section  # noqa: E402
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
        piece = bytearray(MIB)

        def stream():
            s = q.StreamAccessFactory_from_random_access(open_store())
            for _ in range(64):
                q.StreamAccess___read(s, piece)

        def streamed_response():
            view = memoryview(piece)
            with urllib.request.urlopen(url) as r:
                for _ in range(64):
                    r.readinto(view)

        compare("HTTP stream of a fresh store, 64 reads of 1 MiB", stream, "one streamed urllib response",
                streamed_response, rounds=11)
        before = server.requests()
        stream = q.StreamAccessFactory_from_random_access(open_store())
        small = bytearray(100)
        for _ in range(10_000):
            q.StreamAccess___read(stream, small)
        print("HTTP small sequential reads: %d requests after opening for 10000 reads of 100 bytes"
              % (server.requests() - before - 1))
    finally:
        server.stop()


def scattered(n, size):
    """Offsets of reads of n bytes that jump around a resource of the given size."""
    at = 0
    while True:
        at = (at + n + 7919 * 4096) % (size - n)
        yield at


def main():
    print("%-44s %15s %15s %7s" % ("transfer", "ours", "reference", "ratio"))
    memory_rows()
    with tempfile.TemporaryDirectory() as folder:
        file_rows(folder)
        http_rows(folder)


if __name__ == "__main__":
    main()
