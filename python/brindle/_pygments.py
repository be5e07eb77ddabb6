"""Pygments lexer for brindle files.

Registered through the `pygments.lexers` entry point, so `pygmentize -l
brindle`, Sphinx, MkDocs and rich find it once the package is installed.
Requires Pygments (the `highlight` extra); `import brindle` never imports it.

Lines, keys, values and their operands come from the core's syntax tree
(`brindle._native._syntax_view`), so highlighting splits a source exactly
where the parser does. The regexes below only name what lies inside one
operand (which kind of number, escapes in a string, the pieces of an
annotation's argument). Lines the parser ignores are shown as comments
(`Comment.Ignored`): they have no effect on the configuration.
"""

from __future__ import annotations

import re
from typing import Iterator, Tuple

from pygments.lexer import Lexer
from pygments.token import (
    Comment,
    Error,
    Keyword,
    Name,
    Number,
    Operator,
    Punctuation,
    String,
    Text,
    Whitespace,
    _TokenType,
)

from ._native import _syntax_view

__all__ = ["BrindleLexer", "TOKEN_TYPES"]

Tokens = Iterator[Tuple[int, _TokenType, str]]

# Every token type the lexer emits.
TOKEN_TYPES = frozenset({
    Whitespace, Comment.Single, Comment.Ignored, Punctuation, Name.Namespace, Keyword.Namespace, Name.Decorator,
    String, String.Double, Number, Keyword.Type, Name.Attribute, Name.Variable, Operator, String.Escape,
    Number.Integer, Number.Hex, Number.Oct, Number.Bin, Number.Float, Keyword.Constant, Name.Builtin,
    Name.Variable.Global, Text, Error,
})

# Tree tokens whose type depends on nothing but their kind.
_PLAIN = {
    "Comment": Comment.Single,
    "Equals": Operator,
    "Operator": Operator,
    "Fallback": Operator,
    "HeaderOpen": Punctuation,
    "HeaderClose": Punctuation,
    "BlockOpen": Punctuation,
    "BlockClose": Punctuation,
    "ArrayOpen": Punctuation,
    "ArrayClose": Punctuation,
    "DictOpen": Punctuation,
    "DictClose": Punctuation,
    "Comma": Punctuation,
    "DictKey": Name.Attribute,
}
_REFS = {"var": Name.Variable, "builtin": Name.Builtin, "env": Name.Variable.Global}

_END = r"(?![A-Za-z0-9_.])"
_NUMBERS = (
    (Number.Hex, re.compile(r"0[xX][0-9A-Fa-f_]+" + _END)),
    (Number.Oct, re.compile(r"0[oO][0-7_]+" + _END)),
    (Number.Bin, re.compile(r"0[bB][01_]+" + _END)),
    (Number.Float, re.compile(r"(?:[0-9][0-9_]*\.[0-9_]*|\.[0-9][0-9_]*)(?:[eE][0-9_]+)?" + _END
                              + r"|[0-9][0-9_]*[eE][0-9_]+" + _END)),
    (Number.Integer, re.compile(r"[0-9][0-9_]*" + _END)),
)
_CONSTANT = re.compile(r"(?:true|false|null)\Z")
_STRING_PART = re.compile(r'\\[nrt"\\]|"')
_ANN_NAME = re.compile(r"@[A-Za-z_][A-Za-z0-9_]*")
_ANN_NUMBER = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?\Z|[+-]?(?:inf|infinity|nan)\Z", re.I)
_BLANK_RUNS = re.compile(r"\s+|\S+")


class BrindleLexer(Lexer):
    """Lexer for brindle configuration files."""

    name = "brindle"
    aliases = ["brindle"]
    filenames = ["*.brindle"]
    mimetypes = ["text/x-brindle"]
    url = "https://pypi.org/project/brindle/"

    def get_tokens_unprocessed(self, text: str) -> Tokens:
        pos = 0
        in_vars = False
        for kind, _valid, _first, _last, _start, _end, names, value, tokens, refs in _syntax_view(text):
            if kind in ("vars", "section"):
                in_vars = kind == "vars"
            ref_kinds = {start: ref_kind for ref_kind, _, start, _ in refs}
            for token_kind, a, b in tokens:
                if a > pos:  # blanks and line ends
                    yield pos, Whitespace, text[pos:a]
                if token_kind in _PLAIN:
                    yield a, _PLAIN[token_kind], text[a:b]
                elif token_kind == "Key":
                    yield a, Name.Variable if in_vars else Name.Attribute, text[a:b]
                elif token_kind == "Text":
                    yield a, Comment.Ignored if kind == "ignored" else Text, text[a:b]
                elif token_kind == "SectionName":
                    yield from _section_name(text, a, b, names, kind == "vars")
                elif token_kind == "Annotation":
                    yield from _annotation(text, a, b, names, value)
                elif token_kind == "String":
                    yield from _string(text, a, b)
                elif token_kind == "Variable":
                    yield a, _REFS.get(ref_kinds.get(a, "var"), Name.Variable), text[a:b]
                else:  # Scalar
                    yield from _scalar(text, a, b)
                pos = b
        if pos < len(text):
            yield pos, Whitespace, text[pos:]


