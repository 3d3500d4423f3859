"""The corpus example's work given to one started pool several times in a
row, per batch: where an interpreter pool and a process pool differ in the
first batch only (each worker still importing its modules) and where they
differ in every batch.

    PYTHONPATH=build python3 bench/pool_batches.py FOLDER ROOT_TAG NAME [--batches N] [--workers N]
"""

import argparse
import glob
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
import corpus  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("root_tag")
    parser.add_argument("name")
    parser.add_argument("--batches", type=int, default=4)
    parser.add_argument("--workers", type=int, default=2)
    args = parser.parse_args()
    paths = sorted(glob.glob(os.path.join(args.folder, "*.xml")))
    for way, make in corpus.POOLS.items():
        with corpus.started(make(args.workers), args.workers) as pool:
            seconds = []
            for _ in range(args.batches):
                start = time.perf_counter()
                corpus.on_pool(pool, corpus.count_batch, paths, args.root_tag, args.name,
                               args.workers)
                seconds.append(time.perf_counter() - start)
        print(f"{way}: " + ", ".join(f"{s:.3f} s" for s in seconds))


if __name__ == "__main__":
    main()
