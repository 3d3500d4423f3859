import pytest

import support
from quorvane import Node
from support import notes


def to_string(node, *args, **kwargs):
    return getattr(node, "__to_string")(*args, **kwargs)


def outline(node, spacing=0):
    """The outline rules written out recursively over the properties (the
    per-level spacing stops at 255)."""
    prefix = " " * spacing
    text = prefix + "Name: " + node.name
    if node.attrs:
        text += "\n" + prefix + "Attributes:"
        for key, value in node.attrs.items():
            text += "\n" + prefix + key + ": " + value
    if node.text is not None:
        text += "\n" + prefix + "Text: " + node.text
    if node.children:
        text += "\n" + prefix + "Children:"
        for child in node.children:
            text += "\n" + prefix + outline(child, min(spacing + 2, 255)) + "\n"
    return text


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


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("spacing", [0, 1, 7, 254, 255])
def test_matches_outline_rules(seed, spacing):
    tree = random_tree(seed)
    assert to_string(tree, spacing) == outline(tree, spacing)


def test_equivalent_spellings():
    tree = random_tree(9)
    texts = {str(tree), to_string(tree), to_string(tree, None), to_string(tree, 0), to_string(tree, spacing=0),
             to_string(tree, spacing=None), to_string(tree, False)}
    assert len(texts) == 1


def test_deep_chain():
    depth = 100_000
    node = Node("leaf")
    for _ in range(depth):
        node = Node("n", children=[node])
    text = str(node)
    assert text.startswith("Name: n\nChildren:\n  Name: n\n  Children:\n      Name: n\n")
    assert text.endswith(" " * 510 + "Name: leaf" + "\n" * depth)
    assert text.count("Name: ") == depth + 1


def test_signature():
    method = getattr(Node, "__to_string")
    assert method.__text_signature__ == "($self, spacing=None)"
    assert method.__doc__ is None


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


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1, 2), {}, "Node.__to_string() takes from 0 to 1 positional arguments but 2 were given"),
        ((1,), {"spacing": 1}, "Node.__to_string() got multiple values for argument 'spacing'"),
        ((), {"indent": 1}, "Node.__to_string() got an unexpected keyword argument 'indent'"),
    ],
)
def test_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        to_string(Node("a"), *args, **kwargs)
    assert str(info.value) == message
