"""How each part of the small-document work scales over two isolated
interpreters: making fresh strs alone, reading, reading and searching, and
making a Node; each timed one interpreter after the other and then both at
once. A part that scales worse than the rest points at what the
interpreters share.

    PYTHONPATH=build python3 bench/interpreter_scaling.py [--documents N]
"""

import argparse
import os
import sys
import time
from concurrent import interpreters

BENCH = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, BENCH)
from timing import seconds_on_threads  # noqa: E402

SETUP = """
import random, sys
sys.path.insert(0, {bench!r})
from documents import DOCUMENTS
import quorvane
make, root = DOCUMENTS["record-like"]
rng = random.Random(1)
texts = [make(rng.randrange(1000, 2000)) for _ in range({documents})]
def fresh():
    for t in texts: t[:-1] + t[-1]
def read():
    for t in texts: quorvane.read_string(t[:-1] + t[-1], root)
def read_and_search():
    for t in texts: quorvane.read_string(t[:-1] + t[-1], root).search_by_name("name")
def node():
    for t in texts: quorvane.Node("a", {{"k": "v"}})
"""


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--documents", type=int, default=20_000)
    args = parser.parse_args()
    for part in ("fresh", "read", "read_and_search", "node"):
        workers = [interpreters.create() for _ in range(2)]
        for worker in workers:
            worker.exec(SETUP.format(bench=BENCH, documents=args.documents))
        start = time.perf_counter()
        for worker in workers:
            worker.exec(f"{part}()")
        one_after_other = time.perf_counter() - start
        both = seconds_on_threads(*[lambda w=worker: w.exec(f"{part}()") for worker in workers])
        print(f"{part:16} {one_after_other:7.3f} s one after the other, {both:7.3f} s at once:"
              f" {one_after_other / both:.2f}x")
        for worker in workers:
            worker.close()


if __name__ == "__main__":
    main()
