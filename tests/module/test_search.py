import pytest

import quorvane
import support
from quorvane import Node, SearchType
from support import Index, notes


def reference_walk(node, matches, depth=None):
    """Pre-order over the properties, the start node always tested."""
    found = []
    stack = [(node, depth)]
    while stack:
        current, remaining = stack.pop()
        if matches(current):
            found.append(current)
        if remaining is not None and remaining >= 0:
            if remaining == 0:
                continue
            remaining -= 1
        stack.extend((child, remaining) for child in reversed(current.children))
    return found


def random_tree(seed):
    return support.random_tree(seed, 300, ["a", "b", "A", "é"], ["id", "", "k"], ["", "t", " t "],
                               [None, "", "t", " t "], twice=0.2)


# --- SearchType -------------------------------------------------------------------


@pytest.mark.parametrize("member, value", [(SearchType.Tag, 0), (SearchType.Attr, 1), (SearchType.Text, 2)])
def test_member_value_and_text(member, value):
    name = ["Tag", "Attr", "Text"][value]
    assert int(member) == value
    assert repr(member) == str(member) == f"SearchType.{name}"
    assert getattr(SearchType, name) is member
    assert type(member) is SearchType


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (SearchType.Tag, SearchType.Tag, True),
        (SearchType.Tag, SearchType.Attr, False),
        (SearchType.Tag, 0, True),
        (SearchType.Attr, 1, True),
        (SearchType.Attr, True, True),
        (SearchType.Tag, False, True),
        (SearchType.Text, 1, False),
        (SearchType.Text, Index(2), True),
        (SearchType.Text, -2, False),
        (SearchType.Tag, 2**64, False),
        (SearchType.Tag, "Tag", False),
        (SearchType.Tag, 0.0, False),
        (SearchType.Tag, None, False),
        (0, SearchType.Tag, True),
        (2, SearchType.Attr, False),
    ],
)
def test_equality(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is not equal


@pytest.mark.parametrize("compare", [
    lambda a, b: a < b, lambda a, b: a <= b, lambda a, b: a > b, lambda a, b: a >= b])
@pytest.mark.parametrize("other", [SearchType.Attr, 1])
def test_no_ordering(compare, other):
    with pytest.raises(TypeError):
        compare(SearchType.Tag, other)


def test_class_shape():
    assert SearchType.__module__ == "builtins"
    assert SearchType.__doc__ is None
    assert SearchType.__hash__ is None
    with pytest.raises(TypeError, match="unhashable"):
        hash(SearchType.Tag)
    with pytest.raises(TypeError):
        SearchType(0)
    with pytest.raises(TypeError):
        type(SearchType.Tag)()
    with pytest.raises(TypeError):
        type("Sub", (SearchType,), {})
    with pytest.raises(TypeError):
        SearchType.Tag = SearchType.Attr
    assert SearchType.Tag == 0


# --- search semantics ---------------------------------------------------------------


def chain_xxx():
    return Node("x", children=[Node("x", children=[Node("x", text="c")], text="b")], text="a")


@pytest.mark.parametrize(
    "depth, expected",
    [(None, "abc"), (-1, "abc"), (-(2**31), "abc"), (0, "a"), (1, "ab"), (True, "ab"), (False, "a"),
     (2, "abc"), (2**31 - 1, "abc"), (Index(1), "ab")],
)
def test_depth(depth, expected):
    a = chain_xxx()
    assert "".join(n.text for n in a.search_by_name("x", depth)) == expected
    assert "".join(n.text for n in a.search_by_name("x", depth=depth)) == expected


@pytest.mark.parametrize(
    "method, value, matching",
    [
        ("search_by_name", "x", ["n1"]),
        ("search_by_name", "X", ["n2"]),
        ("search_by_name", "", ["n5"]),
        ("search_by_text", "", ["n3"]),
        ("search_by_text", "a", ["n2"]),
        ("search_by_text", " a ", ["n4"]),
        ("search_by_text", "\u00e9", []),
        ("search_by_attr", "id", ["n2", "n3"]),
        ("search_by_attr", "", ["n4"]),
        ("search_by_attr", "ID", []),
        ("search_by_attr", "v", []),
    ],
)
def test_exact_byte_matching(method, value, matching):
    nodes = {
        "n1": Node("x"),
        "n2": Node("X", {"id": ""}, text="a"),
        "n3": Node("y", {"id": "v"}, text=""),
        "n4": Node("z", {"": "v"}, text=" a "),
        "n5": Node("", text="e\u0301"),
    }
    root = Node("root", children=list(nodes.values()))
    found = getattr(root, method)(value)
    assert [next(k for k, n in nodes.items() if n is f) for f in found] == matching


@pytest.mark.parametrize("seed", range(4))
@pytest.mark.parametrize("depth", [None, 0, 1, 3, -5])
def test_matches_reference_walk(seed, depth):
    root = random_tree(seed)
    cases = [
        ("search_by_name", SearchType.Tag, "a", lambda n: n.name == "a"),
        ("search_by_attr", SearchType.Attr, "id", lambda n: "id" in n.attrs),
        ("search_by_text", SearchType.Text, "", lambda n: n.text == ""),
    ]
    for method, member, value, matches in cases:
        expected = reference_walk(root, matches, depth)
        for found in (getattr(root, method)(value, depth), root.search(member, value, depth)):
            assert len(found) == len(expected)
            assert all(f is e for f, e in zip(found, expected))


# Lengths on both sides of the longest string a node keeps inside itself,
# each also one byte longer or different at the end: stored inline, on the
# heap, as a span of the document, or rewritten from a reference.
BOUNDARY_WORDS = [w for k in range(0, 21) for w in ("n" * k, "n" * k + "x", "n" * k + "&")]


@pytest.mark.parametrize("source", ["constructed", "read"])
def test_exact_matches_around_the_inline_length(source):
    words = [w for w in BOUNDARY_WORDS if w and "&" not in w]
    if source == "constructed":
        root = Node("r", children=[Node(w, {w: ""}, text=w) for w in words]
                    + [Node("t", text=w) for w in BOUNDARY_WORDS])
    else:
        escaped = [w.replace("&", "&amp;") for w in BOUNDARY_WORDS]
        xml = ("<r>" + "".join(f'<{w} {w}="">{w}</{w}>' for w in words)
               + "".join(f"<t>{e}</t>" for e in escaped) + "</r>")
        root = quorvane.read_string(xml, "r")
    for w in words:
        assert [n.name for n in root.search_by_name(w)] == [w]
        assert [n.name for n in root.search_by_attr(w)] == [w]
    for w in BOUNDARY_WORDS:
        if w == "":
            expected = 1 if source == "constructed" else 0  # a read empty element has no text
        else:
            expected = 2 if w in words else 1
        assert [n.text for n in root.search_by_text(w)] == [w] * expected


def test_deep_chain():
    node = Node("leaf", {"id": "0"}, text="bottom")
    for _ in range(100_000):
        node = Node("n", children=[node])
    assert [n.name for n in node.search_by_name("leaf")] == ["leaf"]
    assert len(node.search_by_attr("id")) == 1
    assert len(node.search(SearchType.Text, "bottom")) == 1
    assert len(node.search_by_name("n")) == 100_000
    assert len(node.search_by_name("n", depth=99)) == 100
    assert node.search_by_name("leaf", depth=99_999) == []


# --- arguments ----------------------------------------------------------------------


@pytest.mark.parametrize("method, param", [("search_by_name", "name"), ("search_by_attr", "key"),
                                           ("search_by_text", "text")])
@pytest.mark.parametrize(
    "args, error, message, note",
    [
        ((5,), TypeError, "'int' object is not an instance of 'str'", "{p}"),
        ((None,), TypeError, "'None' is not an instance of 'str'", "{p}"),
        ((b"a",), TypeError, "'bytes' object is not an instance of 'str'", "{p}"),
        (("\ud800",), UnicodeEncodeError, None, "{p}"),
        (("a", 2**31), OverflowError, None, "depth"),
        (("a", -(2**31) - 1), OverflowError, None, "depth"),
        (("a", 2.0), TypeError, None, "depth"),
        (("a", "1"), TypeError, None, "depth"),
        ((5, 2.0), TypeError, "'int' object is not an instance of 'str'", "{p}"),
    ],
)
def test_conversion_errors(method, param, args, error, message, note):
    with pytest.raises(error) as info:
        getattr(Node("a"), method)(*args)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    assert notes(info) == [f"while processing '{note.format(p=param)}'"]


@pytest.mark.parametrize(
    "args, message, note",
    [
        ((0, "a"), "'int' object is not an instance of 'SearchType'", "by"),
        (("Tag", "a"), "'str' object is not an instance of 'SearchType'", "by"),
        ((None, "a"), "'None' is not an instance of 'SearchType'", "by"),
        ((1, 5, 2.0), "'int' object is not an instance of 'SearchType'", "by"),
        ((SearchType.Attr, 5, 2.0), "'int' object is not an instance of 'str'", "value"),
        ((SearchType.Attr, "a", 2.0), None, "depth"),
    ],
)
def test_search_conversion_order(args, message, note):
    with pytest.raises(TypeError) as info:
        Node("a").search(*args)
    if message is not None:
        assert str(info.value) == message
    assert notes(info) == [f"while processing '{note}'"]
