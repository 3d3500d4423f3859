"""Probes: narrow questions about where a read's time goes, asked of the
module on PYTHONPATH, each printing its own small table.

    PYTHONPATH=build python3 bench/probes.py costs [--calls N]
    PYTHONPATH=build python3 bench/probes.py bytes [--size MB] [--runs N]
    PYTHONPATH=build python3 bench/probes.py faults [--document NAME] [--size MB]
    PYTHONPATH=build python3 bench/probes.py held-small [--library quorvane|lxml] [--count N]
    PYTHONPATH=build python3 bench/probes.py scaling [--documents N] [--size MB] [--processes]
    PYTHONPATH=build python3 bench/probes.py baselines [--small N] [--turns N]
        [--library quorvane|ElementTree]
    PYTHONPATH=build python3 bench/probes.py workers [--size MB] [--rounds N] [--batches N]
        [--same-str]
    PYTHONPATH=build python3 bench/probes.py pool-batches FOLDER ROOT_TAG NAME [--batches N]
        [--workers N]

costs: what a small read costs per call, per element and per attribute: the
best time of read_string (the tree released at once) on documents that
differ by one thing each, from the smallest document up to eighty elements
with a text each, with and without an attribute.

bytes: read_bytes of a document's UTF-8 bytes against read_string of its
str, whose UTF-8 form is cached, in turns within each run: what checking
the bytes are UTF-8 costs over a str, which needs no check.

faults: page faults and system time per read of one large document: where a
read still meets fresh memory. First the process's very first read, with how
far it grew the peak resident set (the read's working memory: structural
index, records, tree, beside the str it reads); on a virtual machine whose
host takes freed memory back, it also pays for pages the host must back
again. Then each part runs twice untimed, and five times counted.

held-small: many trees of one small document with attributes, all held at
once, next to lxml: resident growth and time per read, each read from a
fresh str.

scaling: how each part of the small-document work scales over two isolated
interpreters: making fresh strs alone, reading, reading and searching, and
making a Node; each timed one interpreter after the other and then both at
once. A part that scales worse than the rest points at what the
interpreters share. With --size, the documents are that many MB each
instead of 1 to 2 KB. Two parts that use nothing of quorvane, a Python loop
and SHA-256 in native code, show what the machine itself allows; with
--processes every part runs in two processes instead, which share nothing.

baselines: whether the work of bench_interpreters.py's small workload is as
fast in an isolated interpreter as in the main one: both halves timed in
turns, in this process, in the main interpreter and in two isolated ones,
each on this thread and on a new thread. Run it in several processes: on a
machine whose memory differs in speed from process to process, the best
times of one process against another's show how much that alone moves a
figure measured across ways that each make their own documents.

workers: each worker's own account of two isolated interpreters reading
large documents at once: wall, user and system seconds and page faults per
worker, beside the same worker reading alone. Where one worker's system time
grows when the other runs, the two meet in the process's memory map, which
two processes do not share. With --same-str each read takes the same str
instead of a fresh one, which leaves only the module's own work.

pool-batches: the corpus example's work given to one started pool several
times in a row, per batch: where an interpreter pool and a process pool
differ in the first batch only (each worker still importing its modules)
and where they differ in every batch.
"""

import argparse
import gc
import glob
import os
import resource
import statistics
import subprocess
import sys
import threading
from concurrent import interpreters

import lxml.etree

import quorvane

import bench_interpreters
from common import (BENCH, DOCUMENTS, IMPORT_COMMON, resident_bytes, seconds,
                    seconds_on_threads)

sys.path.insert(0, os.path.join(BENCH, "..", "examples"))
import corpus  # noqa: E402

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'
COST_DOCUMENTS = {
    "<a/>": "<a/>",
    "<a></a>": "<a></a>",
    "declaration, <a/>": DECLARATION + "<a/>",
    "comment, <a/>": "<!-- c -->\n<a/>",
    "<a x='1'/>": "<a x='1'/>",
    "<a><b/></a>": "<a><b/></a>",
    "<a><b>t</b></a>": "<a><b>t</b></a>",
    **{f"{n} elements with a text": "<a>" + "<b>t</b>" * n + "</a>" for n in (10, 20, 40, 80)},
    "80 elements with a text and an attribute": "<a>" + "<b x='1'>t</b>" * 80 + "</a>",
}


def costs(args):
    def best_ns(text):
        def calls():
            for _ in range(args.calls):
                quorvane.read_string(text, "a")
        return min(seconds(calls) for _ in range(5)) / args.calls * 1e9

    gc.disable()
    times = {name: best_ns(text) for name, text in COST_DOCUMENTS.items()}
    for name, ns in times.items():
        print(f"{name:42} {ns:7.0f} ns")
    plain = times["80 elements with a text"]
    print(f"per element with a text: {(plain - times['<a></a>']) / 80:.0f} ns;"
          f" per attribute: {(times['80 elements with a text and an attribute'] - plain) / 80:.0f} ns")


