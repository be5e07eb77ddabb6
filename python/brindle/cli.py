"""The `brindle` command: check, convert and query configuration files.

Exit status: 0 when everything is fine, 1 when a file has a problem (it does
not parse, is not UTF-8, breaks its validation rules, `check` reports a
finding of severity error, or `get` finds no value), 2 for usage errors and
files that cannot be read. How findings are rendered is `_report`'s business.
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

from . import _edit, _format, _native, _report
from ._check import check, codes
from ._envargs import EnvOptionError, env_options, environment
from ._findings import Finding
from ._io import DecodeError, TooLargeError, decode_source, read_limited
from ._schema import json_schema
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
  brindle schema app.brindle > app.schema.json
  brindle json --env-file .env --env PORT=9000 app.brindle
  brindle check --no-env app.brindle
  brindle check --strict --format sarif app.brindle > brindle.sarif
  cat app.brindle | brindle check -
  brindle fmt --check examples/
  brindle set app.brindle server.port 8080
  brindle unset app.brindle server.debug

A FILE of - reads standard input. A file larger than --max-size
(default 1G) is not read.

exit status:
  0  all files are valid (warnings do not count, unless check --strict)
  1  a file has a problem: a parse or validation error (check: any
     finding of severity error), text that is not UTF-8, a value with no
     JSON form, or no value at the path (get); or the output could not be
     written completely
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
    """The source line and a caret under character column `colno` (1-based).

    Tabs before the caret are kept so the caret lines up however the
    terminal expands them.
    """
    prefix = line[: max(colno - 1, 0)]
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
    # The text before the first bad byte is valid: its characters give the column.
    colno = len(data[line_start : error.start].decode("utf-8")) + 1
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
    path: str, max_size: int, report: TextIO, err: TextIO, env: dict[str, str] | None = None
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
        return (_native.parse(text) if env is None else _native.parse(text, env=env)), name, EXIT_OK
    except (_native.ParseError, _native.VariableError) as error:
        error.filename = name
        _report_parse_error(report, name, text, error)
        return None, name, EXIT_PROBLEM


def _load(args: argparse.Namespace, err: TextIO) -> tuple[_native.BrindleDocument | None, int]:
    """Read and parse the FILE of json/get/dump/schema, reporting problems to `err`."""
    doc, _, status = _read_and_parse(args.file, args.max_size, err, err, args.environment)
    return doc, status


def _decode_finding(error: DecodeError) -> tuple[str, Finding]:
    """Text shown for a file that is not UTF-8, and its finding (B100)."""
    data = bytes(error.object)
    line_start = data.rfind(b"\n", 0, error.start) + 1
    prefix = data[line_start : error.start].decode("utf-8", "replace")
    text = data.decode("utf-8", "replace")
    bad = data[error.start : error.end][:1].hex()
    column = len(prefix) + 1
    finding = Finding(
        code="B100", severity="error",
        message=f"not valid UTF-8: {error.reason} (byte 0x{bad} at offset {error.start})",
        line=error.lineno, column=column, end_line=error.lineno, end_column=column + 1,
        filename=error.filename,
    )
    return text, finding


def _codes_list(text: str | None) -> list[str] | None:
    if text is None:
        return None
    return [code.strip().upper() for code in text.split(",") if code.strip()]


def _cmd_check(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    reports: list[_report.FileReport] = []
    unreadable = 0
    selected, ignored = _codes_list(args.select), _codes_list(args.ignore)
    for path in args.files:
        try:
            text, name = _read_text(path, args.max_size)
        except _Unreadable as error:
            print(f"brindle: error: {error}", file=err)
            unreadable += 1
            continue
        except DecodeError as error:
            text, finding = _decode_finding(error)
            findings = [finding]
            name = error.filename
        else:
            findings = check(text, filename=name, strict=args.strict, env=args.environment)
        findings = _report.select(findings, selected, ignored)
        reports.append(_report.FileReport(name, text, findings))

    rules = [_report.Rule(c.code, c.severity, c.name, c.summary) for c in codes()]
    out.write(_report.render(args.format, reports, files=len(args.files), unreadable=unreadable, rules=rules,
                             version=_native.__version__))
    # JSON and SARIF keep standard output a single document.
    summary = _report.summary_line(reports, len(args.files), unreadable)
    print(summary, file=err if args.format in ("json", "sarif") else out)
    if unreadable:
        return EXIT_USAGE
    has_error = any(f.severity == "error" for report in reports for f in report.findings)
    return EXIT_PROBLEM if has_error else EXIT_OK


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


def _cmd_schema(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    doc, status = _load(args, err)
    if doc is None:
        return status
    return _write_json(json_schema(doc), _display_name(args.file), out, err)
def _cmd_lsp(args: argparse.Namespace, out: TextIO, err: TextIO) -> int:
    import importlib.util

    if importlib.util.find_spec("pygls") is None:
        print("brindle: error: the language server needs pygls; install it with: pip install 'brindle[lsp]'", file=err)
        return EXIT_USAGE
    from ._lsp.server import serve

    return serve()


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
    env = env_options()

    check = commands.add_parser(
        "check",
        parents=[env],
        help="parse, validate and lint files",
        description=(
            "Parse each FILE, check it against the validation annotations it holds, and lint it for "
            "lines and values the language accepts silently. Each finding has a stable code (see the "
            "README): FILE:LINE:COL: severity[CODE]: message, the source line with the range "
            "underlined, and notes for related places. Warnings do not change the exit status "
            "unless --strict is given."
        ),
    )
    check.add_argument("files", nargs="+", metavar="FILE", help="file to check (- for standard input)")
    check.add_argument("--strict", action="store_true", help="report warnings as errors (exit status 1)")
    check.add_argument("--format", choices=_report.FORMATS, default="text",
                       help="text (default), json (versioned schema), github (workflow commands) or sarif (2.1.0)")
    check.add_argument("--select", metavar="CODES",
                       help="report only these codes or families, comma-separated (e.g. B1,B2,B302)")
    check.add_argument("--ignore", metavar="CODES", help="do not report these codes or families, comma-separated")
    _add_max_size(check)
    check.set_defaults(run=_cmd_check)

    to_json = _file_command(
        commands,
        env,
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
        env,
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
        env,
        "dump",
        _cmd_dump,
        summary="print the document as brindle text (comments are not kept, expressions are evaluated)",
        description=(
            "Print the document as brindle text, variables and annotations included. "
            "Comments are not kept and expressions are written as their evaluated values."
        ),
    )
    _file_command(
        commands,
        env,
        "schema",
        _cmd_schema,
        summary="print a JSON Schema of the configuration and its rules",
        description=(
            "Print a JSON Schema (2020-12) of the configuration: its sections and keys, "
            "the types their values have, and the rules of their annotations (@required, "
            "@type, @min/@max, @minlen/@maxlen, @pattern, @enum, @positive, @nonzero, "
            "@nonempty, @deprecated, @description)."
        ),
    )
    lsp = commands.add_parser(
        "lsp",
        help="run the language server (for editors) on standard input and output",
        description="Run the brindle language server over stdio. Needs the lsp extra: pip install 'brindle[lsp]'.",
    )
    lsp.set_defaults(run=_cmd_lsp)
    _format.add_command(commands)
    _edit.add_commands(commands)
    return parser


def _file_command(
    commands: argparse._SubParsersAction[argparse.ArgumentParser],
    env: argparse.ArgumentParser,
    name: str,
    run: Callable[[argparse.Namespace, TextIO, TextIO], int],
    *,
    summary: str,
    description: str,
) -> argparse.ArgumentParser:
    """A sub-command that reads one FILE; `summary` is its line in the command list."""
    command = commands.add_parser(name, parents=[env], help=summary, description=description)
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
    try:
        args.environment = environment(args)
    except EnvOptionError as error:
        print(f"brindle: error: {error}", file=err)
        return _finish(EXIT_USAGE, out, err)
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
