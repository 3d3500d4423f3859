"""A driver for profiling write_string (or write_file, with --file PATH, or
a search that visits every node, with --search): reads one of the benchmark
documents once, then writes (or searches) its tree a few times, so a
profiler's counts are mostly the writer's (or the tree walk's).

With --pause S it idles S seconds before each write (or search) and prints
its time: on a virtual machine that hands freed memory back to its host, a
write after a pause of a few seconds shows what fresh memory costs there.

    PYTHONPATH=build valgrind --tool=callgrind python3 bench/profile_write.py \
        [--document record-like] [--size MB] [--writes N] [--file PATH | --search] [--pause S]
    PYTHONPATH=build python3 bench/profile_write.py --document deeply-nested --size 20 --writes 4 --pause 3
    perf record -- python3 bench/profile_write.py --writes 100
    callgrind_annotate callgrind.out.<pid> | head -40
"""

import argparse
import os
import sys
import time

import quorvane

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--document", choices=DOCUMENTS, default="record-like")
    parser.add_argument("--size", type=float, default=5.0, help="document size in MB")
    parser.add_argument("--writes", type=int, default=3)
    parser.add_argument("--file", help="write_file to this path instead of write_string")
    parser.add_argument("--search", action="store_true",
                        help="search by a name no node has instead of writing")
    parser.add_argument("--pause", type=float,
                        help="idle this many seconds before each write or search, and print its time")
    args = parser.parse_args()
    make, root = DOCUMENTS[args.document]
    tree = quorvane.read_string(make(int(args.size * 1_000_000)), root)
    for _ in range(args.writes):
        if args.pause is not None:
            time.sleep(args.pause)
        start = time.perf_counter()
        if args.search:
            tree.search_by_name("absent")
        elif args.file:
            quorvane.write_file(tree, args.file)
        else:
            quorvane.write_string(tree)
        if args.pause is not None:
            print(f"{(time.perf_counter() - start) * 1e3:.0f} ms after {args.pause:g} s idle")


if __name__ == "__main__":
    main()
