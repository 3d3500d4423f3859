"""Real documents, as Debian ships them, read by quorvane next to lxml and
ElementTree in one process and one run: locale data, introspection data, OS
descriptions, protocol descriptions and the MIME database (fetched by
tools/fetch-documents into build/documents, never committed).

Per corpus, each library reads every file:
- from a fresh str, as a program reading files or the network gets one,
  whose UTF-8 form is not cached yet (lxml gets the file's bytes: it refuses
  a str that declares its encoding);
- from a str read before, whose UTF-8 form is cached;
- from a fresh str, with every tree held until the corpus is read;
- from its path;
- from the file's bytes, as they are held (quorvane's read_bytes, lxml's and
  ElementTree's fromstring);
- from a file object: each file opened in binary mode and given to
  read_file, lxml.etree.parse and ElementTree.parse.
Beside them, the interpreter's own work in a fresh-str read: the call that
gives read_string each str's UTF-8 form, which encodes a non-ASCII str and
caches the result in it (an ASCII str is its own UTF-8 form), a floor under
the fresh-str time, and what 3× lxml's speed would leave for the rest; and
the system's own work in a read by path: opening, reading and closing each
file, which every library pays.
Apart from them, what reading another encoding than UTF-8 costs: the same
documents encoded as UTF-16 and as ISO-8859-1 (those whose text fits it),
their declarations saying so, read from bytes next to the UTF-8 bytes of the
same files, by quorvane and by lxml (--codecs prints only that).
Times are per corpus, the median of --runs runs, each started from a
collected heap with the collector paused during the reading. Within a run
the libraries take turns measure by measure, so a slow spell of the
machine falls on all of them; a speed-up over lxml is the median of the
runs' own ratios.

    tools/toolchain run tools/fetch-documents
    PYTHONPATH=build python3 bench/bench_real.py [--runs N] [--corpus WORD]
        [--json | --processes N | --codecs]

--corpus keeps the corpora whose names hold WORD (say "osinfo"). With
--processes N the benchmark runs in N processes of its own, one after
another, and prints each cell's speed-up over lxml as min / median / max of
them: how far a cell moves between runs, which one report cannot show.
"""

import argparse
import ctypes
import gc
import glob
import json
import os
import pathlib
import re
import statistics
import subprocess
import sys
import urllib.parse
import xml.etree.ElementTree as ElementTree

import lxml.etree

import quorvane

from common import BENCH, fresh, seconds

DOCUMENTS = os.path.join(BENCH, "..", "build", "documents")

# What read_string asks of the interpreter for a str: its UTF-8 form, made
# and cached on the first call.
utf8_form = ctypes.pythonapi.PyUnicode_AsUTF8AndSize
utf8_form.argtypes = [ctypes.py_object, ctypes.c_void_p]
utf8_form.restype = ctypes.c_void_p

# Corpus: globs under DOCUMENTS.
CORPORA = {
    "locale data (CLDR)": ["unicode-cldr-core/usr/share/unicode/cldr/common/main/*.xml"],
    "introspection data (GIR)": ["*/usr/share/gir-1.0/*.gir"],
    "OS descriptions (osinfo)": ["osinfo-db/usr/share/osinfo/*/*/*.xml"],
    "protocols (Wayland)": ["wayland-protocols/usr/share/wayland-protocols/*/*/*.xml"],
    "MIME database": ["shared-mime-info/usr/share/mime/packages/*.xml"],
}

MEASURES = ["fresh str", "cached str", "fresh str, trees held", "file", "bytes", "file object"]


def versions(corpora):
    """The fetched packages whose files the corpora (name: globs) read, as
    name_version (the file name's %3a an epoch's colon again)."""
    packages = {os.path.relpath(path, DOCUMENTS).split(os.sep)[0]
                for patterns in corpora.values() for path in matching(patterns)}
    return [urllib.parse.unquote(open(os.path.join(DOCUMENTS, package, "VERSION")).read()
                                 .strip().rsplit("_", 1)[0])
            for package in sorted(packages)]


def root_tag(text):
    """The name of the document's first element, past its prolog."""
    uncommented = re.sub(r"<!--.*?-->", "", text, flags=re.DOTALL)
    return re.search(r"<([^?!/\s>][^\s/>]*)", uncommented).group(1)


