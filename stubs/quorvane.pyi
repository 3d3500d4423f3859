"""Fast XML reading into immutable nodes, with search, dict conversion and writing."""

from collections.abc import Buffer, Sequence
from os import PathLike
from typing import Any, ClassVar, Protocol, TypedDict, final, type_check_only

__all__ = ["SearchType", "Node", "read_file", "read_string", "write_file", "write_string", "read_bytes", "write_bytes"]

@final
class SearchType:
    """What a search compares: element names, attribute keys or texts.

    Members equal ints of their value but are not hashable; SearchType() cannot be called.
    """

    Tag: ClassVar[SearchType]
    """Element names (0)."""
    Attr: ClassVar[SearchType]
    """Attribute names, whatever the value (1)."""
    Text: ClassVar[SearchType]
    """Whole texts (2)."""
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __int__(self) -> int: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...

@type_check_only
class NodeDict(TypedDict):
    """The dict form of a node, as to_dict makes it and from_dict takes it.

    It exists for type checkers only: import it under typing.TYPE_CHECKING.
    """

    name: str
    attrs: dict[str, str]
    children: list[NodeDict]
    text: str | None

@final
class Node:
    """One XML element; immutable, with children shared rather than copied.

    Equal and hashed by identity. Raises TypeError (with a note naming the
    argument) for a name or text that is not a str, attrs that are not a dict of
    str to str, or children that are a str, not a sequence, or hold a non-Node.
    """

    def __new__(
        cls,
        name: str,
        attrs: dict[str, str] | None = None,
        children: Sequence[Node] | None = None,
        text: str | None = None,
    ) -> Node: ...
    @property
    def name(self) -> str:
        """The element name, as written (any prefix included)."""
    @property
    def attrs(self) -> dict[str, str]:
        """A new dict of the attributes, in document order (for a built node, the order given)."""
    @property
    def children(self) -> list[Node]:
        """Children are shared references to the same nodes, not copies."""
    @property
    def text(self) -> str | None:
        """The text, trimmed when read; None when there is none (never '' from XML)."""
    def __to_string(self, spacing: int | None = None) -> str:
        """The outline str() gives, every line of this node indented by spacing (0-255) spaces.

        Raises OverflowError outside 0-255.
        """
    def search_by_name(self, name: str, depth: int | None = None) -> list[Node]:
        """The nodes named name, this node included, in document order.

        depth 0 tests this node alone, k goes k levels down; None or negative: no limit.
        """
    def search_by_attr(self, key: str, depth: int | None = None) -> list[Node]:
        """The nodes with an attribute named key, this node included, in document order.

        depth as for search_by_name.
        """
    def search_by_text(self, text: str, depth: int | None = None) -> list[Node]:
        """The nodes whose text equals text exactly, this node included, in document order.

        depth as for search_by_name.
        """
    def search(self, by: SearchType, value: str, depth: int | None = None) -> list[Node]:
        """search_by_name, search_by_attr or search_by_text, as by selects.

        Raises TypeError when by is not a SearchType member.
        """
    @classmethod
    def from_dict(cls, dict_: NodeDict | dict[str, Any]) -> Node:
        """A new tree from a dict of the shape to_dict returns ("text" optional).

        The nodes keep the order of each "attrs" dict.

        Raises ValueError "Invalid name", "Invalid attrs" or "Invalid children" for
        a missing or wrong key, TypeError for values of the wrong type.
        """
    def to_dict(self) -> NodeDict:
        """The subtree as new dicts with keys name, attrs, children and text, attributes in order."""
    def __reduce__(self) -> tuple[Any, ...]:
        """The whole tree as one bytes object; shared nodes load as one object."""
    def __copy__(self) -> Node:
        """The node itself: nodes are immutable."""
    def __deepcopy__(self, memo: dict[int, Any], /) -> Node:
        """The node itself: nodes are immutable."""

@type_check_only
class _Readable(Protocol):
    """A file object read_file reads: its read(size) gives bytes (or another
    buffer) or str, and an empty one at the end."""

    def read(self, size: int, /) -> Buffer | str: ...

@type_check_only
class _Writable(Protocol):
    """A binary file object write_file writes to: write(bytes), whose result, if an
    int short of the length, is taken as a partial write."""

    def write(self, data: bytes, /) -> object: ...

def read_bytes(xml_bytes: Buffer, root_tag: str) -> Node:
    """Reads an XML document given as bytes and returns the first element named root_tag.

    A bytes object is read in place and kept alive by the tree; any other buffer
    (bytearray, memoryview, array, mmap) is copied once. The encoding is found as
    XML finds it: a byte-order mark (UTF-8, UTF-16, UTF-32), the first bytes of
    "<?xml" in UTF-16 or UTF-32, then the declaration's encoding; without either it
    is UTF-8. UTF-8 and ASCII are read in place; any other encoding Python's codecs
    know is decoded once into UTF-8, which the tree keeps.

    Raises ValueError for malformed XML or a missing root tag (as read_string, with
    byte offsets into the UTF-8 text), for bytes that are not UTF-8 or do not fit
    the declared encoding, for an encoding Python does not know, and for a
    declaration the first bytes contradict.
    """

def read_file(file_path: str | bytes | PathLike[str] | PathLike[bytes] | _Readable, root_tag: str) -> Node:
    """Reads the file at file_path, or a file object to its end, and returns the first
    element named root_tag.

    A file's encoding is found as read_bytes finds it. A binary file object is read
    as read_bytes reads what it gives, a text one (whose read() gives str) as
    read_string reads it.

    Raises ValueError for malformed XML or a missing root tag, with filename set for
    a path (and offset, lineno, colno and position as for read_string), or for bytes
    that do not fit the declared encoding; OSError (by the system's error, with errno
    set when the system gave one) when the file cannot be read, or its bytes, with
    no other encoding declared, are not UTF-8. An exception read() raises passes on.
    """

def read_string(xml_string: str, root_tag: str) -> Node:
    """Reads xml_string in place and returns the first element named root_tag.

    The tree keeps xml_string alive. Raises ValueError for malformed XML (with the
    byte offset in the message and as offset; lineno and colno, 1-based, columns
    in characters, and position = (lineno, colno)) or a missing root tag.
    """

def write_bytes(node: Node, indent: int | None = None, default_xml_def: bool | None = None) -> bytes:
    """The XML text of node as UTF-8 bytes: write_string(...).encode(), with no str made.

    Raises MemoryError when the text would not fit in memory.
    """

def write_file(
    node: Node,
    file_path: str | bytes | PathLike[str] | PathLike[bytes] | _Writable,
    indent: int | None = None,
    default_xml_def: bool | None = None,
) -> None:
    """Writes the XML text of node to file_path, or to a binary file object, as UTF-8,
    as write_string would make it.

    A file object's write() is called with each piece of bytes as it is made (64 KiB
    at most), so the whole text is never held. A file at file_path is truncated when
    opened: after a failure it keeps what was written before it.

    Raises OSError (by the system's error, with errno set) when the file cannot be
    written; an exception write() raises passes on unchanged.
    """

def write_string(node: Node, indent: int | None = None, default_xml_def: bool | None = None) -> str:
    """The XML text of node, indent spaces a level (None: 4), after the XML declaration
    unless default_xml_def is False.

    Raises MemoryError when the text would not fit in memory.
    """
