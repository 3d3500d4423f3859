"""write_string and write_file: binding and conversion, the exact text
(declaration, indentation, escaping), the file sink and its failures."""

import os
import signal
import threading

import pytest
from hypothesis import given, settings, strategies as st

from quorvane import Node, read_string, write_file, write_string
from support import Index, examples

DECLARATION = '<?xml version="1.0" encoding="utf-8"?>\n'


def bare(node, indent=None):
    return write_string(node, indent, False)


# --- conversion of the arguments ------------------------------------------------

N = Node("n")


def numpy_like(name, truth=None, module="numpy"):
    """An instance of a class that looks like numpy's boolean by name."""
    members = {"__module__": module}
    if truth is not None:
        members["__bool__"] = lambda self: truth
    return type(name, (), members)()


@pytest.mark.parametrize(
    "call, exception, message, argument",
    [
        (lambda: write_string(5), TypeError, "'int' object is not an instance of 'Node'", "node"),
        (lambda: write_string(None), TypeError, "'None' is not an instance of 'Node'", "node"),
        (lambda: write_string(N, indent=-1), OverflowError, None, "indent"),
        (lambda: write_string(N, indent=2**64), OverflowError, None, "indent"),
        (lambda: write_string(N, indent="2"), TypeError, None, "indent"),
        (lambda: write_string(N, indent=2.0), TypeError, None, "indent"),
        (lambda: write_string(N, default_xml_def=1), TypeError, "'int' object is not an instance of 'bool'",
         "default_xml_def"),
        (lambda: write_string(N, default_xml_def=0), TypeError, "'int' object is not an instance of 'bool'",
         "default_xml_def"),
        (lambda: write_string(N, default_xml_def="yes"), TypeError, "'str' object is not an instance of 'bool'",
         "default_xml_def"),
        (lambda: write_string(N, default_xml_def=numpy_like("bool_", True, module="other")), TypeError,
         "'bool_' object is not an instance of 'bool'", "default_xml_def"),
        (lambda: write_string(N, default_xml_def=numpy_like("bool_")), TypeError,
         "object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion", "default_xml_def"),
        (lambda: write_file(N, "\ud800"), UnicodeEncodeError, None, "file_path"),
        # The first failing parameter is reported; the later ones are not looked at.
        (lambda: write_file(5, 5, indent=-1), TypeError, "'int' object is not an instance of 'Node'", "node"),
        (lambda: write_file(N, 5, indent=-1), TypeError,
         "'int' object is not an instance of 'str, bytes, os.PathLike or file object'", "file_path"),
        (lambda: write_string(N, -1, 1), OverflowError, None, "indent"),
    ],
)
def test_conversion_errors_carry_the_argument_note(call, exception, message, argument):
    with pytest.raises(exception) as caught:
        call()
    if message is not None:
        assert str(caught.value) == message
    assert caught.value.__notes__ == [f"while processing '{argument}'"]


@pytest.mark.parametrize("name, truth", [("bool_", True), ("bool_", False), ("bool", True), ("bool", False)])
def test_numpy_booleans_count_by_their_truth_value(name, truth):
    written = write_string(N, default_xml_def=numpy_like(name, truth))
    assert written == (DECLARATION if truth else "") + "<n/>"


def test_absent_and_none_arguments_take_the_defaults():
    tree = Node("a", children=[Node("b")])
    expected = DECLARATION + "<a>\n    <b/>\n</a>"
    assert write_string(tree) == expected
    assert write_string(tree, None, None) == expected
    assert write_string(node=tree, indent=None, default_xml_def=None) == expected
    assert write_string(tree, indent=Index(1), default_xml_def=False) == "<a>\n <b/>\n</a>"


# --- the text --------------------------------------------------------------------


def test_the_documented_example():
    root = Node("root", {"id": "1"}, [
        Node("item", text="one"),
        Node("empty"),
        Node("mixed", children=[Node("inner")], text="text"),
    ])
    assert write_string(root, indent=2).split("\n") == [
        '<?xml version="1.0" encoding="utf-8"?>',
        '<root id="1">',
        "  <item>one</item>",
        "  <empty/>",
        "  <mixed>text<inner/>",
        "  </mixed>",
        "</root>",
    ]


