"""A second module of the same kind shares the type table: whichever loads
first, handles cross between the modules and come back with the proxy
classes registered through _quelbo."""
import pytest

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
