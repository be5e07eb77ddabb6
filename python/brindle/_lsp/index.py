"""Where the keys, sections, variables and `$` references of a document are.

The Python API hands out values and annotations by key path but no source
positions, so the editor features take them from this index. It is built
from the scanner's lines (`brindle._scan`) and assigns key paths the way the
parser does: sections and their segments, `[vars]` sections, `key = #{`
blocks, annotations waiting for the next key. `build(text)` is the only
entry; when the core's syntax tree becomes readable from Python, it can feed
the same `Index` instead of the scanner.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Dict, List, Optional, Tuple

from .. import _scan

Span = Tuple[int, int]


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
    annotations: List[_scan.Line] = field(default_factory=list)
    value_span: Span = (0, 0)
    children: List["Entry"] = field(default_factory=list)
    line: Optional[_scan.Line] = None


@dataclass
class Ref:
    """A `$` reference inside a value."""

    name: str  # after the $; for an environment reference, the variable's name
    kind: str  # _scan.REF_VAR, REF_BUILTIN or REF_ENV
    span: Span
    owner: Optional[Entry]  # the key or variable whose value holds it
    line: _scan.Line


@dataclass
class Index:
    text: str
    lines: List[_scan.Line]
    top: List[Entry] = field(default_factory=list)  # sections, [vars] headers and keys before any section
    by_path: Dict[str, Entry] = field(default_factory=dict)
    variables: Dict[str, List[Entry]] = field(default_factory=dict)  # name -> definitions in source order
    refs: List[Ref] = field(default_factory=list)
    by_line: Dict[int, Entry] = field(default_factory=dict)  # first line -> entry defined there
    folds: List[Tuple[int, int]] = field(default_factory=list)  # (first line, last line), from 0

    def token_at(self, offset: int) -> Tuple[Optional[_scan.Line], Optional[_scan.Token]]:
        """The line and token that hold the character at `offset` (or end just before it)."""
        line = self.line_at(offset)
        if line is None:
            return None, None
        best = None
        for token in line.tokens:
            if token.start <= offset < token.end:
                return line, token
            if token.end == offset and token.kind != _scan.COMMENT:
                best = token
        return line, best

    def line_at(self, offset: int) -> Optional[_scan.Line]:
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

    def entry_for_line(self, line: _scan.Line) -> Optional[Entry]:
        """The section, key or variable that `line` defines, if any."""
        return self.by_line.get(line.first)

    def definition(self, ref: Ref) -> Optional[Entry]:
        """The variable definition a reference reads: the last one above it inside [vars], else the last one."""
        definitions = self.variables.get(ref.name, [])
        if ref.owner is not None and ref.owner.kind == "var":
            definitions = [d for d in definitions if d.name_span[0] < ref.span[0]]
        return definitions[-1] if definitions else None


def build(text: str) -> Index:
    index = Index(text, _scan.scan(text))
    _Builder(index).run()
    return index


class _Builder:
    def __init__(self, index: Index) -> None:
        self.index = index
        self.section: List[str] = []
        self.section_entry: Optional[Entry] = None
        self.pending: List[_scan.Line] = []
        self.block: Optional[Entry] = None
        self.block_pending: List[_scan.Line] = []
        self.in_vars = False
        self.last_content: Optional[_scan.Line] = None

    def run(self) -> None:
        for line in self.index.lines:
            kind = line.kind
            if kind == _scan.L_VARS:
                self._close_section()
                self.in_vars = True
                entry = Entry("vars", "vars", "", (line.start, line.end), (line.start, line.end), line.first, line.last)
                self.index.top.append(entry)
                self.section_entry = entry
            elif kind == _scan.L_SECTION:
                self._section(line)
            elif self.in_vars:
                if kind == _scan.L_KEY:
                    self._variable(line)
            elif self.block is not None:
                self._in_block(line)
            elif kind == _scan.L_ANNOTATION:
                self.pending.append(line)
            elif kind == _scan.L_KEY:
                self._key(line, "key", self.pending)
                self.pending = []
            elif kind == _scan.L_BLOCK_OPEN:
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

    def _section(self, line: _scan.Line) -> None:
        was_vars = self.in_vars
        self.in_vars = False
        if self.block is not None:
            return  # inside a block, headers are ignored
        names = [name for name, _, _ in line.segments]
        if any(not name for name in names):
            if was_vars:
                self._close_section()
            return
        self._close_section()
        path = ".".join(names)
        first, last = line.segments[0][1], line.segments[-1][2]
        entry = Entry("section", path, path, (first, last), (line.start, line.end), line.first, line.last, line=line)
        if self.pending:
            entry.annotations, self.pending = self.pending, []
        self.section = names
        self.section_entry = entry
        self.index.top.append(entry)
        self.index.by_path[path] = entry
        self.index.by_line[line.first] = entry

    def _close_section(self) -> None:
        """Ends the current section's extent at the last non-blank line before `line`."""
        entry = self.section_entry
        if entry is None:
            return
        if self.last_content is not None and self.last_content.first >= entry.first_line:
            self._grow(entry, self.last_content)
        if entry.last_line > entry.first_line:
            self.index.folds.append((entry.first_line, entry.last_line))
        self.section_entry = None

    def _path(self, key: str) -> str:
        return ".".join(self.section + [key]) if self.section else key

    def _key(self, line: _scan.Line, kind: str, annotations: List[_scan.Line]) -> Entry:
        assert line.key is not None
        path = self._path(line.key)
        entry = Entry(kind, line.key, path, line.key_span, (line.start, line.end), line.first, line.last,
                      value_span=line.value_span, line=line)
        previous = self.index.by_path.get(path)
        entry.annotations = annotations or (previous.annotations if previous else [])
        self.index.by_path[path] = entry
        self.index.by_line[line.first] = entry
        if self.section_entry is not None and self.section_entry.kind == "section":
            self.section_entry.children.append(entry)
        else:
            self.index.top.append(entry)
        self._refs(line, entry)
        return entry

    def _in_block(self, line: _scan.Line) -> None:
        block = self.block
        assert block is not None
        if line.kind == _scan.L_ANNOTATION:
            self.block_pending.append(line)
        elif line.kind == _scan.L_KEY and line.key is not None:
            path = f"{block.path}.{line.key}"
            entry = Entry("key", line.key, path, line.key_span, (line.start, line.end), line.first, line.last,
                          value_span=line.value_span, line=line)
            previous = self.index.by_path.get(path)
            entry.annotations = self.block_pending or (previous.annotations if previous else [])
            self.block_pending = []
            self.index.by_path[path] = entry
            self.index.by_line[line.first] = entry
            block.children.append(entry)
            self._refs(line, entry)
        elif line.kind == _scan.L_BLOCK_CLOSE:
            self._grow(block, line)
            self.index.folds.append((block.first_line, block.last_line))
            self.block = None
            self.block_pending = []

    def _variable(self, line: _scan.Line) -> None:
        assert line.key is not None
        entry = Entry("var", line.key, line.key, line.key_span, (line.start, line.end), line.first, line.last,
                      value_span=line.value_span, line=line)
        self.index.variables.setdefault(line.key, []).append(entry)
        self.index.by_line[line.first] = entry
        if self.section_entry is not None and self.section_entry.kind == "vars":
            self.section_entry.children.append(entry)
        self._refs(line, entry)

    def _refs(self, line: _scan.Line, owner: Entry) -> None:
        src = self.index.text
        for token in line.tokens:
            if token.kind in _scan.REF_KINDS:
                name = src[token.start + 1 : token.end]
                if token.kind == _scan.REF_ENV:
                    name = name[4:]
                self.index.refs.append(Ref(name, token.kind, (token.start, token.end), owner, line))

    @staticmethod
    def _grow(entry: Entry, line: _scan.Line) -> None:
        entry.span = (entry.span[0], max(entry.span[1], line.end))
        entry.last_line = max(entry.last_line, line.last)
