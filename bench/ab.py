"""A/B comparisons of builds of the module, each build loaded from its build
folder (common.load_build), their timings taken in turns so that the
machine's drift between sittings falls on all alike.

    python3 bench/ab.py same BUILD_A BUILD_B [document ...] [--size MB] [--rounds N]
        [--write [--trees N]] [--op OPERATION]
    python3 bench/ab.py small BUILD_A BUILD_B [--bytes N] [--reads N] [--timings N]
        [--files GLOB --root TAG [--strings [--held]]]
    python3 bench/ab.py threads BUILD [BUILD ...] [--documents record-like,text-heavy]
        [--size MB] [--rounds N]
    python3 bench/ab.py interpreters BUILD_A BUILD_B [--document NAME] [--batches N]
        [--rounds N] [--size MB] [--same-str]

same: both shared objects loaded side by side in one process, their reads
(or writes) alternating; a build against itself gives ratios within about
1% of 1.0. Documents are names from common.DOCUMENTS (all of them by
default), or locale-like. Prints, per document, the best and median
milliseconds per read (with --write: per write_string of the tree each
build read; with --trees N, per write of N trees each build holds, one after
another, as a program holding many small documents does; with --op, per
search, to_dict or pickling of the tree each build read) of each build, B's
speed over A's, and the median page faults per read of each (fresh pages a
read faults in often cost more than its parsing).

small: the same on many reads of one small document, the cost fixed per
call, which a read of 20 MB hides. With --files, each timing reads every
file a glob names by its path instead (read_file), as a program reading a
corpus does; with --strings as well, from each file's text read once
(read_string), which leaves out the system's file calls; with --held too,
from a fresh copy of each text, every tree of a timing held until it ends,
as a program that keeps a corpus does.

threads: the two-thread speed-up of write_string for each of several builds,
each in a process of its own (one process per build and round, alternating),
so that one build's kept memory and threads never meet another's. Prints,
per round, build and document, the milliseconds of writing two trees one
after the other and at once on two threads, the speed-up, and the page
faults of the two-thread runs. On a machine shared with others the speed-up
of one build varies from round to round; compare ranges.

interpreters: each build loaded in two isolated interpreters, which read and
search the same 20 MB documents one after the other and then both at once,
after a warm-up read; the builds take turns, batch by batch. Prints, per
build, the median seconds of each way and the median speed-up over the
batches, then every batch's speed-up: on a virtual machine the first batches
pay for memory the host has not yet backed. With --same-str each read is
given the same str rather than a fresh copy. Its UTF-8 form is its own data
when it is ASCII, as the generated documents are, so the module does the
same work, while the benchmark no longer faults in 40 MB of new str per read.
"""

import argparse
import gc
import glob
import os
import random
import statistics
import subprocess
import sys
from concurrent import interpreters

from common import (DOCUMENTS, IMPORT_COMMON, fresh, load_build, locale_like, page_faults,
                    seconds, seconds_and_faults, seconds_on_threads)

# Mostly non-ASCII text, for what a str of such text costs; not a default.
EXTRA = {"locale-like": (lambda size: locale_like(random.Random(1), size), "ldml")}

# Walks over a read tree; a search by a name no node has visits every node.
OPERATIONS = {
    "search": lambda tree: tree.search_by_name("absent"),
    # Looks the key up in every node's attributes.
    "search_by_attr": lambda tree: tree.search_by_attr("absent"),
    "to_dict": lambda tree: tree.to_dict(),
    # The state pickle stores; pickle.dumps would look the module up by name.
    "pickle": lambda tree: tree.__reduce__(),
    "str": str,
}


