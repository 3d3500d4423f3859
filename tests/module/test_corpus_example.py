"""The corpus example's parallel paths find what one process finds: trees
read on worker processes come back through pickle intact."""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "examples"))
import corpus  # noqa: E402


def found_shapes(results):
    return {pathlib.Path(path).name: [node.to_dict() for node in found]
            for path, found in results.items()}


def test_dask_and_a_process_pool_find_what_one_process_finds(tmp_path):
    corpus.generate(tmp_path, files=8)
    paths = sorted(str(path) for path in tmp_path.glob("*.xml"))
    expected = found_shapes(corpus.in_this_process(paths, "catalog", "note"))
    assert len(expected) == 8 and sum(map(len, expected.values())) > 5
    assert found_shapes(corpus.with_dask(paths, "catalog", "note", workers=2)) == expected
    assert found_shapes(corpus.with_processes(paths, "catalog", "note", workers=2)) == expected
