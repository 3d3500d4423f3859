"""What a small read costs per call, per element and per attribute: the
best time of read_string (the tree released at once) on documents that
differ by one thing each, from the smallest document up to eighty
elements with a text each, with and without an attribute.

    PYTHONPATH=build python3 bench/read_costs.py [--calls N]
"""

import argparse
import gc
import time

import quorvane

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?>\n'
DOCUMENTS = {
    "<a/>": "<a/>",
    "<a></a>": "<a></a>",
    "declaration, <a/>": DECLARATION + "<a/>",
    "comment, <a/>": "<!-- c -->\n<a/>",
    "<a x='1'/>": "<a x='1'/>",
    "<a><b/></a>": "<a><b/></a>",
    "<a><b>t</b></a>": "<a><b>t</b></a>",
    **{f"{n} elements with a text": "<a>" + "<b>t</b>" * n + "</a>" for n in (10, 20, 40, 80)},
    "80 elements with a text and an attribute": "<a>" + "<b x='1'>t</b>" * 80 + "</a>",
}


def best_ns(text, calls):
    best = float("inf")
    for _ in range(5):
        start = time.perf_counter_ns()
        for _ in range(calls):
            quorvane.read_string(text, "a")
        best = min(best, (time.perf_counter_ns() - start) / calls)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=50000)
    args = parser.parse_args()
    gc.disable()
    times = {name: best_ns(text, args.calls) for name, text in DOCUMENTS.items()}
    for name, ns in times.items():
        print(f"{name:42} {ns:7.0f} ns")
    plain = times["80 elements with a text"]
    print(f"per element with a text: {(plain - times['<a></a>']) / 80:.0f} ns;"
          f" per attribute: {(times['80 elements with a text and an attribute'] - plain) / 80:.0f} ns")


if __name__ == "__main__":
    main()
