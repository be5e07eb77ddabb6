"""The `brindle` command: check, convert and query configuration files.

Exit status: 0 when everything is fine, 1 when a file has a problem (it does
not parse, is not UTF-8, breaks its validation rules, or `get` finds no
value), 2 for usage errors and files that cannot be read.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import math
import re
import sys
from typing import Any, Callable, Sequence, TextIO

from . import _edit, _format, _native
from ._io import DecodeError, TooLargeError, decode_source, read_limited
from ._streams import shown, standard_streams

EXIT_OK = 0
EXIT_PROBLEM = 1
EXIT_USAGE = 2

STDIN_NAME = "<stdin>"

# Input beyond this many bytes is refused unread (--max-size changes it).
DEFAULT_MAX_SIZE = 1 << 30
_SIZE_UNITS = {"": 1, "k": 1 << 10, "m": 1 << 20, "g": 1 << 30}

# Parse errors carry their position twice: as attributes and at the end of
# the message. The suffix is dropped from what we print, and read back when
# the attributes are missing.
_POSITION_SUFFIX = re.compile(r" \(line (\d+), col (\d+)\)$")

# Told apart from a stored null by `get`.
_ABSENT = object()

_EPILOG = """\
examples:
  brindle check app.brindle deploy.brindle
  brindle json app.brindle > app.json
  brindle json --vars deploy.brindle
  brindle get app.brindle server.port
  brindle get --raw deploy.brindle database.host
  brindle dump app.brindle
  cat app.brindle | brindle check -
  brindle fmt --check examples/
  brindle set app.brindle server.port 8080
  brindle unset app.brindle server.debug

A FILE of - reads standard input. A file larger than --max-size
(default 1G) is not read.

exit status:
  0  all files are valid (warnings do not count)
  1  a file has a problem: a parse or validation error, text that is
     not UTF-8, a value with no JSON form, or no value at the path (get);
     or the output could not be written completely
  2  usage error, or a file that cannot be read (or is too large)
