"""Read a corpus of XML files in parallel, search each tree where it was
read, and bring back what the caller needs: the found nodes themselves
(Node trees pickle, so they travel like any Python value), or only their
count per file, reduced where the files were read.

The corpus is a folder, a glob, or the URL of either on any file system
fsspec knows (file://, s3://, gs://, hdfs://, http://, ...). From a URL
each worker fetches its own files and reads their bytes, so workers on other
machines need no shared disk; a local path is read from the worker's own disk.

The files go to the workers in batches, one task per batch: a task per file
would spend more on sending tasks and results than on reading. Four ways,
with the same result, each timed beside one process doing it all:
- concurrent.futures.InterpreterPoolExecutor (Python 3.14 on): isolated
  interpreters in this process, each with an interpreter lock of its own;
- concurrent.futures.ProcessPoolExecutor on this machine;
- dask.distributed, on a local cluster of worker processes, or on a running
  Dask cluster given its scheduler's address (`--scheduler tcp://host:8786`).
  The scheduler and the workers need quorvane installed, not this file:
  Client.upload_file sends it to each of them, and to workers that join
  later, since a task names its function by module and both import it.

Without Dask (`pip install quorvane[dask]` brings it, and fsspec for URLs),
the pools run.

    python3 examples/corpus.py CORPUS ROOT_TAG NAME [--workers N] [--count]
        [--scheduler ADDRESS]
    python3 examples/corpus.py --generate FOLDER [--files N] [--items N]   # a sample corpus
"""

import argparse
import glob
import importlib
import os
import pathlib
import random
import site
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from functools import partial

import quorvane

try:
    from concurrent.futures import InterpreterPoolExecutor
except ImportError:  # before Python 3.14
    InterpreterPoolExecutor = None


def is_url(source):
    return "://" in source


def read(source, root_tag):
    """A local file, read by quorvane itself, or a URL, whose bytes fsspec
    fetches wherever this runs."""
    if not is_url(source):
        return quorvane.read_file(source, root_tag)
    import fsspec

    with fsspec.open(source, "rb") as stream:
        return quorvane.read_bytes(stream.read(), root_tag)


def search_batch(sources, root_tag, name):
    """Runs on a worker: each file's matches, which pickle back whole."""
    return {source: read(source, root_tag).search_by_name(name) for source in sources}


def count_batch(sources, root_tag, name):
    """Runs on a worker: only the number of matches per file."""
    return {source: len(read(source, root_tag).search_by_name(name)) for source in sources}


def listed(corpus):
    """The XML files of a folder, or those a glob matches, in order: local
    paths, or for a URL the files' own URLs."""
    if not is_url(corpus):
        return sorted(glob.glob(os.path.join(corpus, "*.xml") if os.path.isdir(corpus) else corpus))
    import fsspec

    fs, path = fsspec.url_to_fs(corpus)
    if fs.isdir(path):
        path = path.rstrip("/") + "/*.xml"
    return sorted(fs.unstrip_protocol(found) for found in fs.glob(path))


