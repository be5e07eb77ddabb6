"""Editing brindle text while keeping everything else, and the `set` and
`unset` commands.

`edit(source)` returns an `Editor`: `set`, `set_text`, `delete`,
`add_annotation` and `remove_annotation` each change only the lines of the
entry they touch, and `str(editor)` is the edited text. The commands write a
file only when the edited text still parses, atomically (a temporary file in
the same directory renamed over the original, keeping its mode).
"""

from __future__ import annotations

import argparse
import os
import stat
import tempfile
from typing import Callable, TextIO

from . import _native
from ._io import DecodeError
from ._streams import shown

Editor = _native.Editor

EXIT_OK = 0
EXIT_PROBLEM = 1
EXIT_USAGE = 2

_BOM = "\ufeff"


def edit(source: str) -> _native.Editor:
    """An editor over `source`; `str()` of it gives the edited text."""
    return _native.Editor(source)


def read_file(path: str) -> str:
    """The text of a file, byte-order mark included (it is written back as it was).

    Raises OSError when the file cannot be read and DecodeError when it is
    not UTF-8.
    """
    with open(path, "rb") as handle:
        data = handle.read()
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise DecodeError(path, error) from None


def write_atomic(path: str, text: str) -> None:
    """Replace the file at `path` with `text` (UTF-8), keeping its mode.

    The text goes to a temporary file in the same directory first, which is
    then renamed over the original, so a reader sees the old or the new file,
    never a half-written one. A symbolic link keeps pointing at the file.
    """
    # Through a symbolic link the file it points to is replaced, not the link.
    path = os.path.realpath(path)
    directory = os.path.dirname(path)
    try:
        mode = stat.S_IMODE(os.stat(path).st_mode)
    except FileNotFoundError:
        mode = None
    fd, temp = tempfile.mkstemp(prefix=".brindle-", dir=directory)
    try:
        with os.fdopen(fd, "wb") as handle:
            handle.write(text.encode("utf-8"))
            handle.flush()
            os.fsync(handle.fileno())
        if mode is not None:
            os.chmod(temp, mode)
        os.replace(temp, path)
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise


def _split_bom(text: str) -> tuple[str, str]:
    return (_BOM, text[1:]) if text.startswith(_BOM) else ("", text)


def _edit_file(path: str, change: str, apply: Callable[[_native.Editor], object], err: TextIO) -> int:
    """Read `path`, apply one edit, and write the result when it still parses."""
    name = shown(path)
    try:
        bom, text = _split_bom(read_file(path))
    except DecodeError as error:
        print(f"brindle: error: {error}", file=err)
        return EXIT_PROBLEM
    except OSError as error:
        print(f"brindle: error: {name}: {error.strerror or error}", file=err)
        return EXIT_USAGE
    editor = edit(text)
    try:
        apply(editor)
    except KeyError as error:
        print(f"brindle: error: {name}: {error.args[0]}", file=err)
        return EXIT_PROBLEM
    except ValueError as error:
        print(f"brindle: error: {name}: {error}", file=err)
        return EXIT_PROBLEM
    result = str(editor)
    try:
        _native.parse(result)
    except _native.BrindleError as error:
        print(f"brindle: error: {name}: not written, {change} would leave it unreadable: {error}", file=err)
        return EXIT_PROBLEM
    try:
        write_atomic(path, bom + result)
    except OSError as error:
        print(f"brindle: error: {name}: {error.strerror or error}", file=err)
        return EXIT_USAGE
    return EXIT_OK


def cmd_set(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    value = args.value
    if "\n" in value or "\r" in value or not value.strip():
        print("brindle: error: VALUE must be one non-empty line of brindle syntax", file=err)
        return EXIT_USAGE
    try:
        _native.parse(f"value = {value}\n")
    except _native.VariableError:
        pass  # may name a variable of the file; the edit checks it there
    except _native.BrindleError as error:
        print(f"brindle: error: VALUE is not a brindle value: {error}", file=err)
        return EXIT_PROBLEM
    return _edit_file(args.file, f"setting `{args.key_path}`", lambda e: e.set_text(args.key_path, value), err)


def cmd_unset(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    return _edit_file(args.file, f"removing `{args.key_path}`", lambda e: e.delete(args.key_path), err)


def add_commands(commands: "argparse._SubParsersAction[argparse.ArgumentParser]") -> None:
    setter = commands.add_parser(
        "set",
        help="set the value at a key path in a file, keeping its comments and layout",
        description=(
            "Set KEY.PATH in FILE to VALUE, written in brindle syntax (a string needs its "
            "double quotes). Only the lines of that key change; a missing key is added to "
            "its section, a missing section at the end. The file is written only when the "
            "result still parses."
        ),
    )
    setter.add_argument("file", metavar="FILE")
    setter.add_argument("key_path", metavar="KEY.PATH")
    setter.add_argument("value", metavar="VALUE")
    setter.set_defaults(run=cmd_set)

    unset = commands.add_parser(
        "unset",
        help="remove a key (with its annotations) from a file",
        description=(
            "Remove KEY.PATH from FILE: a key, a block, an inline dict entry or a whole "
            "section, with the annotations written above it. Exit status 1 when there is none."
        ),
    )
    unset.add_argument("file", metavar="FILE")
    unset.add_argument("key_path", metavar="KEY.PATH")
    unset.set_defaults(run=cmd_unset)
