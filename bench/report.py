"""Every benchmark in one run, side by side with lxml, ElementTree and
xmltodict, written as a report: a Markdown page (README.md, shown by code
hosts), the same tables as a page of the documentation (report.rst) and PNG
bar charts, all under docs/benchmarks/ and all replaced on every run. The
report names the processor, the versions and the date.

    PYTHONPATH=build-bench-python3.14 python3.14 bench/report.py [--quick] [--out DIR]

`make bench-report` builds the release module and runs this (`make
bench-report REPORT_ARGS=--quick` passes arguments). --quick uses small
sizes and one run, to try the report out; its figures mean little.
"""

import argparse
import datetime
import importlib.metadata
import os
import pathlib
import platform
import subprocess
import time
import tomllib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import lxml.etree  # noqa: E402

import bench_corpora  # noqa: E402
import bench_interpreters  # noqa: E402
import bench_read  # noqa: E402
import bench_real  # noqa: E402
import bench_trees  # noqa: E402
import bench_write  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent

# Sizes of a full run (about six minutes on two busy cores) and of a quick one.
FULL = {"size": 20_000_000, "runs": 5, "small": 30_000, "held": 1_000, "nodes": 600_000,
        "dict_size": 5_000_000, "pickle_size": 10_000_000, "interpreter_small": 20_000}
QUICK = {"size": 1_000_000, "runs": 1, "small": 1_000, "held": 30, "nodes": 20_000,
         "dict_size": 500_000, "pickle_size": 500_000, "interpreter_small": 1_000}

COLOURS = {"quorvane": "#2a6f97", "lxml": "#e09f3e", "ElementTree": "#9e2a2b",
           "xmltodict": "#540b0e", "plain Python": "#7a7a7a"}


class Table:
    """One table of the report, rendered as Markdown and as reStructuredText."""

    def __init__(self, title, note, header, rows):
        self.title, self.note, self.header, self.rows = title, note, header, rows

    def markdown(self):
        lines = [f"### {self.title}", "", self.note, "",
                 "| " + " | ".join(self.header) + " |",
                 "|" + "|".join("---" if i == 0 else "---:" for i in range(len(self.header))) + "|"]
        lines += ["| " + " | ".join(row) + " |" for row in self.rows]
        return "\n".join(lines)

    def rst(self):
        lines = [self.title, "-" * len(self.title), "", self.note, "",
                 ".. list-table::", "   :header-rows: 1", ""]
        for row in [self.header] + self.rows:
            lines.append("   * - " + rst_cell(row[0]))
            lines += ["     - " + rst_cell(cell) for cell in row[1:]]
        return "\n".join(lines)


def rst_cell(text):
    return text.replace("*", r"\*") if text else r"\ "


def ratio(value):
    return f"{value:.2f}×"


