"""Corrupt records (every truncation, random flips, huge counts) end in the
library's Error in a child process under an address-space limit: no
MemoryError, no crash, no huge allocation."""
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))


@pytest.mark.skipif("asan" in os.environ.get("LD_PRELOAD", ""),
                    reason="the sanitizer reserves more address space than the limit")
def test_corrupt_records_fail_cleanly_under_an_address_space_limit():
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", OMP_NUM_THREADS="1", PYTHONPATH=HERE)
    done = subprocess.run([sys.executable, os.path.join(HERE, "serial_fuzz_child.py"), str(1 << 30)],
                          env=env, cwd=HERE, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert done.stdout.startswith("fuzz ok")
