"""BrindleDocument: the mapping protocol, path resolution and properties."""

import pytest

from brindle import parse

SOURCE = 'title = "demo"\n"" = 1\nd = #{ "" = 5, 0 = #{ "" = 6 }# }#\nlist = [1]\n[server]\nport = 80\n[server.tls]\n'
SOURCE += "on = 1"
SERVER = {"port": 80, "tls": {"on": 1}}
CONFIG = {"": 1, "d": {"": 5, "0": {"": 6}}, "list": [1], "server": SERVER, "title": "demo"}
SENTINEL = object()


@pytest.fixture
def doc():
    return parse(SOURCE)


def test_root_table_operations(doc):
    assert doc.config == dict(doc) == CONFIG and list(doc.config) == list(CONFIG)  # bytewise key order
    assert doc.keys() == list(doc) == list(CONFIG) and doc.values() == list(CONFIG.values())
    assert doc.items() == list(CONFIG.items()) and all(type(item) is tuple for item in doc.items())
    assert doc["server"] == SERVER and len(doc) == 5 and bool(doc)
    assert "server" in doc and "server.port" not in doc and doc[type("Key", (str,), {})("title")] == "demo"
    with pytest.raises(KeyError, match="^'nope'$"):
        doc["nope"]


@pytest.mark.parametrize("call, expected", [
    (lambda d: d.get("title", "x"), "demo"), (lambda d: d.get(key="missing", default=SENTINEL), SENTINEL),
    (lambda d: d.get("server.port"), None),  # get never resolves paths
    (lambda d: d.resolve(key_path="server.tls.on"), 1), (lambda d: d.resolve("server.port.x", 1), 1),
    (lambda d: d.resolve("list.0", 1), 1),  # arrays are never indexed
    (lambda d: d.resolve("server..port"), None), (lambda d: d.resolve(" server.port", SENTINEL), SENTINEL),
    (lambda d: d.resolve(""), 1),  # an empty segment names the empty key
    (lambda d: (d.resolve("d."), d.resolve("d.0"), d.resolve("d.0.")), (5, {"": 6}, 6)),
])
def test_get_and_resolve(doc, call, expected):
    assert call(doc) is SENTINEL if expected is SENTINEL else call(doc) == expected


TEXT = "^argument '{}' must be str, not {}$"


@pytest.mark.parametrize("call, match", [
    (lambda d: d[None], TEXT.format("key", "NoneType")), (lambda d: b"title" in d, TEXT.format("key", "bytes")),
    (lambda d: d.get(1), TEXT.format("key", "int")), (lambda d: d.resolve(b"x"), TEXT.format("key_path", "bytes")),
    (lambda d: d.annotations(1), TEXT.format("key_path", "int")),
    (lambda d: d.tags(None), TEXT.format("key_path", "NoneType")),
    (lambda d: d.has_annotation(b"x", "min"), TEXT.format("key_path", "bytes")),
    (lambda d: d.has_annotation("title", 1), TEXT.format("name", "int")),
    (lambda d: d.keys_with_tag(None), TEXT.format("tag_name", "NoneType")),
    (lambda d: d.get(name="title"), "missing required argument 'key'"), (lambda d: d.get("t", None, None), "at most 2"),
    (lambda d: d.keys(1), "takes no arguments"),
])
def test_argument_errors(doc, call, match):
    with pytest.raises(TypeError, match=match):
        call(doc)


@pytest.mark.parametrize("source, text", [
    ("", "[]"), ("b = 1\na = 2", '["a", "b"]'), ('"a\\"b" = 1\n[s]', '["a\\"b", "s"]'),
    ('["a\u0001\\tb"]', '["a\\u{1}\\\\tb"]'),
])
def test_repr(source, text):
    assert repr(parse(source)) == f"BrindleDocument(sections={text})"


def test_empty_document_identity_and_iteration(doc):
    empty = parse("")
    assert len(empty) == 0 and not empty and list(empty) == [] and empty.config == empty.vars == empty.meta == {}
    assert empty == empty and empty != parse("") and hash(empty) == hash(empty)
    iterator = iter(doc)
    assert iter(iterator) is iterator and iter(doc) is not iterator and next(iterator) == ""
    del doc  # the iterator walks a snapshot
    assert list(iterator) == ["d", "list", "server", "title"] and list(iterator) == []


def test_vars_sections_and_fresh_copies():
    doc = parse('a = 1\n[vars]\nb = [2]\na = "x" + 1\n[a]\nk = $a\n[b.c]\n')
    # A later section header replaces a root key of the same name.
    config, variables, first, second = doc.config, doc.vars, doc["a"], doc["a"]
    assert config == {"a": {"k": "x1"}, "b": {"c": {}}} and list(variables.items()) == [("a", "x1"), ("b", [2])]
    config["a"]["k"] = first["k"] = "changed"
    variables["b"].append(3)
    assert doc.config == {"a": {"k": "x1"}, "b": {"c": {}}} and doc.vars["b"] == [2] and first is not second
    assert doc["a"] == second == {"k": "x1"} and doc.config is not doc.config
