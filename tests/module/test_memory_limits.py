"""Running out of memory ends a call with an exception, never the process.

Each case runs in a child process whose address space is capped a little
above what it already uses.
"""

import os
import subprocess
import sys
import textwrap

import pytest

pytestmark = [
    pytest.mark.skipif(
        bool(os.environ.get("QUORVANE_SANITIZED")), reason="the sanitizers reserve more address space than any cap allows"
    ),
    pytest.mark.skipif(
        bool(os.environ.get("QUORVANE_EMULATED")), reason="qemu's user-mode emulation keeps address-space caps from the system"
    ),
]

CAP = textwrap.dedent(
    """
    import resource
    def cap(extra_mb):
        with open("/proc/self/statm") as statm:
            size = int(statm.read().split()[0]) * resource.getpagesize()
        limit = size + extra_mb * 1024 * 1024
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    """
)


def run(body):
    code = CAP + textwrap.dedent(body)
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=600)


@pytest.mark.parametrize("document, cap_mb", [
    # The index alone outgrows the cap: a well-formed document is not malformed.
    ('"<r>" + "<b/>" * 5_000_000 + "</r>"', 150),
    # The index fits; the records and nodes do not.
    ("""'<r>' + '<b a="1">t</b>' * 2_000_000 + '</r>'""", 260),
], ids=["index", "records"])
def test_reading_past_the_memory_cap_raises_memory_error(document, cap_mb):
    result = run(
        f"""
        import quorvane
        document = {document}
        cap({cap_mb})
        try:
            quorvane.read_string(document, "r")
        except MemoryError:
            print("MemoryError")
        except ValueError as error:
            print(error)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "MemoryError"


def test_writing_past_the_memory_cap_raises_memory_error():
    # Twenty-three shared levels are a few nodes but a str of some 250 MB
    # unindented, more indented.
    result = run(
        """
        import quorvane
        from quorvane import Node
        tree = Node("n", {"k": "v"}, text="t")
        for _ in range(23):
            tree = Node("n", {"k": "v"}, [tree, tree])
        cap(100)
        for indent in (0, 2):
            try:
                quorvane.write_string(tree, indent)
            except MemoryError:
                print("MemoryError")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError", "MemoryError"]


def test_freeing_a_wide_tree_needs_no_memory():
    result = run(
        """
        from quorvane import Node
        child = Node("c")
        wide = Node("p", children=[child] * 2_000_000)
        parent = Node("p", children=[Node("b", children=[child] * 1000) for _ in range(2_000)] + [wide])
        del wide
        cap(1)
        del parent
        print("freed")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "freed"


@pytest.mark.parametrize("call", [
    "quorvane.write_string(tree)",
    "quorvane.write_file(tree, path)",
])
def test_writing_past_the_memory_cap_raises_and_releases_everything(call, tmp_path):
    result = run(
        f"""
        import quorvane
        from quorvane import Node
        path = {str(tmp_path / "out.xml")!r}
        tree = Node("r", children=[Node("e", {{"k": str(i)}}, text=str(i)) for i in range(2_000_000)])
        cap(40)
        for _ in range(3):
            try:
                {call}
            except MemoryError:
                print("MemoryError")
        # What the failed calls held is given back: a small write still works.
        print(quorvane.write_string(Node("a"), default_xml_def=False))
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError"] * 3 + ["<a/>"]


def test_a_stream_that_never_ends_runs_out_of_memory_as_memory_error():
    result = run(
        """
        import quorvane

        class Endless:
            def read(self, size):
                return b"<r>" + b"x" * (size - 3)

        cap(400)
        try:
            quorvane.read_file(Endless(), "r")
        except MemoryError:
            print("MemoryError")
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["MemoryError"]
