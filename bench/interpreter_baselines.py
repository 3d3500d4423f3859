"""Whether the work of bench_interpreters.py's small workload is as fast in
an isolated interpreter as in the main one: both halves timed in turns, in
this process, in the main interpreter and in two isolated ones, each on
this thread and on a new thread. Run it in several processes: on a machine
whose memory differs in speed from process to process, the best times of
one process against another's show how much that alone moves a figure
measured across ways that each make their own documents.

    PYTHONPATH=build python3 bench/interpreter_baselines.py [--small N] [--turns N]
        [--library quorvane|ElementTree]
"""

import argparse
import os
import statistics
import sys
import time
from concurrent import interpreters

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bench_interpreters  # noqa: E402
from timing import seconds_on_threads  # noqa: E402


def seconds(work):
    start = time.perf_counter()
    work()
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--small", type=int, default=20000, help="small documents per half")
    parser.add_argument("--turns", type=int, default=10)
    parser.add_argument("--library", default="quorvane", choices=["quorvane", "ElementTree"])
    args = parser.parse_args()
    args.workload, args.size, args.rounds = "small", 0.0, 0
    halves = [bench_interpreters.in_this_interpreter(args.library, half, args) for half in (0, 1)]
    workers = [interpreters.create() for _ in (0, 1)]
    try:
        for half, worker in enumerate(workers):
            worker.exec(bench_interpreters.source(args.library, half, args))
        isolated = [lambda w=worker: w.exec("work()") for worker in workers]
        ways = {
            "main interpreter": lambda: [work() for work in halves],
            "main interpreter, new threads": lambda: [seconds_on_threads(w) for w in halves],
            "isolated interpreters": lambda: [work() for work in isolated],
            "isolated interpreters, new threads": lambda: [seconds_on_threads(w) for w in isolated],
        }
        times = {name: [] for name in ways}
        for _ in range(args.turns):
            for name, work in ways.items():
                times[name].append(seconds(work))
    finally:
        for worker in workers:
            worker.close()
    print(f"{args.library}, both halves of {args.small:,} documents, {args.turns} turns")
    for name, measured in times.items():
        print(f"  {name:36} best {min(measured):.3f} s  median {statistics.median(measured):.3f} s")


if __name__ == "__main__":
    main()
