"""The depth of views that pass their transfers on: a view whose transfers
would pass through more than 256 views in turn is refused, and one at the
bound reads, writes and is written by threads in parallel within the stack of
a process's main thread (8 MiB), of Python's threads and of the library's
workers (2 MiB each where the stack has no limit). Each chain lives in a
child process, so a transfer that overflowed its stack ends it with a signal."""
import resource
import textwrap

import numpy as np
import pytest

from derived_util import Error, region
from helpers import run_child
from proxy import q

BOUND = 256

PRELUDE = """
import sys, threading
from proxy import cls, q, QuelboError
R = cls("RegionXu64")
U16 = q.DataTypeId_UINT16
ALL = R([0, 0], [4, 3])
def base(first):
    b = q.ImageViewFactory_allocate([4, 3], U16)
    q.ImageView___write_region(b, ALL, bytes(range(first, first + 24)))
    return b
def frames(*views):
    return q.MultiImageViewFactory_create_from_list(list(views))
def read(v):
    out = bytearray(24)
    q.ImageView___read_region(v, ALL, out)
    return bytes(out)
"""

# One step of a chain: the views it makes over v, each passing its transfers to the one below.
STEPS = {
    "convert": ("lambda v: q.ImageViewFactory_adapt_data_type(v, U16)", 1),
    "interlace": ("lambda v: q.ImageViewFactory_interlace(frames(v))", 1),
    "stack, then its first slice":
        ("lambda v: q.ImageViewFactory_extract_adjusted_region("
         "q.ImageViewFactory_stack(frames(v), q.ImageDimension_SLICE), R([0, 0, 0], [4, 3, 1]))", 2),
    # a channel of an interlace reads its frame: one view deep
    "channel of interlaced frames":
        ("lambda v: q.ImageViewFactory_extract_channel(q.ImageViewFactory_interlace(frames(v, base(0))), 0)", 1),
    "region of a thread-safe view":
        ("lambda v: q.ImageViewFactory_extract_region(q.ImageViewFactory_make_thread_safe(v), ALL)", 2),
}

CHAIN = """
step = %s
def deepest(v, keep=0):
    # the chain of steps over v until one is refused; `keep` steps fewer
    made = []
    while True:
        try:
            made.append(step(made[-1] if made else v))
        except QuelboError as e:
            return made[len(made) - 1 - keep] if keep else made[-1], len(made), str(e)
v, steps, refusal = deepest(base(0))
print(steps, "more than 256 views in turn" in refusal)
print(read(v) == bytes(range(24)))
q.ImageView___write_region(v, ALL, bytes(range(100, 124)))
print(read(v) == bytes(range(100, 124)))
# eight such chains, one step short, written side by side as the frames of a stack
bases = [base(k) for k in range(8)]
stack = q.ImageViewFactory_stack(frames(*[deepest(b, 1)[0] for b in bases]), q.ImageDimension_SLICE, 8)
def parallel():
    q.ImageView___write_region(stack, R([0, 0, 0], [4, 3, 8]), b"".join(bytes([k + 1] * 24) for k in range(8)))
    print(all(read(b) == bytes([k + 1] * 24) for k, b in enumerate(bases)))
t = threading.Thread(target=parallel)
t.start()
t.join()
"""


def run_chain(code, stack_limit):
    r = run_child(textwrap.dedent(PRELUDE) + textwrap.dedent(code), stack=(stack_limit, resource.RLIM_INFINITY),
                  timeout=600)
    assert r.returncode == 0, (r.returncode, r.stderr[-3000:])
    return r.stdout.splitlines()


