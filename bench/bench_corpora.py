"""Real documents of many more kinds than bench_real's, each corpus the XML
files of one kind in one Debian package (fetched by tools/fetch-documents into
build/documents, never committed), read file by file by quorvane and lxml:
from a fresh str (read_string; lxml gets the file's bytes), from the path
(read_file, lxml.etree.parse) and from the bytes as held (read_bytes,
lxml.etree.fromstring). One table: per corpus its files, their size,
elements and attributes, and quorvane's speed over lxml each way; under it
the worst corpus and the median of the corpora, column by column.

Held-out corpora are only measured, never profiled nor tuned for: they
check that a speed-up found on the others is not theirs alone.

Files left out, counted per corpus: links (a package's second name for a
file), files lxml refuses (not well-formed, or using entities that only a
DTD outside the file declares) and files quorvane refuses.

The timing rule and the turns are bench_real's: the median of --runs runs,
each started from a collected heap with the collector paused during the
reading, the libraries taking turns way by way within a run; a speed-up is
the median of the runs' own ratios. A timing reads its corpus as many times
over as make TIMED_BYTES.

    tools/toolchain run tools/fetch-documents
    PYTHONPATH=build-bench python3.14 bench/bench_corpora.py [--runs N] [--corpus WORD] [--json]
"""

import argparse
import json
import os
import pathlib
import statistics

import lxml.etree

import quorvane

import bench_real
from common import print_heading

# Corpus: globs under bench_real.DOCUMENTS, all in one package.
CORPORA = {
    "vector icons, drawn (Tango)": ["tango-icon-theme/usr/share/icons/Tango/scalable/*/*.svg"],
    "vector icons, small (Breeze)": ["breeze-icon-theme/usr/share/icons/breeze/actions/22/*.svg"],
    "XSLT stylesheets (yelp-xsl)": ["yelp-xsl/usr/share/yelp-xsl/xslt/*/*.xsl",
                                    "yelp-xsl/usr/share/yelp-xsl/xslt/*/*/*.xsl"],
    "DocBook help (aisleriot)": ["aisleriot/usr/share/help/*/aisleriot/*.xml"],
    "Mallard help (evince)": ["evince-common/usr/share/help/*/evince/*.page"],
    "D-Bus interfaces (NetworkManager)": ["network-manager-dev/usr/share/dbus-1/interfaces/*.xml"],
    "font configuration (fontconfig)": ["fontconfig-config/etc/fonts/fonts.conf",
                                        "fontconfig-config/usr/share/fontconfig/conf.avail/*.conf"],
    "settings schemas (GSettings)": ["gsettings-desktop-schemas/usr/share/glib-2.0/schemas/*.xml"],
    "code tables (iso-codes)": ["iso-codes/usr/share/xml/iso-codes/*.xml"],
    # base*.xml are copies of evdev*.xml.
    "keyboard layouts (xkeyboard-config)":
        ["xkb-data/usr/share/xkeyboard-config-2/rules/evdev*.xml"],
    "syntax definitions (GtkSourceView)":
        ["libgtksourceview-4-common/usr/share/gtksourceview-4/language-specs/*.lang"],
    "build descriptions (Maven POMs)": ["libmaven3-core-java/usr/share/maven-repo/*/*/*/*/*/*.pom"],
    "XML schemas (DocBook 5)": ["docbook5-xml/usr/share/xml/docbook/schema/rng/5.0/*.rng",
                                "docbook5-xml/usr/share/xml/docbook/schema/xsd/5.0/*.xsd",
                                "docbook5-xml/usr/share/xml/docbook/schema/schematron/5.0/*.sch"],
}

# Never profiled nor tuned for, only measured: help pages, a kind of their
# own, in two vocabularies and some twenty languages.
HELD_OUT = {"DocBook help (aisleriot)", "Mallard help (evince)"}

# Each timing reads its corpus over and over up to this many bytes: read once,
# a corpus of a few small files takes well under a millisecond, within the
# noise of the clock and of a busy machine.
TIMED_BYTES = 4_000_000

# Column: bench_real's measure of that way.
WAYS = {"read_string": "fresh str", "read_file": "file", "read_bytes": "bytes"}


