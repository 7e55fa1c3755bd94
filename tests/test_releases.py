"""What a view lets go of Python when its last owner goes (the numpy array it
shows, a caller's buffer under it or under its store) is released after the
library call that dropped it, also when Python code run by the release (a
finalizer, a weakref callback) changes the objects that call was changing."""
import threading
import time
import weakref

import numpy as np
import pytest

from derived_util import Error, shape, view
from proxy import q

UINT8 = q.DataTypeId_UINT8


class Lent(bytearray):
    """A caller's buffer that calls back when it goes."""

    def __init__(self, n, on_release):
        super().__init__(n)
        self.on_release = on_release

    def __del__(self):
        self.on_release()


def numpy_frame(on_release):
    a = np.full((2, 3), 9, np.uint8)
    weakref.finalize(a, on_release)
    return view(a, "ROW", "COLUMN")


def buffer_frame(on_release):
    return q.ImageViewFactory___from_buffer([3, 2], UINT8, Lent(6, on_release), None, None)


def store_frame(on_release):
    store = q.RandomAccessFactory___from_buffer(Lent(6, on_release))
    return q.ImageViewFactory_from_random_access(store, [3, 2], UINT8)


FRAMES = {"numpy array": numpy_frame, "buffer": buffer_frame, "store over a buffer": store_frame}
FILLER = 7  # the width of the frames a release adds
# what drops the frame at index 1, and the widths of the frames left before the release adds its own
DROPS = {
    "remove": (lambda multi: q.MultiImageView_remove_frame(multi, 1), [1, 2, 3]),
    "replace": (lambda multi: q.MultiImageView_set_frame(multi, 1, q.ImageViewFactory_allocate([9, 1], UINT8)),
                [1, 9, 2, 3]),
}


def widths(multi):
    return [shape(q.MultiImageView_frame(multi, i))[0] for i in range(q.MultiImageView_get_frame_count(multi))]


def multi_with(frame):
    """A multi-image view of frames of widths 1, the given frame, 2 and 3."""
    multi = q.MultiImageViewFactory_create()
    for f in (q.ImageViewFactory_allocate([1, 1], UINT8), frame, q.ImageViewFactory_allocate([2, 1], UINT8),
              q.ImageViewFactory_allocate([3, 1], UINT8)):
        q.MultiImageView_add_frame(multi, f)
    return multi


@pytest.mark.parametrize("make", FRAMES.values(), ids=list(FRAMES))
@pytest.mark.parametrize("drop", list(DROPS))
def test_a_release_that_adds_frames_sees_the_call_done(make, drop):
    seen = []
    added = q.ImageViewFactory_allocate([FILLER, 1], UINT8)

    def on_release():
        seen.append(widths(multi))
        for _ in range(64):  # the frame list grows to new memory
            q.MultiImageView_add_frame(multi, added)

    multi = multi_with(make(on_release))
    call, left = DROPS[drop]
    call(multi)
    assert seen == [left]
    assert widths(multi) == left + [FILLER] * 64


@pytest.mark.parametrize("make", FRAMES.values(), ids=list(FRAMES))
def test_a_release_that_waits_while_a_thread_adds_frames(make):
    added = q.ImageViewFactory_allocate([FILLER, 1], UINT8)
    stop = threading.Event()

    def adder():
        while not stop.is_set():
            q.MultiImageView_add_frame(multi, added)
            time.sleep(0.001)

    multi = multi_with(make(lambda: time.sleep(0.1)))  # the other thread runs meanwhile
    worker = threading.Thread(target=adder)
    worker.start()
    try:
        q.MultiImageView_remove_frame(multi, 1)
    finally:
        stop.set()
        worker.join()
    w = widths(multi)
    assert w[:3] == [1, 2, 3] and set(w[3:]) <= {FILLER}


def test_releases_deferred_by_a_call_or_a_delete_all_run():
    seen = []
    multi = multi_with(numpy_frame(lambda: seen.append(q.MultiImageView_get_frame_count(multi))))
    flipped = q.ImageViewFactory_flip_dimension_index(q.MultiImageView_frame(multi, 1), 0)  # a view over the frame
    q.MultiImageView_remove_frame(multi, 1)
    assert seen == []  # the derived view keeps it
    q.delete_ImageView(flipped)
    assert seen == [3]
    q.MultiImageView_set_frame(multi, 0, numpy_frame(lambda: seen.append("replaced")))
    q.MultiImageView_set_frame(multi, 0, q.ImageViewFactory_allocate([1, 1], UINT8))
    assert seen == [3, "replaced"]
