"""Conversion between Python objects and document values, in both directions."""

import collections
import functools
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from brindle import dumps, parse


def obj(name="Obj", module=__name__, **methods):
    return type(name, (), {"__module__": module, **methods})()


def numpy_like(name, truth=True, module="numpy", index=None):
    methods = {} if index is None else {"__index__": lambda self: index}
    return obj(name, module, __bool__=lambda self: truth, **methods)


FloatDict = type("FloatDict", (dict,), {"__float__": lambda self: 1.5})


@pytest.mark.parametrize("value, text", [
    (2**63 - 1, "9223372036854775807"), (2**63, "9223372036854775808.0"),
    (-(2**63), "-9223372036854775807 - 1"), (-(2**63) - 1, "-9223372036854775808.0"),
    (type("MyInt", (int,), {})(3), "3"), (type("MyList", (list,), {})([1, 2]), "[1, 2]"),
    (FloatDict(a=1), "1.5"),  # below the root, the numeric tests come before the dict test
    (obj(__index__=lambda self: 7), "7"), (obj(__float__=lambda self: 2.5), "2.5"),
    (obj(__index__=lambda self: 3, __float__=lambda self: 9.5), "3"),
    (obj(__index__=lambda self: 2**70), "1180591620717411303424.0"),
    (numpy_like("bool_"), "true"), (numpy_like("bool", truth=False), "false"),
    (numpy_like("bool_", index=5), "true"),  # the boolean test comes first
    (numpy_like("bool_", module="numpyish", index=5), "5"),
    (numpy_like("bool_", truth=1, index=6), "6"),  # __bool__ must give a bool
])
def test_scalar_classification(value, text):
    assert dumps({"k": value}) == f"k = {text}\n"


NO, SURROGATE = "unsupported value type for dumps: ", ".* surrogates not allowed"


@pytest.mark.parametrize("value, error, message", [
    (10**400, TypeError, NO + "int"), (obj("Inner", __qualname__="Outer.Inner"), TypeError, NO + "Outer.Inner"),
    (collections.UserList([1]), TypeError, NO + "UserList"), ([1, [2, (3,)]], TypeError, NO + "tuple"),
    ({"inner": {"deeper": {1}}}, TypeError, NO + "set"), ("\ud800", UnicodeEncodeError, SURROGATE),
    ([{None: 1}], TypeError, "dict keys must be str, not NoneType"), ({"\udfff": 1}, UnicodeEncodeError, SURROGATE),
])
def test_unconvertible_values(value, error, message):
    with pytest.raises(error, match=f"^{message}$"):
        dumps({"k": value})


def test_root_and_key_order():
    # Keys go out in byte order; the root is a table by definition, whatever else it could be.
    assert dumps({"b": 1, "a": [1, 2]}) == "a = [1, 2]\nb = 1\n" and dumps(FloatDict(a=1)) == "a = 1\n"
    with pytest.raises(TypeError, match="dict keys must be str, not int"):
        dumps({1: 1})


@pytest.mark.parametrize("action, message", [
    (lambda d: d.update(zz=1), "dictionary changed size during iteration"),
    (lambda d: (d.pop("a"), d.update(c=3)), "dictionary keys changed during iteration"),
])
def test_dict_changed_during_conversion(action, message):
    data = {"a": obj(__index__=lambda self: (action(data), 1)[1]), "b": 2}
    with pytest.raises(SystemError, match=message):
        dumps(data)
    items = []  # a list that shrinks under the walk is read safely
    items.extend([obj(__index__=lambda self: items.clear() or 1), 2, 3])
    assert dumps({"k": items}) == "k = [1]\n"


def nested(depth, wrap):
    return functools.reduce(lambda value, _: wrap(value), range(depth), 1)


@pytest.mark.parametrize("wrap, deepest", [(lambda v: [v], 128), (lambda v: {"d": v}, 128 + 1 + 128)])
def test_nesting_bound_in_dumps(wrap, deepest):
    # As deep as a parsed config can be and no deeper: arrays 128 levels in one value; dicts
    # 128 sections, a block, and 128 levels inside that.
    assert parse(dumps({"k": nested(deepest, wrap)})).config == {"k": nested(deepest, wrap)}
    cyclic = {}
    cyclic["self"] = cyclic
    for value in (nested(deepest + 1, wrap), nested(100_000, wrap), cyclic):
        with pytest.raises(RecursionError, match="^data nested (too deeply for dumps: values nest at most 128 levels|more than 258)"):
            dumps({"k": value})


DEEPEST = "[" + ".".join(["s"] * 128) + "]\n"


@pytest.mark.parametrize("source", [
    "[s0.s1.s2]\nk = " + "[" * 128 + "1" + "]" * 128 + "\n",
    DEEPEST + "k = " + "[" * 128 + "1" + "]" * 128 + "\n",
    DEEPEST + "b = #{\n  k = " + "#{ d = " * 128 + "1" + " }#" * 128 + "\n}#\n",
    "[s]\n@min: 1\nb = #{\n  k = " + "[" * 128 + "1" + "]" * 128 + "\n}#\n[vars]\nv = " + "[" * 128 + "]" * 128 + "\n",
])
def test_documents_at_the_depth_limits_dump_and_read_back(source):
    doc = parse(source)
    assert parse(dumps(doc)).config == doc.config and parse(dumps(doc)).meta == doc.meta
    assert parse(dumps(doc.config)).config == doc.config


def test_parsed_values_convert():
    # Section paths and values are each bounded by the parser; together they still convert.
    doc = parse("[" + ".".join(["s"] * 128) + "]\nk = " + "[" * 120 + "1" + "]" * 120 + "\nn = 0.0 / 0.0\ni = -1 / 0.0")
    value = functools.reduce(lambda table, _: table["s"], range(128), doc.config)
    assert value["k"] == nested(120, lambda v: [v]) and math.isnan(value["n"]) and value["i"] == -math.inf


