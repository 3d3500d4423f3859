"""Every core of the ordinary build: the same work on two cores five ways,
side by side in one run, as times and as speed-ups over one interpreter
doing it all:

- one interpreter, the two halves one after the other;
- two threads in one interpreter (they share its lock);
- two isolated interpreters at once, each with a lock of its own;
- a ProcessPoolExecutor of two, the found nodes pickled back;
- ElementTree in one interpreter, and in two isolated interpreters at once
  (lxml does not load in one), for the speed-up a peer gets from them.

Two workloads: two 20 MB documents, each read and searched `--rounds`
times, and two batches of small documents (`--small` each, 1 to 2 KB), each
read from a fresh str and searched. A batch is about a tenth of a second of
work: with a few thousand documents, starting the threads and entering the
interpreters would weigh as much as the reading.

    PYTHONPATH=build python3 bench/bench_interpreters.py [--size MB] [--rounds N]
        [--small N] [--runs N] [--json]
"""

import argparse
import json
import os
import statistics
import sys
import time
from concurrent import interpreters
from concurrent.futures import ProcessPoolExecutor

BENCH = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, BENCH)
from timing import seconds_on_threads  # noqa: E402

# Run in each worker (interpreter, thread or process): makes the half's
# documents outside the timing, then `work()` reads and searches them.
SETUP = """
import random, sys
sys.path.insert(0, {bench!r})
from documents import DOCUMENTS
make, root = DOCUMENTS["record-like"]
if {small}:
    rng = random.Random({seed})
    texts = [make(rng.randrange(1000, 2000)) for _ in range({small})]
else:
    texts = [make({size}) + " " * {seed}] * {rounds}
"""

WORK = {
    "quorvane": """
import quorvane
def work():
    found = 0
    for text in texts:
        # A fresh str per read, as a program reading files gets.
        tree = quorvane.read_string(text[:-1] + text[-1], root)
        found += len(tree.search_by_name("name"))
    return found
""",
    "ElementTree": """
import xml.etree.ElementTree as ElementTree
def work():
    found = 0
    for text in texts:
        tree = ElementTree.fromstring(text[:-1] + text[-1])
        found += sum(1 for _ in tree.iter("name"))
    return found
""",
}


def source(library, half, args):
    return SETUP.format(bench=BENCH, small=args.small if args.workload == "small" else 0,
                        seed=half, size=int(args.size * 1_000_000), rounds=args.rounds) + WORK[library]


def in_this_interpreter(library, half, args):
    namespace = {}
    exec(source(library, half, args), namespace)
    return namespace["work"]


def one_interpreter(args, library="quorvane"):
    works = [in_this_interpreter(library, half, args) for half in (0, 1)]
    start = time.perf_counter()
    for work in works:
        work()
    return time.perf_counter() - start


def two_threads(args):
    return seconds_on_threads(*[in_this_interpreter("quorvane", half, args) for half in (0, 1)])


def two_interpreters(args, library="quorvane"):
    workers = [interpreters.create() for _ in (0, 1)]
    try:
        for half, worker in enumerate(workers):
            worker.exec(source(library, half, args))
        return seconds_on_threads(*[lambda w=worker: w.exec("work()") for worker in workers])
    finally:
        for worker in workers:
            worker.close()


# The process pool's task: builds its half, then times nothing itself; the
# found nodes travel back pickled.
def process_half(library, half, args):
    namespace = {}
    exec(source(library, half, args), namespace)
    import quorvane  # noqa: F401  (loaded before the clock starts in the parent)
    start = time.perf_counter()
    found = []
    for text in namespace["texts"]:
        tree = quorvane.read_string(text[:-1] + text[-1], namespace["root"])
        found.extend(tree.search_by_name("name"))
    return found, time.perf_counter() - start


def process_pool(args):
    with ProcessPoolExecutor(2) as pool:
        # Started and warmed: a pool is made once and used for many batches.
        list(pool.map(abs, [1, 2]))
        start = time.perf_counter()
        halves = list(pool.map(process_half, ["quorvane"] * 2, [0, 1], [args] * 2))
        elapsed = time.perf_counter() - start
    assert all(found for found, _ in halves)
    return elapsed


WAYS = {
    "one interpreter, one half after the other": one_interpreter,
    "two threads, one interpreter": two_threads,
    "two isolated interpreters": two_interpreters,
    "ProcessPoolExecutor(2), results pickled": process_pool,
    "ElementTree, one interpreter": lambda args: one_interpreter(args, "ElementTree"),
    "ElementTree, two isolated interpreters": lambda args: two_interpreters(args, "ElementTree"),
}


def measure(args):
    rows = []
    for workload in ("large", "small"):
        args.workload = workload
        seconds = {name: statistics.median(way(args) for _ in range(args.runs))
                   for name, way in WAYS.items()}
        base = seconds["one interpreter, one half after the other"]
        rows.extend({"workload": workload, "way": name, "seconds": value,
                     "speed_up": base / value} for name, value in seconds.items())
    return rows


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=20.0, help="MB of each large document")
    parser.add_argument("--rounds", type=int, default=3, help="reads of each large document")
    parser.add_argument("--small", type=int, default=20000, help="small documents per half")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    rows = measure(args)
    if args.json:
        print(json.dumps(rows))
        return
    print(f"{os.cpu_count()} CPUs; median of {args.runs} runs; speed-up over one interpreter\n")
    for row in rows:
        print(f"{row['workload']:6} {row['way']:45} {row['seconds']:8.3f} s"
              f" {row['speed_up']:6.2f}x")


if __name__ == "__main__":
    main()
