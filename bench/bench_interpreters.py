"""Every core of the ordinary build: the same work on two cores in several ways,
side by side in one run, as times and as speed-ups over one interpreter
doing it all:

- one interpreter, the two halves one after the other;
- two threads in one interpreter (they share its lock);
- two isolated interpreters, each with a lock of its own, one after the
  other and then at once: batch by batch in turns, on the same interpreters
  and the same documents, so that from the second batch on the speed-up of
  running them at once is measured on memory both ways have touched alike;
- two worker processes, the found nodes pickled back, and the same with only
  their count sent back: the speed-up two cores give this work when the
  workers share nothing at all;
- ElementTree in two isolated interpreters, one after the other and at once
  (lxml does not load in one), for the speed-up a peer gets from them;
- SHA-256 of the same documents in two isolated interpreters, one after the
  other and at once: native work that shares nothing, the most two cores of
  this machine give.

Each speed-up is over the same work in one interpreter: for the isolated
interpreters at once, over the same two one after the other.

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
from concurrent import interpreters
from concurrent.futures import ProcessPoolExecutor

from common import IMPORT_COMMON, seconds, seconds_on_threads

# Run in each worker (interpreter, thread or process): makes the half's
# documents outside the timing, then `work()` reads and searches them.
SETUP = IMPORT_COMMON + """
import random
from common import DOCUMENTS
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
    # Native work that needs nothing of the other worker: the speed-up this
    # machine's two cores give at best. Each document is hashed a few times,
    # for about as long as quorvane takes to read it.
    "SHA-256": """
import hashlib
blobs = [text.encode() for text in texts]
def work():
    return sum(hashlib.sha256(blob).digest()[0] + 1 for blob in blobs for _ in range(8))
""",
}


def source(library, half, args):
    return SETUP.format(small=args.small if args.workload == "small" else 0,
                        seed=half, size=int(args.size * 1_000_000), rounds=args.rounds) + WORK[library]


def in_this_interpreter(library, half, args):
    namespace = {}
    exec(source(library, half, args), namespace)
    return namespace["work"]


# Each way returns the seconds of its first batch and of its second, on the
# same workers: a pool's workers do many batches, and only the first pays for
# the memory its worker has not yet touched.
BATCHES = 2


def one_interpreter(args, library="quorvane"):
    works = [in_this_interpreter(library, half, args) for half in (0, 1)]
    return [seconds(lambda: [work() for work in works]) for _ in range(BATCHES)]


def two_threads(args):
    works = [in_this_interpreter("quorvane", half, args) for half in (0, 1)]
    return [seconds_on_threads(*works) for _ in range(BATCHES)]


def interpreter_pair(args, library="quorvane"):
    """The seconds of two isolated interpreters' halves one after the other
    and at once, batch by batch in turns on the same interpreters. A batch
    at once goes first, so the first batch at once meets the memory neither
    has touched, as a pool's first batch does."""
    workers = [interpreters.create() for _ in (0, 1)]
    try:
        for half, worker in enumerate(workers):
            worker.exec(source(library, half, args))
        works = [lambda w=worker: w.exec("work()") for worker in workers]
        at_once, one_after_the_other = [], []
        for _ in range(BATCHES):
            at_once.append(seconds_on_threads(*works))
            one_after_the_other.append(sum(seconds_on_threads(work) for work in works))
        return {"one after the other": one_after_the_other, "at once": at_once}
    finally:
        for worker in workers:
            worker.close()


# A process's half, made once per process outside the timing, as the
# interpreters' halves are.
_PROCESS_WORK = {}


def prepare_half(library, half, args):
    namespace = {}
    exec(source(library, half, args), namespace)
    _PROCESS_WORK[half] = namespace


def process_half(half, send_nodes):
    namespace = _PROCESS_WORK[half]
    if not send_nodes:
        return namespace["work"]()
    import quorvane
    found = []
    for text in namespace["texts"]:
        tree = quorvane.read_string(text[:-1] + text[-1], namespace["root"])
        found.extend(tree.search_by_name("name"))
    return found


# Two pools of one process each, so that each half is made in its own
# process before the clock starts. With the found nodes pickled back, this
# is what a user of processes pays; with only their count, it is what two
# cores give this work with nothing shared at all.
def process_pools(args, send_nodes):
    pools = [ProcessPoolExecutor(1) for _ in (0, 1)]
    try:
        for half, pool in enumerate(pools):
            pool.submit(prepare_half, "quorvane", half, args).result()
        def batch():
            futures = [pool.submit(process_half, half, send_nodes)
                       for half, pool in enumerate(pools)]
            found = [future.result() for future in futures]
            assert all(found)

        return [seconds(batch) for _ in range(BATCHES)]
    finally:
        for pool in pools:
            pool.shutdown()


# Each measurement gives one way's seconds per batch, or several ways'.
def single(way, measure):
    return lambda args: {way: measure(args)}


def pair(prefix, library):
    def measure(args):
        times = interpreter_pair(args, library)
        return {f"{prefix}, two isolated interpreters, {how}": seconds
                for how, seconds in times.items()}
    return measure


BASE = "one interpreter, one half after the other"
MEASUREMENTS = [
    single(BASE, one_interpreter),
    single("two threads, one interpreter", two_threads),
    pair("quorvane", "quorvane"),
    single("two processes, found nodes pickled back", lambda args: process_pools(args, True)),
    single("two processes, counts sent back", lambda args: process_pools(args, False)),
    pair("ElementTree", "ElementTree"),
    pair("SHA-256 of the documents", "SHA-256"),
]


def base_of(way):
    """The way whose time a way's speed-up is over: two isolated interpreters
    at once are over the same two one after the other, and a peer's two one
    after the other over themselves; the rest over quorvane in one
    interpreter."""
    if way.endswith(", at once"):
        return way.removesuffix("at once") + "one after the other"
    if way.endswith(", one after the other") and not way.startswith("quorvane"):
        return way
    return BASE


def measure(args):
    """Per workload and way, the median over runs of the first batch's
    seconds and of the second's, and of each one's speed-up over the batch
    of the same rank of its base way, in the same run. Every run times every
    way in turn, so that a machine whose speed drifts during the benchmark
    skews no way against another."""
    rows = []
    for workload in ("large", "small"):
        args.workload = workload
        runs = []
        for _ in range(args.runs):
            run = {}
            for measurement in MEASUREMENTS:
                run.update(measurement(args))
            runs.append(run)
        for name in runs[0]:
            row = {"workload": workload, "way": name}
            for batch, prefix in enumerate(("first_", "")):
                row[prefix + "seconds"] = statistics.median(run[name][batch] for run in runs)
                row[prefix + "speed_up"] = statistics.median(
                    run[base_of(name)][batch] / run[name][batch] for run in runs)
            rows.append(row)
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
    print(f"{os.cpu_count()} CPUs; median of {args.runs} runs; speed-up over one interpreter"
          " (isolated interpreters at once: over the same two one after the other),"
          " in the workers' first batch and in their second\n")
    width = max(len(row["way"]) for row in rows)
    print(f"{'':6} {'':{width}} {'first batch':>17} {'second batch':>17}")
    for row in rows:
        print(f"{row['workload']:6} {row['way']:{width}} {row['first_seconds']:8.3f} s"
              f" {row['first_speed_up']:6.2f}x {row['seconds']:8.3f} s {row['speed_up']:6.2f}x")


if __name__ == "__main__":
    main()
