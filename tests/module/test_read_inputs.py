"""What documents come in besides a str: bytes and other buffers, paths of
every kind, file objects, and encodings other than UTF-8, with the errors
each bad input gets."""

import _thread
import array
import codecs
import gc
import io
import mmap
import os
import pathlib
import sys
import threading

import pytest

from quorvane import read_bytes, read_file, read_string
from support import shape

DOCUMENT = '<r a="é€"><x>ü &amp; ß</x><y/></r>'


# --- buffers ----------------------------------------------------------------------


def test_bytes_are_read_in_place_and_kept_alive_by_the_tree():
    data = DOCUMENT.encode() + b" " * 64
    before = sys.getrefcount(data)
    tree = read_bytes(data, "r")
    assert sys.getrefcount(data) > before
    del tree
    gc.collect()
    assert sys.getrefcount(data) == before


@pytest.mark.parametrize("make", [
    bytearray,
    memoryview,
    lambda data: array.array("B", data),
    lambda data: memoryview(bytes(b for c in data for b in (c, 0)))[::2],
    lambda data: memoryview(bytearray(data)).cast("c"),
], ids=["bytearray", "memoryview", "array", "strided", "cast"])
def test_any_buffer_reads_as_its_bytes_copied_once(make):
    data = DOCUMENT.encode()
    buffer = make(data)
    tree = read_bytes(buffer, "r")
    assert shape(tree) == shape(read_string(DOCUMENT, "r"))
    # The tree holds its own copy: the buffer may change afterwards.
    if isinstance(buffer, bytearray):
        buffer[1:2] = b"q"
    assert tree.name == "r" and tree.children[0].text == "ü & ß"


