"""BrindleDocument: the mapping protocol, path resolution and properties."""

import pytest

from brindle import parse

SERVER = 'title = "demo"\n[server]\nport = 8080\nhost = "h"\n[server.tls]\non = true\n'
SERVER_DICT = {"host": "h", "port": 8080, "tls": {"on": True}}


@pytest.fixture
def doc():
    return parse(SERVER)


def test_root_table_operations(doc):
    assert doc.keys() == list(doc) == ["server", "title"]
    assert doc.values() == [SERVER_DICT, "demo"]
    assert doc.items() == [("server", SERVER_DICT), ("title", "demo")]
    assert all(type(item) is tuple for item in doc.items())
    assert doc["server"] == SERVER_DICT
    assert len(doc) == 2 and bool(doc)
    assert "server" in doc and "server.port" not in doc
    assert dict(doc) == doc.config == {"server": SERVER_DICT, "title": "demo"}


SENTINEL = object()


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda d: d.get("title", "x"), "demo"),
        (lambda d: d.get("server.port"), None),  # get never resolves paths
        (lambda d: d.get("missing", 0), 0),
        (lambda d: d.get(key="missing", default=SENTINEL), SENTINEL),
        (lambda d: d.resolve("server.port"), 8080),
        (lambda d: d.resolve("server.tls"), {"on": True}),
        (lambda d: d.resolve(key_path="server.tls.on"), True),
        (lambda d: d.resolve("server.port.x", 1), 1),
        (lambda d: d.resolve("title.x", 1), 1),
        (lambda d: d.resolve("server..port"), None),
        (lambda d: d.resolve("server.", SENTINEL), SENTINEL),
        (lambda d: d.resolve("", SENTINEL), SENTINEL),
        (lambda d: d.resolve(" server.port", SENTINEL), SENTINEL),
    ],
)
def test_get_and_resolve(doc, call, expected):
    result = call(doc)
    assert result is expected if expected is SENTINEL else result == expected


def test_resolve_walks_dicts_only():
    doc = parse('a = [1, 2]\n"" = 1\nd = #{ "" = 5, 0 = #{ "" = 6 }# }#\n')
    assert doc.resolve("a.0") is None  # arrays are never indexed
    assert doc.resolve("d.0") == {"": 6}
    assert (doc.resolve(""), doc.resolve("d."), doc.resolve("d.0.")) == (1, 5, 6)


@pytest.mark.parametrize("bad", [1, None, b"title"])
def test_text_arguments(doc, bad):
    with pytest.raises(KeyError) as info:
        doc["nope"]
    assert info.value.args == ("nope",)
    for call in (doc.__getitem__, doc.__contains__, doc.get):
        with pytest.raises(TypeError, match="'key'"):
            call(bad)
    with pytest.raises(TypeError, match="'key_path'"):
        doc.resolve(bad)
    assert doc[type("Key", (str,), {})("title")] == "demo"


def test_call_shapes(doc):
    with pytest.raises(TypeError):
        doc.get(name="title")
    with pytest.raises(TypeError):
        doc.get("title", None, None)
    with pytest.raises(TypeError):
        doc.keys(1)


def test_empty_document():
    doc = parse("")
    assert len(doc) == 0 and not doc and list(doc) == []
    assert doc.config == doc.vars == doc.meta == {}
    assert repr(doc) == "BrindleDocument(sections=[])"


@pytest.mark.parametrize(
    "source, text",
    [
        ("b = 1\na = 2", '["a", "b"]'),
        ('"a\\"b" = 1\n[s]', '["a\\"b", "s"]'),
        ('["a\u0001\\tb"]', '["a\\u{1}\\\\tb"]'),
    ],
)
def test_repr(source, text):
    assert repr(parse(source)) == f"BrindleDocument(sections={text})"


def test_iteration_is_a_snapshot_and_exhausts_for_good(doc):
    iterator = iter(doc)
    assert iter(iterator) is iterator and iter(doc) is not iterator
    assert next(iterator) == "server"
    del doc
    assert list(iterator) == ["title"]
    for _ in range(2):
        with pytest.raises(StopIteration):
            next(iterator)


def test_results_are_fresh_copies():
    doc = parse("[vars]\nx = [1]\n[s]\nk = [1, 2]\n")
    config, variables = doc.config, doc.vars
    config["s"]["k"].append(3)
    variables["x"].append(2)
    assert doc.config == {"s": {"k": [1, 2]}} and doc.vars == {"x": [1]}
    assert doc.config is not doc.config


def test_vars_and_sections():
    doc = parse('a = 1\n[vars]\nb = 2\na = "x" + $b\n[a]\nk = $a\n[b.c]\n')
    assert doc.vars == {"a": "x2", "b": 2} and list(doc.vars) == ["a", "b"]
    # A later section header replaces a root key of the same name.
    assert doc.config == {"a": {"k": "x2"}, "b": {"c": {}}}


def test_identity_semantics():
    doc = parse("")
    assert doc == doc and doc != parse("")
    assert hash(doc) == hash(doc)
