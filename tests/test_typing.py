"""The type stubs of brindle._native: true to the module, and precise."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy")

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


def test_stubs_match_the_compiled_module(tmp_path):
    # The value type aliases exist for type checkers only.
    allowlist = tmp_path / "allowlist.txt"
    allowlist.write_text("brindle._native.Value\nbrindle._native.AnnotationArg\n")
    command = [sys.executable, "-m", "mypy.stubtest", "--allowlist", str(allowlist), "brindle._native"]
    result = subprocess.run(command, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


def test_strict_mode_passes_typed_use_and_reports_every_mistake(tmp_path):
    header = "import brindle\ndoc = brindle.parse('')\n"
    (tmp_path / "mistakes.py").write_text(header + MISTAKES)
    usage = Path(__file__).with_name("typing_usage.py")
    command = [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp_path / ".mypy")]
    result = subprocess.run([*command, str(usage), "mistakes.py"], capture_output=True, text=True, cwd=tmp_path)
    errors = re.findall(r"^(.*?):(\d+): error", result.stdout, re.MULTILINE)
    assert all(name == "mistakes.py" for name, _ in errors), result.stdout + result.stderr
    flagged = {int(number) for _, number in errors}
    first, lines = header.count("\n") + 1, MISTAKES.splitlines()
    assert [line for number, line in enumerate(lines, first) if number not in flagged] == [], result.stdout
    assert flagged <= set(range(first, first + len(lines))), result.stdout  # the header is clean
