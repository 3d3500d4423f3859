"""Trees far deeper than any native stack, trees that share a node at every
level, and indentation too wide to be written: each runs in a child process,
so a crash shows up as a failed exit instead of taking the test run down."""

import textwrap

import pytest

import quorvane
from quorvane import Node, write_string
from support import run_child


def limited_child(source, cwd):
    """run_child in `cwd`, where no file the child writes may grow past 64 MiB,
    whatever goes wrong."""
    return run_child("import resource\nresource.setrlimit(resource.RLIMIT_FSIZE, (1 << 26, 1 << 26))\n"
                     + textwrap.dedent(source), cwd)


def test_a_million_nested_nodes_are_written(tmp_path):
    out = limited_child("""
        import quorvane
        from quorvane import Node
        n = 1_000_000
        node = Node("e", text="x")
        for _ in range(n - 1):
            node = Node("e", children=[node])
        text = quorvane.write_string(node, indent=0, default_xml_def=False)
        expected = "<e>\\n" * (n - 1) + "<e>x</e>" + "\\n</e>" * (n - 1)
        print(text == expected)
        quorvane.write_file(node, "deep.xml", 0)
        with open("deep.xml", encoding="utf-8") as written:
            print(written.read() == quorvane.write_string(node, 0))
        # Read back, the chain is the same document.
        again = quorvane.read_string(text, "e")
        print(quorvane.write_string(again, 0, False) == text)
    """, cwd=tmp_path)
    assert out == ["True", "True", "True"]


def shared_at_every_level(levels):
    node = Node("n", {"k": "v"}, text="t")
    for _ in range(levels):
        node = Node("n", children=[node, node])
    return node


def expanded(levels):
    """The same tree as shared_at_every_level, built without sharing."""
    if levels == 0:
        return Node("n", {"k": "v"}, text="t")
    return Node("n", children=[expanded(levels - 1), expanded(levels - 1)])


@pytest.mark.parametrize("indent", [0, 3])
def test_a_tree_sharing_a_node_at_every_level_is_written_in_full(indent):
    assert write_string(shared_at_every_level(12), indent) == write_string(expanded(12), indent)


def test_a_text_too_large_for_memory_is_refused_before_it_is_written():
    # 2**40 leaves: the text would be terabytes long.
    with pytest.raises(MemoryError):
        write_string(shared_at_every_level(40))


@pytest.mark.parametrize("indent", [2**62, 2**64 - 1])
def test_indentation_too_wide_for_memory_is_refused_before_it_is_written(indent):
    tree = Node("a", children=[Node("b", children=[Node("c")])])
    with pytest.raises(MemoryError):
        write_string(tree, indent)
    # Without line breaks, any indentation is harmless.
    assert write_string(Node("a", text="t"), indent, False) == "<a>t</a>"


# Texts of 40 MB, long enough to be written straight into their str: ASCII
# whose escapes fit the room given, text that is not ASCII, and escapes that
# outgrow that room.
@pytest.mark.parametrize("piece", ["x" * 255 + "&", "\u00e9" * 127 + "&", "x" * 15 + "&"],
                         ids=["ascii", "not-ascii", "outgrown"])
def test_very_large_texts(piece):
    text = piece * (40_000_000 // len(piece.encode()))
    written = write_string(Node("a", text=text), default_xml_def=False)
    assert written == "<a>" + text.replace("&", "&amp;") + "</a>"


FILE_SIZE_CAP = 1 << 20


@pytest.mark.parametrize("tree, indent", [("shared_at_every_level(40)", 4), ("Node('a', children=[Node('b')])", 2**62)])
def test_a_file_too_large_to_write_fails_at_the_systems_limit_and_keeps_what_was_written(tmp_path, tree, indent):
    """The file grows until the system refuses it: here a cap on file size,
    elsewhere a full disk."""
    out = limited_child(f"""
        import resource
        from quorvane import Node, write_file, write_string
        def shared_at_every_level(levels):
            node = Node("n", {{"k": "v"}}, text="t")
            for _ in range(levels):
                node = Node("n", children=[node, node])
            return node
        resource.setrlimit(resource.RLIMIT_FSIZE, ({FILE_SIZE_CAP}, {FILE_SIZE_CAP}))
        tree = {tree}
        try:
            write_file(tree, "big.xml", {indent})
        except OSError as error:
            print(type(error).__name__, str(error).endswith("(os error 27)"))
        with open("big.xml", "rb") as written:
            content = written.read()
        print(len(content))
        print(content.startswith(b'<?xml version="1.0" encoding="utf-8"?>\\n<'))
    """, cwd=tmp_path)
    assert out == ["OSError", "True", str(FILE_SIZE_CAP), "True"]
