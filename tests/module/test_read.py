"""read_string and read_file: selection of the root, tree shape, text,
attributes, references and every reader error with its exact message."""

import gc
import os
import re
import sys
import threading

import pytest

from quorvane import read_bytes, read_file, read_string
from support import run_child


def tree(node):
    """(name, attrs, text, [children...]) of a whole subtree."""
    return (node.name, node.attrs, node.text, [tree(child) for child in node.children])


def read_error(read, source, root_tag):
    """The message of the ValueError that reading `source` raises."""
    with pytest.raises(ValueError) as caught:
        read(source, root_tag)
    return str(caught.value)


# --- conversion of the arguments ------------------------------------------------


@pytest.mark.parametrize(
    "call, exception, message, argument",
    [
        (lambda: read_string(b"<a/>", "a"), TypeError, "'bytes' object is not an instance of 'str'", "xml_string"),
        (lambda: read_string(None, "a"), TypeError, "'None' is not an instance of 'str'", "xml_string"),
        (lambda: read_string("<a/>", 1), TypeError, "'int' object is not an instance of 'str'", "root_tag"),
        (lambda: read_string("<a>\ud800</a>", "a"), UnicodeEncodeError, None, "xml_string"),
        (lambda: read_string("<a/>", "\ud800"), UnicodeEncodeError, None, "root_tag"),
        (lambda: read_file(3, "a"), TypeError,
         "'int' object is not an instance of 'str, bytes, os.PathLike or file object'", "file_path"),
        (lambda: read_bytes("<a/>", "a"), TypeError, "'str' object is not an instance of 'bytes-like object'",
         "xml_bytes"),
        (lambda: read_bytes(b"<a/>", None), TypeError, "'None' is not an instance of 'str'", "root_tag"),
        (lambda: read_file("missing.xml", None), TypeError, "'None' is not an instance of 'str'", "root_tag"),
    ],
)
def test_conversion_errors_carry_the_argument_note(call, exception, message, argument):
    with pytest.raises(exception) as caught:
        call()
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == [f"while processing '{argument}'"]


def test_str_subclasses_are_accepted():
    class Text(str):
        pass

    node = read_string(Text("<a>x</a>"), Text("a"))
    assert (node.name, node.text) == ("a", "x")


# --- choice of the root and shape of the tree ----------------------------------------


@pytest.mark.parametrize(
    "document, root_tag, expected",
    [
        ("<a><b>t</b></a>", "b", ("b", {}, "t", [])),
        ("<a><b>t</b></a>", "a", ("a", {}, None, [("b", {}, "t", [])])),
        ('<r><x><a k="1">t</a></x></r>', "a", ("a", {"k": "1"}, "t", [])),
        ("<a>1</a><a>2</a>", "a", ("a", {}, "1", [])),
        ("<r><a/></r>", "a", ("a", {}, None, [])),
        ("<r><a/></r>", "r", ("r", {}, None, [("a", {}, None, [])])),
        # A matching element inside the root is an ordinary descendant.
        ("<a><a>x</a></a>", "a", ("a", {}, None, [("a", {}, "x", [])])),
        # Nothing after the root is examined.
        ("<a>1</a><a>2</b>", "a", ("a", {}, "1", [])),
        ("<a/></nothing>", "a", ("a", {}, None, [])),
        # Elements around the root are followed by name only.
        ("<r><b x=1></b><a/></r>", "a", ("a", {}, None, [])),
        ("<r><r><a/></r>", "a", ("a", {}, None, [])),
        ("<a>x</a >", "a", ("a", {}, "x", [])),
        ("<a>x</a\t\r\n>", "a", ("a", {}, "x", [])),
        ("<a>x</a \u3000\u2029>", "a", ("a", {}, "x", [])),
        ('<?xml version="1.0"?><!DOCTYPE a [<!ENTITY e "x">]><a>y</a>', "a", ("a", {}, "y", [])),
        ("\ufeff<a/>", "a", ("a", {}, None, [])),
        ("&bogus;<a/>", "a", ("a", {}, None, [])),
        ("<?pi <b>?><a><?pi inside?><!-- <c> -->x</a>", "a", ("a", {}, "x", [])),
        ("<Ä ö=\"ü\">ß<é/></Ä>", "Ä", ("Ä", {"ö": "ü"}, "ß", [("é", {}, None, [])])),
        ("<a><b/><c>1</c><b>2</b></a>", "a",
         ("a", {}, None, [("b", {}, None, []), ("c", {}, "1", []), ("b", {}, "2", [])])),
    ],
)
def test_selected_tree(document, root_tag, expected):
    assert tree(read_string(document, root_tag)) == expected


