"""Conversion between Python objects and document values, in both directions."""

import collections
import functools
import math

import pytest

from brindle import dumps, parse


def with_methods(name="Obj", module=__name__, **methods):
    return type(name, (), {"__module__": module, **methods})()


def numpy_like(name, truth=True, module="numpy", **index):
    methods = {"__index__": lambda self: index["index"]} if index else {}
    return with_methods(name, module, __bool__=lambda self: truth, **methods)


FloatDict = type("FloatDict", (dict,), {"__float__": lambda self: 1.5})


@pytest.mark.parametrize("value, text", [
    (2**63 - 1, "9223372036854775807"),
    (-(2**63), "-9223372036854775808"),
    (2**63, "9223372036854775808.0"),
    (-(2**63) - 1, "-9223372036854775808.0"),
    (type("MyInt", (int,), {})(3), "3"),
    (type("MyFloat", (float,), {})(4.0), "4.0"),
    (type("MyStr", (str,), {})("s"), '"s"'),
    (type("MyList", (list,), {})([1, 2]), "[1, 2]"),
    (FloatDict(a=1), "1.5"),  # below the root, the numeric tests come before the dict test
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
])
def test_scalar_classification(value, text):
    assert dumps({"k": value}) == f"k = {text}\n"


def test_real_numpy_scalars():
    numpy = pytest.importorskip("numpy")
    data = {"b": numpy.bool_(True), "i": numpy.int64(5), "f": numpy.float32(0.5)}
    assert dumps(data) == "b = true\nf = 0.5\ni = 5\n"


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize("value, error, message", [
    (10**400, TypeError, "unsupported value type for dumps: int"),
    ({1, 2}, TypeError, "unsupported value type for dumps: set"),
    (b"x", TypeError, "unsupported value type for dumps: bytes"),
    (Outer.Inner(), TypeError, "unsupported value type for dumps: Outer.Inner"),
    (collections.UserList([1]), TypeError, "unsupported value type for dumps: UserList"),
    ([1, [2, (3,)]], TypeError, "unsupported value type for dumps: tuple"),
    ({"inner": {"deeper": {1}}}, TypeError, "unsupported value type for dumps: set"),
    ({None: 1}, TypeError, "dict keys must be str, not NoneType"),
    ([{(1,): 1}], TypeError, "dict keys must be str, not tuple"),
    ("\ud800", UnicodeEncodeError, ".* surrogates not allowed"),
    ({"\udfff": 1}, UnicodeEncodeError, ".* surrogates not allowed"),
])
def test_unconvertible_values(value, error, message):
    with pytest.raises(error, match=f"^{message}$"):
        dumps({"k": value})


def test_root_and_key_order():
    assert dumps(collections.OrderedDict(b=1, a=[1, 2])) == "a = [1, 2]\nb = 1\n"
    assert dumps(FloatDict(a=1)) == "a = 1\n"  # the root is a table by definition
    with pytest.raises(TypeError, match="dict keys must be str, not int"):
        dumps({1: 1})


def hooked(action):
    """A dict {'a': <hook>, 'b': 2} whose hook runs `action(dict)` on conversion."""
    data = {}
    data["a"] = with_methods(__index__=lambda self: (action(data), 1)[1])
    data["b"] = 2
    return data


@pytest.mark.parametrize("action, message", [
    (lambda d: d.update(zz=1), "dictionary changed size during iteration"),
    (lambda d: (d.pop("a"), d.update(c=3)), "dictionary keys changed during iteration"),
])
def test_dict_changed_during_conversion(action, message):
    with pytest.raises(SystemError, match=message):
        dumps(hooked(action))
    items = []  # a list that shrinks under the walk is read safely
    items.extend([with_methods(__index__=lambda self: items.clear() or 1), 2, 3])
    assert dumps({"k": items}) == "k = [1]\n"


def nested(depth, wrap):
    return functools.reduce(lambda value, _: wrap(value), range(depth), 1)


@pytest.mark.parametrize("wrap", [lambda v: [v], lambda v: {"d": v}])
def test_nesting_bound_in_dumps(wrap):
    # The root dict is the first of at most 128 nested containers.
    assert isinstance(dumps({"k": nested(127, wrap)}), str)
    for depth in (128, 100_000):
        with pytest.raises(RecursionError, match="128"):
            dumps({"k": nested(depth, wrap)})
    cyclic = {}
    cyclic["self"] = cyclic
    with pytest.raises(RecursionError):
        dumps(cyclic)


def test_non_finite_numbers_are_read():
    doc = parse("n = 0.0 / 0.0\ni = -1 / 0.0")
    assert math.isnan(doc["n"]) and doc["i"] == -math.inf


def test_deepest_parsed_document_converts():
    # Section paths and values are each bounded by the parser; together they
    # still convert.
    doc = parse("[" + ".".join(["s"] * 128) + "]\nk = " + "[" * 120 + "1" + "]" * 120 + "\n")
    value = doc.config
    for _ in range(128):
        value = value["s"]
    assert value == {"k": nested(120, lambda v: [v])}
