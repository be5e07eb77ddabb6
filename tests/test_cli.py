"""The brindle command, run as a separate process like a user would."""

import os
import shlex
import subprocess
import sys
from pathlib import Path

import pytest

import brindle

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.brindle"))

GOOD = '# A small service.\n[vars]\nbase = 8000\n\n[server]\n@min: 1024\nport = $base + 80\nhost = "localhost"\n'
GOOD += "nothing = null\n"
SERVER_JSON = '{\n  "host": "localhost",\n  "nothing": null,\n  "port": 8080\n}'
FILES = {
    "good": GOOD, "bad": "[a..b]\n", "open": 'a = "open\n', "uni": 'name = "ünï"\n', "bom": b"\xef\xbb\xbfname = 1\n",
    "warn": "@deprecated: gone soon\nold = 1\n", "nan": "[s]\nratios = [1, 0.0 / 0.0, 1 / 0.0]\n",
    "latin1": b'a = 1\nname = "caf\xe9"\n',
    "findings": '@min: 1\nworkers = 0\n@enum: [debug, info]\nlevel = "loud"\n@deprecated: use workers\nthreads = 4\n'
    "@deprecated\nold = 1\n",
}


def located(where, code, message, line, caret, *notes):
    """One finding as `brindle check` prints it: position, code, the source line
    underlined, then (label, where, line, caret) for each note."""
    out = f"{where}: {code}: {message}\n    {line}\n    {caret}\n"
    for label, at, source, mark in notes:
        out += f"    note: {label}\n      --> {at}\n        {source}\n        {mark}\n"
    return out


# Findings and deprecations in the order of the file, each at its value with a
# note at the annotation that set the rule.
FINDINGS = "".join([
    located("findings:2:11", "error[B204]", "[workers] value 0 is below @min: 1", "workers = 0", " " * 10 + "^",
            ("required by @min: 1 here", "findings:1:1", "@min: 1", "^" * 7)),
    located("findings:4:9", "error[B208]", "[level] value `loud` not in @enum: [debug, info]", 'level = "loud"',
            " " * 8 + "^" * 6, ("required by @enum: [debug, info] here", "findings:3:1", "@enum: [debug, info]", "^" * 20)),
    located("findings:6:1", "warning[B210]", "`threads` is deprecated: use workers", "threads = 4", "^" * 7,
            ("marked here: @deprecated: use workers", "findings:5:1", "@deprecated: use workers", "^" * 24)),
    located("findings:8:1", "warning[B210]", "`old` is deprecated", "old = 1", "^" * 3,
            ("marked here: @deprecated", "findings:7:1", "@deprecated", "^" * 11)),
]) + "checked 1 file: 2 errors, 2 warnings\n"
WARN = located("warn:2:1", "warning[B210]", "`old` is deprecated: gone soon", "old = 1", "^^^",
               ("marked here: @deprecated: gone soon", "warn:1:1", "@deprecated: gone soon", "^" * 22))
ONE_ERROR = "checked 1 file: 1 error, 0 warnings\n"
BAD_REPORT = "bad:1:2: error[B104]: invalid section name: `a..b`\n    [a..b]\n     ^^^^\n"
LATIN1_ERROR = "latin1:2:12: error: not valid UTF-8: invalid continuation byte (byte 0xe9 at offset 17)\n"
LATIN1_REPORT = LATIN1_ERROR.replace("error:", "error[B100]:") + '    name = "caf\ufffd"\n' + " " * 15 + "^\n"
NOT_FINITE = "brindle: error: nan: `s.ratios[1]` is not a finite number and has no JSON form\n"


def run(*args, stdin=b"", cwd=None):
    # The examples read SHOP_ variables; one set on the machine would change them.
    environ = {name: value for name, value in os.environ.items() if not name.startswith("SHOP_")}
    result = subprocess.run([sys.executable, "-m", "brindle", *map(str, args)], input=stdin, capture_output=True,
                            env=environ, cwd=cwd)
    return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")


@pytest.fixture
def folder(tmp_path):
    for name, text in FILES.items():
        (tmp_path / name).write_bytes(text.encode() if isinstance(text, str) else text)
    return tmp_path


