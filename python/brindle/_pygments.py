"""Pygments lexer for brindle files.

Registered through the `pygments.lexers` entry point, so `pygmentize -l
brindle`, Sphinx, MkDocs and rich find it once the package is installed.
Requires Pygments (the `highlight` extra); `import brindle` never imports it.
Lines the parser ignores are shown as comments (`Comment.Ignored`): they have
no effect on the configuration.
"""

from __future__ import annotations

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

from . import _scan

__all__ = ["BrindleLexer"]

TOKEN_TYPES = {
    _scan.WS: Whitespace,
    _scan.NEWLINE: Whitespace,
    _scan.COMMENT: Comment.Single,
    _scan.IGNORED: Comment.Ignored,
    _scan.SECTION_PUNCT: Punctuation,
    _scan.SECTION_NAME: Name.Namespace,
    _scan.VARS_HEADER: Keyword.Namespace,
    _scan.ANN_NAME: Name.Decorator,
    _scan.ANN_PUNCT: Punctuation,
    _scan.ANN_TEXT: String,
    _scan.ANN_STRING: String.Double,
    _scan.ANN_NUMBER: Number,
    _scan.ANN_TYPE: Keyword.Type,
    _scan.KEY: Name.Attribute,
    _scan.VAR_KEY: Name.Variable,
    _scan.EQUALS: Operator,
    _scan.STRING: String.Double,
    _scan.ESCAPE: String.Escape,
    _scan.INTEGER: Number.Integer,
    _scan.HEX: Number.Hex,
    _scan.OCT: Number.Oct,
    _scan.BIN: Number.Bin,
    _scan.FLOAT: Number.Float,
    _scan.CONSTANT: Keyword.Constant,
    _scan.REF_VAR: Name.Variable,
    _scan.REF_BUILTIN: Name.Builtin,
    _scan.REF_ENV: Name.Variable.Global,
    _scan.OPERATOR: Operator,
    _scan.FALLBACK: Operator,
    _scan.PUNCT: Punctuation,
    _scan.DICT_OPEN: Punctuation,
    _scan.DICT_CLOSE: Punctuation,
    _scan.DICT_KEY: Name.Attribute,
    _scan.TEXT: Text,
    _scan.ERROR: Error,
}


class BrindleLexer(Lexer):
    """Lexer for brindle configuration files."""

    name = "brindle"
    aliases = ["brindle"]
    filenames = ["*.brindle"]
    mimetypes = ["text/x-brindle"]
    url = "https://pypi.org/project/brindle/"

    def get_tokens_unprocessed(self, text: str) -> Iterator[Tuple[int, _TokenType, str]]:
        for token in _scan.tokens(text):
            yield token.start, TOKEN_TYPES[token.kind], text[token.start : token.end]
