"""`brindle lsp`: the language server, over standard input and output.

Diagnostics are pushed on open and (debounced) on change, and cleared on
close; clients that ask for diagnostics themselves (`textDocument/diagnostic`)
get them on request instead. Hover, go to definition, references, document
symbols, folding ranges and completion work from the editor index;
formatting calls `brindle.format`. Positions use UTF-8 when the client
offers it and UTF-16 otherwise.
"""

from __future__ import annotations

import asyncio
import os
import re
from dataclasses import dataclass, field
from typing import Any, Dict, List, Optional

from lsprotocol import types
from pygls.lsp.server import LanguageServer
from pygls.protocol import LanguageServerProtocol, lsp_method
from pygls.uris import to_fs_path

import brindle
from brindle._findings import Finding

from . import describe, findings
from . import index as _index
from .positions import UTF8, UTF16, LineMap

# Changes that come faster than this are checked once, after the last one.
DEBOUNCE_SECONDS = 0.15

_SEVERITY = {
    "error": types.DiagnosticSeverity.Error,
    "warning": types.DiagnosticSeverity.Warning,
    "info": types.DiagnosticSeverity.Information,
}


class _Protocol(LanguageServerProtocol):
    @lsp_method(types.INITIALIZE)
    def lsp_initialize(self, params: types.InitializeParams):  # type: ignore[override]
        # pygls follows the client's order of preference; we take UTF-8
        # whenever it is offered and UTF-16, which every client speaks, otherwise.
        general = params.capabilities.general
        offered = [getattr(e, "value", e) for e in (general.position_encodings or [])] if general else []
        if general is not None:
            general.position_encodings = [types.PositionEncodingKind.Utf8 if UTF8 in offered
                                          else types.PositionEncodingKind.Utf16]
        return (yield from super().lsp_initialize(params))


@dataclass
class _Document:
    """What the server knows about one version of one open document."""

    text: str
    encoding: str
    _built: Optional[_index.Index] = None
    _lines: Optional[LineMap] = None
    _parsed: bool = False
    doc: Optional[Any] = None
    error: Optional[str] = None
    extra: Dict[str, Any] = field(default_factory=dict)

    @property
    def index(self) -> _index.Index:
        if self._built is None:
            self._built = _index.build(self.text)
        return self._built

    @property
    def lines(self) -> LineMap:
        if self._lines is None:
            self._lines = LineMap(self.text, self.encoding)
        return self._lines

    def parse(self) -> Optional[Any]:
        if not self._parsed:
            self._parsed = True
            try:
                self.doc = brindle.parse(self.text)
            except (brindle.BrindleError, UnicodeError) as error:  # a buffer may hold a lone surrogate
                self.error = str(error)
        return self.doc

    def variables(self) -> Optional[Dict[str, Any]]:
        """The document's variables; when the whole file does not parse, those of its [vars] sections alone."""
        doc = self.parse()
        if doc is not None:
            return doc.vars
        if "vars" not in self.extra:
            try:
                self.extra["vars"] = brindle.parse(describe.vars_text(self.index)).vars
            except (brindle.BrindleError, UnicodeError):
                self.extra["vars"] = None
        return self.extra["vars"]

    def range(self, start: int, end: int) -> types.Range:
        a, b = self.lines.position(start), self.lines.position(end)
        return types.Range(types.Position(*a), types.Position(*b))


