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

METHODS = [
    ("search_by_name", "name", "search_by_name($self, name, depth=None)"),
    ("search_by_attr", "key", "search_by_attr($self, key, depth=None)"),
    ("search_by_text", "text", "search_by_text($self, text, depth=None)"),
]


@pytest.mark.parametrize("method, _, signature", METHODS + [("search", None, "search($self, by, value, depth=None)")])
def test_signatures(method, _, signature):
    function = getattr(Node, method)
    assert function.__doc__ is None
    assert f"{method}{function.__text_signature__}" == signature


@pytest.mark.parametrize("method, param, _", METHODS)
def test_value_argument_by_keyword(method, param, _):
    a = chain_xxx()
    assert getattr(a, method)(**{param: "x", "depth": 0}) == getattr(a, method)("x", 0)


@pytest.mark.parametrize("method, param, _", METHODS)
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "Node.{m}() missing 1 required positional argument: '{p}'"),
        (("x", 1, 2), {}, "Node.{m}() takes from 1 to 2 positional arguments but 3 were given"),
        (("x",), {"{p}": "y"}, "Node.{m}() got multiple values for argument '{p}'"),
        (("x",), {"deep": 1}, "Node.{m}() got an unexpected keyword argument 'deep'"),
        ((), {"depth": 1}, "Node.{m}() missing 1 required positional argument: '{p}'"),
    ],
)
def test_binding_errors(method, param, _, args, kwargs, message):
    kwargs = {k.format(p=param): v for k, v in kwargs.items()}
    with pytest.raises(TypeError) as info:
        getattr(Node("a"), method)(*args, **kwargs)
    assert str(info.value) == message.format(m=method, p=param)
    assert notes(info) is None


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "Node.search() missing 2 required positional arguments: 'by' and 'value'"),
        ((SearchType.Tag,), {}, "Node.search() missing 1 required positional argument: 'value'"),
        ((SearchType.Tag, "a", 1, 2), {}, "Node.search() takes from 2 to 3 positional arguments but 4 were given"),
        ((SearchType.Tag,), {"by": SearchType.Tag}, "Node.search() got multiple values for argument 'by'"),
        ((SearchType.Tag, "a"), {"kind": 1}, "Node.search() got an unexpected keyword argument 'kind'"),
    ],
)
def test_search_binding_errors(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Node("a").search(*args, **kwargs)
    assert str(info.value) == message


@pytest.mark.parametrize("method, param, _", METHODS)
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
def test_conversion_errors(method, param, _, args, error, message, note):
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
