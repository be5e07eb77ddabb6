"""The Annotation class and the annotation queries of a document."""

import math

import pytest

from brindle import Annotation, parse

CATEGORY_NAMES = ("is_metadata", "is_validation", "is_type_hint", "is_tag")


@pytest.mark.parametrize(
    "name, category",
    [
        *[(n, "is_metadata") for n in ("required", "internal", "readonly", "deprecated", "experimental")],
        *[
            (n, "is_validation")
            for n in ("min", "max", "enum", "minlen", "maxlen", "pattern", "nonzero", "positive", "nonempty")
        ],
        ("type", "is_type_hint"),
        ("tag", "is_tag"),
        ("Required", None),
        ("@required", None),
        ("custom", None),
        ("", None),
    ],
)
def test_categories(name, category):
    annotation = Annotation(name)
    for predicate in CATEGORY_NAMES:
        assert getattr(annotation, predicate) is (predicate == category)


@pytest.mark.parametrize(
    "arg, expected, kind",
    [
        (None, None, type(None)),
        ("5", "5", str),
        ("", "", str),
        (5, 5, int),
        (True, 1, int),
        (False, 0, int),
        (-(2**63), -(2**63), int),
        (2**64, float(2**64), float),
        (3.0, 3.0, float),
        (["a", "b"], ["a", "b"], list),
        (("a", "b"), ["a", "b"], list),
        ([], [], list),
        ((1, 2), "(1, 2)", str),
        (["a", 1], "['a', 1]", str),
        ({"k": 1}, "{'k': 1}", str),
        (b"ab", "b'ab'", str),
        (range(0), [], list),
    ],
)
def test_constructor_argument_kinds(arg, expected, kind):
    value = Annotation("x", arg).arg
    assert type(value) is kind
    assert value == expected


def test_constructor_arguments():
    assert Annotation(name="min", arg=2) == Annotation("min", 2)
    assert Annotation("min").arg is None
    with pytest.raises(TypeError, match="name"):
        Annotation(5)
    with pytest.raises(TypeError, match="name"):
        Annotation(None, 1)
    with pytest.raises(TypeError):
        Annotation()
    with pytest.raises(TypeError):
        Annotation("a", 1, 2)


def test_constructor_fallback_error_propagates():
    class Unprintable:
        def __str__(self):
            raise ValueError("no text")

    with pytest.raises(ValueError, match="no text"):
        Annotation("x", Unprintable())


def test_broken_sequences_fall_back_to_text():
    class BrokenSequence:
        def __len__(self):
            raise RuntimeError("no length")

        def __getitem__(self, index):
            if index >= 2:
                raise IndexError
            return "s"

        def __str__(self):
            return "broken"

    # __len__ failing is only a capacity hint.
    assert Annotation("x", BrokenSequence()).arg == ["s", "s"]

    class FailingIteration(BrokenSequence):
        def __getitem__(self, index):
            raise KeyError(index)

    assert Annotation("x", FailingIteration()).arg == "broken"


def test_arg_list_is_fresh():
    annotation = Annotation("enum", ["a"])
    annotation.arg.append("b")
    assert annotation.arg == ["a"]


