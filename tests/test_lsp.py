"""`brindle lsp`, spoken to as an editor does: a subprocess over stdio and pygls's client."""

import asyncio
import os
import re
import subprocess
import sys

import pytest

pytest.importorskip("pygls")
from lsprotocol import types as t  # noqa: E402
from pygls.lsp.client import LanguageClient  # noqa: E402

import brindle  # noqa: E402
from brindle._lsp.positions import UTF8, UTF16, UTF32, LineMap  # noqa: E402

URI = "file:///tmp/app.brindle"
ENV = {"BRINDLE_TEST_SET": "from-env"}

GOOD = """\
# Service settings.
@required
name = $app + "-api"

[vars]
app = "inventory"
base = 8000

[server]
@required
@type: int
@min: 1024
@max: 65535
port = $base + 80
host = $ENV.BRINDLE_TEST_SET ?? "localhost"
bind = $ENV.BRINDLE_TEST_UNSET ?? "0.0.0.0"
started = $PID
origins = [
    "https://a",
    "https://b",
]

[limits]
@nonempty
per_client = #{
    @min: 1
    requests = 100,
}#
inline = #{ a = #{ b = 2 }#, "c d" = [#{ e = 3 }#] }#
"""

INVALID = """\
[a..b]
[server]
@min: 1024
port = 80
"""

# Non-ASCII before the interesting columns: é is 2 bytes and 1 UTF-16 unit, 🎉 4 bytes and 2 units.
WIDE = """\
[vars]
app = "x"

[s]
title = "é🎉" + $app
broken = "é🎉" + $nope
"ключ🎉" = 1
"""


def line_of(text, needle):
    return next(i for i, line in enumerate(text.splitlines()) if needle in line)


def position(text, needle, encoding=UTF16, skip=0):
    """Client position of the start of `needle` (after `skip` characters of it)."""
    offset = text.index(needle) + skip
    return t.Position(*LineMap(text, encoding).position(offset))


class Session:
    """One server process and one client; collects published diagnostics."""

    def __init__(self, encodings=None, pull=False):
        self.client = LanguageClient("brindle-tests", "1")
        self.published = []
        self.arrived = asyncio.Event()
        general = t.GeneralClientCapabilities(position_encodings=encodings) if encodings else None
        text_document = t.TextDocumentClientCapabilities(diagnostic=t.DiagnosticClientCapabilities()) if pull else None
        self.capabilities = t.ClientCapabilities(general=general, text_document=text_document)

        @self.client.feature(t.TEXT_DOCUMENT_PUBLISH_DIAGNOSTICS)
        def on_diagnostics(params):
            self.published.append(params)
            self.arrived.set()

    async def __aenter__(self):
        env = {k: v for k, v in os.environ.items() if k != "BRINDLE_TEST_UNSET"}
        await self.client.start_io(sys.executable, "-m", "brindle", "lsp", env={**env, **ENV})
        result = await self.client.initialize_async(t.InitializeParams(capabilities=self.capabilities))
        self.encoding = str(getattr(result.capabilities.position_encoding, "value", result.capabilities.position_encoding))
        self.server_capabilities = result.capabilities
        self.client.initialized(t.InitializedParams())
        return self

    async def __aexit__(self, *exc):
        try:
            await asyncio.wait_for(self.client.shutdown_async(None), 10)
            self.client.exit(None)
        finally:
            await self.client.stop()

    def open(self, text, uri=URI):
        self.client.text_document_did_open(t.DidOpenTextDocumentParams(t.TextDocumentItem(uri, "brindle", 1, text)))

    def change(self, text, version, uri=URI):
        self.client.text_document_did_change(t.DidChangeTextDocumentParams(
            t.VersionedTextDocumentIdentifier(version=version, uri=uri),
            [t.TextDocumentContentChangeWholeDocument(text=text)]))

    async def next_diagnostics(self):
        await asyncio.wait_for(self.arrived.wait(), 20)
        self.arrived.clear()
        return self.published[-1]

    def doc(self, uri=URI):
        return t.TextDocumentIdentifier(uri)

    async def hover(self, pos):
        result = await self.client.text_document_hover_async(t.HoverParams(self.doc(), pos))
        return result and result.contents.value

    async def pull(self):
        report = await self.client.text_document_diagnostic_async(t.DocumentDiagnosticParams(self.doc()))
        return report.items


def run(scenario, **session):
    async def main():
        async with Session(**session) as s:
            await asyncio.wait_for(scenario(s), 60)

    asyncio.run(main())


