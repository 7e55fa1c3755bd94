"""Every flat function, called with hostile arguments, must end in a Python
exception or a result: the interpreter must never crash, and repeating the
sweep must not grow the process."""
import os
import subprocess
import sys
import textwrap

from proxy import BUILD_DIR

CHILD = textwrap.dedent(
    r'''
    import os, sys
    sys.path.insert(0, {tests!r})
    import proxy, helpers
    q = proxy.q

    foreign = proxy.cls("VersionInfo")()
    bare = q.new_Logger()
    moved = proxy.cls("VersionInfo")()
    q.delete_VersionInfo(moved)

    class Weird:
        def __len__(self):
            raise RuntimeError("no length")
        def __getitem__(self, i):
            raise IndexError(i)

    basics = [None, -1, 0, 7, 2**31, 2**64, -2**63 - 1, 1.5, float("nan"), "x", "\udcff",
              b"\x01\x02", [], (1, 2, 3), [1] * 1000, ["a", "b"], {{}}, Weird(), foreign, bare,
              foreign.this, moved, True, range(2**62)]
    pooled = helpers.pool()
    makers = helpers.makers(pooled)
    own = {{name: make() for name, make in makers.items()}}
    pairs = [(a, b) for a in (None, 0, -1, 2**64, "x", foreign, [1, 2])
             for b in (None, 0, -1, 2**64, 1.5, "x", [], [1, 2, 3], foreign)]
    longer = [(0, 0, 0), (None,) * 3, (1, 1, 1, 1), ("x",) * 4, (0,) * 5, (None,) * 6]
    functions = helpers.functions()
    owners = {{name: helpers.class_of(name) for name in functions}}

    def attempt(fn, args):
        try:
            fn(*args)
        except Exception:
            pass

    def plain_pass():
        count = 0
        for name, fn in functions.items():
            shapes = ([()] + [(s,) for s in basics] + [(s,) for s in helpers.sample(name, pooled, 12)] +
                      helpers.sample(name, pairs, 12) + longer)
            obj = own.get(owners[name])
            if obj is not None:
                # A valid object of its own class first, so the library code behind it is reached.
                others = helpers.sample(name + "+", basics + pooled, 8)
                shapes += [(obj,)] + [(obj, s) for s in others] + [(obj, s, s) for s in others[:4]]
            for args in shapes:
                attempt(fn, args)
                count += 1
        return count

    def damage_pass():
        # Argument 1 is a fresh valid object; the others delete, move or
        # re-append it (or argument 2) from inside the call.
        count = 0
        for name, fn in functions.items():
            cls_name = owners[name]
            make = makers.get(cls_name)
            if make is None:
                continue
            for i in range(4):
                victim = make()
                action = helpers.damages(victim, cls_name)[(i + len(name)) % 3]
                hostile = helpers.hostile_arguments(victim, action)[i]
                shape = [(victim, hostile), (victim, hostile, hostile), (victim, 0, hostile)][(i + len(name)) % 3]
                attempt(fn, shape)
                count += 1
            # The damage done to argument 2 instead.
            victim, second = make(), make()
            action = helpers.damages(second, cls_name)[len(name) % 3]
            attempt(fn, (victim, second, helpers.hostile_arguments(second, action)[len(name) % 4]))
            count += 1
        return count

    calls = plain_pass() + damage_pass()
    first = helpers.rss()
    for _ in range(2):
        plain_pass()
        damage_pass()
    growth = helpers.rss() - first
    print("calls", calls, "growth", growth)
    if not helpers.under_sanitizer():
        assert growth < 8 << 20, growth
    '''
)


def test_every_function_survives_hostile_arguments(tmp_path):
    script = tmp_path / "hostile.py"
    script.write_text(CHILD.format(tests=os.path.dirname(os.path.abspath(__file__))))
    env = dict(os.environ, QUELBO_BUILD_DIR=BUILD_DIR)
    proc = subprocess.run(
        [sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True, timeout=900
    )
    assert proc.returncode == 0, proc.stderr[-4000:]
    assert "calls" in proc.stdout
