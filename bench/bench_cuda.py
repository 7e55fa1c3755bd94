"""Bandwidth of GPU copies against raw driver copies, over the test driver
(host memory behind PROT_NONE pages: the figures show our overhead, not a
GPU's). gpu/device-check gives the same figures on a real GPU."""
import os
import subprocess

BUILD = os.environ.get("QUELBO_BUILD_DIR") or os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "quelbo")
FAKE = os.path.join(os.path.dirname(os.path.abspath(BUILD)), "fakecuda")

env = dict(os.environ, LD_LIBRARY_PATH=FAKE)
out = subprocess.run([os.path.join(BUILD, "quelbo_cuda_check"), "--bench", "256"], env=env, capture_output=True,
                     text=True, check=True).stdout
for line in out.splitlines():
    if line.startswith("bench"):
        print("cuda", line)
