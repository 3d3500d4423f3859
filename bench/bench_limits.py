"""Time against size at the limits a document can reach: many elements,
deep nesting, many attributes on one element, one long text, one long
attribute value. Each shape is read (and the tree written and released) at
a base size and at twice and four times it; linear growth shows as time
ratios near 2 and 4. A second table times a long text's steps apart
(read, write, making its str), since fresh memory faulted in by the larger
sizes costs more per byte than the work itself.

    PYTHONPATH=build python3 bench/bench_limits.py [--scale X]
"""

import argparse

import quorvane

from common import median_seconds, print_heading

SHAPES = {
    # name: (document of size n, base n at scale 1)
    "elements": (lambda n: "<r>" + "<e/>" * n + "</r>", 2_500_000),
    "depth": (lambda n: "<e>" * n + "x" + "</e>" * n, 250_000),
    "attributes": (lambda n: "<r " + " ".join(f'a{i}="{i}"' for i in range(n)) + "/>", 25_000),
    "text bytes": (lambda n: "<r>" + "t&amp;" * (n // 5) + "</r>", 25_000_000),
    "value bytes": (lambda n: '<r a="' + "v&lt;" * (n // 5) + '"/>', 25_000_000),
}


def read_write_release(document):
    tree = quorvane.read_string(document, "r" if document.startswith("<r") else "e")
    quorvane.write_string(tree, indent=0)
    del tree


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    print("read, write (indent 0) and release; median of", args.runs, "runs\n")
    header = f"{'shape':12} {'n':>12} {'ms':>9} {'2n / n':>7} {'4n / n':>7}"
    print_heading(header)
    for name, (make, base) in SHAPES.items():
        n = int(base * args.scale)
        times = []
        for factor in (1, 2, 4):
            document = make(n * factor)
            times.append(median_seconds(lambda: read_write_release(document), args.runs))
            del document
        print(f"{name:12} {n:12,} {times[0] * 1e3:9.1f} {times[1] / times[0]:7.2f} {times[2] / times[0]:7.2f}")

    print(f"\n{'text bytes':>12} {'read ms':>9} {'write ms':>9} {'str ms':>8}")
    for factor in (1, 2, 4, 8, 16):
        n = int(6_250_000 * factor * args.scale)
        document = "<r>" + "t&amp;" * (n // 5) + "</r>"
        tree = quorvane.read_string(document, "r")
        read = median_seconds(lambda: quorvane.read_string(document, "r"), args.runs)
        write = median_seconds(lambda: quorvane.write_string(tree, indent=0), args.runs)
        text = median_seconds(lambda: tree.text, args.runs)
        print(f"{n:12,} {read * 1e3:9.1f} {write * 1e3:9.1f} {text * 1e3:8.1f}")
        del document, tree


if __name__ == "__main__":
    main()
