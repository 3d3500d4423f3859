"""Documents dense with double quotes, which the reader indexes from bit masks.

A quote in character data must not change what such a document reads as:
the result equals the one for the same markup with few quotes.
"""

import pytest

from quorvane import read_string
from support import shape

# Eight quoted attributes per element: far more than five double quotes per
# '<', so the mask-driven index is chosen.
ROWS = 6
DENSE_ROWS = "".join('<x %s/>' % " ".join(f'a{i}="{i}"' for i in range(8)) for _ in range(ROWS))


def dense(document):
    """The document, after checking that its quote density selects the mask index."""
    sample = document[:4096]
    assert sample.count('"') / max(sample.count("<"), 1) > 5
    return document


@pytest.mark.parametrize(
    "body",
    [
        "<p>it's</p>",
        "<p>it's</p><q>and 'this'</q><r>one ' more</r>",
        '<p>a "quoted word</p><p>x</p>',
        "<!-- don't --><p>x</p>",
        "<![CDATA[it's <b>]]><p>x</p>",
        "<?pi it's?><p>x</p>",
    ],
)
def test_quotes_in_character_data_keep_the_markup(body):
    with_rows = read_string(dense(f"<root>{DENSE_ROWS}{body}</root>"), "root")
    without_rows = read_string(f"<root>{body}</root>", "root")
    assert shape(with_rows)[3][ROWS:] == shape(without_rows)[3]


def test_second_element_of_a_name_is_not_mistaken_for_the_first():
    document = dense(f"<doc>{DENSE_ROWS}<t>it's</t><root_tag n='1'/><root_tag n='2'/></doc>")
    assert read_string(document, "root_tag").attrs == {"n": "1"}


@pytest.mark.parametrize(
    "tail, message",
    [
        ("<!-- a > b", "unterminated comment"),
        ("<![CDATA[ a > b", "unterminated CDATA section"),
        ("<?pi a > b", "unterminated processing instruction"),
    ],
)
def test_unterminated_constructs_found_by_the_mask_index(tail, message):
    document = dense("<r>" + DENSE_ROWS + tail)
    with pytest.raises(ValueError) as info:
        read_string(document, "r")
    assert str(info.value) == f"malformed XML at byte {len('<r>' + DENSE_ROWS)}: {message}"


def test_final_lone_lt_is_an_unclosed_tag():
    document = dense("<r>" + DENSE_ROWS + "</r><")
    with pytest.raises(ValueError) as info:
        read_string(document, "r")
    assert str(info.value) == f"malformed XML: Unclosed tag at byte {len(document) - 1}"