class BrindleServer(LanguageServer):
    def __init__(self) -> None:
        super().__init__("brindle", brindle.__version__, protocol_cls=_Protocol)
        self.documents: Dict[str, _Document] = {}
        self.pending: Dict[str, asyncio.TimerHandle] = {}

    @property
    def encoding(self) -> str:
        value = self.workspace.position_encoding
        return str(getattr(value, "value", value) or UTF16)

    def document(self, uri: str) -> _Document:
        text = self.workspace.get_text_document(uri).source
        known = self.documents.get(uri)
        if known is None or known.text is not text and known.text != text:
            known = self.documents[uri] = _Document(text, self.encoding)
        return known

    def pushes_diagnostics(self) -> bool:
        capabilities = self.client_capabilities.text_document
        return capabilities is None or capabilities.diagnostic is None

    def diagnostics(self, uri: str) -> List[types.Diagnostic]:
        state = self.document(uri)
        path = to_fs_path(uri) if uri.startswith("file:") else uri
        return [self._diagnostic(uri, state, f) for f in findings.findings(state.text, path)]

    def _diagnostic(self, uri: str, state: _Document, finding: Finding) -> types.Diagnostic:
        lines = state.lines
        start = lines.from_char_column(finding.line, finding.column)
        end = lines.from_char_column(finding.end_line, finding.end_column)
        related = []
        for note in finding.related:
            where = uri if note.filename in (None, finding.filename) else _uri_of(note.filename)
            a = lines.from_char_column(note.line, note.column)
            b = lines.from_char_column(note.end_line, note.end_column)
            related.append(types.DiagnosticRelatedInformation(
                types.Location(where, types.Range(types.Position(*a), types.Position(*b))), note.message))
        message = finding.message + (f"\nhelp: {finding.suggestion}" if finding.suggestion else "")
        return types.Diagnostic(
            range=types.Range(types.Position(*start), types.Position(*end)),
            message=message,
            severity=_SEVERITY.get(finding.severity, types.DiagnosticSeverity.Error),
            code=finding.code,
            source="brindle",
            related_information=related or None,
        )

    def publish(self, uri: str) -> None:
        self.pending.pop(uri, None)
        if uri not in self.workspace.text_documents:
            return
        version = self.workspace.get_text_document(uri).version
        self.text_document_publish_diagnostics(
            types.PublishDiagnosticsParams(uri=uri, diagnostics=self.diagnostics(uri), version=version))

    def schedule(self, uri: str) -> None:
        handle = self.pending.pop(uri, None)
        if handle is not None:
            handle.cancel()
        self.pending[uri] = asyncio.get_running_loop().call_later(DEBOUNCE_SECONDS, self.publish, uri)


def _uri_of(path: str) -> str:
    from pygls.uris import from_fs_path

    return from_fs_path(path) or path