def test_result_outlives_the_document_string():
    document = "".join(["<r><a k='", "v' j='&amp;'>", "text</a></r>"])
    child = read_string(document, "r").children[0]
    del document
    gc.collect()
    assert (child.name, child.attrs, child.text) == ("a", {"k": "v", "j": "&"}, "text")


def test_tree_reads_the_callers_string_in_place():
    document = "".join(["<a k='v'>", "text</a>"])
    before = sys.getrefcount(document)
    node = read_string(document, "a")
    # The spans of the tree keep exactly one reference to the string.
    assert sys.getrefcount(document) == before + 1
    del node
    assert sys.getrefcount(document) == before


@pytest.mark.parametrize("document", ["<a><b></a>", "<a k='&x;'/>", "<b/>"])
def test_failed_read_keeps_no_reference_to_the_string(document):
    document = "".join([document, ""]) + " "
    before = sys.getrefcount(document)
    with pytest.raises(ValueError):
        read_string(document, "a")
    assert sys.getrefcount(document) == before


# --- text ---------------------------------------------------------------------------


@pytest.mark.parametrize(
    "document, text",
    [
        ("<a> x <b/> y </a>", "x  y"),
        ("<a>   </a>", None),
        ("<a/>", None),
        ("<a></a>", None),
        ("<a><![CDATA[ <b>&amp; ]]></a>", "<b>&amp;"),
        ("<a><![CDATA[]]></a>", None),
        ("<a>x<!-- note -->y</a>", "xy"),
        ("<a>a<b/>c<!--x-->d<?p?>e</a>", "acde"),
        ("<a>\n  <b>inner</b>\n</a>", None),
        ("<a>x<![CDATA[&lt;]]>&lt;y</a>", "x&lt;<y"),
        ("<a>  x <![CDATA[ y ]]> </a>", "x  y"),
        ("<a>x\r\ny\tz</a>", "x\r\ny\tz"),
        ("<a>\u3000\u00a0\u2028x y\u200a\u205f\u0085\u1680</a>", "x y"),
        ("<a>\u200bx\u200b</a>", "\u200bx\u200b"),
        ("<a>\u3000<b/>\u00a0</a>", None),
        ("<a>\u00e9t\u00e9</a>", "\u00e9t\u00e9"),
        ("<a>&#32;x&#32;</a>", "x"),
        # Twice as many pieces as '<' bytes: the index's text array outgrows its first size.
        pytest.param("<a>" + "x<![CDATA[y]]>" * 40_000 + "</a>", "xy" * 40_000, id="cdata-pieces"),
    ],
)
def test_text_is_the_joined_direct_pieces_trimmed(document, text):
    assert read_string(document, "a").text == text


# --- references -------------------------------------------------------------------