# -- positions -----------------------------------------------------------------

CONVERSIONS = [
    # line, column of "$" in code points, then the same column in UTF-8 bytes, UTF-16 units, code points
    ('k = "abc" + $v', 12, 12, 12, 12),
    ('k = "é" + $v', 10, 11, 10, 10),
    ('k = "🎉" + $v', 10, 13, 11, 10),
    ('k = "日本" + $v', 11, 15, 11, 11),
]


@pytest.mark.parametrize("line, index, in_utf8, in_utf16, in_utf32", CONVERSIONS)
def test_line_map_converts_between_offsets_and_positions(line, index, in_utf8, in_utf16, in_utf32):
    text = "first\r\n" + line + "\nlast"
    offset = len("first\r\n") + index
    assert text[offset] == "$"
    for encoding, column in ((UTF8, in_utf8), (UTF16, in_utf16), (UTF32, in_utf32)):
        lines = LineMap(text, encoding)
        assert lines.position(offset) == (1, column)
        assert lines.offset(1, column) == offset
        assert lines.from_char_column(2, index + 1) == (1, column)
        assert lines.from_byte_column(2, len(line[:index].encode()) + 1) == (1, column)
    # A column past the end of the line stops at its end; one inside a character at its start.
    assert LineMap(text, UTF16).offset(0, 99) == len("first")
    assert LineMap("🎉x", UTF16).offset(0, 1) == 0 and LineMap("🎉x", UTF8).offset(0, 3) == 0


@pytest.mark.parametrize("offered, chosen", [(None, UTF16), ([UTF16, UTF8], UTF8), ([UTF32], UTF16), ([UTF16], UTF16),
                                             ([UTF8], UTF8)])
def test_position_encoding_negotiation(offered, chosen):
    async def scenario(s):
        assert s.encoding == chosen

    run(scenario, encodings=offered)


# -- diagnostics ---------------------------------------------------------------

def test_diagnostics_pushed_on_open_and_change_and_cleared_on_close():
    async def scenario(s):
        s.open(INVALID)
        first = await s.next_diagnostics()
        assert first.version == 1
        by_message = {d.message: d for d in first.diagnostics}
        bad = next(d for m, d in by_message.items() if "invalid section name" in m)
        assert bad.severity == t.DiagnosticSeverity.Error and bad.source == "brindle" and bad.code
        assert bad.range.start == t.Position(0, 1)

        # A burst of edits is checked once it settles, for the last text.
        for version in range(2, 7):
            s.change(GOOD.replace("8000", str(8000 + version)), version)
        settled = await s.next_diagnostics()
        assert settled.version == 6 and [d for d in settled.diagnostics if d.severity == 1] == []
        assert len(s.published) < 6

        s.change(INVALID.replace("[a..b]\n", ""), 7)
        found = await s.next_diagnostics()
        (below,) = [d for d in found.diagnostics if "below @min" in d.message]
        assert below.range.start.line == line_of(INVALID, "port") - 1
        (note,) = below.related_information
        assert note.location.uri == URI and note.location.range.start.line == line_of(INVALID, "@min") - 1

        s.client.text_document_did_close(t.DidCloseTextDocumentParams(s.doc()))
        closed = await s.next_diagnostics()
        assert closed.uri == URI and list(closed.diagnostics) == []

    run(scenario)


@pytest.mark.parametrize("encoding", [UTF16, UTF8])
def test_diagnostics_on_request_with_multibyte_text(encoding):
    async def scenario(s):
        s.open(WIDE)
        items = await s.pull()
        (undefined,) = [d for d in items if "nope" in d.message]
        assert undefined.range.start == position(WIDE, "$nope", encoding)
        # The client asked for diagnostics itself, so none were pushed.
        await s.hover(t.Position(0, 0))
        assert s.published == []

    run(scenario, encodings=[encoding], pull=True)


# -- hover ---------------------------------------------------------------------

