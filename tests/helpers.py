"""Helpers the test modules share: exact messages, the overload message,
vectors as lists, and scripts run in a child interpreter."""
import os
import re
import subprocess
import sys
import textwrap

import proxy
from proxy import q

TESTS = os.path.dirname(os.path.abspath(__file__))


def exact(text):
    return "^" + re.escape(text) + "$"


def overload_text(fn, *prototypes):
    return "Wrong number or type of arguments for overloaded function '%s'.\n  Possible C/C++ prototypes are:\n%s" % (
        fn, "".join("    %s\n" % p for p in prototypes))


def overload(fn, *prototypes):
    return exact(overload_text(fn, *prototypes))


def vec(v):
    return [q.VectorXu64_at(v, i) for i in range(q.VectorXu64_size(v))]


def run_child(code, leaks_expected=False):
    env = dict(os.environ, QUELBO_BUILD_DIR=proxy.BUILD_DIR)
    if leaks_expected and "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    src = "import sys; sys.path.insert(0, %r)\n" % TESTS + textwrap.dedent(code)
    return subprocess.run([sys.executable, "-c", src], capture_output=True, text=True, env=env, timeout=120)
