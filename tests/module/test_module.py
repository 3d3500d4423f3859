import sysconfig

import pytest

import quorvane
from quorvane import Node
from support import run_child


EXPORTS = ["SearchType", "Node", "read_file", "read_string", "write_file", "write_string"]


def test_module_surface():
    assert quorvane.__doc__ == ""
    assert quorvane.__all__ == EXPORTS
    assert Node.__module__ == "builtins"
    assert Node.__qualname__ == "Node"


def test_node_signature_and_docs():
    assert Node.__text_signature__ == "(name, attrs=None, children=None, text=None)"
    assert Node.__doc__ == ""
    assert Node.children.__doc__ == "Children are shared references to the same nodes, not copies."


def test_node_cannot_be_subclassed():
    with pytest.raises(TypeError):

        class Derived(Node):
            pass


def test_node_is_outside_the_cycle_collector():
    import gc

    assert not gc.is_tracked(Node("a", children=[Node("b")]))


def test_import_keeps_the_interpreter_lock_off_on_free_threaded_builds():
    expected = "True" if not sysconfig.get_config_var("Py_GIL_DISABLED") else "False"
    assert run_child("import sys, quorvane; print(sys._is_gil_enabled())") == [expected]


def test_native_layers_stay_free_of_the_interpreter():
    """Platform, index, storage, reader and writer build and test without Python."""
    import pathlib
    import re

    root = pathlib.Path(__file__).resolve().parents[2]
    layers = [root / layer for layer in ("platform", "structural", "src/storage", "src/read", "src/write")]
    sources = [path for layer in layers for path in layer.rglob("*") if path.suffix in {".h", ".cpp"}]
    assert len(sources) > 30
    offenders = [
        str(path.relative_to(root))
        for path in sources
        if re.search(r'#\s*include\s*[<"](Python\.h|boundary/|entities/|functions/)', path.read_text())
    ]
    assert offenders == []