def build_server() -> BrindleServer:
    server = BrindleServer()

    @server.feature(types.TEXT_DOCUMENT_DID_OPEN)
    def did_open(ls: BrindleServer, params: types.DidOpenTextDocumentParams) -> None:
        if ls.pushes_diagnostics():
            ls.publish(params.text_document.uri)

    @server.feature(types.TEXT_DOCUMENT_DID_CHANGE)
    def did_change(ls: BrindleServer, params: types.DidChangeTextDocumentParams) -> None:
        if ls.pushes_diagnostics():
            ls.schedule(params.text_document.uri)

    @server.feature(types.TEXT_DOCUMENT_DID_CLOSE)
    def did_close(ls: BrindleServer, params: types.DidCloseTextDocumentParams) -> None:
        uri = params.text_document.uri
        handle = ls.pending.pop(uri, None)
        if handle is not None:
            handle.cancel()
        ls.documents.pop(uri, None)
        if ls.pushes_diagnostics():
            ls.text_document_publish_diagnostics(types.PublishDiagnosticsParams(uri=uri, diagnostics=[]))

    @server.feature(types.TEXT_DOCUMENT_DIAGNOSTIC,
                    types.DiagnosticOptions(inter_file_dependencies=False, workspace_diagnostics=False))
    def diagnostic(ls: BrindleServer, params: types.DocumentDiagnosticParams) -> types.DocumentDiagnosticReport:
        return types.RelatedFullDocumentDiagnosticReport(items=ls.diagnostics(params.text_document.uri))

    @server.feature(types.TEXT_DOCUMENT_DOCUMENT_SYMBOL)
    def document_symbol(ls: BrindleServer, params: types.DocumentSymbolParams) -> List[types.DocumentSymbol]:
        state = ls.document(params.text_document.uri)
        return [_symbol(state, entry) for entry in state.index.top]

    @server.feature(types.TEXT_DOCUMENT_FOLDING_RANGE)
    def folding_range(ls: BrindleServer, params: types.FoldingRangeParams) -> List[types.FoldingRange]:
        state = ls.document(params.text_document.uri)
        return [types.FoldingRange(start_line=a, end_line=b, kind=types.FoldingRangeKind.Region)
                for a, b in state.index.folds]

    @server.feature(types.TEXT_DOCUMENT_HOVER)
    def hover(ls: BrindleServer, params: types.HoverParams) -> Optional[types.Hover]:
        state = ls.document(params.text_document.uri)
        offset = state.lines.offset(params.position.line, params.position.character)
        found = _hover_text(state, offset)
        if found is None:
            return None
        text, (start, end) = found
        return types.Hover(types.MarkupContent(types.MarkupKind.Markdown, text), state.range(start, end))

    @server.feature(types.TEXT_DOCUMENT_DEFINITION)
    def definition(ls: BrindleServer, params: types.DefinitionParams) -> Optional[List[types.Location]]:
        uri = params.text_document.uri
        state = ls.document(uri)
        offset = state.lines.offset(params.position.line, params.position.character)
        line, token = state.index.token_at(offset)
        if token is None or line is None:
            return None
        ref = _var_ref_at(state.index, token)
        if ref is not None:
            target = state.index.definition(ref)
            if target is None:
                return None
            return [types.Location(uri, state.range(*target.name_span))]
        if _variable_key(state.index, line, token) is not None:
            return [types.Location(uri, state.range(token.start, token.end))]
        return None

    @server.feature(types.TEXT_DOCUMENT_REFERENCES)
    def references(ls: BrindleServer, params: types.ReferenceParams) -> Optional[List[types.Location]]:
        uri = params.text_document.uri
        state = ls.document(uri)
        offset = state.lines.offset(params.position.line, params.position.character)
        line, token = state.index.token_at(offset)
        if line is None or token is None:
            return None
        ref = _var_ref_at(state.index, token)
        entry = _variable_key(state.index, line, token)
        if ref is not None:
            name = ref.name
        elif entry is not None:
            name = entry.name
        else:
            return None
        spans = [ref.span for ref in state.index.refs if ref.kind == _index.REF_VAR and ref.name == name]
        if params.context.include_declaration:
            spans += [d.name_span for d in state.index.variables.get(name, [])]
        return [types.Location(uri, state.range(*span)) for span in sorted(spans)]

    @server.feature(types.TEXT_DOCUMENT_COMPLETION, types.CompletionOptions(trigger_characters=["@", "$", ".", ":"]))
    def completion(ls: BrindleServer, params: types.CompletionParams) -> Optional[types.CompletionList]:
        state = ls.document(params.text_document.uri)
        offset = state.lines.offset(params.position.line, params.position.character)
        items = _completions(state, offset)
        return None if items is None else types.CompletionList(is_incomplete=False, items=items)

    if hasattr(brindle, "format"):
        @server.feature(types.TEXT_DOCUMENT_FORMATTING)
        def formatting(ls: BrindleServer, params: types.DocumentFormattingParams) -> Optional[List[types.TextEdit]]:
            state = ls.document(params.text_document.uri)
            try:
                formatted = brindle.format(state.text)  # type: ignore[attr-defined]
            except UnicodeError:  # a lone surrogate: no file holds it, so nothing to format
                return None
            if formatted == state.text:
                return []
            return [types.TextEdit(state.range(0, len(state.text)), formatted)]

    return server


def _symbol(state: _Document, entry: _index.Entry) -> types.DocumentSymbol:
    kinds = {"section": types.SymbolKind.Namespace, "vars": types.SymbolKind.Namespace, "key": types.SymbolKind.Field,
             "block": types.SymbolKind.Object, "var": types.SymbolKind.Variable}
    detail = None
    if entry.kind in ("key", "var"):
        detail = state.text[entry.value_span[0] : entry.value_span[1]].split("\n")[0][:60]
    name = "[vars]" if entry.kind == "vars" else entry.name
    return types.DocumentSymbol(
        name=name or '""', kind=kinds[entry.kind], range=state.range(*entry.span),
        selection_range=state.range(*entry.name_span), detail=detail,
        children=[_symbol(state, child) for child in entry.children] or None)


def _var_ref_at(ix: _index.Index, token: _index.Token) -> Optional[_index.Ref]:
    """The document variable that `token` reads, if it is such a reference."""
    ref = ix.ref_at((token.start, token.end)) if token.kind == "Variable" else None
    return ref if ref is not None and ref.kind == _index.REF_VAR else None


def _variable_key(ix: _index.Index, line: _index.Line, token: _index.Token) -> Optional[_index.Entry]:
    """The variable that `token` defines, if it is the key of a [vars] line."""
    entry = ix.entry_for_line(line) if token.kind == "Key" else None
    return entry if entry is not None and entry.kind == "var" else None


