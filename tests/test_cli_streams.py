"""The brindle command on hostile ground: names that are not UTF-8, closed
or failing streams, endless and oversized input. Each case runs the real
command in a shell, so descriptors are closed the way a user closes them."""

import os
import shlex
import subprocess
import sys

import pytest

BRINDLE = f"{shlex.quote(sys.executable)} -m brindle"
BIG = "[s]\n" + "".join(f'k{i} = "{"x" * 40}"\n' for i in range(20000))
FILES = {b"ok.b": "x = 1\n", b"bad\xff.b": "a = [\n", b"big.b": BIG, b"latin1.b": b"a = \xe9\n",
         b"nl\n.b": "x = 1\n"}
TOO_BIG = "brindle: error: {}: larger than {} bytes\n"
CLOSED = "brindle: error: standard output is closed\n"
FULL = "brindle: error: cannot write to standard output: No space left on device\n"
UNREADABLE = "checked 1 file: 0 errors, 0 warnings, 1 unreadable\n"


@pytest.fixture(scope="module")
def folder(tmp_path_factory):
    root = tmp_path_factory.mktemp("streams")
    for name, text in FILES.items():
        (root / os.fsdecode(name)).write_bytes(text.encode() if isinstance(text, str) else text)
    with open(root / "sparse.b", "wb") as handle:  # 1 GiB + 1 without using the disk
        handle.truncate((1 << 30) + 1)
    return root


def shell(command, cwd):
    """Runs `brindle COMMAND` in bash (redirections and $'..' quoting
    included): (status, stdout, stderr), the streams decoded leniently."""
    environ = {**os.environ, "LC_ALL": "C.UTF-8"}
    result = subprocess.run(["bash", "-c", command.replace("brindle", BRINDLE, 1)], capture_output=True,
                            cwd=cwd, env=environ, timeout=120)
    return result.returncode, result.stdout.decode("utf-8", "replace"), result.stderr.decode("utf-8", "replace")


@pytest.mark.parametrize("command, code, out, err", [
    # Names that are not UTF-8 (or hold a line break) are shown with escapes.
    (r"brindle check $'bad\xff.b'", 1,
     "bad\\xff.b:1:5: error: malformed array\n    a = [\n        ^\nchecked 1 file: 1 error, 0 warnings\n", ""),
    (r"brindle check $'gone\xff.b'", 2, UNREADABLE, "brindle: error: gone\\xff.b: no such file\n"),
    (r"brindle json $'nl\n.b'", 0, '{\n  "x": 1\n}\n', ""),
    (r"brindle check $'nl\n.b' $'no\n.b'", 2, "checked 2 files: 0 errors, 0 warnings, 1 unreadable\n",
     "brindle: error: no\\n.b: no such file\n"),
    (r"brindle get ok.b $'\xff'", 1, "", "brindle: ok.b: no value at `\\xff`\n"),
    (r"brindle get $'bad\xff.b' a", 1, "", "bad\\xff.b:1:5: error: malformed array\n    a = [\n        ^\n"),
    # Output that cannot be written: one line on stderr, never a success.
    ("brindle json ok.b >&-", 1, "", CLOSED), ("brindle check ok.b >&-", 1, "", CLOSED),
    ("brindle --help >&-", 1, "", CLOSED), ("brindle json ok.b >/dev/full", 1, "", FULL),
    ("brindle dump big.b >/dev/full", 1, "", FULL), ("brindle check ok.b >/dev/full", 1, "", FULL),
    ("brindle --version >/dev/full", 1, "", FULL), ("brindle check latin1.b >/dev/full", 1, "", FULL),
    ("brindle json gone.b >/dev/full", 2, "", "brindle: error: gone.b: no such file\n"),
    # A reader that goes away early: the same failure for every command.
    ("brindle dump big.b | head -c1 >/dev/null; exit ${PIPESTATUS[0]}", 1, "", ""),
    ("brindle json big.b | head -c1 >/dev/null; exit ${PIPESTATUS[0]}", 1, "", ""),
    ("brindle dump big.b | true; exit ${PIPESTATUS[0]}", 1, "", ""),
    # With stderr closed, error text goes nowhere, least of all into the output.
    ("brindle json gone.b 2>&-", 2, "", ""), ("brindle json latin1.b 2>&-", 1, "", ""),
    ("brindle frob 2>&-", 2, "", ""), ("brindle json ok.b 2>&- >&-", 1, "", ""),
    ("brindle dump big.b 2>&- | head -c1 >/dev/null; exit ${PIPESTATUS[0]}", 1, "", ""),
    ("brindle json ok.b 2>/dev/full", 0, '{\n  "x": 1\n}\n', ""),
    ("brindle json gone.b 2>/dev/full", 2, "", ""),
    # Input beyond the size limit is refused before it is all read.
    ("brindle check /dev/zero --max-size 1M", 2, UNREADABLE, TOO_BIG.format("/dev/zero", 1 << 20)),
    ("brindle json sparse.b", 2, "", TOO_BIG.format("sparse.b", 1 << 30)),
    ("head -c 5000 /dev/zero | brindle get --max-size 4K - a", 2, "", TOO_BIG.format("<stdin>", 4096)),
    ("brindle dump --max-size 6 ok.b", 0, "x = 1\n", ""), ("brindle dump --max-size 5 ok.b", 2, "", TOO_BIG.format("ok.b", 5)),
    ("brindle check --max-size 0 ok.b", 2, UNREADABLE, TOO_BIG.format("ok.b", 0)),
    ("brindle check --max-size 2Gb ok.b", 0, "checked 1 file: no problems\n", ""),
    ("brindle check --max-size lots ok.b", 2, "", "argument --max-size: not a size: 'lots'"),
])
def test_command_on_hostile_ground(folder, command, code, out, err):
    status, stdout, stderr = shell(command, folder)
    assert (status, stdout) == (code, out), stderr
    lines = [line for line in stderr.splitlines() if not line.startswith("usage: ")]
    assert "Traceback" not in stderr and len(lines) <= max(1, err.count("\n"))
    assert err in stderr and (err == "") == (stderr == "")


def test_endless_input_stops_at_the_default_limit(folder):
    # /dev/zero never ends: the read must stop just past 1 GiB, not run out of memory.
    assert shell("brindle json /dev/zero", folder) == (2, "", TOO_BIG.format("/dev/zero", 1 << 30))
