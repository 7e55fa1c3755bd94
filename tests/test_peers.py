"""Handles made by another module of the same kind, one built apart from this
runtime (tests/peer): whichever loads first, its handles are taken wherever
ours are and ours by it, its output stream reaches __lshift__, it destroys
its own handles, and objects that only look like handles stay refused."""
import pytest

from helpers import run_child

SCENARIO = """
import os, sys
sys.path.insert(0, os.environ["QUELBO_BUILD_DIR"])
{imports}
import proxy
import _quelbo_peer as peer
import _quelbo_twin as twin
from proxy import q, cls, handle

def text_of(i):
    return q.DataType_to_string(cls("DataType")(i))

# The peer's output stream through __lshift__: text written, a borrowed handle
# on the same stream as the result, chains.
s = peer.new_stream()
r = q.__lshift__(s, q.DataTypeId_UINT8)
r2 = q.__lshift__(r, cls("DataType")(q.DataTypeId_VEC3_FLOAT))
print(peer.stream_text(s) == text_of(q.DataTypeId_UINT8) + text_of(q.DataTypeId_VEC3_FLOAT),
      peer.stream_text(r2) == peer.stream_text(s), r.own(), r2.own(), peer.owns(s))
del r, r2
print(peer.stream_text(s) != "")

# Refusals: other objects give NotImplemented, None and a too large type raise.
class SwigPyObject:
    __slots__ = ("ptr", "ty", "own", "next")

class Derived(int):
    pass
Derived.__name__ = "SwigPyObject"
fakes = [SwigPyObject(), Derived(7), peer.foreign(), 5, peer.make_version(1)]
print([q.__lshift__(f, q.DataTypeId_UINT8) is NotImplemented for f in fakes],
      q.__lshift__(s, 1.5) is NotImplemented)
for operands in ((None, 1), (s, 2**70)):
    try:
        q.__lshift__(*operands)
    except ValueError as e:
        print(type(e).__name__, e)
    except OverflowError as e:
        print(type(e).__name__)
for f in fakes[:3]:
    try:
        q.VersionInfo_major_get(f)
    except TypeError as e:
        print(e)

# Shared types both ways; the peer's results come back as the registered class.
v = peer.make_version(7)
mine = cls("VersionInfo")()
q.VersionInfo_major_set(mine, 4)
print(type(v).__name__, q.VersionInfo_major_get(v), peer.read_major(v), peer.read_major(mine))

# A peer's handle that took ownership: read here, destroyed by the peer.
taken = peer.take(mine)
print(handle(mine).own(), peer.owns(taken), q.VersionInfo_major_get(taken))
del mine, taken, v

# In place on a peer's handle: it keeps owning, the result keeps it alive.
left = peer.take(cls("StreamAccessCapabilitySet")(5))
res = q.StreamAccessCapabilitySet___ior__(left, 2)
print(handle(res).own(), peer.owns(left))
del left
print(q.StreamAccessCapabilitySet_value(res))
del res

# Chains holding a peer's handle.
h = q.new_Logger()
p = peer.make_version(3)
h.append(p.this)
print(q.VersionInfo_major_get(h))
try:
    h.append(p.this)
except ValueError as e:
    print(e)
del h
q.new_Logger().append(p.this)
print(q.VersionInfo_major_get(p))
del p

# The peer registers a class for Error that is no exception class: library
# errors are still raised, as when no class is registered.
peer.Error_swigregister(type("NotAnException", (), {{}}))
try:
    twin.fail()
except RuntimeError as e:
    print(type(e).__name__, q.delete_Error(e.args[0]))  # the bare handle owns the error
del s
print("end")
"""


@pytest.mark.parametrize(
    "imports",
    ["import _quelbo_peer\nimport _quelbo", "import _quelbo\nimport _quelbo_peer"],
    ids=["peer-first", "quelbo-first"],
)
def test_handles_of_a_peer_module(imports):
    r = run_child(SCENARIO.format(imports=imports))
    assert r.returncode == 0, r.stderr[-3000:]
    out = r.stdout.splitlines()
    # The table's end at exit, when the peer made it (tests/test_peer_table.py).
    ended = [line for line in out if line.startswith("peer: table destroyed")]
    assert len(ended) == imports.startswith("import _quelbo_peer")
    assert [line for line in out if line not in ended] == [
        "True True False False True",
        "True",
        "[True, True, True, True, True] True",
        "ValueError invalid null reference in method '__lshift__', argument 1 of type 'std::ostream &'",
        "OverflowError",
    ] + ["in method 'VersionInfo_major_get', argument 1 of type 'quelbo::VersionInfo *'"] * 3 + [
        "VersionInfo 7 7 4",
        "False True 4",
        "False True",
        "7",
        "3",
        "Attempt to append a SwigPyObject that is already in a chain",
        "3",
        "RuntimeError None",
        "end",
    ]
    assert "leak" not in r.stdout and "leak" not in r.stderr
