"""brindle.format and `brindle fmt`: properties over generated and mutated
documents, and the command's modes."""

import re
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brindle
from brindle import BrindleError, dumps, parse, validate_all
from test_properties import DOCUMENTS, SOURCES

ROOT = Path(__file__).resolve().parent.parent
SETTINGS = settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
POSITION = re.compile(r" \(line \d+, col \d+\)$")


@st.composite
def documents(draw, mutate=False):
    """dumps() text of a generated dict, with numbered comments (full-line and
    trailing), mangled spacing and indentation, and optionally random edits."""
    lines = dumps(draw(DOCUMENTS)).split("\n")
    out = []
    for n, line in enumerate(lines):
        if draw(st.integers(0, 4)) == 0:
            out.append(draw(st.sampled_from(["", "  ", "\t"])) + f"# note {n}")
        if line and draw(st.booleans()):
            line = line.replace(" = ", draw(st.sampled_from(["=", "  =   ", "\t= "])), 1)
        if line and draw(st.integers(0, 3)) == 0:
            line = draw(st.sampled_from(["  ", "\t", "     "])) + line
        if line and draw(st.integers(0, 3)) == 0:
            line += draw(st.sampled_from([" ", "   "])) + f"# tail {n}"
        out.append(line + draw(st.sampled_from(["", "  ", "\t"])))
        out.extend([""] * draw(st.integers(0, 2)))
    text = draw(st.sampled_from(["\n", "\r\n"])).join(out) + draw(st.sampled_from(["", "\n"]))
    if mutate:
        for _ in range(draw(st.integers(1, 4))):
            at = draw(st.integers(0, len(text)))
            text = text[:at] + draw(st.sampled_from(["#", "[", "]", '"', "=", "\n", "@", "}#", "x"])) + text[at:]
    return text


def meaning(text):
    """What a text parses to, without positions: the first error's message, or
    config, vars, annotations and validation findings."""
    try:
        doc = parse(text)
    except BrindleError as error:
        return type(error).__name__, POSITION.sub("", str(error))
    annotations = {path: [(a.name, repr(a.arg)) for a in found] for path, found in doc.meta.items()}
    findings = [str(finding) for finding in validate_all(doc)]
    return repr(doc.config), repr(doc.vars), repr(sorted(annotations.items())), findings


def comments(text):
    return sorted(re.findall(r"# (?:note|tail) \d+", text))


@SETTINGS
@given(documents() | documents(mutate=True))
def test_format_is_idempotent_keeps_comments_and_meaning(text):
    once = brindle.format(text)
    assert brindle.format(once) == once
    assert comments(once) == comments(text)
    assert meaning(once) == meaning(text)
    assert once.endswith("\r\n" if "\r\n" in text.split("\n", 1)[0] + "\n" else "\n") or not once


@SETTINGS
@given(SOURCES)
def test_format_never_raises_and_is_idempotent_on_any_text(text):
    once = brindle.format(text)
    assert brindle.format(once) == once
    assert meaning(once) == meaning(text)


@pytest.mark.parametrize(
    "source, expected",
    [
        ("a=1\n\n\n[s]\n  k =2 # c\n", "a = 1\n\n[s]\nk = 2 # c\n"),
        ("x = 1\r\n[t]\r\n@min :3\r\n\r\ny=4", "x = 1\r\n\r\n[t]\r\n@min: 3\r\ny = 4\r\n"),
        ("\ufeffk = [\n1,\n]\n", "\ufeffk = [\n    1,\n]\n"),
        ("key: value  \n", "key: value  \n"),
    ],
)
def test_format_examples(source, expected):
    assert brindle.format(source) == expected


def brindle_cli(*args, stdin=b""):
    return subprocess.run([sys.executable, "-m", "brindle", *args], input=stdin, capture_output=True)


def test_bundled_examples_are_formatted():
    result = brindle_cli("fmt", "--check", str(ROOT / "examples"))
    assert result.returncode == 0, result.stderr.decode()


def test_fmt_modes(tmp_path):
    messy = tmp_path / "messy.brindle"
    messy.write_bytes(b"a=1\r\n\r\n\r\n[s]\r\n  k =2 # c\r\n")
    tidy = tmp_path / "tidy.brindle"
    tidy.write_bytes(b"a = 1\n")
    messy.chmod(0o640)

    check = brindle_cli("fmt", "--check", str(tmp_path))
    assert check.returncode == 1 and check.stderr.decode() == f"would reformat {messy}\n"
    diff = brindle_cli("fmt", "--diff", str(messy))
    assert diff.returncode == 0 and "-a=1\r\n" in diff.stdout.decode() and "+a = 1\r\n" in diff.stdout.decode()
    assert messy.read_bytes().startswith(b"a=1")  # --check and --diff change nothing

    piped = brindle_cli("fmt", "-", stdin=messy.read_bytes())
    assert piped.returncode == 0 and piped.stdout == b"a = 1\r\n\r\n[s]\r\nk = 2 # c\r\n"

    write = brindle_cli("fmt", str(messy), str(tidy))
    assert write.returncode == 0 and write.stderr.decode() == f"reformatted {messy}\n"
    assert messy.read_bytes() == piped.stdout and messy.stat().st_mode & 0o777 == 0o640
    assert brindle_cli("fmt", "--check", str(tmp_path)).returncode == 0

    (tmp_path / "bad.brindle").write_bytes(b"a = \xff\n")
    bad = brindle_cli("fmt", str(tmp_path / "bad.brindle"), str(tmp_path / "missing.brindle"))
    assert bad.returncode == 2 and "not valid UTF-8" in bad.stderr.decode() and "missing.brindle" in bad.stderr.decode()


def readme_blocks(heading):
    """The fenced blocks of one README section, in order."""
    text = (ROOT / "README.md").read_text(encoding="utf-8")
    section = text.split(f"\n## {heading}\n", 1)[1].split("\n## ", 1)[0]
    return re.findall(r"```\w*\n(.*?)```", section, re.S)


def test_readme_examples_run_as_shown(capsys):
    before, after = readme_blocks("Formatting")
    assert brindle.format(before) == after and brindle.format(after) == after
    parse(after)
    program, output = readme_blocks("Editing")
    exec(compile(program, "README.md", "exec"), {})
    assert capsys.readouterr().out == output
