"""How each part of the small-document work scales over two isolated
interpreters: making fresh strs alone, reading, reading and searching, and
making a Node; each timed one interpreter after the other and then both at
once. A part that scales worse than the rest points at what the
interpreters share. With --size, the documents are that many MB each
instead of 1 to 2 KB. Two parts that use nothing of quorvane, a Python loop
and SHA-256 in native code, show what the machine itself allows; with
--processes every part runs in two processes instead, which share nothing.

    PYTHONPATH=build python3 bench/interpreter_scaling.py [--documents N] [--size MB] [--processes]
"""

import argparse
import os
import subprocess
import sys
import time
from concurrent import interpreters

BENCH = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, BENCH)
from timing import seconds_on_threads  # noqa: E402

SETUP = """
import hashlib, random, sys
sys.path.insert(0, {bench!r})
from documents import DOCUMENTS
import quorvane
make, root = DOCUMENTS["record-like"]
rng = random.Random(1)
texts = [make({size} or rng.randrange(1000, 2000)) for _ in range({documents})]
def fresh():
    for t in texts: t[:-1] + t[-1]
def read():
    for t in texts: quorvane.read_string(t[:-1] + t[-1], root)
def read_and_search():
    for t in texts: quorvane.read_string(t[:-1] + t[-1], root).search_by_name("name")
def node():
    for t in texts: quorvane.Node("a", {{"k": "v"}})
def python_loop():
    total = 0
    for i in range(len(texts) * 100): total += i * i
def native_hash():
    for t in texts: hashlib.sha256(t.encode()).digest()
"""
PARTS = ("python_loop", "native_hash", "fresh", "read", "read_and_search", "node")

# A process that sets up, says it is ready, and runs the part once per line
# it is sent, answering each with a line.
PROCESS = SETUP + """
print(flush=True)
for line in sys.stdin:
    {part}()
    print(flush=True)
"""


def on_interpreters(part, documents, size):
    """(seconds one after the other, seconds both at once) on two isolated
    interpreters."""
    workers = [interpreters.create() for _ in range(2)]
    for worker in workers:
        worker.exec(SETUP.format(bench=BENCH, documents=documents, size=size))
    start = time.perf_counter()
    for worker in workers:
        worker.exec(f"{part}()")
    one_after_other = time.perf_counter() - start
    both = seconds_on_threads(*[lambda w=worker: w.exec(f"{part}()") for worker in workers])
    for worker in workers:
        worker.close()
    return one_after_other, both


def on_processes(part, documents, size):
    """The same on two processes, each set up before the clock starts."""
    source = PROCESS.format(bench=BENCH, documents=documents, size=size, part=part)
    workers = [subprocess.Popen([sys.executable, "-c", source], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True) for _ in range(2)]
    for worker in workers:
        worker.stdout.readline()

    def run(worker):
        worker.stdin.write("\n")
        worker.stdin.flush()
        worker.stdout.readline()

    start = time.perf_counter()
    for worker in workers:
        run(worker)
    one_after_other = time.perf_counter() - start
    both = seconds_on_threads(*[lambda w=worker: run(w) for worker in workers])
    for worker in workers:
        worker.stdin.close()
        worker.wait()
    return one_after_other, both


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--documents", type=int, default=20_000)
    parser.add_argument("--size", type=float, default=0, help="MB of each document (default 1-2 KB)")
    parser.add_argument("--processes", action="store_true", help="two processes, not interpreters")
    args = parser.parse_args()
    measure = on_processes if args.processes else on_interpreters
    for part in PARTS:
        one_after_other, both = measure(part, args.documents, int(args.size * 1_000_000))
        print(f"{part:16} {one_after_other:7.3f} s one after the other, {both:7.3f} s at once:"
              f" {one_after_other / both:.2f}x")


if __name__ == "__main__":
    main()
