import pytest

import support
from quorvane import Node
from support import notes


def to_string(node, *args, **kwargs):
    return getattr(node, "__to_string")(*args, **kwargs)


def random_tree(seed):
    return support.random_tree(seed, 120, ["a", "", "é"], ["id", "k", "", "a\nb"], ["", "v", "x y"],
                               [None, "", "t", "l1\nl2"])


def example_tree():
    g = Node("g")
    c = Node("c", children=[g], text="t")
    return Node("r", {"id": "1"}, [c], "hi")


@pytest.mark.parametrize(
    "node, expected",
    [
        (Node("a"), "Node(a)"),
        (Node(""), "Node()"),
        (Node("a b", {"k": "v"}, [Node("c")], "t"), "Node(a b)"),
        (Node("日本\n"), "Node(日本\n)"),
    ],
)
def test_repr(node, expected):
    assert repr(node) == expected


@pytest.mark.parametrize(
    "node, expected",
    [
        (Node("a"), "Name: a"),
        (Node(""), "Name: "),
        (Node("a", text=""), "Name: a\nText: "),
        (Node("a", {"k": "v"}), "Name: a\nAttributes:\nk: v"),
        (Node("a", {"": ""}), "Name: a\nAttributes:\n: "),
        (Node("p", children=[Node("a"), Node("b")]), "Name: p\nChildren:\n  Name: a\n\n  Name: b\n"),
        (example_tree(), "Name: r\nAttributes:\nid: 1\nText: hi\nChildren:\n  Name: c\n  Text: t\n"
                         "  Children:\n      Name: g\n\n"),
        (Node("a", text="x\ny<&>"), "Name: a\nText: x\ny<&>"),
    ],
)
def test_outline(node, expected):
    assert str(node) == expected


@pytest.mark.parametrize(
    "node, spacing, expected",
    [
        (Node("a"), 3, "   Name: a"),
        (Node("a", {"k": "", "": "v"}, text=""), 1, " Name: a\n Attributes:\n k: \n : v\n Text: "),
        (Node("p", children=[Node("c", text="t", children=[Node("g")])]), 4,
         "    Name: p\n    Children:\n          Name: c\n      Text: t\n      Children:\n"
         "              Name: g\n\n"),
        (Node("p", children=[Node("a", {"k": "v"})]), 255, " " * 255 + "Name: p\n" + " " * 255 + "Children:\n"
         + " " * 510 + "Name: a\n" + " " * 255 + "Attributes:\n" + " " * 255 + "k: v\n"),
    ],
)
def test_outline_with_spacing(node, spacing, expected):
    assert to_string(node, spacing) == expected


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("spacing", [0, 7, 253, 254])
def test_children_are_outlined_two_spaces_further_in(seed, spacing):
    # A node's outline is its outline without children, then "Children:" and
    # each child's own outline two spaces further in (no further than 255),
    # after the node's prefix and before a line break.
    tree = random_tree(seed)
    prefix = " " * spacing
    for node in [tree] + tree.search_by_name("a") + tree.search_by_name(""):
        if not node.children:
            continue
        childless = Node(node.name, node.attrs, None, node.text)
        inner = min(spacing + 2, 255)
        expected = to_string(childless, spacing) + "\n" + prefix + "Children:" + "".join(
            "\n" + prefix + to_string(child, inner) + "\n" for child in node.children)
        assert to_string(node, spacing) == expected


def test_absent_spacing_is_no_spacing():
    tree = random_tree(9)
    assert {str(tree), to_string(tree), to_string(tree, None), to_string(tree, False)} == {to_string(tree, 0)}


def test_deep_chain():
    depth = 100_000
    node = Node("leaf")
    for _ in range(depth):
        node = Node("n", children=[node])
    text = str(node)
    assert text.startswith("Name: n\nChildren:\n  Name: n\n  Children:\n      Name: n\n")
    assert text.endswith(" " * 510 + "Name: leaf" + "\n" * depth)
    assert text.count("Name: ") == depth + 1


@pytest.mark.parametrize(
    "value, error, message",
    [
        (256, OverflowError, "out of range integral type conversion attempted"),
        (-1, OverflowError, "out of range integral type conversion attempted"),
        (2**40, OverflowError, "out of range integral type conversion attempted"),
        (2**70, OverflowError, None),
        ("2", TypeError, None),
        (2.0, TypeError, None),
    ],
)
def test_bad_spacing(value, error, message):
    with pytest.raises(error) as info:
        to_string(Node("a"), value)
    if message is not None:
        assert str(info.value) == message
    assert notes(info) == ["while processing 'spacing'"]
