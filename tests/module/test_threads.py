"""Eight threads read, search, convert, render, write and pickle the same
shared trees and drop what they make, while the main thread checks every
result against one computed on a single thread first."""

import os
import pickle
import queue
import random
import threading
import time

import quorvane
from quorvane import Node, SearchType

DOCUMENTS = [
    "<r>" + "".join(f'<e i="{i}" k="{seed}"><n>{seed}-{i} &amp; x</n><m/></e>' for i in range(n)) + "</r>"
    for seed, n in enumerate((1, 20, 300, 2000))
]
SECONDS = 2.0 if os.environ.get("QUORVANE_SANITIZED") else 3.0

OPERATIONS = {
    "read": lambda i, tree: quorvane.read_string(DOCUMENTS[i], "r").to_dict(),
    "search": lambda i, tree: [n.attrs["i"] for n in tree.search_by_name("e")],
    "search text": lambda i, tree: len(tree.search(SearchType.Text, f"{i}-0 & x")),
    "to_dict": lambda i, tree: tree.to_dict(),
    "from_dict": lambda i, tree: str(Node.from_dict(tree.to_dict())),
    "str": lambda i, tree: str(tree),
    "write": lambda i, tree: quorvane.write_string(tree, 2),
    "pickle": lambda i, tree: pickle.loads(pickle.dumps(tree)).to_dict(),
}


def test_eight_threads_share_trees_and_agree_with_one():
    trees = [quorvane.read_string(document, "r") for document in DOCUMENTS]
    expected = {(i, name): operation(i, trees[i])
                for i in range(len(DOCUMENTS)) for name, operation in OPERATIONS.items()}
    results = queue.Queue()
    deadline = time.monotonic() + SECONDS

    def work(seed):
        rng = random.Random(seed)
        try:
            while time.monotonic() < deadline:
                i = rng.randrange(len(DOCUMENTS))
                name = rng.choice(list(OPERATIONS))
                results.put((i, name, OPERATIONS[name](i, trees[i])))
        except BaseException as error:  # reported to the main thread
            results.put((None, None, error))

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(8)]
    for thread in threads:
        thread.start()
    checked = 0
    while any(thread.is_alive() for thread in threads) or not results.empty():
        try:
            i, name, value = results.get(timeout=0.1)
        except queue.Empty:
            continue
        assert not isinstance(value, BaseException), value
        assert value == expected[i, name], (i, name)
        checked += 1
    for thread in threads:
        thread.join()
    assert checked >= len(threads)
