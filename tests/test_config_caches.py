"""`.config` against the data a document was written from, where the caches of
the conversion could go wrong: keys that differ in one byte, more keys than
the key cache keeps, big dicts, dicts with the same keys (copied from one
another), nested arrays, and every kind of value.

The expectation is the written data itself with each dict in byte-wise key
order, compared strictly: types, key order, the sign of zero and nan."""

import math
import string

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from brindle import dumps, parse


def in_key_order(value):
    if isinstance(value, dict):
        return {k: in_key_order(value[k]) for k in sorted(value, key=lambda k: k.encode())}
    if isinstance(value, list):
        return [in_key_order(v) for v in value]
    return value


def strict_difference(got, want, path="$"):
    """Where `got` differs from `want` (None when it does not): == would take True
    for 1, 1.0 for 1, -0.0 for 0.0 and ignore key order."""
    if type(got) is not type(want):
        return f"{path}: {got!r:.40} is not {want!r:.40}"
    if isinstance(want, dict):
        if list(got) != list(want):
            return f"{path}: keys {list(got)[:6]}... are not {list(want)[:6]}..."
        return next((d for k in want if (d := strict_difference(got[k], want[k], f"{path}.{k}"))), None)
    if isinstance(want, list):
        if len(got) != len(want):
            return f"{path}: {len(got)} items, not {len(want)}"
        return next((d for i, (g, w) in enumerate(zip(got, want)) if (d := strict_difference(g, w, f"{path}[{i}]"))),
                    None)
    if isinstance(want, float) and math.isnan(want):
        return None if math.isnan(got) else f"{path}: {got!r} is not nan"
    if got != want or (isinstance(want, float) and math.copysign(1, got) != math.copysign(1, want)):
        return f"{path}: {got!r:.40} is not {want!r:.40}"
    return None


def containers(value):
    if isinstance(value, (dict, list)):
        yield value
        for item in value.values() if isinstance(value, dict) else value:
            yield from containers(item)


def check_config(data):
    """The config of `dumps(data)` is `data` in key order, and every dict and
    list in it is an object of its own, however much was copied or cached."""
    want = in_key_order(data)
    doc = parse(dumps(data))
    config = doc.config
    assert strict_difference(config, want) is None, strict_difference(config, want)
    made = list(containers(config))
    assert len({id(c) for c in made}) == len(made) == len(list(containers(want)))
    return doc, config


def one_byte_apart(length):
    """Keys of `length` bytes differing from a base key (and from each other)
    in exactly one byte, at every position."""
    base = "".join(string.ascii_lowercase[i % 26] for i in range(length))
    return [base] + [base[:i] + "Z" + base[i + 1:] for i in range(length)]


# Each length around the words the key hash and the comparison read (4, 8, 16
# bytes at a time, the last ones overlapping) and past the longest cached key.
@pytest.mark.parametrize("length", [1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 23, 24, 25, 63, 64, 65])
def test_keys_one_byte_apart_keep_their_own_names_and_values(length):
    base, *variants = one_byte_apart(length)
    data = {}
    for i, key in enumerate(variants):
        # Two dicts converted one after the other, alike (same size, first and
        # last key) but for one byte of one key: the second may not be a copy.
        for half, name in (("a", base), ("b", key)):
            data[f"p{i:03d}{half}"] = {"0first": i, name: half, "zzzz_last": [i], **{f"m{j}": j for j in range(4)}}
    # And each key alone in a dict of its own, through the key cache only.
    data.update({f"t{i}": {k: i} for i, k in enumerate([base, *variants])})
    check_config(data)


def test_dicts_alike_but_for_one_middle_key_byte():
    # Same size, same first and last key: only a byte in the middle tells them apart.
    middle = one_byte_apart(9)
    data = {f"s{i}": {"a_first": i, key: [i], "z_last": str(i), **{f"m{j}": j for j in range(6)}}
            for i, key in enumerate(middle * 2)}
    check_config(data)


@pytest.mark.parametrize("sections, width", [
    (5, 2500),   # wider than the key cache's first table and than its old fixed size
    (3, 9000),   # one shape far bigger than Python's first dict table
])
def test_big_dicts_with_the_same_keys(sections, width):
    data = {f"section_{s:06d}": {f"key_{k:05d}": (k * 7919 + s if k % 3 == 0 else f"v{s}.{k}" if k % 3 == 1
                                                  else k % 2 == 0) for k in range(width)}
            for s in range(sections)}
    check_config(data)


def test_more_distinct_keys_than_the_key_cache_keeps():
    # 40 000 keys met once fill the key cache; keys met again after that, and
    # keys never met before, still convert to themselves.
    data = {f"once_{i // 500:03d}": {f"k{i:06d}": i for i in range(i, i + 500)} for i in range(0, 40_000, 500)}
    data.update({f"again_{n}": {"k000001": n, "k039999": -n, "fresh_key": [n]} for n in range(3)})
    check_config(data)


def test_each_config_is_made_afresh():
    data = {f"s{i}": {k: i for k in "abcdefgh"} for i in range(4)}
    doc, first = check_config(data)
    for section in first.values():  # nothing built for one config is reused by the next
        section.clear()
        section["x"] = None
    assert strict_difference(doc.config, in_key_order(data)) is None


# ---- generated documents ---------------------------------------------------------

SCALARS = (st.integers(-(2**63), 2**63 - 1) | st.sampled_from([0, -5, 256, 257, 2**30 - 1, 2**30, -(2**30)])
           | st.floats(allow_nan=True) | st.booleans() | st.none()
           | st.text(max_size=20) | st.sampled_from(["", "x" * 14, "x" * 15, "é", "日本", "a\\b\"c"]))

# Few key names and few key sets, so that generated dicts often share keys
# (or all but one), and key sets of every size around the copied ones.
NAMES = st.sampled_from(["a", "b", "id", "name", "é", "key_0001", "key_0002", "long_key_" + "x" * 60, "k"])
KEY_SETS = st.sampled_from([list("abcdef"), list("abcdefg"), list("abxyef"), list("ab"), list("abcdefghij")]) | st.lists(
    NAMES, min_size=1, max_size=9, unique=True)


def dicts(values):
    return st.builds(lambda keys, items: dict(zip(keys, items)), KEY_SETS, st.lists(values, min_size=10, max_size=10))


VALUES = st.recursive(SCALARS, lambda inner: st.lists(inner, max_size=6) | dicts(inner), max_leaves=12)


@settings(max_examples=80, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(dicts(VALUES), min_size=1, max_size=8))
def test_generated_documents_convert_to_their_data(sections):
    check_config({f"section_{i}": section for i, section in enumerate(sections)})
