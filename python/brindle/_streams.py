"""The command line's streams: output that remembers whether it was all
written, an error stream that never fails the command, and file names and
key paths shown so that any bytes the user gave can be printed.

A failed write must neither crash the command nor let it report success;
error text must never end up in the output, even when standard error is
closed.
"""

from __future__ import annotations

import errno
import io
import os
import sys
from typing import TextIO

_ESCAPED_CONTROLS = {ord(c): c.encode("unicode_escape").decode("ascii") for c in "\t\n\r\x0b\x0c"}
_ESCAPED_CONTROLS.update({c: f"\\x{c:02x}" for c in [*range(0x20), 0x7F] if c not in _ESCAPED_CONTROLS})


def shown(name: str) -> str:
    """`name` as it is printed: bytes that are not UTF-8 (which arrive as
    surrogate escapes in `sys.argv`) as \\xNN, control characters escaped,
    so that a name can neither crash printing nor forge a line of output."""
    try:
        raw = name.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:  # a surrogate that stands for no byte
        raw = name.encode("utf-8", "backslashreplace")
    text = raw.decode("utf-8", "backslashreplace")
    return text.translate(_ESCAPED_CONTROLS)


class Output:
    """Standard output for one command. The first failed write is kept in
    `error` and every later write is dropped, so a command that runs on
    after a failure cannot report success by accident."""

    def __init__(self, stream: TextIO | None) -> None:
        self._stream = stream
        self.error: str | None = None if stream is not None else "standard output is closed"
        self.broken_pipe = False

    def write(self, text: str) -> int:
        if self.error is None:
            try:
                self._write(text)
            except OSError as error:
                self._failed(error)
        return len(text)

    def _write(self, text: str) -> None:
        stream = self._stream
        binary = getattr(stream, "buffer", None)
        if binary is None or isinstance(binary, io.BufferedIOBase):
            stream.write(text)  # type: ignore[union-attr]
            return
        # An unbuffered text stream (python -u, PYTHONUNBUFFERED) ignores the
        # count of a partial write, as made when the reader goes away
        # mid-write; write through the raw layer until all of it is taken.
        stream.flush()  # type: ignore[union-attr]
        data = memoryview(text.encode(stream.encoding, stream.errors or "strict"))  # type: ignore[union-attr]
        while data:
            written = binary.write(data)
            if not written:
                raise OSError(errno.EAGAIN, "output would block")
            data = data[written:]

    def flush(self) -> None:
        if self.error is None:
            try:
                self._stream.flush()  # type: ignore[union-attr]
            except OSError as error:
                self._failed(error)

    def _failed(self, error: OSError) -> None:
        self.broken_pipe = error.errno == errno.EPIPE
        reason = error.strerror or (os.strerror(error.errno) if error.errno else str(error))
        self.error = f"cannot write to standard output: {reason}"
        _discard_pending(self._stream)


class Errors:
    """Standard error for one command: text that cannot be written is
    dropped (there is nowhere left to say so), never sent elsewhere."""

    def __init__(self, stream: TextIO | None) -> None:
        self._stream = stream

    def write(self, text: str) -> int:
        if self._stream is not None:
            try:
                self._stream.write(text)
                self._stream.flush()
            except (OSError, ValueError):
                self._stream = None
        return len(text)

    def flush(self) -> None:
        pass


def _discard_pending(stream: TextIO | None) -> None:
    # Text still buffered in front of a failed descriptor would fail again
    # when the interpreter flushes it at exit, with a message of its own and
    # status 120. Point the descriptor at the null device so that it drains.
    try:
        fd = stream.fileno()  # type: ignore[union-attr]
    except (AttributeError, OSError, ValueError):
        return
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
    except OSError:
        return
    try:
        os.dup2(devnull, fd)
    except OSError:
        pass
    finally:
        os.close(devnull)


def standard_streams() -> tuple[Output, Errors]:
    """The command's output and error streams over sys.stdout and sys.stderr."""
    return Output(sys.stdout), Errors(sys.stderr)
