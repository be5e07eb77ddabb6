"""Conversion between Python objects and document values, in both directions."""

import collections
import datetime
import math

import pytest

from brindle import dumps, parse


def dumped(value):
    """The text `dumps` writes for one top-level key holding `value`."""
    return dumps({"k": value})


class OnlyIndex:
    def __index__(self):
        return 7


class OnlyFloat:
    def __float__(self):
        return 2.5


class IndexAndFloat:
    def __index__(self):
        return 3

    def __float__(self):
        return 9.5


class HugeIndex:
    def __index__(self):
        return 2**70


class MyInt(int):
    pass


class MyFloat(float):
    pass


class MyStr(str):
    pass


def numpy_like(name, module="numpy", truth=True, index=None):
    """A class that looks like a numpy scalar type by its name and module."""
    namespace = {"__module__": module, "__bool__": lambda self: truth}
    if index is not None:
        namespace["__index__"] = lambda self: index
    return type(name, (), namespace)()


@pytest.mark.parametrize(
    "value, text",
    [
        (None, "null"),
        (True, "true"),
        (False, "false"),
        (1, "1"),
        (-5, "-5"),
        (0, "0"),
        (2**63 - 1, "9223372036854775807"),
        (-(2**63), "-9223372036854775808"),
        (2**63, "9223372036854775808.0"),
        (-(2**63) - 1, "-9223372036854775808.0"),
        (1.0, "1.0"),
        (2.5, "2.5"),
        ("x", '"x"'),
        (MyInt(3), "3"),
        (MyFloat(4.0), "4.0"),
        (MyStr("s"), '"s"'),
        (OnlyIndex(), "7"),
        (OnlyFloat(), "2.5"),
        (IndexAndFloat(), "3"),
        (HugeIndex(), "1180591620717411303424.0"),
        (numpy_like("bool_"), "true"),
        (numpy_like("bool", truth=False), "false"),
        # The boolean test comes before the integer test.
        (numpy_like("bool_", index=5), "true"),
        # Not numpy by module, or __bool__ not giving a bool: not a boolean.
        (numpy_like("bool_", module="numpyish", index=5), "5"),
        (numpy_like("bool_", truth=1, index=6), "6"),
        (numpy_like("int64", index=8), "8"),
    ],
)
def test_scalar_classification(value, text):
    assert dumped(value) == f"k = {text}\n"


def test_real_numpy_scalars():
    numpy = pytest.importorskip("numpy")
    assert dumped(numpy.bool_(True)) == "k = true\n"
    assert dumped(numpy.int64(5)) == "k = 5\n"
    assert dumped(numpy.float64(2.5)) == "k = 2.5\n"
    assert dumped(numpy.float32(0.5)) == "k = 0.5\n"


class Outer:
    class Inner:
        pass


@pytest.mark.parametrize(
    "value, name",
    [
        (10**400, "int"),
        (-(10**400), "int"),
        ((1, 2), "tuple"),
        ({1, 2}, "set"),
        (frozenset(), "frozenset"),
        (b"x", "bytes"),
        (datetime.date(2024, 1, 15), "date"),
        (datetime.datetime(2024, 1, 15), "datetime"),
        (object(), "object"),
        (Outer.Inner(), "Outer.Inner"),
        (collections.UserList([1]), "UserList"),
        ([1, [2, (3,)]], "tuple"),
        ({"inner": {"deeper": {1}}}, "set"),
    ],
)
def test_unsupported_values_name_their_type(value, name):
    with pytest.raises(TypeError) as info:
        dumped(value)
    assert str(info.value) == f"unsupported value type for dumps: {name}"
    assert info.value.args == (str(info.value),)


@pytest.mark.parametrize("key", [1, None, (1,), b"k"])
def test_dict_keys_must_be_text(key):
    with pytest.raises(TypeError, match="str"):
        dumps({key: 1})
    with pytest.raises(TypeError, match="str"):
        dumps({"section": {key: 1}})


def test_text_that_cannot_be_encoded():
    with pytest.raises(UnicodeEncodeError):
        dumps({"k": "\ud800"})
    with pytest.raises(UnicodeEncodeError):
        dumps({"\udfff": 1})


def test_dict_and_list_subclasses_are_accepted():
    data = collections.OrderedDict([("b", 1), ("a", [1, 2])])
    assert dumps(data) == dumps({"a": [1, 2], "b": 1})
    assert dumps(collections.defaultdict(int, x=1)) == "x = 1\n"

    class MyList(list):
        pass

    assert dumped(MyList([1, 2])) == dumped([1, 2])


def test_dict_order_is_bytewise_not_insertion():
    assert dumps({"b": 1, "a": 2, "B": 3}) == "B = 3\na = 2\nb = 1\n"


