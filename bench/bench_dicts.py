"""XML text to plain dicts: read_string(...).to_dict() next to xmltodict.parse,
the library a user would pick for this, in one process and one run.

    PYTHONPATH=build python3 bench/bench_dicts.py [--size MB] [--runs N]

The two produce differently shaped dicts (ours: name/attrs/children/text per
element; xmltodict: element names as keys); both hold every name, attribute
and text of the document.
"""

import os
import sys

import xmltodict

import quorvane

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from documents import DOCUMENTS  # noqa: E402
from timing import document_arguments, median_seconds  # noqa: E402



def measure(size, runs):
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


def main():
    args = document_arguments(default_mb=5.0)
    print(f"median of {args.runs} runs; MB/s of UTF-8 input\n")
    print(f"{'document':<16}{'MB':>6}{'quorvane':>11}{'xmltodict':>11}{'ratio':>9}")
    for r in measure(int(args.size * 1_000_000), args.runs):
        mb, ours, theirs = r["mb"], r["quorvane"], r["xmltodict"]
        print(f"{r['document']:<16}{mb:6.1f}{mb / ours:11.1f}{mb / theirs:11.1f}{theirs / ours:8.1f}x")

if __name__ == "__main__":
    main()
