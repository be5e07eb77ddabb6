"""The type stubs of brindle._native: true to the module, and precise."""

import re
import subprocess
import sys
from pathlib import Path

import pytest

pytest.importorskip("mypy")

PRELUDE = "import brindle\nfrom typing_usage import Settings\ndoc = brindle.parse('')\n"
# Each line is a mistake the stubs must catch; a stub that returns Any or
# accepts anything lets it through.
MISTAKES = """\
brindle.parse(b"port = 1")
doc.config["name"].upper()
doc.resolve("server.port") + 1
doc.get(1)
doc.annotations("server.port")[0].arg + 1
doc.deprecated_keys()[0][1].strip()
brindle.validate(doc).count
brindle.validate_all("port = 1")
brindle.dumps([1, 2])
brindle.load(42)
brindle.Annotation(5)
brindle.parse("", env={"PORT": 9000})
brindle.loads(b"port = 1")
brindle.loads("", into=Settings).port
brindle.check(b"k = 1")
brindle.check("k = 1")[0].line.upper()
"""


def test_stubs_match_the_compiled_module(tmp_path):
    # The value type aliases exist for type checkers only.
    (tmp_path / "allowlist").write_text("brindle._native.Value\nbrindle._native.AnnotationArg\n")
    command = [sys.executable, "-m", "mypy.stubtest", "--allowlist", str(tmp_path / "allowlist"), "brindle._native"]
    result = subprocess.run(command, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


def test_strict_mode_passes_typed_use_and_reports_every_mistake(tmp_path):
    (tmp_path / "mistakes.py").write_text(PRELUDE + MISTAKES)
    command = [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp_path / ".mypy")]
    usage = str(Path(__file__).with_name("typing_usage.py"))
    result = subprocess.run([*command, usage, "mistakes.py"], capture_output=True, text=True, cwd=tmp_path)
    flagged = {(name, int(line)) for name, line in re.findall(r"^(.*?):(\d+): error", result.stdout, re.MULTILINE)}
    # Every mistake (after the prelude) is flagged, and nothing else is.
    first = PRELUDE.count("\n") + 1
    assert flagged == {("mistakes.py", line) for line in range(first, first + MISTAKES.count("\n"))}, result.stdout
