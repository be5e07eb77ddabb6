"""BrindleDocument: the mapping protocol, path resolution and properties."""

import pytest

from brindle import BrindleDocument, parse

SERVER = """\
title = "demo"
[server]
port = 8080
host = "localhost"
[server.tls]
enabled = true
"""


@pytest.fixture
def doc():
    return parse(SERVER)


def test_root_table_operations(doc):
    assert doc.keys() == ["server", "title"]
    assert doc.values() == [doc["server"], "demo"]
    assert doc.items() == [("server", doc["server"]), ("title", "demo")]
    assert all(type(item) is tuple for item in doc.items())
    assert doc["server"] == {"host": "localhost", "port": 8080, "tls": {"enabled": True}}
    assert len(doc) == 2
    assert list(doc) == ["server", "title"]
    assert "server" in doc and "title" in doc
    assert "server.port" not in doc
    assert dict(doc) == doc.config


@pytest.mark.parametrize(
    "key, args, expected",
    [
        ("title", (), "demo"),
        ("server.port", (), None),  # get never resolves paths
        ("missing", (), None),
        ("missing", (0,), 0),
        ("missing", (None,), None),
        ("title", ("fallback",), "demo"),
    ],
)
def test_get(doc, key, args, expected):
    assert doc.get(key, *args) == expected


def test_get_returns_the_default_object_itself(doc):
    sentinel = object()
    assert doc.get("missing", sentinel) is sentinel
    assert doc.resolve("missing", sentinel) is sentinel
    assert doc.get(key="missing", default=sentinel) is sentinel


@pytest.mark.parametrize(
    "path, default, expected",
    [
        ("server.port", None, 8080),
        ("server.tls.enabled", None, True),
        ("server.tls", None, {"enabled": True}),
        ("title", None, "demo"),
        ("server.port.x", 1, 1),
        ("title.x", 1, 1),
        ("server..port", None, None),
        (".server", "d", "d"),
        ("server.", "d", "d"),
        ("", "d", "d"),
        ("SERVER.port", "d", "d"),
        (" server.port", "d", "d"),
    ],
)
def test_resolve(doc, path, default, expected):
    assert doc.resolve(path, default) == expected


def test_resolve_never_indexes_arrays():
    doc = parse("a = [1, 2]\nb = #{ 0 = 5 }#")
    assert doc.resolve("a.0") is None
    assert doc.resolve("b.0") == 5


def test_resolve_empty_segments_are_real_keys():
    doc = parse('"" = 1\nd = #{ "" = 5, a = #{ "" = 6 }# }#\n')
    assert doc.resolve("") == 1
    assert doc.resolve("d.") == 5
    assert doc.resolve("d.a.") == 6
    assert doc.resolve("d..") is None


def test_subscript_missing_key(doc):
    with pytest.raises(KeyError) as info:
        doc["nope"]
    assert info.value.args == ("nope",)


@pytest.mark.parametrize("bad", [1, None, b"title", ("title",)])
def test_key_arguments_must_be_text(doc, bad):
    with pytest.raises(TypeError, match="key"):
        doc[bad]
    with pytest.raises(TypeError, match="key"):
        bad in doc
    with pytest.raises(TypeError, match="key"):
        doc.get(bad)
    with pytest.raises(TypeError, match="key_path"):
        doc.resolve(bad)


def test_str_subclass_keys_are_accepted(doc):
    class Key(str):
        pass

    assert doc[Key("title")] == "demo"
    assert Key("title") in doc


def test_keyword_arguments(doc):
    assert doc.get(key="title") == "demo"
    assert doc.resolve(key_path="server.port") == 8080
    assert doc.resolve(key_path="x", default=3) == 3
    with pytest.raises(TypeError):
        doc.get(name="title")
    with pytest.raises(TypeError):
        doc.get("title", None, None)


def test_empty_document():
    doc = parse("")
    assert len(doc) == 0
    assert not doc
    assert list(doc) == []
    assert doc.config == {} and doc.vars == {} and doc.meta == {}
    assert doc.keys() == doc.values() == doc.items() == []
    assert repr(doc) == "BrindleDocument(sections=[])"


def test_truth_comes_from_length():
    assert parse("a = 1")
    assert parse("[s]")


@pytest.mark.parametrize(
    "source, text",
    [
        ("b = 1\na = 2", 'BrindleDocument(sections=["a", "b"])'),
        ("[server]\nport = 1", 'BrindleDocument(sections=["server"])'),
        ('"a\\"b" = 1', 'BrindleDocument(sections=["a\\"b"])'),
        ('"tab\\there" = 1', 'BrindleDocument(sections=["tab\\\\there"])'),
    ],
)
def test_repr(source, text):
    assert repr(parse(source)) == text


def test_repr_escapes_control_characters():
    doc = parse('["a\u0001b"]\n')
    assert repr(doc) == 'BrindleDocument(sections=["a\\u{1}b"])'


def test_iteration_is_a_snapshot_and_exhausts_for_good(doc):
    iterator = iter(doc)
    assert iter(iterator) is iterator
    assert next(iterator) == "server"
    assert list(iterator) == ["title"]
    with pytest.raises(StopIteration):
        next(iterator)
    with pytest.raises(StopIteration):
        next(iterator)
    assert iter(doc) is not iter(doc)


def test_iterator_outlives_its_document():
    iterator = iter(parse("a = 1\nb = 2"))
    assert list(iterator) == ["a", "b"]


def test_config_and_vars_are_fresh_copies():
    doc = parse("[vars]\nx = [1]\n[s]\nk = [1, 2]\n")
    config = doc.config
    config["s"]["k"].append(3)
    config["new"] = 1
    assert doc.config == {"s": {"k": [1, 2]}}
    variables = doc.vars
    variables["x"].append(2)
    assert doc.vars == {"x": [1]}
    assert doc.vars is not doc.vars
    assert doc.config is not doc.config


def test_vars_property():
    doc = parse('[vars]\nb = 2\na = "x" + $b\n[s]\nk = $a\n')
    assert doc.vars == {"a": "x2", "b": 2}
    assert list(doc.vars) == ["a", "b"]
    assert doc["s"] == {"k": "x2"}


def test_sections_and_root_keys_share_the_root_table():
    doc = parse("a = 1\n[a]\nk = 2\n[b.c]\n")
    assert doc.config == {"a": {"k": 2}, "b": {"c": {}}}


def test_document_type():
    doc = parse("")
    assert type(doc) is BrindleDocument
    assert doc != parse("")  # identity semantics
    assert doc == doc
    assert hash(doc) == hash(doc)
