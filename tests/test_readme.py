"""The README's "Settings for an application" walk-through runs as written and prints what it shows."""

import contextlib
import io
import re
import shlex
from pathlib import Path

import pytest

from brindle.cli import main

README = (Path(__file__).parent.parent / "README.md").read_text(encoding="utf-8")
SECTION = README.split("## Settings for an application\n", 1)[1].split("\n## ", 1)[0]
BLOCKS = re.findall(r"(?:^([^\n]*)\n\n)?```(\w+)\n(.*?)```", SECTION, re.MULTILINE | re.DOTALL)


def test_section_has_its_examples():
    kinds = [kind for _, kind, _ in BLOCKS]
    assert kinds.count("python") >= 3 and kinds.count("output") >= 3 and "console" in kinds


def test_examples_run_and_print_what_the_readme_shows(tmp_path, monkeypatch, capsys):
    monkeypatch.chdir(tmp_path)
    namespace: dict[str, object] = {"__name__": "readme"}
    printed = None
    for caption, kind, body in BLOCKS:
        if kind == "text" and caption.strip() == "`app.brindle`:":
            Path("app.brindle").write_text(body, encoding="utf-8")
        elif kind == "python":
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                exec(compile(body, "README.md", "exec"), namespace)
            printed = out.getvalue()
        elif kind == "output":
            assert printed == body
            printed = None
        elif kind == "console":
            command, *expected = body.splitlines()
            assert command.startswith("$ brindle ")
            capsys.readouterr()
            assert main(shlex.split(command)[2:]) == 0
            assert capsys.readouterr().out.splitlines() == expected
    assert printed is None, "a python example without its output"
