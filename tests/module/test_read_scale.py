"""Documents far deeper or wider than any native stack could follow by
recursion: each is read and released in a child process, so a crash shows
up as a failed exit instead of taking the test run down."""

import os

import pytest

from support import run_child


def test_a_million_nested_elements():
    out = run_child("""
        import quorvane
        n = 1_000_000
        document = "<e>" * n + "x" + "</e>" * n
        node = quorvane.read_string(document, "e")
        depth = 1
        while node.children:
            (node,) = node.children
            depth += 1
        print(depth, node.text)
        # The inner node keeps only itself alive; dropping the outer chain
        # and then it releases everything.
        del node
        node = quorvane.read_string(document, "e")
        del node
        print("released")
    """)
    assert out == ["1000000", "x", "released"]


def test_a_million_nested_elements_through_every_operation():
    out = run_child("""
        import pickle
        import quorvane
        from quorvane import Node, SearchType
        n = 1_000_000
        document = '<e k="v">' * n + "x" + "</e>" * n
        tree = quorvane.read_string(document, "e")
        del document
        print(len(tree.search_by_name("e")), len(tree.search(SearchType.Attr, "k", depth=10)))
        data = tree.to_dict()
        again = Node.from_dict(data)
        del data
        print(len(again.search_by_text("x")))
        outline = str(again)
        print(outline.count("Name: e") == n)
        del outline
        text = quorvane.write_string(again, 0, False)
        print(quorvane.read_string(text, "e").search_by_text("x")[0].attrs["k"])
        print(len(pickle.loads(pickle.dumps(tree)).search_by_name("e")))
        del tree, again, text
        print("released")
    """)
    assert out == ["1000000", "11", "1", "True", "v", "1000000", "released"]


def test_a_million_nested_elements_that_fail_to_close():
    out = run_child("""
        import quorvane
        n = 1_000_000
        try:
            quorvane.read_string("<e>" * n + "</e>" * (n - 1), "e")
        except ValueError as error:
            print(str(error).replace(" ", "_"))
    """)
    assert out == ["unexpected_end_of_document:_<e>_is_never_closed"]


@pytest.mark.skipif(bool(os.environ.get("QUORVANE_SANITIZED")), reason="too slow under the sanitizers")
def test_ten_million_siblings():
    out = run_child("""
        import quorvane
        n = 10_000_000
        root = quorvane.read_string("<r>" + "<s/>" * (n - 1) + "<s>last</s></r>", "r")
        children = root.children
        print(len(children), children[0].name, children[-1].text)
        del children, root
        print("released")
    """)
    assert out == ["10000000", "s", "last", "released"]
