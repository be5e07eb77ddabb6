"""dumps writes text that reads back as what it was given, or refuses."""

import pytest

from brindle import dumps, parse, validate_all

QUOTE_VAR = '[vars]\nq = "\\""\n\n'


def same(a, b):
    """Equal values, telling bools, ints and floats apart."""
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(map(same, a, b))
    return type(a) is type(b) and a == b


@pytest.mark.parametrize("data", [
    # a string holding a quote with an operator byte after it
    {"k": 'a"+b'}, {"k": '"'}, {"k": 'x"-1"*/?'}, {"s": {"k": ['"+', {"d": 'a"b+c'}]}}, {"k": '"\\"+\\'},
    {"k": 'a"]+b', "l": ['a"]', "b+"]},
    # inline-dict keys holding a quote or a backslash, below a block
    {"s": {"t": {"u": {'k"': 1}}}}, {"s": {"t": {"u": {"k\\": 1, 'x"+': "y"}}}},
    {"s": {"t": {"u": {"v": {'"': {}}}}}}, {"s": {"t": {"u": {'#"x.y"': 1, " ": {}}}}},
    # root dicts that no header names: written as top-level blocks
    {"": {"k": 1}}, {"a]": {"k": 1, "t": {"u": 2}}}, {"[x]": {}, "y": 1}, {"": {"a": {"b": [1]}}},
    # section names a header reads only in another form
    {"s": {"a\\": {"b": {"c": {"d": 1}}}}}, {"vars": {"k": 1}}, {"x.y": {"z": {"w": {"v": {}}}}},
])  # fmt: skip
def test_dicts_read_back(data):
    text = dumps(data)
    doc = parse(text)
    assert same(doc.config, data), text
    assert dumps(doc) == text


@pytest.mark.parametrize("source", [
    # the document lends its own variable holding a quote, and keeps its variables exactly
    QUOTE_VAR + '[s]\nk = "a" + $q + "+b"\n',
    QUOTE_VAR + 'v = "x" + $q + "-y"\n',
    # annotations four and five levels down
    "[a.b.c]\n@min: 1\nd = 5\n", "[a.b.c.d]\n@required\ne = 1\n@enum: [x, y]\nf = \"x\"\n",
    "[a]\nb = #{\n  @min: 1\n  c = 2\n}#\n[a.b.d]\n@max: 3\ne = 4\n",
    # section names a header carries only quoted, or only bare
    '["a\\\\"]\n@min: 1\nk = 1\n[x."y.z"]\nk = 2\n',
    # sections below a segment that a header carries only in a form of its own
    '[a."x.y"z\\".b.c.e"d]\n', '[a."p.q"r\\.b.c.e"d]\n', '[a."x.y"z\\".b.c]\n@min: 1\nk = 1\n',
    '[k."p.q"r\\."s.t"u\\".v.w.e"d]\nn = 1\n',
    # an inline key quoted as it is, where no section holds its dict
    '[vars]\nv = #{ "c\\" x "a\\"b\\" = 1 }#\n', 'k = [#{ "c\\" x "a\\"b\\" = 1 }#]\n',
])  # fmt: skip
def test_documents_read_back(source):
    doc = parse(source)
    text = dumps(doc)
    back = parse(text)
    assert same(back.config, doc.config) and same(back.vars, doc.vars), text
    assert {k: repr(v) for k, v in back.meta.items()} == {k: repr(v) for k, v in doc.meta.items()}, text
    assert sorted(map(str, validate_all(back))) == sorted(map(str, validate_all(doc)))
    assert dumps(back) == text


@pytest.mark.parametrize("source, stale", [
    ("a = #{\n  @min: 10\n  x = 5\n}#\na = 2\n", "a.x"),
    # the dict holding the replaced entry is still there: it stays a block
    ("[s.t.u]\n@min: 10\nx = 5\n[s]\nt = 0\n[s.t.u]\n", "s.t.u.x"),
])  # fmt: skip
def test_annotations_of_replaced_entries_stay_out_of_the_text(source, stale):
    # The builder keeps what the file wrote (the annotation stays in meta
    # after its entry is replaced); nothing validates it and no text can
    # attach it to an entry that is gone, so dumps leaves it out.
    doc = parse(source)
    assert [x.arg for x in doc.meta[stale]] == [10] and validate_all(doc) == []
    back = parse(text := dumps(doc))
    assert same(back.config, doc.config) and stale not in back.meta and validate_all(back) == []
    assert {k: repr(v) for k, v in back.meta.items()} == {k: repr(v) for k, v in doc.meta.items() if k != stale}
    assert dumps(back) == text and "[s.t]" not in text


@pytest.mark.parametrize("data, words", [
    ({"a\nb": 1}, "line feed"), ({"s": {"a\nb": 1}}, "line feed"), ({"s\n": {"k": 1}}, "line feed"),
    ({"s": [{'a"b': 1}]}, "dict key"), ({"s": [{"k": 1, 'x"': {"y": 2}}]}, "dict key"), ({"k": [{'#"x': 1}]}, "dict key"),
])  # fmt: skip
def test_what_no_text_carries_is_refused(data, words):
    with pytest.raises(ValueError, match=words):
        dumps(data)


def test_a_document_without_a_quote_variable_is_refused():
    doc = parse("[vars]\nv = 1\n[s]\nk = $ENV.X\n", env={"X": 'a"+b'})
    with pytest.raises(ValueError, match="double quote"):
        dumps(doc)
    assert dumps(doc.config) == '[vars]\nquote = "\\""\n\n[s]\nk = "a" + $quote + "+b"\n'
