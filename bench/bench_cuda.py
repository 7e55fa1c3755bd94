"""Every road of GPU copies (linear, coalesced, sub-box, per-plane, staged)
against raw driver copies of the same bytes, both timed by quelbo_cuda_check
in one run, interleaved. Here it runs over the stand-in driver of the tests
(tests/fakecuda: host memory behind PROT_NONE pages, each driver copy opening
the pages it touches), so the figures show our overhead and the cost of each
driver copy there, not a GPU's; gpu/device-check gives them on a real GPU."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import report, section  # noqa: E402

BUILD = os.environ.get("QUELBO_BUILD_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "quelbo")
ROOT = os.path.dirname(os.path.abspath(BUILD))

env = dict(os.environ, LD_LIBRARY_PATH=os.path.join(ROOT, "countcuda"),
           COUNTCUDA_DRIVER=os.path.join(ROOT, "fakecuda", "libcuda.so.1"))
out = subprocess.run([os.path.join(BUILD, "quelbo_cuda_check"), "--bench", "256"], env=env, capture_output=True,
                     text=True, check=True).stdout
section("GPU copies, 256 MiB (stand-in driver of the tests: host memory, not a GPU)")
for name, ours, anchor, raw in re.findall(r"^road (.+?): ours ([\d.]+) GiB/s, raw (.+?) ([\d.]+) GiB/s", out, re.M):
    report(name, float(ours), "driver " + anchor, float(raw), "GiB/s", "higher")