def machine():
    """The processor, the versions and the date, as (label, value) pairs."""
    model = "unknown processor"
    with open("/proc/cpuinfo") as cpuinfo:
        for line in cpuinfo:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open(HERE.parent / "pyproject.toml", "rb") as f:
        version = tomllib.load(f)["project"]["version"]
    commit = os.environ.get("QUORVANE_COMMIT")
    if not commit:
        described = subprocess.run(["git", "-C", str(HERE), "describe", "--always", "--dirty"],
                                   capture_output=True, text=True)
        commit = described.stdout.strip() if described.returncode == 0 else ""
    return [
        ("Processor", f"{model}, {os.cpu_count()} logical cores ({platform.machine()})"),
        ("Python", platform.python_version()),
        ("quorvane", version + (f" ({commit})" if commit else "")),
        ("lxml", ".".join(map(str, lxml.etree.LXML_VERSION))),
        ("libxml2", ".".join(map(str, lxml.etree.LIBXML_VERSION))),
        ("xmltodict", importlib.metadata.version("xmltodict")),
        ("Date", datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")),
    ]


def grouped_bars(ax, groups, series, ylabel, reference=None, label="{:.1f}"):
    """Bars per group, one per series, the first series' labelled; a dashed
    line marks `reference`."""
    width = 0.8 / len(series)
    for i, (name, values) in enumerate(series.items()):
        offsets = [g + (i - (len(series) - 1) / 2) * width for g in range(len(groups))]
        bars = ax.bar(offsets, values, width, label=name, color=COLOURS.get(name))
        if i == 0:
            ax.bar_label(bars, labels=[label.format(v) for v in values], fontsize=8, padding=2)
    ax.set_xticks(range(len(groups)), groups, fontsize=9)
    ax.set_ylabel(ylabel)
    if reference is not None:
        ax.axhline(reference, color=COLOURS["lxml"], linestyle="--", linewidth=1)
    ax.spines[["top", "right"]].set_visible(False)
    ax.margins(y=0.12)


def save(fig, out, name, title, stamp):
    fig.suptitle(title, fontsize=12)
    fig.text(0.99, 0.01, stamp, ha="right", va="bottom", fontsize=7, color="#555555")
    fig.tight_layout(rect=(0, 0.03, 1, 1))
    fig.savefig(out / name, dpi=110)
    plt.close(fig)
    return name


def relative_to_lxml(rows):
    """quorvane's and ElementTree's speed over lxml's, per document."""
    series = {"quorvane": [r["lxml"] / r["quorvane"] for r in rows]}
    if "ET" in rows[0]:
        series["ElementTree"] = [r["lxml"] / r["ET"] for r in rows]
    return series


def throughput_table(title, note, rows, libraries):
    header = ["document", "MB"] + [f"{name} MB/s" for name in libraries.values()]
    header += [f"vs {name}" for key, name in libraries.items() if key != "quorvane"]
    body = []
    for r in rows:
        cells = [r["document"], f"{r['mb']:.1f}"]
        cells += [f"{r['mb'] / r[key]:.0f}" for key in libraries]
        cells += [ratio(r[key] / r["quorvane"]) for key in libraries if key != "quorvane"]
        body.append(cells)
    return Table(title, note, header, body)


def written_table(rows, median):
    table = throughput_table(
        "Writing a str", "`write_string` next to `lxml.etree.tostring(..., pretty_print=True,"
        " encoding=\"unicode\")` and `ElementTree.tostring(..., encoding=\"unicode\")`, each of"
        " its own tree; MB/s of the document the tree was read from, " + median + ". The texts"
        " differ in length: quorvane indents every element by its depth, lxml does not break"
        " lines inside elements that have text (each element of the deeply-nested document"
        " has) and ElementTree does not indent at all; the last column gives the MB each"
        " wrote.", rows, {"quorvane": "quorvane", "lxml": "lxml", "ET": "ElementTree"})
    table.header.append("MB written (quorvane / lxml / ElementTree)")
    for cells, r in zip(table.rows, rows):
        out = r["output mb"]
        cells.append(f"{out['quorvane']:.1f} / {out['lxml']:.1f} / {out['ET']:.1f}")
    return table


def report(sizes, out):
    started = time.monotonic()
    facts = machine()
    stamp = " · ".join(f"{label} {value}" for label, value in facts)
    runs = sizes["runs"]
    print("reading", flush=True)
    read = bench_read.measure(sizes["size"], runs)
    print("real documents", flush=True)
    real = bench_real.measure(runs)
    print("real documents of many kinds", flush=True)
    kinds = bench_corpora.measure(runs)
    print("other encodings", flush=True)
    codecs = bench_real.codec_costs(runs)
    print("writing", flush=True)
    write = bench_write.measure(sizes["size"], runs)
    print("many documents", flush=True)
    many = bench_read.measure_many(sizes["small"], sizes["held"])
    print("search and to_dict", flush=True)
    operations = bench_trees.measure_operations(sizes["nodes"], runs)
    print("dicts", flush=True)
    dicts = bench_trees.measure_dicts(sizes["dict_size"], runs)
    print("pickling", flush=True)
    pickled = bench_trees.measure_pickling(sizes["pickle_size"], runs)
    print("isolated interpreters", flush=True)
    cores = bench_interpreters.measure(argparse.Namespace(
        size=sizes["size"] / 1e6, rounds=3, small=sizes["interpreter_small"], runs=runs))

    three = {"quorvane": "quorvane", "lxml": "lxml", "ET": "ElementTree"}
    two = {"quorvane": "quorvane", "lxml": "lxml"}
    median = f"median of {runs} runs"
    tables = [
        throughput_table("Reading a str", f"`read_string` next to `lxml.etree.fromstring` (of the"
                         f" encoded bytes) and `ElementTree.fromstring`; MB/s of UTF-8 input,"
                         f" {median}.", read["read_string"], three),
        throughput_table("Reading a file", f"`read_file` next to `lxml.etree.parse`; {median}.",
                         read["read_file"], two),
        Table("Real documents", "Files of five kinds as Debian ships them"
              f" ({', '.join(bench_real.versions(bench_real.CORPORA))}), each corpus read"
              " file by file: from a fresh str (lxml from the file's bytes), from a str read"
              " before (its UTF-8 form cached), from a fresh str with every tree held, from"
              " the path, from the file's bytes as held (`read_bytes` next to"
              " `lxml.etree.fromstring` of the same bytes) and from a file object opened in"
              " binary mode for each file (`read_file` next to `lxml.etree.parse` of it), next"
              " to `lxml.etree.fromstring`/`parse` and ElementTree; MB/s, {median}, the"
              " libraries taking turns within each run; the speed-up is the median of the"
              " runs' own ratios.",
              ["corpus", "files", "KB per file", "way", "quorvane MB/s", "lxml MB/s",
               "ElementTree MB/s", "quorvane / lxml"],
              [[r["corpus"], str(r["files"]), f"{r['mb'] * 1e3 / r['files']:.0f}", way,
                f"{r['mb'] / r['seconds']['quorvane'][way]:.0f}",
                f"{r['mb'] / r['seconds']['lxml'][way]:.0f}",
                f"{r['mb'] / r['seconds']['ElementTree'][way]:.0f}",
                ratio(r["speedups"]["lxml"][way])]
               for r in real for way in bench_real.MEASURES]),
        Table("Real documents of many kinds", f"Files of {len(kinds)} more kinds, each corpus"
              " the files of one kind in one Debian package, read file by file: `read_string`"
              " of a fresh str next to `lxml.etree.fromstring` of the file's bytes,"
              " `read_file` next to `lxml.etree.parse` of the path, and `read_bytes` next to"
              " `lxml.etree.fromstring` of the bytes as held, each timing reading its corpus"
              f" as many times over as make {bench_corpora.TIMED_BYTES / 1e6:.0f} MB;"
              f" quorvane's speed over lxml, the median of {runs} runs' own ratios, the"
              " libraries taking turns within each run. The held-out corpora are only measured, never profiled nor tuned"
              " for. Links are skipped; files lxml refuses (not well-formed, or using entities"
              " only a DTD outside the file declares) and files quorvane refuses are left out"
              " and counted. Elements and attributes are lxml's counts, namespace declarations"
              " not counted. Under the corpora, column by column, the worst corpus and the"
              " median of the corpora.",
              bench_corpora.HEADER, bench_corpora.table(kinds)),
        Table("Real documents: the work outside quorvane", "What a read of each way includes"
              " that is not quorvane's: for a fresh str, the interpreter making its UTF-8 form"
              " (the call read_string makes, timed alone on fresh strs of the same corpus); for"
              " a path, the system opening, reading and closing the file (timed alone). Beside"
              " it, in ms per MB, quorvane's and lxml's reads, and what a read 3× lxml's speed"
              f" would leave for quorvane's own part after that work; {median}.",
              ["corpus", "way", "work outside", "ms/MB", "share of the read", "quorvane ms/MB",
               "lxml ms/MB", "left for quorvane at 3× lxml", "quorvane's own part"],
              [[r["corpus"], f["way"], f["work"], f"{f['floor']:.2f}",
                f"{f['floor'] / f['quorvane']:.0%}", f"{f['quorvane']:.2f}", f"{f['lxml']:.2f}",
                f"{f['room']:.2f}", f"{f['quorvane'] - f['floor']:.2f}"]
               for r in real for f in bench_real.floors(r)]),
        Table("Real documents in other encodings", "What decoding costs: the same files"
              " encoded as UTF-16 and as ISO-8859-1 (the files whose text fits it), their"
              " declarations naming the encoding, each read from bytes (`read_bytes`,"
              " `lxml.etree.fromstring`) next to the UTF-8 bytes of the same files; MB/s of"
              f" the UTF-8 text, {median}. quorvane decodes the other encodings once through"
              " the interpreter's codec into UTF-8; the time column is the other encoding's"
              " read time over the UTF-8 read's.",
              ["corpus", "encoding", "files", "MB as UTF-8", "quorvane UTF-8 MB/s",
               "quorvane MB/s", "quorvane time × UTF-8", "lxml UTF-8 MB/s", "lxml MB/s",
               "lxml time × UTF-8", "quorvane / lxml"],
              [[r["corpus"], r["encoding"], str(r["files"]), f"{r['mb']:.1f}"]
               + [cell for library in ("quorvane", "lxml") for cell in (
                   f"{r['mb'] / r['seconds'][library]['UTF-8']:.0f}",
                   f"{r['mb'] / r['seconds'][library][r['encoding']]:.0f}",
                   ratio(r["seconds"][library][r["encoding"]] / r["seconds"][library]["UTF-8"]))]
               + [ratio(r["seconds"]["lxml"][r["encoding"]]
                        / r["seconds"]["quorvane"][r["encoding"]])]
               for r in codecs]),
        written_table(write["write_string"], median),
        Table("Writing bytes", "`write_bytes` next to `write_string` (the same text as a str)"
              " and `lxml.etree.tostring(..., pretty_print=True, encoding=\"UTF-8\","
              " xml_declaration=True)`, each of its own tree; MB/s of the document the tree"
              f" was read from, {median}; the texts differ in length as above.",
              ["document", "MB", "write_bytes MB/s", "write_string MB/s", "lxml MB/s",
               "vs lxml", "vs write_string"],
              [[r["document"], f"{r['mb']:.1f}", f"{r['mb'] / r['quorvane']:.0f}",
                f"{r['mb'] / r['write_string']:.0f}", f"{r['mb'] / r['lxml']:.0f}",
                ratio(r["lxml"] / r["quorvane"]), ratio(r["write_string"] / r["quorvane"])]
               for r in write["write_bytes"]]),
        throughput_table("Writing a file", "`write_file` next to lxml's `ElementTree.write(path,"
                         f" pretty_print=True)`, whose texts differ in length as above; {median}.",
                         write["write_file"], two),
        Table("Two threads writing", "`write_string` of two trees, one after the other on one"
              " thread and at once on two; MB/s of both documents.",
              ["document", "MB", "1 thread MB/s", "2 threads MB/s", "speed-up"],
              [[r["document"], f"{r['mb']:.1f}", f"{r['mb'] / r['one']:.0f}",
                f"{r['mb'] / r['two']:.0f}", ratio(r["one"] / r["two"])]
               for r in write["threads"]]),
        Table("Memory a held tree keeps", "Growth of the resident set while the tree read from"
              " the document is held and the input is dropped; a fresh interpreter per library.",
              ["document", "quorvane MB", "lxml MB", "quorvane / lxml"],
              [[r["document"], f"{r['quorvane'] / 1e6:.0f}", f"{r['lxml'] / 1e6:.0f}",
                ratio(r["quorvane"] / r["lxml"])] for r in read["memory"]]),
        Table("Many small documents", f"{sizes['small']:,} documents of 100 B to 2 KB per kind,"
              " each read from a fresh str and dropped; µs per document, best of 3 runs.",
              ["kind", "average bytes", "quorvane µs", "lxml µs", "ElementTree µs", "vs lxml",
               "vs ElementTree"],
              [[r["kind"], f"{r['bytes']:.0f}", f"{r['quorvane']:.2f}", f"{r['lxml']:.2f}",
                f"{r['ET']:.2f}", ratio(r["lxml"] / r["quorvane"]),
                ratio(r["ET"] / r["quorvane"])] for r in many["small"]]),
        Table("Writing many small documents", "The trees of the same documents, all held, each"
              " written to a str (lxml with `pretty_print=True`); µs per document, best of 3"
              " runs.",
              ["kind", "average bytes", "quorvane µs", "lxml µs", "ElementTree µs", "vs lxml",
               "vs ElementTree"],
              [[r["kind"], f"{r['bytes']:.0f}", f"{r['written']['quorvane']:.2f}",
                f"{r['written']['lxml']:.2f}", f"{r['written']['ET']:.2f}",
                ratio(r["written"]["lxml"] / r["written"]["quorvane"]),
                ratio(r["written"]["ET"] / r["written"]["quorvane"])] for r in many["small"]]),
        Table("Many documents held at once", f"{sizes['held']:,} locale-like documents of 20 to"
              " 100 KB, mostly non-ASCII text, each read from a fresh str and all trees held;"
              " a fresh interpreter per library.",
              ["library", "MB/s", "KB held per tree"],
              [[three[key], f"{r['bytes'] / r['seconds'] / 1e6:.0f}",
                f"{r['held'] / sizes['held'] / 1e3:.0f}"] for key, r in many["held"].items()]),
        Table("Search", f"All `record` elements of a tree of {operations['nodes']:,} nodes:"
              " `search_by_name`, the same walk in plain Python over the `Node` properties,"
              f" and `iter(\"record\")` over lxml's and ElementTree's trees; {median}.",
              ["way", "ms", "time / search_by_name"],
              [[label, f"{operations['search_by_name'][key] * 1e3:.2f}",
                ratio(operations["search_by_name"][key] / operations["search_by_name"]["quorvane"])]
               for key, label in (("quorvane", "search_by_name"), ("python", "plain Python"),
                                  ("lxml", "lxml iter"), ("ET", "ElementTree iter"))]),
        Table("to_dict", f"The same tree as plain dicts: `to_dict`, the same in plain Python,"
              f" and `marshal.loads` making the same objects (the least making them costs);"
              f" {median}.",
              ["way", "ms", "time / to_dict"],
              [[label, f"{operations['to_dict'][key] * 1e3:.1f}",
                ratio(operations["to_dict"][key] / operations["to_dict"]["quorvane"])]
               for key, label in (("quorvane", "to_dict"), ("python", "plain Python"),
                                  ("marshal.loads", "marshal.loads"))]),
        throughput_table("XML to dicts", "`read_string(...).to_dict()` next to"
                         " `xmltodict.parse` (dicts of another shape holding the same names,"
                         f" attributes and texts); MB/s of UTF-8 input, {median}.", dicts,
                         {"quorvane": "quorvane", "xmltodict": "xmltodict"}),
        Table("Pickling", f"A record-like tree of {pickled['nodes']:,} nodes sent to another"
              " process: pickling the `Node`, pickling its `to_dict()` (and `Node.from_dict` on"
              " loading), writing and reading its XML, and pickling an ElementTree element of"
              f" the same document; protocol {bench_trees.PROTOCOL}, {median}.",
              ["route", "dump ms", "load ms", "total ms", "MB sent", "total / pickle Node"],
              [[r["route"], f"{r['dump'] * 1e3:.1f}", f"{r['load'] * 1e3:.1f}",
                f"{(r['dump'] + r['load']) * 1e3:.1f}", f"{r['bytes'] / 1e6:.1f}",
                ratio((r["dump"] + r["load"]) / (pickled["routes"][0]["dump"]
                                                 + pickled["routes"][0]["load"]))]
               for r in pickled["routes"]]),
        Table("Every core: isolated interpreters", "The same reading and searching on two cores:"
              f" two {sizes['size'] / 1e6:.0f} MB documents read three times each, and two batches"
              f" of {sizes['interpreter_small']:,} documents of 1 to 2 KB, each read from a fresh str;"
              " lxml does not load in an isolated interpreter. SHA-256 of the same documents"
              " is native work that shares nothing: the most two cores of the machine give."
              " Speed-up over the same work in one interpreter; two isolated interpreters at once"
              " over the same two one after the other, timed in turns with them batch by batch"
              " on the same documents. In the workers' first batch and in their second (a pool's"
              " workers do many; only the first meets memory they have not touched yet, and at"
              " once goes first);"
              f" {median}, each run timing every way in turn.",
              ["workload", "way", "first batch s", "speed-up", "second batch s", "speed-up"],
              [[r["workload"], r["way"], f"{r['first_seconds']:.3f}", f"{r['first_speed_up']:.2f}×",
                f"{r['seconds']:.3f}", f"{r['speed_up']:.2f}×"] for r in cores]),
    ]

    out.mkdir(parents=True, exist_ok=True)
    for old in out.glob("*.png"):
        old.unlink()
    charts = []
    documents = [r["document"] for r in read["read_string"]]

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), sharey=True)
    grouped_bars(left, documents, relative_to_lxml(read["read_string"]), "speed / lxml's speed", 1,
                 "{:.1f}×")
    left.set_title("read_string", fontsize=10)
    # A text much longer than lxml's (indentation lxml leaves out) is named.
    written = []
    for r in write["write_string"]:
        longer = r["output mb"]["quorvane"] / r["output mb"]["lxml"]
        written.append(r["document"] + (f"\n(writes {longer:.0f}× lxml's text)" if longer >= 1.5
                                        else ""))
    grouped_bars(right, written, relative_to_lxml(write["write_string"]), "", 1, "{:.1f}×")
    right.set_title("write_string", fontsize=10)
    left.legend(frameon=False, fontsize=8, title="dashed: lxml = 1", title_fontsize=8)
    charts.append(("Reading and writing", save(
        fig, out, "read-write.png", "Read and write throughput relative to lxml (higher is faster)",
        stamp)))

    fig, ax = plt.subplots(figsize=(11, 4.2))
    grouped_bars(ax, [f"{r['corpus']}\n{r['mb'] * 1e3 / r['files']:.0f} KB per file" for r in real],
                 {way: [r["speedups"]["lxml"][way] for r in real]
                  for way in bench_real.MEASURES}, "speed / lxml's speed", 1, "{:.1f}×")
    ax.legend(frameon=False, fontsize=8, title="dashed: lxml = 1", title_fontsize=8)
    charts.append(("Real documents", save(fig, out, "real-documents.png",
                                          "Real documents relative to lxml (higher is faster)",
                                          stamp)))

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2), sharey=True)
    grouped_bars(left, documents, relative_to_lxml(read["read_file"]), "speed / lxml's speed", 1,
                 "{:.1f}×")
    left.set_title("read_file / lxml.etree.parse", fontsize=10)
    grouped_bars(right, documents, relative_to_lxml(write["write_file"]), "", 1, "{:.1f}×")
    right.set_title("write_file / lxml's ElementTree.write", fontsize=10)
    charts.append(("Files", save(fig, out, "files.png",
                                 "File throughput relative to lxml (higher is faster)", stamp)))

    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.2))
    kinds = [r["kind"].replace(", ", ",\n") for r in many["small"]]
    grouped_bars(left, kinds, {name: [r[key] for r in many["small"]] for key, name in three.items()},
                 "µs per document (lower is faster)")
    left.set_title("Small documents, read and dropped", fontsize=10)
    left.legend(frameon=False, fontsize=8)
    grouped_bars(right, documents, {
        "quorvane": [r["quorvane"] / 1e6 for r in read["memory"]],
        "lxml": [r["lxml"] / 1e6 for r in read["memory"]]}, "MB held (lower is smaller)")
    right.set_title(f"Memory a held tree keeps ({sizes['size'] / 1e6:.0f} MB documents)",
                    fontsize=10)
    right.legend(frameon=False, fontsize=8)
    charts.append(("Small documents and memory", save(
        fig, out, "documents-and-memory.png", "Small documents and held memory", stamp)))

    fig, (left, middle, right) = plt.subplots(1, 3, figsize=(12, 4.2))
    search = operations["search_by_name"]
    names = ["search_by_name", "plain Python", "lxml iter", "ElementTree iter"]
    keys = ["quorvane", "python", "lxml", "ET"]
    bars = left.bar(names, [search[k] * 1e3 for k in keys],
                    color=[COLOURS[n] for n in ("quorvane", "plain Python", "lxml", "ElementTree")])
    left.bar_label(bars, fmt="%.1f", fontsize=8, padding=2)
    left.set_ylabel("ms (lower is faster)")
    left.set_title(f"Search, {operations['nodes']:,} nodes", fontsize=10)
    left.tick_params(axis="x", labelsize=8, rotation=15)
    left.spines[["top", "right"]].set_visible(False)
    conversion = operations["to_dict"]
    bars = middle.bar(["to_dict", "plain Python"], [conversion["quorvane"] * 1e3,
                                                    conversion["python"] * 1e3],
                      color=[COLOURS["quorvane"], COLOURS["plain Python"]])
    middle.bar_label(bars, fmt="%.0f", fontsize=8, padding=2)
    middle.set_title("to_dict, same tree", fontsize=10)
    middle.spines[["top", "right"]].set_visible(False)
    grouped_bars(right, [r["document"] for r in dicts], {
        "quorvane": [r["mb"] / r["quorvane"] for r in dicts],
        "xmltodict": [r["mb"] / r["xmltodict"] for r in dicts]}, "MB/s (higher is faster)")
    right.set_title("XML to dicts", fontsize=10)
    right.legend(frameon=False, fontsize=8)
    charts.append(("Search and dicts", save(fig, out, "search-and-dicts.png",
                                            "Search, to_dict and XML to dicts", stamp)))

    fig, ax = plt.subplots(figsize=(11, 4.2))
    routes = [r["route"] for r in pickled["routes"]]
    dumps = [r["dump"] * 1e3 for r in pickled["routes"]]
    loads = [r["load"] * 1e3 for r in pickled["routes"]]
    ax.barh(routes, dumps, label="dump", color="#5c677d")
    bars = ax.barh(routes, loads, left=dumps, label="load", color="#b0b7c3")
    ax.bar_label(bars, labels=[f"{d + l:.0f} ms" for d, l in zip(dumps, loads)], fontsize=8,
                 padding=2)
    ax.invert_yaxis()
    ax.set_xlabel("ms (shorter is faster)")
    ax.legend(frameon=False, fontsize=8)
    ax.spines[["top", "right"]].set_visible(False)
    ax.margins(x=0.15)
    charts.append(("Pickling", save(fig, out, "pickle.png",
                                    f"Sending a tree of {pickled['nodes']:,} nodes", stamp)))

    fig, ax = plt.subplots(figsize=(11, 4.2))
    ways = list(dict.fromkeys(r["way"] for r in cores))
    workloads = {"large": "two 20 MB documents", "small": "many small documents"}
    grouped_bars(ax, [way.replace(", ", ",\n") for way in ways],
                 {label: [r["speed_up"] for r in cores if r["workload"] == key]
                  for key, label in workloads.items()},
                 "speed-up over one interpreter (second batch)", 1, "{:.2f}×")
    ax.legend(frameon=False, fontsize=8, title="dashed: one interpreter = 1", title_fontsize=8)
    charts.append(("Every core", save(fig, out, "interpreters.png",
                                      "Two cores: interpreters, threads and processes", stamp)))

    minutes = (time.monotonic() - started) / 60
    write_pages(out, facts, tables, charts, minutes)
    print(f"report written to {out} in {minutes:.1f} minutes")


