"""The install step: `cmake --install` lays the two modules and their two
libraries in one folder, and code elsewhere imports them from there alone."""
import os
import subprocess
import sys
import textwrap

from proxy import BUILD_DIR

CHILD = textwrap.dedent("""
    import sys
    sys.path.insert(0, sys.argv[1])
    import numpy as np
    import _quelbo as q, _quelbo_cuda
    view = q.ImageViewFactory_allocate([3, 2], q.DataTypeId_UINT16)
    q.NumpyInterop_to_numpy_array(view)[...] = 7
    print(int(q.NumpyInterop_to_numpy_array(view).sum()))
    q.delete_ImageView(view)  # without a proxy class a handle has no destructor of its own
    for module in (q, _quelbo_cuda):
        print(module.__file__.startswith(sys.argv[1] + "/"))
    loaded = {line.split()[-1] for line in open("/proc/self/maps") if "libquelbo" in line}
    print(sorted(os.path.basename(p) for p in loaded), all(p.startswith(sys.argv[1] + "/") for p in loaded))
""").replace("import sys", "import os, sys", 1)


def test_the_installed_folder_serves_code_elsewhere(tmp_path):
    build = os.path.dirname(os.path.abspath(BUILD_DIR))
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", build, "--prefix", str(prefix)], check=True, capture_output=True)
    folder = prefix / "quelbo"
    assert sorted(os.listdir(folder)) == ["_quelbo.abi3.so", "_quelbo_cuda.abi3.so", "libquelbo.so",
                                          "libquelbo_cuda.so"]
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "QUELBO_BUILD_DIR", "LD_LIBRARY_PATH")}
    out = subprocess.run([sys.executable, "-c", CHILD, str(folder)], cwd=tmp_path, env=env, capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == ["42", "True", "True", "['libquelbo.so', 'libquelbo_cuda.so'] True"]
