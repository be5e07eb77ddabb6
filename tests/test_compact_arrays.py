"""Short arrays of small items, nested or not, read into Python exactly.

Each generated value is written as source text and as the Python value it
must read back as (computed here from the same choices), so that every item
kind, width and nesting comes back with its exact type, through parse,
dumps and validation alike.
"""

import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from brindle import ParseError, dumps, parse, validate_all

INT_EDGES = [0, -16, -17, 111, 112, 127, 128, -128, -129, 32767, 32768, -32768, -32769,
             2**31 - 1, 2**31, -(2**31), -(2**31) - 1, 2**63 - 1, -(2**63) + 1]

# (source text, value) for the items a compact record can hold, and some it
# cannot (long strings, inline dicts), which keep the arrays holding them
# in another form.
SCALARS = (
    st.sampled_from(INT_EDGES).map(lambda i: (str(i), i))
    | st.integers(min_value=-(2**63) + 1, max_value=2**63 - 1).map(lambda i: (str(i), i))
    | st.sampled_from([("2.5", 2.5), ("-0.0", -0.0), ("0.0", 0.0), ("1e300", 1e300), ("-7.25", -7.25)])
    | st.sampled_from([("true", True), ("false", False), ("null", None)])
    | st.text(alphabet="abc xyz,[]#{}", max_size=20).map(lambda s: (f'"{s}"', s))
)


def arrays(children):
    return st.lists(children, max_size=10).map(
        lambda items: ("[" + ", ".join(t for t, _ in items) + "]", [v for _, v in items]))


def dicts(children):
    return st.lists(children, min_size=1, max_size=3).map(
        lambda items: ("#{ " + ", ".join(f"k{i} = {t}" for i, (t, _) in enumerate(items)) + " }#",
                       {f"k{i}": v for i, (_, v) in enumerate(items)}))


VALUES = st.recursive(SCALARS, lambda children: arrays(children) | dicts(children), max_leaves=40)
ARRAYS = arrays(VALUES)


def same(a, b):
    """Equal with exact types: True is not 1, 1.0 is not 1, -0.0 is not 0.0."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    return a == b


@settings(max_examples=300, deadline=None)
@given(ARRAYS)
def test_arrays_read_back_with_exact_types(array):
    text, value = array
    doc = parse(f"k = {text}\n")
    assert same(doc.config["k"], value)
    assert same(parse(dumps(doc.config)).config["k"], value)


def chain(levels, first):
    """`levels` arrays, each `[first, <next>]`, around ["x]\\"[", 2]."""
    text = '["x]\\"[", 2]'
    value = ["x]\"[", 2]
    for _ in range(levels - 1):
        text = f"[{first[0]}, {text}]"
        value = [first[1], value]
    return text, value


@pytest.mark.parametrize("levels", [1, 2, 8, 9, 127, 128])
@pytest.mark.parametrize("first", [("1", 1), ("-129", -129), ('"s"', "s"), ("true", True), ("2.5", 2.5),
                                   ("null", None), ("[]", [])])
def test_nested_chains_read_back(levels, first):
    text, value = chain(levels, first)
    doc = parse(f"@type: list\nk = {text}\n")
    assert same(doc.config["k"], value)
    assert validate_all(doc) == []
    assert same(parse(dumps(doc.config)).config["k"], value)


def test_one_level_past_the_limit_is_refused():
    text, _ = chain(129, ("1", 1))
    with pytest.raises(ParseError, match="nested too deeply"):
        parse(f"k = {text}\n")


@pytest.mark.parametrize("annotation, items, findings", [
    ("list[int]", "[1, \"a\"]", 1),
    ("list[string]", "[\"a\", \"b\"]", 0),
    ("list[string]", "[\"a\", 2]", 1),
    ("list[float]", "[1, 2.5]", 0),
    ("list[bool]", "[true, null]", 1),
    ("list[list]", "[[1, \"a\"], [true]]", 0),
])
def test_validation_reads_compact_items(annotation, items, findings):
    doc = parse(f"@type: {annotation}\nk = {items}\n")
    assert len(validate_all(doc)) == findings
