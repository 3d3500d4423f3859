"""Fast XML reading into immutable nodes, with search, dict conversion and writing."""

from collections.abc import Sequence
from typing import Any, ClassVar, TypedDict, final

__all__ = ["SearchType", "Node", "read_file", "read_string", "write_file", "write_string"]

@final
class SearchType:
    """What a search compares: element names, attribute keys or texts."""

    Tag: ClassVar[SearchType]
    Attr: ClassVar[SearchType]
    Text: ClassVar[SearchType]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __int__(self) -> int: ...
    def __eq__(self, value: object, /) -> bool: ...
    def __ne__(self, value: object, /) -> bool: ...

class _NodeDict(TypedDict):
    """The dictionary form of a node, as to_dict makes it and from_dict takes it."""

    name: str
    attrs: dict[str, str]
    children: list[_NodeDict]
    text: str | None

@final
class Node:
    """One XML element; immutable, with children shared rather than copied."""

    def __new__(
        cls,
        name: str,
        attrs: dict[str, str] | None = None,
        children: Sequence[Node] | None = None,
        text: str | None = None,
    ) -> Node: ...
    @property
    def name(self) -> str: ...
    @property
    def attrs(self) -> dict[str, str]: ...
    @property
    def children(self) -> list[Node]:
        """Children are shared references to the same nodes, not copies."""
    @property
    def text(self) -> str | None: ...
    def __to_string(self, spacing: int | None = None) -> str: ...
    def search_by_name(self, name: str, depth: int | None = None) -> list[Node]: ...
    def search_by_attr(self, key: str, depth: int | None = None) -> list[Node]: ...
    def search_by_text(self, text: str, depth: int | None = None) -> list[Node]: ...
    def search(self, by: SearchType, value: str, depth: int | None = None) -> list[Node]: ...
    @classmethod
    def from_dict(cls, dict_: dict[str, Any]) -> Node: ...
    def to_dict(self) -> _NodeDict: ...

def read_file(file_path: str, root_tag: str) -> Node: ...
def read_string(xml_string: str, root_tag: str) -> Node: ...
def write_file(node: Node, file_path: str, indent: int | None = None, default_xml_def: bool | None = None) -> None: ...
def write_string(node: Node, indent: int | None = None, default_xml_def: bool | None = None) -> str: ...