@pytest.mark.parametrize(
    "raw, decoded",
    [
        ("a &lt;b&gt; c", "a <b> c"),
        ("&amp;lt;", "&lt;"),
        ("&quot;&apos;", "\"'"),
        ("&#65;", "A"),
        ("&#x41;", "A"),
        ("&#x0041;", "A"),
        ("&#+65;", "A"),
        ("&#x+41;", "A"),
        ("&#0065;", "A"),
        ("&#xe9;&#xE9;", "\u00e9\u00e9"),
        ("&#x20AC;", "\u20ac"),
        ("&#x10FFFF;", "\U0010ffff"),
        ("&#128512;", "\U0001f600"),
        ("x&#10;y", "x\ny"),
    ],
)
def test_references_in_text_and_values(raw, decoded):
    node = read_string(f'<a v="{raw}">{raw}</a>', "a")
    assert node.text == decoded
    assert node.attrs == {"v": decoded}


@pytest.mark.parametrize(
    "name",
    ["#X41", "#-65", "#", "#x", "#x+", "#+", "#++65", "#0", "#xD800", "#xDFFF", "#x110000",
     "#4294967296", "#x100000000", "#xZZ", "#6 5", "#1114112"],
)
def test_invalid_character_references(name):
    with pytest.raises(ValueError) as in_text:
        read_string(f"<a>x&{name};</a>", "a")
    assert str(in_text.value) == f"malformed XML at byte 4: invalid character reference '&{name};'"
    with pytest.raises(ValueError) as in_value:
        read_string(f'<a v="&{name};"/>', "a")
    assert str(in_value.value) == f"malformed XML at byte 6: invalid character reference '&{name};'"


@pytest.mark.parametrize(
    "document, message",
    [
        ("<a>&;</a>", "unknown entity reference '&;' at byte 3"),
        ("<a>&LT;</a>", "unknown entity reference '&LT;' at byte 3"),
        ("<a>&nbsp;</a>", "unknown entity reference '&nbsp;' at byte 3"),
        ("<a>a & b; c</a>", "unknown entity reference '& b;' at byte 5"),
        ("<a>x &a&b;</a>", "unknown entity reference '&a&b;' at byte 5"),
        ("<a>AT&T</a>", "malformed XML at byte 5: unterminated entity reference"),
        ("<a>&amp<b/>;</a>", "malformed XML at byte 3: unterminated entity reference"),
        ("<a>ok &amp; &lt</a>", "malformed XML at byte 12: unterminated entity reference"),
        ("<a>\u00e9&x;</a>", "unknown entity reference '&x;' at byte 5"),
        ('<a v="&bad;"/>', "unknown entity reference '&bad;' at byte 6"),
        ('<a v="AT&T"/>', "malformed XML at byte 8: unterminated entity reference"),
    ],
)
def test_reference_errors(document, message):
    assert read_error(read_string, document, "a") == message


@pytest.mark.parametrize(
    "value, stored",
    [
        ("x\ny", "x y"),
        ("x\ty", "x y"),
        ("x\r\ny", "x y"),
        ("x\ry", "x y"),
        ("x\n\ny", "x  y"),
        ("x\r\r\ny", "x  y"),
        ("&#9;&#10;&#13;", "\t\n\r"),
        ("x\x0by\x0cz", "x\x0by\x0cz"),
        (" padded ", " padded "),
        ("", ""),
    ],
)
def test_attribute_values_normalise_literal_line_breaks_and_tabs(value, stored):
    assert read_string(f'<a v="{value}"/>', "a").attrs == {"v": stored}


# --- attributes ---------------------------------------------------------------------


ATTRIBUTE_CASES = [
    ("<a b=\"1\" c='2'/>", {"b": "1", "c": "2"}),
    ('<a b = "1"/>', {"b": "1"}),
    ("<a b=\"it's\"/>", {"b": "it's"}),
    ("<a b='say \"hi\"'/>", {"b": 'say "hi"'}),
    ('<a x:y="1" 1="2"/>', {"x:y": "1", "1": "2"}),
    ('<a\tb="1"\x0cc="2"\r\nd="3"/>', {"b": "1", "c": "2", "d": "3"}),
    ('<a b="x&lt;y"/>', {"b": "x<y"}),
    ('<a b="x>y"/>', {"b": "x>y"}),
    ('<a b="/>"/>', {"b": "/>"}),
    ("<a/>", {}),
    ("<a />", {}),
    ("<a >", {}),
    ('<a b="1" >', {"b": "1"}),
    ('<a b="1"/>', {"b": "1"}),
    ('<a B="1" b="2"/>', {"B": "1", "b": "2"}),
]