@pytest.mark.parametrize(
    "node, indent, expected",
    [
        (Node("a"), None, "<a/>"),
        (Node("a", text=""), None, "<a></a>"),
        (Node("a", text="t"), None, "<a>t</a>"),
        (Node("a", {"k": "v"}), None, '<a k="v"/>'),
        (Node("a", {"k": ""}, text=""), None, '<a k=""></a>'),
        # An empty text still counts as text: the child follows it on the same line.
        (Node("a", children=[Node("b")], text=""), 2, "<a><b/>\n</a>"),
        (Node("a", children=[Node("b"), Node("c", text="x")], text="t"), 2, "<a>t<b/>\n  <c>x</c>\n</a>"),
        (Node("a", children=[Node("b", children=[Node("c", children=[Node("d")])])]), 3,
         "<a>\n   <b>\n      <c>\n         <d/>\n      </c>\n   </b>\n</a>"),
        (Node("a", children=[Node("b", children=[Node("c")])]), 0, "<a>\n<b>\n<c/>\n</b>\n</a>"),
        (Node("a", children=[Node("b", children=[Node("c")], text="t")], text="u"), 1, "<a>u<b>t<c/>\n </b>\n</a>"),
        # Names are written as they are, unescaped, XML names or not.
        (Node("1é:", {"k;": "1"}), None, '<1é: k;="1"/>'),
        # Tags longer than the room the writer reserves at once are written in pieces.
        pytest.param(Node("n" * 5000, children=[Node("b")]), 1, f"<{'n' * 5000}>\n <b/>\n</{'n' * 5000}>",
                     id="long-name-children"),
        pytest.param(Node("n" * 5000, text="t"), 1, f"<{'n' * 5000}>t</{'n' * 5000}>", id="long-name-text"),
    ],
)
def test_layout(node, indent, expected):
    assert bare(node, indent) == expected


def test_a_shared_subtree_is_written_at_the_depth_of_each_place():
    leaf = Node("l")
    pair = Node("p", children=[leaf, leaf])
    tree = Node("r", children=[pair, Node("q", children=[pair])])
    assert bare(tree, 2) == (
        "<r>\n  <p>\n    <l/>\n    <l/>\n  </p>\n  <q>\n    <p>\n      <l/>\n      <l/>\n    </p>\n  </q>\n</r>"
    )


