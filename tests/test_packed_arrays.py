"""Arrays of integers read into Python lists exactly, whatever width they pack to."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from brindle import dumps, parse

EDGES = [0, 127, 128, -128, -129, 32767, 32768, -32768, -32769,
         2**31 - 1, 2**31, -(2**31), -(2**31) - 1, 2**63 - 1, -(2**63) + 1]


def source_of(items):
    return "k = [" + ", ".join(str(i) for i in items) + "]\n"


@pytest.mark.parametrize("items", [
    [], [1], EDGES, [1] * 30 + [300], [5] * 9 + [-(2**40)] + [7] * 20,
    list(range(-50, 5000)), [1, 2, 3, 40000, 5] * 200,
])
def test_integer_arrays_read_back(items):
    config = parse(source_of(items)).config
    assert config == {"k": items}
    assert all(type(i) is int for i in config["k"])
    assert parse(dumps(config)).config == config


@pytest.mark.parametrize("text, value", [
    ("[1, 2, \"a\"]", [1, 2, "a"]),
    ("[1, 2.5]", [1, 2.5]),
    ("[1, [2, 300], []]", [1, [2, 300], []]),
    ("[300, true, null]", [300, True, None]),
    ("[1,\n  2,\n  -70000]", [1, 2, -70000]),
])
def test_mixed_and_nested_arrays(text, value):
    assert parse(f"k = {text}\n").config == {"k": value}


@settings(max_examples=200, deadline=None)
@given(st.lists(st.integers(min_value=-(2**63) + 1, max_value=2**63 - 1), max_size=60))
def test_any_integers_read_back(items):
    assert parse(source_of(items)).config == {"k": items}