INTRO = ("Generated by `make bench-report` (`bench/report.py`) in one run of {minutes:.1f}"
         " minutes; never edited by hand. Each library reads or writes its own tree of the"
         " same generated documents: record-like (attributes and short fields), quote-dense"
         " (empty elements with many attributes), text-heavy (prose with inline markup) and"
         " deeply-nested (chains of 200 elements).")


def write_pages(out, facts, tables, charts, minutes):
    intro = INTRO.format(minutes=minutes)
    md = ["# Benchmarks", "", intro, ""]
    md += [f"- **{label}**: {value}" for label, value in facts]
    md.append("")
    md += [f"![{title}]({name})\n" for title, name in charts]
    md += [table.markdown() + "\n" for table in tables]
    (out / "README.md").write_text("\n".join(md))

    title = "Benchmarks"
    rst = [title, "=" * len(title), "", intro.replace("`", "``"), ""]
    rst += [f"- **{label}**: {value}" for label, value in facts]
    rst.append("")
    for caption, name in charts:
        rst += [f".. image:: {name}", f"   :alt: {caption}", "   :width: 100%", ""]
    for table in tables:
        rst += [table.rst().replace("`", "``"), ""]
    (out / "report.rst").write_text("\n".join(rst))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="small sizes and one run, to try the report out")
    parser.add_argument("--out", type=pathlib.Path, default=HERE.parent / "docs" / "benchmarks")
    args = parser.parse_args()
    report(QUICK if args.quick else FULL, args.out)


if __name__ == "__main__":
    main()
