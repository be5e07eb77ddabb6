"""Properties over generated input: parse never crashes, dumps reads back."""

import math
import string

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from brindle import BrindleDocument, BrindleError, dumps, parse, validate_all

SETTINGS = settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])

# Fragments of the language, so that generated text reaches past the lexer.
FRAGMENTS = st.sampled_from([
    "[", "]", "[vars]", "[a.b]", '"', "#", "#{", "}#", "=", " = ", "@", "@min: ", "@tag: a=b", "@enum: [a, b]",
    "(", ")", ",", "$", "$ENV.", "$NOW", "$x", "??", "+", "-", "*", "/", "1", "0x1f", "1.5e3", "_", "true", "null",
    "\n", "\r\n", " ", "\t", "é", "\u2028", "key", "\\", '\\"', "\x00",
])  # fmt: skip
SOURCES = st.text(max_size=200) | st.lists(FRAGMENTS | st.text(max_size=5), max_size=60).map("".join)


@SETTINGS
@given(SOURCES)
def test_parse_returns_a_document_or_raises_a_brindle_error(source):
    try:
        doc = parse(source)
    except BrindleError as error:
        assert len(error.args) == 1 and isinstance(error.args[0], str) and error.lineno >= 1 and error.colno >= 1
        return
    assert isinstance(doc, BrindleDocument)
    # Every query works on whatever came out.
    assert list(doc) == doc.keys() == list(doc.config) and all(key in doc for key in doc)
    for path, annotations in doc.meta.items():
        assert doc.annotations(path) == annotations
        assert all((path, value) in doc.keys_with_tag(name) for name, value in doc.tags(path).items())
    doc.vars, doc.required_keys(), doc.deprecated_keys(), repr(doc)
    assert dumps(doc).endswith("\n")


# Values the text form carries exactly: every 64-bit integer and every float
# (NaN and the infinities are written as divisions). Keys are bare keys
# (written unquoted); strings avoid the double quote (which needs the quote
# variable), so that other tests can edit what dumps writes line by line.
KEYS = st.text(string.ascii_letters + string.digits + "_-", min_size=1, max_size=8).filter(lambda k: k != "vars")
NUMBERS = st.integers(-(2**63), 2**63 - 1) | st.floats() | st.sampled_from([-(2**63), math.nan, math.inf, -math.inf])
TEXTS = st.text(st.characters(blacklist_characters='"', blacklist_categories=("Cs",)), max_size=20)
SCALARS = st.none() | st.booleans() | NUMBERS | TEXTS
VALUES = st.recursive(SCALARS, lambda items: st.lists(items, max_size=4) | st.dictionaries(KEYS, items, max_size=4))
DOCUMENTS = st.dictionaries(KEYS, VALUES, max_size=6)

# For the round trip: every text, and names of any characters. Names holding
# a line feed, and inline-dict keys holding a quote or a backslash where no
# section can hold them, are refused.
ANY_KEYS = st.text(st.characters(blacklist_categories=("Cs",)), max_size=8)
ANY_TEXTS = st.text(st.characters(blacklist_categories=("Cs",)), max_size=20) | st.sampled_from(['"', 'a"+b', '"-1"'])
ANY_VALUES = st.recursive(
    st.none() | st.booleans() | NUMBERS | ANY_TEXTS,
    lambda items: st.lists(items, max_size=4) | st.dictionaries(ANY_KEYS, items, max_size=4),
)
ANY_DOCUMENTS = st.dictionaries(ANY_KEYS, ANY_VALUES, max_size=6)


def refusable(value, inline=False):
    """True when a name holds a line feed, or a key that must be inline holds a quote or a backslash."""
    if isinstance(value, list):
        return any(refusable(item, True) for item in value)
    if isinstance(value, dict):
        return any(
            "\n" in key or (inline and ('"' in key or "\\" in key)) or refusable(child, inline or not key or "[" in key or "]" in key)
            for key, child in value.items()
        )
    return False


def typed(value, sort=False):
    """A form that tells bools, ints and floats apart, and -0.0 from 0.0, with every NaN alike; `sort` orders keys bytewise."""
    if isinstance(value, dict):
        return dict, [(key, typed(value[key], sort)) for key in (sorted(value, key=str.encode) if sort else value)]
    return (list, [typed(item, sort) for item in value]) if isinstance(value, list) else (type(value), repr(value))


@SETTINGS
@given(ANY_DOCUMENTS | DOCUMENTS)
def test_dumps_reads_back(data):
    try:
        text = dumps(data)
    except ValueError:
        assert refusable(data)
        return
    doc = parse(text)
    assert typed(doc.config) == typed(data, sort=True) and dumps(doc) == text
    assert dumps(dict(reversed(list(data.items())))) == text  # insertion order is irrelevant


# Annotation arguments that, written bare, would read back as something else
# (a list, a comment, a number, trimmed text) or not at all.
@pytest.mark.parametrize("annotation, value", [
    ('@pattern: "[abc]"', '"b"'), ('@pattern: "^#[0-9a-f]{6}$"', '"#00ff00"'), ('@enum: ["a#b", c]', '"a#b"'),
    ('@pattern: "# x"', '"# x"'), ('@enum: [" a", "5", "", "[x]"]', '" a"'), ('@deprecated: "  use y  "', "1"),
    ('@deprecated: "5"', "1"), ('@deprecated: "\"q\" # not a comment"', "1"), ("@min: 5.0", "5"), ("@max: -inf", "1"),
    ("@minlen: -9223372036854775808", '""'), ('@pattern: "^[a-z]+ #?$"', '"x #"'), ('@tag(a" #b)', "1"),
])
def test_annotation_arguments_survive_a_save(annotation, value):
    source = f"[s]\n{annotation}\nk = {value}\n@pattern: \"^#\"\nbad = \"x\"\n"
    doc = parse(source)
    again = parse(dumps(doc))
    assert again.meta == doc.meta and [a.arg for a in again.annotations("s.k")] == [a.arg for a in doc.annotations("s.k")]
    # Keys are written in byte order, so the findings come in another order.
    assert sorted(e.args for e in validate_all(again)) == sorted(e.args for e in validate_all(doc)) != []


# Long string values, past the lengths the core reads in blocks of 16 and 64
# bytes, with escapes dense or sparse and any characters between them: the
# value is the content with each escape replaced as the rules say (unknown
# escapes keep their backslash), and the str made of it is exact.
ESCAPES = {"\\n": "\n", "\\r": "\r", "\\t": "\t", '\\"': '"', "\\\\": "\\"}
STRING_PIECES = st.sampled_from([*ESCAPES, "\\q", "\\x", "\\0", "\\é"]) | st.text(
    st.characters(blacklist_characters='"\\+-*/#()[]{}\n\r', blacklist_categories=("Cs",)), max_size=40
)


def unescaped(content: str) -> str:
    out, i = [], 0
    while i < len(content):
        pair = content[i : i + 2]
        if pair in ESCAPES:
            out.append(ESCAPES[pair])
            i += 2
        else:
            out.append(content[i])
            i += 1
    return "".join(out)


@SETTINGS
@given(st.lists(STRING_PIECES, min_size=1, max_size=80).map("".join))
def test_long_strings_unescape_as_the_rules_say(content):
    source = f'k = "{content}"\n'
    assert parse(source).config == {"k": unescaped(content)}
    # The same text inside an array, and as one of many lines.
    assert parse(f'k = ["{content}", 1]\n').config == {"k": [unescaped(content), 1]}
    assert parse(source * 3 + f'j = "{content}"\n').config == {"k": unescaped(content), "j": unescaped(content)}
