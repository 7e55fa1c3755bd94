"""Reads near each other over one HTTP store: streams reading in turn are
served from the blocks the store received, the runs of a view read go in few
requests, and a resource replaced on the server is still refused; against
the test server of test_storage_http.py."""
import os
import random

import numpy as np
import pytest

from helpers import rss
from proxy import QuelboError, q
from test_storage_http import open_read, server, trusted  # noqa: F401
from test_storage_http_versions import CHANGED, replace
from views_util import region

MIB = 1 << 20


def resource(server, name, size, seed):
    path = server.root / name
    if not path.exists():
        path.write_bytes(random.Random(seed).randbytes(size))
    return path, path.read_bytes()


def streams(store, starts):
    out = []
    for at in starts:
        s = q.StreamAccessFactory_from_random_access(store)
        q.StreamAccess_seek(s, at, q.SeekOrigin_BEGIN)
        out.append(s)
    return out


def read_in_turn(readers, piece, rounds):
    got = [bytearray() for _ in readers]
    buf = bytearray(piece)
    for _ in range(rounds):
        for s, out in zip(readers, got):
            out += buf[:q.StreamAccess___read(s, buf)]
    return got


@pytest.mark.parametrize("secure", [False, True])
@pytest.mark.parametrize("count", [2, 4])
def test_streams_reading_in_turn_share_one_store(server, trusted, secure, count):
    _, data = resource(server, "turns.bin", 16 * MIB, 21)
    store = open_read(server.url("files/turns.bin", secure))
    starts = [k * len(data) // count for k in range(count)]
    before = server.requests()
    got = read_in_turn(streams(store, starts), 100, 5000)
    for at, out in zip(starts, got):
        assert bytes(out) == data[at:at + 500_000]
    assert server.requests() - before <= 4 * count  # one request a read without the cache: 5000 a stream


LAYOUTS = [q.MemoryLayout_FORTRAN, q.MemoryLayout_C]
SHAPE = (2048, 1024, 3)


def as_numpy(data, layout):
    """The image as numpy indexes it: [column, row, channel]."""
    a = np.frombuffer(data, np.uint8)
    if layout == q.MemoryLayout_FORTRAN:
        return a.reshape(SHAPE[::-1]).transpose(2, 1, 0)
    return a.reshape(SHAPE)


@pytest.mark.parametrize("layout", LAYOUTS, ids=["FORTRAN", "C"])
@pytest.mark.parametrize("origin,size,most", [
    ((1000, 0, 0), (16, 1024, 3), 1),  # a strip: runs of 16 bytes, 2 KiB apart
    ((0, 0, 1), (2048, 1024, 1), 8),  # one channel: in C, runs of 1 byte, 3 apart, handed over in batches
    ((3, 3, 0), (1, 1000, 3), 3),
    ((0, 500, 0), (2048, 16, 3), 3),  # in FORTRAN three runs 2 MiB apart: a request each
])
def test_a_view_reads_near_runs_in_few_requests(server, layout, origin, size, most):
    name = "image-%d.bin" % layout
    _, data = resource(server, name, int(np.prod(SHAPE)), 22)
    view = q.ImageViewFactory_from_random_access(open_read(server.url("files/" + name)), layout, list(SHAPE),
                                                 q.DataTypeId_UINT8)
    out = bytearray(int(np.prod(size)))
    before = server.requests()
    q.ImageView___read_region(view, region(origin, size), out)
    assert server.requests() - before <= most
    box = tuple(slice(o, o + n) for o, n in zip(origin, size))
    assert bytes(out) == as_numpy(data, layout)[box].transpose(2, 1, 0).tobytes()  # out: the column fastest


@pytest.mark.parametrize("rows,requests", [(2 * MIB, 4), (MIB // 2, 1)])  # gaps of 2 MiB, of half a MiB
def test_gaps_beyond_the_bound_are_not_read(server, rows, requests):
    _, data = resource(server, "gaps.bin", 8 * MIB, 23)
    columns = len(data) // rows
    view = q.ImageViewFactory_from_random_access(open_read(server.url("files/gaps.bin")), [rows, columns],
                                                 q.DataTypeId_UINT8)
    out = bytearray(16 * columns)
    before = server.requests()
    q.ImageView___read_region(view, region([70_000, 0], [16, columns]), out)
    assert server.requests() - before == requests
    assert bytes(out) == b"".join(data[c * rows + 70_000:c * rows + 70_016] for c in range(columns))


def test_a_replaced_resource_is_refused_past_the_received_blocks(server):
    path, old = resource(server, "replaced.bin", 8 * MIB, 24)
    store = open_read(server.url("files/replaced.bin"))
    starts = [0, 4 * MIB]
    readers = streams(store, starts)
    read_in_turn(readers, 100, 3000)  # blocks ahead of both streams
    replace(path, random.Random(25).randbytes(len(old)))
    buf = bytearray(100)
    at = [start + 300_000 for start in starts]
    with pytest.raises(QuelboError, match=CHANGED):  # what the blocks hold comes, then a request is refused
        while True:
            for k, s in enumerate(readers):
                buf[:] = b"\xaa" * 100
                try:
                    assert q.StreamAccess___read(s, buf) == 100 and buf == old[at[k]:at[k] + 100]
                except QuelboError:
                    assert buf == b"\xaa" * 100
                    raise
                at[k] += 100
    assert max(at) < 4 * MIB + 300_000 + 2 * MIB  # blocks are bounded
    view = q.ImageViewFactory_from_random_access(store, [MIB, 8], q.DataTypeId_UINT8)
    with pytest.raises(QuelboError, match=CHANGED):
        q.ImageView___read_region(view, region([1000, 0], [16, 8]), bytearray(128))


def test_received_blocks_are_bounded(server):
    _, data = resource(server, "bounded.bin", 32 * MIB, 26)
    store = open_read(server.url("files/bounded.bin"))
    starts = [k * 2 * MIB for k in range(16)]  # more places than the store tells apart
    readers = streams(store, starts)
    buf = bytearray(4096)

    def rounds(count, first):
        wrong = 0
        for i in range(first, first + count):
            for at, s in zip(starts, readers):
                wrong += q.StreamAccess___read(s, buf) != 4096 or buf != data[at + i * 4096:at + (i + 1) * 4096]
        return wrong

    assert rounds(16, 0) == 0
    before = rss()
    assert rounds(400, 16) == 0  # 1.6 MiB a stream: 25 MiB in all
    assert rss() - before < 8 * MIB


def test_a_view_reading_on_survives_a_response_broken_off_between_reads(server):
    _, data = resource(server, "bands.bin", 2048 * 1024, 27)
    store = open_read(server.url("cut/bands.bin"))  # the first response past 128 KiB stops there, then closes
    view = q.ImageViewFactory_from_random_access(store, [2048, 1024], q.DataTypeId_UINT8)
    out = bytearray(2048 * 4)
    for y in range(0, 1024, 4):  # bands going on where the last one stopped: asked for ahead
        q.ImageView___read_region(view, region([0, y], [2048, 4]), out)
        assert out == data[y * 2048:(y + 4) * 2048], y
