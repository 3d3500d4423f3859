"""to_dict and search_by_name over a large tree, next to the same work done in
plain Python over the Node properties; marshal.loads making the same
objects that to_dict makes, the least that making them costs; and the same
search in lxml's and ElementTree's trees of the document (their iter).

    PYTHONPATH=build python3 bench/bench_operations.py [--nodes N] [--runs R]
"""

import argparse
import gc
import marshal
import os
import statistics
import sys
import time
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane
from quorvane import Node

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import node_count  # noqa: E402
from timing import median_seconds  # noqa: E402


def build_tree(total):
    """About `total` nodes: sections of records of fields, with attributes and text."""
    fields_per_record, records_per_section = 8, 100
    per_section = 1 + records_per_section * (1 + fields_per_record)
    sections = []
    for s in range(max(1, total // per_section)):
        records = []
        for r in range(records_per_section):
            fields = [Node(f"field{f}", {"type": "string"}, text=f"value {s}-{r}-{f}") for f in range(fields_per_record)]
            records.append(Node("record", {"id": f"{s}-{r}", "kind": "entry"}, fields))
        sections.append(Node("section", {"n": str(s)}, records))
    return Node("root", {"version": "1"}, sections)


def python_to_dict(node):
    return {
        "name": node.name,
        "attrs": node.attrs,
        "children": [python_to_dict(child) for child in node.children],
        "text": node.text,
    }


def python_search_by_name(node, name):
    found, stack = [], [node]
    while stack:
        current = stack.pop()
        if current.name == name:
            found.append(current)
        stack.extend(reversed(current.children))
    return found


def collector_seconds(work, runs):
    """Median time the interpreter's cyclic collector spends inside `work`:
    the containers a conversion returns are all scanned once by the next
    collection, whoever made them."""
    spent, started = [0.0], [0.0]

    def clock(phase, info):
        if phase == "start":
            started[0] = time.perf_counter()
        else:
            spent[0] += time.perf_counter() - started[0]

    times = []
    gc.callbacks.append(clock)
    try:
        for _ in range(runs):
            gc.collect()
            spent[0] = 0.0
            result = work()
            times.append(spent[0])
            del result
    finally:
        gc.callbacks.remove(clock)
    return statistics.median(times)


def measure(nodes, runs):
    """Seconds of to_dict and search_by_name over a tree of about `nodes`
    nodes, of the same work in plain Python, of the collector inside each
    conversion, of marshal.loads making the same objects, and of finding
    the same elements in lxml's and ElementTree's trees of the document."""
    tree = build_tree(nodes)
    assert tree.to_dict() == python_to_dict(tree)
    found = tree.search_by_name("record")
    expected = python_search_by_name(tree, "record")
    assert len(found) == len(expected) and all(a is b for a, b in zip(found, expected))
    figures = {"nodes": node_count(tree)}
    figures["to_dict"] = {
        "quorvane": median_seconds(tree.to_dict, runs),
        "python": median_seconds(lambda: python_to_dict(tree), runs),
        "quorvane collector": collector_seconds(tree.to_dict, runs),
        "python collector": collector_seconds(lambda: python_to_dict(tree), runs),
    }
    # The same dicts, lists and strs made by the interpreter's own C code
    # from a serialised copy, with the collector paused as to_dict pauses
    # it: what making these objects costs at the least.
    serialised = marshal.dumps(tree.to_dict())

    def unmarshal():
        gc.disable()
        try:
            return marshal.loads(serialised)
        finally:
            gc.enable()

    figures["to_dict"]["marshal.loads"] = median_seconds(unmarshal, runs)

    document = quorvane.write_string(tree)
    theirs = lxml.etree.fromstring(document.encode())
    stdlib = ElementTree.fromstring(document)
    assert len(list(theirs.iter("record"))) == len(list(stdlib.iter("record"))) == len(found)
    figures["search_by_name"] = {
        "quorvane": median_seconds(lambda: tree.search_by_name("record"), runs),
        "python": median_seconds(lambda: python_search_by_name(tree, "record"), runs),
        "lxml": median_seconds(lambda: list(theirs.iter("record")), runs),
        "ET": median_seconds(lambda: list(stdlib.iter("record")), runs),
    }
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=600_000)
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    figures = measure(args.nodes, args.runs)
    print(f"tree of {figures['nodes']:,} nodes, median of {args.runs} runs")

    def compare(label, times, target):
        native, python = times["quorvane"], times["python"]
        verdict = "met" if python / native >= target else "missed"
        print(f"{label:<16} native {native * 1e3:9.2f} ms   python {python * 1e3:9.2f} ms   "
              f"ratio {python / native:6.1f}x   (target {target}x: {verdict})")

    conversion = figures["to_dict"]
    compare("to_dict", conversion, 10)
    print(f"{'  in collector':<16} native {conversion['quorvane collector'] * 1e3:9.2f} ms"
          f"   python {conversion['python collector'] * 1e3:9.2f} ms")
    floor = conversion["marshal.loads"]
    print(f"{'  marshal.loads':<16} {floor * 1e3:9.2f} ms for the same objects"
          f"   (to_dict takes {conversion['quorvane'] / floor:.2f}x that)")
    search = figures["search_by_name"]
    compare("search_by_name", search, 20)
    for library in ("lxml", "ET"):
        print(f"{'  ' + library + ' iter':<16} {search[library] * 1e3:9.2f} ms"
              f"   ({search[library] / search['quorvane']:.1f}x search_by_name's time)")

if __name__ == "__main__":
    main()