def same(got, want):
    """Equal with the types, the sign of zero, nan and the key order kept: == takes
    True for 1, 1.0 for 1, -0.0 for 0.0 and ignores the order of keys."""
    if type(got) is not type(want):
        return False
    if isinstance(want, dict):
        return list(got) == list(want) and all(same(got[k], want[k]) for k in want)
    if isinstance(want, list):
        return len(got) == len(want) and all(same(g, w) for g, w in zip(got, want))
    if isinstance(want, float):
        return math.isnan(want) if math.isnan(got) else (got, math.copysign(1, got)) == (want, math.copysign(1, want))
    return got == want


LONG = "long text " * 400


@pytest.mark.parametrize("source, want", [
    ("a = 9223372036854775807\nb = -9223372036854775807 - 1\nc = 0\nd = -1\ne = 256\nf = 257\ng = -5\nh = -6",
     {"a": 2**63 - 1, "b": -(2**63), "c": 0, "d": -1, "e": 256, "f": 257, "g": -5, "h": -6}),
    ("a = 1073741823\nb = 1073741824\nc = -1073741824\nd = 4294967296",  # one- and two-digit ints
     {"a": 2**30 - 1, "b": 2**30, "c": -(2**30), "d": 2**32}),
    ("z = -0.0\np = 0.0\ni = 1.0 / 0.0\nm = -1.0 / 0.0\nn = 0.0 / 0.0\nf = 2.5\nw = 3.0",
     {"f": 2.5, "i": math.inf, "m": -math.inf, "n": math.nan, "p": 0.0, "w": 3.0, "z": -0.0}),
    ("t = true\nf = false\nn = null\none = 1\nfl = 1.0",
     {"f": False, "fl": 1.0, "n": None, "one": 1, "t": True}),
    ('s = ""\nt = "x"\nu = "fourteen bytes"\nv = "fifteen bytes.."\nl = "' + LONG + '"',
     {"l": LONG, "s": "", "t": "x", "u": "fourteen bytes", "v": "fifteen bytes.."}),
    ('"é" = "ü"\n"日本" = "\U0001f600 smile"\n"k\\"q" = "a\\\\b"\nplain = "tab\\there"',
     {"k\"q": "a\\b", "plain": "tab\there", "é": "ü", "日本": "\U0001f600 smile"}),
    ("a = []\nb = #{  }#\nc = [[], #{  }#]\n[empty]\n[full]\nk = 1",
     {"a": [], "b": {}, "c": [[], {}], "empty": {}, "full": {"k": 1}}),
    ("k = " + "[" * 64 + "1" + "]" * 64, {"k": functools.reduce(lambda v, _: [v], range(64), 1)}),
    # The same keys over many dicts, some of them holding other kinds of values or one key
    # more or less: each dict keeps its own values and its keys in byte order.
    ("".join(f"[s{i}]\n" + "".join(f"{k} = {v}\n" for k, v in zip("abcdefg", vals))
             for i, vals in enumerate([(1, 2, 3, 4, 5, 6), ('"x"', "true", "null", "1.5", "[]", "-0.0"),
                                       (1, 2, 3, 4, 5, 6, 7), (1, 2, 3, 4, 5), (9, 8, 7, 6, 5, 4)])),
     {"s0": dict(zip("abcdef", (1, 2, 3, 4, 5, 6))),
      "s1": dict(zip("abcdef", ("x", True, None, 1.5, [], -0.0))),
      "s2": dict(zip("abcdefg", (1, 2, 3, 4, 5, 6, 7))), "s3": dict(zip("abcde", (1, 2, 3, 4, 5))),
      "s4": dict(zip("abcdef", (9, 8, 7, 6, 5, 4)))}),
    ('[b]\nz = 1\n"é" = 2\nA = 3\n_ = 4\n[a]\nk = 1',  # the keys' byte order, not the order written
     {"a": {"k": 1}, "b": {"A": 3, "_": 4, "z": 1, "é": 2}}),
])
def test_config_values_types_and_order(source, want):
    config = parse(source).config
    assert same(config, want), config
    assert same(parse(dumps(config)).config, want)  # and back through dumps of the dict


INT = st.integers(-(2**63), 2**63 - 1)
SCALAR = st.one_of(st.booleans(), st.none(), st.text(max_size=20), st.floats(allow_nan=False), INT)
# Arrays are converted with a loop of its own for each run of integers: runs
# of every length, at the start, the end and between other items, nested.
ITEMS = st.recursive(st.lists(st.one_of(INT, SCALAR), max_size=12) | st.lists(INT, max_size=40),
                     lambda inner: st.lists(st.one_of(INT, SCALAR, inner), max_size=8), max_leaves=60)


@settings(max_examples=300, deadline=None)
@given(st.lists(ITEMS, min_size=1, max_size=4))
def test_arrays_with_runs_of_integers_convert_item_by_item(arrays):
    want = {f"a{i}": items for i, items in enumerate(arrays)}
    doc = parse(dumps(want))
    assert same(doc.config, want), doc.config
    assert all(same(doc.get(k), v) for k, v in want.items())


@pytest.mark.parametrize("got, want", [
    (1, True), (1.0, 1), (0.0, -0.0), ({"a": 1, "b": 2}, {"b": 2, "a": 1}), ([1], [1.0]), (0.0, math.nan),
])
def test_the_strict_comparison_tells_apart_what_equality_does_not(got, want):
    assert not same(got, want) and not same(want, got)
