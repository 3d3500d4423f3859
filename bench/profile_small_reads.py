"""A loop of small real reads to run under a profiler: every file of a
corpus (the CLDR locale files unless --files names others) read from its
path, or from a fresh str (with --cached, a str read before), and released,
for a number of rounds; with --held, a round's trees are released only when
it ends. With --faults, each round prints its page faults and time per
file, and how much the resident set grew while it read (with --held: what
the trees keep, with the strs' UTF-8 forms), as the profile of a held
corpus asks: how much of a read is fresh memory.

    tools/toolchain run tools/fetch-documents
    PYTHONPATH=build-prof perf record -g python3 bench/profile_small_reads.py [--str [--cached]] [--held]
        [--rounds N] [--files GLOB --root TAG] [--faults]
"""

import argparse
import glob
import os
import resource
import time

import quorvane
from documents import fresh

HERE = os.path.dirname(os.path.abspath(__file__))
CLDR = os.path.join(HERE, "..", "build", "documents", "unicode-cldr-core", "usr", "share", "unicode",
                    "cldr", "common", "main", "*.xml")


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 1e6


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--str", action="store_true", help="read from a fresh str, not the path")
    parser.add_argument("--cached", action="store_true",
                        help="with --str: from the same str each round, its UTF-8 form cached,"
                             " which leaves only quorvane's own work")
    parser.add_argument("--held", action="store_true", help="hold a round's trees until it ends")
    parser.add_argument("--files", default=CLDR, help="a glob of the files to read")
    parser.add_argument("--root", default="ldml", help="the root tag of those files")
    parser.add_argument("--faults", action="store_true", help="print each round's faults and time")
    args = parser.parse_args()
    paths = sorted(glob.glob(args.files))
    texts = [open(path, encoding="utf-8").read() for path in paths] if args.str else None
    for _ in range(args.rounds):
        # The fresh strs are made before the round, so that it counts only the reads.
        inputs = (texts if args.cached else [fresh(text) for text in texts]) if texts else paths
        read = quorvane.read_string if texts else quorvane.read_file
        resident = resident_mb()
        faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
        start = time.perf_counter()
        held = []
        for item in inputs:
            tree = read(item, args.root)
            if args.held:
                held.append(tree)
        elapsed = time.perf_counter() - start
        faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults
        grown = resident_mb() - resident
        del held, inputs
        if args.faults:
            print(f"{faults / len(paths):.1f} page faults and {elapsed / len(paths) * 1e6:.0f} us"
                  f" per file; resident set +{grown:.1f} MB")


if __name__ == "__main__":
    main()
