"""The corpus example's parallel paths find what one process finds: trees
read on worker interpreters and processes come back through pickle intact."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples"))
import corpus  # noqa: E402


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


@pytest.mark.parametrize("pool", [corpus.with_interpreters, corpus.with_processes])
def test_the_pools_find_what_one_process_finds(sample, pool):
    paths, expected = sample
    assert found_shapes(pool(corpus.search_batch, paths, "catalog", "note", workers=2)) == expected


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


def test_without_dask_the_example_says_so_once_and_uses_the_pools(
        sample, monkeypatch, capsys):
    paths, expected = sample
    monkeypatch.setitem(sys.modules, "dask", None)
    monkeypatch.setitem(sys.modules, "dask.distributed", None)
    monkeypatch.setattr(sys, "argv", ["corpus.py", str(pathlib.Path(paths[0]).parent)])
    corpus.main()
    out, err = capsys.readouterr()
    assert err.splitlines() == [
        "dask is not installed (pip install quorvane[dask]); using the pools"]
    total = sum(map(len, expected.values()))
    lines = out.splitlines()
    assert lines[0] == f"8 files, {total} <note> elements found"
    assert [line.split(":")[0] for line in lines if "same result" in line] == [
        "interpreter pool", "process pool"]
