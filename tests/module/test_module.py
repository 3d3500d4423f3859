import functools
import pickle
import sysconfig

import pytest

import quorvane
from quorvane import Node
from support import call_with_allocation_failing, run_child, sweeps_every_allocation


EXPORTS = ["SearchType", "Node", "read_file", "read_string", "write_file", "write_string", "read_bytes",
           "write_bytes"]


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


# --- an interpreter allocation failing anywhere -----------------------------------

# A name and a value that are not ASCII: from_dict makes their UTF-8 forms,
# which can fail.
DOCUMENT = '<r a="1"><x>t&amp;u</x><x b="\u00e9t\u00e9"/><y><z/><\u00e7a/></y>\u00e9</r>'
TREE = quorvane.read_string(DOCUMENT, "r")
PICKLED = pickle.dumps(TREE)

# Each call is given a folder that holds DOCUMENT as in.xml.
OUT_OF_MEMORY_CALLS = {
    "read_string": lambda folder: quorvane.read_string(DOCUMENT, "r"),
    "read_file": lambda folder: quorvane.read_file(str(folder / "in.xml"), "r"),
    "read error": lambda folder: quorvane.read_string("<r><x></r>", "r"),
    "read_file error": lambda folder: quorvane.read_file(str(folder / "absent.xml"), "r"),
    "Node": lambda folder: Node("n", {"k": "v", "l": "w"}, [TREE, TREE], "t"),
    "from_dict": lambda folder: Node.from_dict(TREE.to_dict()),
    "to_dict": lambda folder: TREE.to_dict(),
    "str": lambda folder: str(TREE),
    "search": lambda folder: TREE.search(quorvane.SearchType.Tag, "x"),
    "search_by_name": lambda folder: TREE.search_by_name("z", depth=3),
    "write_string": lambda folder: quorvane.write_string(TREE, 2),
    "write_file": lambda folder: quorvane.write_file(TREE, str(folder / "out.xml")),
    "argument error": lambda folder: quorvane.write_string(TREE, indnt=2),
    "pickle dumps": lambda folder: pickle.dumps(TREE),
    "pickle loads": lambda folder: pickle.loads(PICKLED),
    "restore error": lambda folder: quorvane._restore_node(PICKLED[:-3]),
}


def settled(result):
    """A call's result or exception in a form compared once allocations work."""
    if isinstance(result, BaseException):
        return type(result), str(result)
    if isinstance(result, Node):
        return result.to_dict()
    if isinstance(result, list):
        return [node.to_dict() for node in result]
    return result


# Each call makes fewer interpreter allocations than this.
ALLOCATIONS = 64


# Failing each allocation of a call in turn: each time it raises MemoryError,
# which a worker's `except Exception` catches (the str, dict or list of a
# result too), or gives what it gives with memory to spare. Never another
# exception, a wrong result or a crash.
@pytest.mark.main_interpreter
@sweeps_every_allocation
@pytest.mark.parametrize("name", sorted(OUT_OF_MEMORY_CALLS))
def test_an_allocation_failing_anywhere_runs_out_of_memory_or_gives_the_result(name, tmp_path):
    pytest.importorskip("_testcapi")
    (tmp_path / "in.xml").write_text(DOCUMENT, encoding="utf-8")
    call = functools.partial(OUT_OF_MEMORY_CALLS[name], tmp_path)
    # Failing an allocation past the last one the call makes.
    expected = settled(call_with_allocation_failing(ALLOCATIONS, call))
    for failing in range(ALLOCATIONS):
        result = call_with_allocation_failing(failing, call)
        if not isinstance(result, MemoryError):
            assert settled(result) == expected, f"allocation {failing} failing"
    assert not isinstance(result, MemoryError), "the call makes more allocations than the sweep"


@pytest.mark.main_interpreter
@sweeps_every_allocation
def test_the_import_fails_cleanly_wherever_an_allocation_fails():
    # Each import makes the module afresh; one with an allocation failing
    # raises MemoryError and leaves no half-made module behind. One
    # allocation fails at a time: with all later ones failing too, raising
    # the exception through the import system could fail in its turn.
    pytest.importorskip("_testcapi")
    (failures,) = run_child("""
        import sys, _testcapi
        failures = 0
        for failing in range(600):
            _testcapi.set_nomemory(failing, failing + 1)
            try:
                import quorvane
            except MemoryError:
                failures += 1
            finally:
                _testcapi.remove_mem_hooks()
            # The import system may fail after the module is made, which
            # must then be whole.
            if "quorvane" in sys.modules:
                made = sys.modules.pop("quorvane")
                assert made.read_string("<a><b/></a>", "a").children[0].name == "b"
        print(failures)
        """)
    assert int(failures) > 0
