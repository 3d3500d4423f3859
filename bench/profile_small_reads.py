"""A loop of small real reads to run under a profiler: every file of a
corpus read (from its path, or from a fresh str) and released, for a number
of rounds; with --held, a round's trees are released only when it ends.

    tools/toolchain run tools/fetch-documents
    PYTHONPATH=build-prof perf record -g python3 bench/profile_small_reads.py [--str] [--held] [--rounds N]
"""

import argparse
import glob
import os

import quorvane

HERE = os.path.dirname(os.path.abspath(__file__))
CLDR = os.path.join(HERE, "..", "build", "documents", "unicode-cldr-core", "usr", "share", "unicode",
                    "cldr", "common", "main", "*.xml")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--str", action="store_true", help="read from a fresh str, not the path")
    parser.add_argument("--held", action="store_true", help="hold a round's trees until it ends")
    args = parser.parse_args()
    paths = sorted(glob.glob(CLDR))
    texts = [open(path, encoding="utf-8").read() for path in paths] if args.str else None
    if texts:
        reads = [lambda text=text: quorvane.read_string(text[:-1] + text[-1], "ldml")
                 for text in texts]
    else:
        reads = [lambda path=path: quorvane.read_file(path, "ldml") for path in paths]
    for _ in range(args.rounds):
        held = []
        for read in reads:
            tree = read()
            if args.held:
                held.append(tree)
        del held


if __name__ == "__main__":
    main()
