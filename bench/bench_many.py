"""Many documents, as a program that loads a folder of configuration files
or a stream of API responses reads them, next to lxml and ElementTree in
one run:

- small documents (100 B to 2 KB, with and without attributes, ASCII and
  non-ASCII text), each read from a fresh str and dropped, then all their
  trees held and each written to a str;
- documents of 20 to 100 KB, locale-data-like with mostly non-ASCII text,
  each read from a fresh str and all trees held at once: throughput and the
  resident memory each held tree keeps (its str dropped), measured in a
  fresh interpreter per library.

A str that was never read before has no cached UTF-8 form, which is what a
program reading files or the network hands over; so every read here gets a
str of its own, made outside the timing.

    PYTHONPATH=build python3 bench/bench_many.py [--small N] [--held N]
"""

import argparse
import gc
import json
import os
import random
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import NON_ASCII_WORDS, WORDS, locale_like, small_document  # noqa: E402

# Each library gets the input it reads best: lxml the encoded bytes (a str
# with an encoding declaration it refuses), the others a str.
READERS = {
    "quorvane": lambda text, root: quorvane.read_string(text, root),
    "lxml": lambda blob, root: lxml.etree.fromstring(blob),
    "ET": lambda text, root: ElementTree.fromstring(text),
}


# Each writes a str: lxml indented like quorvane, ElementTree as it only can.
WRITERS = {
    "quorvane": quorvane.write_string,
    "lxml": lambda tree: lxml.etree.tostring(tree, pretty_print=True, encoding="unicode"),
    "ET": lambda tree: ElementTree.tostring(tree, encoding="unicode"),
}


def inputs(library, blobs):
    """Fresh inputs for one run, made outside the timing."""
    return list(blobs) if library == "lxml" else [blob.decode() for blob in blobs]

SMALL_KINDS = {
    "attrs, ASCII": (True, WORDS),
    "attrs, non-ASCII": (True, NON_ASCII_WORDS),
    "no attrs, ASCII": (False, WORDS),
    "no attrs, non-ASCII": (False, NON_ASCII_WORDS),
}


def small_corpus(kind, count):
    """`count` encoded documents of 100 B to 2 KB (a few hundred distinct ones)."""
    attributes, words = SMALL_KINDS[kind]
    rng = random.Random(5)
    distinct = [small_document(rng, rng.randint(100, 2000), attributes, words).encode()
                for _ in range(500)]
    root = "cfg" if attributes else "msg"
    return [distinct[i % len(distinct)] for i in range(count)], root


def timed_reads(library, blobs, root):
    """Seconds to read every blob, each from a fresh input, dropping each tree."""
    read = READERS[library]
    texts = inputs(library, blobs)
    gc.collect()
    start = time.perf_counter()
    for text in texts:
        read(text, root)
    return time.perf_counter() - start


def timed_writes(library, trees):
    """Seconds to write every one of the held trees, dropping each str."""
    write = WRITERS[library]
    gc.collect()
    start = time.perf_counter()
    for tree in trees:
        write(tree)
    return time.perf_counter() - start


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def held_corpus(count):
    rng = random.Random(6)
    return [locale_like(rng, rng.randint(20_000, 100_000)).encode() for _ in range(count)]


def held_probe(library, count):
    """In a fresh interpreter: seconds to read `count` held documents, and
    the resident bytes their trees keep once the inputs are dropped."""
    blobs = held_corpus(count)
    read = READERS[library]
    texts = inputs(library, blobs)
    gc.collect()
    base = resident_bytes()
    start = time.perf_counter()
    trees = [read(text, "ldml") for text in texts]
    elapsed = time.perf_counter() - start
    del texts
    gc.collect()
    held = resident_bytes() - base
    assert len(trees) == count
    return {"seconds": elapsed, "held": held, "bytes": sum(map(len, blobs))}


def measure(small, held):
    """Microseconds per small read for every library and kind, and for the
    held documents the seconds and resident bytes, each library measured in
    a fresh interpreter."""
    small_rows = []
    for kind in SMALL_KINDS:
        blobs, root = small_corpus(kind, small)
        row = {"kind": kind, "bytes": sum(map(len, blobs)) / len(blobs)}
        row["written"] = {}
        for library in READERS:
            best = min(timed_reads(library, blobs, root) for _ in range(3))
            row[library] = best / len(blobs) * 1e6
            trees = [READERS[library](text, root) for text in inputs(library, blobs)]
            best = min(timed_writes(library, trees) for _ in range(3))
            row["written"][library] = best / len(blobs) * 1e6
            del trees
        small_rows.append(row)
    held_rows = {}
    for library in READERS:
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--probe", library,
                              str(held)], capture_output=True, text=True, check=True)
        held_rows[library] = json.loads(out.stdout)
    return {"small": small_rows, "held": held_rows}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--small", type=int, default=100_000, help="small reads per kind")
    parser.add_argument("--held", type=int, default=2_000, help="documents held at once")
    parser.add_argument("--probe", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.probe:
        print(json.dumps(held_probe(args.probe[0], int(args.probe[1]))))
        return
    figures = measure(args.small, args.held)

    print(f"{args.small:,} small documents per kind, each from a fresh str, trees dropped;"
          " best of 3 runs; ratio = quorvane speed / other speed\n")
    header = (f"{'kind':20} {'avg B':>6} {'quorvane µs':>12} {'lxml µs':>8} {'ET µs':>7}"
              f" {'MB/s':>6} {'vs lxml':>8} {'vs ET':>6}")
    print(header)
    print("-" * len(header))
    for r in figures["small"]:
        ours = r["quorvane"]
        print(f"{r['kind']:20} {r['bytes']:6.0f} {ours:12.2f} {r['lxml']:8.2f} {r['ET']:7.2f}"
              f" {r['bytes'] / ours:6.0f} {r['lxml'] / ours:7.2f}x {r['ET'] / ours:5.2f}x")

    print("\nthe same documents' trees, all held, each written to a str; best of 3 runs\n")
    print(header)
    print("-" * len(header))
    for r in figures["small"]:
        written = r["written"]
        ours = written["quorvane"]
        print(f"{r['kind']:20} {r['bytes']:6.0f} {ours:12.2f} {written['lxml']:8.2f}"
              f" {written['ET']:7.2f} {r['bytes'] / ours:6.0f} {written['lxml'] / ours:7.2f}x"
              f" {written['ET'] / ours:5.2f}x")

    print(f"\n{args.held:,} locale-like documents of 20-100 KB, each from a fresh str, all trees"
          " held; resident memory per tree with its str dropped (fresh interpreter per library)\n")
    header = f"{'library':10} {'MB/s':>7} {'KB held/tree':>13} {'quorvane speed':>15} {'held/quorvane':>14}"
    print(header)
    print("-" * len(header))
    results = figures["held"]
    ours = results["quorvane"]
    for library, r in results.items():
        print(f"{library:10} {r['bytes'] / r['seconds'] / 1e6:7.0f} {r['held'] / args.held / 1e3:13.1f}"
              f" {r['seconds'] / ours['seconds']:14.2f}x {r['held'] / ours['held']:13.2f}x")

if __name__ == "__main__":
    main()
