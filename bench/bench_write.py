"""Write throughput of quorvane next to lxml and ElementTree, in one process
and one run: each library serialises its own tree of the same generated
documents (at least 20 MB each), to a str and to a file; then two threads
writing two trees at once next to one thread writing both.

    PYTHONPATH=build python3 bench/bench_write.py [--size MB] [--runs N]

Build with the default Release configuration first (make build).
"""

import argparse
import os
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS  # noqa: E402
from timing import median_seconds, seconds_on_threads  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--size", type=float, default=20.0, help="document size in MB")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    size = int(args.size * 1_000_000)

    print(f"median of {args.runs} runs; MB/s of the document each tree was read from;"
          " ratio = quorvane speed / other speed\n")
    header = (f"{'document':14} {'MB':>6} {'write_string':>13} {'lxml':>7} {'ET':>7}"
              f" {'vs lxml':>8} {'vs ET':>7}")
    print(header)
    print("-" * len(header))
    file_rows = []
    thread_rows = []
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "out.xml")
        for name, (make, root) in DOCUMENTS.items():
            document = make(size)
            mb = len(document.encode()) / 1e6
            ours = quorvane.read_string(document, root)
            theirs = lxml.etree.fromstring(document.encode())
            stdlib = ElementTree.fromstring(document)
            del document

            t_ours = median_seconds(lambda: quorvane.write_string(ours), args.runs)
            t_lxml = median_seconds(
                lambda: lxml.etree.tostring(theirs, pretty_print=True, encoding="unicode"), args.runs)
            t_et = median_seconds(lambda: ElementTree.tostring(stdlib, encoding="unicode"), args.runs)
            print(f"{name:14} {mb:6.1f} {mb / t_ours:13.0f} {mb / t_lxml:7.0f} {mb / t_et:7.0f}"
                  f" {t_lxml / t_ours:7.2f}x {t_et / t_ours:6.2f}x", flush=True)
            del stdlib

            lxml_tree = lxml.etree.ElementTree(theirs)
            f_ours = median_seconds(lambda: quorvane.write_file(ours, path), args.runs)
            f_lxml = median_seconds(lambda: lxml_tree.write(path, pretty_print=True), args.runs)
            file_rows.append((name, mb, f_ours, f_lxml))
            del theirs, lxml_tree

            other = quorvane.read_string(make(size), root)
            one = median_seconds(lambda: (quorvane.write_string(ours), quorvane.write_string(other)),
                                 args.runs)
            two = min(seconds_on_threads(lambda: quorvane.write_string(ours), lambda: quorvane.write_string(other))
                      for _ in range(args.runs))
            thread_rows.append((name, 2 * mb, one, two))
            del ours, other

    print(f"\n{'document':14} {'MB':>6} {'write_file':>11} {'lxml write':>11} {'vs lxml':>8}")
    for name, mb, ours, theirs in file_rows:
        print(f"{name:14} {mb:6.1f} {mb / ours:11.0f} {mb / theirs:11.0f} {theirs / ours:7.2f}x")

    print("\nwrite_string of two trees: one thread after the other, then two threads at once")
    print(f"{'document':14} {'MB':>6} {'1 thread':>9} {'2 threads':>10} {'speed-up':>9}")
    for name, mb, one, two in thread_rows:
        print(f"{name:14} {mb:6.1f} {mb / one:9.0f} {mb / two:10.0f} {one / two:8.2f}x")


if __name__ == "__main__":
    main()
