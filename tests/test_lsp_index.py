"""The editor index assigns key paths, annotations and variables exactly as the parser does."""

import re
from pathlib import Path

import pytest

import brindle
from brindle._lsp import index

ROOT = Path(__file__).resolve().parent.parent

SOURCES = {
    "quoted segments": '[a."b.c" . d]\nk = 1\n["x y"]\n"q k" = 2\n',
    "merged sections": "[s]\na = 1\n[t]\nb = 2\n[s]\nc = 3\n",
    "root keys and vars between": "top = $v\n[vars]\nv = 1\nw = $v + 1\n[s]\n@min: 1\nk = $w\n",
    "annotations before vars attach to the next section": "@required\n[vars]\nv = 1\n[s]\nk = 1\n",
    "block with annotated entries": "[s]\n@nonempty\nb = #{\n  @min: 1\n  x = 1,\n  y = 2\n}#\nafter = 3\n",
    "block inside block and headers ignored": "b = #{\n  x = 1\n  [ignored]\n  c = #{\n  y = 2\n}#\nz = 3\n",
    "joined values": "a = [\n  1, # one\n  2,\n]\nd = #{ k = [1,\n 2] }#\nnext = 1\n",
    "duplicate key keeps earlier annotations": "@min: 1\nk = 1\nk = 2\n",
    "ignored lines": "key: value\n[[t]]\nx.y = 1\n@max: 5\nz = 1\n",
    "crlf and unicode": '[sé]\r\nnäme = "日本" # c\r\n"ü" = 1\r\n',
    "quoted keys with points": '"a.b" = 1\n[s]\n"x.y.z" = 2\n["p.q" . r]\n"\\"t.u\\"" = 3\n',
    "hash inside strings": 'k = "a # b" # real\nh = "#{ not a dict }#"\n@pattern: "^#[0-9]+$"\np = "#1"\n',
    "dollar inside strings": '[vars]\nv = 1\n[s]\nk = "$v is not a ref" + $v\nj = ["$v", $v, "$ENV.X"]\n',
    "blocks with quoted keys": 'b = #{\n  "x.y" = 1, # c\n  @min: 0\n  "q \\" k" = #{ "i.j" = [1,\n 2] }#,\n}#\n',
    "multi-line arrays and dicts": 'a = [\n  "x # y",\n  [1,\n   2], # two\n]\nb = #{ k = [1,\n  2], "q.k" = 3 }#\nc = 1\n',
    "crlf blocks and arrays": '[s]\r\na = [\r\n 1,\r\n]\r\nb = #{\r\n  c = $v\r\n}#\r\n[vars]\r\nv = "é"\r\n',
    "non-ascii names": '["ké.y" . ü]\n"日本.x" = "é 🎉"\nλ = 1\n"🎉" = $ENV.日本 ?? 2\n',
    "invalid lines": 'k: v\n= 1\n"open = 1\n[ ]\n}#\nx = 1 # c\n[a] junk\ny =\n',
}
SOURCES.update({path.name: path.read_text(encoding="utf-8") for path in sorted((ROOT / "examples").glob("*.brindle"))})


def resolves(value, path):
    """Whether the dotted `path` leads to a value, whatever points the keys themselves hold."""
    if path == "":
        return True
    if not isinstance(value, dict):
        return False
    return any(path == key or (path.startswith(key + ".") and resolves(value[key], path[len(key) + 1 :]))
               for key in value)


def annotation_names(ix, lines):
    return [re.match(r"@(\w+)", ix.annotation_text(line)).group(1) for line in lines]


def byte_span(text, span):
    return tuple(len(text[:offset].encode("utf-8")) for offset in span)


def same_value(source, span, parsed):
    """Whether the index's value span holds the value the parser's span holds. The parser's may run on
    over a block entry's comma and a trailing comment; the index's stops at the value."""
    data = source.encode("utf-8")
    mine, theirs = source[span[0] : span[1]], data[parsed[0] : parsed[1]].decode("utf-8")
    return byte_span(source, span)[0] == parsed[0] and theirs.startswith(mine) and \
        re.fullmatch(r"\s*,?\s*(#.*)?", theirs[len(mine) :], re.S) is not None


def written_key(name):
    """The ways a key may be written: bare, or quoted with its quotes and backslashes escaped."""
    return name, '"' + name.replace("\\", "\\\\").replace('"', '\\"') + '"'


@pytest.mark.parametrize("source", SOURCES.values(), ids=SOURCES.keys())
def test_index_agrees_with_the_parser(source):
    doc = brindle.parse(source)
    ix = index.build(source)
    keys = {path: entry for path, entry in ix.by_path.items() if entry.kind in ("key", "block")}
    for path, entry in ix.by_path.items():
        assert resolves(doc.config, path), path
        assert annotation_names(ix, entry.annotations) == [a.name for a in doc.annotations(path)], path
        assert source[entry.name_span[0] : entry.name_span[1]] in written_key(entry.name) or entry.kind == "section"
    # Every annotated path the parser knows is in the index.
    assert set(doc.meta) <= set(ix.by_path)
    assert set(ix.variables) == set(doc.vars)
    for entry in keys.values():
        assert entry.line is not None and entry.line.first == entry.first_line
    # Keys and values stand where the parser found them (looked up by keys: a key may hold points).
    for path, entry in keys.items():
        assert byte_span(source, entry.name_span) == doc._span(1, entry.keys), path
        if entry.kind == "key":
            assert same_value(source, entry.value_span, doc._span(0, entry.keys)), path
    for name, definitions in ix.variables.items():
        assert same_value(source, definitions[-1].value_span, doc._span(2, name)), name
    # Every reference the parser followed is in the index, with its kind, name and place; without `??`
    # (which may leave a side unread) there are no others.
    kinds = {index.REF_VAR: 0, index.REF_BUILTIN: 1, index.REF_ENV: 2}
    found = {(kinds[r.kind], r.name, *byte_span(source, r.span)) for r in ix.refs}
    followed = set(doc._references())
    assert followed <= found
    if "??" not in source:
        assert found == followed


def test_refs_and_their_owners():
    source = '[vars]\na = 1\nb = $a\n[s]\nk = $b + $ENV.HOME ?? $NOW\n'
    ix = index.build(source)
    assert [(r.name, r.kind, r.owner.path) for r in ix.refs] == [
        ("a", index.REF_VAR, "b"), ("b", index.REF_VAR, "s.k"), ("HOME", index.REF_ENV, "s.k"),
        ("NOW", index.REF_BUILTIN, "s.k")]
    assert ix.definition(ix.refs[1]).name_span == (source.index("b = "), source.index("b = ") + 1)


def test_a_variable_reads_the_definition_above_it():
    source = "[vars]\nv = 1\nw = $v\nv = 2\n[s]\nk = $v\n"
    ix = index.build(source)
    first, second = ix.variables["v"]
    assert ix.definition(ix.refs[0]) is first and ix.definition(ix.refs[1]) is second


def test_folds_and_extents():
    source = "[s]\na = [\n  1,\n]\n\nb = #{\n  x = 1\n}#\n\n# trailing comment\n\n[t]\nc = 1\n"
    ix = index.build(source)
    assert ix.folds == [(0, 9), (1, 3), (5, 7), (11, 12)]
    s, t = [e for e in ix.top if e.kind == "section"]
    assert (s.first_line, s.last_line, t.first_line, t.last_line) == (0, 9, 11, 12)


def test_an_invalid_header_keeps_the_section():
    ix = index.build("[s]\na = 1\n[x..y]\nb = 2\n")
    assert sorted(ix.by_path) == ["s", "s.a", "s.b"]
