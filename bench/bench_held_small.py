"""Many trees of one small document with attributes, all held at once, next
to lxml: resident growth and time per read, each read from a fresh str.

    PYTHONPATH=build python3 bench/bench_held_small.py [quorvane|lxml] [COUNT]
"""

import os
import sys
import time

import lxml.etree

import quorvane

DOCUMENT = '<cfg version="1"><item key="a">1</item><item key="b">2</item></cfg>'


def resident_mb():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 1e6


def main():
    library = sys.argv[1] if len(sys.argv) > 1 else "quorvane"
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 10_000
    texts = [DOCUMENT.replace("1", str(i % 10), 1) for i in range(count)]
    read = (lambda text: quorvane.read_string(text, "cfg")) if library == "quorvane" else \
        (lambda text: lxml.etree.fromstring(text))
    base = resident_mb()
    start = time.perf_counter()
    held = [read(text) for text in texts]
    elapsed = time.perf_counter() - start
    del texts
    print(f"{library}: {len(held):,} trees held, +{resident_mb() - base:.1f} MB resident,"
          f" {elapsed / count * 1e6:.2f} µs per read")


if __name__ == "__main__":
    main()
