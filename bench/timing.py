"""Timing helpers shared by the benchmarks."""

import time


def best_of(runs, function):
    """The shortest of `runs` timed calls of function(), in seconds."""
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times)


def timed(function, *args):
    """(seconds, result) of one call."""
    start = time.perf_counter()
    result = function(*args)
    return time.perf_counter() - start, result
