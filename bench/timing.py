"""The one timing rule of the benchmarks: the median of several runs, each
started from a collected heap; the result is dropped outside the timing."""

import argparse
import gc
import statistics
import threading
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


def seconds_on_threads(*works):
    """Wall time of running every callable at once, one thread each."""
    threads = [threading.Thread(target=work) for work in works]
    start = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start


def document_arguments(default_mb=20.0):
    """The --size (MB of each document) and --runs options of the benchmarks
    that time generated documents."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=default_mb, help="document size in MB")
    parser.add_argument("--runs", type=int, default=5)
    return parser.parse_args()
