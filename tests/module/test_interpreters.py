"""Isolated interpreters, each with a lock of its own, run quorvane side by
side: each has classes and objects of its own, and no object of one reaches
another. Much of the suite runs inside one."""

import os
import threading

import pytest

import quorvane
from support import interpreters, needs_interpreters, run_child

# These tests make interpreters of their own.
pytestmark = pytest.mark.main_interpreter

HERE = os.path.dirname(os.path.abspath(__file__))

# Test files whose every test can run in an isolated interpreter, but for
# those marked main_interpreter; the differential ones compare against a
# library that does not load there.
SUITE = ["test_node.py", "test_read.py", "test_read_dense.py", "test_write.py", "test_pickle.py",
         "test_search.py", "test_dict.py", "test_render.py", "test_module.py", "test_threads.py",
         "test_memory_limits.py", "test_arguments.py", "test_read_inputs.py", "test_write_outputs.py"]

RUN_SUITE = """
import sys
sys.argv = ["pytest"]
import pytest
code = pytest.main(["-q", "-p", "no:cacheprovider", "-p", "no:faulthandler", *paths])
assert code == 0, f"pytest exited with {code}"
"""


@pytest.mark.skipif(bool(os.environ.get("QUORVANE_EMULATED")),
                    reason="the emulated run has run these files already, and a second run "
                    "would double the slowest part of make test")
@needs_interpreters
def test_the_suite_passes_inside_an_isolated_interpreter():
    interpreter = interpreters.create()
    try:
        interpreter.prepare_main(paths=tuple(os.path.join(HERE, name) for name in SUITE))
        interpreter.exec(RUN_SUITE)
    finally:
        interpreter.close()


@needs_interpreters
def test_each_interpreter_has_classes_of_its_own():
    interpreter = interpreters.create()
    try:
        theirs = interpreter.call(eval, "id(__import__('quorvane').Node), "
                                        "id(__import__('quorvane').SearchType), "
                                        "__import__('quorvane').Node.__module__")
    finally:
        interpreter.close()
    assert theirs[:2] != (id(quorvane.Node), id(quorvane.SearchType))
    assert theirs[2] == "builtins"


READ_AND_SEARCH = """
import quorvane
document = "<r>" + "".join(f'<item id="{i}"><name>n{i}</name></item>' for i in range(20_000)) + "</r>"
for _ in range(rounds):
    tree = quorvane.read_string(document, "r")
    assert len(tree.search_by_name("name")) == 20_000
    assert quorvane.read_string(quorvane.write_string(tree), "r").to_dict() == tree.to_dict()
"""


@needs_interpreters
def test_interpreters_read_and_write_at_once_while_another_comes_and_goes():
    workers = [interpreters.create() for _ in range(2)]
    failures = []

    def work(interpreter):
        try:
            interpreter.prepare_main(rounds=5)
            interpreter.exec(READ_AND_SEARCH)
        except interpreters.ExecutionFailed as failure:
            failures.append(failure)

    threads = [threading.Thread(target=work, args=(worker,)) for worker in workers]
    for thread in threads:
        thread.start()
    # One that imports, reads and ends while the others are busy.
    for _ in range(5):
        passing = interpreters.create()
        passing.prepare_main(rounds=1)
        passing.exec(READ_AND_SEARCH)
        passing.close()
    for thread in threads:
        thread.join()
    for worker in workers:
        worker.close()
    assert not failures


# Through the interpreters' own module, which every supported version has
# (concurrent.interpreters wraps it from 3.14 on): each interpreter it makes
# is isolated, with a lock of its own.
@pytest.mark.parametrize("first", ["isolated", "main"])
def test_the_module_imports_first_in_either_interpreter(first):
    run_child(f"""
        import _interpreters
        code = "import quorvane; assert quorvane.read_string('<a><b/></a>', 'a').children[0].name == 'b'"
        interpreter = _interpreters.create()
        if "{first}" == "main":
            exec(code)
        failure = _interpreters.exec(interpreter, code)
        assert failure is None, failure
        exec(code)
        _interpreters.destroy(interpreter)
        exec(code)
        """)


PICKLE_AND_SEARCH = """
import pickle, quorvane
tree = quorvane.read_string('<a x="1"><b>t</b></a>', 'a')
assert pickle.loads(pickle.dumps(tree)).to_dict() == tree.to_dict()
assert tree.search(quorvane.SearchType.Tag, "b")[0].text == "t"
"""


@needs_interpreters
def test_ending_interpreters_give_back_their_memory():
    sizes = run_child(f"""
        import os
        from concurrent import interpreters
        def resident_mb():
            with open("/proc/self/statm") as statm:
                return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") / 2**20
        for count in range(1, 201):
            interpreter = interpreters.create()
            interpreter.exec({PICKLE_AND_SEARCH!r})
            interpreter.close()
            if count in (50, 200):
                print(resident_mb())
        """)
    after_50, after_200 = map(float, sizes)
    # An interpreter that kept its memory would leave more than a megabyte.
    assert after_200 - after_50 < 20
