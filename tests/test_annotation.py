"""The Annotation class and the annotation queries of a document."""

import math

import pytest

from brindle import Annotation, parse

CATEGORIES = {
    "is_metadata": ("required", "internal", "readonly", "deprecated", "experimental"),
    "is_validation": ("min", "max", "enum", "minlen", "maxlen", "pattern", "nonzero", "positive", "nonempty"),
    "is_type_hint": ("type",),
    "is_tag": ("tag",),
}


@pytest.mark.parametrize(
    "name", [n for names in CATEGORIES.values() for n in names] + ["Required", "@required", "custom", ""]
)
def test_categories(name):
    annotation = Annotation(name)
    for predicate, names in CATEGORIES.items():
        assert getattr(annotation, predicate) is (name in names)


@pytest.mark.parametrize(
    "arg, expected",
    [
        (None, None),
        ("", ""),
        (True, 1),
        (-(2**63), -(2**63)),
        (2**64, float(2**64)),
        (3.0, 3.0),
        (("a", "b"), ["a", "b"]),
        ([], []),
        (range(0), []),
        ((1, 2), "(1, 2)"),
        (["a", 1], "['a', 1]"),
        ({"k": 1}, "{'k': 1}"),
        (b"ab", "b'ab'"),
    ],
)
def test_constructor_argument_kinds(arg, expected):
    value = Annotation("x", arg).arg
    assert type(value) is type(expected) and value == expected


def test_constructor_arguments():
    assert Annotation(name="min", arg=2) == Annotation("min", 2)
    for args in [(5,), (None, 1)]:
        with pytest.raises(TypeError, match="'name'"):
            Annotation(*args)
    with pytest.raises(TypeError):
        Annotation("a", 1, 2)

    class Unprintable:
        def __str__(self):
            raise ValueError("no text")

    with pytest.raises(ValueError, match="no text"):
        Annotation("x", Unprintable())


class Sequence:
    """Two items of text; its length and its iteration can be made to fail."""

    def __init__(self, fail_len=False, fail_items=False):
        self.fail_len, self.fail_items = fail_len, fail_items

    def __len__(self):
        if self.fail_len:
            raise RuntimeError("no length")
        return 2

    def __getitem__(self, index):
        if self.fail_items:
            raise KeyError(index)
        if index >= 2:
            raise IndexError
        return "s"

    def __str__(self):
        return "fallback"


def test_sequence_arguments():
    assert Annotation("x", Sequence()).arg == ["s", "s"]
    assert Annotation("x", Sequence(fail_len=True)).arg == ["s", "s"]  # length is a hint only
    assert Annotation("x", Sequence(fail_items=True)).arg == "fallback"
    annotation = Annotation("enum", ["a"])
    annotation.arg.append("b")
    assert annotation.arg == ["a"]


@pytest.mark.parametrize(
    "annotation, text, representation",
    [
        (Annotation("min", 5), "@min: 5", '"min", 5'),
        (Annotation("required"), "@required", '"required", None'),
        (Annotation("tag", ["a", "b"]), "@tag: [a, b]", '"tag", ["a", "b"]'),
        (Annotation("enum", []), "@enum: []", '"enum", []'),
        (Annotation("min", 3.0), "@min: 3", '"min", 3'),
        (Annotation("min", -0.0), "@min: -0", '"min", -0'),
        (Annotation("max", -math.inf), "@max: -inf", '"max", -inf'),
        (Annotation("max", math.nan), "@max: NaN", '"max", NaN'),
        (Annotation("max", 1e21), "@max: 1000000000000000000000", '"max", 1000000000000000000000'),
        (Annotation("a\nb", 'q"\t'), '@a\nb: q"\t', '"a\\nb", "q\\"\\t"'),
        (Annotation("@x", ["it's"]), "@@x: [it's]", '"@x", ["it\'s"]'),
    ],
)
def test_text_forms(annotation, text, representation):
    assert str(annotation) == text
    assert repr(annotation) == f"Annotation({representation})"


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (Annotation("min", 1), Annotation("min", 1), True),
        (Annotation("min", 1), Annotation("min", 1.0), False),
        (Annotation("min", 1), Annotation("max", 1), False),
        (Annotation("min", "1"), Annotation("min", 1), False),
        (Annotation("x", 0.0), Annotation("x", -0.0), True),
        (Annotation("x", ["a"]), Annotation("x", ("a",)), True),
        (Annotation("x", ["a"]), Annotation("x", ["a", "b"]), False),
        (Annotation("x", []), Annotation("x"), False),
        (Annotation("min", 1), 1, False),
        (Annotation("min", 1), None, False),
    ],
)
def test_equality(left, right, equal):
    assert (left == right) is equal and (right == left) is equal
    assert (left != right) is not equal and (right != left) is not equal


