"""A/B of two builds of the module on two cores: each build is loaded in two
isolated interpreters, which read and search the same 20 MB documents one
after the other and then both at once, after a warm-up read. The builds take
turns, batch by batch, so the machine's drift falls on both alike. Prints,
per build, the median seconds of each way and the median speed-up over the
batches, then every batch's speed-up: on a virtual machine the first batches
pay for memory the host has not yet backed.

With --same-str each read is given the same str rather than a fresh copy.
Its UTF-8 form is its own data when it is ASCII, as the generated documents
are, so the module does the same work, while the benchmark no longer faults
in 40 MB of new str per read.

    python3 bench/ab_interpreters.py BUILD_A BUILD_B [--document NAME] [--batches N]
        [--rounds N] [--size MB] [--same-str]
"""

import argparse
import glob
import os
import statistics
import sys
import time
from concurrent import interpreters

BENCH = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, BENCH)
from documents import DOCUMENTS  # noqa: E402
from timing import seconds_on_threads  # noqa: E402

SETUP = """
import importlib.util, sys
sys.path.insert(0, {bench!r})
spec = importlib.util.spec_from_file_location("quorvane", {module!r})
quorvane = importlib.util.module_from_spec(spec)
spec.loader.exec_module(quorvane)
from documents import DOCUMENTS
make, root = DOCUMENTS[{document!r}]
texts = [make({size}) + " " * {seed}] * {rounds}
def work():
    for text in texts:
        quorvane.read_string({argument}, root).search_by_name("name")
work()
"""


def module_path(folder):
    paths = glob.glob(os.path.join(folder, "quorvane*.so"))
    if len(paths) != 1:
        sys.exit(f"ab_interpreters: expected one module in {folder}, found {len(paths)}")
    return os.path.abspath(paths[0])


def batch(module, args):
    """(seconds one after the other, seconds both at once) of one batch on two
    fresh interpreters that load `module`."""
    argument = "text" if args.same_str else "text[:-1] + text[-1]"
    workers = [interpreters.create() for _ in range(2)]
    try:
        for seed, worker in enumerate(workers):
            worker.exec(SETUP.format(bench=BENCH, module=module, document=args.document,
                                     size=int(args.size * 1_000_000), seed=seed,
                                     rounds=args.rounds, argument=argument))
        start = time.perf_counter()
        for worker in workers:
            worker.exec("work()")
        one_after_other = time.perf_counter() - start
        both = seconds_on_threads(*[lambda w=worker: w.exec("work()") for worker in workers])
        return one_after_other, both
    finally:
        for worker in workers:
            worker.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("builds", nargs=2, help="two build folders holding the module")
    parser.add_argument("--document", choices=sorted(DOCUMENTS), default="record-like")
    parser.add_argument("--size", type=float, default=20.0, help="MB of each document")
    parser.add_argument("--rounds", type=int, default=3, help="reads of the document per batch")
    parser.add_argument("--batches", type=int, default=10)
    parser.add_argument("--same-str", action="store_true", help="no fresh str per read")
    args = parser.parse_args()
    modules = {folder: module_path(folder) for folder in args.builds}
    results = {folder: [] for folder in args.builds}
    for turn in range(args.batches):
        order = args.builds if turn % 2 == 0 else args.builds[::-1]
        for folder in order:
            results[folder].append(batch(modules[folder], args))
    for folder, times in results.items():
        speed_ups = [one / both for one, both in times]
        print(f"{folder}: one after the other {statistics.median(t[0] for t in times):.3f} s,"
              f" both at once {statistics.median(t[1] for t in times):.3f} s,"
              f" speed-up {statistics.median(speed_ups):.2f}x"
              f" (batches: {' '.join(f'{s:.2f}' for s in speed_ups)})")


if __name__ == "__main__":
    main()