def matching(patterns):
    """The paths the globs match under DOCUMENTS, sorted."""
    return sorted(path for pattern in patterns
                  for path in glob.glob(os.path.join(DOCUMENTS, pattern)))


def document(path, data):
    """A file's path, its bytes, its text and its root element's name."""
    text = data.decode("utf-8")
    return {"path": path, "bytes": data, "text": text, "root": root_tag(text)}


def load(patterns):
    return [document(path, pathlib.Path(path).read_bytes()) for path in matching(patterns)]


def prepared_seconds(work, prepare):
    """One timing of `work` on freshly prepared inputs, the collector paused."""
    inputs = prepare()
    gc.collect()
    gc.disable()
    try:
        return seconds(lambda: work(inputs))
    finally:
        gc.enable()


def file_calls(paths):
    """The system's work in reading each file whole, as a read by path
    does it: open, the length, one read, close."""
    for path in paths:
        fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
        try:
            os.read(fd, os.fstat(fd).st_size + 1)
        finally:
            os.close(fd)


def readers(documents):
    """Per library and measure: (work on the prepared inputs, preparation)."""
    texts = lambda: [fresh(d["text"]) for d in documents]  # noqa: E731
    cached = [d["text"] for d in documents]
    for d, text in zip(documents, cached):
        quorvane.read_string(text, d["root"])  # caches its UTF-8 form
    roots = [d["root"] for d in documents]
    paths = [d["path"] for d in documents]
    data = lambda: [bytes(bytearray(d["bytes"])) for d in documents]  # noqa: E731

    def each(read):
        def work(inputs):
            for item in inputs:
                read(item)
        return work

    def held(read):
        return lambda inputs: [read(item) for item in inputs]

    def opened(read):
        """Each file opened in binary mode and read from the file object."""
        def work(inputs):
            for path, *rest in inputs:
                with open(path, "rb") as f:
                    read(f, *rest)
        return work

    held_bytes = [d["bytes"] for d in documents]
    q_string = lambda pair: quorvane.read_string(*pair)  # noqa: E731
    return {
        "quorvane": {
            "fresh str": (each(q_string), lambda: list(zip(texts(), roots))),
            "cached str": (each(q_string), lambda: list(zip(cached, roots))),
            "fresh str, trees held": (held(q_string), lambda: list(zip(texts(), roots))),
            "file": (each(lambda pair: quorvane.read_file(*pair)), lambda: list(zip(paths, roots))),
            "bytes": (each(lambda pair: quorvane.read_bytes(*pair)),
                      lambda: list(zip(held_bytes, roots))),
            "file object": (opened(quorvane.read_file), lambda: list(zip(paths, roots))),
        },
        "lxml": {
            "fresh str": (each(lxml.etree.fromstring), data),
            "cached str": (each(lxml.etree.fromstring), lambda: held_bytes),
            "fresh str, trees held": (held(lxml.etree.fromstring), data),
            "file": (each(lxml.etree.parse), lambda: paths),
            "bytes": (each(lxml.etree.fromstring), lambda: held_bytes),
            "file object": (opened(lxml.etree.parse), lambda: [(path,) for path in paths]),
        },
        "ElementTree": {
            "fresh str": (each(ElementTree.fromstring), texts),
            "cached str": (each(ElementTree.fromstring), lambda: cached),
            "fresh str, trees held": (held(ElementTree.fromstring), texts),
            "file": (each(ElementTree.parse), lambda: paths),
            "bytes": (each(ElementTree.fromstring), lambda: held_bytes),
            "file object": (opened(ElementTree.parse), lambda: [(path,) for path in paths]),
        },
    }


# Other encodings than UTF-8, by the codec's name and the name the
# declaration gives.
CODECS = {"UTF-16": "utf-16", "ISO-8859-1": "latin-1"}
DECLARATION = re.compile(r"\A\s*<\?xml\b.*?\?>", re.DOTALL)


def encoded(text, declared, codec):
    """The document's text with a declaration naming `declared`, encoded with
    `codec`; None when the text does not fit it."""
    body = DECLARATION.sub("", text.lstrip("\ufeff"), count=1)
    try:
        return f'<?xml version="1.0" encoding="{declared}"?>{body}'.encode(codec)
    except UnicodeEncodeError:
        return None