def _hover_text(state: _Document, offset: int) -> Optional[tuple]:
    ix = state.index
    line, token = ix.token_at(offset)
    if line is None or token is None:
        return None
    text = state.text
    if token.kind == "Variable":
        ref = ix.ref_at((token.start, token.end))
        if ref is not None:
            return describe.describe_ref(ix, ref, state.variables()), ref.span
    if token.kind == "Annotation" and line.names:
        name, start, end = line.names[0]
        if start <= offset <= end:
            return describe.describe_annotation(name), (start, end)
        if name == "type" and line.value is not None and line.value[0] <= offset <= line.value[1]:
            written = text[line.value[0] : line.value[1]]
            return f"`{written}`: {describe.TYPES.get(written, 'not a type brindle checks')}", line.value
    entry = ix.entry_for_line(line)
    if entry is None or token.kind == "Comment":
        return None
    doc = state.parse()
    if token.kind == "DictKey":
        keys = _inline_keys(line, token)
        if keys is not None:
            path = ".".join([entry.path, *keys])
            missing = object()
            value = doc.resolve(path, missing) if doc is not None else missing
            shown = f" = `{describe.render(value)}`" if value is not missing else ""
            return f"**{path}**{shown}", (token.start, token.end)
    return describe.describe_entry(ix, entry, doc, state.error), entry.name_span


def _inline_keys(line: _index.Line, target: _index.Token) -> Optional[List[str]]:
    """Keys from the value's top down to the inline dict key `target`; None when an array lies between."""
    stack: List[Optional[str]] = []  # one per open bracket: the dict's current key, or None for an array
    dict_keys = {start: name for name, start, _ in line.names[1:]}
    for kind, start, end in line.tokens:
        if start < line.value_span[0]:
            continue
        if kind == "DictKey":
            key = dict_keys[start]
            if stack:
                stack[-1] = key
            if start == target.start:
                keys = [k for k in stack if k is not None]
                return keys if stack and len(keys) == len(stack) else None
        elif kind == "DictOpen":
            stack.append("")
        elif kind == "ArrayOpen":
            stack.append(None)
        elif kind in ("DictClose", "ArrayClose") and stack:
            stack.pop()
    return None


_TYPE_PREFIX = re.compile(r"^\s*@type\s*:\s*([\w\[\]]*)$")
_ANNOTATION_PREFIX = re.compile(r"^\s*@(\w*)$")
_ENV_PREFIX = re.compile(r"\$ENV\.(\w*)$")
_VAR_PREFIX = re.compile(r"\$([\w.-]*)$")


def _completions(state: _Document, offset: int) -> Optional[List[types.CompletionItem]]:
    line_start = state.text.rfind("\n", 0, offset) + 1
    before = state.text[line_start:offset]
    line, _ = state.lines.position(offset)

    def edit(partial: str, new: str) -> types.TextEdit:
        start = state.lines.position(offset - len(partial))
        return types.TextEdit(types.Range(types.Position(*start), types.Position(line, state.lines.position(offset)[1])), new)

    match = _TYPE_PREFIX.search(before)
    if match:
        return [types.CompletionItem(name, kind=types.CompletionItemKind.TypeParameter, detail=what,
                                     text_edit=edit(match.group(1), name)) for name, what in describe.TYPES.items()]
    match = _ANNOTATION_PREFIX.search(before)
    if match:
        return [types.CompletionItem(f"@{name}", kind=types.CompletionItemKind.Keyword, detail=what,
                                     filter_text=name, text_edit=edit(match.group(1), name))
                for name, what in describe.ANNOTATIONS.items()]
    match = _ENV_PREFIX.search(before)
    if match:
        return [types.CompletionItem(name, kind=types.CompletionItemKind.Variable, detail="environment variable (set)",
                                     text_edit=edit(match.group(1), name)) for name in sorted(os.environ)]
    match = _VAR_PREFIX.search(before)
    if match:
        partial = match.group(1)
        items = [types.CompletionItem("ENV.", kind=types.CompletionItemKind.Module, detail="environment variables",
                                      text_edit=edit(partial, "ENV."),
                                      command=types.Command("", "editor.action.triggerSuggest"))]
        for name, definitions in state.index.variables.items():
            items.append(types.CompletionItem(name, kind=types.CompletionItemKind.Variable,
                                              detail=f"[vars], line {definitions[-1].first_line + 1}",
                                              text_edit=edit(partial, name)))
        for name, what in describe.BUILTINS.items():
            items.append(types.CompletionItem(name, kind=types.CompletionItemKind.Constant, detail=f"built-in: {what}",
                                              text_edit=edit(partial, name)))
        return items
    return None


def serve() -> int:
    build_server().start_io()
    return 0