# A long attribute first pushes the rest of a tag past the first 64 bytes,
# where attributes are found by a different search than in short tags.
PAD = ' pad="' + "p" * 70 + '"'


def padded(document):
    """The document with PAD after the name of its first tag <a."""
    return "<a" + PAD + document[2:]


@pytest.mark.parametrize("long", [False, True], ids=["short", "long"])
@pytest.mark.parametrize("tag, attrs", ATTRIBUTE_CASES)
def test_attributes(tag, attrs, long):
    document = tag if tag.endswith("/>") else tag + "</a>"
    if long:
        document, attrs = padded(document), {"pad": "p" * 70, **attrs}
    assert read_string(document, "a").attrs == attrs


@pytest.mark.parametrize("at", range(0, 140, 9))
def test_long_values_are_decoded_wherever_their_references_stand(at):
    value = "v" * at + "&amp;\tx" + "w" * (140 - at)
    assert read_string(f'<a{PAD} b="{value}"/>', "a").attrs["b"] == "v" * at + "& x" + "w" * (140 - at)


def test_many_attributes():
    attrs = {f"k{i}": f"v{i}" for i in range(300)}
    document = "<a " + " ".join(f'{k}="{v}"' for k, v in attrs.items()) + "/>"
    assert read_string(document, "a").attrs == attrs


# The nodes are made bottom-up; a failure at any of them releases those
# made before it, whether a parent already holds them or not. Node memory
# fails on request only where it comes from the interpreter's allocator,
# which PYTHONMALLOC chooses, so the reads run in a child that sets it.
@pytest.mark.main_interpreter
def test_running_out_of_memory_while_making_the_nodes():
    (read_whole,) = run_child("""
        from support import NESTED, read_string, read_with_allocations_failing_from
        read_whole = 0
        for failing in range(7):
            try:
                tree = read_with_allocations_failing_from(failing, NESTED)
            except MemoryError:
                continue
            assert failing > 0, "the first allocation failing must fail the read"
            assert tree.to_dict() == read_string(NESTED, "r").to_dict()
            read_whole += 1
        assert [child.name for child in read_string(NESTED, "r").children] == ["x", "x", "y"]
        print(read_whole)
        """, cwd=os.path.dirname(os.path.abspath(__file__)), PYTHONMALLOC="malloc")
    assert int(read_whole) < 6


def test_attribute_names_repeated_across_a_document_are_found_and_checked_for_repeats():
    # More distinct names than a read keeps hashes for, in changing order, so
    # names meet again after others took their place.
    names = [f"n{i}" for i in range(150)] + ["x", "y" * 40, "\u00e9t\u00e9"]
    rows = []
    for row in range(40):
        picked = names[row % 7 :: 7]
        rows.append("<r " + " ".join(f'{name}="{row}"' for name in picked) + "/>")
    root = read_string("<t>" + "".join(rows) + "</t>", "t")
    for row, node in enumerate(root.children):
        picked = names[row % 7 :: 7]
        assert list(node.attrs) == picked
        assert [hit.attrs[picked[-1]] for hit in node.search_by_attr(picked[-1])] == [str(row)]
    # Repeated among few attributes, and among more than a small map holds.
    for between in (["n100"], names[100:110]):
        others = " ".join(f'{name}="2"' for name in between)
        duplicate = "<t>" + "".join(rows) + f'<r n3="1" {others} n3="3"/></t>'
        offset = duplicate.encode().rindex(b"n3=")
        assert read_error(read_string, duplicate, "t") == (
            f"malformed XML at byte {offset}: duplicate attribute 'n3'"
        )


