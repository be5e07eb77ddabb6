"""The Annotation class and the annotation queries of a document."""

import math

import pytest

from brindle import Annotation, parse

PREDICATES = ("is_metadata", "is_validation", "is_type_hint", "is_tag")
NAN = Annotation("x", math.nan)


@pytest.mark.parametrize("name, category", [
    ("required", "is_metadata"), ("nonempty", "is_validation"), ("type", "is_type_hint"), ("tag", "is_tag"),
    ("Required", None),
])
def test_categories(name, category):
    assert [getattr(Annotation(name), p) for p in PREDICATES] == [p == category for p in PREDICATES]


def sequence(length=lambda self: 2, item=lambda self, index: "ss"[index]):
    """Two items of text, unless `length` or `item` fails; text form `fallback`."""
    return type("Seq", (), {"__len__": length, "__getitem__": item, "__str__": lambda self: "fallback"})()


@pytest.mark.parametrize("arg, expected", [
    (None, None), (True, 1), (-(2**63), -(2**63)), (2**64, float(2**64)), (3.0, 3.0), (range(0), []),
    (("a", "b"), ["a", "b"]), (sequence(), ["s", "s"]),
    (sequence(length=lambda self: 1 / 0), ["s", "s"]),  # the length is a hint only
    (sequence(item=lambda self, index: {}[index]), "fallback"), (["a", 1], "['a', 1]"), ({"k": 1}, "{'k': 1}"),
])
def test_constructor_argument_kinds(arg, expected):
    value = (annotation := Annotation("x", arg)).arg
    assert type(value) is type(expected) and value == expected
    if isinstance(value, list):
        value.append("changed")
        assert annotation.arg == expected


@pytest.mark.parametrize("call, error, match", [
    (lambda: Annotation(5), TypeError, "^argument 'name' must be str, not int$"),
    (lambda: Annotation("a", 1, 2), TypeError, "at most 2"),
    (lambda: Annotation(arg=1), TypeError, "missing required argument 'name'"),
    (lambda: Annotation("x", type("Bad", (), {"__str__": lambda self: 1 / 0})()), ZeroDivisionError, "division"),
    (lambda: NAN < NAN, TypeError, "'<' not supported"), (lambda: Annotation("x") < 1, TypeError, "'<' not supported"),
    (lambda: hash(Annotation("x")), TypeError, "unhashable"),
    (lambda: NAN != type("Angry", (), {"__eq__": lambda self, other: 1 / 0})(), ZeroDivisionError, "division"),
])
def test_call_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()


@pytest.mark.parametrize("annotation, text, representation", [
    (Annotation("min", 5), "@min: 5", '"min", 5'), (Annotation("required"), "@required", '"required", None'),
    (Annotation("min", 3.0), "@min: 3", '"min", 3'), (Annotation("enum", []), "@enum: []", '"enum", []'),
    (Annotation("tag", ["a", "b"]), "@tag: [a, b]", '"tag", ["a", "b"]'),
    (Annotation("a\nb", 'q"\t'), '@a\nb: q"\t', '"a\\nb", "q\\"\\t"'),
    (Annotation("@x", ["it's"]), "@@x: [it's]", '"@x", ["it\'s"]'),
])
def test_text_forms(annotation, text, representation):
    assert (str(annotation), repr(annotation)) == (text, f"Annotation({representation})")


@pytest.mark.parametrize("left, right, equal", [
    (Annotation("min", 1), Annotation("min", 1), True), (Annotation("min", 1), Annotation("min", 1.0), False),
    (Annotation("min", 1), Annotation("max", 1), False), (Annotation("x", 0.0), Annotation("x", -0.0), True),
    (Annotation("x", ["a"]), Annotation("x", ("a",)), True), (Annotation("x", []), Annotation("x"), False),
    (Annotation("x", ["a"]), Annotation("x", ["a", "b"]), False), (Annotation("min", 1), 1, False),
    (NAN, NAN, False), (Annotation(name="min", arg=2), Annotation("min", 2), True),
])
def test_equality(left, right, equal):
    assert (left == right) is equal and (right == left) is equal
    assert (left != right) is not equal and (right != left) is not equal


@pytest.mark.parametrize("lines, pairs", [
    (['@tag: env = "prod"', "@tag: team=core"], [("env", "prod"), ("team", "core")]),
    (["@tag: env=dev", "@tag:  env = staging"], [("env", "dev"), ("env", "staging")]),  # the later wins in tags
    (["@tag: noequals", "@tag: [env=a, b]", "@tag: 5", "@min: x=1"], []),
    (['@tag: "region" = "eu"'], [('region"', "eu")]),  # the outer quote pair goes when parsed
    (['@tag: tier=""gold""'], [("tier", "gold")]),  # the value loses every edge quote
])
def test_tag_queries(lines, pairs):
    doc = parse("[s]\n" + "\n".join(lines) + "\nk = 1\n")
    assert doc.tags("s.k") == doc.tags(key_path="s.k") == dict(pairs) and doc.tags("k") == {}
    for name in ("env", "team", "region", 'region"', "tier", "x"):
        assert doc.keys_with_tag(tag_name=name) == [("s.k", value) for key, value in pairs if key == name]


SOURCE = '@required\n@deprecated(use other)\ntop = 1\n@required\n[server]\n@required\n@required\n@deprecated\n'
SOURCE += '@deprecated: 2\nhost = "h"\nblock = #{\n  @max: 10\n  x = 1\n}#\n'


def test_annotation_queries():
    doc = parse(SOURCE)
    top = doc.annotations(key_path="top")
    assert top == [Annotation("required"), Annotation("deprecated", "use other")] and type(top[0]) is Annotation
    assert doc.annotations("server.block.x") == [Annotation("max", 10)] and doc.annotations("SERVER") == []
    assert doc.has_annotation("top", "required") and doc.has_annotation(key_path="server", name="required") is True
    for path, name in [("top", "@required"), ("top", "Required"), ("server.block", "required"), ("x", "max")]:
        assert doc.has_annotation(path, name) is False
    assert sorted(doc.required_keys()) == ["server", "server.host", "top"]  # each key once
    assert sorted(doc.deprecated_keys(), key=repr) == [("server.host", None)] * 2 + [("top", "use other")]
    assert doc.meta == {path: doc.annotations(path) for path in ("top", "server", "server.host", "server.block.x")}
    doc.meta["top"].clear()
    assert len(doc.meta["top"]) == 2
