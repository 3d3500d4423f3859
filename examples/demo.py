"""A tour of quorvane: read a document, look at it, search it, convert it, write it."""

import pathlib
import tempfile

import quorvane
from quorvane import Node, SearchType

print("quorvane exports:", ", ".join(quorvane.__all__))

# Reading: the first element with the given name, with its whole subtree.
sample = pathlib.Path(__file__).with_name("sample.xml")
library = quorvane.read_file(str(sample), "library")
print("\n--- the library as an outline ---")
print(library)

books = library.search_by_name("book")
print("--- search ---")
print("books:        ", [book.attrs["isbn"] for book in books])
print("in French:    ", [book.search_by_name("title")[0].text for book in books if book.attrs["lang"] == "fr"])
print("with a note:  ", library.search_by_text('Reprint; cover says "<Folio>".'))
print("shelves only: ", library.search(SearchType.Tag, "shelf", depth=1))

# read_string reads the caller's own string in place; nodes point into it.
first = quorvane.read_string(sample.read_text(encoding="utf-8"), "book")
print("\n--- to_dict of the first book ---")
print(first.to_dict())

# Building trees by hand: children are shared references, never copies.
item = Node("item", attrs={"id": "1", "kind": "book"}, text="Dune")
catalog = Node("catalog", attrs={"version": "2"}, children=[item, Node("empty"), item])
print("\n--- a hand-built tree ---")
print("children:     ", catalog.children, "shared:", catalog.children[0] is catalog.children[2])
copy = Node.from_dict(catalog.to_dict())
print("round trip:   ", copy.children, "shared after from_dict:", copy.children[0] is copy.children[2])
print(catalog.__to_string(2))
try:
    quorvane.read_string("<a><b></a>", "a")
except ValueError as error:
    print("\nmalformed input ->", error)

# Writing: the tree read above goes back out as indented XML, to a str or a file.
print("\n--- the first book written back, indent 2, no declaration ---")
print(quorvane.write_string(first, indent=2, default_xml_def=False))
with tempfile.TemporaryDirectory() as directory:
    path = pathlib.Path(directory) / "library.xml"
    quorvane.write_file(library, str(path))
    again = quorvane.read_file(str(path), "library")
    print("\nwrote", path.stat().st_size, "bytes; read back equal:", again.to_dict() == library.to_dict())