def batches(sources, workers):
    """A few batches per worker, so that a slow one does not hold up the end."""
    size = max(1, -(-len(sources) // (4 * workers)))
    return [sources[i:i + size] for i in range(0, len(sources), size)]


def merged(results):
    found = {}
    for result in results:
        found.update(result)
    return found


def in_this_process(task, sources, root_tag, name):
    return task(sources, root_tag, name)


def interpreter_pool(workers):
    # A worker interpreter finds the task by its module's name, so the
    # folder of this file goes on its import path first.
    here = os.path.dirname(os.path.abspath(__file__))
    return InterpreterPoolExecutor(workers, initializer=site.addsitedir, initargs=(here,))


# Isolated interpreters have a pool from Python 3.14 on.
POOLS = {"interpreter pool": interpreter_pool} if InterpreterPoolExecutor else {}
POOLS["process pool"] = ProcessPoolExecutor


def started(pool, workers):
    """The pool with every worker running: a program makes one pool and
    gives it many batches, so starting it is timed apart."""
    list(pool.map(abs, range(workers)))
    return pool


def on_pool(pool, task, sources, root_tag, name, workers=2):
    return merged(pool.map(partial(task, root_tag=root_tag, name=name), batches(sources, workers)))


def with_interpreters(task, sources, root_tag, name, workers=2):
    with interpreter_pool(workers) as pool:
        return on_pool(pool, task, sources, root_tag, name, workers)


def with_processes(task, sources, root_tag, name, workers=2):
    with ProcessPoolExecutor(workers) as pool:
        return on_pool(pool, task, sources, root_tag, name, workers)


def installed(module):
    try:
        importlib.import_module(module)
    except ImportError:
        return False
    return True


def dask_client(scheduler=None, workers=2):
    """A client of the running cluster at `scheduler`, or of a local cluster
    of `workers` processes, which closes with it."""
    from dask.distributed import Client

    if not scheduler:
        # Its workers start with this process's import path, so they find
        # this module there. It serves this machine only: on the loopback
        # address, its HTTP server too.
        return Client(n_workers=workers, threads_per_worker=1, processes=True,
                      host="127.0.0.1", dashboard_address=None)
    client = Client(scheduler)
    # A task names its function by module, which the scheduler and the
    # workers import: this file goes to each of them, and to workers that
    # join later.
    client.upload_file(__file__)
    return client


def on_dask(client, task, sources, root_tag, name):
    threads = sum(client.nthreads().values())
    futures = client.map(task, batches(sources, max(threads, 1)), root_tag=root_tag, name=name,
                         pure=False)
    return merged(client.gather(futures))


def with_dask(task, sources, root_tag, name, workers=2):
    with dask_client(workers=workers) as client:
        return on_dask(client, task, sources, root_tag, name)


def generate(folder, files=20, seed=1, most_items=50):
    """Writes `files` catalogues of up to `most_items` items, some with a <note>."""
    rng = random.Random(seed)
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for f in range(files):
        items = []
        for i in range(rng.randint(most_items // 10, most_items)):
            note = f"<note>check {i}</note>" if rng.random() < 0.2 else ""
            items.append(f'<item id="{f}-{i}"><name>Item {i}</name>{note}</item>')
        (folder / f"catalog-{f:03d}.xml").write_text(
            f'<?xml version="1.0" encoding="UTF-8"?>\n<catalog n="{f}">{"".join(items)}</catalog>\n',
            encoding="utf-8")


def timed(run, *arguments, **options):
    start = time.perf_counter()
    result = run(*arguments, **options)
    return result, time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("corpus", help="a folder, a glob, or the URL of either")
    parser.add_argument("root_tag", nargs="?", default="catalog")
    parser.add_argument("name", nargs="?", default="note")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--count", action="store_true",
                        help="bring back only the number of matches per file")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--generate", action="store_true", help="write a sample corpus to CORPUS")
    parser.add_argument("--files", type=int, default=20, help="files --generate writes")
    parser.add_argument("--items", type=int, default=50, help="most items in a generated file")
    args = parser.parse_args()
    if args.generate:
        generate(args.corpus, args.files, most_items=args.items)
        print(f"wrote a sample corpus to {args.corpus}")
        return
    if is_url(args.corpus) and not installed("fsspec"):
        parser.error("a URL is read through fsspec, which is not installed "
                     "(pip install quorvane[dask] brings it)")
    # The worker interpreters and processes find the tasks by module name,
    # which a script run as __main__ does not have.
    import corpus

    task = corpus.count_batch if args.count else corpus.search_batch
    sources = listed(args.corpus)
    found, alone = timed(in_this_process, task, sources, args.root_tag, args.name)
    total = sum(found.values()) if args.count else sum(map(len, found.values()))
    print(f"{len(sources)} files, {total} <{args.name}> elements found")
    for source, matches in list(found.items())[:5]:
        shown = matches if args.count else [node.text for node in matches]
        print(f"  {pathlib.Path(source).name}: {shown}")
    shape = (lambda result: result) if args.count else (
        lambda result: {p: [n.to_dict() for n in nodes] for p, nodes in result.items()})

    def report(label, result, seconds, start_seconds):
        agrees = "same result" if shape(result) == shape(found) else "DIFFERENT RESULT"
        print(f"{label}: {seconds:.3f} s, {alone / seconds:.2f}x one process, {agrees}"
              f" (starting it took {start_seconds:.3f} s)")

    print(f"one process: {alone:.3f} s")
    if "interpreter pool" not in POOLS:
        print("no interpreter pool before Python 3.14; using the process pool", file=sys.stderr)
    for label, make_pool in POOLS.items():
        with make_pool(args.workers) as pool:
            _, start_seconds = timed(started, pool, args.workers)
            result, seconds = timed(on_pool, pool, task, sources, args.root_tag, args.name,
                                    args.workers)
        report(label, result, seconds, start_seconds)
    if not installed("dask.distributed"):
        print("dask is not installed (pip install quorvane[dask]); using the pools",
              file=sys.stderr)
    elif args.scheduler:
        client, start_seconds = timed(dask_client, args.scheduler)
        with client:
            result, seconds = timed(on_dask, client, task, sources, args.root_tag, args.name)
        report(f"dask at {args.scheduler}", result, seconds, start_seconds)
    else:
        result, seconds = timed(with_dask, task, sources, args.root_tag, args.name, args.workers)
        report("dask, cluster included", result, seconds, 0.0)


if __name__ == "__main__":
    main()