@pytest.mark.parametrize("stack_limit", [8 << 20, resource.RLIM_INFINITY], ids=["8 MiB", "threads of 2 MiB"])
@pytest.mark.parametrize("kind", sorted(STEPS))
def test_a_chain_at_the_bound_moves_right_and_one_past_it_is_refused(kind, stack_limit):
    make, links = STEPS[kind]
    out = run_chain(CHAIN % make, stack_limit)
    assert out == ["%d True" % (BOUND // links), "True", "True", "True"]


def test_random_mixed_chains_are_refused_exactly_past_the_bound():
    """Links of one family over another reach the bottom in one step and
    count once; every other link counts one more. The chain keeps the
    source's samples through flips and conversions of one type."""
    rng = np.random.default_rng(53)
    forwarding = [q.ImageViewFactory_make_thread_safe, lambda v: q.ImageViewFactory_from_image_view(v, None, None),
                  lambda v: q.ImageViewFactory_reinterpret(v, q.ImageView_get_axes_interpretation(v))]
    families = {
        "forward": lambda v, rng: forwarding[int(rng.integers(3))](v),
        "rearrange": lambda v, rng: (q.ImageViewFactory_flip_dimension_index(v, int(rng.integers(2)))
                                     if rng.integers(2) else q.ImageViewFactory_extract_region(v, region([0, 0], [4, 3]))),
        "convert": lambda v, rng: q.ImageViewFactory_adapt_data_type(v, q.DataTypeId_UINT16),
    }
    names = sorted(families)
    data = np.arange(12, dtype=np.uint16).reshape(3, 4)
    for _ in range(6):
        v = q.ImageViewFactory_allocate([4, 3], q.DataTypeId_UINT16)
        q.ImageView___write_region(v, region([0, 0], [4, 3]), data.tobytes())
        depth, family, links = 0, None, 0
        while True:
            name = names[int(rng.integers(len(names)))]
            collapses = name == family and name != "convert"
            expected = depth if collapses else depth + 1
            try:
                v = families[name](v, rng)
            except Error as e:
                assert expected > BOUND and "more than 256 views in turn" in str(e)
                break
            assert expected <= BOUND, (links, name)
            depth, family, links = expected, name, links + 1
        assert depth == BOUND and links > BOUND
        out = bytearray(24)
        q.ImageView___read_region(v, region([0, 0], [4, 3]), out)
        assert sorted(np.frombuffer(bytes(out), np.uint16)) == list(range(12))


ADAPTERS = """
import random
rng = random.Random(%d)
store = q.RandomAccessFactory_allocate(64)
whole = q.ImageViewFactory_from_random_access(store, [64], q.DataTypeId_UINT8)
q.ImageView___write_region(whole, R([0], [64]), bytes(range(64)))
kinds = {
    "window": (lambda s: q.RandomAccessFactory_extract_region(s, 0), "extractRegion: the region"),
    "pair": (lambda s: q.RandomAccessFactory_from_stream(q.StreamAccessFactory_from_random_access(s)), None),
}
s, depth, last = store, 0, None
while True:
    kind = rng.choice(sorted(kinds))
    # a window of a window is one window; a pair is two adapters, its stream refused first
    expected = depth + (2 if kind == "pair" else 0 if last == "window" else 1)
    try:
        s = kinds[kind][0](s)
    except QuelboError as e:
        text = kinds[kind][1] or ("fromRandomAccess: the stream" if depth == 256 else "fromStream: the store")
        print(expected > 256, str(e) == text + " would pass its calls through more than 256 stores and streams in turn")
        break
    assert expected <= 256, expected
    depth, last = expected, kind
print(depth >= 255)
v = q.ImageViewFactory_from_random_access(q.RandomAccessFactory_extract_region(s, 8, 16) if last == "window" else s,
                                          [16], q.DataTypeId_UINT8)
def moved():
    out = bytearray(16)
    q.ImageView___write_region(v, R([0], [1]), bytes([200]))
    q.ImageView___read_region(v, R([0], [16]), out)
    print(out[0] == 200, bytes(out[1:]) == bytes(range(1 + 8 * (last == "window"), 16 + 8 * (last == "window"))))
t = threading.Thread(target=moved)
t.start()
t.join()
"""


@pytest.mark.parametrize("stack_limit", [8 << 20, resource.RLIM_INFINITY], ids=["8 MiB", "threads of 2 MiB"])
@pytest.mark.parametrize("seed", [3, 11])
def test_a_chain_of_store_adapters_is_bounded_and_moves_right_at_its_bound(seed, stack_limit):
    """Stores over streams over stores call their source in turn: one past
    256 of them is refused by the factory that would make it, and a view
    over the deepest moves its bytes from any thread."""
    assert run_chain(ADAPTERS % seed, stack_limit) == ["True True", "True", "True True"]
