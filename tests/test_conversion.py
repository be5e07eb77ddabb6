"""Conversion between Python objects and document values, in both directions."""

import collections
import datetime
import math

import pytest

from brindle import dumps, parse


def dumped(value):
    """The text `dumps` writes for one top-level key holding `value`."""
    return dumps({"k": value})


def with_methods(name="Obj", module=__name__, **methods):
    return type(name, (), {"__module__": module, **methods})()


def numpy_like(name, truth=True, module="numpy", index=None):
    methods = {"__bool__": lambda self: truth}
    if index is not None:
        methods["__index__"] = lambda self: index
    return with_methods(name, module, **methods)


@pytest.mark.parametrize(
    "value, text",
    [
        (None, "null"),
        (True, "true"),
        (False, "false"),
        (-5, "-5"),
        (2**63 - 1, "9223372036854775807"),
        (-(2**63), "-9223372036854775808"),
        (2**63, "9223372036854775808.0"),
        (-(2**63) - 1, "-9223372036854775808.0"),
        (1.0, "1.0"),
        (2.5, "2.5"),
        ("x", '"x"'),
        (type("MyInt", (int,), {})(3), "3"),
        (type("MyFloat", (float,), {})(4.0), "4.0"),
        (type("MyStr", (str,), {})("s"), '"s"'),
        (with_methods(__index__=lambda self: 7), "7"),
        (with_methods(__float__=lambda self: 2.5), "2.5"),
        (with_methods(__index__=lambda self: 3, __float__=lambda self: 9.5), "3"),
        (with_methods(__index__=lambda self: 2**70), "1180591620717411303424.0"),
        (numpy_like("bool_"), "true"),
        (numpy_like("bool", truth=False), "false"),
        (numpy_like("bool_", index=5), "true"),  # the boolean test comes first
        (numpy_like("bool_", module="numpyish", index=5), "5"),
        (numpy_like("bool_", truth=1, index=6), "6"),  # __bool__ must give a bool
        (numpy_like("int64", index=8), "8"),
    ],
)
def test_scalar_classification(value, text):
    assert dumped(value) == f"k = {text}\n"


def test_real_numpy_scalars():
    numpy = pytest.importorskip("numpy")
    assert dumps({"b": numpy.bool_(True), "i": numpy.int64(5), "f": numpy.float32(0.5)}) == (
        "b = true\nf = 0.5\ni = 5\n"
    )


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "value, name",
    [
        (10**400, "int"),
        ((1, 2), "tuple"),
        ({1, 2}, "set"),
        (b"x", "bytes"),
        (datetime.datetime(2024, 1, 15), "datetime"),
        (Outer.Inner(), "Outer.Inner"),
        (collections.UserList([1]), "UserList"),
        ([1, [2, (3,)]], "tuple"),
        ({"inner": {"deeper": {1}}}, "set"),
    ],
)
def test_unsupported_values_name_their_type(value, name):
    with pytest.raises(TypeError) as info:
        dumped(value)
    assert info.value.args == (f"unsupported value type for dumps: {name}",)


@pytest.mark.parametrize("data", [{1: 1}, {"s": {None: 1}}, {"s": [{(1,): 1}]}])
def test_dict_keys_must_be_text(data):
    with pytest.raises(TypeError, match="str"):
        dumps(data)


@pytest.mark.parametrize("data", [{"k": "\ud800"}, {"\udfff": 1}])
def test_text_that_cannot_be_encoded(data):
    with pytest.raises(UnicodeEncodeError):
        dumps(data)


class FloatDict(dict):
    def __float__(self):
        return 1.5


def test_containers_and_their_order():
    assert dumps({"b": 1, "a": 2, "B": 3}) == "B = 3\na = 2\nb = 1\n"
    assert dumps(collections.OrderedDict(b=1, a=[1, 2])) == "a = [1, 2]\nb = 1\n"
    assert dumped(type("MyList", (list,), {})([1, 2])) == "k = [1, 2]\n"
    # The root is a table by definition; inside it the order of tests applies.
    assert dumps(FloatDict(a=1)) == "a = 1\n"
    assert dumped(FloatDict(a=1)) == "k = 1.5\n"


def hooked(action):
    """A dict {'a': <hook>, 'b': 2} whose hook runs `action(dict)` on conversion."""
    data = {}
    data["a"] = with_methods(__index__=lambda self: (action(data), 1)[1])
    data["b"] = 2
    return data


@pytest.mark.parametrize(
    "action, message",
    [
        (lambda d: d.update(zz=1), "dictionary changed size during iteration"),
        (lambda d: (d.pop("a"), d.update(c=3)), "dictionary keys changed during iteration"),
    ],
)
def test_dict_changed_during_conversion(action, message):
    with pytest.raises(RuntimeError, match=message):
        dumps(hooked(action))


def test_list_shrinking_during_conversion_is_safe():
    items = []
    items.extend([with_methods(__index__=lambda self: items.clear() or 1), 2, 3])
    assert dumped(items) == "k = [1]\n"


def nested(depth, wrap):
    value = 1
    for _ in range(depth):
        value = wrap(value)
    return value


@pytest.mark.parametrize("wrap", [lambda v: [v], lambda v: {"d": v}])
def test_nesting_bound_in_dumps(wrap):
    # The root dict is the first of at most 128 nested containers.
    assert isinstance(dumps({"k": nested(127, wrap)}), str)
    for depth in (128, 200, 100_000):
        with pytest.raises(RecursionError, match="128"):
            dumps({"k": nested(depth, wrap)})
    cyclic = {}
    cyclic["self"] = cyclic
    with pytest.raises(RecursionError):
        dumps(cyclic)


@pytest.mark.parametrize(
    "source, expected",
    [
        ('v = "é\\n"', "é\n"),
        ("v = -9223372036854775807", -9223372036854775807),
        ("v = 6 / 3", 2.0),
        ("v = 1 / 0.0", math.inf),
        ("v = false", False),
        ("v = null", None),
        ('v = [1, "a", 2.0, null, []]', [1, "a", 2.0, None, []]),
        ("v = #{ b = 1, a = #{}#, B = true }#", {"B": True, "a": {}, "b": 1}),
    ],
)
def test_value_types(source, expected):
    value = parse(source)["v"]
    assert type(value) is type(expected) and value == expected
    if isinstance(value, dict):
        assert list(value) == sorted(value, key=str.encode)


def test_nan_passes_through():
    assert math.isnan(parse("v = 0.0 / 0.0")["v"])


def test_every_call_builds_fresh_objects():
    doc = parse('v = [1, #{ k = "x" }#]')
    first, second = doc["v"], doc["v"]
    assert first == second == [1, {"k": "x"}]
    assert first is not second and first[1] is not second[1]
    first[1]["k"] = "changed"
    first.append(2)
    assert doc["v"] == [1, {"k": "x"}]


def test_deepest_parsed_document_converts():
    # Section paths and values are each bounded by the parser; together they
    # still convert.
    segments = ["s"] * 128
    doc = parse("[" + ".".join(segments) + "]\nk = " + "[" * 120 + "1" + "]" * 120 + "\n")
    expected = nested(128, lambda v: {"s": v})
    innermost = expected
    for _ in range(127):
        innermost = innermost["s"]
    innermost["s"] = {"k": nested(120, lambda v: [v])}
    assert doc.config == expected