"""


class _Unreadable(Exception):
    """A file that could not be read at all (missing, a directory, ...)."""


def _read_text(path: str, max_size: int) -> tuple[str, str]:
    """(text, name) of a file given on the command line; `-` is stdin.

    The name is the path as shown in messages (see `shown`)."""
    if path == "-":
        if sys.stdin is None:
            raise _Unreadable(f"{STDIN_NAME}: no standard input")
        try:
            data = read_limited(sys.stdin.buffer, max_size, STDIN_NAME)
        except TooLargeError as error:
            raise _Unreadable(str(error)) from None
        except OSError as error:
            raise _Unreadable(f"{STDIN_NAME}: {error.strerror or error}") from None
        return decode_source(data, STDIN_NAME), STDIN_NAME  # type: ignore[arg-type]
    name = shown(path)
    try:
        with open(path, "rb") as handle:
            data = read_limited(handle, max_size, name)
    except TooLargeError as error:
        raise _Unreadable(str(error)) from None
    except FileNotFoundError:
        raise _Unreadable(f"{name}: no such file") from None
    except IsADirectoryError:
        raise _Unreadable(f"{name}: is a directory") from None
    except PermissionError:
        raise _Unreadable(f"{name}: permission denied") from None
    except OSError as error:
        raise _Unreadable(f"{name}: {error.strerror or error}") from None
    return decode_source(data, name), name  # type: ignore[arg-type]


def _position(error: BaseException) -> tuple[str, int | None, int | None]:
    """Message without its position suffix, and the 1-based line and column."""
    message = str(error)
    match = _POSITION_SUFFIX.search(message)
    if match:
        message = message[: match.start()]
    lineno = getattr(error, "lineno", None)
    colno = getattr(error, "colno", None)
    if not isinstance(lineno, int) or not isinstance(colno, int):
        if match is None:
            return message, None, None
        lineno, colno = int(match.group(1)), int(match.group(2))
    return message, lineno, colno


def caret_lines(line: str, colno: int) -> list[str]:
    """The source line and a caret under byte column `colno` (1-based).

    Columns count bytes; the caret is placed after as many characters as
    the bytes before it make up, and tabs in that prefix are kept so the
    caret lines up however the terminal expands them.
    """
    prefix = line.encode("utf-8")[: max(colno - 1, 0)].decode("utf-8", "ignore")
    pad = "".join("\t" if ch == "\t" else " " for ch in prefix)
    return [f"    {line}", f"    {pad}^"]


def _source_line(text: str, lineno: int) -> str | None:
    lines = text.split("\n")
    if not 1 <= lineno <= len(lines):
        return None
    line = lines[lineno - 1]
    return line[:-1] if line.endswith("\r") else line


def _report_parse_error(stream: TextIO, name: str, text: str, error: BaseException) -> None:
    message, lineno, colno = _position(error)
    if lineno is None or colno is None:
        print(f"{name}: error: {message}", file=stream)
        return
    print(f"{name}:{lineno}:{colno}: error: {message}", file=stream)
    line = _source_line(text, lineno)
    if line is not None:
        for row in caret_lines(line, colno):
            print(row, file=stream)


def _report_decode_error(stream: TextIO, error: DecodeError) -> None:
    data = bytes(error.object)
    line_start = data.rfind(b"\n", 0, error.start) + 1
    colno = error.start - line_start + 1
    bad = data[error.start : error.end][:1].hex()
    print(
        f"{error.filename}:{error.lineno}:{colno}: error: not valid UTF-8: "
        f"{error.reason} (byte 0x{bad} at offset {error.start})",
        file=stream,
    )
    line_end = data.find(b"\n", error.start)
    line = data[line_start : len(data) if line_end < 0 else line_end].rstrip(b"\r")
    for row in caret_lines(line.decode("utf-8", "replace"), colno):
        print(row, file=stream)


def _read_and_parse(
    path: str, max_size: int, report: TextIO, err: TextIO
) -> tuple[_native.BrindleDocument | None, str, int]:
    """Read and parse one file: (document or None, name, exit status).

    A file that cannot be read is reported to `err` (EXIT_USAGE); text that
    is not UTF-8 or does not parse, to `report` (EXIT_PROBLEM).
    """
    try:
        text, name = _read_text(path, max_size)
    except _Unreadable as error:
        print(f"brindle: error: {error}", file=err)
        return None, shown(path), EXIT_USAGE
    except DecodeError as error:
        _report_decode_error(report, error)
        return None, error.filename, EXIT_PROBLEM
    try:
        return _native.parse(text), name, EXIT_OK
    except (_native.ParseError, _native.VariableError) as error:
        _report_parse_error(report, name, text, error)
        return None, name, EXIT_PROBLEM


def _load(args: argparse.Namespace, err: TextIO) -> tuple[_native.BrindleDocument | None, int]:
    """Read and parse one file for json/get/dump, reporting problems to `err`."""
    doc, _, status = _read_and_parse(args.file, args.max_size, err, err)
    return doc, status


def _plural(count: int, word: str) -> str:
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


def _cmd_check(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    errors = warnings = unreadable = 0
    for path in args.files:
        doc, name, status = _read_and_parse(path, args.max_size, out, err)
        if doc is None:
            if status == EXIT_USAGE:
                unreadable += 1
            else:
                errors += 1
            continue
        # Findings and deprecations come in the order of the file, so the
        # first line printed is the first problem in it.
        findings = [str(finding) for finding in _native.validate_all(doc)]
        for message in findings:
            print(f"{name}: error: {message}", file=out)
        errors += len(findings)
        for key_path, note in doc.deprecated_keys():
            suffix = f": {note}" if note is not None else ""
            print(f"{name}: warning: `{key_path}` is deprecated{suffix}", file=out)
            warnings += 1

    count = len(args.files)
    summary = f"checked {_plural(count, 'file')}: "
    if errors == warnings == unreadable == 0:
        summary += "no problems"
    else:
        parts = [_plural(errors, "error"), _plural(warnings, "warning")]
        if unreadable:
            parts.append(f"{unreadable} unreadable")
        summary += ", ".join(parts)
    print(summary, file=out)
    if unreadable:
        return EXIT_USAGE
    return EXIT_PROBLEM if errors else EXIT_OK


def _non_finite_path(value: Any, path: str) -> str | None:
    """Path of the first NaN or infinity inside `value`, if any."""
    if isinstance(value, float) and not math.isfinite(value):
        return path
    if isinstance(value, dict):
        for key, item in value.items():
            found = _non_finite_path(item, f"{path}.{key}" if path else key)
            if found is not None:
                return found
    elif isinstance(value, list):
        for index, item in enumerate(value):
            found = _non_finite_path(item, f"{path}[{index}]")
            if found is not None:
                return found
    return None


def _write_json(value: Any, name: str, out: TextIO, err: TextIO, where: str = "") -> int:
    # JSON has no NaN or infinity; writing them as bare words would give
    # text that JSON readers reject, and as strings would change their type.
    bad = _non_finite_path(value, where)
    if bad is not None:
        print(
            f"brindle: error: {name}: `{bad}` is not a finite number and has no JSON form",
            file=err,
        )
        return EXIT_PROBLEM
    out.write(json.dumps(value, indent=2, ensure_ascii=False, allow_nan=False))
    out.write("\n")
    return EXIT_OK


def _cmd_json(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    doc, status = _load(args, err)
    if doc is None:
        return status
    value = doc.vars if args.vars else doc.config
    return _write_json(value, _display_name(args.file), out, err)


def _cmd_get(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    doc, status = _load(args, err)
    if doc is None:
        return status
    try:
        args.key_path.encode("utf-8")
    except UnicodeEncodeError:  # bytes that are not UTF-8 name no key
        value = _ABSENT
    else:
        value = doc.resolve(args.key_path, _ABSENT)
    if value is _ABSENT:
        print(f"brindle: {_display_name(args.file)}: no value at `{shown(args.key_path)}`", file=err)
        return EXIT_PROBLEM
    if args.raw and isinstance(value, str):
        out.write(value + "\n")
        return EXIT_OK
    return _write_json(value, _display_name(args.file), out, err, shown(args.key_path))


def _cmd_dump(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    doc, status = _load(args, err)
    if doc is None:
        return status
    out.write(_native.dumps(doc))
    return EXIT_OK


def _display_name(path: str) -> str:
    return STDIN_NAME if path == "-" else shown(path)


def _size(text: str) -> int:
    """A --max-size value: bytes, or with a K, M or G suffix (binary)."""
    match = re.fullmatch(r"(\d+)([kmg]?)i?b?", text.strip().lower())
    if match is None:
        raise argparse.ArgumentTypeError(f"not a size: {text!r} (bytes, or a number with K, M or G)")
    return int(match.group(1)) * _SIZE_UNITS[match.group(2)]


def _add_max_size(command: argparse.ArgumentParser) -> None:
    command.add_argument(
        "--max-size", type=_size, default=DEFAULT_MAX_SIZE, metavar="SIZE",
        help="refuse a file larger than SIZE bytes (K, M, G suffixes; default 1G)",
    )


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="brindle",
        description="Check, convert and query brindle configuration files.",
        epilog=_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"brindle {_native.__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)

    check = commands.add_parser(
        "check",
        help="parse and validate files",
        description=(
            "Parse each FILE and check it against the validation annotations it holds. "
            "Parse errors are shown as FILE:LINE:COL with the source line; validation "
            "findings as FILE: error; deprecated keys as FILE: warning. Warnings do not "
            "change the exit status."
        ),
    )
    check.add_argument("files", nargs="+", metavar="FILE", help="file to check (- for standard input)")
    _add_max_size(check)
    check.set_defaults(run=_cmd_check)

    to_json = _file_command(
        commands,
        "json",
        _cmd_json,
        summary="print the configuration as JSON",
        description=(
            "Print the parsed configuration (or, with --vars, the variables) as JSON. "
            "Expressions are evaluated; the file is not validated. A NaN or infinite "
            "number has no JSON form and is reported as an error."
        ),
    )
    to_json.add_argument("--vars", action="store_true", help="print the [vars] variables instead of the configuration")

    get = _file_command(
        commands,
        "get",
        _cmd_get,
        summary="print the value at a dotted key path",
        description=(
            "Print the value at KEY.PATH (section names and key joined with points) as JSON. "
            "Exit status 1 when there is no value there; a null value prints null."
        ),
    )
    get.add_argument("key_path", metavar="KEY.PATH", help="dotted path, for example server.port")
    get.add_argument("-r", "--raw", action="store_true", help="print a string value without JSON quotes")

    _file_command(
        commands,
        "dump",
        _cmd_dump,
        summary="print the document as brindle text (comments are not kept, expressions are evaluated)",
        description=(
            "Print the document as brindle text, variables and annotations included. "
            "Comments are not kept and expressions are written as their evaluated values."
        ),
    )
    _format.add_command(commands)
    _edit.add_commands(commands)
    return parser


def _file_command(
    commands: argparse._SubParsersAction[argparse.ArgumentParser],
    name: str,
    run: Callable[[argparse.Namespace, TextIO, TextIO], int],
    *,
    summary: str,
    description: str,
) -> argparse.ArgumentParser:
    """A sub-command that reads one FILE; `summary` is its line in the command list."""
    command = commands.add_parser(name, help=summary, description=description)
    command.add_argument("file", metavar="FILE", help="file to read (- for standard input)")
    _add_max_size(command)
    command.set_defaults(run=run)
    return command


def _utf8_streams() -> None:
    # Output is brindle text or JSON, both UTF-8 by definition, whatever the
    # locale says; messages quote user text, which must never crash printing.
    if isinstance(sys.stdout, io.TextIOWrapper):
        sys.stdout.reconfigure(encoding="utf-8")
    if isinstance(sys.stderr, io.TextIOWrapper):
        sys.stderr.reconfigure(errors="backslashreplace")


def main(argv: Sequence[str] | None = None) -> int:
    _utf8_streams()
    out, err = standard_streams()
    try:
        # argparse prints help and usage errors itself and ignores failed
        # writes; through these wrappers they are noticed like any other.
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):  # type: ignore[type-var]
            args = build_parser().parse_args(argv)
    except SystemExit as done:  # --help, --version and usage errors
        status = EXIT_OK if done.code is None else done.code if isinstance(done.code, int) else EXIT_USAGE
        raise SystemExit(_finish(status, out, err)) from None
    run: Callable[[argparse.Namespace, TextIO, TextIO], int] = args.run
    return _finish(run(args, out, err), out, err)  # type: ignore[arg-type]


def _finish(status: int, out: Any, err: Any) -> int:
    """The exit status once the output is flushed: output that did not all
    get written is never a success. A reader that went away early
    (`brindle dump big.brindle | head -c1`) is not told about it."""
    out.flush()
    if out.error is None:
        return status
    if not out.broken_pipe:
        print(f"brindle: error: {out.error}", file=err)
    return max(status, EXIT_PROBLEM)
