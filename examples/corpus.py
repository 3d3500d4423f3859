"""Read a folder of XML files in parallel on worker processes, search each
tree where it was read, and bring the found nodes back to this process: Node
trees pickle, so results travel like any Python value.

Two ways, with the same result:
- dask.distributed, on a local cluster of worker processes, or on any Dask
  cluster given its scheduler's address (`--scheduler tcp://host:8786`): the
  workers need quorvane installed and the files at the same paths;
- concurrent.futures.ProcessPoolExecutor on this machine.

Without Dask (`pip install quorvane[dask]` brings it), only the process pool
runs.

    python3 examples/corpus.py FOLDER ROOT_TAG NAME [--workers N] [--scheduler ADDRESS]
    python3 examples/corpus.py --generate FOLDER   # a sample corpus to try it on
"""

import argparse
import pathlib
import random
import sys
from concurrent.futures import ProcessPoolExecutor
from itertools import repeat

import quorvane


def search_file(path, root_tag, name):
    """Runs on a worker: the file's matches, which pickle back whole."""
    tree = quorvane.read_file(str(path), root_tag)
    return str(path), tree.search_by_name(name)


def dask_installed():
    try:
        import dask.distributed  # noqa: F401
    except ImportError:
        return False
    return True


def with_dask(paths, root_tag, name, workers=2, scheduler=None):
    from dask.distributed import Client, LocalCluster

    if scheduler:
        cluster, client = None, Client(scheduler)
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    try:
        futures = client.map(search_file, paths, root_tag=root_tag, name=name, pure=False)
        return dict(client.gather(futures))
    finally:
        client.close()
        if cluster is not None:
            cluster.close()


def with_processes(paths, root_tag, name, workers=2):
    with ProcessPoolExecutor(workers) as pool:
        return dict(pool.map(search_file, paths, repeat(root_tag), repeat(name)))


def in_this_process(paths, root_tag, name):
    return dict(search_file(path, root_tag, name) for path in paths)


def generate(folder, files=20, seed=1):
    """Writes `files` catalogues of items, some with a <note>."""
    rng = random.Random(seed)
    folder = pathlib.Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    for f in range(files):
        items = []
        for i in range(rng.randint(5, 50)):
            note = f"<note>check {i}</note>" if rng.random() < 0.2 else ""
            items.append(f'<item id="{f}-{i}"><name>Item {i}</name>{note}</item>')
        (folder / f"catalog-{f:03d}.xml").write_text(
            f'<?xml version="1.0" encoding="UTF-8"?>\n<catalog n="{f}">{"".join(items)}</catalog>\n',
            encoding="utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folder")
    parser.add_argument("root_tag", nargs="?", default="catalog")
    parser.add_argument("name", nargs="?", default="note")
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--scheduler", help="address of a running Dask scheduler")
    parser.add_argument("--generate", action="store_true", help="write a sample corpus to FOLDER")
    args = parser.parse_args()
    if args.generate:
        generate(args.folder)
        print(f"wrote a sample corpus to {args.folder}")
        return
    paths = sorted(str(path) for path in pathlib.Path(args.folder).glob("*.xml"))
    if dask_installed():
        dask_found = with_dask(paths, args.root_tag, args.name, args.workers, args.scheduler)
    else:
        print("dask is not installed (pip install quorvane[dask]); using a process pool",
              file=sys.stderr)
        dask_found = None
    pool_found = with_processes(paths, args.root_tag, args.name, args.workers)
    total = sum(len(found) for found in pool_found.values())
    print(f"{len(paths)} files, {total} <{args.name}> elements found")
    for path, found in list(pool_found.items())[:5]:
        print(f"  {pathlib.Path(path).name}: {[node.text for node in found]}")
    if dask_found is not None:
        same = {p: [n.to_dict() for n in f] for p, f in dask_found.items()} == {
            p: [n.to_dict() for n in f] for p, f in pool_found.items()}
        print("Dask and the process pool agree:", same)


if __name__ == "__main__":
    main()
