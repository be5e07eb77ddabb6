"""Positions of everything in brindle source text, for highlighting and editors.

`scan(source)` classifies the logical lines of a source the way the parser
does (comments, section headers, `[vars]`, annotation lines, key lines with
values joined over open brackets, block openers and closers, ignored lines)
and cuts each line into tokens; blanks between tokens are left out of a line's
list. `tokens(source)` adds them and the line terminators back, so that every
character of the source belongs to exactly one of its tokens. Offsets are
indexes into the Python string (code points), not bytes.

Nothing here evaluates a value or reports a problem: the parser decides what
a value means, this module only says where its parts are. It stands in for
the core's syntax tree until that tree can be read from Python; the Pygments
lexer and the language server's index are its only users.
"""

from __future__ import annotations

import re
from dataclasses import dataclass, field
from typing import Iterator, List, Optional, Tuple

# Token kinds.
WS = "ws"
NEWLINE = "newline"
COMMENT = "comment"
IGNORED = "ignored"  # a line that fits no form; the parser skips it
SECTION_PUNCT = "section-punct"  # [ ] and the points between segments
SECTION_NAME = "section-name"
VARS_HEADER = "vars-header"  # the word vars of [vars]
ANN_NAME = "ann-name"  # @ and the name
ANN_PUNCT = "ann-punct"  # ( ) : [ ] , of an argument
ANN_TEXT = "ann-text"
ANN_STRING = "ann-string"  # a double-quoted argument or list item
ANN_NUMBER = "ann-number"
ANN_TYPE = "ann-type"  # the argument of @type
KEY = "key"
VAR_KEY = "var-key"  # a key of a [vars] section: a variable's name
EQUALS = "equals"
STRING = "string"
ESCAPE = "escape"
INTEGER = "integer"
HEX = "hex"
OCT = "oct"
BIN = "bin"
FLOAT = "float"
CONSTANT = "constant"  # true false null
REF_VAR = "ref-var"
REF_BUILTIN = "ref-builtin"
REF_ENV = "ref-env"
OPERATOR = "operator"  # + - * /
FALLBACK = "fallback"  # ??
PUNCT = "punct"  # [ ] ( ) { } , of a value
DICT_OPEN = "dict-open"  # #{
DICT_CLOSE = "dict-close"  # }#
DICT_KEY = "dict-key"  # key of an inline dict entry
TEXT = "text"  # value text that is no operand the parser knows
ERROR = "error"  # text the parser rejects: an unterminated string, a malformed annotation

BUILTINS = ("NOW", "TODAY", "PID", "CWD", "PLATFORM", "HOSTNAME", "TRUE", "FALSE", "NULL")
REF_KINDS = (REF_VAR, REF_BUILTIN, REF_ENV)

# Line kinds, as the parser classifies logical lines.
L_OTHER = "other"  # blank, comment-only or ignored
L_SECTION = "section"
L_VARS = "vars"
L_ANNOTATION = "annotation"
L_KEY = "key"
L_BLOCK_OPEN = "block-open"
L_BLOCK_CLOSE = "block-close"

# Unicode White_Space: what the parser trims.
_BLANKS = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000"
_BLANK_RUN = re.compile(f"[{re.escape(_BLANKS)}]+")
_COMMENT_STOPS = re.compile(r'["\\#]')
_DEPTH_STOPS = re.compile(r'["\\#\[\](){}]')
_BARE_KEY = re.compile(r"[A-Za-z0-9_\-]+")
_ANN_NAME = re.compile(r"@[A-Za-z_][A-Za-z0-9_]*")
_ANN_INT = re.compile(r"[+-]?[0-9]+\Z")
_ANN_FLOAT = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?\Z|[+-]?(?:inf|infinity|nan)\Z", re.I)

