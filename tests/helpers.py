"""Helpers the test modules share: exact messages, the overload message,
vectors as lists, scripts run in a child interpreter, and what the sweeps
over every function use (the hostile test and the memory test run them in a
child process): the functions by class, a valid object of each class,
argument objects that damage argument 1 from inside a call, and the
resident memory."""
import glob
import importlib
import math
import os
import re
import resource
import subprocess
import sys
import textwrap
import zlib

import proxy
from proxy import q

TESTS = HERE = os.path.dirname(os.path.abspath(__file__))


def exact(text):
    return "^" + re.escape(text) + "$"


def overload_text(fn, *prototypes):
    return "Wrong number or type of arguments for overloaded function '%s'.\n  Possible C/C++ prototypes are:\n%s" % (
        fn, "".join("    %s\n" % p for p in prototypes))


def overload(fn, *prototypes):
    return exact(overload_text(fn, *prototypes))


def vec(v):
    return [q.VectorXu64_at(v, i) for i in range(q.VectorXu64_size(v))]


def run_child(code, leaks_expected=False, asan_options="", stack=None, timeout=120):
    """Runs code in a child interpreter over the build; `stack`: its (soft, hard) RLIMIT_STACK."""
    env = dict(os.environ, QUELBO_BUILD_DIR=proxy.BUILD_DIR)
    if leaks_expected and "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":detect_leaks=0"
    if asan_options and "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] += ":" + asan_options
    src = "import sys; sys.path.insert(0, %r)\n" % TESTS + textwrap.dedent(code)
    limit = (lambda: resource.setrlimit(resource.RLIMIT_STACK, stack)) if stack else None
    return subprocess.run([sys.executable, "-c", src], capture_output=True, text=True, env=env, timeout=timeout,
                          preexec_fn=limit)


# ---------------------------------------------------------------- sweeps
# Hooks change the registered classes themselves: they are tested on their own.
HOOKS = ("_swigregister",)


def rss():
    """Resident memory of this process, in bytes."""
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def attempt(fn, *args):
    """fn(*args), or None when it raises: failing calls count as much as valid ones."""
    try:
        return fn(*args)
    except Exception:
        return None


def assert_memory_flat(batch, warm=300, runs=3000, limit=2 * 1024 * 1024):
    """Resident memory grows by less than `limit` over `runs` calls of batch(), after `warm` of them."""
    for _ in range(warm):
        batch()
    before = rss()
    for _ in range(runs):
        batch()
    assert rss() - before < limit


def under_sanitizer():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def functions():
    """Every flat function of the module, by name."""
    return {n: getattr(q, n) for n in sorted(dir(q))
            if callable(getattr(q, n)) and not n.startswith("__") and not n.endswith(HOOKS)}


def class_of(name):
    """The registered class a function belongs to (the longest matching name), or None."""
    best = None
    for c in proxy.CLASSES:
        if name in ("new_" + c, "delete_" + c) or name.startswith(c + "_"):
            if best is None or len(c) > len(best):
                best = c
    return best


def pool():
    """The objects every family adds in tests/pool_<family>.py."""
    out = []
    for path in sorted(glob.glob(os.path.join(HERE, "pool_*.py"))):
        out += importlib.import_module(os.path.basename(path)[:-3]).objects(proxy)
    return out


def makers(objects):
    """For each class, a function making a fresh valid object (None when none can be made)."""
    found = {}
    for o in objects:
        name = type(o).__name__
        if proxy.CLASSES.get(name) is type(o):
            found.setdefault(name, o)
    out = {}
    for name, klass in proxy.CLASSES.items():
        def make(klass=klass, model=found.get(name)):
            for args in ((), (model,)) if model is not None else ((),):
                try:
                    return klass(*args)
                except Exception:
                    pass
            return None
        if make() is not None:
            out[name] = make
        elif name in found:
            out[name] = lambda o=found[name]: o
    return out


def sample(name, items, k):
    """k items picked for a function, the same on every run."""
    if len(items) <= k:
        return list(items)
    start = zlib.crc32(name.encode()) % len(items)
    step = max(1, len(items) // k)
    return [items[(start + i * step) % len(items)] for i in range(k)]


# ------------------------------------------------ damage done from inside a call

def damages(victim, cls_name):
    """Actions that delete, move or re-append `victim` while a call holds it."""
    def delete():
        getattr(q, "delete_" + cls_name, lambda o: None)(victim)

    def move():
        for n in dir(q):
            if n.startswith(cls_name + "___i"):
                for other in (0, victim):
                    try:
                        getattr(q, n)(victim, other)
                    except Exception:
                        pass
        try:
            proxy.cls(cls_name)(victim)
        except Exception:
            pass

    def reappend():
        h = getattr(victim, "this", victim)
        for attempt in (lambda: h.append(h), lambda: q.new_Logger().append(h),
                        lambda: getattr(q, cls_name + "_swiginit")(victim, h)):
            try:
                attempt()
            except Exception:
                pass

    return [delete, move, reappend]


def hostile_arguments(victim, action):
    """Argument objects whose __index__, __len__/__getitem__, type name or
    `this` run `action` (the damage) inside the call."""
    class Index:
        def __index__(self):
            action()
            return 0

    class Sequence:
        def __len__(self):
            action()
            return 2

        def __getitem__(self, i):
            action()
            if i >= 2:
                raise IndexError(i)
            return 0

    class Meta(type):
        @property
        def __name__(cls):
            action()
            return "SwigPyObject"

    class Named(metaclass=Meta):
        pass

    class This:
        @property
        def this(self):
            action()
            return getattr(victim, "this", victim)

    return [Index(), Sequence(), Named(), This()]


def ldexp(x, k):
    """x * 2^k, infinite where it overflows (math.ldexp raises there)."""
    try:
        return math.ldexp(x, k)
    except OverflowError:
        return math.copysign(math.inf, x)