def _section_name(text: str, a: int, b: int, names: tuple, is_vars: bool) -> Tokens:
    if is_vars:
        yield a, Keyword.Namespace, text[a:b]
        return
    pos = a
    for _, start, end in names:
        if start > pos:  # the point between two segments, blanks included
            yield pos, Punctuation, text[pos:start]
        if end > start:
            yield start, Name.Namespace, text[start:end]
        pos = max(pos, end)
    if b > pos:
        yield pos, Punctuation, text[pos:b]


def _between(text: str, a: int, b: int, kind: _TokenType) -> Tokens:
    """text[a:b] with its blank runs as whitespace and the rest as `kind`."""
    for match in _BLANK_RUNS.finditer(text, a, b):
        yield match.start(), Whitespace if match.group().isspace() else kind, match.group()


def _annotation(text: str, a: int, b: int, names: tuple, value: tuple | None) -> Tokens:
    if not names:  # the parser rejects it: name what can be named, the rest is the error
        match = _ANN_NAME.match(text, a, b)
        if match is None:
            yield a, Error, text[a:b]
            return
        yield a, Name.Decorator, match.group()
        yield from _between(text, match.end(), b, Error)
        return
    name, start, end = names[0]
    yield start, Name.Decorator, text[start:end]
    if value is None:
        yield from _between(text, end, b, Punctuation)
        return
    yield from _between(text, end, value[0], Punctuation)
    yield from _argument(text, value[0], value[1], name)
    yield from _between(text, value[1], b, Punctuation)


def _argument(text: str, a: int, b: int, name: str) -> Tokens:
    arg = text[a:b]
    if len(arg) >= 2 and arg[0] == arg[-1] == '"':
        yield a, String.Double, arg
    elif len(arg) >= 2 and arg[0] == "[" and arg[-1] == "]" and name != "type":
        yield a, Punctuation, "["
        piece = a + 1
        for i in range(a + 1, b):
            if text[i] == "," or i == b - 1:
                item = text[piece:i]
                lead = len(item) - len(item.lstrip())
                body = item.strip()
                if lead:
                    yield piece, Whitespace, item[:lead]
                if body:
                    quoted = len(body) >= 2 and body[0] == body[-1] == '"'
                    yield piece + lead, String.Double if quoted else String, body
                if len(item) > lead + len(body):
                    yield piece + lead + len(body), Whitespace, item[lead + len(body):]
                yield i, Punctuation, text[i]
                piece = i + 1
    elif _ANN_NUMBER.match(arg):
        yield a, Number, arg
    else:
        yield a, Keyword.Type if name == "type" else String, arg


def _string(text: str, a: int, b: int) -> Tokens:
    """A quoted operand: its escapes apart; one that never closes is an error."""
    pos = a
    closed = False
    for match in _STRING_PART.finditer(text, a + 1, b):
        if match.group() == '"':
            closed = True
            end = match.end()
            yield pos, String.Double, text[pos:end]
            pos = end
            break
        if match.start() > pos:
            yield pos, String.Double, text[pos : match.start()]
        yield match.start(), String.Escape, match.group()
        pos = match.end()
    if not closed:
        if pos < b:
            yield pos, Error if pos == a else String.Double, text[pos:b]
    elif pos < b:
        yield pos, Text, text[pos:b]


def _scalar(text: str, a: int, b: int) -> Tokens:
    """A number (its sign shown as an operator), a constant, or text the parser takes as it is."""
    operand = text[a:b]
    sign = 1 if operand[:1] in ("+", "-") and len(operand) > 1 else 0
    for kind, pattern in _NUMBERS:
        if pattern.fullmatch(operand, 1 if sign else 0):
            if sign:
                yield a, Operator, operand[0]
            yield a + sign, kind, operand[sign:]
            return
    yield a, Keyword.Constant if _CONSTANT.match(operand) else Text, operand