def load(patterns):
    """The corpus's documents, each with its elements and attributes
    (namespace declarations not counted), and how many files were left out
    for each reason."""
    documents = []
    left_out = {"links": 0, "lxml refuses": 0, "quorvane refuses": 0}
    for path in bench_real.matching(patterns):
        if os.path.islink(path):
            left_out["links"] += 1
            continue
        data = pathlib.Path(path).read_bytes()
        try:
            root = lxml.etree.fromstring(data)
        except lxml.etree.XMLSyntaxError:
            left_out["lxml refuses"] += 1
            continue
        document = bench_real.document(path, data)
        try:
            quorvane.read_string(document["text"], document["root"])
        except ValueError:
            left_out["quorvane refuses"] += 1
            continue
        elements = list(root.iter(lxml.etree.Element))
        document["elements"] = len(elements)
        document["attributes"] = sum(len(element.attrib) for element in elements)
        documents.append(document)
    return documents, left_out


def measure(runs, corpus_word=""):
    """Rows of plain numbers: per corpus whose name holds `corpus_word`, its
    files, size, elements and attributes, and each library's seconds and
    lxml's speed-up per way."""
    rows = []
    for corpus, patterns in CORPORA.items():
        if corpus_word not in corpus:
            continue
        documents, left_out = load(patterns)
        if not documents:
            raise SystemExit(f"no {corpus} files under {bench_real.DOCUMENTS}:"
                             " run tools/fetch-documents")
        size = sum(len(d["bytes"]) for d in documents)
        passes = -(-TIMED_BYTES // size)
        every = bench_real.readers(documents * passes)
        measures = {library: {way: every[library][name] for way, name in WAYS.items()}
                    for library in ("quorvane", "lxml")}
        times = {library: {way: [] for way in WAYS} for library in measures}
        for run in range(runs):
            bench_real.time_in_turns(measures, run, times)
        result = bench_real.medians(times)
        row = {"corpus": corpus, "package": bench_real.versions({corpus: patterns})[0],
               "held_out": corpus in HELD_OUT, "files": len(documents), "left_out": left_out,
               "mb": size / 1e6, "passes": passes,
               "elements": sum(d["elements"] for d in documents),
               "attributes": sum(d["attributes"] for d in documents),
               # Of one pass over the corpus.
               "seconds": {library: {way: seconds / passes for way, seconds in by_way.items()}
                           for library, by_way in result["seconds"].items()},
               "speedups": result["speedups"]}
        rows.append(row)
    if not rows:
        raise SystemExit(f"no corpus name holds {corpus_word!r}: {', '.join(CORPORA)}")
    return rows


HEADER = ["corpus", "package", "held out", "files", "refused by lxml / quorvane", "KB per file",
          "elements per file", "attributes per file"] + [f"{way} / lxml" for way in WAYS]


def table(rows):
    """The table's rows as text cells, in HEADER's order: one per corpus,
    then the worst corpus (named) and the median of the corpora in each
    speed-up column."""
    body = []
    for r in rows:
        body.append([r["corpus"], r["package"], "yes" if r["held_out"] else "",
                     str(r["files"]),
                     f"{r['left_out']['lxml refuses']} / {r['left_out']['quorvane refuses']}",
                     f"{r['mb'] * 1e3 / r['files']:.1f}", f"{r['elements'] / r['files']:.0f}",
                     f"{r['attributes'] / r['files']:.0f}"]
                    + [f"{r['speedups']['lxml'][way]:.2f}×" for way in WAYS])
    blank = [""] * (len(HEADER) - 1 - len(WAYS))
    worst = [min(rows, key=lambda r, way=way: r["speedups"]["lxml"][way]) for way in WAYS]
    body.append(["worst"] + blank + [f"{r['speedups']['lxml'][way]:.2f}× ({r['corpus']})"
                                     for r, way in zip(worst, WAYS)])
    body.append(["median"] + blank + [
        f"{statistics.median(r['speedups']['lxml'][way] for r in rows):.2f}×" for way in WAYS])
    return body


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--corpus", default="", help="only the corpora whose names hold this")
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    rows = measure(args.runs, args.corpus)
    if args.json:
        print(json.dumps(rows))
        return
    cells = [HEADER] + table(rows)
    widths = [max(len(row[i]) for row in cells) for i in range(len(HEADER))]
    # The corpus and the package aligned left, the numbers right.
    lines = ["  ".join(cell.ljust(width) if column < 2 else cell.rjust(width)
                       for column, (cell, width) in enumerate(zip(row, widths)))
             for row in cells]
    print_heading(lines[0])
    print("\n".join(lines[1:]))
    for r in rows:
        reasons = ", ".join(f"{count} {reason}" for reason, count in r["left_out"].items() if count)
        if reasons:
            print(f"{r['corpus']}: left out {reasons}")


if __name__ == "__main__":
    main()
