"""BrindleDocument: the mapping protocol, path resolution and properties."""

import pytest

from brindle import parse

SOURCE = (
    'title = "demo"\n"" = 1\nd = #{ "" = 5, 0 = #{ "" = 6 }# }#\nlist = [1]\n'
    "[server]\nport = 80\n[server.tls]\non = 1"
)
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
    with pytest.raises(KeyError) as info:
        doc["nope"]
    assert info.value.args == ("nope",)


@pytest.mark.parametrize("call, expected", [
    (lambda d: d.get("title", "x"), "demo"),
    (lambda d: d.get("server.port"), None),  # get never resolves paths
    (lambda d: d.get("missing", 0), 0),
    (lambda d: d.get(key="missing", default=SENTINEL), SENTINEL),
    (lambda d: d.resolve("server.port"), 80),
    (lambda d: d.resolve(key_path="server.tls.on"), 1),
    (lambda d: d.resolve("server.port.x", 1), 1),
    (lambda d: d.resolve("list.0", 1), 1),  # arrays are never indexed
    (lambda d: d.resolve("server..port"), None),
    (lambda d: d.resolve(" server.port", SENTINEL), SENTINEL),
    (lambda d: d.resolve(""), 1),  # an empty segment names the empty key
    (lambda d: (d.resolve("d."), d.resolve("d.0"), d.resolve("d.0.")), (5, {"": 6}, 6)),
])
def test_get_and_resolve(doc, call, expected):
    result = call(doc)
    assert result is expected if expected is SENTINEL else result == expected


@pytest.mark.parametrize("bad", [1, None, b"title"])
@pytest.mark.parametrize("call, name", [
    (lambda d, bad: d[bad], "key"),
    (lambda d, bad: bad in d, "key"),
    (lambda d, bad: d.get(bad), "key"),
    (lambda d, bad: d.resolve(bad), "key_path"),
    (lambda d, bad: d.annotations(bad), "key_path"),
    (lambda d, bad: d.tags(bad), "key_path"),
    (lambda d, bad: d.has_annotation(bad, "min"), "key_path"),
    (lambda d, bad: d.has_annotation("title", bad), "name"),
    (lambda d, bad: d.keys_with_tag(bad), "tag_name"),
])
def test_text_arguments(doc, call, name, bad):
    with pytest.raises(TypeError, match=f"^argument '{name}' must be str, not {type(bad).__name__}$"):
        call(doc, bad)


@pytest.mark.parametrize("call", [
    lambda d: d.get(name="title"),
    lambda d: d.get("t", None, None),
    lambda d: d.keys(1),
])
def test_call_shapes(doc, call):
    with pytest.raises(TypeError):
        call(doc)


@pytest.mark.parametrize("source, text", [
    ("", "[]"),
    ("b = 1\na = 2", '["a", "b"]'),
    ('"a\\"b" = 1\n[s]', '["a\\"b", "s"]'),
    ('["a\u0001\\tb"]', '["a\\u{1}\\\\tb"]'),
])
def test_repr(source, text):
    assert repr(parse(source)) == f"BrindleDocument(sections={text})"


def test_empty_document_and_identity():
    doc = parse("")
    assert len(doc) == 0 and not doc and list(doc) == []
    assert doc.config == doc.vars == doc.meta == {}
    assert doc == doc and doc != parse("") and hash(doc) == hash(doc)


def test_iteration_is_a_snapshot_and_exhausts_for_good(doc):
    iterator = iter(doc)
    assert iter(iterator) is iterator and iter(doc) is not iterator
    assert next(iterator) == ""
    del doc
    assert list(iterator) == ["d", "list", "server", "title"]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(iterator)


def test_vars_sections_and_fresh_copies():
    doc = parse('a = 1\n[vars]\nb = [2]\na = "x" + 1\n[a]\nk = $a\n[b.c]\n')
    assert doc.vars == {"a": "x1", "b": [2]} and list(doc.vars) == ["a", "b"]
    # A later section header replaces a root key of the same name.
    assert doc.config == {"a": {"k": "x1"}, "b": {"c": {}}}
    config, variables = doc.config, doc.vars
    config["a"]["k"] = "changed"
    variables["b"].append(3)
    assert doc.config == {"a": {"k": "x1"}, "b": {"c": {}}} and doc.vars["b"] == [2]
    first, second = doc["a"], doc["a"]
    first["k"] = "changed"
    assert first is not second and doc["a"] == second == {"k": "x1"} and doc.config is not doc.config
