"""Helpers the module's tests share."""

import os
import random
import subprocess
import sys
import textwrap

import pytest

import quorvane
from quorvane import Node, read_string

try:
    from concurrent import interpreters
except ImportError:
    interpreters = None

# Tests that make isolated interpreters through the standard library.
needs_interpreters = pytest.mark.skipif(
    interpreters is None, reason="concurrent.interpreters is new in Python 3.14")

# Sweeps that fail each allocation in turn: 3.13's own error paths lose the
# MemoryError of some (SystemError "error return without exception set",
# even around int("x")), and its import system raises RuntimeError "can't
# allocate lock".
sweeps_every_allocation = pytest.mark.skipif(
    sys.version_info < (3, 14), reason="3.13 turns some failed allocations into other errors")


# Under emulation, the sanitizers or valgrind a drawn example costs several
# to tens of times its native time: the property tests draw a tenth as many
# there, and the whole number in the native runs.
SLOWED = bool(os.environ.get("QUORVANE_EMULATED") or os.environ.get("QUORVANE_SANITIZED"))


def examples(count):
    """How many examples a property test that draws `count` natively draws here."""
    return max(count // 10, 10) if SLOWED else count


def run_child(source, cwd=None, **environment):
    """Runs `source` in a fresh interpreter process, in `cwd` and with
    `environment` added, so that a crash shows up as a failed exit instead of
    taking the test run down; returns the words it printed."""
    environment = {**os.environ, **environment}
    # The child finds the module tested by its absolute path, wherever it runs.
    environment["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.abspath(quorvane.__file__)),
                                                 environment.get("PYTHONPATH", "")])
    completed = subprocess.run([sys.executable, "-c", textwrap.dedent(source)], capture_output=True,
                               text=True, env=environment, cwd=cwd, timeout=600)
    assert completed.returncode == 0, completed.stderr[-2000:]
    return completed.stdout.split()


def notes(info):
    """The notes of the exception a `pytest.raises` caught, or None."""
    return getattr(info.value, "__notes__", None)


def shape(node):
    """(name, attribute pairs in order, text, children) of a whole subtree."""
    return (node.name, list(node.attrs.items()), node.text, [shape(child) for child in node.children])


def random_tree(seed, size, names, keys, values, texts, twice=0.0):
    """A tree of `size` nodes built bottom-up from the given choices, so that
    nodes are shared between parents; with probability `twice` a parent holds
    its first child a second time."""
    rng = random.Random(seed)
    pool = []
    for _ in range(size):
        children = rng.sample(pool, k=min(len(pool), rng.randrange(4)))
        if children and rng.random() < twice:
            children.append(children[0])
        attrs = {rng.choice(keys): rng.choice(values) for _ in range(rng.randrange(3))}
        pool.append(Node(rng.choice(names), attrs, children, rng.choice(texts)))
    return pool[-1]


class Index:
    """An object that is an integer only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


NESTED = '<r a="1"><x>t&amp;u</x><x b="2"/><y><z/></y></r>'


def read_with_allocations_failing_from(count, document):
    """read_string(document, "r") with every allocation from the count-th on
    failing."""
    import _testcapi as testcapi

    testcapi.set_nomemory(count, 0)
    try:
        return read_string(document, "r")
    finally:
        testcapi.remove_mem_hooks()


def call_with_allocation_failing(count, call):
    """call() with its count-th interpreter allocation failing and the rest
    working, so that the error path can make its exception: its result, or
    the exception it raised."""
    import _testcapi as testcapi

    testcapi.set_nomemory(count, count + 1)
    try:
        return call()
    except BaseException as error:
        return error
    finally:
        testcapi.remove_mem_hooks()
