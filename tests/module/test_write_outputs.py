"""What trees go out to besides a str and a path: bytes, paths of every
kind and binary file objects, and what a failing write() leaves."""

import io
import os
import pathlib

import pytest
from hypothesis import given, settings, strategies as st

from quorvane import Node, read_string, write_bytes, write_file, write_string
from support import examples, random_tree

BIG = Node("r", children=[Node("item", {"k": "v" * 40}, text="t é €" * 50)] * 4000
           + [Node("long", text="x" * 300_000)])


@settings(max_examples=examples(60), deadline=None)
@given(st.integers(0, 2**32), st.sampled_from([None, 0, 2]), st.sampled_from([None, True, False]))
def test_write_bytes_is_write_string_encoded(seed, indent, declaration):
    tree = random_tree(seed, 30, ["a", "b", "ü"], ["k", "é"], ["v", "<&>\"'", "€"], [None, "t", " é "], twice=0.2)
    assert write_bytes(tree, indent, declaration) == write_string(tree, indent, declaration).encode()


@pytest.mark.parametrize("tree", [
    read_string("<r>" + "<x a='1'>plain</x>" * 400_000 + "</r>", "r"),  # large enough to be written in place
    read_string("<r>" + "<x a='é'>€</x>" * 400_000 + "</r>", "r"),
    BIG,
], ids=["ascii, in place", "not ascii, in place", "shared nodes"])
def test_large_texts_in_bytes(tree):
    assert write_bytes(tree) == write_string(tree).encode()


@pytest.mark.parametrize("tree, indent, exception", [
    (Node("a b"), None, ValueError),
    (Node("r", children=[Node("x")] * 3), 2**63, MemoryError),
])
def test_write_bytes_refuses_what_write_string_refuses(tree, indent, exception):
    with pytest.raises(exception) as ours:
        write_bytes(tree, indent)
    with pytest.raises(exception) as theirs:
        write_string(tree, indent)
    assert str(ours.value) == str(theirs.value)


@pytest.mark.parametrize("as_path", [str, os.fsencode, pathlib.Path])
def test_write_file_takes_every_kind_of_path(tmp_path, as_path):
    path = tmp_path / "out.xml"
    write_file(BIG, as_path(str(path)), 1)
    assert path.read_bytes() == write_bytes(BIG, 1)


class Recording:
    """A binary file object that keeps each piece write() was given."""

    def __init__(self, take=None, fail_at=None):
        self.pieces = []
        self.take = take
        self.fail_at = fail_at

    def write(self, piece):
        assert type(piece) is bytes
        if len(self.pieces) == self.fail_at:
            raise OSError(28, "No space left on device")
        taken = piece[: self.take] if self.take else piece
        self.pieces.append(taken)
        return len(taken)


def test_a_file_object_gets_the_text_in_pieces_as_it_is_made():
    file = Recording()
    assert write_file(BIG, file) is None
    assert b"".join(file.pieces) == write_bytes(BIG)
    assert len(file.pieces) > 10 and max(map(len, file.pieces)) <= 64 << 10


def test_partial_writes_are_continued():
    file = Recording(take=1000)
    write_file(BIG, file, default_xml_def=False)
    assert b"".join(file.pieces) == write_bytes(BIG, default_xml_def=False)


@pytest.mark.parametrize("fail_at", [0, 3])
def test_an_exception_write_raises_passes_on_unchanged_and_ends_the_writing(fail_at):
    file = Recording(fail_at=fail_at)
    with pytest.raises(OSError) as caught:
        write_file(BIG, file)
    assert caught.value.errno == 28 and not hasattr(caught.value, "__notes__")
    # Nothing is written after the failure, not even what was still buffered.
    assert len(file.pieces) == fail_at
    assert write_bytes(BIG).startswith(b"".join(file.pieces))


@pytest.mark.parametrize("file, exception", [
    (io.StringIO(), TypeError),
    (io.BytesIO(), None),
])
def test_standard_file_objects(file, exception):
    if exception:
        with pytest.raises(exception, match="string argument expected"):
            write_file(BIG, file)
    else:
        write_file(BIG, file)
        assert file.getvalue() == write_bytes(BIG)
