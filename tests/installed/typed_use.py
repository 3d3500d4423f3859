"""A user's script, checked by mypy --strict against the installed package:
it fails unless mypy finds the package's types, with no MYPYPATH."""

import quorvane
from quorvane import Node, SearchType

book: Node = quorvane.read_string('<shelf><book id="7"><title>Dune</title></book></shelf>', "book")
name: str = book.name
attrs: dict[str, str] = book.attrs
text: str | None = book.children[0].text
titles: list[Node] = book.search(SearchType.Tag, "title")
written: str = quorvane.write_string(Node("item", attrs={"id": "1"}, text=text), indent=2)
quorvane.write_file(book, "/dev/null")
