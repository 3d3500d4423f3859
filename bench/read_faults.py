"""Page faults and system time per read of one large document: where a warm
read still meets fresh memory. Each part runs twice untimed, then five times
counted.

    PYTHONPATH=build python3 bench/read_faults.py [--size MB]
"""

import argparse
import os
import resource
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS  # noqa: E402

import quorvane  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=20.0, help="MB of the document")
    args = parser.parse_args()
    make, root = DOCUMENTS["record-like"]
    text = make(int(args.size * 1_000_000))
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
