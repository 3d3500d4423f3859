"""Two-thread speed-up of write_string for each of several builds, each in a
process of its own (one process per build and round, alternating), so that
one build's kept memory and threads never meet another's.

    python3 bench/ab_threads.py BUILD [BUILD ...] [--documents record-like,text-heavy]
        [--size MB] [--rounds N]

Prints, per round, build and document, the milliseconds of writing two
trees one after the other and at once on two threads, the speed-up, and
the page faults of the two-thread runs. On a machine shared with others
the speed-up of one build varies from round to round; compare ranges.
"""

import argparse
import os
import resource
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def measure(documents, size, runs):
    sys.path.insert(0, HERE)
    import quorvane
    from documents import DOCUMENTS
    from timing import seconds_on_threads

    for name in documents:
        make, root = DOCUMENTS[name]
        text = make(int(size * 1_000_000))
        first, second = quorvane.read_string(text, root), quorvane.read_string(text, root)
        one, two, faults = [], [], 0
        for _ in range(runs):
            start = time.perf_counter()
            quorvane.write_string(first)
            quorvane.write_string(second)
            one.append(time.perf_counter() - start)
            before = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
            two.append(seconds_on_threads(lambda: quorvane.write_string(first),
                                          lambda: quorvane.write_string(second)))
            faults += resource.getrusage(resource.RUSAGE_SELF).ru_minflt - before
        one_ms, two_ms = statistics.median(one) * 1e3, statistics.median(two) * 1e3
        print(f"{name:<15} {one_ms:8.1f} {two_ms:8.1f} {one_ms / two_ms:8.2f}x {faults // runs:8d}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("builds", nargs="+")
    parser.add_argument("--documents", default="record-like,text-heavy")
    parser.add_argument("--size", type=float, default=20.0)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--runs", type=int, default=7, help=argparse.SUPPRESS)
    parser.add_argument("--child", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    documents = args.documents.split(",")
    if args.child:
        measure(documents, args.size, args.runs)
        return
    print(f"{'document':<15} {'1 thread':>8} {'2 threads':>8} {'speed-up':>9} {'faults':>8}  (ms)")
    for round_number in range(args.rounds):
        for build in args.builds:
            print(f"-- round {round_number + 1}, {build}", flush=True)
            environment = dict(os.environ, PYTHONPATH=os.path.abspath(build))
            subprocess.run([sys.executable, os.path.abspath(__file__), "--child", "--documents",
                            args.documents, "--size", str(args.size), "--runs", str(args.runs),
                            build], env=environment, check=True, cwd=HERE)


if __name__ == "__main__":
    main()