def quorvane_bytes(inputs):
    for data, root in inputs:
        quorvane.read_bytes(data, root)


def lxml_bytes(inputs):
    for data, _ in inputs:
        lxml.etree.fromstring(data)


def codec_costs(runs, corpus_word=""):
    """Rows of plain numbers: per corpus and other encoding, the files whose
    text fits it, their size as UTF-8, and each library's seconds reading
    them from bytes in UTF-8 and in the other encoding."""
    rows = []
    for corpus, patterns in CORPORA.items():
        if corpus_word not in corpus:
            continue
        documents = load(patterns)
        for declared, codec in CODECS.items():
            pairs = [(d, encoded(d["text"], declared, codec)) for d in documents]
            pairs = [(d, data) for d, data in pairs if data is not None]
            if not pairs:
                continue
            utf8 = [(d["bytes"], d["root"]) for d, _ in pairs]
            other = [(data, d["root"]) for d, data in pairs]
            read = {"quorvane": quorvane_bytes, "lxml": lxml_bytes}
            ways = {"UTF-8": utf8, declared: other}
            times = {(library, way): [] for library in read for way in ways}
            for run in range(runs):
                keys = list(times)
                first = run % len(keys)
                for library, way in keys[first:] + keys[:first]:
                    times[library, way].append(
                        prepared_seconds(read[library], lambda inputs=ways[way]: inputs))
            rows.append({"corpus": corpus, "encoding": declared, "files": len(pairs),
                         "mb": sum(len(d["bytes"]) for d, _ in pairs) / 1e6,
                         "encoded_mb": sum(len(data) for _, data in pairs) / 1e6,
                         "seconds": {library: {way: statistics.median(times[library, way])
                                               for way in ways}
                                     for library in read}})
    return rows


def time_in_turns(measures, run, times):
    """One run of every measure in `times` (library: measure: seconds of each
    run so far), each timing appended: the libraries take turns measure by
    measure, who goes first turning with the runs."""
    libraries = list(times)
    first = run % len(libraries)
    for name in times[libraries[0]]:
        for library in libraries[first:] + libraries[:first]:
            times[library][name].append(prepared_seconds(*measures[library][name]))


def medians(times):
    """Per library and measure, the median seconds of the runs, and each other
    library's speed-up: the median of the runs' own ratios of its time to
    quorvane's."""
    return {"seconds": {library: {name: statistics.median(runs) for name, runs in by_name.items()}
                        for library, by_name in times.items()},
            "speedups": {library: {name: statistics.median(
                other / ours for other, ours in zip(runs, times["quorvane"][name]))
                for name, runs in by_name.items()}
                for library, by_name in times.items() if library != "quorvane"}}


def measure(runs, corpus_word=""):
    """Rows of plain numbers: per corpus whose name holds `corpus_word`, its
    size and each library's seconds per measure."""
    rows = []
    for corpus, patterns in CORPORA.items():
        if corpus_word not in corpus:
            continue
        documents = load(patterns)
        if not documents:
            raise SystemExit(f"no {corpus} files under {DOCUMENTS}: run tools/fetch-documents")
        mb = sum(len(d["bytes"]) for d in documents) / 1e6
        row = {"corpus": corpus, "files": len(documents), "mb": mb}
        measures = readers(documents)
        times = {library: {name: [] for name in MEASURES} for library in measures}
        utf8, files = [], []
        for run in range(runs):
            time_in_turns(measures, run, times)
            utf8.append(prepared_seconds(lambda inputs: [utf8_form(text, None) for text in inputs],
                                lambda: [fresh(d["text"]) for d in documents]))
            files.append(prepared_seconds(file_calls, lambda: [d["path"] for d in documents]))
        row.update(medians(times))
        row["utf8_seconds"] = statistics.median(utf8)
        row["file_call_seconds"] = statistics.median(files)
        rows.append(row)
    if not rows:
        raise SystemExit(f"no corpus name holds {corpus_word!r}: {', '.join(CORPORA)}")
    return rows


