"""Every function of both modules, called with GPU views, adapted views and
hostile arguments, over the test driver (a CPU access to device memory
crashes) and with no driver: the interpreter never crashes."""
import pytest

from cuda_child import run

SWEEP = """
import glob, importlib, itertools
import proxy, _quelbo_twin as t
c = proxy.cuda()
q = proxy.q
objects = [None, 0, -1, 2**64, 1.5, "x", [], [4, 3], proxy.cls("DataType")(q.DataTypeId_UINT8)]
host = t.cuda_host_view([4, 3], q.DataTypeId_UINT8, True)
objects.append(host)
try:
    objects += [c.CudaImageFactory_allocate([4, 3], q.DataTypeId_UINT16),
                c.CudaImageFactory_allocate_coalesced([5, 2, 2], q.DataTypeId_FLOAT),
                c.CudaImageFactory_adapt_to_cuda(host)]
except proxy.QuelboError:
    pass
views = objects[9:]
mine = list(objects)
for path in sorted(glob.glob(os.path.join(os.path.dirname(proxy.__file__), "pool_*.py"))):
    objects += importlib.import_module(os.path.basename(path)[:-3]).objects(proxy)
# _quelbo_cuda: everything against everything; _quelbo: every function given
# our views (its own hostile test covers the rest).
pairs = list(itertools.product(objects, repeat=2))
four = [(o, p, r, s) for o in ([4, 3], "ab") for p in (q.DataTypeId_UINT8, None)
        for r in (None, 0, host) for s in (None, host)]
plans = [(c, [()] + [(o,) for o in objects] + pairs + four),
         (q, [(v,) for v in views] + [(v, o) for v in views for o in mine] + [(o, v) for v in views for o in mine])]
count = 0
for mod, shapes in plans:
    for name in sorted(dir(mod)):
        fn = getattr(mod, name)
        # The hooks are the runtime's, swept by its own hostile test.
        if not callable(fn) or name.startswith("__") or name.endswith(("_swigregister", "_swiginit")):
            continue
        for args in shapes:
            try:
                fn(*args)
            except Exception:
                pass
            count += 1
print("calls", count)
"""


@pytest.mark.parametrize("driver", ["fake", None])
def test_both_modules_survive_gpu_views_and_hostile_arguments(driver):
    r = run(SWEEP, driver=driver, leaks_expected=True)
    assert r.returncode == 0, r.stderr[-4000:]
    assert "calls" in r.stdout
