"""Reading and writing brindle files.

`load` and `dump` are the file counterparts of `parse` and `dumps`: they take
care of the encoding (brindle text is always UTF-8), of a leading byte-order
mark, and of telling which file a decoding problem comes from.
"""

from __future__ import annotations

import io
import os
from typing import IO, Any, Union

from ._native import BrindleDocument, dumps, parse

__all__ = ["DecodeError", "TooLargeError", "dump", "load"]

# What `load` and `dump` accept as their file argument.
PathArg = Union[str, "os.PathLike[str]"]
FileArg = Union[PathArg, IO[bytes], IO[str]]

_BOM = "\ufeff"


class DecodeError(UnicodeDecodeError):
    """A file that is not valid UTF-8.

    Still a `UnicodeDecodeError` (and so a `ValueError`), with the usual
    `encoding`, `object`, `start`, `end` and `reason`; `start` is the byte
    offset of the first bad byte in the file. `filename` names the file and
    `lineno` is the line that byte is on, counted from 1.
    """

    filename: str
    lineno: int

    def __init__(self, filename: str, error: UnicodeDecodeError) -> None:
        super().__init__(error.encoding, error.object, error.start, error.end, error.reason)
        self.filename = filename
        self.lineno = bytes(error.object).count(b"\n", 0, error.start) + 1

    def __reduce__(self) -> tuple[Any, ...]:
        # Exceptions pickle through their args; ours has a different signature.
        # Every instance attribute comes along as the state.
        args = (self.filename, self.object, self.start, self.end, self.reason)
        return (_rebuild_decode_error, args, dict(self.__dict__))

    def __str__(self) -> str:
        bad = bytes(self.object)[self.start : self.end]
        return (
            f"{self.filename}: not valid UTF-8: {self.reason} "
            f"(byte 0x{bad[:1].hex()} at offset {self.start}, line {self.lineno})"
        )


def _rebuild_decode_error(filename: str, data: bytes, start: int, end: int, reason: str) -> DecodeError:
    return DecodeError(filename, UnicodeDecodeError("utf-8", data, start, end, reason))


class TooLargeError(ValueError):
    """A file longer than the size limit it was read with.

    `filename` names the file and `max_size` is the limit in bytes; the
    message is "FILE: larger than N bytes".
    """

    def __init__(self, filename: str, max_size: int) -> None:
        super().__init__(filename, max_size)
        self.filename = filename
        self.max_size = max_size

    def __str__(self) -> str:
        return f"{self.filename}: larger than {self.max_size} bytes"


# Limited reads go in steps of this many bytes (or characters), so that
# neither a huge limit nor an endless source allocates ahead of the data.
_CHUNK = 1 << 20


def read_limited(handle: Any, max_size: int, name: str) -> bytes | str:
    """All of `handle` (binary or text), failing with TooLargeError as soon
    as it holds more than `max_size` bytes (text counts as UTF-8)."""
    if max_size < 0:
        raise ValueError(f"max_size must be at least 0, not {max_size}")
    try:
        size = os.fstat(handle.fileno()).st_size
    except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
        size = None
    if size is not None and size > max_size:
        raise TooLargeError(name, max_size)  # a regular file that says so up front
    chunks: list[Any] = []
    total = 0
    while True:
        chunk = handle.read(min(_CHUNK, max_size + 1 - total))
        if not chunk:
            break
        if not isinstance(chunk, (bytes, bytearray, memoryview, str)):
            raise TypeError(f"read() of {name} returned {type(chunk).__name__}, expected bytes or str")
        chunks.append(chunk)
        total += len(chunk.encode("utf-8", "surrogatepass")) if isinstance(chunk, str) else len(chunk)
        if total > max_size:
            raise TooLargeError(name, max_size)
    if chunks and isinstance(chunks[0], str):
        return "".join(chunks)
    return b"".join(chunks)


def decode_source(data: bytes, filename: str) -> str:
    """The text of a brindle file, from its bytes, without a byte-order mark."""
    try:
        text = data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise DecodeError(filename, error) from None
    return text[1:] if text.startswith(_BOM) else text


def _name_of(file: object) -> str:
    name = getattr(file, "name", None)
    if isinstance(name, (str, bytes, os.PathLike)):
        return os.fsdecode(name)
    return "<stream>"


def read_source(source: FileArg, max_size: int | None = None) -> tuple[str, str]:
    """Read a brindle file: returns (text, name), name being for messages.

    A path is opened and read as bytes; a binary file object is read and
    decoded; a text file object is read as it is (its own encoding applies).
    A leading byte-order mark is removed in every case: the parser would
    otherwise take it for part of the first key. With `max_size`, more than
    that many bytes is a TooLargeError.
    """
    if isinstance(source, (str, os.PathLike)):
        name = os.fspath(source)
        with open(name, "rb") as handle:
            data = handle.read() if max_size is None else read_limited(handle, max_size, name)
            return decode_source(data, name), name  # type: ignore[arg-type]
    if isinstance(source, bytes):
        raise TypeError("load expects a path or a file object, not bytes; to parse bytes, use parse(data.decode())")
    read = getattr(source, "read", None)
    if not callable(read):
        raise TypeError(f"load expects a path or a file object, not {type(source).__name__}")
    name = _name_of(source)
    try:
        data = read() if max_size is None else read_limited(source, max_size, name)
    except UnicodeDecodeError as error:
        # A text file opened as UTF-8 fails while reading; say which file.
        if not isinstance(error.object, (bytes, bytearray)):
            raise
        raise DecodeError(name, error) from None
    if isinstance(data, (bytes, bytearray, memoryview)):
        return decode_source(bytes(data), name), name
    if isinstance(data, str):
        return (data[1:] if data.startswith(_BOM) else data), name
    raise TypeError(f"read() of {name} returned {type(data).__name__}, expected bytes or str")


def load(source: FileArg, *, max_size: int | None = None) -> BrindleDocument:
    """Parse a brindle file.

    `source` is a path (`str` or `os.PathLike`) or a file object opened in
    binary or text mode. The bytes must be UTF-8; a leading byte-order mark
    is ignored. Raises `DecodeError` (a `UnicodeDecodeError`) naming the
    file and the byte offset when they are not UTF-8, `OSError` when the
    file cannot be read, and `ParseError` or `VariableError` like `parse`.
    With `max_size`, a source of more than that many bytes (text counted as
    UTF-8) is not read to its end but raises `TooLargeError` (a
    `ValueError`), "FILE: larger than N bytes".
    """
    text, _ = read_source(source, max_size)
    return parse(text)


def dump(data: BrindleDocument | dict[str, Any], file: FileArg) -> None:
    """Write `dumps(data)` to a path or to a text or binary file object.

    A path is written as UTF-8 with line feeds, replacing the file.
    """
    text = dumps(data)
    if isinstance(file, (str, os.PathLike)):
        with open(file, "w", encoding="utf-8", newline="") as handle:
            handle.write(text)
        return
    if isinstance(file, bytes):
        raise TypeError("dump expects a path or a file object, not bytes")
    write = getattr(file, "write", None)
    if not callable(write):
        raise TypeError(f"dump expects a path or a file object, not {type(file).__name__}")
    if isinstance(file, io.TextIOBase):
        write(text)
    elif isinstance(file, (io.RawIOBase, io.BufferedIOBase)) or "b" in str(getattr(file, "mode", "")):
        write(text.encode("utf-8"))
    else:
        # A file-like object of unknown kind: text first, bytes if refused.
        try:
            write(text)
        except TypeError:
            write(text.encode("utf-8"))