def same(args):
    a, b = load_build(args.build_a), load_build(args.build_b)
    print(f"{'document':14} {'A best':>8} {'B best':>8} {'A med':>8} {'B med':>8} {'B/A speed':>10}"
          f" {'A faults':>9} {'B faults':>9}")
    for name in args.documents:
        make, root = DOCUMENTS[name] if name in DOCUMENTS else EXTRA[name]
        document = make(int(args.size * 1_000_000))
        if args.write:
            trees = {module: [module.read_string(document, root) for _ in range(args.trees)]
                     for module in (a, b)}
            calls = {module: (lambda m=module: [m.write_string(tree) for tree in trees[m]])
                     for module in (a, b)}
        elif args.op:
            trees = {module: module.read_string(document, root) for module in (a, b)}
            calls = {module: (lambda t=trees[module]: OPERATIONS[args.op](t)) for module in (a, b)}
        else:
            calls = {module: (lambda m=module: m.read_string(document, root)) for module in (a, b)}
        times = {a: [], b: []}
        faults = {a: [], b: []}
        for module in (a, b):  # warm both: the first call faults in fresh memory
            seconds_and_faults(calls[module])
        gc.collect()
        for i in range(args.rounds):
            order = (a, b) if i % 2 == 0 else (b, a)
            for module in order:
                elapsed, faulted = seconds_and_faults(calls[module])
                times[module].append(elapsed)
                faults[module].append(faulted)
        best_a, best_b = min(times[a]), min(times[b])
        med_a, med_b = statistics.median(times[a]), statistics.median(times[b])
        print(f"{name:14} {best_a * 1e3:8.2f} {best_b * 1e3:8.2f} {med_a * 1e3:8.2f}"
              f" {med_b * 1e3:8.2f} {med_a / med_b:9.3f}x"
              f" {statistics.median(faults[a]):9.0f} {statistics.median(faults[b]):9.0f}")


def small(args):
    a, b = load_build(args.build_a), load_build(args.build_b)
    make, root = DOCUMENTS["record-like"]
    document = make(args.bytes)
    paths = sorted(glob.glob(args.files)) if args.files else []
    texts = [open(path, encoding="utf-8").read() for path in paths] if args.strings else []

    def per_read(module):
        if args.held:
            copies = [fresh(text) for text in texts]
            elapsed = seconds(lambda: [module.read_string(text, args.root) for text in copies])
            del copies
            gc.collect()
            return elapsed / len(texts)
        if texts:
            def read_all():
                for text in texts:
                    module.read_string(text, args.root)
            return seconds(read_all) / len(texts)
        if paths:
            def read_all():
                for path in paths:
                    module.read_file(path, args.root)
            return seconds(read_all) / len(paths)

        def read_all():
            for _ in range(args.reads):
                module.read_string(document, root)
        return seconds(read_all) / args.reads

    times = {a: [], b: []}
    gc.disable()
    for i in range(args.timings):
        for module in (a, b) if i % 2 == 0 else (b, a):
            times[module].append(per_read(module))
    gc.enable()
    med_a, med_b = statistics.median(times[a]), statistics.median(times[b])
    print(f"A {med_a * 1e6:.3f} us  B {med_b * 1e6:.3f} us per read;"
          f" B/A speed {med_a / med_b:.3f}")


def threads_in_this_process(build, documents, size, runs):
    quorvane = load_build(build)
    for name in documents:
        make, root = DOCUMENTS[name]
        text = make(int(size * 1_000_000))
        first, second = quorvane.read_string(text, root), quorvane.read_string(text, root)
        def one_after_the_other():
            quorvane.write_string(first)
            quorvane.write_string(second)

        one, two, faults = [], [], 0
        for _ in range(runs):
            one.append(seconds(one_after_the_other))
            before = page_faults()
            two.append(seconds_on_threads(lambda: quorvane.write_string(first),
                                          lambda: quorvane.write_string(second)))
            faults += page_faults() - before
        one_ms, two_ms = statistics.median(one) * 1e3, statistics.median(two) * 1e3
        print(f"{name:<15} {one_ms:8.1f} {two_ms:8.1f} {one_ms / two_ms:8.2f}x {faults // runs:8d}")


def threads(args):
    documents = args.documents.split(",")
    if args.child:
        threads_in_this_process(args.builds[0], documents, args.size, args.runs)
        return
    print(f"{'document':<15} {'1 thread':>8} {'2 threads':>8} {'speed-up':>9} {'faults':>8}  (ms)")
    for round_number in range(args.rounds):
        for build in args.builds:
            print(f"-- round {round_number + 1}, {build}", flush=True)
            subprocess.run([sys.executable, os.path.abspath(__file__), "threads", "--child",
                            "--documents", args.documents, "--size", str(args.size),
                            "--runs", str(args.runs), os.path.abspath(build)], check=True)