HOVERS = [
    ("port = ", 0, ["**server.port** = `8080`", "required · integer 1024–65535"]),
    ("$base", 1, ["`$base`: `8000`, document variable from `[vars]`, line 7"]),
    ("$ENV.BRINDLE_TEST_SET", 2, ['`BRINDLE_TEST_SET` is set: `"from-env"`', "branch 1 of 2: **used**"]),
    ('"localhost"', 1, []),  # a literal holds nothing to explain beyond its key
    ("$ENV.BRINDLE_TEST_UNSET", 0, ["**not set**", "branch 1 of 2: null, so branch 2 was used"]),
    ("$PID", 1, [f"`$PID`: built-in, the id of the process"]),
    ("@nonempty", 3, ["`@nonempty`: the value must not be empty or null"]),
    ("int\n", 0, ["`int`: an integer"]),
    ("per_client", 0, ["**limits.per_client** = `#{ requests = 100 }#`", "not empty"]),
    ("requests", 0, ["**limits.per_client.requests** = `100`", "≥ 1"]),
    ("[limits]", 2, ["**[limits]**"]),
    ("b = 2", 0, ["**limits.inline.a.b** = `2`"]),
    ('"c d"', 1, ['**limits.inline.c d** = `[#{ e = 3 }#]`']),
]


def test_hover():
    async def scenario(s):
        s.open(GOOD)
        for needle, skip, expected in HOVERS:
            text = await s.hover(position(GOOD, needle, skip=skip))
            for part in expected:
                assert part in text, (needle, text)
        assert await s.hover(position(GOOD, "# Service")) is None
        # Hovering the literal shows its key.
        assert "**server.host**" in await s.hover(position(GOOD, '"localhost"', skip=1))

    run(scenario)


@pytest.mark.parametrize("encoding", [UTF16, UTF8])
def test_hover_after_multibyte_text_and_on_invalid_document(encoding):
    async def scenario(s):
        s.open(WIDE)
        text = await s.hover(position(WIDE, "$app", encoding, skip=2))
        assert text.startswith('`$app`: `"x"`, document variable')
        result = await s.client.text_document_hover_async(t.HoverParams(s.doc(), position(WIDE, "$app", encoding)))
        end = position(WIDE, "$app", encoding, skip=4)
        assert result.range == t.Range(position(WIDE, "$app", encoding), end)
        # WIDE does not parse ($nope): keys still explain themselves, without a value.
        assert "not evaluated" in await s.hover(position(WIDE, "title", encoding))

    run(scenario, encodings=[encoding])


# -- navigation ----------------------------------------------------------------

def test_definition_and_references():
    async def scenario(s):
        s.open(GOOD)
        (target,) = await s.client.text_document_definition_async(t.DefinitionParams(s.doc(), position(GOOD, "$base", skip=2)))
        assert target.range.start == position(GOOD, "base = 8000")
        assert await s.client.text_document_definition_async(t.DefinitionParams(s.doc(), position(GOOD, "$PID"))) is None

        for start, declaration in ((position(GOOD, "app = "), True), (position(GOOD, "$app", skip=1), False)):
            found = await s.client.text_document_references_async(
                t.ReferenceParams(context=t.ReferenceContext(include_declaration=declaration), text_document=s.doc(),
                                 position=start))
            lines = [loc.range.start.line for loc in found]
            expected = [line_of(GOOD, "$app")] + ([line_of(GOOD, 'app = "')] if declaration else [])
            assert sorted(lines) == sorted(expected)

    run(scenario)


def test_document_symbols_and_folding():
    async def scenario(s):
        s.open(GOOD)
        symbols = await s.client.text_document_document_symbol_async(t.DocumentSymbolParams(s.doc()))
        assert [sym.name for sym in symbols] == ["name", "[vars]", "server", "limits"]
        server = symbols[2]
        assert server.kind == t.SymbolKind.Namespace
        assert [c.name for c in server.children] == ["port", "host", "bind", "started", "origins"]
        assert server.range.start.line == line_of(GOOD, "[server]") and server.range.end.line == GOOD.splitlines().index("]")
        assert [c.name for c in symbols[1].children] == ["app", "base"]
        block, _ = symbols[3].children
        assert block.kind == t.SymbolKind.Object and [c.name for c in block.children] == ["requests"]

        folds = await s.client.text_document_folding_range_async(t.FoldingRangeParams(s.doc()))
        spans = {(f.start_line, f.end_line) for f in folds}
        assert (line_of(GOOD, "origins"), line_of(GOOD, "origins") + 3) in spans
        assert (line_of(GOOD, "per_client"), line_of(GOOD, "}#")) in spans
        assert (line_of(GOOD, "[server]"), line_of(GOOD, "origins") + 3) in spans

        s.open(INVALID, uri="file:///tmp/bad.brindle")
        bad = await s.client.text_document_document_symbol_async(
            t.DocumentSymbolParams(t.TextDocumentIdentifier("file:///tmp/bad.brindle")))
        assert [sym.name for sym in bad] == ["server"]

    run(scenario)


