"""Properties over generated input: parse never crashes, dumps reads back."""

import math

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from brindle import BrindleDocument, BrindleError, dumps, parse

SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])

# Fragments of the language, so that generated text reaches past the lexer.
FRAGMENTS = st.sampled_from(
    [
        "[", "]", "[vars]", "[a.b]", '"', "#", "#{", "}#", "=", " = ", "@", "@min: ", "@tag: a=b",
        "@enum: [a, b]", "(", ")", ",", "$", "$ENV.", "$NOW", "$x", "??", "+", "-", "*", "/",
        "1", "0x1f", "1.5e3", "_", "true", "null", "\n", "\r\n", " ", "\t", "é", "\u2028",
        "key", "\\", '\\"', "\x00",
    ]
)  # fmt: skip
SOURCES = st.one_of(
    st.text(max_size=200),
    st.lists(st.one_of(FRAGMENTS, st.text(max_size=5)), max_size=60).map("".join),
)


@SETTINGS
@given(SOURCES)
def test_parse_returns_a_document_or_raises_a_brindle_error(source):
    try:
        doc = parse(source)
    except BrindleError as error:
        assert len(error.args) == 1 and isinstance(error.args[0], str)
        assert error.lineno >= 1 and error.colno >= 1
        return
    assert isinstance(doc, BrindleDocument)
    # Every query works on whatever came out.
    assert list(doc) == doc.keys() == list(doc.config) and all(key in doc for key in doc)
    for path, annotations in doc.meta.items():
        assert doc.annotations(path) == annotations
        doc.tags(path)
    doc.vars, doc.required_keys(), doc.deprecated_keys(), repr(doc)
    assert dumps(doc).endswith("\n")


# Values the text form carries exactly. Keys are bare keys (written
# unquoted); strings avoid the double quote, which the expression splitter
# does not take as escaped.
KEYS = st.text(
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-", min_size=1, max_size=8
).filter(lambda k: k != "vars")
NUMBERS = st.integers(-(2**63) + 1, 2**63 - 1) | st.floats(allow_nan=False, allow_infinity=False)
TEXTS = st.text(st.characters(blacklist_characters='"', blacklist_categories=("Cs",)), max_size=20)
SCALARS = st.none() | st.booleans() | NUMBERS | TEXTS
VALUES = st.recursive(
    SCALARS, lambda items: st.lists(items, max_size=4) | st.dictionaries(KEYS, items, max_size=4), max_leaves=20
)
DOCUMENTS = st.dictionaries(KEYS, VALUES, max_size=6)


def same(a, b):
    """Equality that also tells bools, ints and floats apart, and -0.0 from 0.0."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(map(same, a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def bytewise(value):
    if isinstance(value, dict):
        return {k: bytewise(value[k]) for k in sorted(value, key=str.encode)}
    return [bytewise(v) for v in value] if isinstance(value, list) else value


@SETTINGS
@given(DOCUMENTS)
def test_dumps_reads_back(data):
    text = dumps(data)
    doc = parse(text)
    assert same(doc.config, bytewise(data))
    assert dumps(doc) == text
    assert dumps(dict(reversed(list(data.items())))) == text  # insertion order is irrelevant
