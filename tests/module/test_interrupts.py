"""Long work answers Ctrl-C with KeyboardInterrupt and leaves nothing behind:
walks over a tree whose expansion is astronomically large (a shared child at
each of sixty levels), and reads and writes done without the interpreter lock
that would never end."""

import gc
import signal

import pytest

import quorvane
from quorvane import Node, SearchType
from support import needs_interpreters


def expanding(levels=60):
    node = Node("n", {"k": "v"}, text="t")
    for _ in range(levels):
        node = Node("n", {"k": "v"}, [node, node])
    return node


def expanding_description(levels=60):
    description = {"name": "n", "attrs": {}, "children": [], "text": None}
    for _ in range(levels):
        description = {"name": "n", "attrs": {}, "children": [description, description], "text": None}
    return description


TREE = expanding()

OPERATIONS = {
    "search_by_name": lambda: TREE.search_by_name("absent"),
    "search": lambda: TREE.search(SearchType.Text, "absent"),
    "to_dict": TREE.to_dict,
    "str": lambda: str(TREE),
    "from_dict": lambda: Node.from_dict(expanding_description()),
    # Written without the lock, and without end.
    "write_file": lambda: quorvane.write_file(TREE, "/dev/null"),
    # Refused at sixty levels; nineteen are a str of some 120 MB, about twice
    # the alarm's time in the writing even on a warm machine.
    "write_string": lambda: quorvane.write_string(expanding(19)),
}


def interrupt_after(seconds):
    def on_alarm(signum, frame):
        raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, on_alarm)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    return previous


@pytest.mark.parametrize("name", sorted(OPERATIONS))
def test_long_walks_answer_an_interrupt(name):
    previous = interrupt_after(0.05)
    try:
        with pytest.raises(KeyboardInterrupt):
            OPERATIONS[name]()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    gc.collect()
    # The tree is untouched and the next walk starts afresh.
    assert len(TREE.search_by_name("n", depth=2)) == 7


def test_detaching_a_large_tree_for_a_write_answers_an_interrupt(tmp_path):
    # Three million distinct nodes take far longer to detach than the alarm;
    # the file is opened only after, so its absence shows where the
    # interrupt was answered.
    leaf = Node("leaf")
    tree = Node("r", children=[Node("c", {"k": "v"}, [leaf]) for _ in range(1_500_000)])
    path = tmp_path / "out.xml"
    previous = interrupt_after(0.01)
    try:
        with pytest.raises(KeyboardInterrupt):
            quorvane.write_file(tree, str(path))
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert not path.exists()


# Work done without the interpreter lock that would never end on its own:
# each child defines it as `endless`, prints "ready" just before calling it,
# and Ctrl-C must end it with KeyboardInterrupt, after which the child ends
# normally (so that coverage counters are written).
ENDLESS = {
    "write_file of an astronomical tree": """
tree = expanding()
endless = lambda: quorvane.write_file(tree, "/dev/null")
""",
    "write_file into a pipe nobody reads": """
fifo = make_fifo()
unread = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
endless = lambda: quorvane.write_file(expanding(), fifo)
""",
    "read_file of a pipe nobody opens": """
fifo = make_fifo()
endless = lambda: quorvane.read_file(fifo, "r")
""",
    "read_file of a stream that never ends": """
fifo = make_fifo()
def feed():
    with open(fifo, "w") as out:
        out.write("<r>")
        while True:
            out.write("<a>t</a>" * 4096)
            time.sleep(0.001)
threading.Thread(target=feed, daemon=True).start()
endless = lambda: quorvane.read_file(fifo, "r")
""",
}

CHILD_PRELUDE = """
import os, signal, sys, tempfile, threading, time
import quorvane
from test_interrupts import expanding

# A run started in the background inherits Ctrl-C ignored.
signal.signal(signal.SIGINT, signal.default_int_handler)

def make_fifo():
    path = os.path.join(tempfile.mkdtemp(), "fifo")
    os.mkfifo(path)
    return path

def ready():
    print("ready", flush=True)
"""

CHILD_CALL = """
ready()
try:
    endless()
except KeyboardInterrupt:
    print("interrupted", flush=True)
"""


def interrupted_child(code):
    """Runs `code` after CHILD_PRELUDE in a child process, sends it Ctrl-C
    well inside the call it makes after printing "ready", and returns what
    it printed after that, its exit status and its error output."""
    import os
    import subprocess
    import sys
    import time

    here = os.path.dirname(__file__)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([here] + sys.path))
    child = subprocess.Popen([sys.executable, "-c", CHILD_PRELUDE + code],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
    try:
        assert child.stdout.readline() == "ready\n"
        time.sleep(0.3)  # well inside the call
        child.send_signal(signal.SIGINT)
        out, errors = child.communicate(timeout=60)
    finally:
        child.kill()
        child.wait()
    return out, child.returncode, errors


@pytest.mark.parametrize("name", sorted(ENDLESS))
def test_endless_work_without_the_lock_answers_ctrl_c(name):
    out, status, errors = interrupted_child(ENDLESS[name] + CHILD_CALL)
    assert (out, status) == ("interrupted\n", 0), errors


# Python runs signal handlers in the main interpreter only: reads in an
# isolated interpreter on the main thread run to their end, and Ctrl-C is
# raised in the main interpreter once they return.
IN_AN_ISOLATED_INTERPRETER = '''
from concurrent import interpreters
worker = interpreters.create()
try:
    worker.exec("""
import quorvane, time
text = "<r>" + "<a k='v'>t</a>" * 200_000 + "</r>"
reads = 0
started = time.monotonic()
print("ready", flush=True)
while time.monotonic() - started < 1.5:
    reads += len(quorvane.read_string(text, "r").children) == 200_000
print("reads", reads > 0, flush=True)
""")
    time.sleep(0.1)  # Ctrl-C is raised here, back in the main interpreter
except KeyboardInterrupt:
    print("interrupted", flush=True)
worker.close()
'''


@pytest.mark.main_interpreter
@needs_interpreters
def test_ctrl_c_during_reads_in_an_isolated_interpreter_reaches_the_main_one():
    out, status, errors = interrupted_child(IN_AN_ISOLATED_INTERPRETER)
    assert (out, status) == ("reads True\ninterrupted\n", 0), errors
