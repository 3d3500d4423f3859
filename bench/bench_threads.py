"""Two documents read on two threads at once against the same two read one
after the other on one thread. read_string parses without the interpreter
lock, so the two parses overlap; building the Node objects holds it, and so
does freeing them. Where the interpreter has that lock, a thread that has
built its tree hands the lock to the waiting one before it frees its own,
so the two fall into step: they parse at the same time and then queue for
the serial parts, and the speed-up stays well below two.

    PYTHONPATH=build python3 bench/bench_threads.py [--size MB] [--rounds N]
"""

import argparse
import os
import statistics
import sys

import quorvane

from common import DOCUMENTS, seconds, seconds_on_threads


def read_repeatedly(document, root, rounds):
    for _ in range(rounds):
        tree = quorvane.read_string(document, root)
        del tree


def one_thread(documents, rounds):
    def read_all():
        for _ in range(rounds):
            for document, root in documents:
                read_repeatedly(document, root, 1)
    return seconds(read_all)


def two_threads(documents, rounds):
    return seconds_on_threads(*[lambda d=document, r=root: read_repeatedly(d, r, rounds)
                                for document, root in documents])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=20.0, help="size of each document in MB")
    parser.add_argument("--rounds", type=int, default=4, help="reads of each document per trial")
    parser.add_argument("--trials", type=int, default=5)
    args = parser.parse_args()
    size = int(args.size * 1_000_000)
    gil = "enabled" if getattr(sys, "_is_gil_enabled", lambda: True)() else "disabled"
    print(f"{os.cpu_count()} CPUs, interpreter lock {gil}; median of {args.trials} trials,"
          f" each reading two documents {args.rounds} times\n")
    for name in ("record-like", "quote-dense", "text-heavy"):
        make, root = DOCUMENTS[name]
        # Two distinct documents of the same kind.
        documents = [(make(size), root), (make(size) + " ", root)]
        mb = sum(len(d.encode()) for d, _ in documents) * args.rounds / 1e6
        single = statistics.median(one_thread(documents, args.rounds) for _ in range(args.trials))
        double = statistics.median(two_threads(documents, args.rounds) for _ in range(args.trials))
        print(f"{name:12} one thread {mb / single:7.0f} MB/s   two threads {mb / double:7.0f} MB/s"
              f"   speed-up {single / double:.2f}x")


if __name__ == "__main__":
    main()
