"""Read a folder of XML files in parallel, search each tree where it was
read, and bring back what the caller needs: the found nodes themselves
(Node trees pickle, so they travel like any Python value), or only their
count per file, reduced where the files were read.

The files go to the workers in batches, one task per batch: a task per file
would spend more on sending tasks and results than on reading. Four ways,
with the same result, each timed beside one process doing it all:
- concurrent.futures.InterpreterPoolExecutor: isolated interpreters in this
  process, each with an interpreter lock of its own;
- concurrent.futures.ProcessPoolExecutor on this machine;
- dask.distributed, on a local cluster of worker processes, or on any Dask
  cluster given its scheduler's address (`--scheduler tcp://host:8786`): the
  workers need quorvane installed and the files at the same paths.

Without Dask (`pip install quorvane[dask]` brings it), the other ways run.

    python3 examples/corpus.py FOLDER ROOT_TAG NAME [--workers N] [--count]
        [--scheduler ADDRESS]
    python3 examples/corpus.py --generate FOLDER [--files N] [--items N]   # a sample corpus
"""

import argparse
import os
import pathlib
import random
import site
import sys
import time
from concurrent.futures import InterpreterPoolExecutor, ProcessPoolExecutor
from functools import partial

import quorvane


def search_batch(paths, root_tag, name):
    """Runs on a worker: each file's matches, which pickle back whole."""
    return {path: quorvane.read_file(path, root_tag).search_by_name(name) for path in paths}


def count_batch(paths, root_tag, name):
    """Runs on a worker: only the number of matches per file."""
    return {path: len(quorvane.read_file(path, root_tag).search_by_name(name)) for path in paths}


def batches(paths, workers):
    """A few batches per worker, so that a slow one does not hold up the end."""
    size = max(1, -(-len(paths) // (4 * workers)))
    return [paths[i:i + size] for i in range(0, len(paths), size)]


def merged(results):
    found = {}
    for result in results:
        found.update(result)
    return found


def in_this_process(task, paths, root_tag, name):
    return task(paths, root_tag, name)


def interpreter_pool(workers):
    # A worker interpreter finds the task by its module's name, so the
    # folder of this file goes on its import path first.
    here = os.path.dirname(os.path.abspath(__file__))
    return InterpreterPoolExecutor(workers, initializer=site.addsitedir, initargs=(here,))


POOLS = {"interpreter pool": interpreter_pool, "process pool": ProcessPoolExecutor}


def started(pool, workers):
    """The pool with every worker running: a program makes one pool and
    gives it many batches, so starting it is timed apart."""
    list(pool.map(abs, range(workers)))
    return pool


def on_pool(pool, task, paths, root_tag, name, workers=2):
    return merged(pool.map(partial(task, root_tag=root_tag, name=name), batches(paths, workers)))


def with_interpreters(task, paths, root_tag, name, workers=2):
    with interpreter_pool(workers) as pool:
        return on_pool(pool, task, paths, root_tag, name, workers)


def with_processes(task, paths, root_tag, name, workers=2):
    with ProcessPoolExecutor(workers) as pool:
        return on_pool(pool, task, paths, root_tag, name, workers)


def dask_installed():
    try:
        import dask.distributed  # noqa: F401
    except ImportError:
        return False
    return True


def with_dask(task, paths, root_tag, name, workers=2, scheduler=None):
    from dask.distributed import Client, LocalCluster

    if scheduler:
        cluster, client = None, Client(scheduler)
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = client.map(task, batches(paths, workers), root_tag=root_tag, name=name,
                             pure=False)
        return merged(client.gather(futures))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


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
    parser.add_argument("folder")
    parser.add_argument("root_tag", nargs="?", default="catalog")
    parser.add_argument("name", nargs="?", default="note")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--count", action="store_true",
                        help="bring back only the number of matches per file")
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--generate", action="store_true", help="write a sample corpus to FOLDER")
    parser.add_argument("--files", type=int, default=20, help="files --generate writes")
    parser.add_argument("--items", type=int, default=50, help="most items in a generated file")
    args = parser.parse_args()
    if args.generate:
        generate(args.folder, args.files, most_items=args.items)
        print(f"wrote a sample corpus to {args.folder}")
        return
    # The worker interpreters and processes find the tasks by module name,
    # which a script run as __main__ does not have.
    import corpus

    task = corpus.count_batch if args.count else corpus.search_batch
    paths = sorted(str(path) for path in pathlib.Path(args.folder).glob("*.xml"))
    found, alone = timed(in_this_process, task, paths, args.root_tag, args.name)
    total = sum(found.values()) if args.count else sum(map(len, found.values()))
    print(f"{len(paths)} files, {total} <{args.name}> elements found")
    for path, matches in list(found.items())[:5]:
        shown = matches if args.count else [node.text for node in matches]
        print(f"  {pathlib.Path(path).name}: {shown}")
    shape = (lambda result: result) if args.count else (
        lambda result: {p: [n.to_dict() for n in nodes] for p, nodes in result.items()})

    def report(label, result, seconds, start_seconds):
        agrees = "same result" if shape(result) == shape(found) else "DIFFERENT RESULT"
        print(f"{label}: {seconds:.3f} s, {alone / seconds:.2f}x one process, {agrees}"
              f" (starting it took {start_seconds:.3f} s)")

    print(f"one process: {alone:.3f} s")
    for label, make_pool in POOLS.items():
        with make_pool(args.workers) as pool:
            _, start_seconds = timed(started, pool, args.workers)
            result, seconds = timed(on_pool, pool, task, paths, args.root_tag, args.name,
                                    args.workers)
        report(label, result, seconds, start_seconds)
    if dask_installed():
        result, seconds = timed(with_dask, task, paths, args.root_tag, args.name, args.workers,
                                args.scheduler)
        report("dask, cluster included", result, seconds, 0.0)
    else:
        print("dask is not installed (pip install quorvane[dask]); using the pools",
              file=sys.stderr)


if __name__ == "__main__":
    main()
