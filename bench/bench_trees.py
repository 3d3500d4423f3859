"""What is done with a tree once read, next to its peers, in one process
and one run:

- operations: to_dict and search_by_name over a large tree, next to the
  same work done in plain Python over the Node properties; marshal.loads
  making the same objects that to_dict makes, the least that making them
  costs; and the same search in lxml's and ElementTree's trees of the
  document (their iter);
- dicts: XML text to plain dicts, read_string(...).to_dict() next to
  xmltodict.parse, the library a user would pick for this. The two produce
  differently shaped dicts (ours: name/attrs/children/text per element;
  xmltodict: element names as keys); both hold every name, attribute and
  text of the document;
- pickling: sending a tree to another process, pickle.dumps and
  pickle.loads of a read tree, side by side with the routes a user has
  without it (its to_dict() result pickled, and writing plus reading the
  XML text) and with pickling an ElementTree element of the same document.

    PYTHONPATH=build python3 bench/bench_trees.py [--nodes N] [--dict-size MB]
        [--pickle-size MB] [--runs N]
"""

import argparse
import gc
import marshal
import pickle
import statistics
import time
import xml.etree.ElementTree as ElementTree

import lxml.etree
import xmltodict

import quorvane
from quorvane import Node

from common import DOCUMENTS, median_seconds, node_count, print_heading, record_like

PROTOCOL = pickle.HIGHEST_PROTOCOL


def measure_pickling(size, runs):
    """Seconds to dump and to load a record-like tree by each route, and
    the bytes each route sends."""
    document = record_like(size)
    tree = quorvane.read_string(document, "catalog")
    element = ElementTree.fromstring(document)

    state = pickle.dumps(tree, PROTOCOL)
    as_dict = pickle.dumps(tree.to_dict(), PROTOCOL)
    as_text = quorvane.write_string(tree)
    as_element = pickle.dumps(element, PROTOCOL)
    routes = {
        "pickle Node": (lambda: pickle.dumps(tree, PROTOCOL), lambda: pickle.loads(state),
                        len(state)),
        "pickle to_dict()": (lambda: pickle.dumps(tree.to_dict(), PROTOCOL),
                             lambda: Node.from_dict(pickle.loads(as_dict)), len(as_dict)),
        "write/read_string": (lambda: quorvane.write_string(tree),
                              lambda: quorvane.read_string(as_text, "catalog"),
                              len(as_text.encode())),
        "pickle ET element": (lambda: pickle.dumps(element, PROTOCOL),
                              lambda: pickle.loads(as_element), len(as_element)),
    }
    rows = [{"route": name, "dump": median_seconds(dump, runs),
             "load": median_seconds(load, runs), "bytes": sent}
            for name, (dump, load, sent) in routes.items()]
    return {"nodes": node_count(tree), "routes": rows}


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


def measure_operations(nodes, runs):
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


def measure_dicts(size, runs):
    """Seconds from XML text to dicts, per document, for both libraries."""
    rows = []
    for name in ("record-like", "quote-dense", "text-heavy"):
        make, root = DOCUMENTS[name]
        document = make(size)
        rows.append({
            "document": name, "mb": len(document.encode()) / 1e6,
            "quorvane": median_seconds(lambda: quorvane.read_string(document, root).to_dict(), runs),
            "xmltodict": median_seconds(lambda: xmltodict.parse(document), runs),
        })
    return rows


def print_operations(args):
    figures = measure_operations(args.nodes, args.runs)
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


def print_dicts(args):
    print(f"median of {args.runs} runs; MB/s of UTF-8 input\n")
    print(f"{'document':<16}{'MB':>6}{'quorvane':>11}{'xmltodict':>11}{'ratio':>9}")
    for r in measure_dicts(int(args.dict_size * 1_000_000), args.runs):
        mb, ours, theirs = r["mb"], r["quorvane"], r["xmltodict"]
        print(f"{r['document']:<16}{mb:6.1f}{mb / ours:11.1f}{mb / theirs:11.1f}{theirs / ours:8.1f}x")


def print_pickling(args):
    figures = measure_pickling(int(args.pickle_size * 1_000_000), args.runs)
    print(f"{figures['nodes']:,} nodes, protocol {PROTOCOL}, median of {args.runs} runs;"
          " 'Node faster' = the route's time over pickling the Node\n")
    header = f"{'route':20} {'dump ms':>8} {'load ms':>8} {'total ms':>9} {'MB':>7} {'Node faster':>12}"
    print_heading(header)
    node_total = None
    for r in figures["routes"]:
        total = r["dump"] + r["load"]
        node_total = node_total or total
        print(f"{r['route']:20} {r['dump'] * 1e3:8.1f} {r['load'] * 1e3:8.1f} {total * 1e3:9.1f}"
              f" {r['bytes'] / 1e6:7.1f} {total / node_total:11.2f}x")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=600_000, help="nodes of the operations' tree")
    parser.add_argument("--dict-size", type=float, default=5.0, help="MB of each document to dicts")
    parser.add_argument("--pickle-size", type=float, default=20.0, help="MB of the pickled document")
    parser.add_argument("--runs", type=int, default=7)
    args = parser.parse_args()
    print_operations(args)
    print()
    print_dicts(args)
    print()
    print_pickling(args)


if __name__ == "__main__":
    main()
