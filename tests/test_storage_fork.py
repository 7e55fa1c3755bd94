"""Stores, uploads and temporary-file views used in processes forked after
they were opened (multiprocessing's fork start method, a data loader's
workers): each process reads and writes its own bytes, and leaves the
parent's connections and files to the parent."""
import json
import multiprocessing
import os
import random
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

from proxy import q
from test_storage_http import HTTPHeaders, Uri, open_read, read_at, server, trusted  # noqa: F401
from views_util import region as box

FORK = multiprocessing.get_context("fork")
PIECE, READS = 64 << 10, 24


def check_reads(store, data, seed):
    """Goes on reading PIECE bytes in a row from where the parent stopped, then at random offsets; the
    number of reads that did not give the file's bytes."""
    rnd = random.Random(seed)
    wrong = 0
    for i in range(READS):
        at = (2 + i) * PIECE if i < READS // 2 else rnd.randrange(len(data) - PIECE)
        wrong += read_at(store, at, PIECE) != data[at:at + PIECE]
    return wrong


def reader(store, path, seed, results):
    try:
        with open(path, "rb") as f:
            results.put((seed, check_reads(store, f.read(), seed)))
    except Exception as e:  # noqa: BLE001  (reported to the parent)
        results.put((seed, "%s: %s" % (type(e).__name__, e)))


@pytest.mark.parametrize("secure", [False, True])
def test_forked_workers_and_the_parent_read_their_own_bytes(server, trusted, secure):
    path = server.root / "shared.bin"
    data = random.Random(11).randbytes(8 << 20)
    path.write_bytes(data)
    store = open_read(server.url("files/shared.bin", secure))
    assert read_at(store, 0, PIECE) + read_at(store, PIECE, PIECE) == data[:2 * PIECE]  # a response stays open
    results = FORK.Queue()
    workers = [FORK.Process(target=reader, args=(store, str(path), seed, results)) for seed in (1, 2, 3)]
    for w in workers:
        w.start()
    assert check_reads(store, data, 0) == 0
    got = dict(results.get(timeout=60) for _ in workers)
    for w in workers:
        w.join(30)
    assert got == {1: 0, 2: 0, 3: 0}
    assert check_reads(store, data, 4) == 0


def upload_in_child(stream, payload):
    if payload is None:
        q.delete_StreamAccess(stream)  # the child's copy goes: the parent's request goes on
    else:
        q.StreamAccess_write(stream, payload)
        q.StreamAccess_flush(stream)


@pytest.mark.parametrize("secure", [False, True])
def test_an_upload_used_in_a_forked_child_is_a_request_of_its_own(server, trusted, secure):
    rid = "forked%d" % secure
    stream = q.StreamAccessFactory_open_http_write(Uri(server.url("upload/" + rid, secure)), "PUT", HTTPHeaders())
    q.StreamAccess_write(stream, b"parent 1;")
    for payload in (None, b"child;"):
        child = FORK.Process(target=upload_in_child, args=(stream, payload))
        child.start()
        child.join(30)
        assert child.exitcode == 0
    assert bytes.fromhex(server.record(rid)["body"]) == b"child;"
    q.StreamAccess_write(stream, b"parent 2;")
    q.StreamAccess_flush(stream)
    assert bytes.fromhex(server.record(rid)["body"]) == b"parent 1;parent 2;"


def files(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith("quelbo-view-"))


def test_a_forked_child_leaves_the_parents_temporary_file(tmp_path):
    view = q.ImageViewFactory_create_on_disk(str(tmp_path), [64, 32], q.DataTypeId_UINT8)
    data = np.arange(64 * 32, dtype=np.uint8)
    region = box([0, 0], [64, 32])
    q.ImageView___write_region(view, region, data.tobytes())
    made = files(tmp_path)
    child = FORK.Process(target=q.delete_ImageView, args=(view,))  # the child's copy of the view goes
    child.start()
    child.join(30)
    assert child.exitcode == 0 and files(tmp_path) == made
    out = bytearray(data.size)
    q.ImageView___read_region(view, region, out)
    assert out == data.tobytes()
    q.delete_ImageView(view)
    assert files(tmp_path) == []


def test_a_child_that_exits_normally_leaves_the_parents_temporary_file(tmp_path):
    script = textwrap.dedent("""
        import os, sys
        from proxy import q
        view = q.ImageViewFactory_create_on_disk(sys.argv[1], [8, 8], q.DataTypeId_UINT8)
        if os.fork() == 0:
            sys.exit(0)  # at exit the child removes the files it made: none
        os.wait()
        print(len(os.listdir(sys.argv[1])))
        """)  # the parent keeps its view to the end: its file goes at its exit
    out = subprocess.run([sys.executable, "-c", script, str(tmp_path)], capture_output=True, text=True, check=True,
                         cwd=os.path.dirname(os.path.abspath(__file__)), env=dict(os.environ, PYTHONPATH="."))
    assert out.stdout.split() == ["1"] and files(tmp_path) == []


