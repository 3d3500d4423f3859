"""The corpus example's parallel paths find what one process finds: trees
read on worker interpreters and processes come back through pickle intact,
and a running Dask cluster that has quorvane but not the example reads the
corpus from local paths and from fsspec URLs."""

import contextlib
import json
import os
import pathlib
import signal
import subprocess
import sys
import time

import pytest

import quorvane

EXAMPLE = pathlib.Path(__file__).resolve().parents[2] / "examples" / "corpus.py"
sys.path.insert(0, str(EXAMPLE.parent))
import corpus  # noqa: E402

needs_interpreter_pool = pytest.mark.skipif(
    "interpreter pool" not in corpus.POOLS,
    reason="concurrent.futures.InterpreterPoolExecutor is new in Python 3.14")


def found_shapes(results):
    return {pathlib.Path(path).name: [node.to_dict() for node in found]
            for path, found in results.items()}


@pytest.fixture
def sample(tmp_path):
    """A generated corpus: its paths and what one process finds in it."""
    corpus.generate(tmp_path, files=8)
    paths = sorted(str(path) for path in tmp_path.glob("*.xml"))
    expected = found_shapes(corpus.in_this_process(corpus.search_batch, paths, "catalog", "note"))
    assert len(expected) == 8 and sum(map(len, expected.values())) > 5
    return paths, expected


@pytest.mark.parametrize("pool", [
    pytest.param(corpus.with_interpreters, marks=needs_interpreter_pool), corpus.with_processes])
def test_the_pools_find_what_one_process_finds(sample, pool):
    paths, expected = sample
    assert found_shapes(pool(corpus.search_batch, paths, "catalog", "note", workers=2)) == expected


@needs_interpreter_pool
def test_counting_on_the_workers_gives_what_one_process_counts(sample):
    paths, expected = sample
    counted = corpus.with_interpreters(corpus.count_batch, paths, "catalog", "note", workers=2)
    assert {pathlib.Path(path).name: count for path, count in counted.items()} == {
        name: len(found) for name, found in expected.items()}


def test_dask_finds_what_one_process_finds(sample):
    pytest.importorskip("distributed")  # the package behind dask.distributed
    paths, expected = sample
    assert found_shapes(corpus.with_dask(corpus.search_batch, paths, "catalog", "note",
                                         workers=2)) == expected


@pytest.mark.parametrize("interpreter_pool", [pytest.param(True, marks=needs_interpreter_pool), False],
                         ids=["with an interpreter pool", "without"])
def test_without_dask_the_example_says_so_once_and_uses_the_pools(
        sample, monkeypatch, capsys, interpreter_pool):
    paths, expected = sample
    monkeypatch.setitem(sys.modules, "dask", None)
    monkeypatch.setitem(sys.modules, "dask.distributed", None)
    if not interpreter_pool:
        monkeypatch.delitem(corpus.POOLS, "interpreter pool", raising=False)
    monkeypatch.setattr(sys, "argv", ["corpus.py", str(pathlib.Path(paths[0]).parent)])
    corpus.main()
    out, err = capsys.readouterr()
    skipped = [] if interpreter_pool else [
        "no interpreter pool before Python 3.14; using the process pool"]
    assert err.splitlines() == skipped + [
        "dask is not installed (pip install quorvane[dask]); using the pools"]
    total = sum(map(len, expected.values()))
    lines = out.splitlines()
    assert lines[0] == f"8 files, {total} <note> elements found"
    assert [line.split(":")[0] for line in lines if "same result" in line] == [
        "interpreter pool"] * interpreter_pool + ["process pool"]


@contextlib.contextmanager
def python_process(arguments, folder, output):
    """`python arguments` in `folder`, where the module tested is on the
    import path but not the example, nor the caller's working directory; in
    a process group of its own, killed whole on the way out unless the
    process was seen to end."""
    environment = {"PATH": os.environ["PATH"],
                   "PYTHONPATH": os.path.dirname(os.path.abspath(quorvane.__file__))}
    process = subprocess.Popen([sys.executable, *arguments], cwd=folder, env=environment, text=True,
                               stdout=output, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        yield process
    finally:
        if process.returncode is None:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=30)


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    """A Dask scheduler and two worker processes on 127.0.0.1, started as a
    user starts them, with quorvane but not the example: the scheduler's
    address, and the folder they run in."""
    pytest.importorskip("distributed")
    if os.environ.get("QUORVANE_SANITIZED"):
        pytest.skip("the sanitized module loads only under the sanitizers' preloaded runtime, "
                    "which would slow each process of the cluster; the pools and the local "
                    "cluster run the same tasks here")
    from distributed import Client

    folder = tmp_path_factory.mktemp("cluster")
    scheduler_file = folder / "scheduler.json"
    log_path = folder / "cluster.log"
    with open(log_path, "w") as log, contextlib.ExitStack() as running:
        scheduler = running.enter_context(python_process(
            # Its HTTP server, which answers health checks without a
            # dashboard, would listen on every interface.
            ["-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", "0",
             "--no-dashboard", "--dashboard-address", "127.0.0.1:0",
             "--scheduler-file", str(scheduler_file)], folder, log))
        deadline = time.monotonic() + 30
        while True:
            try:
                address = json.loads(scheduler_file.read_text())["address"]
                break
            except (FileNotFoundError, ValueError):  # not written yet, or not wholly
                assert time.monotonic() < deadline and scheduler.poll() is None, \
                    log_path.read_text()[-3000:]
                time.sleep(0.05)
        running.enter_context(python_process(
            ["-m", "distributed.cli.dask_worker", address, "--nworkers", "2", "--nthreads", "1",
             "--host", "127.0.0.1", "--no-dashboard"], folder, log))
        with Client(address, timeout=30) as client:
            client.wait_for_workers(2, timeout=30)
        yield address, folder


@pytest.mark.parametrize("count", [False, True], ids=["search", "count"])
@pytest.mark.parametrize("as_url", [False, True], ids=["local glob", "file URL"])
def test_a_running_cluster_without_the_example_finds_what_one_process_finds(
        cluster, sample, count, as_url):
    address, folder = cluster
    paths, expected = sample
    files = pathlib.Path(paths[0]).parent
    source = files.as_uri() if as_url else str(files / "catalog-*.xml")
    arguments = [EXAMPLE, source, "catalog", "note", "--scheduler", address] + ["--count"] * count
    with python_process(arguments, folder, subprocess.PIPE) as run:
        output, _ = run.communicate(timeout=60)
    assert run.returncode == 0, output[-3000:]
    lines = output.splitlines()
    assert lines[0] == f"8 files, {sum(map(len, expected.values()))} <note> elements found"
    on_cluster = [line for line in lines if line.startswith(f"dask at {address}: ")]
    assert len(on_cluster) == 1 and "same result" in on_cluster[0], output
