"""Seeds for the read fuzz targets: every string constant of the module's
tests that holds markup (the documents they read, malformed ones included),
the example documents, and small generated benchmark documents. Each seed is
one byte choosing the root tag (see fuzz_read.cpp) and then the document.

    python3 fuzz/make_seeds.py OUT_DIR
"""

import ast
import hashlib
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "bench"))
from documents import DOCUMENTS  # noqa: E402

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


def main():
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    count = 0
    for document in documents():
        try:
            data = bytes([root_pick(document)]) + document.encode("utf-8")
        except UnicodeEncodeError:
            continue  # lone surrogates: no str the module accepts holds them
        (out / hashlib.sha1(data).hexdigest()).write_bytes(data)
        count += 1
    print(f"{count} seeds in {out}")


if __name__ == "__main__":
    main()
