"""Mutated documents (truncated, flipped, with markup bytes inserted, very
long names, very many attributes) either read or raise ValueError in one of
the reader's message forms; run in a child process, which must not die."""

import os
import subprocess
import sys
import textwrap

PROPERTY = textwrap.dedent(r'''
    import re
    from hypothesis import given, settings, strategies as st, HealthCheck
    import quorvane

    FORMS = [re.compile(pattern, re.S) for pattern in (
        r"malformed XML: Unclosed tag at byte \d+",
        r"malformed XML at byte \d+: .+",
        r"root tag <.*> not found in document",
        r"unexpected end of document: <.*> is never closed",
        r"unknown entity reference '&.*;' at byte \d+",
    )]
    SEEDS = [
        '<?xml version="1.0"?><r a="1" b=\'2\'><!-- c --><x>t &amp; u</x><![CDATA[<y>]]><z/>'
        '<?pi data?><w k="&lt;&#65;&#x42;">text</w></r>',
        "<r>" + "".join(f'<e i="{i}">{i}</e>' for i in range(30)) + "</r>",
        "<r " + " ".join(f'a{i}="{i}"' for i in range(40)) + "/>",
        '<r><' + "n" * 300 + ' v="x"/></r>',
        '<r q="' + '"' * 20 + '"/>',
    ]
    PIECES = ["<", ">", "&", '"', "'", "]]>", "</", "/>", "<!--", "-->", "<![CDATA[", "&#", ";",
              "=", " ", "\n", "é", "\u2028", "n" * 200, " a=''" * 50]

    def check(document):
        try:
            tree = quorvane.read_string(document, "r")
        except ValueError as error:
            message = str(error)
            assert any(form.fullmatch(message) for form in FORMS), message
            return
        assert tree.name == "r"
        tree.to_dict(), str(tree)
        try:
            quorvane.write_string(tree)
        except ValueError as error:
            # A name the reader takes but that written would turn into markup.
            assert str(error).startswith(("cannot write element name ",
                                          "cannot write attribute name ")), str(error)

    @st.composite
    def mutated(draw):
        document = draw(st.sampled_from(SEEDS))
        for _ in range(draw(st.integers(1, 4))):
            at = draw(st.integers(0, len(document)))
            action = draw(st.sampled_from(["cut", "flip", "insert", "delete"]))
            if action == "cut":
                document = document[:at]
            elif action == "flip" and at < len(document):
                document = document[:at] + chr(draw(st.integers(1, 0x7F))) + document[at + 1:]
            elif action == "insert":
                document = document[:at] + draw(st.sampled_from(PIECES)) + document[at:]
            else:
                document = document[:at] + document[at + draw(st.integers(1, 8)):]
        return document

    @settings(max_examples=3000, deadline=None, database=None,
              suppress_health_check=list(HealthCheck))
    @given(mutated())
    def property_holds(document):
        check(document)

    property_holds()
    for seed in SEEDS:
        for end in range(len(seed) + 1):
            check(seed[:end])
    print("ok")
''')


def test_mutated_documents_read_or_fail_with_a_reader_message():
    completed = subprocess.run([sys.executable, "-c", PROPERTY], capture_output=True, text=True,
                               env=os.environ.copy(), timeout=900)
    assert completed.returncode == 0, completed.stderr[-3000:]
    assert completed.stdout.split() == ["ok"]