@pytest.mark.parametrize("command, stdin, code, out, err", [
    ("check warn", "", 0, WARN + "checked 1 file: 0 errors, 1 warning\n", ""),
    ("check good bad", "", 1, BAD_REPORT + "checked 2 files: 1 error, 0 warnings\n", ""),
    ("check bad absent good", "", 2, BAD_REPORT + "checked 3 files: 1 error, 0 warnings, 1 unreadable\n", "absent"),
    ("check findings", "", 1, FINDINGS, ""), ("check latin1", "", 1, LATIN1_REPORT + ONE_ERROR, ""),
    ("json -", GOOD, 0, '{\n  "server": ' + SERVER_JSON.replace("\n", "\n  ") + "\n}\n", ""),
    ("json uni", "", 0, '{\n  "name": "ünï"\n}\n', ""),  # UTF-8, not \u escapes
    ("json --vars good", "", 0, '{\n  "base": 8000\n}\n', ""), ("json latin1", "", 1, "", LATIN1_ERROR),
    ("json open", "", 1, "", 'open:1:5: error: unterminated string\n    a = "open\n        ^\n'),
    ("json nan", "", 1, "", NOT_FINITE), ("get nan s", "", 1, "", NOT_FINITE), ("get bom name", "", 0, "1\n", ""),
    ("get good server.host", "", 0, '"localhost"\n', ""), ("get --raw good server.host", "", 0, "localhost\n", ""),
    ("get - server", GOOD, 0, SERVER_JSON + "\n", ""),
    ("get good server.missing", "", 1, "", "brindle: good: no value at `server.missing`\n"),
    ("get good ''", "", 1, "", "brindle: good: no value at ``\n"),
    ("dump good", "", 0, brindle.dumps(brindle.parse(GOOD)), ""), ("frob x", "", 2, "", "invalid choice: 'frob'"),
    ("", "", 2, "", "error: the following arguments are required: COMMAND"),
    ("check", "", 2, "", "error: the following arguments are required: FILE"),
    ("--version", "", 0, f"brindle {brindle.__version__}\n", ""),
])
def test_command(folder, command, stdin, code, out, err):
    result = run(*shlex.split(command), stdin=stdin.encode("utf-8"), cwd=folder)
    assert result[:2] == (code, out)
    assert err in result[2] and (err == "") == (result[2] == "")


@pytest.mark.parametrize("line, message, column, caret", [
    ('"café" = $missing', "error[B102]: undefined variable `$missing`", 10, " " * 9 + "^" * 8),  # characters
    ("\tport = $missing", "error[B102]: undefined variable `$missing`", 9, "\t" + " " * 7 + "^" * 8),
    ("port = 1 +* 2\r", "error[B101]: cannot parse value: `*`", 11, " " * 10 + "^"),
], ids=["multibyte", "tab", "syntax"])
def test_check_points_at_the_column(line, message, column, caret):
    code, out, _ = run("check", "-", stdin=f"[server]\n{line}\n".encode())
    assert (code, out) == (1, f"<stdin>:2:{column}: {message}\n    {line.rstrip()}\n    {caret}\n" + ONE_ERROR)


@pytest.mark.parametrize("path, reason", [("absent", "no such file"), (".", "is a directory")])
@pytest.mark.parametrize("command", ["check {}", "json {}", "get {} a", "dump {}"])
def test_unreadable_files_exit_2(folder, command, path, reason):
    code, out, err = run(*command.format(path).split(), cwd=folder)
    assert (code, err) == (2, f"brindle: error: {path}: {reason}\n")
    assert out == ("checked 1 file: 0 errors, 0 warnings, 1 unreadable\n" if command.startswith("check") else "")


@pytest.mark.parametrize("command, text", [
    ("--help", "examples:\n  brindle check"), ("dump --help", "Comments are not kept"),
])
def test_help(command, text):
    code, out, _ = run(*command.split())
    assert code == 0 and text in out


def test_bundled_examples_check_clean():
    assert run("check", *EXAMPLES) == (0, f"checked {len(EXAMPLES)} files: no problems\n", "")
