"""Documents larger than 4 GiB, whose spans and offsets 32 bits cannot
hold. Run by `make test-huge` (QUORVANE_HUGE=1): each needs about 5 GiB of
memory and a 4 GiB file."""

import os
import pickle

import pytest

import quorvane

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