# A forked child that closes the descriptors it inherited (as a daemon does), opens files under the freed
# numbers and then uses a store opened before the fork: its files stay its own, whole and open.
DESCRIPTORS = textwrap.dedent("""
    import json, os, sys, time
    from proxy import cls, q
    url, path, mode, folder = sys.argv[1:5]
    data = open(path, "rb").read()
    store = q.RandomAccessFactory_open_http_read(cls("Uri")(url), "GET", cls("HTTPHeaders")())

    def read_at(at, n):
        buf = bytearray(n)
        return bytes(buf[:q.RandomAccess___read(store, at, buf)])

    def use(name):
        # closes every descriptor from 3 on, opens files under the freed numbers, reads the store between
        # writes to them, and records whether each file holds what was written to it
        os.closerange(3, 4096)
        files = [open(os.path.join(folder, "%s-%d" % (name, i)), "w+b", buffering=0) for i in range(4)]
        for i, f in enumerate(files):
            f.write(b"first %d;" % i)
        wrong = sum(read_at(at, 10_000) != data[at:at + 10_000] for at in (140_000, 5, 3_000_000, 150_000))
        for i, f in enumerate(files):
            f.write(b"second %d;" % i)
        kept = [f.fileno() for f in files if os.fstat(f.fileno()) and not f.closed]
        for f in files:
            f.close()
        whole = all(open(os.path.join(folder, "%s-%d" % (name, i)), "rb").read() == b"first %d;second %d;" % (i, i)
                    for i in range(4))
        with open(os.path.join(folder, name + ".json"), "w") as out:
            json.dump({"wrong": wrong, "open": len(kept), "whole": whole}, out)

    def child():
        if mode == "daemon":  # a new session, and a grandchild with 0, 1 and 2 on /dev/null
            os.setsid()
            if os.fork():
                return
            os.closerange(0, 3)
            for _ in range(3):
                os.open(os.devnull, os.O_RDWR)
        use("child")
        if mode == "again" and os.fork() == 0:  # its own child does the same with what it left
            try:
                use("grandchild")
            finally:
                os._exit(0)

    if "/closing/" in url:  # read whole: the server closed the connection
        assert read_at(100_000, 1000) == data[100_000:101_000]
    else:
        assert read_at(0, 65536) + read_at(65536, 65536) == data[:131072]  # a response stays open
    pid = os.fork()
    if pid == 0:
        try:
            child()
        finally:
            os._exit(0)
    os.waitpid(pid, 0)
    print(read_at(131072, 65536) == data[131072:196608] and read_at(2_000_000, 1000) == data[2_000_000:2_001_000])
    """)


@pytest.mark.parametrize("secure", [False, True])
@pytest.mark.parametrize("mode,kind", [("close", "files"), ("daemon", "files"), ("again", "files"),
                                       ("close", "closing")])  # a store that holds no connection at the fork
def test_a_forked_child_that_closed_its_descriptors_keeps_its_own_files(server, trusted, tmp_path, secure, mode,
                                                                        kind):
    path = server.root / "descriptors.bin"
    if not path.exists():
        path.write_bytes(random.Random(13).randbytes(4 << 20))
    out = subprocess.run([sys.executable, "-c", DESCRIPTORS, server.url(kind + "/descriptors.bin", secure), str(path),
                          mode, str(tmp_path)], capture_output=True, text=True, timeout=120,
                         cwd=os.path.dirname(os.path.abspath(__file__)), env=dict(os.environ, PYTHONPATH="."))
    assert out.returncode == 0 and out.stdout.split() == ["True"], out.stderr  # the parent reads on
    names = ["child"] + ["grandchild"] * (mode == "again")
    for name in names:
        result = tmp_path / (name + ".json")
        for _ in range(600):  # a daemon's grandchild ends on its own
            if result.exists() and result.stat().st_size:
                break
            time.sleep(0.05)
        assert json.loads(result.read_text()) == {"wrong": 0, "open": 4, "whole": True}, name


def descriptors_after_use(stores, results):
    before = len(os.listdir("/proc/self/fd"))
    for s in stores:
        read_at(s, 5, 10)
    results.put(len(os.listdir("/proc/self/fd")) - before)


def test_a_child_that_uses_inherited_stores_frees_what_they_inherited(server):
    stores = [open_read(server.url("files/data.bin")) for _ in range(20)]
    for s in stores:
        read_at(s, 300_000, 10)
    results = FORK.Queue()
    child = FORK.Process(target=descriptors_after_use, args=(stores, results))
    child.start()
    grown = results.get(timeout=60)
    child.join(30)
    assert grown <= 2  # each store's inherited connection and handle parted with, none kept open
