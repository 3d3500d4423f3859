"""Sending a tree to another process: pickle.dumps and pickle.loads of a
read tree, side by side with the routes a user has without it (its to_dict()
result pickled, and writing plus reading the XML text) and with pickling an
ElementTree element of the same document, in one run.

    PYTHONPATH=build python3 bench/bench_pickle.py [--size MB] [--runs N]
"""

import os
import pickle
import sys
import xml.etree.ElementTree as ElementTree

import quorvane
from quorvane import Node

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import record_like, node_count  # noqa: E402
from timing import document_arguments, median_seconds  # noqa: E402

PROTOCOL = pickle.HIGHEST_PROTOCOL


def measure(size, runs):
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


def main():
    args = document_arguments()
    figures = measure(int(args.size * 1_000_000), args.runs)
    print(f"{figures['nodes']:,} nodes, protocol {PROTOCOL}, median of {args.runs} runs;"
          " 'Node faster' = the route's time over pickling the Node\n")
    header = f"{'route':20} {'dump ms':>8} {'load ms':>8} {'total ms':>9} {'MB':>7} {'Node faster':>12}"
    print(header)
    print("-" * len(header))
    node_total = None
    for r in figures["routes"]:
        total = r["dump"] + r["load"]
        node_total = node_total or total
        print(f"{r['route']:20} {r['dump'] * 1e3:8.1f} {r['load'] * 1e3:8.1f} {total * 1e3:9.1f}"
              f" {r['bytes'] / 1e6:7.1f} {total / node_total:11.2f}x")

if __name__ == "__main__":
    main()
