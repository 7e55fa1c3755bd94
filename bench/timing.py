"""Timing helpers shared by the benchmarks: the best of several runs."""
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
