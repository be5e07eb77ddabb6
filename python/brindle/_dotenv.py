"""Reading dotenv files: the `NAME=value` lines that `--env-file` takes.

One assignment per line: an optional `export ` prefix, a name (ASCII
letters, digits and `_`, not starting with a digit), `=`, and a value.
A value is bare (trimmed; a `#` after a blank starts a comment), in single
quotes (taken literally) or in double quotes (`\\n`, `\\t`, `\\r`, `\\"`,
`\\\\` and `\\$` are escapes; the value may run over several lines). Blank
lines and lines starting with `#` are skipped. `${NAME}` is not expanded.

A line that fits none of this is an error naming the line, never a warning:
a half-read environment file would silently point a program at the wrong
place.
"""

from __future__ import annotations

import re

__all__ = ["DotenvError", "parse_dotenv", "read_dotenv"]

_NAME = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
_EXPORT = re.compile(r"export[ \t]+")
_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", '"': '"', "\\": "\\", "$": "$"}


class DotenvError(ValueError):
    """A line of a dotenv file that is not an assignment."""

    def __init__(self, msg: str, filename: str = "<env>", lineno: int = 0) -> None:
        super().__init__(msg, filename, lineno)
        self.msg = msg
        self.filename = filename
        self.lineno = lineno

    def __str__(self) -> str:
        return f"{self.filename}:{self.lineno}: {self.msg}"


def read_dotenv(path: str) -> dict[str, str]:
    """The assignments of the dotenv file at `path` (UTF-8), later ones winning."""
    with open(path, encoding="utf-8-sig") as handle:
        return parse_dotenv(handle.read(), path)


def parse_dotenv(text: str, filename: str = "<env>") -> dict[str, str]:
    """The assignments of dotenv `text`, in order; a repeated name keeps its last value."""
    result: dict[str, str] = {}
    lines = text.splitlines()
    index = 0
    while index < len(lines):
        lineno = index + 1
        line = lines[index].strip()
        index += 1
        if not line or line.startswith("#"):
            continue
        export = _EXPORT.match(line)
        if export:
            line = line[export.end() :]
        name = _NAME.match(line)
        if name is None:
            raise DotenvError(f"expected NAME=value, got `{line}`", filename, lineno)
        rest = line[name.end() :].lstrip(" \t")
        if not rest.startswith("="):
            raise DotenvError(f"expected `=` after `{name.group()}`", filename, lineno)
        rest = rest[1:].lstrip(" \t")
        if rest.startswith('"'):
            value, tail, index = _double_quoted(rest[1:], lines, index, filename, lineno)
        elif rest.startswith("'"):
            end = rest.find("'", 1)
            if end < 0:
                raise DotenvError("unterminated single-quoted value", filename, lineno)
            value, tail = rest[1:end], rest[end + 1 :]
        else:
            value, tail = _bare(rest), ""
        tail = tail.strip(" \t")
        if tail and not tail.startswith("#"):
            raise DotenvError(f"unexpected text after the closing quote: `{tail}`", filename, lineno)
        result[name.group()] = value
    return result


def _bare(text: str) -> str:
    # A `#` after a blank starts a comment; one inside a word (a#b) does not.
    comment = re.search(r"[ \t]#", text)
    if comment:
        text = text[: comment.start()]
    return text.strip(" \t")


def _double_quoted(text: str, lines: list[str], index: int, filename: str, lineno: int) -> tuple[str, str, int]:
    """(value, text after the closing quote, index of the next line)."""
    out: list[str] = []
    while True:
        position = 0
        while position < len(text):
            char = text[position]
            if char == '"':
                return "".join(out), text[position + 1 :], index
            if char == "\\" and position + 1 < len(text) and text[position + 1] in _ESCAPES:
                out.append(_ESCAPES[text[position + 1]])
                position += 2
                continue
            out.append(char)
            position += 1
        if index >= len(lines):
            raise DotenvError("unterminated double-quoted value", filename, lineno)
        out.append("\n")
        text = lines[index]
        index += 1