INTERPRETER_SETUP = IMPORT_COMMON + """
from common import DOCUMENTS, load_build
quorvane = load_build({build!r})
make, root = DOCUMENTS[{document!r}]
texts = [make({size}) + " " * {seed}] * {rounds}
def work():
    for text in texts:
        quorvane.read_string({argument}, root).search_by_name("name")
work()
"""


def interpreter_batch(build, args):
    """(seconds one after the other, seconds both at once) of one batch on two
    fresh interpreters that load `build`."""
    argument = "text" if args.same_str else "text[:-1] + text[-1]"
    workers = [interpreters.create() for _ in range(2)]
    try:
        for seed, worker in enumerate(workers):
            worker.exec(INTERPRETER_SETUP.format(build=build, document=args.document,
                                                 size=int(args.size * 1_000_000), seed=seed,
                                                 rounds=args.rounds, argument=argument))
        one_after_other = seconds(lambda: [worker.exec("work()") for worker in workers])
        both = seconds_on_threads(*[lambda w=worker: w.exec("work()") for worker in workers])
        return one_after_other, both
    finally:
        for worker in workers:
            worker.close()


def interpreters_ab(args):
    builds = [os.path.abspath(folder) for folder in args.builds]
    results = {folder: [] for folder in builds}
    for turn in range(args.batches):
        for folder in builds if turn % 2 == 0 else builds[::-1]:
            results[folder].append(interpreter_batch(folder, args))
    for folder, times in zip(args.builds, results.values()):
        speed_ups = [one / both for one, both in times]
        print(f"{folder}: one after the other {statistics.median(t[0] for t in times):.3f} s,"
              f" both at once {statistics.median(t[1] for t in times):.3f} s,"
              f" speed-up {statistics.median(speed_ups):.2f}x"
              f" (batches: {' '.join(f'{s:.2f}' for s in speed_ups)})")


def main():
    parser = argparse.ArgumentParser(description="A/B comparisons of builds of the module")
    commands = parser.add_subparsers(required=True)

    command = commands.add_parser("same", help="reads, writes or an operation, in one process")
    command.set_defaults(run=same)
    command.add_argument("build_a")
    command.add_argument("build_b")
    command.add_argument("documents", nargs="*", default=list(DOCUMENTS))
    command.add_argument("--size", type=float, default=20.0, help="document size in MB")
    command.add_argument("--rounds", type=int, default=9)
    command.add_argument("--write", action="store_true", help="time write_string instead of reads")
    command.add_argument("--trees", type=int, default=1, help="with --write, trees written per call")
    command.add_argument("--op", choices=sorted(OPERATIONS), help="time this operation on the tree")

    command = commands.add_parser("small", help="many small reads: the cost fixed per call")
    command.set_defaults(run=small)
    command.add_argument("build_a")
    command.add_argument("build_b")
    command.add_argument("--bytes", type=int, default=2000, help="size of the record-like document")
    command.add_argument("--reads", type=int, default=5000, help="reads per timing")
    command.add_argument("--timings", type=int, default=40)
    command.add_argument("--files", help="a glob of files to read by path, each timing")
    command.add_argument("--root", help="the root tag of those files")
    command.add_argument("--strings", action="store_true",
                         help="read the files' texts, not their paths")
    command.add_argument("--held", action="store_true",
                         help="hold each timing's trees, read from fresh texts")

    command = commands.add_parser("threads", help="two threads writing, a process per build")
    command.set_defaults(run=threads)
    command.add_argument("builds", nargs="+")
    command.add_argument("--documents", default="record-like,text-heavy")
    command.add_argument("--size", type=float, default=20.0)
    command.add_argument("--rounds", type=int, default=3)
    command.add_argument("--runs", type=int, default=7, help=argparse.SUPPRESS)
    command.add_argument("--child", action="store_true", help=argparse.SUPPRESS)

    command = commands.add_parser("interpreters", help="two isolated interpreters per build")
    command.set_defaults(run=interpreters_ab)
    command.add_argument("builds", nargs=2, help="two build folders holding the module")
    command.add_argument("--document", choices=sorted(DOCUMENTS), default="record-like")
    command.add_argument("--size", type=float, default=20.0, help="MB of each document")
    command.add_argument("--rounds", type=int, default=3, help="reads of the document per batch")
    command.add_argument("--batches", type=int, default=10)
    command.add_argument("--same-str", action="store_true", help="no fresh str per read")

    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