_END = r"(?![A-Za-z0-9_.])"
_NUMBERS = (
    (HEX, re.compile(r"0[xX][0-9A-Fa-f_]+" + _END)),
    (OCT, re.compile(r"0[oO][0-7_]+" + _END)),
    (BIN, re.compile(r"0[bB][01_]+" + _END)),
    (FLOAT, re.compile(r"(?:[0-9][0-9_]*\.[0-9_]*|\.[0-9][0-9_]*)(?:[eE][0-9_]+)?" + _END + r"|[0-9][0-9_]*[eE][0-9_]+" + _END)),
    (INTEGER, re.compile(r"[0-9][0-9_]*" + _END)),
)
_CONSTANT = re.compile(r"(?:true|false|null)(?![A-Za-z0-9_])")
# A reference's name runs to the next operator, separator, bracket or blank.
_REF = re.compile(r"\$[^\s+\-*/,()\[\]{}\"#=?]*")
_WORD = re.compile(r"[^\s+\-*/,()\[\]{}\"#=$?]+")
_DICT_KEY = re.compile(r'"(?:[^"\\]|\\.)*"|[^\s=,"#}\]][^=,#}\]]*?(?=\s*=)')
_ESCAPES = "nrt\"\\"


@dataclass(slots=True)
class Token:
    start: int
    end: int
    kind: str


@dataclass(slots=True)
class Line:
    """One logical line: a physical line, or a key line joined over open brackets."""

    kind: str
    start: int  # first character of the first physical line
    end: int  # end of the last physical line, terminator excluded
    first: int  # index of the first physical line, from 0
    last: int  # index of the last physical line
    tokens: List[Token] = field(default_factory=list)
    key: Optional[str] = None  # unquoted key of a key line or block opener
    key_span: Tuple[int, int] = (0, 0)
    value_span: Tuple[int, int] = (0, 0)  # value text to the end of its code, comments excluded
    segments: List[Tuple[str, int, int]] = field(default_factory=list)  # section name pieces
    annotation: Optional[str] = None  # annotation text, comment-free
    annotation_span: Tuple[int, int] = (0, 0)
    in_vars: bool = False  # inside a [vars] section


def trim_start(text: str, start: int, end: int) -> int:
    while start < end and text[start] in _BLANKS:
        start += 1
    return start


def trim_end(text: str, start: int, end: int) -> int:
    while end > start and text[end - 1] in _BLANKS:
        end -= 1
    return end


def code_end(src: str, start: int, end: int) -> Tuple[int, Optional[int]]:
    """End of the code of the physical line src[start:end] (trimmed) and where its comment starts."""
    pos = start
    in_string = False
    while True:
        match = _COMMENT_STOPS.search(src, pos, end)
        if match is None:
            return trim_end(src, start, end), None
        i = match.start()
        ch = src[i]
        if ch == "\\":
            pos = i + 2
            continue
        if ch == '"':
            in_string = not in_string
            pos = i + 1
            continue
        if in_string:
            pos = i + 1
            continue
        if i + 1 < end and src[i + 1] == "{":
            pos = i + 2
            continue
        before = trim_end(src, start, i)
        if before == start:
            return start, i
        if src[before - 1] == "}":
            pos = i + 1
            continue
        return before, i


def bracket_depth(src: str, start: int, end: int) -> int:
    """Openers minus closers outside strings, counting #{ and }# as one each."""
    depth = 0
    pos = start
    in_string = False
    while True:
        match = _DEPTH_STOPS.search(src, pos, end)
        if match is None:
            return depth
        i = match.start()
        ch = src[i]
        pos = i + 1
        if ch == "\\":
            pos = i + 2
        elif ch == '"':
            in_string = not in_string
        elif in_string:
            pass
        elif ch == "#":
            if i + 1 < end and src[i + 1] == "{":
                depth += 1
                pos = i + 2
        elif ch == "}" and i + 1 < end and src[i + 1] == "#":
            depth -= 1
            pos = i + 2
        elif ch in "[({":
            depth += 1
        else:
            depth -= 1