def spread(runs, corpus_word, processes):
    """Each cell's speed-up over lxml in `processes` runs of this script, one
    process each, as min / median / max and how many fall under 3x."""
    command = [sys.executable, os.path.abspath(__file__), "--runs", str(runs),
               "--corpus", corpus_word, "--json"]
    results = [json.loads(subprocess.run(command, check=True, capture_output=True,
                                         text=True).stdout) for _ in range(processes)]
    for i, row in enumerate(results[0]):
        print(f"{row['corpus']}: speed over lxml, min / median / max of {processes} processes")
        for name in MEASURES:
            ratios = sorted(result[i]["speedups"]["lxml"][name] for result in results)
            print(f"  {name:24} {ratios[0]:.2f} / {statistics.median(ratios):.2f} /"
                  f" {ratios[-1]:.2f}x, {sum(r < 3 for r in ratios)} under 3x")


FLOORS = {"fresh str": ("utf8_seconds", "the interpreter making UTF-8 forms"),
          "file": ("file_call_seconds", "the system opening and reading files")}


def floors(row):
    """Per way with a floor, in ms per MB: the work outside quorvane that a
    read of that way includes, quorvane's and lxml's reads, and what 3x
    lxml's speed would leave for quorvane's own part."""
    per_mb = 1e3 / row["mb"]
    result = []
    for way, (key, work) in FLOORS.items():
        floor = row[key] * per_mb
        lxml = row["seconds"]["lxml"][way] * per_mb
        result.append({"way": way, "work": work, "floor": floor,
                       "quorvane": row["seconds"]["quorvane"][way] * per_mb, "lxml": lxml,
                       "room": lxml / 3 - floor})
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--corpus", default="", help="only the corpora whose names hold this")
    group = parser.add_mutually_exclusive_group()
    group.add_argument("--json", action="store_true")
    group.add_argument("--processes", type=int, help="run in this many processes and print the spread")
    group.add_argument("--codecs", action="store_true",
                       help="only what reading UTF-16 and ISO-8859-1 bytes costs beside UTF-8")
    args = parser.parse_args()
    if args.processes:
        spread(args.runs, args.corpus, args.processes)
        return
    if args.codecs:
        print(f"{'corpus':26} {'encoding':10} {'files':>5} {'MB':>5}  quorvane MB/s UTF-8 / other"
              f" (time x)   lxml MB/s UTF-8 / other (time x)")
        for row in codec_costs(args.runs, args.corpus):
            cells = []
            for library in ("quorvane", "lxml"):
                utf8, other = (row["seconds"][library][way] for way in ("UTF-8", row["encoding"]))
                cells.append(f"{row['mb'] / utf8:6.0f} / {row['mb'] / other:5.0f}"
                             f" ({other / utf8:4.2f}x)")
            print(f"{row['corpus']:26} {row['encoding']:10} {row['files']:5} {row['mb']:5.1f}"
                  f"  {cells[0]:>29}   {cells[1]:>25}")
        return
    rows = measure(args.runs, args.corpus)
    if args.json:
        print(json.dumps(rows))
        return
    for row in rows:
        print(f"{row['corpus']}: {row['files']} files, {row['mb']:.1f} MB,"
              f" {row['mb'] * 1e3 / row['files']:.0f} KB on average")
        print(f"  {'':24} {'quorvane MB/s':>14} {'lxml MB/s':>10} {'ET MB/s':>8}"
              f" {'vs lxml':>8} {'vs ET':>7}")
        for name in MEASURES:
            speed = {lib: row["mb"] / row["seconds"][lib][name] for lib in row["seconds"]}
            print(f"  {name:24} {speed['quorvane']:14.0f} {speed['lxml']:10.0f}"
                  f" {speed['ElementTree']:8.0f} {row['speedups']['lxml'][name]:7.2f}x"
                  f" {row['speedups']['ElementTree'][name]:6.2f}x")
        for floor in floors(row):
            print(f"  {floor['work']} alone: {floor['floor']:.2f} ms per MB,"
                  f" {floor['floor'] / floor['quorvane']:.0%} of a {floor['way']} read; at 3x lxml"
                  f" the rest would have {floor['room']:.2f} ms per MB, quorvane's own part takes"
                  f" {floor['quorvane'] - floor['floor']:.2f}")


if __name__ == "__main__":
    main()
