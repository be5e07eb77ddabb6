"""The type stubs of brindle._native: true to the module, and precise."""

from __future__ import annotations

import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

pytest.importorskip("mypy")

HERE = Path(__file__).parent


def run_mypy(*args: str, cwd: Path) -> subprocess.CompletedProcess[str]:
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(cwd / ".mypy"), *args],
        capture_output=True,
        text=True,
        cwd=cwd,
    )


def test_stubs_match_the_compiled_module(tmp_path: Path) -> None:
    # The value type aliases exist for type checkers only.
    allowlist = tmp_path / "allowlist.txt"
    allowlist.write_text("brindle._native.Value\nbrindle._native.AnnotationArg\n")
    result = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "--allowlist", str(allowlist), "brindle._native"],
        capture_output=True,
        text=True,
    )
    assert result.returncode == 0, result.stdout + result.stderr


def test_typed_usage_passes_strict_mode(tmp_path: Path) -> None:
    result = run_mypy(str(HERE / "typing_usage.py"), cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


# Each line is a mistake the stubs must catch; a stub that returns Any or
# accepts anything lets it through.
MISTAKES = """\
brindle.parse(b"port = 1")
brindle.parse(source=1)
doc.config["name"].upper()
doc.resolve("server.port") + 1
doc.get(1)
doc.annotations("server.port")[0].arg + 1
doc.deprecated_keys()[0][1].strip()
brindle.validate("port = 1")
brindle.dumps([1, 2])
brindle.validate(doc).count
brindle.load(42)
brindle.Annotation(5)
"""


def test_mistakes_are_reported(tmp_path: Path) -> None:
    lines = MISTAKES.splitlines()
    header = "import brindle\ndoc = brindle.parse('')\n"
    source = tmp_path / "mistakes.py"
    source.write_text(header + "\n".join(lines) + "\n")
    result = run_mypy(str(source), cwd=tmp_path)
    flagged = {int(m.group(1)) for m in re.finditer(r"mistakes\.py:(\d+): error", result.stdout)}
    first = header.count("\n") + 1
    missed = [line for number, line in enumerate(lines, first) if number not in flagged]
    assert not missed, f"not reported: {missed}\n{result.stdout}{result.stderr}"
    assert first - 1 not in flagged and 1 not in flagged, textwrap.indent(result.stdout, "  ")
