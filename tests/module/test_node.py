import pickle
import sys

import pytest

from quorvane import Node, read_string, write_string
from support import notes, run_child


def test_defaults():
    node = Node("a")
    assert (node.name, node.attrs, node.children, node.text) == ("a", {}, [], None)
    assert Node("a", text="").text == ""


@pytest.mark.parametrize("name", ["", "a b<c", "é日本", "x" * 70000])
def test_names_are_stored_unchanged(name):
    assert Node(name).name == name


@pytest.mark.parametrize(
    "children",
    [lambda x, y: [x, y], lambda x, y: (x, y), lambda x, y: type("Seq", (), {
        "__getitem__": lambda self, i: [x, y][i], "__len__": lambda self: 2})()],
    ids=["list", "tuple", "custom sequence"],
)
def test_children_accept_any_sequence(children):
    x, y = Node("x"), Node("y")
    node = Node("a", children=children(x, y))
    assert node.children[0] is x and node.children[1] is y


def test_attrs_from_dict_subclass_read_storage_directly():
    class Tricky(dict):
        def items(self):
            raise AssertionError("must not be called")

        def __iter__(self):
            raise AssertionError("must not be called")

    assert Node("a", attrs=Tricky(k="v")).attrs == {"k": "v"}


@pytest.mark.parametrize(
    "kwargs, argument, error, message",
    [
        ({"name": None}, "name", TypeError, "'None' is not an instance of 'str'"),
        ({"name": 1, "attrs": 5}, "name", TypeError, "'int' object is not an instance of 'str'"),
        ({"name": b"a"}, "name", TypeError, "'bytes' object is not an instance of 'str'"),
        ({"name": "a", "attrs": 5}, "attrs", TypeError, "'int' object is not an instance of 'dict'"),
        ({"name": "a", "attrs": [("k", "v")]}, "attrs", TypeError, "'list' object is not an instance of 'dict'"),
        ({"name": "a", "attrs": {"k": None}}, "attrs", TypeError, "'None' is not an instance of 'str'"),
        ({"name": "a", "attrs": {1: "v"}}, "attrs", TypeError, "'int' object is not an instance of 'str'"),
        ({"name": "a", "children": "bc"}, "children", TypeError, "Can't extract `str` to `Vec`"),
        ({"name": "a", "children": {Node("x"): 1}}, "children", TypeError,
         "'dict' object is not an instance of 'Sequence'"),
        ({"name": "a", "children": {Node("x")}}, "children", TypeError, "'set' object is not an instance of 'Sequence'"),
        ({"name": "a", "children": iter([])}, "children", TypeError,
         "'list_iterator' object is not an instance of 'Sequence'"),
        ({"name": "a", "children": [None]}, "children", TypeError, "'None' is not an instance of 'Node'"),
        ({"name": "a", "children": [Node("x"), "y"]}, "children", TypeError, "'str' object is not an instance of 'Node'"),
        ({"name": "a", "text": 5}, "text", TypeError, "'int' object is not an instance of 'str'"),
        ({"name": "a", "attrs": 5, "text": 5}, "attrs", TypeError, "'int' object is not an instance of 'dict'"),
    ],
)
def test_conversion_errors_name_the_first_bad_argument(kwargs, argument, error, message):
    with pytest.raises(error) as info:
        Node(**kwargs)
    assert str(info.value) == message
    assert notes(info) == [f"while processing '{argument}'"]


@pytest.mark.parametrize("argument", ["name", "text", "attrs key", "attrs value"])
def test_lone_surrogates_raise_the_encoding_error(argument):
    bad = "\ud800"
    kwargs = {
        "name": {"name": bad},
        "text": {"name": "a", "text": bad},
        "attrs key": {"name": "a", "attrs": {bad: "v"}},
        "attrs value": {"name": "a", "attrs": {"k": bad}},
    }[argument]
    with pytest.raises(UnicodeEncodeError) as info:
        Node(**kwargs)
    assert notes(info) == [f"while processing '{argument.split()[0]}'"]


def test_iteration_error_is_passed_on():
    class Broken:
        def __len__(self):
            raise RuntimeError("length is ignored")

        def __getitem__(self, index):
            if index == 1:
                raise KeyError("boom")
            return Node("x")

    with pytest.raises(KeyError) as info:
        Node("a", children=Broken())
    assert notes(info) == ["while processing 'children'"]


def test_huge_reported_length_is_an_error_not_a_crash():
    class Huge:
        def __len__(self):
            return sys.maxsize

        def __getitem__(self, index):
            raise IndexError

    with pytest.raises(MemoryError) as info:
        Node("a", children=Huge())
    assert notes(info) == ["while processing 'children'"]


@pytest.mark.parametrize("attribute", ["name", "attrs", "children", "text"])
def test_properties_are_read_only(attribute):
    node = Node("a")
    with pytest.raises(AttributeError):
        setattr(node, attribute, None)
    with pytest.raises(AttributeError):
        delattr(node, attribute)


def test_returned_containers_are_fresh_copies():
    child = Node("c")
    node = Node("a", {"k": "v"}, [child])
    node.children.append(Node("d"))
    node.attrs["x"] = "y"
    assert node.children == [child] and node.attrs == {"k": "v"}
    assert node.children is not node.children
    assert node.attrs is not node.attrs and node.attrs == node.attrs


def test_identity_equality_and_hash():
    a, b = Node("a"), Node("a")
    assert a != b and a == a
    assert {a: 1, b: 2}[a] == 1
    assert hash(a) == object.__hash__(a)


ORDERED_KEYS = [f"k{i:02d}" for i in range(40)][::-1]


@pytest.mark.parametrize(
    "make",
    [lambda: Node("a", attrs={k: f"v{k}" for k in ORDERED_KEYS}),
     lambda: read_string("<a " + " ".join(f'{k}="v{k}"' for k in ORDERED_KEYS) + "/>", "a")],
    ids=["built", "read"],
)
def test_attributes_keep_their_order_on_every_path(make):
    # The order given, or the document's: through attrs, writing and reading
    # back, to_dict and from_dict, every pickle protocol, a node shared by
    # several parents, and the outline.
    node = make()
    shared = Node("r", children=[node, Node("m", children=[node])])
    trees = [shared, read_string(write_string(shared), "r"), Node.from_dict(shared.to_dict())]
    trees += [pickle.loads(pickle.dumps(shared, p)) for p in range(pickle.HIGHEST_PROTOCOL + 1)]
    for tree in trees:
        assert [list(found.attrs) for found in tree.search_by_name("a")] == [ORDERED_KEYS] * 2
    as_dict = shared.to_dict()
    assert list(as_dict["children"][1]["children"][0]["attrs"]) == ORDERED_KEYS
    assert [line.split(":")[0] for line in str(node).splitlines()[2:]] == ORDERED_KEYS


def test_releasing_a_million_nested_nodes_does_not_overflow_the_stack():
    assert run_child("""
        from quorvane import Node
        n = Node('x')
        for _ in range(1_000_000): n = Node('x', children=[n])
        del n
        print('released')
    """) == ["released"]
