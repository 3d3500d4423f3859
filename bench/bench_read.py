"""Read throughput of quorvane next to lxml and ElementTree, in one process
and one run, on generated documents of at least 20 MB; then the resident
memory a returned tree keeps alive.

    PYTHONPATH=build python3 bench/bench_read.py [--size MB] [--runs N]

Build with the default Release configuration first (make build).
"""

import os
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS  # noqa: E402
from timing import document_arguments, median_seconds  # noqa: E402


# Run in a fresh interpreter per library so that one library's freed memory
# does not mask the other's growth.
MEMORY_PROBE = """
import gc, os, sys
sys.path.insert(0, {bench!r})
from documents import DOCUMENTS
import lxml.etree, quorvane
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
make, root = DOCUMENTS[{name!r}]
gc.collect()
base = rss()
document = make({size})
if {library!r} == "quorvane":
    tree = quorvane.read_string(document, root)
else:
    tree = lxml.etree.fromstring(document.encode())
del document
gc.collect()
print(rss() - base)
"""


def memory_growth(name, size, library):
    probe = MEMORY_PROBE.format(bench=os.path.dirname(os.path.abspath(__file__)),
                                name=name, size=size, library=library)
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


def main():
    args = document_arguments()
    figures = measure(int(args.size * 1_000_000), args.runs)

    print(f"median of {args.runs} runs; MB/s of UTF-8 input; ratio = quorvane speed / other speed\n")
    header = f"{'document':14} {'MB':>6} {'read_string':>12} {'lxml':>9} {'ET':>9} {'vs lxml':>8} {'vs ET':>7}"
    print(header)
    print("-" * len(header))
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

if __name__ == "__main__":
    main()
