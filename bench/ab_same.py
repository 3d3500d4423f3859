"""A/B of two builds of the module in one process: both shared objects are
loaded side by side and their reads (or writes) alternate, so the machine's drift
between sittings falls on both alike (a build against itself gives ratios
within about 1% of 1.0).

    python3 bench/ab_same.py BUILD_A BUILD_B [document ...] [--size MB] [--rounds N]
        [--write [--trees N]] [--op OPERATION]

BUILD_A and BUILD_B are build folders holding the module; documents are
names from documents.py (all of them by default), or locale-like. Prints, per document, the
best and median milliseconds per read (with --write: per write_string of
the tree each build read; with --trees N, per write of N trees each build
holds, one after another, as a program holding many small documents does;
with --op, per search, to_dict or pickling of the tree each build read)
of each build, B's speed over A's,
and the median page faults per read of each (fresh pages a read faults in
often cost more than its parsing).
"""

import argparse
import gc
import glob
import resource
import importlib.machinery
import importlib.util
import os
import random
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS, locale_like  # noqa: E402

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


def load(folder):
    paths = glob.glob(os.path.join(folder, "quorvane*.so"))
    if len(paths) != 1:
        sys.exit(f"ab_same: expected one module in {folder}, found {len(paths)}")
    loader = importlib.machinery.ExtensionFileLoader("quorvane", paths[0])
    spec = importlib.util.spec_from_file_location("quorvane", paths[0], loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def timed(call):
    """Seconds and minor page faults of one call, the release of its result
    not included."""
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    start = time.perf_counter()
    result = call()
    elapsed = time.perf_counter() - start
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults
    del result
    return elapsed, faults


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_a")
    parser.add_argument("build_b")
    parser.add_argument("documents", nargs="*", default=list(DOCUMENTS))
    parser.add_argument("--size", type=float, default=20.0, help="document size in MB")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--write", action="store_true", help="time write_string instead of reads")
    parser.add_argument("--trees", type=int, default=1, help="with --write, trees written per call")
    parser.add_argument("--op", choices=sorted(OPERATIONS), help="time this operation on the tree")
    args = parser.parse_args()
    a, b = load(args.build_a), load(args.build_b)
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
            timed(calls[module])
        gc.collect()
        for i in range(args.rounds):
            order = (a, b) if i % 2 == 0 else (b, a)
            for module in order:
                seconds, faulted = timed(calls[module])
                times[module].append(seconds)
                faults[module].append(faulted)
        best_a, best_b = min(times[a]), min(times[b])
        med_a, med_b = statistics.median(times[a]), statistics.median(times[b])
        print(f"{name:14} {best_a * 1e3:8.2f} {best_b * 1e3:8.2f} {med_a * 1e3:8.2f}"
              f" {med_b * 1e3:8.2f} {med_a / med_b:9.3f}x"
              f" {statistics.median(faults[a]):9.0f} {statistics.median(faults[b]):9.0f}")


if __name__ == "__main__":
    main()
