"""Documents larger than 4 GiB, whose spans and offsets 32 bits cannot
hold, and the largest shapes each operation must take in stride. Run by
`make test-huge` (QUORVANE_HUGE=1): each needs several GiB of memory, and the
first a 4 GiB file."""

import os
import pickle

import pytest

import quorvane
from quorvane import Node

pytestmark = pytest.mark.skipif(not os.environ.get("QUORVANE_HUGE"), reason="run by make test-huge")

PADDING = 4 * 2**30 + 123
HEAD, TAIL = "<r><pad>", '</pad><e a="v">t &amp; u</e><f/></r>'


def check(tree):
    pad, e, f = tree.children
    assert (pad.name, e.name, f.name) == ("pad", "e", "f")
    assert (e.attrs, e.text, f.text) == ({"a": "v"}, "t & u", None)
    assert tree.search_by_attr("a") == [e]
    assert quorvane.write_string(e, default_xml_def=False) == '<e a="v">t &amp; u</e>'
    assert pickle.loads(pickle.dumps(e)).to_dict() == e.to_dict()


def test_read_string_past_four_gibibytes():
    document = HEAD + "x" * PADDING + TAIL
    check(quorvane.read_string(document, "r"))
    inner = quorvane.read_string(document, "e")
    del document
    assert (inner.name, inner.text) == ("e", "t & u")


def test_read_file_past_four_gibibytes(tmp_path):
    path = tmp_path / "huge.xml"
    chunk = "x" * 2**26
    with open(path, "w", encoding="utf-8") as out:
        out.write(HEAD)
        for _ in range(PADDING // len(chunk)):
            out.write(chunk)
        out.write("x" * (PADDING % len(chunk)) + TAIL)
    try:
        check(quorvane.read_file(str(path), "r"))
    finally:
        path.unlink()


def every_operation_agrees(tree, probe):
    """Reads, searches, converts, renders, writes and pickles `tree`; every
    path must give back the same document."""
    written = quorvane.write_string(tree, 0)
    for again in (quorvane.read_string(written, tree.name), Node.from_dict(tree.to_dict()),
                  pickle.loads(pickle.dumps(tree))):
        probe(again)
        assert quorvane.write_string(again, 0) == written
    assert str(tree).startswith(f"Name: {tree.name}\n")
    probe(tree)


TEN_MILLION = 10_000_000
HUNDRED_MB = 100_000_000


def many_elements(tree):
    assert len(tree.children) == TEN_MILLION
    assert len(tree.search_by_name("e", depth=1)) == TEN_MILLION


def many_attributes(tree):
    assert list(tree.attrs) == [f"a{i}" for i in range(100_000)]
    assert tree.search_by_attr("a99999") == [tree]


def long_text(tree):
    assert tree.text == "t&" * (HUNDRED_MB // 5)


def long_value(tree):
    assert tree.attrs == {"a": "v<" * (HUNDRED_MB // 5)}


@pytest.mark.parametrize("make, probe", [
    (lambda: "<r>" + "<e/>" * TEN_MILLION + "</r>", many_elements),
    (lambda: "<r " + " ".join(f'a{i}="{i}"' for i in range(100_000)) + "/>", many_attributes),
    (lambda: "<r>" + "t&amp;" * (HUNDRED_MB // 5) + "</r>", long_text),
    (lambda: '<r a="' + "v&lt;" * (HUNDRED_MB // 5) + '"/>', long_value),
], ids=["ten million elements", "100,000 attributes", "100 MB text", "100 MB value"])
def test_limits_through_every_operation(make, probe):
    every_operation_agrees(quorvane.read_string(make(), "r"), probe)
