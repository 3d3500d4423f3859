"""What write_string writes reads back as the tree it was written from,
by read_string and by lxml; write_file writes the same bytes."""

import os
import sys

import lxml.etree
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quorvane import Node, read_string, write_file, write_string
from strategies import NAME, UNICODE_SPACE, XML_CHARS, expected_text
from support import examples, shape

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
from training_documents import DOCUMENTS, locale_like  # noqa: E402

# The reader trims Unicode white space from both ends of a text and reads a
# text with nothing left as absent, so texts start and end with other
# characters. Carriage returns come back too: the writer escapes them in
# attribute values, and the reader keeps them in text.
CONTENT = st.text(XML_CHARS | st.sampled_from("<>&\"'\r\t\n"), max_size=12)
TEXT = CONTENT.map(lambda t: t.strip(UNICODE_SPACE)).filter(bool)


def nodes(children):
    return st.builds(
        Node,
        NAME,
        st.dictionaries(NAME, CONTENT, max_size=4),
        children,
        st.none() | TEXT,
    )


TREES = st.recursive(nodes(st.just([])), lambda inner: nodes(st.lists(inner, max_size=4)), max_leaves=16)


@settings(max_examples=examples(300), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(TREES, st.sampled_from([0, 1, 4, 9]), st.booleans())
def test_what_is_written_reads_back_the_same(tree, indent, declaration):
    text = write_string(tree, indent=indent, default_xml_def=declaration)
    back = read_string(text, tree.name)
    # Attribute dicts compare equal in any order; the order must hold too,
    # since the attributes read back are listed in document order.
    assert shape(back) == shape(tree)


def line_ends_normalised(text):
    """Text as an XML parser passes it on: a raw carriage return, which text
    mode leaves as it is, arrives as a line feed."""
    return None if text is None else text.replace("\r\n", "\n").replace("\r", "\n")


def assert_same(ours, theirs):
    pending = [(ours, theirs)]
    while pending:
        ours, theirs = pending.pop()
        assert ours.name == theirs.tag
        assert ours.attrs == dict(theirs.attrib)
        assert line_ends_normalised(ours.text) == expected_text(theirs)
        assert len(ours.children) == len(theirs)
        pending.extend(zip(ours.children, theirs))


@settings(max_examples=examples(200), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(TREES, st.sampled_from([0, 2]))
def test_lxml_reads_what_is_written_as_the_same_tree(tree, indent):
    assert_same(tree, lxml.etree.fromstring(write_string(tree, indent).encode()))


@pytest.mark.parametrize("name", [*DOCUMENTS, "locale-like"])
def test_large_documents_agree_with_lxml_and_write_the_same_bytes_to_a_file(name, tmp_path):
    if name == "locale-like":
        import random

        document, root_tag = locale_like(random.Random(4), 2_000_000), "ldml"
    else:
        make, root_tag = DOCUMENTS[name]
        document = make(2_000_000)
    tree = read_string(document, root_tag)
    text = write_string(tree, 2)
    assert_same(tree, lxml.etree.fromstring(text.encode()))
    path = tmp_path / "out.xml"
    write_file(tree, str(path), 2)
    assert path.read_bytes() == text.encode()