ATTRIBUTE_ERRORS = [
    ('<a b="1"c="2"></a>', "malformed XML at byte 8: expected whitespace before attribute"),
    ('<a b="1"\x0bc="2"></a>', "malformed XML at byte 8: expected whitespace before attribute"),
    ('<a/b="1"></a>', "malformed XML at byte 2: expected whitespace before attribute"),
    ("<a b></a>", "malformed XML at byte 3: attribute 'b' has no value"),
    ("<a b ></a>", "malformed XML at byte 3: attribute 'b' has no value"),
    ("<a b c='1'></a>", "malformed XML at byte 3: attribute 'b' has no value"),
    ("<a b=1></a>", "malformed XML at byte 5: value of attribute 'b' is not quoted"),
    ("<a b=></a>", "malformed XML at byte 5: value of attribute 'b' is not quoted"),
    ("<a b= ></a>", "malformed XML at byte 6: value of attribute 'b' is not quoted"),
    ("<a b=/>", "malformed XML at byte 5: value of attribute 'b' is not quoted"),
    ('<a ="1"></a>', "malformed XML at byte 3: expected attribute name"),
    ('<a "1"></a>', "malformed XML at byte 3: expected attribute name"),
    ('<a b="x<y"></a>', "malformed XML at byte 7: '<' is not allowed in attribute values"),
    ('<a b="1" b="2"></a>', "malformed XML at byte 9: duplicate attribute 'b'"),
    ('<a b="1" c="2" b=\'1\'/>', "malformed XML at byte 15: duplicate attribute 'b'"),
    ('<a b="1></a>', "malformed XML at byte 6: unterminated attribute value"),
    # A value without its closing quote is unterminated even with a '<' in it.
    ('<a b="x<y></a>', "malformed XML at byte 6: unterminated attribute value"),
    # The '<' test comes before any reference in the value is decoded.
    ('<a b="&x;<"></a>', "malformed XML at byte 9: '<' is not allowed in attribute values"),
    ('<a b="x&amp;\t<"></a>', "malformed XML at byte 13: '<' is not allowed in attribute values"),
    ("<a b='x\"y' c=\"x'<\"/>", "malformed XML at byte 16: '<' is not allowed in attribute values"),
    ("< a></a>", "malformed XML at byte 0: expected element name after '<'"),
    ("<></>", "malformed XML at byte 0: expected element name after '<'"),
    # The value is decoded before the name is checked for a repeat.
    ('<a b="1" b="&x;"/>', "unknown entity reference '&x;' at byte 12"),
    # Empty-element tags are parsed wherever they stand.
    ("<r><b x=1/></r>", "malformed XML at byte 8: value of attribute 'x' is not quoted"),
]


@pytest.mark.parametrize("document, message", ATTRIBUTE_ERRORS)
def test_attribute_errors(document, message):
    assert read_error(read_string, document, "a") == message


@pytest.mark.parametrize(
    "document, message",
    [case for case in ATTRIBUTE_ERRORS if case[0][:3] in ("<a ", "<a/", "<a\t")],
)
def test_attribute_errors_in_long_tags(document, message):
    def shifted(match):
        return f"byte {int(match.group(1)) + len(PAD)}"

    expected = re.sub(r"byte (\d+)", shifted, message)
    assert read_error(read_string, padded(document), "a") == expected


# --- structure errors -------------------------------------------------------------


