"""Reading, next to lxml and ElementTree, in one process and one run:

- generated documents of at least 20 MB, from a str and from a file; then
  the resident memory a returned tree keeps alive, measured in a fresh
  interpreter per library so that one library's freed memory does not mask
  the other's growth;
- many documents, as a program that loads a folder of configuration files
  or a stream of API responses reads them: small documents (100 B to 2 KB,
  with and without attributes, ASCII and non-ASCII text), each read from a
  fresh str and dropped, then all their trees held and each written to a
  str; and documents of 20 to 100 KB, locale-data-like with mostly
  non-ASCII text, each read from a fresh str and all trees held at once:
  throughput and the resident memory each held tree keeps (its str
  dropped), measured in a fresh interpreter per library.

A str that was never read before has no cached UTF-8 form, which is what a
program reading files or the network hands over; so every read of many
documents gets a str of its own, made outside the timing.

    PYTHONPATH=build python3 bench/bench_read.py [--size MB] [--runs N] [--small N] [--held N]

Build with the default Release configuration first (make build).
"""

import argparse
import gc
import json
import os
import random
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane

from common import (DOCUMENTS, IMPORT_COMMON, NON_ASCII_WORDS, WORDS, document_arguments,
                    locale_like, median_seconds, print_heading, resident_bytes, seconds,
                    small_document)

# Run in a fresh interpreter per library so that one library's freed memory
# does not mask the other's growth.
MEMORY_PROBE = IMPORT_COMMON + """
import gc
from common import DOCUMENTS, resident_bytes
import lxml.etree, quorvane
make, root = DOCUMENTS[{name!r}]
gc.collect()
base = resident_bytes()
document = make({size})
if {library!r} == "quorvane":
    tree = quorvane.read_string(document, root)
else:
    tree = lxml.etree.fromstring(document.encode())
del document
gc.collect()
print(resident_bytes() - base)
"""


def memory_growth(name, size, library):
    probe = MEMORY_PROBE.format(name=name, size=size, library=library)
    out = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                         check=True, env=os.environ.copy())
    return int(out.stdout)


def measure(size, runs, documents=DOCUMENTS):
    """Seconds per read for every library and document, and the resident
    bytes a held tree keeps: rows of plain numbers for printing or charts."""
    strings, files, memory = [], [], []
    with tempfile.TemporaryDirectory() as directory:
        for name, (make, root) in documents.items():
            document = make(size)
            data = document.encode()
            mb = len(data) / 1e6
            strings.append({
                "document": name, "mb": mb,
                "quorvane": median_seconds(lambda: quorvane.read_string(document, root), runs),
                "lxml": median_seconds(lambda: lxml.etree.fromstring(data), runs),
                "ET": median_seconds(lambda: ElementTree.fromstring(document), runs),
            })
            path = os.path.join(directory, name + ".xml")
            with open(path, "wb") as f:
                f.write(data)
            del document, data
            files.append({
                "document": name, "mb": mb,
                "quorvane": median_seconds(lambda: quorvane.read_file(path, root), runs),
                "lxml": median_seconds(lambda: lxml.etree.parse(path), runs),
            })
    for name in documents:
        memory.append({"document": name,
                       "quorvane": memory_growth(name, size, "quorvane"),
                       "lxml": memory_growth(name, size, "lxml")})
    return {"read_string": strings, "read_file": files, "memory": memory}


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

    def read_all():
        for text in texts:
            read(text, root)

    gc.collect()
    return seconds(read_all)


def timed_writes(library, trees):
    """Seconds to write every one of the held trees, dropping each str."""
    write = WRITERS[library]

    def write_all():
        for tree in trees:
            write(tree)

    gc.collect()
    return seconds(write_all)


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
    trees = []
    elapsed = seconds(lambda: trees.extend([read(text, "ldml") for text in texts]))
    del texts
    gc.collect()
    held = resident_bytes() - base
    assert len(trees) == count
    return {"seconds": elapsed, "held": held, "bytes": sum(map(len, blobs))}


def measure_many(small, held):
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
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--held-probe", library,
                              str(held)], capture_output=True, text=True, check=True)
        held_rows[library] = json.loads(out.stdout)
    return {"small": small_rows, "held": held_rows}


