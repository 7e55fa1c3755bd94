"""Repeated calls of the matrix, transform and value-array families, failing
ones included, leave the process's memory flat."""
import gc
import os

import numpy as np
import pytest

from proxy import QuelboError, cls, q


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def calls():
    m = q.Matrix4d_uniform(1.0)
    m2 = q.Matrix4d_identity()
    big = np.zeros((64, 64))
    strided = big[:, ::2]
    a = cls("ArrayXd")([8, 8])
    attempts = [
        lambda: m * m2, lambda: m * [1, 2, 3, 4], lambda: m * 2.0, lambda: m.inverse(), lambda: m.to_string(),
        lambda: q.Matrix4d___mul__(m, [1, "x", 3, 4]), lambda: m * [1, 2], lambda: m.at(9, 9),
        lambda: q.Matrix4d_uniform(0.0).inverse(), lambda: q.Matrix4d___iadd__(m, None),
        lambda: q.TransformMatrix4Factory_rotation_euler([1, 2, 3], "xYz"),
        lambda: q.TransformMatrix4Factory_rotation_on_axis(1.0, [0, 0, 0]),
        lambda: q.TransformMatrix4Factory_rotation_euler([1, 2, 3], "ZYX"),
        lambda: cls("ArrayXd")([3, 3]), lambda: cls("ArrayXd")(a), lambda: a.at([9, 9]), lambda: a.set_at([1], 2.0),
        lambda: a.reshape([3]), lambda: a.to_string(), lambda: a._to_numpy(a), lambda: a.shape(), lambda: a.indexer(),
        lambda: q.ArrayXd_from_numpy(big), lambda: q.ArrayXd_from_numpy(strided),
        lambda: q.ArrayXd_from_numpy(big.astype(np.float32)), lambda: q.ArrayXd_from_numpy(big.astype(bool)),
        lambda: q.ArrayXd_from_numpy(np.array(1.0)), lambda: q.new_ArrayXd(None), lambda: cls("ArrayXu8")([2**62]),
    ]
    for attempt in attempts:
        try:
            attempt()
        except (QuelboError, ValueError, TypeError, MemoryError):
            pass


# The sanitizer keeps freed memory in quarantine: there the leak check is its own.
@pytest.mark.skipif("ASAN_OPTIONS" in os.environ, reason="resident size grows with the sanitizer's quarantine")
def test_memory_stays_flat():
    for _ in range(300):
        calls()
    gc.collect()
    before = rss()
    for _ in range(3000):
        calls()
    gc.collect()
    assert rss() - before < 4 << 20
