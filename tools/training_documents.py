"""Generated documents: the work of the profile training
(profile_training.py), which the benchmarks read too (bench/common.py).
They live here so that the build depends on no benchmark file.

Each generator returns a str of at least `size` bytes of UTF-8 with one
document element; the content is deterministic so runs are comparable.
"""

import random

WORDS = ("alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "theta",
         "iota", "kappa", "lambda", "mu", "nu", "xi", "omicron", "pi", "rho")


def fresh(text):
    """An equal str that is a new object with no cached UTF-8 form, as a
    program reading files or the network gets one."""
    return (text + " ")[:-1]


def repeated(size, head, piece, tail):
    """`head`, then piece(0), piece(1), ... until they make `size` bytes, then `tail`."""
    parts = [head]
    total = 0
    i = 0
    while total < size:
        part = piece(i)
        parts.append(part)
        total += len(part)
        i += 1
    parts.append(tail)
    return "".join(parts)


def record_like(size):
    """Records with a few attributes and short text fields."""
    rng = random.Random(1)

    def record(i):
        w = rng.choice(WORDS)
        return (f'  <item id="{i}" kind="{w}" price="{rng.randint(1, 9999) / 100}">\n'
                f'    <name>{w.title()} {i}</name>\n'
                f'    <stock>{rng.randint(0, 500)}</stock>\n'
                f'    <note>{w} &amp; {rng.choice(WORDS)}</note>\n'
                f'  </item>\n')

    return repeated(size, '<?xml version="1.0" encoding="UTF-8"?>\n<catalog>\n', record,
                    '</catalog>\n')


def quote_dense(size):
    """Empty elements carrying many attributes: more than five double quotes
    per '<', so the index is built from bit masks."""
    rng = random.Random(2)

    def row(i):
        attrs = " ".join(f'c{k}="{rng.choice(WORDS)}{rng.randint(0, 99)}"' for k in range(8))
        return f'  <row n="{i}" {attrs}/>\n'

    return repeated(size, '<rows>\n', row, '</rows>\n')


def text_heavy(size):
    """Paragraphs of prose with occasional inline markup and references."""
    rng = random.Random(3)

    def paragraph(_):
        sentence = " ".join(rng.choice(WORDS) for _ in range(200))
        return (f'<p>{sentence} <em>{rng.choice(WORDS)}</em> {sentence[:400]} &lt;'
                f'{rng.choice(WORDS)}&gt; {sentence[:300]}</p>\n')

    return repeated(size, '<book>\n', paragraph, '</book>\n')


def deeply_nested(size, depth=200):
    """Chains of `depth` nested elements, each with a short text."""
    chain = ("".join(f'<n{d % 10} d="{d}">t{d}' for d in range(depth)) +
             "".join(f'</n{d % 10}>' for d in reversed(range(depth))))
    return repeated(size, '<root>', lambda _: chain, '</root>')


DOCUMENTS = {
    "record-like": (record_like, "catalog"),
    "quote-dense": (quote_dense, "rows"),
    "text-heavy": (text_heavy, "book"),
    "deeply-nested": (deeply_nested, "root"),
}


# Words of several scripts, for documents whose text is mostly not ASCII.
NON_ASCII_WORDS = ("Ελληνικά", "русский", "日本語", "中文", "한국어", "français", "Türkçe",
                   "العربية", "עברית", "हिन्दी", "ไทย", "Tiếng Việt", "čeština", "føroyskt")


def small_document(rng, size, attributes, words):
    """One document of about `size` bytes: a configuration-like record
    (attributes on most elements) or a message-like one (none)."""
    parts = ['<cfg version="1" id="%d">' % rng.randint(0, 9999) if attributes else "<msg>"]
    total = len(parts[0])
    i = 0
    while total < size:
        value = " ".join(rng.choice(words) for _ in range(rng.randint(1, 4)))
        if attributes:
            part = (f'<item key="k{i}" kind="{rng.choice(WORDS)}">{value}</item>' if i % 3
                    else f'<flag name="f{i}" on="{rng.choice(("true", "false"))}"/>')
        else:
            part = f"<field{i % 7}>{value}</field{i % 7}>"
        parts.append(part)
        total += len(part.encode())
        i += 1
    parts.append("</cfg>" if attributes else "</msg>")
    return "".join(parts)


def locale_like(rng, size):
    """A locale-data file: display names under type attributes, mostly non-ASCII text."""
    parts = ['<?xml version="1.0" encoding="UTF-8"?>\n<ldml>\n<identity><language type="xx"/>'
             "</identity>\n<localeDisplayNames>\n<languages>\n"]
    total = len(parts[0])
    i = 0
    while total < size:
        name = " ".join(rng.choice(NON_ASCII_WORDS) for _ in range(rng.randint(1, 3)))
        alt = ' alt="short"' if i % 11 == 0 else ""
        part = f'\t<language type="l{i:04d}"{alt}>{name}</language>\n'
        parts.append(part)
        total += len(part.encode())
        i += 1
    parts.append("</languages>\n</localeDisplayNames>\n</ldml>\n")
    return "".join(parts)

