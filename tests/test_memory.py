"""Memory stays flat over repeated calls, valid and failing ones alike: for
every class the module registers (so later families are covered too), a
valid call and failing calls are repeated many times in a child process."""
import os
import subprocess
import sys
import textwrap

from proxy import BUILD_DIR

CHILD = textwrap.dedent(
    r'''
    import sys, time
    sys.path.insert(0, {tests!r})
    import proxy, helpers
    q = proxy.q

    CALLS = 200000
    # Each class gets an equal share of about half a minute (at most 0.3 s):
    # enough calls that a few bytes kept per call would show.
    BUDGET = min(0.3, 30.0 / len(proxy.CLASSES))
    MUTATING = ("delete_", "_swiginit", "___i", "_set", "_add", "_remove", "_swap", "_reset", "_clear")

    def works(fn, args):
        try:
            fn(*args)
            return True
        except Exception:
            return False

    def family_calls(name, obj, functions):
        """Valid calls on the class's object (every member that accepts it
        alone or with a simple operand) and failing calls of every member."""
        members = [n for n in functions if owners[n] == name]
        calls = []
        for n in members:
            fn = functions[n]
            if obj is not None and not any(m in n for m in MUTATING):
                for args in ((obj,), (obj, obj), (obj, 1)):
                    if works(fn, args):
                        calls.append((fn, args))
                        break
            if not n.startswith("delete_"):
                calls.append((fn, ("x",)))                 # an argument's failure
                calls.append((fn, (obj, "x", "y", "w")))  # count or overload failure
        return calls

    functions = helpers.functions()
    owners = {{n: helpers.class_of(n) for n in functions}}
    makers = helpers.makers(helpers.pool())
    worst = []
    for name in sorted(proxy.CLASSES):
        make = makers.get(name)
        obj = make() if make else None
        calls = family_calls(name, obj, functions)
        if not calls:
            continue
        for fn, args in calls * 20:  # warm-up: caches fill, texts are built
            try:
                fn(*args)
            except Exception:
                pass
        before = helpers.rss()
        start = time.monotonic()
        done = 0
        while done < CALLS and time.monotonic() - start < BUDGET:
            for _ in range(20):
                for fn, args in calls:
                    try:
                        fn(*args)
                    except Exception:
                        pass
            done += 20 * len(calls)
        grown = helpers.rss() - before
        worst.append((grown, name, done))
    worst.sort(reverse=True)
    print("classes", len(worst), "worst", worst[:3])
    if not helpers.under_sanitizer():
        for grown, name, done in worst:
            assert grown < (1 << 20) and grown / done < 4, (name, grown, done)
    '''
)


def test_repeated_calls_of_every_class_keep_memory_flat(tmp_path):
    script = tmp_path / "memory.py"
    script.write_text(CHILD.format(tests=os.path.dirname(os.path.abspath(__file__))))
    env = dict(os.environ, QUELBO_BUILD_DIR=BUILD_DIR)
    proc = subprocess.run([sys.executable, str(script)], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=900)
    assert proc.returncode == 0, proc.stderr[-4000:]
    assert "classes" in proc.stdout
