"""The brindle command, run as a separate process like a user would."""

from __future__ import annotations

import json
import os
import subprocess
import sys
from pathlib import Path

import pytest

import brindle

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.brindle"))


def run(*args: str | Path, stdin: bytes = b"", env: dict[str, str | None] | None = None) -> subprocess.CompletedProcess[str]:
    """Run the command; `env` sets variables, or removes those given as None."""
    environ = dict(os.environ)
    for name, value in (env or {}).items():
        if value is None:
            environ.pop(name, None)
        else:
            environ[name] = value
    result = subprocess.run(
        [sys.executable, "-m", "brindle", *map(str, args)], input=stdin, capture_output=True, env=environ
    )
    return subprocess.CompletedProcess(
        result.args, result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")
    )


def write(tmp_path: Path, text: str, name: str = "app.brindle") -> Path:
    path = tmp_path / name
    path.write_bytes(text.encode("utf-8"))
    return path


GOOD = """\
# A small service.
[vars]
base = 8000

[server]
@min: 1024
port = $base + 80
host = "localhost"
"""


def test_check_clean_file(tmp_path: Path) -> None:
    result = run("check", write(tmp_path, GOOD))
    assert result.returncode == 0, result.stdout + result.stderr
    assert result.stdout.splitlines() == ["checked 1 file: no problems"]


@pytest.mark.parametrize(
    ("line", "message", "column", "caret"),
    [
        ("port = $missing", "undefined variable `$missing`", 8, "    " + " " * 7 + "^"),
        # The column counts bytes, the caret characters: é is two bytes.
        ('"café" = $missing', "undefined variable `$missing`", 11, "    " + " " * 9 + "^"),
        ("\tport = $missing", "undefined variable `$missing`", 9, "    \t" + " " * 7 + "^"),
        ("port = 1 +* 2", "cannot parse value: `*`", 11, "    " + " " * 10 + "^"),
    ],
    ids=["ascii", "multibyte", "tab", "syntax"],
)
def test_check_parse_error_points_at_the_column(
    tmp_path: Path, line: str, message: str, column: int, caret: str
) -> None:
    path = write(tmp_path, f"[server]\n{line}\n")
    result = run("check", path)
    assert result.returncode == 1
    lines = result.stdout.splitlines()
    assert lines[0] == f"{path}:2:{column}: error: {message}"
    assert lines[1] == f"    {line}"
    assert lines[2] == caret
    assert lines[-1] == "checked 1 file: 1 error, 0 warnings"


def test_check_reports_validation_findings_and_warnings(tmp_path: Path) -> None:
    path = write(
        tmp_path,
        "@min: 1\nworkers = 0\n@enum: [debug, info]\nlevel = \"loud\"\n"
        "@deprecated: use workers\nthreads = 4\n@deprecated\nold = 1\n",
    )
    result = run("check", path)
    assert result.returncode == 1
    assert result.stdout.splitlines() == [
        f"{path}: error: [level] value `loud` not in @enum: [debug, info]",
        f"{path}: error: [workers] value 0 is below @min: 1",
        f"{path}: warning: `old` is deprecated",
        f"{path}: warning: `threads` is deprecated: use workers",
        "checked 1 file: 2 errors, 2 warnings",
    ]


def test_warnings_alone_do_not_fail_the_check(tmp_path: Path) -> None:
    result = run("check", write(tmp_path, "@deprecated: gone soon\nold = 1\n"))
    assert result.returncode == 0
    assert result.stdout.splitlines()[-1] == "checked 1 file: 0 errors, 1 warning"


def test_check_reads_every_file_and_reports_the_worst(tmp_path: Path) -> None:
    good = write(tmp_path, GOOD, "good.brindle")
    bad = write(tmp_path, "[a..b]\n", "bad.brindle")
    result = run("check", good, bad)
    assert result.returncode == 1
    assert result.stdout.splitlines()[0] == f"{bad}:1:2: error: invalid section name: `a..b`"
    assert result.stdout.splitlines()[-1] == "checked 2 files: 1 error, 0 warnings"

    result = run("check", bad, tmp_path / "absent.brindle", good)
    assert result.returncode == 2
    assert result.stdout.splitlines()[-1] == "checked 3 files: 1 error, 0 warnings, 1 unreadable"


@pytest.mark.parametrize(
    "command", [["check", "FILE"], ["json", "FILE"], ["get", "FILE", "a"], ["dump", "FILE"]], ids=lambda c: c[0]
)
def test_unreadable_files_exit_2(tmp_path: Path, command: list[str]) -> None:
    missing = tmp_path / "absent.brindle"
    for path, reason in [(missing, "no such file"), (tmp_path, "is a directory")]:
        result = run(*[str(path) if part == "FILE" else part for part in command])
        assert result.returncode == 2
        assert f"{path}: {reason}" in result.stderr
        assert result.stdout.startswith("checked") if command[0] == "check" else result.stdout == ""


def test_non_utf8_file_gives_the_byte_offset(tmp_path: Path) -> None:
    path = tmp_path / "latin1.brindle"
    path.write_bytes(b'a = 1\nname = "caf\xe9"\n')
    result = run("check", path)
    assert result.returncode == 1
    lines = result.stdout.splitlines()
    assert lines[0] == f"{path}:2:12: error: not valid UTF-8: invalid continuation byte (byte 0xe9 at offset 17)"
    assert lines[2] == "    " + " " * 11 + "^"

    result = run("json", path)
    assert result.returncode == 1 and result.stdout == ""
    assert "offset 17" in result.stderr


