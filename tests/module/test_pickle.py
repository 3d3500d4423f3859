"""Trees pickle flat and load equal: names, attributes in order, texts
(empty and absent apart), children in order, and shared nodes shared."""

import copy
import pathlib
import pickle
import random

import pytest
from hypothesis import given, settings, strategies as st

import quorvane
from quorvane import Node
from support import examples, shape

PROTOCOLS = range(2, pickle.HIGHEST_PROTOCOL + 1)


@pytest.mark.parametrize("protocol", PROTOCOLS)
def test_read_and_built_trees_load_equal(protocol):
    read = quorvane.read_string('<r b="2" a="x &amp; é"><c>t</c><d/><e></e><c>  u  </c></r>', "r")
    built = Node("n", {"z": "", "a": "ü" * 20}, [Node("m", text=""), Node("m"), read], "")
    for tree in (read, built):
        loaded = pickle.loads(pickle.dumps(tree, protocol))
        assert type(loaded) is Node
        assert shape(loaded) == shape(tree)


def test_long_strings_and_distant_children_round_trip():
    # Lengths and distances of 128 and more take varints of several bytes,
    # whose bytes look like UTF-8 continuation bytes.
    leaf = Node("leaf", {"k": "v" * 130}, text="é" * 100)
    tree = Node("r" * 200, {"a" * 140: "x" * 5000}, [leaf] + [Node(f"c{i}") for i in range(300)] + [leaf],
                "t" * 70_000)
    loaded = pickle.loads(pickle.dumps(tree))
    assert shape(loaded) == shape(tree)
    assert loaded.children[0] is loaded.children[-1]


def test_a_node_in_many_places_loads_as_one_object():
    node = Node("n")
    for _ in range(40):
        node = Node("n", children=[node, node])
    state = pickle.dumps(node)
    assert len(state) < 1000
    loaded = pickle.loads(state)
    for _ in range(40):
        first, second = loaded.children
        assert first is second
        loaded = first
    leaf = Node("leaf", text="x")
    loaded = pickle.loads(pickle.dumps(Node("p", children=[leaf, Node("q", children=[leaf]), leaf])))
    assert loaded.children[0] is loaded.children[1].children[0] is loaded.children[2]


def test_a_million_nested_nodes():
    deep = Node("leaf", text="x")
    for _ in range(1_000_000):
        deep = Node("d", children=[deep])
    loaded = pickle.loads(pickle.dumps(deep))
    depth = 0
    while loaded.children:
        (loaded,) = loaded.children
        depth += 1
    assert (depth, loaded.name, loaded.text) == (1_000_000, "leaf", "x")


def test_copies_are_the_node_itself():
    tree = Node("a", children=[Node("b")])
    assert copy.copy(tree) is tree
    assert copy.deepcopy(tree) is tree
    assert copy.deepcopy([tree, tree])[0] is tree


def test_the_public_surface_is_unchanged():
    public = {name for name in dir(Node) if not name.startswith("_")}
    assert public == {"name", "attrs", "children", "text", "search_by_name", "search_by_attr",
                      "search_by_text", "search", "to_dict", "from_dict"}


VALID = quorvane.read_string('<r k="v" j="w"><a>t</a><b/></r>', "r")
RESTORE, (STATE,) = VALID.__reduce__()


def restore(state):
    return RESTORE(state)


@pytest.mark.parametrize("state, message", [
    (b"", "at byte 0: unknown format"),
    (b"\x02\x01", "at byte 1: unknown format"),
    (b"\x01\x00", "bad node count"),
    (b"\x01\x01\x09\x01\x00\x00\x00a", "bad node count"),    # records past the end
    (b"\x01\x01\x05\x01\x00\x00\x01\x01a", "bad child"),     # a child after its parent
    (b"\x01\x01\x05\x01\x00\x00\x00\x00a", "data after the last node"),
    (b"\x01\x01\x04\x01\x00\x00\x00ab", "data after the last node"),
    (b"\x01\x01\x04\x01\x00\x00\x00\xff", "bad name"),        # not UTF-8
    (b"\x01\x01\x04\x03\x00\x00\x00\xed\xa0\x80", "bad name"),  # a surrogate
    (b"\x01\x01\x04\x02\x00\x00\x00a", "bad name"),           # strings cut short
    (b"\x01\x01\x08\x01\x00\x02\x01\x01\x01\x01\x00akvkw", "repeated attribute"),
    (b"\x01\x02\x09\x01\x00\x00\x00\x01\x00\x00\x01\x02ab", "bad child"),  # past the first
    (b"\x01\x01\x08\x01\x00\x00\xff\xff\xff\xff\x0fa", "bad child count"),
])
def test_corrupt_state_is_refused(state, message):
    with pytest.raises(ValueError, match="^invalid pickled Node data at byte [0-9]+: ") as error:
        restore(state)
    assert message in str(error.value)


@pytest.mark.parametrize("name", ["pickled-state-1.bin", "pickled-state-2.bin"])
def test_states_that_once_broke_the_module_are_refused(name):
    # Each is a real state with one byte inserted or deleted, which put the
    # edge of a string, valid UTF-8 alone, inside a character.
    state = (pathlib.Path(__file__).parent / "repro" / name).read_bytes()
    with pytest.raises(ValueError, match="^invalid pickled Node data at byte [0-9]+: "):
        restore(state)


def test_state_of_the_wrong_type_is_refused():
    with pytest.raises(TypeError, match="'str' object is not an instance of 'bytes'"):
        restore("state")


def test_every_truncation_and_byte_flip_loads_or_fails_cleanly():
    assert RESTORE is quorvane._restore_node
    assert shape(restore(STATE)) == shape(VALID)
    for end in range(len(STATE)):
        with pytest.raises(ValueError):
            restore(STATE[:end])
    rng = random.Random(4)
    for _ in range(2000):
        flipped = bytearray(STATE)
        flipped[rng.randrange(len(flipped))] = rng.randrange(256)
        try:
            tree = restore(bytes(flipped))
        except ValueError:
            continue
        shape(tree)


names = st.text(min_size=1, max_size=8)
# Past 127 bytes a length takes a varint of two bytes.
texts = st.none() | st.text(max_size=20) | st.text(min_size=120, max_size=200)


@st.composite
def trees(draw):
    pool = []
    for _ in range(draw(st.integers(1, 12))):
        children = draw(st.lists(st.sampled_from(pool), max_size=4)) if pool else []
        attrs = draw(st.dictionaries(names, st.text(max_size=10) | st.text(min_size=120, max_size=140),
                                     max_size=3))
        pool.append(Node(draw(names), attrs, children, draw(texts)))
    return pool[-1]


@settings(max_examples=examples(150), deadline=None)
@given(trees(), st.sampled_from(list(PROTOCOLS)))
def test_random_trees_round_trip(tree, protocol):
    assert shape(pickle.loads(pickle.dumps(tree, protocol))) == shape(tree)
