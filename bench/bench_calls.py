"""Per-call cost of the flat functions that take and return small objects,
against math.hypot (the floor of a call into C) and a pybind11 build of the
same calls (built here in a temporary folder when pybind11's headers are
installed), each pair interleaved in the same run. Run with /usr/bin/python3."""
import math
import os
import shutil
import subprocess
import sys
import sysconfig
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests"))
sys.path.insert(0, HERE)
from timing import compare_stmt, section  # noqa: E402
from proxy import BUILD_DIR, cls, q  # noqa: E402

NUMBER = 200_000
ROUNDS = 9


def build_pybind(folder):
    """The pybind11 module of pybind11/vectors.cpp, or the reason there is none."""
    if not os.path.exists("/usr/include/pybind11/pybind11.h"):
        return None, "pybind11's headers are not installed (Debian: pybind11-dev)"
    compiler = shutil.which("g++")
    if not compiler:
        return None, "no g++ to build the pybind11 module"
    target = os.path.join(folder, "quelbo_pybind" + sysconfig.get_config_var("EXT_SUFFIX"))
    command = [compiler, "-O2", "-shared", "-fPIC", "-std=c++17", "-fvisibility=hidden",
               "-I" + sysconfig.get_paths()["include"], "-I" + os.path.join(ROOT, "library", "include"),
               os.path.join(HERE, "pybind11", "vectors.cpp"), "-o", target,
               "-L" + BUILD_DIR, "-lquelbo", "-Wl,-rpath," + BUILD_DIR]
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        return None, "the pybind11 module did not build:\n" + done.stderr[-2000:]
    sys.path.insert(0, folder)
    import quelbo_pybind

    return quelbo_pybind, None


def build_floor(folder):
    """The module of floor/floor.c (the calling forms with nothing behind
    them), or None when it does not build."""
    compiler = shutil.which("gcc") or shutil.which("g++")
    if not compiler:
        return None
    target = os.path.join(folder, "quelbo_floor" + sysconfig.get_config_var("EXT_SUFFIX"))
    command = [compiler, "-O2", "-shared", "-fPIC", "-x", "c", "-I" + sysconfig.get_paths()["include"],
               os.path.join(HERE, "floor", "floor.c"), "-o", target]
    if subprocess.run(command, capture_output=True).returncode != 0:
        return None
    sys.path.insert(0, folder)
    import quelbo_floor

    return quelbo_floor


def main():
    v = cls("Vector3d")([1.0, 2.0, 3.0])
    m = cls("Matrix4d")()
    names = dict(hypot=math.hypot, v=v, m=m, at=q.Vector3d_at, dot=q.Vector3d_dot, neg=q.Vector3d___neg__,
                 add=q.Vector3d___add__, mul=q.Matrix4d___mul__, new=q.new_Vector3d, delete=q.delete_Vector3d)
    calls = (
        ("Vector3d_at(v, 0)", "at(v, 0)", "p.Vector3d_at(pv, 0)"),
        ("Vector3d_dot(v, [1.0, 0.0, 0.0])", "dot(v, [1.0, 0.0, 0.0])", "p.Vector3d_dot(pv, [1.0, 0.0, 0.0])"),
        ("delete_Vector3d(new_Vector3d())", "delete(new())", "p.Vector3d()"),
        ("Vector3d___neg__(v)", "neg(v)", "p.Vector3d___neg__(pv)"),
        ("Vector3d___add__(v, [1, 2, 3])", "add(v, [1, 2, 3])", "p.Vector3d___add__(pv, [1, 2, 3])"),
        ("Matrix4d___mul__(m, m)", "mul(m, m)", "p.Matrix4d___mul__(pm, pm)"),
    )
    with tempfile.TemporaryDirectory() as folder:
        p, why = build_pybind(folder)
        if p:
            names.update(p=p, pv=p.Vector3d(), pm=p.Matrix4d())
        section("Calls with small objects, one call")
        for label, stmt, _ in calls:
            compare_stmt(label, stmt, "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)", NUMBER, ROUNDS, **names)
        floor = build_floor(folder)
        if floor:
            section("The calling forms alone (nothing converted, nothing of ours called)")
            names.update(two=floor.two, instance=floor.instance, V=cls("Vector3d"))
            compare_stmt("two(v, 0): a tuple of two, a float back", "two(v, 0)", "math.hypot(3.0, 4.0)",
                         "hypot(3.0, 4.0)", NUMBER, ROUNDS, **names)
            compare_stmt("instance(V): a result instance with its this, made and let go", "instance(V)",
                         "math.hypot(3.0, 4.0)", "hypot(3.0, 4.0)", NUMBER, ROUNDS, **names)
        section("The same calls against pybind11")
        if not p:
            print("skipped:", why)
            return
        for label, stmt, theirs in calls:
            compare_stmt(label, stmt, "pybind11", theirs, NUMBER, ROUNDS, **names)


if __name__ == "__main__":
    main()
