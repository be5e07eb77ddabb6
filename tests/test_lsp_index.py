"""The editor index assigns key paths, annotations and variables exactly as the parser does."""

import re
from pathlib import Path

import pytest

import brindle
from brindle import _scan
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


def annotation_names(lines):
    return [re.match(r"@(\w+)", line.annotation).group(1) for line in lines]


@pytest.mark.parametrize("source", SOURCES.values(), ids=SOURCES.keys())
def test_index_agrees_with_the_parser(source):
    doc = brindle.parse(source)
    ix = index.build(source)
    keys = {path: entry for path, entry in ix.by_path.items() if entry.kind in ("key", "block")}
    for path, entry in ix.by_path.items():
        assert resolves(doc.config, path), path
        assert annotation_names(entry.annotations) == [a.name for a in doc.annotations(path)], path
        assert source[entry.name_span[0] : entry.name_span[1]] in (entry.name, f'"{entry.name}"') or entry.kind == "section"
    # Every annotated path the parser knows is in the index.
    assert set(doc.meta) <= set(ix.by_path)
    assert set(ix.variables) == set(doc.vars)
    for entry in keys.values():
        assert entry.line is not None and entry.line.first == entry.first_line


def test_refs_and_their_owners():
    source = '[vars]\na = 1\nb = $a\n[s]\nk = $b + $ENV.HOME ?? $NOW\n'
    ix = index.build(source)
    assert [(r.name, r.kind, r.owner.path) for r in ix.refs] == [
        ("a", _scan.REF_VAR, "b"), ("b", _scan.REF_VAR, "s.k"), ("HOME", _scan.REF_ENV, "s.k"),
        ("NOW", _scan.REF_BUILTIN, "s.k")]
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