def test_byte_order_mark_is_ignored(tmp_path: Path) -> None:
    path = tmp_path / "bom.brindle"
    path.write_bytes(b"\xef\xbb\xbfname = 1\n")
    result = run("get", path, "name")
    assert (result.returncode, result.stdout) == (0, "1\n")


def test_dash_reads_standard_input() -> None:
    result = run("check", "-", stdin=b"[a]\nb = $nope\n")
    assert result.returncode == 1
    assert result.stdout.splitlines()[0] == "<stdin>:2:5: error: undefined variable `$nope`"

    result = run("json", "-", stdin=GOOD.encode())
    assert result.returncode == 0
    assert json.loads(result.stdout) == {"server": {"host": "localhost", "port": 8080}}


def test_json_of_config_and_vars(tmp_path: Path) -> None:
    path = write(tmp_path, GOOD + 'name = "ünï"\nlist = [1, 2.5, true, null, #{ k = "v" }#]\n')
    config = run("json", path)
    assert config.returncode == 0
    assert json.loads(config.stdout) == brindle.load(path).config
    assert "ünï" in config.stdout  # written as UTF-8, not as \u escapes

    variables = run("json", "--vars", path)
    assert variables.returncode == 0
    assert json.loads(variables.stdout) == {"base": 8000}


@pytest.mark.parametrize(("expr", "word"), [("0.0 / 0.0", "NaN"), ("1 / 0.0", "inf"), ("-1 / 0.0", "-inf")])
def test_json_refuses_non_finite_numbers(tmp_path: Path, expr: str, word: str) -> None:
    path = write(tmp_path, f"[s]\nratios = [1, {expr}]\n")
    result = run("json", path)
    assert result.returncode == 1
    assert result.stdout == ""
    assert "`s.ratios[1]` is not a finite number" in result.stderr
    assert run("get", path, "s.ratios").returncode == 1


@pytest.mark.parametrize(
    ("key_path", "output"),
    [
        ("server.port", "8080"),
        ("server.host", '"localhost"'),
        ("server", '{\n  "host": "localhost",\n  "nothing": null,\n  "port": 8080\n}'),
        ("server.nothing", "null"),
    ],
)
def test_get_prints_json(tmp_path: Path, key_path: str, output: str) -> None:
    path = write(tmp_path, GOOD + "nothing = null\n")
    result = run("get", path, key_path)
    assert (result.returncode, result.stdout) == (0, output + "\n")


@pytest.mark.parametrize("key_path", ["server.missing", "missing", "server.port.deeper", "server..port", ""])
def test_get_absent_value_exits_1(tmp_path: Path, key_path: str) -> None:
    result = run("get", write(tmp_path, GOOD), key_path)
    assert result.returncode == 1
    assert result.stdout == ""
    assert f"no value at `{key_path}`" in result.stderr


def test_get_raw_prints_strings_unquoted(tmp_path: Path) -> None:
    result = run("get", "--raw", write(tmp_path, GOOD), "server.host")
    assert (result.returncode, result.stdout) == (0, "localhost\n")


def test_dump_evaluates_and_drops_comments(tmp_path: Path) -> None:
    path = write(tmp_path, GOOD)
    result = run("dump", path)
    assert result.returncode == 0
    assert result.stdout == brindle.dumps(brindle.load(path))
    assert "#" not in result.stdout and "port = 8080" in result.stdout
    assert brindle.parse(result.stdout).config == brindle.load(path).config


def test_parse_errors_of_other_commands_go_to_stderr(tmp_path: Path) -> None:
    result = run("dump", write(tmp_path, 'a = "open\n'))
    assert result.returncode == 1 and result.stdout == ""
    assert result.stderr.splitlines()[0].endswith(":1:5: error: unterminated string")


def test_help_version_and_usage_errors() -> None:
    help_text = run("--help")
    assert help_text.returncode == 0
    assert "examples:" in help_text.stdout and "brindle check" in help_text.stdout
    version = run("--version")
    assert version.stdout.strip() == f"brindle {brindle.__version__}"
    assert run().returncode == 2
    assert run("check").returncode == 2
    assert run("frobnicate", "x").returncode == 2
    assert "comments are not kept" in run("dump", "--help").stdout.lower()


# The examples read these; a value set on the machine would change them.
UNSET_EXAMPLE_ENV: dict[str, str | None] = {name: None for name in os.environ if name.startswith("SHOP_")}


@pytest.mark.parametrize("example", EXAMPLES, ids=[path.name for path in EXAMPLES])
def test_bundled_examples_check_clean(example: Path) -> None:
    result = run("check", example, env=UNSET_EXAMPLE_ENV)
    assert result.returncode == 0, result.stdout
    assert result.stdout.splitlines() == ["checked 1 file: no problems"]


def test_deployment_example_follows_the_environment() -> None:
    path = ROOT / "examples" / "deploy.brindle"
    default = run("get", path, "database.name", env=UNSET_EXAMPLE_ENV)
    assert default.stdout == '"shop_staging"\n'
    production = run("get", path, "database.name", env={**UNSET_EXAMPLE_ENV, "SHOP_ENV": "production"})
    assert production.stdout == '"shop_production"\n'
    wrong = run("check", path, env={**UNSET_EXAMPLE_ENV, "SHOP_ENV": "qa"})
    assert wrong.returncode == 1
    assert "[deployment.environment] value `qa` not in @enum" in wrong.stdout
