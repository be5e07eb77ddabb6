"""The Pygments lexer: one row per token kind, the whole token stream of a small source."""

import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

pygments = pytest.importorskip("pygments")
from pygments.lexers import get_lexer_by_name, get_lexer_for_filename  # noqa: E402
from pygments.token import Comment, Error, Keyword, Name, Number, Operator, Punctuation, String, Text  # noqa: E402
from pygments.token import Whitespace  # noqa: E402

from brindle._pygments import TOKEN_TYPES, BrindleLexer  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.brindle"))

P, Op, S, Dec, Attr = Punctuation, Operator, String.Double, Name.Decorator, Name.Attribute


def key(name, *value):
    return [(Attr, name), (Op, "=")] + list(value)


ROWS = {
    "section": ("[server]\n", [(P, "["), (Name.Namespace, "server"), (P, "]")]),
    "dotted section": ("[a . b]\n", [(P, "["), (Name.Namespace, "a"), (P, " . "), (Name.Namespace, "b"), (P, "]")]),
    "quoted segment": ('[a."b.c"]\n', [(P, "["), (Name.Namespace, "a"), (P, "."), (Name.Namespace, '"b.c"'), (P, "]")]),
    "vars header": ("[vars]\nx = 1\n", [(P, "["), (Keyword.Namespace, "vars"), (P, "]"), (Name.Variable, "x"), (Op, "="),
                                        (Number.Integer, "1")]),
    "section after vars": ("[vars]\n[s]\nx = 1\n", [(P, "["), (Keyword.Namespace, "vars"), (P, "]"), (P, "["),
                                                   (Name.Namespace, "s"), (P, "]")] + key("x", (Number.Integer, "1"))),
    "bare key": ("my-key_2 = 1\n", key("my-key_2", (Number.Integer, "1"))),
    "quoted key": ('"a \\" b" = 1\n', key('"a \\" b"', (Number.Integer, "1"))),
    "string escapes": ('s = "a\\n\\t\\"\\\\\\qz"\n', key("s", (S, '"a'), (String.Escape, "\\n"), (String.Escape, "\\t"),
                                                     (String.Escape, '\\"'), (String.Escape, "\\\\"), (S, '\\qz"'))),
    "unterminated string": ('s = "open\n', key("s", (Error, '"open'))),
    "integers": ("n = [1_000, -5, 0x1F, 0o17, 0b101]\n", key("n", (P, "["), (Number.Integer, "1_000"), (P, ","), (Op, "-"),
                 (Number.Integer, "5"), (P, ","), (Number.Hex, "0x1F"), (P, ","), (Number.Oct, "0o17"), (P, ","),
                 (Number.Bin, "0b101"), (P, "]"))),
    "floats": ("f = [1.5, .5, 5., 1e5, 1_000.5]\n", key("f", (P, "["), (Number.Float, "1.5"), (P, ","), (Number.Float, ".5"),
               (P, ","), (Number.Float, "5."), (P, ","), (Number.Float, "1e5"), (P, ","), (Number.Float, "1_000.5"), (P, "]"))),
    "constants": ("c = [true, false, null, TRUE]\n", key("c", (P, "["), (Keyword.Constant, "true"), (P, ","),
                  (Keyword.Constant, "false"), (P, ","), (Keyword.Constant, "null"), (P, ","), (Text, "TRUE"), (P, "]"))),
    "multi-line array": ("a = [\n  1, # one\n  2,\n]\n", key("a", (P, "["), (Number.Integer, "1"), (P, ","),
                         (Comment.Single, "# one"), (Number.Integer, "2"), (P, ","), (P, "]"))),
    "inline dict": ('d = #{ a = 1, "b c" = [2] }#\n', key("d", (P, "#{"), (Attr, "a"), (Op, "="), (Number.Integer, "1"),
                    (P, ","), (Attr, '"b c"'), (Op, "="), (P, "["), (Number.Integer, "2"), (P, "]"), (P, "}#"))),
    "block": ("b = #{\n  x = 1,\n}#\n", key("b", (P, "#{")) + key("x", (Number.Integer, "1"), (P, ",")) + [(P, "}#")]),
    "variables": ("v = $port + $NOW\n", key("v", (Name.Variable, "$port"), (Op, "+"), (Name.Builtin, "$NOW"))),
    "environment": ("e = $ENV.HOME_DIR ?? \"/\"\n", key("e", (Name.Variable.Global, "$ENV.HOME_DIR"), (Op, "??"), (S, '"/"'))),
    "operators": ("o = 1 + 2 - 3 * 4 / 5\n", key("o", (Number.Integer, "1"), (Op, "+"), (Number.Integer, "2"), (Op, "-"),
                  (Number.Integer, "3"), (Op, "*"), (Number.Integer, "4"), (Op, "/"), (Number.Integer, "5"))),
    "annotation bare": ("@required\n", [(Dec, "@required")]),
    "annotation parens": ("@deprecated(use other)\n", [(Dec, "@deprecated"), (P, "("), (String, "use other"), (P, ")")]),
    "annotation number": ("@min: -3\n@max: 1.5\n", [(Dec, "@min"), (P, ":"), (Number, "-3"), (Dec, "@max"), (P, ":"),
                                                     (Number, "1.5")]),
    "annotation string": ('@pattern: "[a-z]#"  # why\n', [(Dec, "@pattern"), (P, ":"), (S, '"[a-z]#"'),
                                                          (Comment.Single, "# why")]),
    "annotation list": ('@enum: [a, "b"]\n', [(Dec, "@enum"), (P, ":"), (P, "["), (String, "a"), (P, ","), (S, '"b"'),
                                              (P, "]")]),
    "annotation type": ("@type: list[int]\n", [(Dec, "@type"), (P, ":"), (Keyword.Type, "list[int]")]),
    "annotation tag": ("@tag: env=prod\n", [(Dec, "@tag"), (P, ":"), (String, "env=prod")]),
    "annotation malformed": ("@min 5\n", [(Dec, "@min"), (Error, "5")]),
    "comment": ("# whole line\nk = 1 # trailing\n", [(Comment.Single, "# whole line")] + key("k", (Number.Integer, "1"),
                (Comment.Single, "# trailing"))),
    "hash in string": ('k = "a # b"\n', key("k", (S, '"a # b"'))),
    "ignored lines": ("key: value\n[[t]]\nx.y = 1\n; note\nk =\n", [(Comment.Ignored, "key: value"), (Comment.Ignored, "[[t]]"),
                      (Comment.Ignored, "x.y = 1"), (Comment.Ignored, "; note"), (Comment.Ignored, "k =")]),
}


