"""Positions between Python strings and the Language Server Protocol.

The server works with indexes into the document's Python string (code
points). A client counts columns in the encoding negotiated at start-up:
UTF-16 code units unless it offered UTF-8 (or, failing both, UTF-32).
`LineMap` converts in both directions; a column past the end of its line is
clamped to the line's end, and one inside a character to its start.
"""

from __future__ import annotations

from bisect import bisect_right
from typing import List, Tuple

UTF8 = "utf-8"
UTF16 = "utf-16"
UTF32 = "utf-32"


def units(text: str, encoding: str) -> int:
    """Length of `text` in code units of `encoding`."""
    if encoding == UTF32 or text.isascii():
        return len(text)
    if encoding == UTF8:
        return len(text.encode("utf-8", "surrogatepass"))
    return len(text) + sum(1 for ch in text if ord(ch) > 0xFFFF)


def index_of_units(line: str, count: int, encoding: str) -> int:
    """Index into `line` of the character that starts `count` code units in."""
    if encoding == UTF32 or line.isascii():
        return min(max(count, 0), len(line))
    seen = 0
    for index, ch in enumerate(line):
        width = 1 if encoding == UTF16 and ord(ch) <= 0xFFFF else units(ch, encoding)
        if seen + width > count:
            return index
        seen += width
    return len(line)


class LineMap:
    """Line starts of one text, for converting offsets and positions."""

    def __init__(self, text: str, encoding: str = UTF16) -> None:
        self.text = text
        self.encoding = encoding
        self.starts: List[int] = [0]
        find = text.find
        pos = find("\n")
        while pos >= 0:
            self.starts.append(pos + 1)
            pos = find("\n", pos + 1)

    def line_text(self, line: int) -> str:
        """Line `line` (from 0) without its terminator."""
        if not 0 <= line < len(self.starts):
            return ""
        end = self.starts[line + 1] - 1 if line + 1 < len(self.starts) else len(self.text)
        if end > self.starts[line] and self.text[end - 1] == "\r":
            end -= 1
        return self.text[self.starts[line] : end]

    def position(self, offset: int) -> Tuple[int, int]:
        """(line, column in code units) of a string offset."""
        offset = min(max(offset, 0), len(self.text))
        line = bisect_right(self.starts, offset) - 1
        return line, units(self.text[self.starts[line] : offset], self.encoding)

    def offset(self, line: int, column: int) -> int:
        """String offset of a (line, column in code units) position."""
        if line < 0:
            return 0
        if line >= len(self.starts):
            return len(self.text)
        return self.starts[line] + index_of_units(self.line_text(line), column, self.encoding)

    def from_char_column(self, line: int, column: int) -> Tuple[int, int]:
        """(line, code units) of a position given as 1-based line and 1-based character column."""
        text = self.line_text(line - 1)
        return max(line - 1, 0), units(text[: max(column - 1, 0)], self.encoding)

    def from_byte_column(self, line: int, column: int) -> Tuple[int, int]:
        """(line, code units) of a position given as 1-based line and 1-based byte column."""
        data = self.line_text(line - 1).encode("utf-8", "surrogatepass")
        prefix = data[: max(column - 1, 0)].decode("utf-8", "ignore")
        return max(line - 1, 0), units(prefix, self.encoding)
