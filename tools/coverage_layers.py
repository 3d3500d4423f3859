#!/usr/bin/env python3
"""Prints line and branch coverage per layer from gcovr's JSON summary
(--json-summary), marking layers below the goals with '<'.

    tools/coverage_layers.py build-cov/coverage.json [--files]

--files also lists each file of a layer that misses a goal.
"""

import argparse
import json

LAYERS = ("platform/", "structural/", "src/storage/", "src/read/", "src/write/",
          "src/boundary/", "src/entities/", "src/functions/")
LINE_GOAL = 95.0
BRANCH_GOAL = 85.0


def percent(covered, total):
    return 100.0 * covered / total if total else 100.0


def cell(covered, total, goal):
    value = percent(covered, total)
    mark = "<" if value < goal else " "
    return f"{value:6.1f}%{mark} {covered:>6}/{total:<6}"


def layer_of(filename):
    # Files outside every layer (the module's entry point) are shown on
    # their own, so nothing measured drops out of the table.
    return next((layer for layer in LAYERS if filename.startswith(layer)), filename)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("summary", help="gcovr's --json-summary output")
    parser.add_argument("--files", action="store_true", help="list the files that miss a goal")
    arguments = parser.parse_args()
    with open(arguments.summary, encoding="utf-8") as source:
        files = json.load(source)["files"]

    totals = {}
    for entry in files:
        counts = totals.setdefault(layer_of(entry["filename"]), {"files": [], "sums": [0, 0, 0, 0]})
        counts["files"].append(entry)
        for i, key in enumerate(("line_covered", "line_total", "branch_covered", "branch_total")):
            counts["sums"][i] += entry[key]

    order = [layer for layer in LAYERS if layer in totals] + sorted(set(totals) - set(LAYERS))
    print(f"{'layer':<16} {'lines':>21}   {'branches':>21}")
    everything = [0, 0, 0, 0]
    for layer in order:
        lines_covered, lines, branches_covered, branches = totals[layer]["sums"]
        everything = [a + b for a, b in zip(everything, totals[layer]["sums"])]
        print(f"{layer:<16} {cell(lines_covered, lines, LINE_GOAL)}  "
              f"{cell(branches_covered, branches, BRANCH_GOAL)}")
        if arguments.files:
            for entry in totals[layer]["files"]:
                if (percent(entry["line_covered"], entry["line_total"]) < LINE_GOAL
                        or percent(entry["branch_covered"], entry["branch_total"]) < BRANCH_GOAL):
                    print(f"  {entry['filename']:<36} "
                          f"{cell(entry['line_covered'], entry['line_total'], LINE_GOAL)}  "
                          f"{cell(entry['branch_covered'], entry['branch_total'], BRANCH_GOAL)}")
    print(f"{'all':<16} {cell(everything[0], everything[1], LINE_GOAL)}  "
          f"{cell(everything[2], everything[3], BRANCH_GOAL)}")
    print(f"goals: {LINE_GOAL:.0f}% of lines and {BRANCH_GOAL:.0f}% of branches per layer "
          "('<' marks a miss)")


if __name__ == "__main__":
    main()
