"""brindle.edit and `brindle set` / `brindle unset`: properties over generated
documents, and the commands' file handling."""

import difflib
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import brindle
from brindle import dumps, parse
from test_format import comments, documents
from test_properties import KEYS, VALUES, typed

# Strings may hold double quotes here: some then cannot be written so that
# they read back, and the editor must refuse those without changing anything.
VALUES = VALUES | st.text(max_size=6)

SETTINGS = settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
MISSING = object()


def leaves(value, prefix=""):
    """Every dotted path of a config down to its non-dict values (and empty dicts)."""
    if isinstance(value, dict) and (value or not prefix):
        for key, item in value.items():
            yield from leaves(item, f"{prefix}.{key}" if prefix else key)
    else:
        yield prefix


def changed_regions(before, after):
    """Number of separate runs of lines that differ."""
    matcher = difflib.SequenceMatcher(a=before.split("\n"), b=after.split("\n"), autojunk=False)
    return sum(1 for tag, *_ in matcher.get_opcodes() if tag != "equal")


def related(a, b):
    return a == b or a.startswith(b + ".") or b.startswith(a + ".")


@st.composite
def edits(draw):
    text = draw(documents())
    doc = parse(text)
    paths = [p for p in leaves(doc.config) if p and all(part for part in p.split("."))]
    new = draw(st.lists(KEYS, min_size=1, max_size=3)).copy()
    path = draw(st.sampled_from(paths)) if paths and draw(st.booleans()) else ".".join(new)
    if draw(st.booleans()) and paths:
        path = draw(st.sampled_from(paths)) + "." + new[0]
    return text, doc, path


@SETTINGS
@given(edits(), VALUES)
def test_set_reads_back_and_touches_only_its_lines(case, value):
    text, before, path = case
    editor = brindle.edit(text)
    try:
        editor.set(path, value)
    except ValueError:
        assert str(editor) == text  # refused: nothing changed
        return
    after = parse(str(editor))
    assert typed(after.resolve(path), sort=True) == typed(value, sort=True)
    for other in leaves(before.config):
        if other and not related(other, path):
            assert typed(after.resolve(other, MISSING)) == typed(before.resolve(other, MISSING)), other
    # Every comment stays. One run of lines changes, but for a block replaced
    # by one line: its inner comments move above that line, and a line diff
    # may match them where they were.
    assert comments(str(editor)) == comments(text)
    if not isinstance(before.resolve(path), dict):
        assert changed_regions(text, str(editor)) <= 1


@SETTINGS
@given(edits())
def test_delete_removes_only_its_key(case):
    text, before, path = case
    editor = brindle.edit(text)
    try:
        editor.delete(path)
    except KeyError:
        assert before.resolve(path, MISSING) is MISSING or "." in path
        return
    after = parse(str(editor))
    assert after.resolve(path, MISSING) is MISSING
    for other in leaves(before.config):
        if other and not related(other, path):
            assert typed(after.resolve(other, MISSING)) == typed(before.resolve(other, MISSING)), other


@SETTINGS
@given(edits(), st.sampled_from(["@required", "min: 1", "@enum: [a, b]", "@tag: owner=me"]))
def test_annotation_added_then_removed_gives_the_text_back(case, annotation):
    text, before, path = case
    editor = brindle.edit(text)
    try:
        editor.add_annotation(path, annotation)
    except KeyError:
        return
    name = annotation.lstrip("@").split(":")[0]
    assert name in [a.name for a in parse(str(editor)).annotations(path)]
    assert changed_regions(text, str(editor)) == 1
    editor.remove_annotation(path, name)
    if name not in [a.name for a in before.annotations(path)]:
        assert str(editor) == text


def test_edit_api():
    editor = brindle.edit('# settings\n[server]\nport = 80  # http\n')
    editor.set("server.port", 8080)
    editor.set("server.hosts", ["a", "b"])
    editor.add_annotation("server.port", "@min: 1024")
    editor.set_text("server.name", '"api-" + "1"')
    assert str(editor) == '# settings\n[server]\n@min: 1024\nport = 8080  # http\nhosts = ["a", "b"]\nname = "api-" + "1"\n'
    editor.delete("server.hosts")
    editor.remove_annotation("server.port", "min")
    assert str(editor) == '# settings\n[server]\nport = 8080  # http\nname = "api-" + "1"\n'
    with pytest.raises(KeyError, match="no key `server.nope`"):
        editor.delete("server.nope")
    with pytest.raises(ValueError, match="would not read back"):
        editor.set("server.port", '"+"')  # the expression splitter knows no escapes
    with pytest.raises(ValueError, match="invalid key path"):
        editor.set("a..b", 1)
    with pytest.raises(TypeError):
        editor.set("server.port", object())
    assert isinstance(editor, brindle.Editor)


def brindle_cli(*args):
    return subprocess.run([sys.executable, "-m", "brindle", *args], capture_output=True, text=True)


def test_set_and_unset_commands(tmp_path):
    path = tmp_path / "app.brindle"
    path.write_bytes(b'\xef\xbb\xbf# app\r\n[vars]\r\nbase = 8000\r\n\r\n[server]\r\nport = 80 # http\r\n')
    path.chmod(0o600)
    assert brindle_cli("set", str(path), "server.port", "$base + 1").returncode == 0
    assert brindle_cli("set", str(path), "server.host", '"h"').returncode == 0
    assert path.read_bytes() == (
        b'\xef\xbb\xbf# app\r\n[vars]\r\nbase = 8000\r\n\r\n[server]\r\nport = $base + 1 # http\r\nhost = "h"\r\n'
    )
    assert path.stat().st_mode & 0o777 == 0o600
    snapshot = path.read_bytes()
    for args, message in [
        (("set", str(path), "server.port", '"open'), "VALUE is not a brindle value: unterminated string"),
        (("set", str(path), "server.port", "$nope"), "would not read back"),
        (("set", str(path), "server.port", "1\n2"), "one non-empty line"),
        (("unset", str(path), "server.nope"), "no key `server.nope`"),
    ]:
        result = brindle_cli(*args)
        assert result.returncode in (1, 2) and message in result.stderr, result.stderr
    assert path.read_bytes() == snapshot
    assert brindle_cli("unset", str(path), "server.host").returncode == 0
    assert parse(path.read_bytes().decode()[1:]).resolve("server.port") == 8001
    assert brindle_cli("set", str(tmp_path / "missing.brindle"), "a", "1").returncode == 2
    link = tmp_path / "link.brindle"
    link.symlink_to(path)
    assert brindle_cli("set", str(link), "server.port", "9").returncode == 0
    assert link.is_symlink() and parse(path.read_bytes().decode()[1:]).resolve("server.port") == 9