def bytes_against_str(args):
    for name, (make, root) in DOCUMENTS.items():
        text = make(int(args.size * 1e6))
        data = text.encode()
        quorvane.read_string(text, root)  # caches its UTF-8 form
        ratios = []
        for _ in range(args.runs):
            gc.collect()
            from_str = seconds(lambda: quorvane.read_string(text, root))
            gc.collect()
            ratios.append(from_str / seconds(lambda: quorvane.read_bytes(data, root)))
        print(f"{name:14} read_bytes is {statistics.median(ratios):.3f}x the speed of read_string "
              f"(runs {min(ratios):.3f} to {max(ratios):.3f})")


def faults(args):
    make, root = DOCUMENTS[args.document]
    text = make(int(args.size * 1_000_000))
    document = text[:-1] + text[-1]
    document.encode()  # made outside the timing, so that only the read counts
    before = resource.getrusage(resource.RUSAGE_SELF)
    elapsed = seconds(lambda: quorvane.read_string(document, root))
    after = resource.getrusage(resource.RUSAGE_SELF)
    print(f"{'the first read':20} {elapsed * 1e3:7.1f} ms;"
          f" {after.ru_minflt - before.ru_minflt:7d} page faults;"
          f" peak resident set +{(after.ru_maxrss - before.ru_maxrss) / 1024:.1f} MB")
    parts = {
        "a fresh str alone": lambda: text[:-1] + text[-1],
        "read, the same str": lambda: quorvane.read_string(text, root),
        "read, a fresh str": lambda: quorvane.read_string(text[:-1] + text[-1], root),
    }
    for name, part in parts.items():
        for _ in range(2):
            part()
        def five_times(part=part):
            for _ in range(5):
                part()

        before = resource.getrusage(resource.RUSAGE_SELF)
        elapsed = seconds(five_times) / 5
        after = resource.getrusage(resource.RUSAGE_SELF)
        print(f"{name:20} {elapsed * 1e3:7.1f} ms, of which system"
              f" {(after.ru_stime - before.ru_stime) / 5 * 1e3:5.1f} ms;"
              f" {(after.ru_minflt - before.ru_minflt) / 5:7.0f} page faults")


HELD_SMALL = '<cfg version="1"><item key="a">1</item><item key="b">2</item></cfg>'


def held_small(args):
    texts = [HELD_SMALL.replace("1", str(i % 10), 1) for i in range(args.count)]
    read = (lambda text: quorvane.read_string(text, "cfg")) if args.library == "quorvane" else \
        (lambda text: lxml.etree.fromstring(text))
    base = resident_bytes()
    held = []
    elapsed = seconds(lambda: held.extend([read(text) for text in texts]))
    del texts
    print(f"{args.library}: {len(held):,} trees held, +{(resident_bytes() - base) / 1e6:.1f} MB"
          f" resident, {elapsed / args.count * 1e6:.2f} µs per read")


SCALING_SETUP = IMPORT_COMMON + """
import hashlib, random
from common import DOCUMENTS
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
SCALING_PARTS = ("python_loop", "native_hash", "fresh", "read", "read_and_search", "node")

# A process that sets up, says it is ready, and runs the part once per line
# it is sent, answering each with a line.
SCALING_PROCESS = SCALING_SETUP + """
print(flush=True)
for line in sys.stdin:
    {part}()
    print(flush=True)
"""


def scaling_on_interpreters(part, documents, size):
    """(seconds one after the other, seconds both at once) on two isolated
    interpreters."""
    workers = [interpreters.create() for _ in range(2)]
    for worker in workers:
        worker.exec(SCALING_SETUP.format(documents=documents, size=size))
    one_after_other = seconds(lambda: [worker.exec(f"{part}()") for worker in workers])
    both = seconds_on_threads(*[lambda w=worker: w.exec(f"{part}()") for worker in workers])
    for worker in workers:
        worker.close()
    return one_after_other, both


def scaling_on_processes(part, documents, size):
    """The same on two processes, each set up before the clock starts."""
    source = SCALING_PROCESS.format(documents=documents, size=size, part=part)
    workers = [subprocess.Popen([sys.executable, "-c", source], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, text=True) for _ in range(2)]
    for worker in workers:
        worker.stdout.readline()

    def run(worker):
        worker.stdin.write("\n")
        worker.stdin.flush()
        worker.stdout.readline()

    one_after_other = seconds(lambda: [run(worker) for worker in workers])
    both = seconds_on_threads(*[lambda w=worker: run(w) for worker in workers])
    for worker in workers:
        worker.stdin.close()
        worker.wait()
    return one_after_other, both


def scaling(args):
    measure = scaling_on_processes if args.processes else scaling_on_interpreters
    for part in SCALING_PARTS:
        one_after_other, both = measure(part, args.documents, int(args.size * 1_000_000))
        print(f"{part:16} {one_after_other:7.3f} s one after the other, {both:7.3f} s at once:"
              f" {one_after_other / both:.2f}x")


def baselines(args):
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


# Each worker accounts for its own thread: the process's counts would mix both.
WORKERS_SETUP = IMPORT_COMMON + """
import resource
from common import DOCUMENTS, seconds
import quorvane
make, root = DOCUMENTS["record-like"]
texts = [make({size})] * {rounds}
def read_all():
    for text in texts:
        quorvane.read_string({fresh}, root).search_by_name("name")