@pytest.mark.parametrize("encoding", [UTF16, UTF8])
def test_navigation_and_outline_with_multibyte_text(encoding):
    async def scenario(s):
        s.open(WIDE)  # does not parse: $nope is undefined
        use = position(WIDE, "$app", encoding, skip=1)
        (target,) = await s.client.text_document_definition_async(t.DefinitionParams(s.doc(), use))
        assert target.range == t.Range(t.Position(1, 0), t.Position(1, 3))
        found = await s.client.text_document_references_async(t.ReferenceParams(
            context=t.ReferenceContext(include_declaration=False), text_document=s.doc(), position=t.Position(1, 1)))
        assert [loc.range for loc in found] == [t.Range(position(WIDE, "$app", encoding), position(WIDE, "$app", encoding, 4))]
        symbols = await s.client.text_document_document_symbol_async(t.DocumentSymbolParams(s.doc()))
        wide = symbols[-1].children[-1]
        assert wide.name == "ключ🎉"
        assert wide.selection_range.end == position(WIDE, '" = 1', encoding, 1)

    run(scenario, encodings=[encoding])


# -- completion ----------------------------------------------------------------

COMPLETIONS = [
    ("@", ["required", "type", "min", "tag"]),
    ("@ty", ["type"]),
    ("@type: ", ["int", "duration", "list[string]", "url"]),
    ("x = $", ["app", "base", "ENV.", "NOW"]),
    ("x = $ENV.", ["BRINDLE_TEST_SET"]),
    ('x = "é🎉" + $', ["app", "base"]),
    ('@enum: ["é🎉"]\n@', ["required"]),
]


@pytest.mark.parametrize("typed, expected", COMPLETIONS, ids=[c[0] for c in COMPLETIONS])
def test_completion(typed, expected):
    async def scenario(s):
        text = GOOD + "\n[more]\n" + typed
        s.open(text)
        end = LineMap(text, UTF16).position(len(text))
        result = await s.client.text_document_completion_async(t.CompletionParams(s.doc(), t.Position(*end)))
        labels = {item.label.lstrip("@") for item in result.items}
        assert set(expected) <= labels
        # Each item replaces the partial name typed so far, and only that.
        partial = len(re.search(r"[\w\[\]]*$", typed).group(0))
        for item in result.items:
            assert item.text_edit.range == t.Range(t.Position(end[0], end[1] - partial), t.Position(*end))

    run(scenario)


def test_no_completion_in_plain_values():
    async def scenario(s):
        s.open(GOOD)
        params = t.CompletionParams(s.doc(), position(GOOD, '"localhost"', skip=3))
        assert await s.client.text_document_completion_async(params) is None

    run(scenario)


# -- formatting ----------------------------------------------------------------

@pytest.mark.skipif(not hasattr(brindle, "format"), reason="brindle.format is not part of this build yet")
def test_formatting():
    async def scenario(s):
        messy = "[server]\nport=8080   \n\n\n\nname =   \"é🎉\"\n"
        s.open(messy)
        assert s.server_capabilities.document_formatting_provider
        edits = await s.client.text_document_formatting_async(
            t.DocumentFormattingParams(s.doc(), t.FormattingOptions(tab_size=4, insert_spaces=True)))
        (edit,) = edits
        assert edit.new_text == brindle.format(messy)
        assert edit.range.start == t.Position(0, 0) and edit.range.end == t.Position(*LineMap(messy).position(len(messy)))

    run(scenario)


def test_a_buffer_holding_a_lone_surrogate_is_reported_not_failed():
    # An editor's buffer can hold what no file can; every feature still answers.
    text = '[server]\nname = "a\ud800b"\nport = $nope\n'

    async def scenario(s):
        s.open(text)
        items = await s.pull()
        assert [(d.code, d.range.start.line) for d in items] == [("B100", 1), ("B102", 2)]
        assert "**server.name**" in await s.hover(t.Position(1, 1))
        edits = await s.client.text_document_formatting_async(
            t.DocumentFormattingParams(s.doc(), t.FormattingOptions(tab_size=4, insert_spaces=True)))
        assert not edits

    run(scenario, pull=True)


def test_lsp_without_pygls_explains_how_to_install():
    code = "import sys; sys.modules['pygls'] = None; from brindle.cli import main; sys.exit(main(['lsp']))"
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 2
    assert "pip install 'brindle[lsp]'" in result.stderr
