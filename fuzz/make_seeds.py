"""Seeds for the read fuzz targets: every string constant of the module's
tests that holds markup (the documents they read, malformed ones included),
the example documents, and small generated benchmark documents. Each seed is
one byte choosing the root tag (see fuzz_read.cpp) and then the document.

    python3 fuzz/make_seeds.py OUT_DIR

With --pickled, seeds for fuzz_restore instead: the pickle state of trees
read from some of those documents and of built ones (shared nodes, empty and
non-ASCII strings, a deep chain), dumped by the built module, which must be
importable; and the damaged states the module's tests replay.

    python3 fuzz/make_seeds.py --pickled OUT_DIR
"""

import ast
import hashlib
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tools"))
from training_documents import DOCUMENTS  # noqa: E402

ROOT_TAGS = ["r", "a", "b", "root", "x:y", "é"]


def documents():
    for path in sorted((ROOT / "tests" / "module").glob("*.py")):
        for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
            if isinstance(node, ast.Constant) and isinstance(node.value, str) and "<" in node.value:
                yield node.value
    for path in sorted((ROOT / "examples").glob("*.xml")):
        yield path.read_text(encoding="utf-8")
    for make, _ in DOCUMENTS.values():
        yield make(3000)


def root_pick(document):
    """The root tag byte: the first element's name when it is one of the choices."""
    name = document.partition("<")[2].split(">")[0].split("/")[0].split(" ")[0]
    return ROOT_TAGS.index(name) if name in ROOT_TAGS else 0


def markup_seeds():
    for document in documents():
        try:
            yield bytes([root_pick(document)]) + document.encode("utf-8")
        except UnicodeEncodeError:
            continue  # lone surrogates: no str the module accepts holds them


def built_trees(Node):
    leaf = Node("item", {"id": "1", "é": "€"}, text="Dune")
    yield leaf
    yield Node("order", children=[leaf, leaf, Node("note", text="")])
    yield Node("x:y", {"a": "", "b": "<&>\"'"}, [Node("z", text=" \U0001F600 ")], "t")
    chain = Node("leaf")
    for depth in range(40):
        chain = Node("level", {"depth": str(depth)}, [chain])
    yield chain


def state_of(node):
    """The bytes pickle hands to quorvane._restore_node for `node`."""
    _, (state,) = node.__reduce__()
    return state


def pickled_seeds(limit=4096):
    import quorvane

    trees = list(built_trees(quorvane.Node))
    for document in documents():
        if len(trees) >= 40:
            break
        root = document.partition("<")[2].split(">")[0].split("/")[0].split(" ")[0]
        try:
            trees.append(quorvane.read_string(document, root))
        except ValueError:
            continue
    for tree in trees:
        state = state_of(tree)
        if len(state) <= limit:
            yield state
    for path in sorted((ROOT / "tests" / "module" / "repro").glob("pickled-state-*.bin")):
        yield path.read_bytes()


def main():
    pickled = sys.argv[1] == "--pickled"
    out = pathlib.Path(sys.argv[-1])
    out.mkdir(parents=True, exist_ok=True)
    count = 0
    for data in pickled_seeds() if pickled else markup_seeds():
        (out / hashlib.sha1(data).hexdigest()).write_bytes(data)
        count += 1
    print(f"{count} seeds in {out}")


if __name__ == "__main__":
    main()