@pytest.mark.parametrize(
    "annotation, text, representation",
    [
        (Annotation("min", 5), "@min: 5", 'Annotation("min", 5)'),
        (Annotation("required"), "@required", 'Annotation("required", None)'),
        (Annotation("tag", ["a", "b"]), "@tag: [a, b]", 'Annotation("tag", ["a", "b"])'),
        (Annotation("enum", []), "@enum: []", 'Annotation("enum", [])'),
        (Annotation("min", 3.0), "@min: 3", 'Annotation("min", 3)'),
        (Annotation("min", 2.5), "@min: 2.5", 'Annotation("min", 2.5)'),
        (Annotation("min", -0.0), "@min: -0", 'Annotation("min", -0)'),
        (Annotation("max", math.inf), "@max: inf", 'Annotation("max", inf)'),
        (Annotation("max", -math.inf), "@max: -inf", 'Annotation("max", -inf)'),
        (Annotation("max", math.nan), "@max: NaN", 'Annotation("max", NaN)'),
        (Annotation("max", 1e21), "@max: 1000000000000000000000", 'Annotation("max", 1000000000000000000000)'),
        (Annotation("pattern", 'a"b'), '@pattern: a"b', 'Annotation("pattern", "a\\"b")'),
        (Annotation("a\nb"), "@a\nb", 'Annotation("a\\nb", None)'),
        (Annotation("@x"), "@@x", 'Annotation("@x", None)'),
        (Annotation("x", "it's"), "@x: it's", 'Annotation("x", "it\'s")'),
        (Annotation("x", ["q\"", "t\t"]), '@x: [q", t\t]', 'Annotation("x", ["q\\"", "t\\t"])'),
    ],
)
def test_text_forms(annotation, text, representation):
    assert str(annotation) == text
    assert repr(annotation) == representation


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (Annotation("min", 1), Annotation("min", 1), True),
        (Annotation("min", 1), Annotation("min", 1.0), False),
        (Annotation("min", 1), Annotation("max", 1), False),
        (Annotation("min", "1"), Annotation("min", 1), False),
        (Annotation("x", 0.0), Annotation("x", -0.0), True),
        (Annotation("x", math.nan), Annotation("x", math.nan), False),
        (Annotation("x", ["a"]), Annotation("x", ("a",)), True),
        (Annotation("x", ["a"]), Annotation("x", ["a", "b"]), False),
        (Annotation("x"), Annotation("x", None), True),
        (Annotation("x", []), Annotation("x"), False),
    ],
)
def test_equality(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is not equal
    assert (right == left) is equal


def test_nan_annotation_is_unequal_to_itself():
    annotation = Annotation("x", math.nan)
    assert not annotation == annotation
    assert annotation != annotation


@pytest.mark.parametrize("other", [1, "min", None, object()])
def test_comparison_with_other_types(other):
    annotation = Annotation("min", 1)
    assert (annotation == other) is False
    assert (annotation != other) is True
    assert (other != annotation) is True


def test_ordering_and_hashing_are_refused():
    a, b = Annotation("a"), Annotation("b")
    for compare in (lambda: a < b, lambda: a <= b, lambda: a > b, lambda: a >= b, lambda: a < 1):
        with pytest.raises(TypeError):
            compare()
    with pytest.raises(TypeError):
        hash(a)
    assert Annotation.__hash__ is None


def test_ne_propagates_errors_from_the_other_side():
    class Angry:
        def __eq__(self, other):
            raise ValueError("no comparison")

    with pytest.raises(ValueError, match="no comparison"):
        Annotation("x") != Angry()


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
@tag: [a, b]
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


def test_annotations_of_a_key(doc):
    found = doc.annotations("top")
    assert found == [
        Annotation("required"),
        Annotation("deprecated", "use other"),
        Annotation("tag", 'env = "prod"'),
        Annotation("tag", "team=core"),
    ]
    assert all(type(item) is Annotation for item in found)
    assert doc.annotations("server") == [Annotation("required")]
    assert doc.annotations("server.block.x") == [Annotation("max", 10)]
    assert doc.annotations("missing") == []
    assert doc.annotations("SERVER") == []
    assert doc.annotations(key_path="top") == found
    assert doc.annotations("top") is not doc.annotations("top")


def test_has_annotation(doc):
    assert doc.has_annotation("top", "required")
    assert doc.has_annotation("server.port", "min")
    assert not doc.has_annotation("top", "@required")
    assert not doc.has_annotation("top", "Required")
    assert not doc.has_annotation("server.port", "required")
    assert not doc.has_annotation("missing", "required")
    assert doc.has_annotation(key_path="server", name="required") is True


def test_tags(doc):
    assert doc.tags("top") == {"env": "prod", "team": "core"}
    # A later tag with the same key wins; non-text and unsplittable tags add nothing.
    assert doc.tags("server.port") == {"env": "staging"}
    # The argument `"region" = "eu"` loses its outer quote pair when parsed;
    # the tag key keeps the inner one, the value loses every edge quote.
    assert doc.tags("server.block") == {'region"': "eu", "tier": "gold"}
    assert doc.tags("missing") == {}
    assert doc.tags(key_path="server") == {}


def test_keys_with_tag(doc):
    assert sorted(doc.keys_with_tag("env")) == [
        ("server.port", "dev"),
        ("server.port", "staging"),
        ("top", "prod"),
    ]
    assert doc.keys_with_tag("region") == []
    assert doc.keys_with_tag(tag_name="tier") == [("server.block", "gold")]
    assert doc.keys_with_tag("nothing") == []


def test_required_keys_lists_each_path_once(doc):
    assert sorted(doc.required_keys()) == ["server", "server.host", "top"]


def test_deprecated_keys_lists_each_annotation(doc):
    assert sorted(doc.deprecated_keys(), key=repr) == sorted(
        [("server.host", None), ("server.host", None), ("top", "use other")], key=repr
    )


def test_meta_covers_the_whole_table(doc):
    meta = doc.meta
    assert set(meta) == {"top", "server", "server.port", "server.host", "server.block", "server.block.x"}
    for path, annotations in meta.items():
        assert annotations == doc.annotations(path)
    meta["top"].clear()
    assert len(doc.meta["top"]) == 4


def test_annotations_from_a_document_keep_their_kinds(doc):
    port = doc.annotations("server.port")
    assert [a.name for a in port] == ["tag", "tag", "tag", "tag", "tag", "min"]
    assert port[3].arg == ["a", "b"]
    assert port[4].arg == 5
    assert port[5].is_validation and not port[5].is_tag


@pytest.mark.parametrize("method", ["annotations", "tags"])
def test_query_argument_types(doc, method):
    with pytest.raises(TypeError, match="key_path"):
        getattr(doc, method)(1)


def test_query_argument_types_of_the_other_queries(doc):
    with pytest.raises(TypeError, match="key_path"):
        doc.has_annotation(1, "required")
    with pytest.raises(TypeError, match="name"):
        doc.has_annotation("top", 1)
    with pytest.raises(TypeError, match="tag_name"):
        doc.keys_with_tag(None)
    with pytest.raises(TypeError):
        doc.required_keys(1)
