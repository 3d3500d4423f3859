"""A/B of two builds of the module on many reads of one small document, in
one process: the cost fixed per call, which a read of 20 MB hides. Both
shared objects are loaded side by side (as bench/ab_same.py does) and their
timings alternate. With --files, each timing reads every file a glob names
by its path instead (read_file), as a program reading a corpus does; with
--strings as well, from each file's text read once (read_string), which
leaves out the system's file calls; with --held too, from a fresh copy of
each text, every tree of a timing held until it ends, as a program that
keeps a corpus does.

    python3 bench/ab_small.py BUILD_A BUILD_B [--bytes N] [--reads N] [--timings N]
        [--files GLOB --root TAG [--strings [--held]]]
"""

import argparse
import gc
import glob
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from ab_same import load  # noqa: E402
from documents import DOCUMENTS, fresh  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_a")
    parser.add_argument("build_b")
    parser.add_argument("--bytes", type=int, default=2000, help="size of the record-like document")
    parser.add_argument("--reads", type=int, default=5000, help="reads per timing")
    parser.add_argument("--timings", type=int, default=40)
    parser.add_argument("--files", help="a glob of files to read by path, each timing")
    parser.add_argument("--root", help="the root tag of those files")
    parser.add_argument("--strings", action="store_true", help="read the files' texts, not their paths")
    parser.add_argument("--held", action="store_true", help="hold each timing's trees, read from fresh texts")
    args = parser.parse_args()
    a, b = load(args.build_a), load(args.build_b)
    make, root = DOCUMENTS["record-like"]
    document = make(args.bytes)
    paths = sorted(glob.glob(args.files)) if args.files else []
    texts = [open(path, encoding="utf-8").read() for path in paths] if args.strings else []

    def timed(module):
        if args.held:
            copies = [fresh(text) for text in texts]
            start = time.perf_counter()
            held = [module.read_string(text, args.root) for text in copies]
            elapsed = time.perf_counter() - start
            del held, copies
            gc.collect()
            return elapsed / len(texts)
        start = time.perf_counter()
        if texts:
            for text in texts:
                module.read_string(text, args.root)
            return (time.perf_counter() - start) / len(texts)
        if paths:
            for path in paths:
                module.read_file(path, args.root)
            return (time.perf_counter() - start) / len(paths)
        for _ in range(args.reads):
            module.read_string(document, root)
        return (time.perf_counter() - start) / args.reads

    times = {a: [], b: []}
    gc.disable()
    for i in range(args.timings):
        for module in (a, b) if i % 2 == 0 else (b, a):
            times[module].append(timed(module))
    gc.enable()
    med_a, med_b = statistics.median(times[a]), statistics.median(times[b])
    print(f"A {med_a * 1e6:.3f} us  B {med_b * 1e6:.3f} us per read;"
          f" B/A speed {med_a / med_b:.3f}")


if __name__ == "__main__":
    main()
