"""A user's script, checked by mypy --strict against the installed package:
it fails unless mypy finds the package's types, with no MYPYPATH."""

from typing import TYPE_CHECKING

import quorvane
from quorvane import Node, SearchType

if TYPE_CHECKING:
    from quorvane import NodeDict

book: Node = quorvane.read_string('<shelf><book id="7"><title>Dune</title></book></shelf>', "book")
name: str = book.name
attrs: dict[str, str] = book.attrs
text: str | None = book.children[0].text
titles: list[Node] = book.search(SearchType.Tag, "title")
written: str = quorvane.write_string(Node("item", attrs={"id": "1"}, text=text), indent=2)
quorvane.write_file(book, "/dev/null")
data: NodeDict = book.to_dict()
copy: Node = Node.from_dict(book.to_dict())
first: Node = Node.from_dict(data["children"][0])