@pytest.mark.parametrize(
    "document, root_tag, message",
    [
        ("<a></b>", "a", "malformed XML at byte 3: expected </a>, found </b>"),
        ("</a>", "a", "malformed XML at byte 0: unexpected end tag </a>"),
        ("<r></r></a>", "a", "malformed XML at byte 7: unexpected end tag </a>"),
        ("<r></x>", "a", "malformed XML at byte 3: expected </r>, found </x>"),
        ("<a><b></a>", "a", "malformed XML at byte 6: expected </b>, found </a>"),
        ("<\u00e9></a>", "\u00e9", "malformed XML at byte 4: expected </\u00e9>, found </a>"),
        ("<a><b>", "a", "unexpected end of document: <b> is never closed"),
        ("<a>", "a", "unexpected end of document: <a> is never closed"),
        ("<a></a x>", "a", "malformed XML at byte 3: malformed end tag </a>"),
        ("<r></r x><a/>", "a", "malformed XML at byte 3: malformed end tag </r>"),
        ("<a><!-- x", "a", "malformed XML at byte 9: unexpected end of document"),
        ("<a><?pi", "a", "malformed XML at byte 7: unexpected end of document"),
        ("<a><![CDATA[x]]", "a", "malformed XML at byte 15: unexpected end of document"),
        ("<a><?pi x", "a", "malformed XML at byte 3: unterminated processing instruction"),
        ("<a><![CDATA[xyz", "a", "malformed XML at byte 3: unterminated CDATA section"),
        ("<a/>", "x", "root tag <x> not found in document"),
        ("", "a", "root tag <a> not found in document"),
        ("no markup at all", "a", "root tag <a> not found in document"),
        ("<a/>", "", "root tag <> not found in document"),
        ("<A/>", "a", "root tag <a> not found in document"),
        ("<r><b x=1></b></r>", "q", "root tag <q> not found in document"),
        ("<a", "a", "malformed XML: Unclosed tag at byte 0"),
        ("<a/>text <", "a", "malformed XML: Unclosed tag at byte 9"),
        # The whole document is indexed before the walk stops at the root.
        ("<a>1</a><b", "a", "malformed XML: Unclosed tag at byte 8"),
        ("<a></a><!-- never closed", "a", "malformed XML at byte 24: unexpected end of document"),
    ],
)
def test_read_errors(document, root_tag, message):
    assert read_error(read_string, document, root_tag) == message


def test_root_tag_is_quoted_verbatim():
    assert read_error(read_string, "<a/>", "<&'\u00e9>") == "root tag <<&'\u00e9>> not found in document"


# --- read_file ----------------------------------------------------------------------


SAMPLE = '<?xml version="1.0"?>\n<r>\n  <a k="v" j=\'&#233;\'>t\u00e9xt &amp; more</a>\n  <b/>\n</r>\n'


@pytest.mark.parametrize("lead", [b"", b"\xef\xbb\xbf"], ids=["plain", "byte order mark"])
def test_read_file_reads_like_read_string(tmp_path, lead):
    path = tmp_path / "doc.xml"
    path.write_bytes(lead + SAMPLE.encode())
    for root_tag in ("r", "a", "b"):
        assert tree(read_file(str(path), root_tag)) == tree(read_string(SAMPLE, root_tag))


def test_read_file_reads_a_pipe_whose_size_is_unknown(tmp_path):
    # A pipe reports no size, so the buffer grows as the bytes come.
    document = "<r>" + "".join(f'<e i="{i}">{i} &amp; \u00e9</e>' for i in range(20_000)) + "</r>"
    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)

    def feed():
        with open(fifo, "w", encoding="utf-8") as pipe:
            pipe.write(document)

    feeder = threading.Thread(target=feed)
    feeder.start()
    try:
        read = read_file(str(fifo), "r")
    finally:
        feeder.join()
    assert tree(read) == tree(read_string(document, "r"))


def test_read_file_reports_read_errors_as_value_errors(tmp_path):
    path = tmp_path / "bad.xml"
    path.write_text("<r><a></r>", encoding="utf-8")
    assert read_error(read_file, str(path), "r") == "malformed XML at byte 6: expected </a>, found </r>"


