"""Runs GPU scenarios in child processes: with the test driver
(build/fakecuda/libcuda.so.1) on the library path, with the counting driver
(build/countcuda/libcuda.so.1) passing every call on to it, or with no
driver at all."""
import os
import subprocess
import sys
import textwrap

import proxy

TESTS = os.path.dirname(os.path.abspath(__file__))
FAKE_DIR = os.path.join(os.path.dirname(proxy.BUILD_DIR), "fakecuda")
COUNT_DIR = os.path.join(os.path.dirname(proxy.BUILD_DIR), "countcuda")
FAKE = os.path.join(FAKE_DIR, "libcuda.so.1")

PRELUDE = """
import ctypes, os, sys
sys.path.insert(0, {tests!r})
sys.path.insert(0, os.environ["QUELBO_BUILD_DIR"])
def live():
    # device allocations still held, counted by the test driver
    return ctypes.CDLL({fake!r}).fakecuda_live_allocations()
def fail_after(n):
    ctypes.CDLL({fake!r}).fakecuda_fail_after(n)
def copies():
    # driver copies made so far (with the counting driver)
    return ctypes.CDLL("libcuda.so.1").countcuda_copies()
"""


def run(code, driver="fake", devices=None, leaks_expected=False, max_pitch=None):
    """driver: "fake", "counted" (the counting driver over the fake) or None;
    devices and max_pitch: the fake's FAKECUDA_DEVICES and FAKECUDA_MAX_PITCH."""
    env = dict(os.environ, QUELBO_BUILD_DIR=proxy.BUILD_DIR, COUNTCUDA_DRIVER=FAKE)
    for name in ("FAKECUDA_DEVICES", "FAKECUDA_MAX_PITCH"):
        env.pop(name, None)
    paths = [p for p in env.get("LD_LIBRARY_PATH", "").split(":") if p and p not in (FAKE_DIR, COUNT_DIR)]
    if driver:
        paths.insert(0, FAKE_DIR if driver == "fake" else COUNT_DIR)
    env["LD_LIBRARY_PATH"] = ":".join(paths)
    if devices is not None:
        env["FAKECUDA_DEVICES"] = str(devices)
    if max_pitch is not None:
        env["FAKECUDA_MAX_PITCH"] = str(max_pitch)
    if leaks_expected and "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    src = PRELUDE.format(tests=TESTS, fake=FAKE) + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", src], capture_output=True, text=True, env=env, timeout=300)


def lines(code, **kw):
    """The child's output lines; the child must succeed."""
    r = run(code, **kw)
    assert r.returncode == 0, r.stderr[-4000:]
    return r.stdout.splitlines()
