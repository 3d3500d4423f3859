import gc
import sysconfig
import weakref

import pytest

import support
from quorvane import Node, read_string
from support import notes

HEAD = "failed to extract enum HashmapTypes ('String | Vec | NullableString | Map')"


def line(kind, cause):
    return f"\n- variant {kind} ({kind}): TypeError: failed to extract field HashmapTypes::{kind}.0, caused by {cause}"


def refused(type_name, vec_cause=None, string_cause=None, map_cause=None):
    """The enum message for a value of `type_name` that no kind accepts."""
    string_cause = string_cause or f"TypeError: '{type_name}' object is not an instance of 'str'"
    vec_cause = vec_cause or f"TypeError: '{type_name}' object is not an instance of 'Sequence'"
    map_cause = map_cause or f"TypeError: '{type_name}' object is not an instance of 'dict'"
    return (HEAD + line("String", string_cause) + line("Vec", vec_cause) + line("NullableString", string_cause)
            + line("Map", map_cause))


def nested_refusal(depth, innermost):
    """The message for a fault `depth` child lists down, built level by level."""
    message = innermost
    for _ in range(depth):
        message = refused("list", "TypeError: " + message)
    return message


def leaf(name, **extra):
    return {"name": name, "attrs": {}, "children": [], **extra}


def same_tree(node, other):
    stack = [(node, other)]
    while stack:
        a, b = stack.pop()
        assert (a.name, a.attrs, a.text) == (b.name, b.attrs, b.text)
        assert len(a.children) == len(b.children)
        stack.extend(zip(a.children, b.children))


def matches_dict(node, data):
    stack = [(node, data)]
    while stack:
        n, d = stack.pop()
        assert set(d) == {"name", "attrs", "children", "text"}
        assert (n.name, n.attrs, n.text) == (d["name"], d["attrs"], d["text"])
        assert type(d["children"]) is list and len(d["children"]) == len(n.children)
        stack.extend(zip(n.children, d["children"]))


def random_tree(seed):
    return support.random_tree(seed, 200, ["a", "b", ""], ["id", "k", "", "é"], ["", "v", "7"], [None, "", "t"])


class Meddler:
    """A sequence whose length query runs `action` (no items)."""

    def __init__(self, action):
        self.action = action

    def __len__(self):
        self.action()
        return 0

    def __getitem__(self, index):
        raise IndexError(index)


class Failing:
    def __len__(self):
        raise RuntimeError("ignored")

    def __getitem__(self, index):
        return index

    def __iter__(self):
        try:
            raise KeyError("k")
        except KeyError as error:
            raise ValueError("boom") from error