@pytest.mark.parametrize(
    "document, root_tag, offset, position",
    [
        ("<a></b>", "a", 3, (1, 4)),
        ("<r>\n  <a>\n</r>", "r", 10, (3, 1)),
        # Columns count characters: these three take 9 bytes.
        ("<r>\u00e9\u20ac\U0001f600</b>", "r", 12, (1, 7)),
        ("<r>\n\u00e9&bogus;</r>", "r", 6, (2, 2)),
        ("<r/>\n<a", "r", 5, (2, 1)),
        ("<a>\n<!-- x", "a", 10, (2, 7)),
        ("<a/>", "x", None, None),
    ],
)
@pytest.mark.parametrize("from_file", [False, True], ids=["string", "file"])
def test_read_errors_carry_their_position(tmp_path, document, root_tag, offset, position, from_file):
    path = tmp_path / "doc.xml"
    path.write_text(document, encoding="utf-8")
    with pytest.raises(ValueError) as caught:
        read_file(str(path), root_tag) if from_file else read_string(document, root_tag)
    error = caught.value
    assert error.args == (read_error(read_string, document, root_tag),)
    if offset is None:
        assert not hasattr(error, "offset") and not hasattr(error, "position")
    else:
        assert f"byte {offset}" in str(error)
        assert (error.offset, (error.lineno, error.colno), error.position) == (offset, position, position)
    assert getattr(error, "filename", None) == (str(path) if from_file else None)


def test_read_file_of_an_empty_file(tmp_path):
    path = tmp_path / "empty.xml"
    path.write_bytes(b"")
    assert read_error(read_file, str(path), "r") == "root tag <r> not found in document"


@pytest.mark.parametrize(
    "make, exception, code",
    [
        (lambda tmp: tmp / "missing.xml", FileNotFoundError, 2),
        (lambda tmp: tmp, IsADirectoryError, 21),
        (lambda tmp: tmp / "missing" / "doc.xml", FileNotFoundError, 2),
        (lambda tmp: (tmp / "file").write_text("x") and tmp / "file" / "doc.xml", NotADirectoryError, 20),
    ],
)
def test_read_file_operating_system_errors(tmp_path, make, exception, code):
    path = make(tmp_path)
    with pytest.raises(OSError) as caught:
        read_file(str(path), "a")
    assert type(caught.value) is exception
    assert caught.value.errno == code and caught.value.filename is None
    assert str(caught.value) == f"{os.strerror(code)} (os error {code})"


def test_read_file_rejects_an_embedded_nul():
    with pytest.raises(OSError) as caught:
        read_file("doc\0.xml", "a")
    assert type(caught.value) is OSError


@pytest.mark.parametrize(
    "content",
    [
        b"<a>\xff</a>",
        b"<a>\xc0\xaf</a>",  # overlong '/'
        b"<a>\xe0\x80\xaf</a>",  # overlong, three bytes
        b"<a>\xed\xa0\x80</a>",  # surrogate
        b"<a>\xf4\x90\x80\x80</a>",  # above U+10FFFF
        b"<a>\xe2\x82</a>",  # truncated
        b"<a>\x80</a>",  # lone continuation byte
        b"<a>abcdefgh" * 3 + b"\xe9",  # invalid after a run of ASCII
    ],
)
def test_read_file_rejects_invalid_utf8(tmp_path, content):
    path = tmp_path / "latin1.xml"
    path.write_bytes(content)
    with pytest.raises(OSError) as caught:
        read_file(str(path), "a")
    assert type(caught.value) is OSError
    assert str(caught.value) == "stream did not contain valid UTF-8"
    assert caught.value.errno is None


def test_read_file_accepts_every_utf8_length(tmp_path):
    text = "a\u00e9\u20ac\U0001f600\u07ff\uffff\U0010ffff"
    path = tmp_path / "utf8.xml"
    path.write_text(f"<a>{text}</a>", encoding="utf-8")
    assert read_file(str(path), "a").text == text
