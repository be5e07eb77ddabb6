"""The server's features answer for any text and any position: nothing an editor sends may crash them."""

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

pytest.importorskip("pygls")
from brindle._lsp import findings, index  # noqa: E402
from brindle._lsp.positions import UTF8, UTF16, LineMap  # noqa: E402
from brindle._lsp.server import _completions, _Document, _hover_text, _symbol  # noqa: E402

PIECES = st.sampled_from([
    "[s]", "[vars]", '["a.b" . c]', "[a..b]", "k = ", "v = ", "@min: 1", "@type: ", "@enum: [a, b]", "@", "@x(",
    "$v", "$ENV.HOME", "$ENV.", "$", "$NOW", "??", " + ", "1", "1.5", '"s"', '"é🎉"', "#{", "}#", "[", "]", ",",
    "# c", "\n", "\r\n", " ", "=", "null", "x = #{", "\n}#\n", "\\", "\ud800", "\udfff",
])
TEXTS = st.lists(PIECES, max_size=40).map("".join)


@settings(max_examples=200, deadline=None)
@given(TEXTS, st.sampled_from([UTF8, UTF16]))
@example("k = ??$v", UTF8)
@example('k = "\ud800" + $v\n[s\n@min: 1\nj = 0', UTF16)
@example("@type: [s]\nk = 1", UTF8)
def test_every_feature_answers_at_every_position(text, encoding):
    state = _Document(text, encoding)
    ix = state.index
    for entry in ix.top:
        _symbol(state, entry)
    found = findings.findings(text, None)
    for finding in found:
        assert 1 <= finding.line and 1 <= finding.column
    # A lone surrogate is reported first, at the first one.
    if any("\ud800" <= c <= "\udfff" for c in text):
        first = found[0]
        before = "\n".join(text.split("\n")[: first.line - 1] + [text.split("\n")[first.line - 1][: first.column]])
        assert first.code == "B100" and "\ud800" <= before[-1] <= "\udfff"
        assert not any("\ud800" <= c <= "\udfff" for c in before[:-1])
    for offset in range(len(text) + 1):
        _hover_text(state, offset)
        _completions(state, offset)
    lines = LineMap(text, encoding)
    for offset in range(len(text) + 1):
        line, column = lines.position(offset)
        assert lines.offset(line, column) == offset or text[offset - 1 : offset + 1] == "\r\n"


@pytest.mark.parametrize("annotations, words", [
    ([("type", "int"), ("min", 1), ("max", 9)], "integer 1–9"),
    ([("type", "blob")], "type blob (not checked)"),
    # A list argument names no type: shown as written, never a crash.
    ([("type", ["s"])], "type ['s'] (not checked)"),
    ([("type", [])], "type [] (not checked)"),
])
def test_type_words_for_any_argument(annotations, words):
    from types import SimpleNamespace

    from brindle._lsp.describe import annotation_words

    assert annotation_words([SimpleNamespace(name=n, arg=a) for n, a in annotations]) == words
