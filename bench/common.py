"""What every benchmark shares, one definition each: the generated documents
(made by tools/training_documents.py, which the profile training reads too,
so that the build depends on no benchmark file), the one timing rule,
resident memory and page faults, and the one way to load the module of a
named build folder for A/B comparisons."""

import argparse
import gc
import glob
import importlib.machinery
import importlib.util
import os
import resource
import statistics
import sys
import threading
import time

BENCH = os.path.dirname(os.path.abspath(__file__))

sys.path.insert(0, os.path.join(BENCH, "..", "tools"))
from training_documents import (  # noqa: E402, F401
    DOCUMENTS, NON_ASCII_WORDS, WORDS, fresh, locale_like, record_like, small_document)

# The first lines of code run in a fresh interpreter (isolated or in a child
# process), whose path does not hold this folder, to import this module.
IMPORT_COMMON = f"import sys\nsys.path.insert(0, {BENCH!r})\n"


def node_count(tree):
    """The nodes of a quorvane tree, each place a shared node stands counted."""
    total, stack = 0, [tree]
    while stack:
        current = stack.pop()
        total += 1
        stack.extend(current.children)
    return total


def seconds(work):
    """Wall seconds of one call; its result is released after the clock stops."""
    start = time.perf_counter()
    result = work()
    elapsed = time.perf_counter() - start
    del result
    return elapsed


def median_seconds(work, runs):
    """The timing rule: the median of several runs, each started from a
    collected heap."""
    times = []
    for _ in range(runs):
        gc.collect()
        times.append(seconds(work))
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


def page_faults():
    """The minor page faults of this process so far."""
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def seconds_and_faults(work):
    """Seconds and minor page faults of one call, the release of its result
    not included."""
    before = page_faults()
    start = time.perf_counter()
    result = work()
    elapsed = time.perf_counter() - start
    faulted = page_faults() - before
    del result
    return elapsed, faulted


def resident_bytes():
    """The resident set of this process now."""
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def print_heading(header):
    """A printed table's header line and a rule as long under it."""
    print(header)
    print("-" * len(header))


def module_path(folder):
    """The module's shared object in a build folder."""
    paths = glob.glob(os.path.join(folder, "quorvane*.so"))
    if len(paths) != 1:
        sys.exit(f"expected one module in {folder}, found {len(paths)}")
    return os.path.abspath(paths[0])


def load_build(folder):
    """The module of a build folder, loaded beside any other build's: the
    A/B comparisons time two builds in one process."""
    path = module_path(folder)
    loader = importlib.machinery.ExtensionFileLoader("quorvane", path)
    spec = importlib.util.spec_from_file_location("quorvane", path, loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def document_arguments(parser=None, default_mb=20.0, default_runs=5):
    """The --size (MB of each document) and --runs options of the benchmarks
    that time generated documents, added to `parser` (a new one by default)."""
    parser = parser or argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=default_mb, help="document size in MB")
    parser.add_argument("--runs", type=int, default=default_runs)
    return parser