def test_dict_changing_size_during_conversion():
    data = {}

    class Grows:
        def __index__(self):
            data["zz"] = 1
            return 1

    data["a"] = Grows()
    data["b"] = 2
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        dumps(data)


def test_dict_keys_changing_during_conversion():
    data = {}

    class Swaps:
        def __index__(self):
            del data["a"]
            data["c"] = 3
            return 1

    data["a"] = Swaps()
    data["b"] = 2
    with pytest.raises(RuntimeError, match="dictionary keys changed during iteration"):
        dumps(data)


def test_list_shrinking_during_conversion_is_safe():
    items = []

    class Shrinks:
        def __index__(self):
            items.clear()
            return 1

    items.extend([Shrinks(), 2, 3])
    assert dumped(items) == "k = [1]\n"


def nested_lists(depth):
    value = 1
    for _ in range(depth):
        value = [value]
    return value


def nested_dicts(depth):
    value = 1
    for _ in range(depth):
        value = {"d": value}
    return value


@pytest.mark.parametrize("builder", [nested_lists, nested_dicts])
def test_nesting_bound_in_dumps(builder):
    # The top-level dict is the first of at most 128 nested containers.
    assert isinstance(dumps({"k": builder(127)}), str)
    with pytest.raises(RecursionError, match="128"):
        dumps({"k": builder(128)})
    with pytest.raises(RecursionError):
        dumps({"k": builder(200)})
    with pytest.raises(RecursionError):
        dumps({"k": builder(100_000)})


def test_self_referencing_data_is_bounded():
    data = {}
    data["self"] = data
    with pytest.raises(RecursionError):
        dumps(data)
    items = []
    items.append(items)
    with pytest.raises(RecursionError):
        dumps({"k": items})


# ---- values to Python -------------------------------------------------------


@pytest.mark.parametrize(
    "source, expected, kind",
    [
        ('v = "x"', "x", str),
        ('v = ""', "", str),
        ('v = "é\\n"', "é\n", str),
        ("v = 1", 1, int),
        ("v = -9223372036854775807", -9223372036854775807, int),
        ("v = 9223372036854775807", 9223372036854775807, int),
        ("v = 1.5", 1.5, float),
        ("v = 6 / 3", 2.0, float),
        ("v = 1 / 0.0", math.inf, float),
        ("v = true", True, bool),
        ("v = false", False, bool),
        ("v = null", None, type(None)),
        ('v = [1, "a", 2.0, null]', [1, "a", 2.0, None], list),
        ("v = []", [], list),
        ("v = #{ k = 1 }#", {"k": 1}, dict),
        ("v = #{}#", {}, dict),
    ],
)
def test_value_types(source, expected, kind):
    value = parse(source)["v"]
    assert type(value) is kind
    assert value == expected


def test_nan_passes_through():
    value = parse("v = 0.0 / 0.0")["v"]
    assert isinstance(value, float) and math.isnan(value)


def test_dict_keys_come_out_in_bytewise_order():
    value = parse("v = #{ b = 1, a = 2, B = 3 }#")["v"]
    assert list(value) == ["B", "a", "b"]


def test_every_call_builds_fresh_objects():
    doc = parse('v = [1, #{ k = "x" }#]')
    first, second = doc["v"], doc["v"]
    assert first == second == [1, {"k": "x"}]
    assert first is not second
    assert first[1] is not second[1]
    first[1]["k"] = "changed"
    first.append(2)
    assert doc["v"] == [1, {"k": "x"}]


def test_deep_values_from_the_parser_convert():
    depth = 100
    doc = parse("v = " + "[" * depth + "1" + "]" * depth)
    value = doc["v"]
    for _ in range(depth):
        assert isinstance(value, list) and len(value) == 1
        value = value[0]
    assert value == 1


def test_deepest_parsed_document_converts():
    # Section paths and values are each bounded by the parser; together they
    # still convert.
    segments = ["s"] * 128
    depth = 120
    doc = parse("[" + ".".join(segments) + "]\nk = " + "[" * depth + "1" + "]" * depth + "\n")
    value = doc.config
    for segment in segments:
        value = value[segment]
    value = value["k"]
    for _ in range(depth):
        value = value[0]
    assert value == 1
    assert doc.resolve(".".join(segments + ["k"])) == nested_lists(depth)


class FloatDict(dict):
    def __float__(self):
        return 1.5


def test_root_dict_is_always_a_dict_but_nested_order_applies():
    # The root handed to dumps is a table by definition; inside it, the
    # order of tests makes a float-like dict a Float.
    assert dumps(FloatDict(a=1)) == "a = 1\n"
    assert dumped(FloatDict(a=1)) == "k = 1.5\n"
