"""Differential test: generated well-formed documents read by read_string
and by lxml must agree on names, attributes, child order and text.

The text rule is checked against lxml's own view of the element: its text
and the tails of all its children (comments and processing instructions
included) are the direct character data and CDATA of the element; joined
and trimmed of Unicode white space they must equal `text`, or `text` must
be None when nothing is left.

The same documents, encoded in any encoding with a mark or a declaration
that names it, must read from bytes as they read from their text."""

import lxml.etree
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quorvane import read_bytes, read_string
from strategies import NAME, XML_CHARS, expected_text
from support import examples

ENTITIES = {"<": "&lt;", ">": "&gt;", "&": "&amp;", '"': "&quot;", "'": "&apos;"}


@st.composite
def reference(draw):
    """(decoded character, how it is written)."""
    char = draw(XML_CHARS | st.sampled_from("<>&\"'\r"))
    form = draw(st.sampled_from(["dec", "hex", "entity"]))
    if form == "entity" and char in ENTITIES:
        return char, ENTITIES[char]
    if form == "hex":
        return char, f"&#x{ord(char):X};"
    return char, f"&#{ord(char)};"


def raw_text(forbidden):
    return st.text(XML_CHARS.filter(lambda c: c not in forbidden and c != "\r"), max_size=8)


@st.composite
def pieces(draw, forbidden):
    """Text written as raw runs and references: (written, decoded)."""
    written, decoded = [], []
    for _ in range(draw(st.integers(0, 4))):
        if draw(st.booleans()):
            run = draw(raw_text(forbidden))
            written.append(run)
            decoded.append(run)
        else:
            char, form = draw(reference())
            written.append(form)
            decoded.append(char)
    return "".join(written), "".join(decoded)


@st.composite
def attribute_value(draw):
    quote = draw(st.sampled_from(['"', "'"]))
    written, _ = draw(pieces(forbidden="<&" + quote))
    return quote + written + quote


LEAF_ITEMS = st.one_of(
    pieces(forbidden="<&]").map(lambda p: p[0]),
    st.text(XML_CHARS.filter(lambda c: c not in "]\r"), max_size=8).map(lambda t: f"<![CDATA[{t}]]>"),
    st.text(XML_CHARS.filter(lambda c: c != "-"), max_size=8).map(lambda t: f"<!--{t}-->"),
    st.tuples(st.from_regex(r"[a-wyz][a-z]{0,4}", fullmatch=True),
              st.text(XML_CHARS.filter(lambda c: c not in "?"), max_size=8))
      .map(lambda pi: f"<?{pi[0]} {pi[1]}?>"),
)


def element(children):
    @st.composite
    def build(draw):
        name = draw(NAME)
        attrs = draw(st.dictionaries(NAME, attribute_value(), max_size=4))
        spaces = st.sampled_from([" ", "\n  ", "\t", "  "])
        tag = name + "".join(f"{draw(spaces)}{k}{draw(st.sampled_from(['=', ' = ']))}{v}"
                             for k, v in attrs.items())
        content = draw(st.lists(children | LEAF_ITEMS, max_size=6))
        if not content and draw(st.booleans()):
            return f"<{tag}{draw(st.sampled_from(['', ' ']))}/>"
        return f"<{tag}>{''.join(content)}</{name}{draw(st.sampled_from(['', ' ', '\n']))}>"
    return build()


DOCUMENTS = st.recursive(element(st.nothing()), element, max_leaves=12)


def assert_same(ours, theirs):
    pending = [(ours, theirs)]
    while pending:
        ours, theirs = pending.pop()
        assert ours.name == theirs.tag
        assert ours.attrs == dict(theirs.attrib)
        assert ours.text == expected_text(theirs)
        elements = [child for child in theirs if isinstance(child.tag, str)]
        assert [c.name for c in ours.children] == [c.tag for c in elements]
        pending.extend(zip(ours.children, elements))


@settings(max_examples=examples(400), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(DOCUMENTS, st.sampled_from(['', '<?xml version="1.0" encoding="UTF-8"?>\n']),
       st.randoms(use_true_random=False))
def test_agrees_with_lxml(body, prolog, rng):
    document = prolog + "<!-- lead -->" + body + "\n"
    theirs = lxml.etree.fromstring(document.encode())
    # Any element may be asked for: the first one of that name in document order.
    names = [e.tag for e in theirs.iter() if isinstance(e.tag, str)]
    root_tag = rng.choice(names)
    assert_same(read_string(document, root_tag), next(theirs.iter(root_tag)))


ENCODINGS = ["utf-8", "utf-8-sig", "utf-16", "utf-16-le", "utf-16-be", "utf-32", "utf-32-le", "utf-32-be",
             "iso-8859-1", "cp1252", "ascii"]


@settings(max_examples=examples(300), deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(DOCUMENTS, st.sampled_from(ENCODINGS), st.booleans())
def test_bytes_in_any_encoding_read_as_their_text(body, encoding, declared):
    # The declaration names the encoding, or a mark (or UTF-8 itself) does.
    if not declared and encoding not in ("utf-8", "utf-8-sig", "utf-16", "utf-32"):
        declared = True
    prolog = f'<?xml version="1.0" encoding="{encoding.removesuffix("-sig")}"?>' if declared else ""
    document = prolog + body
    try:
        data = document.encode(encoding)
    except UnicodeEncodeError:
        return
    root_tag = lxml.etree.fromstring(body.encode()).tag
    expected = read_string(document, root_tag)
    pending = [(read_bytes(data, root_tag), expected)]
    while pending:
        ours, theirs = pending.pop()
        assert (ours.name, ours.attrs, ours.text) == (theirs.name, theirs.attrs, theirs.text)
        assert len(ours.children) == len(theirs.children)
        pending.extend(zip(ours.children, theirs.children))