def work():
    before = resource.getrusage(resource.RUSAGE_THREAD)
    elapsed = seconds(read_all)
    after = resource.getrusage(resource.RUSAGE_THREAD)
    return (elapsed, after.ru_utime - before.ru_utime,
            after.ru_stime - before.ru_stime, after.ru_minflt - before.ru_minflt)
"""


def account(label, times):
    wall, user, system, faulted = times
    return f"{label}: wall {wall:.3f} s, user {user:.3f}, system {system:.3f}, {faulted} faults"


def workers(args):
    results = interpreters.create_queue()
    pair = [interpreters.create() for _ in (0, 1)]
    try:
        for worker in pair:
            worker.prepare_main(results=results)
            worker.exec(WORKERS_SETUP.format(size=int(args.size * 1_000_000), rounds=args.rounds,
                                             fresh="text" if args.same_str else "text[:-1] + text[-1]"))
            worker.exec("work()")  # warm
        for number, worker in enumerate(pair):
            worker.exec("results.put(work())")
            print(account(f"worker {number} alone", results.get()))
        for _ in range(args.batches):
            threads = [threading.Thread(target=worker.exec, args=("results.put(work())",))
                       for worker in pair]
            for thread in threads:
                thread.start()
            for thread in threads:
                thread.join()
            print("at once   " + " | ".join(account("", results.get()).lstrip(": ") for _ in pair))
    finally:
        for worker in pair:
            worker.close()


def pool_batches(args):
    paths = sorted(glob.glob(os.path.join(args.folder, "*.xml")))
    for way, make in corpus.POOLS.items():
        with corpus.started(make(args.workers), args.workers) as pool:
            times = [seconds(lambda: corpus.on_pool(pool, corpus.count_batch, paths, args.root_tag,
                                                    args.name, args.workers))
                     for _ in range(args.batches)]
        print(f"{way}: " + ", ".join(f"{s:.3f} s" for s in times))


def main():
    parser = argparse.ArgumentParser(description="narrow probes of where a read's time goes")
    commands = parser.add_subparsers(required=True)

    command = commands.add_parser("costs", help="a small read's cost per call, element, attribute")
    command.set_defaults(run=costs)
    command.add_argument("--calls", type=int, default=50000)

    command = commands.add_parser("bytes", help="read_bytes against read_string of a cached str")
    command.set_defaults(run=bytes_against_str)
    command.add_argument("--size", type=float, default=20.0, help="MB of each document")
    command.add_argument("--runs", type=int, default=7)

    command = commands.add_parser("faults", help="page faults and system time of a large read")
    command.set_defaults(run=faults)
    command.add_argument("--document", choices=sorted(DOCUMENTS), default="record-like")
    command.add_argument("--size", type=float, default=20.0, help="MB of the document")

    command = commands.add_parser("held-small", help="many small trees held, next to lxml")
    command.set_defaults(run=held_small)
    command.add_argument("--library", choices=["quorvane", "lxml"], default="quorvane")
    command.add_argument("--count", type=int, default=10_000)

    command = commands.add_parser("scaling", help="each part of a read over two interpreters")
    command.set_defaults(run=scaling)
    command.add_argument("--documents", type=int, default=20_000)
    command.add_argument("--size", type=float, default=0, help="MB of each document (default 1-2 KB)")
    command.add_argument("--processes", action="store_true", help="two processes, not interpreters")

    command = commands.add_parser("baselines", help="main against isolated interpreters, in turns")
    command.set_defaults(run=baselines)
    command.add_argument("--small", type=int, default=20000, help="small documents per half")
    command.add_argument("--turns", type=int, default=10)
    command.add_argument("--library", default="quorvane", choices=["quorvane", "ElementTree"])

    command = commands.add_parser("workers", help="each interpreter's own account, alone and at once")
    command.set_defaults(run=workers)
    command.add_argument("--size", type=float, default=20.0, help="MB of each document")
    command.add_argument("--rounds", type=int, default=3, help="reads per worker and batch")
    command.add_argument("--batches", type=int, default=5)
    command.add_argument("--same-str", action="store_true", help="no fresh str per read")

    command = commands.add_parser("pool-batches", help="the corpus example's batches on a started pool")
    command.set_defaults(run=pool_batches)
    command.add_argument("folder")
    command.add_argument("root_tag")
    command.add_argument("name")
    command.add_argument("--batches", type=int, default=4)
    command.add_argument("--workers", type=int, default=2)

    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
