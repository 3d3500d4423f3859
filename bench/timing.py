"""The one timing rule of the benchmarks: the median of several runs, each
started from a collected heap; the result is dropped outside the timing."""

import gc
import statistics
import time


def median_seconds(work, runs):
    times = []
    for _ in range(runs):
        gc.collect()
        start = time.perf_counter()
        result = work()
        times.append(time.perf_counter() - start)
        del result
    return statistics.median(times)
