"""Hypothesis pieces of the differential tests: names, characters XML
allows in content, the white space the reader trims, and the text the
reader gives an element lxml parsed."""

from hypothesis import strategies as st

UNICODE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + \
    "\u2028\u2029\u202f\u205f\u3000"

NAME = st.from_regex(r"[A-Za-z_\u00c0-\u00d6][A-Za-z0-9_.\-\u00b7\u00c0-\u00d6\u4e00-\u4e05]{0,5}",
                     fullmatch=True)

# Characters XML allows in content; CR is left out of raw text because XML
# turns CR LF into LF there and the reader keeps it (it comes in through
# character references instead).
XML_CHARS = st.characters(
    codec="utf-8",
    exclude_categories=("Cs",),
    exclude_characters="\x00\x01\x02\x03\x04\x05\x06\x07\x08\x0b\x0c\x0e\x0f"
                       "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\ufffe\uffff",
) | st.sampled_from(" \t\n\u3000\xa0\x85\u2028\u200a\u200b")


def expected_text(element):
    """The text of an lxml element as the reader gives it: its text and the
    tails of its children joined, trimmed of Unicode white space, and None
    when nothing is left."""
    parts = [element.text or ""] + [child.tail or "" for child in element]
    return "".join(parts).strip(UNICODE_SPACE) or None