def unquote_key(text: str) -> str:
    if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
        return text[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    return text


def physical_lines(src: str) -> List[Tuple[int, int, int]]:
    """(start, end without terminator, start of the next line) of every physical line."""
    lines = []
    pos = 0
    n = len(src)
    while pos < n:
        nl = src.find("\n", pos)
        if nl < 0:
            lines.append((pos, n, n))
            break
        end = nl - 1 if nl > pos and src[nl - 1] == "\r" else nl
        lines.append((pos, end, nl + 1))
        pos = nl + 1
    return lines


class _Tokens:
    """Collects the tokens of one line."""

    __slots__ = ("items",)

    def __init__(self) -> None:
        self.items: List[Token] = []

    def add(self, start: int, end: int, kind: str) -> None:
        if end > start:
            self.items.append(Token(start, end, kind))


def _split_segments(src: str, start: int, end: int) -> List[Tuple[str, int, int]]:
    """Section name src[start:end] cut at points outside quotes: (unquoted text, start, end) per segment."""
    segments = []
    seg = start
    in_quote = False
    i = start
    while i <= end:
        if i == end or (src[i] == "." and not in_quote):
            s = trim_start(src, seg, i)
            e = trim_end(src, s, i)
            segments.append((unquote_key(src[s:e]), s, e))
            seg = i + 1
        elif src[i] == '"' and (i == start or src[i - 1] != "\\"):
            in_quote = not in_quote
        i += 1
    return segments


def _value_tokens(src: str, pieces: List[Tuple[int, int]], out: _Tokens) -> None:
    """Tokens of a value whose code lies in `pieces` (one per physical line).

    A stack of open brackets tells inline dict keys from values; it carries
    over from one piece to the next, the string state does not.
    """
    stack: List[str] = []  # "d" inline dict, "[" array or group
    expect_key = False
    for start, end in pieces:
        i = start
        while i < end:
            ch = src[i]
            if ch in _BLANKS:
                i += 1
                continue
            if expect_key and stack and stack[-1] == "d":
                match = _DICT_KEY.match(src, i, end)
                if match and match.end() > i:
                    out.add(i, match.end(), DICT_KEY)
                    i = match.end()
                    expect_key = False
                    continue
                expect_key = False
            if ch == '"':
                i = _string(src, i, end, out)
            elif src.startswith("#{", i):
                out.add(i, i + 2, DICT_OPEN)
                stack.append("d")
                expect_key = True
                i += 2
            elif src.startswith("}#", i):
                out.add(i, i + 2, DICT_CLOSE)
                if stack:
                    stack.pop()
                i += 2
            elif src.startswith("??", i):
                out.add(i, i + 2, FALLBACK)
                i += 2
            elif ch in "[({":
                out.add(i, i + 1, PUNCT)
                stack.append("[")
                i += 1
            elif ch in "])}":
                out.add(i, i + 1, PUNCT)
                if stack:
                    stack.pop()
                i += 1
            elif ch == ",":
                out.add(i, i + 1, PUNCT)
                expect_key = bool(stack) and stack[-1] == "d"
                i += 1
            elif ch == "=" and stack and stack[-1] == "d":
                out.add(i, i + 1, EQUALS)
                i += 1
            elif ch in "+-*/":
                out.add(i, i + 1, OPERATOR)
                i += 1
            elif ch == "$":
                ref = _REF.match(src, i, end)
                j = ref.end() if ref else i + 1
                name = src[i + 1 : j]
                kind = REF_ENV if name.startswith("ENV.") else REF_BUILTIN if name in BUILTINS else REF_VAR
                out.add(i, j, kind)
                i = j
            else:
                i = _operand(src, i, end, out)


def _string(src: str, i: int, end: int, out: _Tokens) -> int:
    """A double-quoted string from src[i]; returns the index after it."""
    j = i + 1
    run = i
    while j < end:
        ch = src[j]
        if ch == "\\" and j + 1 < end:
            if src[j + 1] in _ESCAPES:
                out.add(run, j, STRING)
                out.add(j, j + 2, ESCAPE)
                run = j + 2
            j += 2
            continue
        if ch == '"':
            out.add(run, j + 1, STRING)
            return j + 1
        j += 1
    # No closing quote on this line: the parser reports the string.
    out.add(run, end, ERROR if run == i else STRING)
    return end


def _operand(src: str, i: int, end: int, out: _Tokens) -> int:
    for kind, pattern in _NUMBERS:
        match = pattern.match(src, i, end)
        if match:
            out.add(i, match.end(), kind)
            return match.end()
    match = _CONSTANT.match(src, i, end)
    if match:
        out.add(i, match.end(), CONSTANT)
        return match.end()
    match = _WORD.match(src, i, end)
    j = match.end() if match else i + 1
    out.add(i, j, TEXT)
    return j


def _annotation_tokens(src: str, start: int, end: int, out: _Tokens) -> None:
    """Tokens of the annotation text src[start:end] (trimmed, comment-free)."""
    match = _ANN_NAME.match(src, start, end)
    if match is None:
        out.add(start, end, ERROR)
        return
    out.add(start, match.end(), ANN_NAME)
    name = src[start + 1 : match.end()]
    i = trim_start(src, match.end(), end)
    if i == end:
        return
    if src[i] == "(":
        if src[end - 1] != ")" or end - 1 == i:
            out.add(i, end, ERROR)
            return
        out.add(i, i + 1, ANN_PUNCT)
        s = trim_start(src, i + 1, end - 1)
        e = trim_end(src, s, end - 1)
        quoted = e - s >= 2 and src[s] == '"' and src[e - 1] == '"'
        out.add(s, e, ANN_STRING if quoted else ANN_TEXT)
        out.add(end - 1, end, ANN_PUNCT)
        return
    if src[i] != ":":
        out.add(i, end, ERROR)
        return
    out.add(i, i + 1, ANN_PUNCT)
    s = trim_start(src, i + 1, end)
    arg = src[s:end]
    if not arg:
        return
    if len(arg) >= 2 and arg[0] == '"' and arg[-1] == '"':
        out.add(s, end, ANN_STRING)
    elif arg[0] == "[" and arg[-1] == "]" and len(arg) >= 2:
        out.add(s, s + 1, ANN_PUNCT)
        piece = s + 1
        for j in range(s + 1, end):
            if src[j] == "," or j == end - 1:
                a = trim_start(src, piece, j)
                b = trim_end(src, a, j)
                quoted = b - a >= 2 and src[a] == '"' and src[b - 1] == '"'
                out.add(a, b, ANN_STRING if quoted else ANN_TEXT)
                out.add(j, j + 1, ANN_PUNCT)
                piece = j + 1
    elif _ANN_INT.match(arg) or _ANN_FLOAT.match(arg):
        out.add(s, end, ANN_NUMBER)
    else:
        out.add(s, end, ANN_TYPE if name == "type" else ANN_TEXT)


def _key_line(src: str, start: int, code: int) -> Optional[Tuple[int, int, int]]:
    """(key start, key end, value start) of a key line, or None when the line is not one."""
    k = trim_start(src, start, code)
    if k == code:
        return None
    if src[k] == '"':
        j = k + 1
        while j < code and src[j] != '"':
            j += 2 if src[j] == "\\" else 1
        if j >= code:
            return None
        key_end = j + 1
    else:
        match = _BARE_KEY.match(src, k, code)
        if match is None:
            return None
        key_end = match.end()
    eq = trim_start(src, key_end, code)
    if eq == code or src[eq] != "=":
        return None
    value = trim_start(src, eq + 1, code)
    if value == code:
        return None
    return k, key_end, value


def scan(src: str) -> List[Line]:
    """The logical lines of `src` with their tokens; newlines belong to no line."""
    phys = physical_lines(src)
    lines: List[Line] = []
    in_vars = False
    index = 0
    while index < len(phys):
        start, end, _ = phys[index]
        code, comment = code_end(src, start, end)
        out = _Tokens()
        line = Line(L_OTHER, start, end, index, index, out.items, in_vars=in_vars)
        s = trim_start(src, start, code)
        text = src[s:code]
        if text == "[vars]":
            line.kind = L_VARS
            out.add(s, s + 1, SECTION_PUNCT)
            out.add(s + 1, code - 1, VARS_HEADER)
            out.add(code - 1, code, SECTION_PUNCT)
            in_vars = True
        elif text and text[0] == "[" and text[-1] == "]" and _section_name(src, s + 1, code - 1):
            line.kind = L_SECTION
            in_vars = False
            out.add(s, s + 1, SECTION_PUNCT)
            line.segments = _split_segments(src, trim_start(src, s + 1, code - 1), trim_end(src, s + 1, code - 1))
            previous = s + 1
            for _, a, b in line.segments:
                if "." in src[previous:a]:
                    out.add(previous, a, SECTION_PUNCT)
                out.add(a, b, SECTION_NAME)
                previous = b
            out.add(previous, code, SECTION_PUNCT)
        elif text.startswith("@"):
            line.kind = L_ANNOTATION
            line.annotation = text
            line.annotation_span = (s, code)
            _annotation_tokens(src, s, code, out)
        elif text == "}#":
            line.kind = L_BLOCK_CLOSE
            out.add(s, code, DICT_CLOSE)
        else:
            parts = _key_line(src, start, code) if text else None
            if parts is None:
                out.add(s, code, IGNORED)
            else:
                k, key_end, value = parts
                line.key = unquote_key(src[k:key_end])
                line.key_span = (k, key_end)
                out.add(k, key_end, VAR_KEY if in_vars else KEY)
                out.add(src.index("=", key_end), src.index("=", key_end) + 1, EQUALS)
                if src[value:code] == "#{":
                    line.kind = L_BLOCK_OPEN
                    out.add(value, code, DICT_OPEN)
                else:
                    line.kind = L_KEY
                    index = _join(src, phys, index, value, code, comment, line, out)
                    comment = None
        if comment is not None:
            out.add(comment, end, COMMENT)
        lines.append(line)
        index += 1
    return lines


def _section_name(src: str, a: int, b: int) -> bool:
    inner = src[a:b]
    return bool(inner.strip(_BLANKS)) and "[" not in inner and "]" not in inner


def _join(src: str, phys: list, index: int, value: int, code: int, comment: Optional[int], line: Line, out: _Tokens) -> int:
    """Adds the value of a key line, with the lines its open brackets take; returns the last line's index."""
    pieces = [(value, code)]
    comments = [(comment, phys[index][1])]
    depth = bracket_depth(src, value, code)
    while depth >= 1 and index + 1 < len(phys):
        index += 1
        start, end, _ = phys[index]
        c_end, c_start = code_end(src, start, end)
        a = trim_start(src, start, c_end)
        pieces.append((a, c_end))
        comments.append((c_start, end))
        depth += bracket_depth(src, a, c_end)
    _value_tokens(src, pieces, out)
    for c_start, end in comments:
        if c_start is not None:
            out.add(c_start, end, COMMENT)
    out.items.sort(key=lambda t: t.start)
    line.last = index
    line.end = phys[index][1]
    line.value_span = (value, pieces[-1][1])
    return index


def tokens(src: str, lines: Optional[List[Line]] = None) -> Iterator[Token]:
    """Every token of `src` in order: the lines' tokens, the blanks between them and the line terminators."""
    pos = 0
    for line in lines if lines is not None else scan(src):
        if line.start > pos:
            yield Token(pos, line.start, NEWLINE)
            pos = line.start
        for token in line.tokens:
            if token.start > pos:
                yield Token(pos, token.start, WS if not src[pos : token.start].strip(_BLANKS) else TEXT)
            yield token
            pos = token.end
        if line.end > pos:
            yield Token(pos, line.end, WS if not src[pos : line.end].strip(_BLANKS) else TEXT)
        pos = line.end
    if len(src) > pos:
        yield Token(pos, len(src), NEWLINE)
