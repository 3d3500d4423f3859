"""The work a profile-guided build is optimised for. The build runs it
against an instrumented module it made first (CMakeLists.txt,
QUORVANE_PROFILE_GUIDED), and the counts it leaves steer the optimisation
of the module that is installed: which branches are likely, which calls
are inlined, how the hot loops are laid out.

Reading dominates: many small documents of several shapes (records with
attributes, messages without, locale-like text that is mostly not ASCII),
from fresh strs and by path, some trees held; and a large document of each
generated kind the benchmarks use, read and written. Search, dicts and the
outline run a little, so their paths are laid out from use too. None of
the real documents the benchmarks read is used.

    PYTHONPATH=<instrumented build> python3 tools/profile_training.py
"""

import os
import random
import tempfile

import quorvane
from training_documents import DOCUMENTS, NON_ASCII_WORDS, WORDS, fresh, locale_like, small_document

ROUNDS = 3


def small_documents(rng, count):
    documents = []
    for i in range(count):
        size = rng.choice((1_000, 4_000, 16_000, 48_000))
        if i % 3 == 0:
            documents.append((locale_like(rng, size), "ldml"))
        else:
            attributes = i % 3 == 1
            words = NON_ASCII_WORDS if i % 4 == 0 else WORDS
            documents.append((small_document(rng, size, attributes, words),
                              "cfg" if attributes else "msg"))
    return documents


def main():
    rng = random.Random(7)
    small = small_documents(rng, 240)
    large = [(make(4_000_000), root) for make, root in DOCUMENTS.values()]
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for i, (text, root) in enumerate(small):
            path = os.path.join(folder, f"{i}.xml")
            with open(path, "w", encoding="utf-8") as f:
                f.write(text)
            paths.append((path, root))
        for _ in range(ROUNDS):
            for text, root in small:
                quorvane.read_string(fresh(text), root)
            for path, root in paths:
                quorvane.read_file(path, root)
            held = [quorvane.read_string(fresh(text), root) for text, root in small]
            for text, root in large:
                quorvane.write_string(quorvane.read_string(fresh(text), root))
        for tree in held[:40]:
            tree.search_by_name("item")
            tree.search_by_attr("type")
            tree.search_by_text("none")
            quorvane.Node.from_dict(tree.to_dict())
            quorvane.write_string(tree)
            str(tree)
        quorvane.write_file(held[0], os.path.join(folder, "written.xml"))


if __name__ == "__main__":
    main()
