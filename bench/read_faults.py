"""Page faults and system time per read of one large document: where a read
still meets fresh memory. First the process's very first read, with how far
it grew the peak resident set (the read's working memory: structural index,
records, tree, beside the str it reads); on a virtual machine whose host
takes freed memory back, it also pays for pages the host must back again.
Then each part runs twice untimed, and five times counted.

    PYTHONPATH=build python3 bench/read_faults.py [--document NAME] [--size MB]
"""

import argparse
import os
import resource
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS  # noqa: E402

import quorvane  # noqa: E402


def first_read(text, root):
    document = text[:-1] + text[-1]
    document.encode()  # made outside the timing, so that only the read counts
    before, start = resource.getrusage(resource.RUSAGE_SELF), time.perf_counter()
    tree = quorvane.read_string(document, root)
    elapsed, after = time.perf_counter() - start, resource.getrusage(resource.RUSAGE_SELF)
    del tree
    print(f"{'the first read':20} {elapsed * 1e3:7.1f} ms;"
          f" {after.ru_minflt - before.ru_minflt:7d} page faults;"
          f" peak resident set +{(after.ru_maxrss - before.ru_maxrss) / 1024:.1f} MB")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--document", choices=sorted(DOCUMENTS), default="record-like")
    parser.add_argument("--size", type=float, default=20.0, help="MB of the document")
    args = parser.parse_args()
    make, root = DOCUMENTS[args.document]
    text = make(int(args.size * 1_000_000))
    first_read(text, root)
    parts = {
        "a fresh str alone": lambda: text[:-1] + text[-1],
        "read, the same str": lambda: quorvane.read_string(text, root),
        "read, a fresh str": lambda: quorvane.read_string(text[:-1] + text[-1], root),
    }
    for name, part in parts.items():
        for _ in range(2):
            part()
        before, start = resource.getrusage(resource.RUSAGE_SELF), time.perf_counter()
        for _ in range(5):
            part()
        elapsed, after = (time.perf_counter() - start) / 5, resource.getrusage(resource.RUSAGE_SELF)
        print(f"{name:20} {elapsed * 1e3:7.1f} ms, of which system {(after.ru_stime - before.ru_stime) / 5 * 1e3:5.1f} ms;"
              f" {(after.ru_minflt - before.ru_minflt) / 5:7.0f} page faults")


if __name__ == "__main__":
    main()
