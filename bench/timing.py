"""Timing helpers shared by the benchmarks.

`compare` times our call and the anchor a user would pick instead, interleaved
round by round on the same data, and prints one line: ours, the anchor, the
ratio of the medians and which way is better."""
import statistics
import time
import timeit


def best(fn, repeat=5):
    """Seconds of the fastest of `repeat` calls of fn()."""
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def best_per_call(stmt, number, **names):
    """Seconds per execution of stmt, the best of five rounds of `number` executions."""
    return min(timeit.repeat(stmt, globals=names, number=number, repeat=5)) / number


def section(title):
    """Prints a benchmark section's title."""
    print(f"\n== {title}")


def _clock(fn, number):
    t = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - t) / number


def _human(seconds):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if seconds >= scale:
            return f"{seconds / scale:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def compare(label, ours, anchor_name, anchor, rounds=7, number=1):
    """Times ours() and anchor() interleaved over `rounds` rounds of `number`
    calls each, prints the line and returns the ratio ours / anchor of the
    medians (below 1: ours is faster)."""
    ours(), anchor()  # warm caches and first-call costs
    mine, theirs = [], []
    for _ in range(rounds):
        mine.append(_clock(ours, number))
        theirs.append(_clock(anchor, number))
    return report(label, statistics.median(mine), anchor_name, statistics.median(theirs))


def compare_stmt(label, stmt, anchor_name, anchor_stmt, number, rounds=7, **names):
    """As `compare` for statements run by timeit (no call of a Python function
    around each execution): `number` executions a round, time per execution."""
    timers = timeit.Timer(stmt, globals=names), timeit.Timer(anchor_stmt, globals=names)
    for t in timers:
        t.timeit(1)
    mine, theirs = [], []
    for _ in range(rounds):
        mine.append(timers[0].timeit(number) / number)
        theirs.append(timers[1].timeit(number) / number)
    return report(label, statistics.median(mine), anchor_name, statistics.median(theirs))


def report(label, ours, anchor_name, anchor, unit=None, better="lower"):
    """Prints one comparison line of figures taken in the same run: ours, the
    anchor, the ratio ours / anchor and which way is better ("lower" for
    times, "higher" for rates); times in seconds unless `unit` names the
    figures' unit. Returns the ratio."""
    shown = _human if unit is None else (lambda v: f"{v:.4g} {unit}")
    ratio = ours / anchor
    print(f"{label}: ours {shown(ours)}, {anchor_name} {shown(anchor)}, ratio {ratio:.2f}x ({better} is better)")
    return ratio
