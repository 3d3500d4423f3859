"""A driver for profiling write_string: reads a record-like document once,
then writes its tree a few times, so a profiler's counts are mostly the
writer's.

    PYTHONPATH=build valgrind --tool=callgrind python3 bench/profile_write.py [--size MB]
    callgrind_annotate callgrind.out.<pid> | head -40
"""

import argparse
import os
import sys

import quorvane

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import record_like  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=5.0, help="document size in MB")
    parser.add_argument("--writes", type=int, default=3)
    args = parser.parse_args()
    tree = quorvane.read_string(record_like(int(args.size * 1_000_000)), "catalog")
    for _ in range(args.writes):
        quorvane.write_string(tree)


if __name__ == "__main__":
    main()
