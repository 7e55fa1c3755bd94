"""A second module of the same kind shares the type table: whichever loads
first, handles cross between the modules and come back with the proxy
classes registered through _quelbo."""
import pytest

from cuda_child import lines
from helpers import run_child

SCENARIO = """
import os
sys.path.insert(0, os.environ["QUELBO_BUILD_DIR"])
{imports}
import proxy
import _quelbo_twin
q = proxy.q
v = _quelbo_twin.make_version(7)
print(type(v).__name__, q.VersionInfo_major_get(v), _quelbo_twin.read_major(v))
mine = proxy.cls("VersionInfo")()
q.VersionInfo_major_set(mine, 4)
print(_quelbo_twin.read_major(mine))
try:
    _quelbo_twin.fail()
except proxy.QuelboError as e:
    print(type(e).__name__, e)
bare = q.new_VersionInfo()
print(type(_quelbo_twin.make_version(1).this).__name__ == type(bare).__name__)
del v, mine, bare
print("end")
"""


@pytest.mark.parametrize(
    "imports",
    ["import _quelbo_twin", "import _quelbo\nimport _quelbo_twin", ""],
    ids=["twin-first", "quelbo-first", "classes-registered-first"],
)
def test_handles_cross_modules_in_either_import_order(imports):
    r = run_child(SCENARIO.format(imports=imports))
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines() == [
        "VersionInfo 7 7",
        "4",
        "QuelboError twin failure",
        "True",
        "end",
    ]
    assert "memory leak" not in r.stdout


# The runtime's record beside the table removed or replaced before more
# modules of ours load: they join the runtime that lives already (one count
# of running calls, one deferral, one lookup of delete_ functions), and the
# holder shows its record again.
ONE_RUNTIME = """
import _quelbo
import proxy
holder = sys.modules["swig_runtime_data4"]
{replace}
import _quelbo_twin as twin
c = proxy.cuda()
q, cls = proxy.q, proxy.cls
print(type(holder.quelbo_runtime).__name__)
probe = twin.new_Probe()
before = twin.Probe_destroyed()
seen = []
class Index:
    def __index__(self):
        twin.delete_Probe(probe)  # inside a call of _quelbo: waits for its end
        seen.append(twin.Probe_destroyed() - before)
        return 0
q.DataType_is_convertible_to(cls("DataType")(q.DataTypeId_UINT8), Index())
print(seen, twin.Probe_destroyed() - before)
made = [twin.make_version(3), c.CudaImageFactory_allocate([2, 2], cls("DataType")(q.DataTypeId_UINT8))]
print(q.VersionInfo_major_get(made[0]), type(made[1]).__name__)
del made
print("end")
"""


@pytest.mark.parametrize("replace", [
    "holder.quelbo_runtime = None",
    "del holder.quelbo_runtime",
    "holder.quelbo_runtime = holder.type_pointer_capsule",
])
def test_modules_loaded_after_the_record_was_replaced_join_the_one_runtime(replace):
    out = lines(ONE_RUNTIME.format(replace=replace))
    assert out == ["PyCapsule", "[0] 1", "3 ImageView", "end"]