def print_large(args):
    figures = measure(int(args.size * 1_000_000), args.runs)

    print(f"median of {args.runs} runs; MB/s of UTF-8 input; ratio = quorvane speed / other speed\n")
    header = f"{'document':14} {'MB':>6} {'read_string':>12} {'lxml':>9} {'ET':>9} {'vs lxml':>8} {'vs ET':>7}"
    print_heading(header)
    for r in figures["read_string"]:
        mb = r["mb"]
        print(f"{r['document']:14} {mb:6.1f} {mb / r['quorvane']:12.0f} {mb / r['lxml']:9.0f}"
              f" {mb / r['ET']:9.0f} {r['lxml'] / r['quorvane']:7.2f}x {r['ET'] / r['quorvane']:6.2f}x")

    print(f"\n{'document':14} {'MB':>6} {'read_file':>12} {'lxml.parse':>11} {'vs lxml':>8}")
    for r in figures["read_file"]:
        mb = r["mb"]
        print(f"{r['document']:14} {mb:6.1f} {mb / r['quorvane']:12.0f} {mb / r['lxml']:11.0f}"
              f" {r['lxml'] / r['quorvane']:7.2f}x")

    print("\nresident-set growth while the returned tree is held (input string dropped)")
    print(f"{'document':14} {'quorvane MB':>12} {'lxml MB':>9} {'ratio':>7}")
    for r in figures["memory"]:
        print(f"{r['document']:14} {r['quorvane'] / 1e6:12.0f} {r['lxml'] / 1e6:9.0f}"
              f" {r['quorvane'] / r['lxml']:6.2f}x")


def print_many(args):
    figures = measure_many(args.small, args.held)

    print(f"{args.small:,} small documents per kind, each from a fresh str, trees dropped;"
          " best of 3 runs; ratio = quorvane speed / other speed\n")
    header = (f"{'kind':20} {'avg B':>6} {'quorvane µs':>12} {'lxml µs':>8} {'ET µs':>7}"
              f" {'MB/s':>6} {'vs lxml':>8} {'vs ET':>6}")
    print_heading(header)
    for r in figures["small"]:
        ours = r["quorvane"]
        print(f"{r['kind']:20} {r['bytes']:6.0f} {ours:12.2f} {r['lxml']:8.2f} {r['ET']:7.2f}"
              f" {r['bytes'] / ours:6.0f} {r['lxml'] / ours:7.2f}x {r['ET'] / ours:5.2f}x")

    print("\nthe same documents' trees, all held, each written to a str; best of 3 runs\n")
    print_heading(header)
    for r in figures["small"]:
        written = r["written"]
        ours = written["quorvane"]
        print(f"{r['kind']:20} {r['bytes']:6.0f} {ours:12.2f} {written['lxml']:8.2f}"
              f" {written['ET']:7.2f} {r['bytes'] / ours:6.0f} {written['lxml'] / ours:7.2f}x"
              f" {written['ET'] / ours:5.2f}x")

    print(f"\n{args.held:,} locale-like documents of 20-100 KB, each from a fresh str, all trees"
          " held; resident memory per tree with its str dropped (fresh interpreter per library)\n")
    header = f"{'library':10} {'MB/s':>7} {'KB held/tree':>13} {'quorvane speed':>15} {'held/quorvane':>14}"
    print_heading(header)
    results = figures["held"]
    ours = results["quorvane"]
    for library, r in results.items():
        print(f"{library:10} {r['bytes'] / r['seconds'] / 1e6:7.0f} {r['held'] / args.held / 1e3:13.1f}"
              f" {r['seconds'] / ours['seconds']:14.2f}x {r['held'] / ours['held']:13.2f}x")


def main():
    parser = document_arguments()
    parser.add_argument("--small", type=int, default=100_000, help="small reads per kind")
    parser.add_argument("--held", type=int, default=2_000, help="documents held at once")
    parser.add_argument("--held-probe", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.held_probe:
        print(json.dumps(held_probe(args.held_probe[0], int(args.held_probe[1]))))
        return
    print_large(args)
    print()
    print_many(args)


if __name__ == "__main__":
    main()