def test_an_mmap_reads_as_its_bytes(tmp_path):
    path = tmp_path / "doc.xml"
    path.write_bytes(DOCUMENT.encode())
    with open(path, "rb") as file, mmap.mmap(file.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        tree = read_bytes(mapped, "r")
    assert shape(tree) == shape(read_string(DOCUMENT, "r"))


def test_a_bytearray_changed_by_another_thread_reads_as_one_of_its_states():
    # Each read copies the buffer while no Python code runs, so it sees the
    # document whole, in one state or the other, and a resize meanwhile is
    # refused to the other thread rather than pulled from under the read.
    states = [b"<r><a>one</a></r>", b"<r><b>second state</b><c/></r>"]
    buffer = bytearray(states[0])
    stop = threading.Event()

    def change():
        i = 0
        while not stop.is_set():
            i += 1
            try:
                buffer[:] = states[i % 2]
            except BufferError:
                pass

    changer = threading.Thread(target=change)
    changer.start()
    try:
        seen = {tuple(child.name for child in read_bytes(buffer, "r").children) for _ in range(3000)}
    finally:
        stop.set()
        changer.join()
    assert seen <= {("a",), ("b", "c")}


# --- encodings --------------------------------------------------------------------


def declared(encoding):
    return f'<?xml version="1.0" encoding="{encoding}"?>'


JAPANESE = '<r a="日本"><x>東京 &amp; 大阪</x><y/></r>'


@pytest.mark.parametrize("encoding, name, text", [
    ("utf-8-sig", None, DOCUMENT),
    ("utf-16-le", None, DOCUMENT),
    ("utf-16-be", None, DOCUMENT),
    ("utf-32-be", None, DOCUMENT),
    ("utf-16", None, DOCUMENT),
    ("utf-32", None, DOCUMENT),
    ("utf-16-le", "UTF-16", DOCUMENT),
    ("utf-16-be", "utf-16be", DOCUMENT),
    ("utf-32-le", "UTF-32LE", DOCUMENT),
    ("iso-8859-15", "ISO-8859-15", DOCUMENT),
    ("cp1252", "windows-1252", DOCUMENT),
    ("utf-8", "utf_8", DOCUMENT),
    ("shift_jis", "Shift_JIS", JAPANESE),
])
def test_encodings_are_found_from_the_mark_and_the_declaration(tmp_path, encoding, name, text):
    if name:
        text = declared(name) + text
    data = text.encode(encoding)
    if encoding == "utf-16-be" and name:
        data = codecs.BOM_UTF16_BE + data
    expected = shape(read_string(text, "r"))
    assert shape(read_bytes(data, "r")) == expected
    path = tmp_path / "doc.xml"
    path.write_bytes(data)
    assert shape(read_file(path, "r")) == expected


def test_ascii_is_read_in_place_and_checked():
    assert read_bytes((declared("US-ASCII") + "<r>plain</r>").encode(), "r").text == "plain"
    with pytest.raises(ValueError, match=r"^malformed XML at byte 41: byte 0xC3 does not fit the declared "
                                         r"encoding 'ascii'$") as caught:
        read_bytes((declared("ascii") + "<r>é</r>").encode(), "r")
    assert caught.value.offset == 41


def test_a_str_ignores_its_declaration():
    assert read_string(declared("UTF-16") + "<r>é</r>", "r").text == "é"


@pytest.mark.parametrize("data, message", [
    (b"<r>\xff</r>", r"^malformed XML at byte 3: invalid UTF-8$"),
    (b"<r>ok\xe2\x82</r>", r"^malformed XML at byte 5: invalid UTF-8$"),
    (declared("klingon").encode() + b"<r/>", r"^unknown encoding 'klingon' declared by the document$"),
    (declared("rot13").encode() + b"<r/>",
     r"^the document declares the encoding 'rot-13', which is not an encoding of text$"),
    (declared("utf-16").encode() + b"<r/>",
     r"^the document declares the encoding 'utf-16', but its first bytes are ASCII-compatible$"),
    (codecs.BOM_UTF8 + declared("latin-1").encode() + b"<r/>",
     r"^the document declares the encoding 'latin-1', but its first bytes are UTF-8 with a byte-order mark$"),
    ((declared("utf-8") + "<r/>").encode("utf-16"),
     r"^the document declares the encoding 'utf-8', but its first bytes are UTF-16, little-endian$"),
    ((declared("utf-16le") + "<r/>").encode("utf-16-be"),
     r"^the document declares the encoding 'utf-16le', but its first bytes are UTF-16, big-endian$"),
    ("<r/>".encode("utf-16")[:-1], r"^the document's bytes do not fit its encoding 'utf-16-le': truncated data "
                                   r"at byte 8$"),
    (declared("cp1252").encode() + b"<r>\x81</r>",
     r"^the document's bytes do not fit its encoding 'cp1252': character maps to <undefined> at byte 42$"),
], ids=["invalid utf-8", "cut utf-8", "unknown", "not text", "ascii bytes declared utf-16", "mark against declaration",
        "utf-16 declared utf-8", "wrong byte order", "odd-length utf-16", "undefined in cp1252"])
def test_bytes_that_do_not_fit_their_encoding_are_value_errors(data, message):
    with pytest.raises(ValueError, match=message):
        read_bytes(data, "r")


def test_offsets_of_a_decoded_document_are_into_its_utf8_text():
    with pytest.raises(ValueError) as caught:
        read_bytes((declared("utf-16") + "<r>é<x></r>").encode("utf-16"), "r")
    # The declaration takes 39 bytes and "<r>é<x>" 8 more, é two of them.
    assert "at byte 47" in str(caught.value) and caught.value.offset == 47


def test_a_file_that_is_not_utf8_keeps_its_input_output_error(tmp_path):
    path = tmp_path / "bad.xml"
    path.write_bytes(b"<r>\xff</r>")
    with pytest.raises(OSError, match="^stream did not contain valid UTF-8$"):
        read_file(path, "r")
    path.write_bytes(declared("cp1252").encode() + b"<r>\x81</r>")
    with pytest.raises(ValueError, match="do not fit its encoding 'cp1252'") as caught:
        read_file(str(path), "r")
    assert caught.value.filename == str(path)


# --- paths and file objects -------------------------------------------------------------


@pytest.mark.parametrize("open_as", [
    str,
    os.fsencode,
    pathlib.Path,
    lambda path: open(path, "rb"),
    lambda path: open(path, encoding="utf-8"),
    lambda path: io.BytesIO(pathlib.Path(path).read_bytes()),
    lambda path: io.StringIO(pathlib.Path(path).read_text(encoding="utf-8")),
    lambda path: io.BufferedReader(io.FileIO(path)),
], ids=["str", "bytes", "Path", "binary file", "text file", "BytesIO", "StringIO", "raw reader"])
def test_read_file_takes_every_kind_of_path_and_file_object(tmp_path, open_as):
    path = tmp_path / "doc.xml"
    path.write_text(DOCUMENT, encoding="utf-8")
    source = open_as(str(path))
    try:
        assert shape(read_file(source, "r")) == shape(read_string(DOCUMENT, "r"))
    finally:
        if hasattr(source, "close"):
            source.close()


class Pieces:
    """A file object whose read(size) gives the pieces it was made with, one a call."""

    def __init__(self, *pieces):
        self.pieces = list(pieces)
        self.sizes = []

    def read(self, size):
        self.sizes.append(size)
        return self.pieces.pop(0) if self.pieces else self.pieces_end

    pieces_end = b""


class TextPieces(Pieces):
    pieces_end = ""


@pytest.mark.parametrize("stream", [
    Pieces(*(bytes([b]) for b in DOCUMENT.encode())),
    Pieces(DOCUMENT.encode()[:5], bytearray(DOCUMENT.encode()[5:9]), memoryview(DOCUMENT.encode()[9:])),
    TextPieces(*DOCUMENT),
    Pieces(*(bytes([b]) for b in DOCUMENT.encode("utf-16"))),
], ids=["bytes a byte at a time", "buffers of every kind", "str a character at a time", "utf-16 a byte at a time"])
def test_a_stream_is_read_to_its_end_whatever_its_pieces(stream):
    assert shape(read_file(stream, "r")) == shape(read_string(DOCUMENT, "r"))
    assert all(size > 0 for size in stream.sizes)


def test_a_document_read_in_one_piece_of_bytes_is_kept_in_place():
    data = DOCUMENT.encode()
    before = sys.getrefcount(data)
    tree = read_file(Pieces(data), "r")
    assert sys.getrefcount(data) > before
    del tree


class Failing:
    def __init__(self, result):
        self.result = result

    def read(self, size):
        if isinstance(self.result, BaseException):
            raise self.result
        return self.result


@pytest.mark.parametrize("stream, exception, message", [
    (Failing(OSError(5, "device gone")), OSError, r"device gone"),
    (Failing(42), TypeError, r"^read\(\) returned 'int', not bytes or str$"),
    (Failing(None), TypeError, r"^read\(\) returned 'NoneType', not bytes or str$"),
    (Pieces(b"<r>", "</r>"), TypeError, r"^read\(\) returned both bytes and str$"),
    (object(), TypeError, r"^'object' object is not an instance of 'str, bytes, os.PathLike or file object'\n"),
])
def test_a_stream_that_fails_or_gives_neither_bytes_nor_str(stream, exception, message):
    with pytest.raises(exception, match=message) as caught:
        read_file(stream, "r")
    if isinstance(stream, Failing) and isinstance(stream.result, BaseException):
        assert caught.value is stream.result


class Endless:
    """A stream that never ends, where Ctrl-C comes during its third read:
    from inside the read, as a timer's would arrive late on a loaded machine."""

    def __init__(self):
        self.reads = 0

    def read(self, size):
        self.reads += 1
        if self.reads == 3:
            _thread.interrupt_main()
        return b"<r>" + b"x" * (size - 3)


@pytest.mark.main_interpreter
def test_ctrl_c_ends_the_read_of_a_stream_that_never_ends():
    stream = Endless()
    with pytest.raises(KeyboardInterrupt):
        read_file(stream, "r")
    assert stream.reads == 3
