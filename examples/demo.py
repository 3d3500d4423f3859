"""A tour of quorvane: build a small tree and look at it."""

import quorvane
from quorvane import Node

print("quorvane exports:", ", ".join(quorvane.__all__))

item = Node("item", attrs={"id": "1", "kind": "book"}, text="Dune")
empty = Node("empty")
catalog = Node("catalog", attrs={"version": "2"}, children=[item, empty, item])

print("name:    ", catalog.name)
print("attrs:   ", catalog.attrs)
print("children:", catalog.children)
print("text:    ", catalog.text)
print("shared:  ", catalog.children[0] is catalog.children[2])

print()
print("search:   ", catalog.search_by_name("item"), catalog.search(quorvane.SearchType.Attr, "kind", depth=1))
print("to_dict:  ", item.to_dict())
print("from_dict:", Node.from_dict(catalog.to_dict()).children)
print("outline:")
print(catalog)
