"""What one read of a large generated document costs the process: the first
read in a fresh process against later ones, with the page faults of each,
and how far the process's peak resident set grew during the first. On a
virtual machine whose host takes freed memory back, the first read pays for
pages the host must back again; the growth is the read's working memory
(structural index, records, tree), beside the str it reads.

    PYTHONPATH=build python3 bench/first_reads.py [--document NAME] [--size MB] [--reads N]
"""

import argparse
import os
import resource
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quorvane  # noqa: E402
from documents import DOCUMENTS, fresh  # noqa: E402


def usage():
    own = resource.getrusage(resource.RUSAGE_SELF)
    return own.ru_minflt, own.ru_maxrss / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--document", choices=sorted(DOCUMENTS), default="record-like")
    parser.add_argument("--size", type=float, default=20.0, help="MB of the document")
    parser.add_argument("--reads", type=int, default=5)
    args = parser.parse_args()
    make, root = DOCUMENTS[args.document]
    text = make(int(args.size * 1_000_000))
    for read in range(args.reads):
        # Made outside the timing, so that only the read is counted.
        document = fresh(text)
        document.encode()
        faults, peak = usage()
        start = time.perf_counter()
        tree = quorvane.read_string(document, root)
        elapsed = time.perf_counter() - start
        after_faults, after_peak = usage()
        del tree, document
        line = f"read {read + 1}: {elapsed * 1e3:7.1f} ms, {after_faults - faults:6d} page faults"
        if read == 0:
            line += f", peak resident set +{after_peak - peak:.1f} MB"
        print(line)


if __name__ == "__main__":
    main()
