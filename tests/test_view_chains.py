"""Chains of views of any length: a million thread-safe views, one over the
other, answer their queries and move samples in one step, and so do chains of
forwarding views of every kind and of rearrangements; chains of store adapters
are asked and dropped with constant stack. Each chain
lives in a child process whose stack is bounded (8 MiB): a release or a query
that recursed once per link would end it with a signal."""
import textwrap

import pytest

from helpers import run_child

PRELUDE = """
import sys
from proxy import cls, q
R = cls("RegionXu64")
def shape(v):
    s = q.ImageView_get_shape(v)
    return [s.at(i) for i in range(s.size())]
base = q.ImageViewFactory_allocate([4, 3], q.DataTypeId_UINT16)
q.ImageView___write_region(base, R([0, 0], [4, 3]), bytes(range(24)))
"""

CHAINS = {
    # a million views, each thread-safe over the one before
    "thread-safe": ("""
v = base
for _ in range(1000000):
    v = q.ImageViewFactory_make_thread_safe(v)
parallel = q.ParallelAccessExtension_get_capabilities(q.ImageView_parallel_access(v))
print(shape(v), q.DataType_to_string(q.ImageView_get_data_type(v)),
      q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v)),
      q.ParallelAccessCapabilitySet_has(parallel, q.ParallelAccessCapability_THREAD_SAFE))
out = bytearray(24)
q.ImageView___read_region(v, R([0, 0], [4, 3]), out)
q.ImageView___write_region(v, R([1, 1], [2, 1]), bytes([9] * 4))
q.ImageView___read_region(base, R([0, 0], [4, 3]), out)
print(bytes(out) == bytes(range(10)) + bytes([9] * 4) + bytes(range(14, 24)))
print(q.DependencyGraph__has_common_ancestor(v, base), q.DependencyGraph__has_common_ancestor(base, v))
""", ["[4, 3] UINT16 15 True", "True", "1 1"]),
    # every kind of link that reaches the bottom in one step, in turn
    "forwarding kinds": ("""
links = [q.ImageViewFactory_make_thread_safe,
         lambda v: q.ImageViewFactory_reinterpret(v, q.ImageView_get_axes_interpretation(v)),
         lambda v: q.ImageViewFactory_from_image_view(v, None, None),
         q.ImageViewProvider_to_write_only,
         q.ImageViewFactory_make_thread_safe,
         q.ImageViewProvider_to_read_only]
v = base
for i in range(300000):
    v = links[i % len(links)](v)
parallel = q.ParallelAccessExtension_get_capabilities(q.ImageView_parallel_access(v))
print(shape(v), q.ImageCapabilitySet_value(q.ImageView_get_capabilities(v)),
      q.ParallelAccessCapabilitySet_value(parallel), q.DependencyGraph__has_common_ancestor(v, base))
w = base
for i in range(300000):
    w = links[i % 3](w)
q.ImageView___write_region(w, R([0, 2], [4, 1]), bytes([7] * 8))
out = bytearray(24)
q.ImageView___read_region(w, R([0, 0], [4, 3]), out)
print(bytes(out) == bytes(range(16)) + bytes([7] * 8))
del w
""", ["[4, 3] 0 25 1", "True"]),
    # rearrangements of rearrangements
    "rearrangements": ("""
links = [lambda v: q.ImageViewFactory_extract_region(v, R([0, 0], [4, 3])),
         lambda v: q.ImageViewFactory_flip_dimension_index(v, 0),
         lambda v: q.ImageViewFactory_sub_sample(v, 1),
         lambda v: q.MultiImageView_frame(q.MultiImageViewFactory_unstack_dimension_index(
             q.ImageViewFactory_extract_adjusted_region(v, R([0, 0], [4, 3])), 1), 2)]
v = base
for i in range(300000):
    v = links[i % 3](v)
out = bytearray(24)
q.ImageView___read_region(v, R([0, 0], [4, 3]), out)
print(shape(v), bytes(out) == bytes(range(24)))
v = links[3](v)
out = bytearray(8)
q.ImageView___read_region(v, R([0], [4]), out)
print(shape(v), bytes(out) == bytes(range(16, 24)))
""", ["[4, 3] True", "[4] True"]),
    # views over a window of a window of ... a store
    "store adapters": ("""
store = q.RandomAccessFactory_allocate(64)
s = store
for _ in range(200000):
    s = q.RandomAccessFactory_extract_region(s, 0)
v = q.ImageViewFactory_from_random_access(s, [64], q.DataTypeId_UINT8)
whole = q.ImageViewFactory_from_random_access(store, [8, 8], q.DataTypeId_UINT8)
print(q.DependencyGraph__has_common_ancestor(v, whole))
del s
""", ["1"]),
    # windows of windows of a store with memory and of one without, read and written
    "windows": ("""
store = q.RandomAccessFactory_allocate(64)
whole = q.ImageViewFactory_from_random_access(store, [64], q.DataTypeId_UINT8)
q.ImageView___write_region(whole, R([0], [64]), bytes(range(64)))
out, all = bytearray(16), bytearray(64)
for k, s in enumerate((store, q.RandomAccessFactory_from_stream(q.StreamAccessFactory_from_random_access(store)))):
    for i in range(200000):
        s = q.RandomAccessFactory_extract_region(s, int(i % 50000 == 0))
    v = q.ImageViewFactory_from_random_access(q.RandomAccessFactory_extract_region(s, 8, 16), [16], q.DataTypeId_UINT8)
    q.ImageView___read_region(v, R([0], [16]), out)
    q.ImageView___write_region(v, R([k], [1]), bytes([200]))
    q.ImageView___read_region(whole, R([0], [64]), all)
    print(bytes(out[1:]) == bytes(range(13, 28)), all[12 + k] == 200)
""", ["True True", "True True"]),
}


@pytest.mark.parametrize("chain", sorted(CHAINS))
def test_a_long_chain_answers_and_is_dropped_with_constant_stack(chain):
    code, expected = CHAINS[chain]
    r = run_child(textwrap.dedent(PRELUDE) + textwrap.dedent(code) + "del v\nprint('dropped', flush=True)\n",
                  stack=(8 << 20, 8 << 20), timeout=600)
    assert r.returncode == 0, (r.returncode, r.stderr[-3000:])
    assert r.stdout.splitlines() == expected + ["dropped"]
