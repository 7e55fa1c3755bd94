"""Bandwidth of GPU copies against raw driver copies of the same bytes, both
timed by quelbo_cuda_check in one run (an adapted host view's transfers to and from
device buffers interleaved with the plain copies). Here it runs over the stand-in driver
of the tests (tests/fakecuda: host memory behind PROT_NONE pages), so the
figures show our overhead, not a GPU's; gpu/device-check gives them on a real
GPU."""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from timing import report, section  # noqa: E402

BUILD = os.environ.get("QUELBO_BUILD_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "quelbo")
FAKE = os.path.join(os.path.dirname(os.path.abspath(BUILD)), "fakecuda")

env = dict(os.environ, LD_LIBRARY_PATH=FAKE)
out = subprocess.run([os.path.join(BUILD, "quelbo_cuda_check"), "--bench", "256"], env=env, capture_output=True,
                     text=True, check=True).stdout
section("GPU copies, 256 MiB (stand-in driver of the tests: host memory, not a GPU)")
figures = {name: float(value) for name, value in re.findall(r"(raw [\w+>\- ]+?|copyInCudaMemory|view read-back|"
                                                           r"adapted [\w ]+?|plain [\w>\-]+) ([\d.]+) GiB/s", out)}
report("copyInCudaMemory", figures["copyInCudaMemory"], "driver allocation + copy",
       figures["raw allocation + copy"], "GiB/s", "higher")
report("view read-back to the host", figures["view read-back"], "driver device->host copy",
       figures["raw device->host"], "GiB/s", "higher")
# An adapted host view read into / written from a device buffer: through a
# bounded host stage, against one driver copy of the same bytes.
report("adapted view read into a device buffer", figures["adapted read into device"], "driver host->device copy",
       figures["plain host->device"], "GiB/s", "higher")
report("adapted view written from a device buffer", figures["adapted write from device"],
       "driver device->host copy", figures["plain device->host"], "GiB/s", "higher")