class Unprintable(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class Silent:
    def __len__(self):
        return 0

    def __getitem__(self, index):
        raise Unprintable()


# --- to_dict ------------------------------------------------------------------------


def vocabulary_tree(words, repeats):
    children = [Node(w, {w: w, "k" + w: "v"}, text=w) for _ in range(repeats) for w in words]
    return Node("root", {}, children)


@pytest.mark.parametrize("source", ["constructed", "read"])
def test_to_dict_names_and_keys_from_a_wide_vocabulary(source):
    # Short, long and non-ASCII names and attribute keys, each met twice,
    # stored inline, on the heap or as spans of a read document.
    words = [f"n{i}" + "é" * (i % 3) + "x" * (i % 40) for i in range(12_000)]
    tree = vocabulary_tree(words, 2)
    if source == "read":
        xml = "<root>" + "".join(f'<{w} {w}="{w}" k{w}="v">{w}</{w}>' for w in words * 2) + "</root>"
        tree = read_string(xml, "root")
    matches_dict(tree, tree.to_dict())


def test_shared_child_becomes_separate_copies():
    shared = Node("s", {"k": "v"})
    data = Node("r", children=[shared, shared]).to_dict()
    first, second = data["children"]
    assert first == second and first is not second
    rebuilt = Node.from_dict(data)
    assert rebuilt.children[0] is not rebuilt.children[1]
    assert rebuilt.children[0] is not shared
    # The same dict twice gives two nodes as well.
    twice = Node.from_dict(leaf("p", children=[first, first]))
    assert twice.children[0] is not twice.children[1]


def test_result_shares_nothing_with_the_tree():
    node = Node("a", {"k": "v"}, [Node("c")])
    data = node.to_dict()
    data["attrs"]["k"] = "changed"
    data["children"].clear()
    assert node.to_dict() == leaf("a", attrs={"k": "v"}, children=[leaf("c", text=None)], text=None)


@pytest.mark.skipif(bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
                    reason="other threads may collect meanwhile")
@pytest.mark.parametrize("enabled", [True, False])
def test_to_dict_runs_no_collection_and_leaves_the_collector_as_it_was(enabled):
    tree = Node("r", children=[Node("c", {"k": str(i)}) for i in range(5000)])
    phases = []

    def watch(phase, info):
        phases.append(phase)

    was_enabled = gc.isenabled()
    (gc.enable if enabled else gc.disable)()
    gc.callbacks.append(watch)
    try:
        data = tree.to_dict()
        assert gc.isenabled() is enabled
        assert phases == []
    finally:
        gc.callbacks.remove(watch)
        (gc.enable if was_enabled else gc.disable)()

    class Marker:
        pass

    # The result is an ordinary graph: a cycle through it is still collected.
    marker = Marker()
    marker.data = data
    data["children"][0]["marker"] = marker
    gone = weakref.ref(marker)
    del data, marker
    gc.collect()
    assert gone() is None


# --- from_dict: accepted shapes ---------------------------------------------------


@pytest.mark.parametrize("seed", range(3))
def test_round_trip(seed):
    tree = random_tree(seed)
    data = tree.to_dict()
    matches_dict(tree, data)
    rebuilt = Node.from_dict(data)
    assert type(rebuilt) is Node
    same_tree(tree, rebuilt)


@pytest.mark.parametrize(
    "extra, text",
    [({}, None), ({"text": None}, None), ({"text": ""}, ""), ({"text": "t"}, "t"), ({"text": []}, None),
     ({"text": {}}, None), ({"text": {"a": "b"}}, None), ({"text": ()}, None), ({"extra": "x"}, None),
     ({"extra": [{"anything": "goes"}]}, None), ({"extra": None, "text": "u"}, "u")],
)
def test_text_and_ignored_keys(extra, text):
    node = Node.from_dict(leaf("a", **extra))
    assert (node.name, node.attrs, node.children, node.text) == ("a", {}, [], text)


def test_sequences_and_dict_subclasses():
    class Sub(dict):
        def __iter__(self):
            raise AssertionError("entries are read from storage")

    node = Node.from_dict(Sub(name="p", attrs=Sub(k="v"), children=(Sub(leaf("c")), leaf("d")), text="t"))
    assert (node.name, node.attrs, node.text) == ("p", {"k": "v"}, "t")
    assert [c.name for c in node.children] == ["c", "d"]


# --- from_dict: refused data --------------------------------------------------------


@pytest.mark.parametrize(
    "data, message",
    [
        ({"attrs": {}, "children": []}, "Invalid name"),
        ({"name": None, "attrs": {}, "children": []}, "Invalid name"),
        ({"name": [], "attrs": {}, "children": []}, "Invalid name"),
        ({"name": "a", "children": []}, "Invalid attrs"),
        ({"name": "a", "attrs": None, "children": []}, "Invalid attrs"),
        ({"name": "a", "attrs": [], "children": []}, "Invalid attrs"),
        ({"name": "a", "attrs": "k", "children": []}, "Invalid attrs"),
        ({"name": "a", "attrs": {}}, "Invalid children"),
        ({"name": "a", "attrs": {}, "children": "xy"}, "Invalid children"),
        ({"name": "a", "attrs": {}, "children": None}, "Invalid children"),
        ({"name": "a", "attrs": {}, "children": {}}, "Invalid children"),
        ({}, "Invalid name"),
        ({"attrs": None}, "Invalid name"),
        (leaf("p", attrs=None, children=[{"attrs": {}, "children": []}]), "Invalid attrs"),
        (leaf("p", children=[leaf("a"), {"attrs": {}, "children": []}]), "Invalid name"),
        (leaf("p", children=[leaf("a", children=[{"name": "b", "children": []}]), {}]), "Invalid attrs"),
    ],
)
def test_invalid_descriptions(data, message):
    with pytest.raises(ValueError) as info:
        Node.from_dict(data)
    assert type(info.value) is ValueError and str(info.value) == message
    assert notes(info) is None


def test_four_line_enum_message():
    with pytest.raises(TypeError) as info:
        Node.from_dict({"name": 5, "attrs": {}, "children": []})
    assert str(info.value).split("\n") == [
        HEAD,
        "- variant String (String): TypeError: failed to extract field HashmapTypes::String.0, caused by TypeError:"
        " 'int' object is not an instance of 'str'",
        "- variant Vec (Vec): TypeError: failed to extract field HashmapTypes::Vec.0, caused by TypeError: 'int'"
        " object is not an instance of 'Sequence'",
        "- variant NullableString (NullableString): TypeError: failed to extract field"
        " HashmapTypes::NullableString.0, caused by TypeError: 'int' object is not an instance of 'str'",
        "- variant Map (Map): TypeError: failed to extract field HashmapTypes::Map.0, caused by TypeError: 'int'"
        " object is not an instance of 'dict'",
    ]
    assert notes(info) == ["while processing 'dict_'"]
    assert info.value.__cause__ is None


def surrogate_error():
    try:
        "\ud800".encode("utf-8")
    except UnicodeEncodeError as error:
        return f"UnicodeEncodeError: {error}"


@pytest.mark.parametrize(
    "data, error, message",
    [
        ([], TypeError, "'list' object is not an instance of 'dict'"),
        (None, TypeError, "'None' is not an instance of 'dict'"),
        ("name", TypeError, "'str' object is not an instance of 'dict'"),
        ({1: "a"}, TypeError, "'int' object is not an instance of 'str'"),
        ({"\ud800": "a"}, UnicodeEncodeError, None),
        ({"name": 5.0, "attrs": {}, "children": []}, TypeError, refused("float")),
        # the first faulty entry in dict order is the one reported, and type
        # errors anywhere come before the checks of the description
        ({"name": None, "attrs": {"a": 1}, "children": []}, TypeError,
         refused("dict", map_cause="TypeError: 'int' object is not an instance of 'str'")),
        ({"x": 1.5, "name": 6}, TypeError, refused("float")),
        ({"extra": [{"name": 1}], "name": None}, TypeError, nested_refusal(1, refused("int"))),
        (leaf("a", children=["x"]), TypeError, refused("list", "TypeError: 'str' object is not an instance of 'dict'")),
        (leaf("a", children=[{1: "x"}]), TypeError,
         refused("list", "TypeError: 'int' object is not an instance of 'str'")),
        (leaf("a", children=[leaf("b", children=[leaf(7)])]), TypeError, nested_refusal(2, refused("int"))),
        (leaf("a", attrs={"k": None}), TypeError,
         refused("dict", map_cause="TypeError: 'None' is not an instance of 'str'")),
        (leaf("a", attrs={"\ud800": "v"}), TypeError, refused("dict", map_cause=surrogate_error())),
        (leaf("\ud800"), TypeError, refused("str", "TypeError: Can't extract `str` to `Vec`", surrogate_error())),
        (leaf("a", children=Failing()), TypeError,
         refused("Failing", "ValueError: boom, caused by KeyError: 'k'")),
        (leaf("a", children=Silent()), TypeError, refused("Silent", "Unprintable: <exception str() failed>")),
    ],
)
def test_type_errors(data, error, message):
    with pytest.raises(error) as info:
        Node.from_dict(data)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message
    assert notes(info) == ["while processing 'dict_'"]


def panic_of(call):
    with pytest.raises(BaseException) as info:
        call()
    assert type(info.value).__name__ == "PanicException"
    assert not isinstance(info.value, Exception)
    return str(info.value)


def swap_keys(data):
    del data["name"]
    data["late"] = "x"


@pytest.mark.parametrize(
    "meddled_key, meddle, nested, message",
    [
        ("children", lambda data: data.__setitem__("late", "x"), False, "dictionary changed size during iteration"),
        ("children", swap_keys, False, "dictionary keys changed during iteration"),
        ("text", lambda data: data.__setitem__("late", "x"), True, "dictionary changed size during iteration"),
    ],
    ids=["grown", "keys replaced", "nested grown"],
)
def test_dict_changed_during_reading(meddled_key, meddle, nested, message):
    data = leaf("a")
    data[meddled_key] = Meddler(lambda: meddle(data))
    assert panic_of(lambda: Node.from_dict(leaf("p", children=[data]) if nested else data)) == message


def test_dict_inside_itself():
    data = leaf("a")
    data["children"].append(data)
    with pytest.raises(ValueError) as info:
        Node.from_dict(data)
    assert str(info.value) == "Circular reference detected"


# --- depth ------------------------------------------------------------------------

DEPTH = 100_000


def chain_dict(depth, bottom):
    data = bottom
    for i in range(depth):
        data = {"name": "n", "attrs": {"i": str(i)}, "children": [data]}
    return data


def test_deep_chain_round_trip():
    node = Node("leaf", text="bottom")
    for _ in range(DEPTH):
        node = Node("n", {"k": "v"}, [node])
    data = node.to_dict()
    matches_dict(node, data)
    same_tree(node, Node.from_dict(data))


def test_deep_chain_invalid_at_the_bottom():
    with pytest.raises(ValueError, match="^Invalid children$"):
        Node.from_dict(chain_dict(DEPTH, {"name": "leaf", "attrs": {}, "children": None}))


def test_deep_chain_type_error_at_the_bottom():
    with pytest.raises(TypeError) as info:
        Node.from_dict(chain_dict(DEPTH, leaf(7)))
    list_level = refused("list", "TypeError: \0")
    prefix, suffix = list_level.split("\0")
    assert str(info.value) == prefix * DEPTH + refused("int") + suffix * DEPTH
    assert notes(info) == ["while processing 'dict_'"]