def test_nan_ordering_hashing():
    nan = Annotation("x", math.nan)
    assert not nan == nan and nan != nan
    for compare in (lambda: nan < nan, lambda: nan >= nan, lambda: nan < 1):
        with pytest.raises(TypeError):
            compare()
    with pytest.raises(TypeError):
        hash(nan)

    class Angry:
        def __eq__(self, other):
            raise ValueError("no comparison")

    with pytest.raises(ValueError, match="no comparison"):
        nan != Angry()


# ---- annotation queries of a document ----------------------------------------

SOURCE = """\
@required
@deprecated(use other)
@tag: env = "prod"
@tag: team=core
top = 1
@required
[server]
@tag: env=dev
@tag:  env = staging
@tag: noequals
@tag: [env=a, b]
@tag: 5
@min: 1
port = 8080
@required
@required
@deprecated
@deprecated: 2
host = "h"
@tag: "region" = "eu"
@tag: tier=""gold""
block = #{
  @max: 10
  x = 1
}#
"""


@pytest.fixture
def doc():
    return parse(SOURCE)


def test_annotations_and_has_annotation(doc):
    top = [
        Annotation("required"),
        Annotation("deprecated", "use other"),
        Annotation("tag", 'env = "prod"'),
        Annotation("tag", "team=core"),
    ]
    assert doc.annotations("top") == doc.annotations(key_path="top") == top
    assert all(type(item) is Annotation for item in doc.annotations("top"))
    assert doc.annotations("server.block.x") == [Annotation("max", 10)]
    assert doc.annotations("missing") == doc.annotations("SERVER") == []
    assert doc.annotations("server.port")[3].arg == ["env=a", "b"]
    assert doc.has_annotation("top", "required")
    assert doc.has_annotation(key_path="server", name="required") is True
    for path, name in [("top", "@required"), ("top", "Required"), ("server.port", "required"), ("x", "min")]:
        assert doc.has_annotation(path, name) is False


def test_tags(doc):
    assert doc.tags("top") == {"env": "prod", "team": "core"}
    # A later tag with the same key wins; lists, numbers and texts without
    # an equals sign add nothing.
    assert doc.tags("server.port") == {"env": "staging"}
    # `"region" = "eu"` loses its outer quote pair when parsed; the tag key
    # keeps the inner one, the value loses every edge quote.
    assert doc.tags(key_path="server.block") == {'region"': "eu", "tier": "gold"}
    assert doc.tags("missing") == {}


def test_whole_table_queries(doc):
    assert sorted(doc.keys_with_tag("env")) == [
        ("server.port", "dev"), ("server.port", "staging"), ("top", "prod"),
    ]  # fmt: skip
    assert doc.keys_with_tag(tag_name="tier") == [("server.block", "gold")]
    assert doc.keys_with_tag("region") == []
    assert sorted(doc.required_keys()) == ["server", "server.host", "top"]
    assert sorted(doc.deprecated_keys(), key=repr) == [
        ("server.host", None), ("server.host", None), ("top", "use other"),
    ]  # fmt: skip


def test_meta_covers_the_whole_table(doc):
    meta = doc.meta
    assert set(meta) == {"top", "server", "server.port", "server.host", "server.block", "server.block.x"}
    for path, annotations in meta.items():
        assert annotations == doc.annotations(path)
    meta["top"].clear()
    assert len(doc.meta["top"]) == 4


def test_query_argument_types(doc):
    for call, name in [
        (lambda: doc.annotations(1), "key_path"),
        (lambda: doc.tags(1), "key_path"),
        (lambda: doc.has_annotation(1, "required"), "key_path"),
        (lambda: doc.has_annotation("top", 1), "name"),
        (lambda: doc.keys_with_tag(None), "tag_name"),
    ]:
        with pytest.raises(TypeError, match=f"'{name}'"):
            call()
