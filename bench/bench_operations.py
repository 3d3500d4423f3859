"""to_dict and search_by_name over a large tree, next to the same work done in
plain Python over the Node properties; and marshal.loads making the same
objects that to_dict makes, the least that making them costs.

    PYTHONPATH=build python3 bench/bench_operations.py [--nodes N] [--runs R]
"""

import argparse
import gc
import marshal
import os
import statistics
import sys
import time

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


def compare(label, native, python, runs, target, show_collector=False):
    native_time = median_seconds(native, runs)
    python_time = median_seconds(python, runs)
    ratio = python_time / native_time
    verdict = "met" if ratio >= target else "missed"
    print(f"{label:<16} native {native_time * 1e3:9.2f} ms   python {python_time * 1e3:9.2f} ms   "
          f"ratio {ratio:6.1f}x   (target {target}x: {verdict})")
    if show_collector:
        native_gc = collector_seconds(native, runs)
        python_gc = collector_seconds(python, runs)
        print(f"{'  in collector':<16} native {native_gc * 1e3:9.2f} ms   python {python_gc * 1e3:9.2f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=600_000)
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()

    tree = build_tree(args.nodes)
    print(f"tree of {node_count(tree):,} nodes, median of {args.runs} runs")
    assert tree.to_dict() == python_to_dict(tree)
    found = tree.search_by_name("record")
    expected = python_search_by_name(tree, "record")
    assert len(found) == len(expected) and all(a is b for a, b in zip(found, expected))

    compare("to_dict", tree.to_dict, lambda: python_to_dict(tree), args.runs, 10, show_collector=True)
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

    floor = median_seconds(unmarshal, args.runs)
    native = median_seconds(tree.to_dict, args.runs)
    print(f"{'  marshal.loads':<16} {floor * 1e3:9.2f} ms for the same objects"
          f"   (to_dict takes {native / floor:.2f}x that)")
    compare("search_by_name", lambda: tree.search_by_name("record"),
                  lambda: python_search_by_name(tree, "record"), args.runs, 20)


if __name__ == "__main__":
    main()
