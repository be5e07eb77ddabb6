"""The pre-commit hooks, run by pre-commit itself against a scratch repository.

pre-commit installs a `language: python` hook repository into a fresh
virtualenv, which for brindle means compiling the extension on every run.
The default test therefore runs our hook definitions as they are, with the
one field `language` switched to `system`, so the hooks use the brindle
already installed in this environment. BRINDLE_PRECOMMIT_INSTALL=1 runs the
definitions unchanged, installation included.
"""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import brindle

pytest.importorskip("pre_commit")

ROOT = Path(__file__).resolve().parent.parent
HOOKS = (ROOT / ".pre-commit-hooks.yaml").read_text(encoding="utf-8")
BIN = Path(sys.executable).parent
FULL_INSTALL = os.environ.get("BRINDLE_PRECOMMIT_INSTALL") == "1"

pytestmark = pytest.mark.skipif(shutil.which("git") is None, reason="git is not installed")


def git(cwd, *args):
    subprocess.run(["git", *args], cwd=cwd, check=True, capture_output=True)


def make_repo(path, files):
    path.mkdir()
    git(path, "init", "-q")
    git(path, "config", "user.email", "test@example.com")
    git(path, "config", "user.name", "test")
    for name, text in files.items():
        (path / name).write_text(text, encoding="utf-8")
    git(path, "add", ".")
    git(path, "commit", "-q", "-m", "files")


@pytest.fixture
def hook_repo(tmp_path):
    if FULL_INSTALL:
        return ROOT
    hooks = HOOKS.replace("language: python", "language: system")
    assert hooks.count("language: system") == 2
    make_repo(tmp_path / "hooks", {".pre-commit-hooks.yaml": hooks})
    return tmp_path / "hooks"


def try_repo(hook_repo, target, hook):
    env = dict(os.environ, PATH=f"{BIN}{os.pathsep}{os.environ.get('PATH', '')}",
               PRE_COMMIT_HOME=str(target.parent / "cache"))
    return subprocess.run([sys.executable, "-m", "pre_commit", "try-repo", str(hook_repo), hook, "--all-files"],
                          cwd=target, env=env, capture_output=True, text=True)


def has_fmt():
    result = subprocess.run([str(BIN / "brindle"), "fmt", "--help"], capture_output=True)
    return result.returncode == 0


def test_hooks_file_declares_both_hooks():
    yaml = pytest.importorskip("yaml")  # pre-commit's own dependency
    hooks = {hook["id"]: hook for hook in yaml.safe_load(HOOKS)}
    assert {name: hook["entry"] for name, hook in hooks.items()} == {
        "brindle-check": "brindle check", "brindle-fmt": "brindle fmt --check"}
    for hook in hooks.values():
        assert hook["language"] == "python" and hook["files"] == r"\.brindle$"


GOOD = '[server]\n@min: 1\nport = 8080\nname = "api"\n'
BAD_FILES = {"parse": "[a..b]\n", "validation": "[server]\n@min: 1\nport = 0\n"}


@pytest.mark.parametrize("bad", BAD_FILES, ids=BAD_FILES.keys())
def test_check_hook(tmp_path, hook_repo, bad):
    good = tmp_path / "good"
    make_repo(good, {"app.brindle": GOOD, "notes.txt": "[a..b]\n"})
    result = try_repo(hook_repo, good, "brindle-check")
    assert result.returncode == 0, result.stdout + result.stderr
    assert "brindle check" in result.stdout and "Passed" in result.stdout

    broken = tmp_path / "bad"
    make_repo(broken, {"app.brindle": GOOD, "broken.brindle": BAD_FILES[bad]})
    result = try_repo(hook_repo, broken, "brindle-check")
    assert result.returncode == 1
    assert "Failed" in result.stdout and "broken.brindle" in result.stdout


@pytest.mark.skipif(not has_fmt(), reason="`brindle fmt` is not part of this build yet; the hook runs it")
def test_fmt_hook(tmp_path, hook_repo):
    messy = "[server]\nport=8080   \n\n\n\nname =   \"api\"\n"
    tidy = brindle.format(messy)
    assert tidy != messy
    good = tmp_path / "good"
    make_repo(good, {"app.brindle": tidy})
    assert try_repo(hook_repo, good, "brindle-fmt").returncode == 0

    bad = tmp_path / "bad"
    make_repo(bad, {"app.brindle": tidy, "messy.brindle": messy})
    result = try_repo(hook_repo, bad, "brindle-fmt")
    assert result.returncode == 1 and "messy.brindle" in result.stdout
