"""The canonical layout of brindle text, and the `fmt` command.

`format(source)` never fails and is idempotent; comments, ignored lines and
lines that do not parse are kept, and the formatted text parses to the same
document.
"""

from __future__ import annotations

import argparse
import difflib
import os
import sys
from typing import Iterator, TextIO

from . import _native
from ._edit import EXIT_OK, EXIT_PROBLEM, EXIT_USAGE, read_file, write_atomic
from ._io import DecodeError
from ._streams import shown

format = _native.format  # noqa: A001 - the public name is brindle.format

STDIN_NAME = "<stdin>"
SUFFIX = ".brindle"


def _expand(paths: list[str]) -> Iterator[str]:
    """Files as given; directories walked for *.brindle files, in name order."""
    for path in paths:
        if path != "-" and os.path.isdir(path):
            for root, dirs, files in os.walk(path):
                dirs.sort()
                for name in sorted(files):
                    if name.endswith(SUFFIX):
                        yield os.path.join(root, name)
        else:
            yield path


def _read(path: str) -> str:
    if path == "-":
        data = sys.stdin.buffer.read() if sys.stdin is not None else b""
        try:
            return data.decode("utf-8")
        except UnicodeDecodeError as error:
            raise DecodeError(STDIN_NAME, error) from None
    return read_file(path)


def cmd_fmt(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    status = EXIT_OK
    changed = 0
    for path in _expand(args.files):
        name = STDIN_NAME if path == "-" else shown(path)
        try:
            text = _read(path)
        except DecodeError as error:
            print(f"brindle: error: {error}", file=err)
            status = max(status, EXIT_PROBLEM)
            continue
        except OSError as error:
            print(f"brindle: error: {name}: {error.strerror or error}", file=err)
            status = EXIT_USAGE
            continue
        formatted = format(text)
        if args.diff and formatted != text:
            out.write(
                "".join(
                    difflib.unified_diff(
                        text.splitlines(keepends=True),
                        formatted.splitlines(keepends=True),
                        fromfile=name,
                        tofile=name,
                    )
                )
            )
        if args.check or args.diff:
            if formatted != text:
                changed += 1
                if args.check:
                    print(f"would reformat {name}", file=err)
            continue
        if path == "-":
            out.write(formatted)
        elif formatted != text:
            try:
                write_atomic(path, formatted)
            except OSError as error:
                print(f"brindle: error: {name}: {error.strerror or error}", file=err)
                status = EXIT_USAGE
                continue
            changed += 1
            print(f"reformatted {name}", file=err)
    if args.check and changed and status == EXIT_OK:
        status = EXIT_PROBLEM
    return status


def add_command(commands: "argparse._SubParsersAction[argparse.ArgumentParser]") -> None:
    fmt = commands.add_parser(
        "fmt",
        help="rewrite files in the canonical layout, keeping comments",
        description=(
            "Rewrite each FILE in the canonical layout: one space around '=', annotations "
            "directly above their key, one blank line between sections, block entries and "
            "continued lines indented by four spaces. Comments, ignored lines and lines that "
            "do not parse are kept; line ends follow the file. A directory means every "
            "*.brindle file in it; - reads standard input and writes the result to standard "
            "output."
        ),
    )
    fmt.add_argument("files", nargs="+", metavar="FILE", help="file or directory (- for standard input)")
    fmt.add_argument("--check", action="store_true", help="change nothing; exit 1 naming the files that would change")
    fmt.add_argument("--diff", action="store_true", help="change nothing; print a unified diff of the changes")
    fmt.set_defaults(run=cmd_fmt)