@pytest.mark.parametrize("size", [4_097, 100_000, 262_144, 262_145])
def test_long_built_texts_around_the_copy_block_sizes(size):
    # Strings built with Node are copied while detaching: one longer than the
    # block being filled, but not long enough for a block of its own, must
    # still get room for all its bytes.
    text, value = "t" * size, "v" * (size // 2)
    node = Node("a", {"k": value}, [Node("b", text="short")], text)
    assert write_string(node, 0, False) == f'<a k="{value}">{text}<b>short</b>\n</a>'


def test_attributes_are_written_in_the_order_attrs_lists_them():
    attrs = {f"k{i}": str(i) for i in range(40)}
    for node in (Node("a", attrs), read_string("<a " + " ".join(f'k{i}="{i}"' for i in range(40)) + "/>", "a")):
        assert bare(node) == "<a " + " ".join(f'{k}="{v}"' for k, v in node.attrs.items()) + "/>"


# --- names -----------------------------------------------------------------------

NAME_BREAKERS = "\t\n\f\r <>&\"'=/"
ELEMENT_REFUSED = "a name cannot hold white space or any of < > & \" ' = /"


@pytest.mark.parametrize(
    "tree, message",
    [
        (Node("a><script", text="t"), f"cannot write element name 'a><script': {ELEMENT_REFUSED}"),
        (Node(""), "cannot write element name '': a name cannot be empty"),
        (Node("!--x"), "cannot write element name '!--x': an element name cannot start with ! or ?"),
        (Node("?x"), "cannot write element name '?x': an element name cannot start with ! or ?"),
        (Node("p", attrs={'k="x" onload': "v"}),
         f"cannot write attribute name 'k=\"x\" onload' of element 'p': {ELEMENT_REFUSED}"),
        (Node("p", attrs={"": "v"}), "cannot write attribute name '' of element 'p': a name cannot be empty"),
        # Deep in a tree, and under a shared node: the first met in document order.
        (Node("r", children=[Node("ok"), Node("m", children=[Node("b c"), Node("d e")])]),
         f"cannot write element name 'b c': {ELEMENT_REFUSED}"),
    ],
)
def test_names_that_would_change_the_markup_are_refused_before_anything_is_written(tmp_path, tree, message):
    with pytest.raises(ValueError) as raised:
        write_string(tree)
    assert str(raised.value) == message
    path = tmp_path / "out.xml"
    with pytest.raises(ValueError, match="^cannot write"):
        write_file(tree, str(path))
    assert not path.exists()
    path.write_text("kept")
    with pytest.raises(ValueError, match="^cannot write"):
        write_file(tree, str(path))
    assert path.read_text() == "kept"


@pytest.mark.parametrize("breaker", NAME_BREAKERS)
@pytest.mark.parametrize("place", ["start", "middle", "end"])
def test_every_breaking_character_is_refused_anywhere_in_a_name(breaker, place):
    name = {"start": breaker + "ab", "middle": "a" + breaker + "b", "end": "ab" + breaker}[place]
    for tree in (Node(name), Node("p", attrs={name: "v"})):
        with pytest.raises(ValueError, match="a name cannot hold"):
            write_string(tree)


@settings(max_examples=examples(400), deadline=None)
@given(element=st.text(max_size=6), attribute=st.text(max_size=6))
def test_exactly_the_names_that_would_break_are_refused_and_the_rest_read_back(element, attribute):
    def breaks(name):
        return not name or any(c in NAME_BREAKERS for c in name)

    refused = breaks(element) or element[0] in "!?" or breaks(attribute)
    tree = Node("r", children=[Node(element, {attribute: "v"}, text="t")])
    try:
        written = write_string(tree)
    except ValueError:
        assert refused
        return
    assert not refused
    again = read_string(written, "r").children[0]
    assert (again.name, again.attrs, again.text) == (element, {attribute: "v"}, "t")


def test_written_names_read_back_whole_and_leave_the_markup_around_them_alone():
    """Names of other characters, XML names or not, are written; each reads
    back as that one name, and a strict tokenizer splits the markup around it
    as it would around any name, rejecting at most the name's own bytes."""
    import xml.parsers.expat

    alphabet = "a1:-._!?#;%[]()*+,\x0b\x00\u00a0\u2003\u00e9\U0001F600"
    names = [c + "n" for c in alphabet if c not in "!?"] + ["n" + c for c in alphabet]
    names += ["1", "-", ":", "n!--", "n]]", "n?", "\u00e9"]
    for name in names:
        tree = Node("r", children=[Node(name, {name: "v"}, text="t"), Node("z")])
        written = write_string(tree, 0, False)
        again = read_string(written, "r")
        assert again.children[0].name == name and again.children[0].attrs == {name: "v"}, repr(name)
        assert [child.name for child in again.children] == [name, "z"]
        events = []
        parser = xml.parsers.expat.ParserCreate()
        parser.StartElementHandler = lambda tag, attrs: events.append(("start", tag, attrs))
        parser.EndElementHandler = lambda tag: events.append(("end", tag))
        parser.CharacterDataHandler = lambda data: data.isspace() or events.append(("text", data))
        encoded = written.encode()
        try:
            parser.Parse(encoded, True)
        except xml.parsers.expat.ExpatError:
            # Only the name's own characters may be rejected: the error lies
            # inside the first place the name is written.
            first = encoded.index(name.encode())
            assert first <= parser.ErrorByteIndex < first + len(name.encode()), repr(name)
            continue
        assert events == [("start", "r", {}), ("start", name, {name: "v"}), ("text", "t"),
                          ("end", name), ("start", "z", {}), ("end", "z"), ("end", "r")], repr(name)


@pytest.mark.parametrize(
    "raw, in_text, in_value",
    [
        ('a<b & "c"', "a&lt;b &amp; &quot;c&quot;", "a&lt;b &amp; &quot;c&quot;"),
        ("it's>", "it&apos;s&gt;", "it&apos;s&gt;"),
        ("&amp;", "&amp;amp;", "&amp;amp;"),
        ("<<>>", "&lt;&lt;&gt;&gt;", "&lt;&lt;&gt;&gt;"),
        ("tab\tcr\rlf\n", "tab\tcr\rlf\n", "tab&#9;cr&#13;lf&#10;"),
        ("\u00e9\u65e5\x00\x0b\x0c\U0001F600",) * 3,
        ("", "", ""),
        # Long runs cross the scan's 16-byte blocks at every offset.
        ("x" * 15 + "&" + "y" * 16 + "<" + "z" * 31 + "'",
         *["x" * 15 + "&amp;" + "y" * 16 + "&lt;" + "z" * 31 + "&apos;"] * 2),
        ("\t" * 17 + "\n" + "v" * 20, "\t" * 17 + "\n" + "v" * 20, "&#9;" * 17 + "&#10;" + "v" * 20),
    ],
)
def test_escaping(raw, in_text, in_value):
    assert bare(Node("a", text=raw)) == f"<a>{in_text}</a>"
    assert bare(Node("a", {"k": raw})) == f'<a k="{in_value}"/>'


# A tree read from ASCII text is written to a str without a look at the
# text, unless a string that is not ASCII joins it: wherever it stands, from
# another document, and however short, at any place in a word.
@pytest.mark.parametrize("place", ["name", "key", "value", "text", "other document"])
def test_a_string_that_is_not_ascii_joins_a_tree_read_from_ascii(place):
    read = read_string('<r a="1">t<c>u</c></r>', "r")
    if place == "other document":
        extra = read_string("<o>\u00e9</o>", "o")
    else:
        extra = Node("\u00e9" if place == "name" else "n",
                     {"\u00e9" if place == "key" else "k": "\u00e9" if place == "value" else "v"},
                     text="\u00e9" if place == "text" else None)
    written = write_string(Node("w", children=[read, extra]))
    assert written.count("\u00e9") == 1
    assert len(written.encode()) == len(written) + 1


@pytest.mark.parametrize("length", [1, 7, 8, 9, 15, 16, 17, 64, 65])
def test_a_short_string_that_is_not_ascii_anywhere(length):
    for at in range(length):
        text = "x" * at + "\u00e9" + "y" * (length - at - 1)
        assert bare(Node("a", {"k": text})) == f'<a k="{text}"/>'


def test_every_replaced_character_at_every_offset_of_a_scan_block():
    for char, text_form, attribute_form in [("&", "&amp;", "&amp;"), ("<", "&lt;", "&lt;"), (">", "&gt;", "&gt;"),
                                            ('"', "&quot;", "&quot;"), ("'", "&apos;", "&apos;"),
                                            ("\t", "\t", "&#9;"), ("\r", "\r", "&#13;"), ("\n", "\n", "&#10;")]:
        # Short texts are loaded in pieces of 1, 4 and 8 bytes.
        for length in (1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 34):
            for offset in range(length):
                raw = "." * offset + char + "." * (length - 1 - offset)
                node = Node("a", {"k": raw}, text=raw)
                expected_text = raw.replace(char, text_form)
                expected_value = raw.replace(char, attribute_form)
                assert bare(node) == f'<a k="{expected_value}">{expected_text}</a>'


def test_escaping_of_a_read_document_with_references():
    node = read_string('<a v="&lt;&#10;&quot;">x &amp; &#39;y&#39;</a>', "a")
    assert bare(node) == '<a v="&lt;&#10;&quot;">x &amp; &apos;y&apos;</a>'


def test_the_text_of_a_subtree_read_from_a_larger_document():
    document = "<doc><skip/><keep k='1'>t<inner>u</inner></keep></doc>"
    node = read_string(document, "keep")
    del document
    assert bare(node, 2) == '<keep k="1">t<inner>u</inner>\n</keep>'


# --- write_file --------------------------------------------------------------------


def wide_document(count):
    return Node("root", {"n": str(count)}, [
        Node("item", {"i": str(i), "q": 'a"b'}, text=f"value {i} & more \u00e9") for i in range(count)
    ])


@pytest.mark.parametrize("indent, declaration", [(None, None), (0, False), (7, True)])
def test_a_file_holds_what_write_string_returns(tmp_path, indent, declaration):
    path = tmp_path / "out.xml"
    path.write_bytes(b"x" * 100_000)
    tree = wide_document(30)
    assert write_file(tree, str(path), indent, declaration) is None
    assert path.read_bytes() == write_string(tree, indent, declaration).encode()


@pytest.mark.parametrize("text_size", [8191, 8192, 8193, 100_000])
def test_large_documents_and_texts_larger_than_the_buffer(tmp_path, text_size):
    path = tmp_path / "out.xml"
    tree = Node("r", children=[wide_document(3000), Node("big", {"v": "\n" * text_size}, text="&" * text_size),
                               Node("tail", text="x" * text_size)])
    write_file(tree, str(path))
    assert path.read_bytes() == write_string(tree).encode()


def test_a_missing_directory_is_not_found_and_nothing_is_created(tmp_path):
    path = tmp_path / "missing" / "out.xml"
    with pytest.raises(FileNotFoundError) as caught:
        write_file(N, str(path))
    assert caught.value.errno == 2 and caught.value.filename is None
    assert str(caught.value).endswith(" (os error 2)")
    assert not (tmp_path / "missing").exists()


def test_a_directory_cannot_be_written(tmp_path):
    with pytest.raises(IsADirectoryError) as caught:
        write_file(N, str(tmp_path))
    assert str(caught.value).endswith(" (os error 21)")


def test_a_path_with_a_nul_byte_is_refused(tmp_path):
    with pytest.raises(OSError) as caught:
        write_file(N, str(tmp_path / "a\0b"))
    assert str(caught.value) == "file name contained an unexpected NUL byte"


@pytest.mark.skipif(not os.path.exists("/dev/full"), reason="needs /dev/full")
@pytest.mark.parametrize("count", [1, 5000])
def test_a_failing_device_reports_the_systems_error(count):
    # A small document fails in the final flush, a large one on the way.
    with pytest.raises(OSError) as caught:
        write_file(wide_document(count), "/dev/full")
    assert type(caught.value) is OSError
    assert str(caught.value).endswith(" (os error 28)")


def test_a_pipe_whose_reader_has_gone_is_a_broken_pipe(tmp_path):
    # More than the pipe holds, so some write comes after the reader closed.
    fifo = str(tmp_path / "pipe")
    os.mkfifo(fifo)
    reader = threading.Thread(target=lambda: open(fifo, "rb").close())
    reader.start()
    try:
        with pytest.raises(BrokenPipeError) as caught:
            write_file(wide_document(20_000), fifo)
    finally:
        reader.join()
    assert str(caught.value).endswith(" (os error 32)")


@pytest.mark.main_interpreter
def test_interrupted_writes_are_retried(tmp_path):
    """A pipe whose reader is slow blocks the writer, and a timer signal
    interrupts the blocked writes; the reader still gets every byte."""
    fifo = str(tmp_path / "pipe")
    os.mkfifo(fifo)
    tree = wide_document(20_000)
    expected = write_string(tree).encode()
    received = []

    def read_slowly():
        with open(fifo, "rb") as pipe:
            while chunk := pipe.read(4096):
                received.append(chunk)
                if len(received) % 64 == 0:
                    threading.Event().wait(0.002)

    interrupts = []
    previous = signal.signal(signal.SIGALRM, lambda *_: interrupts.append(1))
    reader = threading.Thread(target=read_slowly)
    reader.start()
    signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
    try:
        write_file(tree, fifo)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
        reader.join()
    assert interrupts
    assert b"".join(received) == expected


# --- the lock is released while writing ----------------------------------------------


def test_threads_write_the_same_tree_at_once():
    tree = wide_document(5000)
    expected = write_string(tree, 2)
    results = [None] * 4

    def work(slot):
        results[slot] = write_string(tree, 2)

    threads = [threading.Thread(target=work, args=(slot,)) for slot in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [expected] * 4


def test_the_written_tree_does_not_depend_on_nodes_dropped_after_the_call():
    document = "<r>" + "".join(f"<e a='{i}'>t{i}</e>" for i in range(1000)) + "</r>"
    tree = read_string(document, "r")
    expected = "<r>" + "".join(f'<e a="{i}">t{i}</e>' for i in range(1000)) + "</r>"
    del document
    written = write_string(tree, 0, False)
    del tree
    assert written.replace("\n", "") == expected


# --- running out of memory -------------------------------------------------------------


@pytest.mark.main_interpreter
@pytest.mark.parametrize("failing", range(4))
def test_running_out_of_memory_for_the_result_raises_memory_error(failing):
    testcapi = pytest.importorskip("_testcapi")
    tree = wide_document(200)
    expected = write_string(tree)
    testcapi.set_nomemory(failing, 0)
    try:
        written = write_string(tree)
    except MemoryError:
        written = None
    finally:
        testcapi.remove_mem_hooks()
    # The first allocation the call asks of the interpreter is the str's.
    assert written is None if failing == 0 else written in (None, expected)
    assert write_string(tree) == expected