def visible(source):
    return [(kind, text) for kind, text in BrindleLexer().get_tokens(source) if kind is not Whitespace]


@pytest.mark.parametrize("source, expected", ROWS.values(), ids=ROWS.keys())
def test_token_kinds(source, expected):
    assert visible(source) == expected


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda p: p.name)
def test_examples_have_no_error_tokens(path):
    source = path.read_text(encoding="utf-8")
    tokens = list(BrindleLexer().get_tokens(source))
    assert "".join(text for _, text in tokens) == source
    assert [text for kind, text in tokens if kind in Error or kind in Comment.Ignored] == []


def test_registered_by_entry_point():
    assert isinstance(get_lexer_by_name("brindle"), BrindleLexer)
    assert isinstance(get_lexer_for_filename("app.brindle"), BrindleLexer)


def test_pygmentize_command():
    path = ROOT / "examples" / "webservice.brindle"
    result = subprocess.run([sys.executable, "-m", "pygments", "-l", "brindle", "-f", "raw", str(path)],
                            capture_output=True, text=True, check=True)
    kinds = {line.split("\t")[0] for line in result.stdout.splitlines() if "\t" in line}
    assert "Token.Name.Decorator" in kinds and "Token.Name.Namespace" in kinds
    assert not any(kind.startswith("Token.Error") for kind in kinds)


def test_import_brindle_loads_no_editor_dependency():
    code = "import sys, brindle; print(sorted(m for m in ('pygments', 'pygls', 'lsprotocol') if m in sys.modules))"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert result.stdout.strip() == "[]"


LINE_PARTS = st.sampled_from(['k = ', '"s\\"', '#{', '}#', '[', ']', '@x: ', '$ENV.A', '??', ' # c', '\n', '\r\n',
                              '[vars]', 'é', ',', '=', '(', '1.5', '\\', ' '])


def test_rows_use_every_token_type_and_no_other():
    emitted = set()
    for source, _ in ROWS.values():
        emitted |= {kind for _, kind, _ in BrindleLexer().get_tokens_unprocessed(source)}
    assert emitted == TOKEN_TYPES


@settings(max_examples=300, deadline=None)
@given(st.lists(LINE_PARTS, max_size=30).map("".join))
def test_tokens_cover_the_source(source):
    # Every character belongs to exactly one token, in order, and each token has a known type.
    pos = 0
    for start, kind, text in BrindleLexer().get_tokens_unprocessed(source):
        assert start == pos and text and kind in TOKEN_TYPES
        pos += len(text)
    assert pos == len(source)
