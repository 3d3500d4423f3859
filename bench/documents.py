"""Generated benchmark documents, shared by the read benchmarks.

Each generator returns a str of at least `size` bytes of UTF-8 with one
document element; the content is deterministic so runs are comparable.
"""

import random

WORDS = ("alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta",
         "iota", "kappa", "lambda", "mu", "nu", "xi", "omicron", "pi", "rho")


def record_like(size):
    """Records with a few attributes and short text fields."""
    rng = random.Random(1)
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<catalog>\n']
    total = 0
    i = 0
    while total < size:
        w = rng.choice(WORDS)
        rec = (f'  <item id="{i}" kind="{w}" price="{rng.randint(1, 9999) / 100}">\n'
               f'    <name>{w.title()} {i}</name>\n'
               f'    <stock>{rng.randint(0, 500)}</stock>\n'
               f'    <note>{w} &amp; {rng.choice(WORDS)}</note>\n'
               f'  </item>\n')
        parts.append(rec)
        total += len(rec)
        i += 1
    parts.append('</catalog>\n')
    return "".join(parts)


def quote_dense(size):
    """Empty elements carrying many attributes: more than five double quotes
    per '<', so the index is built from bit masks."""
    rng = random.Random(2)
    parts = ['<rows>\n']
    total = 0
    i = 0
    while total < size:
        attrs = " ".join(f'c{k}="{rng.choice(WORDS)}{rng.randint(0, 99)}"' for k in range(8))
        row = f'  <row n="{i}" {attrs}/>\n'
        parts.append(row)
        total += len(row)
        i += 1
    parts.append('</rows>\n')
    return "".join(parts)


def text_heavy(size):
    """Paragraphs of prose with occasional inline markup and references."""
    rng = random.Random(3)
    parts = ['<book>\n']
    total = 0
    while total < size:
        sentence = " ".join(rng.choice(WORDS) for _ in range(200))
        para = (f'<p>{sentence} <em>{rng.choice(WORDS)}</em> {sentence[:400]} &lt;'
                f'{rng.choice(WORDS)}&gt; {sentence[:300]}</p>\n')
        parts.append(para)
        total += len(para)
    parts.append('</book>\n')
    return "".join(parts)


def deeply_nested(size, depth=200):
    """Chains of `depth` nested elements, each with a short text."""
    parts = ['<root>']
    total = 0
    chain_open = "".join(f'<n{d % 10} d="{d}">t{d}' for d in range(depth))
    chain_close = "".join(f'</n{d % 10}>' for d in reversed(range(depth)))
    while total < size:
        parts.append(chain_open)
        parts.append(chain_close)
        total += len(chain_open) + len(chain_close)
    parts.append('</root>')
    return "".join(parts)


DOCUMENTS = {
    "record-like": (record_like, "catalog"),
    "quote-dense": (quote_dense, "rows"),
    "text-heavy": (text_heavy, "book"),
    "deeply-nested": (deeply_nested, "root"),
}
