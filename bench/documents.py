"""The documents the benchmarks read: the generated ones are the profile
training's (tools/training_documents.py); and a count of a tree's nodes."""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from training_documents import (  # noqa: E402, F401
    DOCUMENTS, NON_ASCII_WORDS, WORDS, fresh, locale_like, record_like, small_document)


def node_count(tree):
    """The nodes of a quorvane tree, each place a shared node stands counted."""
    total, stack = 0, [tree]
    while stack:
        current = stack.pop()
        total += 1
        stack.extend(current.children)
    return total
