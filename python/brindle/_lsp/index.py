"""Where the keys, sections, variables and `$` references of a document are.

The Python API hands out values and annotations by key path but no source
positions, so the editor features take them from this index. It reads the
core's syntax tree through `brindle._native._syntax_view`: the logical lines
as the parser classifies them, their tokens, keys and section segments
unquoted by the parser's own code, and the `$` references of their values.
On top of that it assigns key paths the way the parser does: sections and
their segments, `[vars]` sections, `key = #{` blocks, annotations waiting for
the next key. `build(text)` is the only entry. Offsets are indexes into the
text (code points).
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Dict, List, NamedTuple, Optional, Tuple

from .._native import _syntax_view

Span = Tuple[int, int]

# Line kinds.
SECTION = "section"
VARS = "vars"
KEY = "key"
BLOCK_OPEN = "block-open"
BLOCK_CLOSE = "block-close"
ANNOTATION = "annotation"

# Reference kinds.
REF_VAR = "var"
REF_BUILTIN = "builtin"
REF_ENV = "env"


class Token(NamedTuple):
    kind: str  # the tree's token kind: "Key", "Variable", "DictKey", "Comment", ...
    start: int
    end: int


class Line:
    """One logical line: a physical line, or a key line joined over open brackets."""

    __slots__ = ("kind", "valid", "first", "last", "start", "end", "names", "value", "tokens", "refs", "in_vars")

    def __init__(self, record: tuple, in_vars: bool) -> None:
        (self.kind, self.valid, self.first, self.last, self.start, self.end, self.names, self.value,
         self.tokens, self.refs) = record
        self.in_vars = in_vars  # inside a [vars] section

    @property
    def key(self) -> Optional[str]:
        """The unquoted key of a key line or block opener."""
        return self.names[0][0] if self.kind in (KEY, BLOCK_OPEN) and self.names else None

    @property
    def key_span(self) -> Span:
        return (self.names[0][1], self.names[0][2]) if self.names else (self.start, self.start)

    @property
    def value_span(self) -> Span:
        """A key line's value, comments excluded; empty at the line's end for other lines."""
        return self.value if self.kind == KEY and self.value is not None else (self.end, self.end)

    @property
    def annotation_span(self) -> Span:
        """The annotation text, '@' to its end, of an annotation line."""
        return next(((a, b) for kind, a, b in self.tokens if kind == "Annotation"), (self.start, self.start))


@dataclass
class Entry:
    """A section, a key, a block key or a variable definition."""

    kind: str  # "section", "key", "block", "var" or "vars" (a [vars] header)
    name: str
    path: str  # key path; for a variable, its name
    name_span: Span
    span: Span  # the whole thing, its value (or its section's keys) included
    first_line: int
    last_line: int
    annotations: List[Line] = field(default_factory=list)
    value_span: Span = (0, 0)
    children: List["Entry"] = field(default_factory=list)
    line: Optional[Line] = None
    keys: Tuple[str, ...] = ()  # the path's keys, unquoted (a key may hold points)


@dataclass
class Ref:
    """A `$` reference inside a value."""

    name: str  # after the $; for an environment reference, the variable's name
    kind: str  # REF_VAR, REF_BUILTIN or REF_ENV
    span: Span
    owner: Optional[Entry]  # the key or variable whose value holds it
    line: Line


@dataclass
class Index:
    text: str
    lines: List[Line]
    top: List[Entry] = field(default_factory=list)  # sections, [vars] headers and keys before any section
    by_path: Dict[str, Entry] = field(default_factory=dict)
    variables: Dict[str, List[Entry]] = field(default_factory=dict)  # name -> definitions in source order
    refs: List[Ref] = field(default_factory=list)
    by_line: Dict[int, Entry] = field(default_factory=dict)  # first line -> entry defined there
    folds: List[Tuple[int, int]] = field(default_factory=list)  # (first line, last line), from 0

    def annotation_text(self, line: Line) -> str:
        a, b = line.annotation_span
        return self.text[a:b]

    def token_at(self, offset: int) -> Tuple[Optional[Line], Optional[Token]]:
        """The line and token that hold the character at `offset` (or end just before it)."""
        line = self.line_at(offset)
        if line is None:
            return None, None
        best = None
        for kind, start, end in line.tokens:
            if start <= offset < end:
                return line, Token(kind, start, end)
            if end == offset and kind != "Comment":
                best = Token(kind, start, end)
        return line, best

    def line_at(self, offset: int) -> Optional[Line]:
        lo, hi = 0, len(self.lines)
        while lo < hi:
            mid = (lo + hi) // 2
            if self.lines[mid].end < offset:
                lo = mid + 1
            else:
                hi = mid
        if lo < len(self.lines) and self.lines[lo].start <= offset <= self.lines[lo].end:
            return self.lines[lo]
        return None

    def entry_for_line(self, line: Line) -> Optional[Entry]:
        """The section, key or variable that `line` defines, if any."""
        return self.by_line.get(line.first)

    def ref_at(self, span: Span) -> Optional[Ref]:
        return next((ref for ref in self.refs if ref.span == span), None)

    def definition(self, ref: Ref) -> Optional[Entry]:
        """The variable definition a reference reads: the last one above it inside [vars], else the last one."""
        definitions = self.variables.get(ref.name, [])
        if ref.owner is not None and ref.owner.kind == "var":
            definitions = [d for d in definitions if d.name_span[0] < ref.span[0]]
        return definitions[-1] if definitions else None


def build(text: str) -> Index:
    lines = []
    in_vars = False
    for record in _syntax_view(text):
        kind = record[0]
        if kind == VARS:
            in_vars = True
        elif kind == SECTION:
            in_vars = False
        lines.append(Line(record, in_vars))
    index = Index(text, lines)
    _Builder(index).run()
    return index


class _Builder:
    def __init__(self, index: Index) -> None:
        self.index = index
        self.section: List[str] = []
        self.section_entry: Optional[Entry] = None
        self.pending: List[Line] = []
        self.block: Optional[Entry] = None
        self.block_pending: List[Line] = []
        self.in_vars = False
        self.last_content: Optional[Line] = None

    def run(self) -> None:
        for line in self.index.lines:
            kind = line.kind
            if kind == VARS:
                self._close_section()
                self.in_vars = True
                entry = Entry("vars", "vars", "", (line.start, line.end), (line.start, line.end), line.first, line.last)
                self.index.top.append(entry)
                self.section_entry = entry
            elif kind == SECTION:
                self._section(line)
            elif self.in_vars:
                if kind == KEY:
                    self._variable(line)
            elif self.block is not None:
                self._in_block(line)
            elif kind == ANNOTATION:
                self.pending.append(line)
            elif kind == KEY:
                self._key(line, "key", self.pending)
                self.pending = []
            elif kind == BLOCK_OPEN:
                self.block = self._key(line, "block", self.pending)
                self.pending = []
                self.block_pending = []
            if line.tokens:
                self.last_content = line
        if self.block is not None:  # never closed: it swallows the rest of the file
            self._grow(self.block, self.index.lines[-1])
        self._close_section()
        for line in self.index.lines:
            if line.last > line.first:
                self.index.folds.append((line.first, line.last))
        self.index.folds.sort()

    def _section(self, line: Line) -> None:
        was_vars = self.in_vars
        self.in_vars = False
        if not line.valid:  # the parser rejects the header; its keys stay where they were
            if was_vars:
                self._close_section()
            return
        self._close_section()
        names = [name for name, _, _ in line.names]
        path = ".".join(names)
        first, last = line.names[0][1], line.names[-1][2]
        entry = Entry("section", path, path, (first, last), (line.start, line.end), line.first, line.last, line=line,
                      keys=tuple(names))
        if self.pending:
            entry.annotations, self.pending = self.pending, []
        self.section = names
        self.section_entry = entry
        self.index.top.append(entry)
        self.index.by_path[path] = entry
        self.index.by_line[line.first] = entry

    def _close_section(self) -> None:
        """Ends the current section's extent at the last non-blank line seen."""
        entry = self.section_entry
        if entry is None:
            return
        if self.last_content is not None and self.last_content.first >= entry.first_line:
            self._grow(entry, self.last_content)
        if entry.last_line > entry.first_line:
            self.index.folds.append((entry.first_line, entry.last_line))
        self.section_entry = None

    def _entry(self, kind: str, line: Line, keys: Tuple[str, ...]) -> Entry:
        assert line.key is not None
        entry = Entry(kind, line.key, ".".join(keys), line.key_span, (line.start, line.end), line.first, line.last,
                      value_span=line.value_span, line=line, keys=keys)
        self.index.by_line[line.first] = entry
        self._refs(line, entry)
        return entry

    def _key(self, line: Line, kind: str, annotations: List[Line]) -> Entry:
        assert line.key is not None
        entry = self._entry(kind, line, (*self.section, line.key))
        self._annotate(entry, annotations)
        if self.section_entry is not None and self.section_entry.kind == "section":
            self.section_entry.children.append(entry)
        else:
            self.index.top.append(entry)
        return entry

    def _annotate(self, entry: Entry, annotations: List[Line]) -> None:
        """Gives `entry` its annotations (a key set again keeps the earlier ones) and files it under its path."""
        previous = self.index.by_path.get(entry.path)
        entry.annotations = annotations or (previous.annotations if previous else [])
        self.index.by_path[entry.path] = entry

    def _in_block(self, line: Line) -> None:
        block = self.block
        assert block is not None
        if line.kind == ANNOTATION:
            self.block_pending.append(line)
        elif line.kind == KEY and line.key is not None:
            entry = self._entry("key", line, (*block.keys, line.key))
            self._annotate(entry, self.block_pending)
            self.block_pending = []
            block.children.append(entry)
        elif line.kind == BLOCK_CLOSE:
            self._grow(block, line)
            self.index.folds.append((block.first_line, block.last_line))
            self.block = None
            self.block_pending = []

    def _variable(self, line: Line) -> None:
        assert line.key is not None
        entry = self._entry("var", line, (line.key,))
        self.index.variables.setdefault(line.key, []).append(entry)
        if self.section_entry is not None and self.section_entry.kind == "vars":
            self.section_entry.children.append(entry)

    def _refs(self, line: Line, owner: Entry) -> None:
        for kind, name, start, end in line.refs:
            self.index.refs.append(Ref(name, kind, (start, end), owner, line))

    @staticmethod
    def _grow(entry: Entry, line: Line) -> None:
        entry.span = (entry.span[0], max(entry.span[1], line.end))
        entry.last_line = max(entry.last_line, line.last)
