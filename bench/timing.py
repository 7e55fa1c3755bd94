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
    a, b = statistics.median(mine), statistics.median(theirs)
    ratio = a / b
    print(f"{label}: ours {_human(a)}, {anchor_name} {_human(b)}, ratio {ratio:.2f}x (lower is better)")
    return ratio
