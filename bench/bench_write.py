"""Write throughput of quorvane next to lxml and ElementTree, in one process
and one run: each library serialises its own tree of the same generated
documents (at least 20 MB each), to a str, to bytes and to a file; then two
threads writing two trees at once next to one thread writing both.

    PYTHONPATH=build python3 bench/bench_write.py [--size MB] [--runs N]

Build with the default Release configuration first (make build).
"""

import os
import tempfile
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane

from common import DOCUMENTS, document_arguments, median_seconds, print_heading, seconds_on_threads


def measure(size, runs, documents=DOCUMENTS):
    """Seconds per write for every library and document, to a str and to a
    file, and of two trees written by one thread and by two at once."""
    strings, encoded, files, threads = [], [], [], []
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "out.xml")
        for name, (make, root) in documents.items():
            document = make(size)
            mb = len(document.encode()) / 1e6
            ours = quorvane.read_string(document, root)
            theirs = lxml.etree.fromstring(document.encode())
            stdlib = ElementTree.fromstring(document)
            del document

            strings.append({
                "document": name, "mb": mb,
                # Pretty printing differs: lxml adds no line breaks inside
                # mixed content and ElementTree none at all, so the texts
                # written differ in length.
                "output mb": {
                    "quorvane": len(quorvane.write_string(ours).encode()) / 1e6,
                    "lxml": len(lxml.etree.tostring(theirs, pretty_print=True,
                                                    encoding="unicode").encode()) / 1e6,
                    "ET": len(ElementTree.tostring(stdlib, encoding="unicode").encode()) / 1e6,
                },
                "quorvane": median_seconds(lambda: quorvane.write_string(ours), runs),
                "lxml": median_seconds(
                    lambda: lxml.etree.tostring(theirs, pretty_print=True, encoding="unicode"), runs),
                "ET": median_seconds(lambda: ElementTree.tostring(stdlib, encoding="unicode"), runs),
            })
            del stdlib

            # UTF-8 bytes with the XML declaration, as write_bytes makes them
            # by default; write_string beside it, whose text it encodes.
            encoded.append({
                "document": name, "mb": mb,
                "quorvane": median_seconds(lambda: quorvane.write_bytes(ours), runs),
                "write_string": median_seconds(lambda: quorvane.write_string(ours), runs),
                "lxml": median_seconds(lambda: lxml.etree.tostring(
                    theirs, pretty_print=True, encoding="UTF-8", xml_declaration=True), runs),
            })

            lxml_tree = lxml.etree.ElementTree(theirs)
            files.append({
                "document": name, "mb": mb,
                "quorvane": median_seconds(lambda: quorvane.write_file(ours, path), runs),
                "lxml": median_seconds(lambda: lxml_tree.write(path, pretty_print=True), runs),
            })
            del theirs, lxml_tree

            other = quorvane.read_string(make(size), root)
            threads.append({
                "document": name, "mb": 2 * mb,
                "one": median_seconds(
                    lambda: (quorvane.write_string(ours), quorvane.write_string(other)), runs),
                "two": min(seconds_on_threads(lambda: quorvane.write_string(ours),
                                              lambda: quorvane.write_string(other))
                           for _ in range(runs)),
            })
            del ours, other
    return {"write_string": strings, "write_bytes": encoded, "write_file": files,
            "threads": threads}


def main():
    args = document_arguments().parse_args()
    figures = measure(int(args.size * 1_000_000), args.runs)

    print(f"median of {args.runs} runs; MB/s of the document each tree was read from;"
          " ratio = quorvane speed / other speed; MB written by quorvane/lxml/ET\n")
    header = (f"{'document':14} {'MB':>6} {'write_string':>13} {'lxml':>7} {'ET':>7}"
              f" {'vs lxml':>8} {'vs ET':>7} {'written':>12}")
    print_heading(header)
    for r in figures["write_string"]:
        mb, ours = r["mb"], r["quorvane"]
        out = r["output mb"]
        print(f"{r['document']:14} {mb:6.1f} {mb / ours:13.0f} {mb / r['lxml']:7.0f} {mb / r['ET']:7.0f}"
              f" {r['lxml'] / ours:7.2f}x {r['ET'] / ours:6.2f}x"
              f" {out['quorvane']:6.1f}/{out['lxml']:.1f}/{out['ET']:.1f}")

    print(f"\n{'document':14} {'MB':>6} {'write_bytes':>12} {'write_string':>13}"
          f" {'lxml tostring':>14} {'vs lxml':>8} {'vs write_string':>16}")
    for r in figures["write_bytes"]:
        mb, ours = r["mb"], r["quorvane"]
        print(f"{r['document']:14} {mb:6.1f} {mb / ours:12.0f} {mb / r['write_string']:13.0f}"
              f" {mb / r['lxml']:14.0f} {r['lxml'] / ours:7.2f}x {r['write_string'] / ours:15.2f}x")

    print(f"\n{'document':14} {'MB':>6} {'write_file':>11} {'lxml write':>11} {'vs lxml':>8}")
    for r in figures["write_file"]:
        mb, ours = r["mb"], r["quorvane"]
        print(f"{r['document']:14} {mb:6.1f} {mb / ours:11.0f} {mb / r['lxml']:11.0f} {r['lxml'] / ours:7.2f}x")

    print("\nwrite_string of two trees: one thread after the other, then two threads at once")
    print(f"{'document':14} {'MB':>6} {'1 thread':>9} {'2 threads':>10} {'speed-up':>9}")
    for r in figures["threads"]:
        mb = r["mb"]
        print(f"{r['document']:14} {mb:6.1f} {mb / r['one']:9.0f} {mb / r['two']:10.0f} {r['one'] / r['two']:8.2f}x")

if __name__ == "__main__":
    main()
