"""Drivers to run under a profiler (perf, callgrind): loops whose counts are
mostly the module's own work.

    tools/toolchain run tools/fetch-documents
    PYTHONPATH=build-prof perf record -g python3 bench/profile_drivers.py small-reads
        [--str [--cached]] [--held] [--rounds N] [--files GLOB --root TAG] [--faults]
    PYTHONPATH=build valgrind --tool=callgrind python3 bench/profile_drivers.py write \\
        [--document record-like] [--size MB] [--writes N] [--file PATH | --search] [--pause S]
    PYTHONPATH=build python3 bench/profile_drivers.py write --document deeply-nested --size 20 \\
        --writes 4 --pause 3
    callgrind_annotate callgrind.out.<pid> | head -40

small-reads: every file of a corpus (the CLDR locale files unless --files
names others) read from its path, or from a fresh str (with --cached, a str
read before), and released, for a number of rounds; with --held, a round's
trees are released only when it ends. With --faults, each round prints its
page faults and time per file, and how much the resident set grew while it
read (with --held: what the trees keep, with the strs' UTF-8 forms), as the
profile of a held corpus asks: how much of a read is fresh memory.

write: reads one of the benchmark documents once, then writes its tree with
write_string (or write_file, with --file PATH, or searches by a name no node
has, with --search) a few times. With --pause S it idles S seconds before
each write (or search) and prints its time: on a virtual machine that hands
freed memory back to its host, a write after a pause of a few seconds shows
what fresh memory costs there.
"""

import argparse
import glob
import os
import time

import quorvane

from common import BENCH, DOCUMENTS, fresh, page_faults, resident_bytes, seconds

CLDR = os.path.join(BENCH, "..", "build", "documents", "unicode-cldr-core", "usr", "share",
                    "unicode", "cldr", "common", "main", "*.xml")


def small_reads(args):
    paths = sorted(glob.glob(args.files))
    texts = [open(path, encoding="utf-8").read() for path in paths] if args.str else None
    read = quorvane.read_string if texts else quorvane.read_file
    for _ in range(args.rounds):
        # The fresh strs are made before the round, so that it counts only the reads.
        inputs = (texts if args.cached else [fresh(text) for text in texts]) if texts else paths
        held = []

        def read_round():
            for item in inputs:
                tree = read(item, args.root)
                if args.held:
                    held.append(tree)

        resident = resident_bytes()
        faults = page_faults()
        elapsed = seconds(read_round)
        faults = page_faults() - faults
        grown = (resident_bytes() - resident) / 1e6
        del held, inputs
        if args.faults:
            print(f"{faults / len(paths):.1f} page faults and {elapsed / len(paths) * 1e6:.0f} us"
                  f" per file; resident set +{grown:.1f} MB")


def write(args):
    make, root = DOCUMENTS[args.document]
    tree = quorvane.read_string(make(int(args.size * 1_000_000)), root)
    if args.search:
        work = lambda: tree.search_by_name("absent")  # noqa: E731
    elif args.file:
        work = lambda: quorvane.write_file(tree, args.file)  # noqa: E731
    else:
        work = lambda: quorvane.write_string(tree)  # noqa: E731
    for _ in range(args.writes):
        if args.pause is None:
            work()
            continue
        time.sleep(args.pause)
        print(f"{seconds(work) * 1e3:.0f} ms after {args.pause:g} s idle")


def main():
    parser = argparse.ArgumentParser(description="drivers to run under a profiler")
    commands = parser.add_subparsers(required=True)

    command = commands.add_parser("small-reads", help="a loop of small real reads")
    command.set_defaults(run=small_reads)
    command.add_argument("--rounds", type=int, default=20)
    command.add_argument("--str", action="store_true", help="read from a fresh str, not the path")
    command.add_argument("--cached", action="store_true",
                         help="with --str: from the same str each round, its UTF-8 form cached,"
                              " which leaves only quorvane's own work")
    command.add_argument("--held", action="store_true", help="hold a round's trees until it ends")
    command.add_argument("--files", default=CLDR, help="a glob of the files to read")
    command.add_argument("--root", default="ldml", help="the root tag of those files")
    command.add_argument("--faults", action="store_true", help="print each round's faults and time")

    command = commands.add_parser("write", help="write_string, write_file or a search, repeated")
    command.set_defaults(run=write)
    command.add_argument("--document", choices=DOCUMENTS, default="record-like")
    command.add_argument("--size", type=float, default=5.0, help="document size in MB")
    command.add_argument("--writes", type=int, default=3)
    command.add_argument("--file", help="write_file to this path instead of write_string")
    command.add_argument("--search", action="store_true",
                         help="search by a name no node has instead of writing")
    command.add_argument("--pause", type=float,
                         help="idle this many seconds before each write or search, and print its time")

    args = parser.parse_args()
    args.run(args)


if __name__ == "__main__":
    main()
