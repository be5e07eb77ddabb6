"""brindle.check and the parse errors' diagnostics: every problem, located."""

import os
import pickle
import re
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import brindle
from brindle import Finding, ParseError, Related, VariableError
from brindle._check import codes

ROOT = Path(__file__).resolve().parent.parent


def brief(findings):
    return [f"{f.code}@{f.line}:{f.column}-{f.end_line}:{f.end_column}" for f in findings]


@pytest.mark.parametrize("source, expected", [
    ("k = 1 +", ["B502@1:7-1:8"]),
    ('名前 = "é" +', ["B307@1:1-1:11"]),  # columns count characters
    ('k = "é" +', ["B502@1:9-1:10"]),
    ("a = 'x'\nb = $nope\nc = (1)", ["B101@1:5-1:8", "B102@2:5-2:10", "B101@3:5-3:8"]),
    ("[s]\n@min: 1024\nport = 80", ["B204@3:8-3:10"]),
    ("k = [\n  1,\n  ,\n]", ["B503@2:4-3:4"]),
    ("", []),
])
def test_positions(source, expected):
    assert brief(brindle.check(source)) == expected


# A quoted name may hold a point, at any level: findings sit at the value of
# their own entry, through `check`, `validate_all` and `check(doc)` alike.
@pytest.mark.parametrize("source, expected", [
    ('[a]\n@min: 10\n"x.y" = 5', ["B204@3:9-3:10"]),
    ('["s.t"]\n@max: 1\n"p.q" = 7', ["B204@3:9-3:10"]),
    ('[a."b.c".d]\n@type: string\n"e.f" = 1', ["B203@3:9-3:10"]),
    ('["s.t"]\n"b.c" = #{\n  @max: 1\n  "p.q" = 7,\n}#', ["B204@4:11-4:13"]),
    ('[a]\n@nonempty\n"x.y" = #{}#', ["B202@3:9-3:13"]),
    ('[a]\n@min: 5\n"x.y" = 1\n[a.x]\ny = 9', ["B204@3:9-3:10"]),
])
def test_quoted_names_holding_points_keep_their_positions(source, expected):
    assert brief(brindle.check(source)) == expected
    doc = brindle.parse(source)
    assert brief(brindle.check(doc)) == expected
    assert [brief(error.findings) for error in brindle.validate_all(doc)] == [expected]


def test_a_finding_carries_everything():
    source = "[server]\n@min: 1024\nport = 80\n"
    [finding] = brindle.check(source, filename="app.brindle")
    assert finding == Finding(
        code="B204", severity="error", message="[server.port] value 80 is below @min: 1024",
        line=3, column=8, end_line=3, end_column=10, filename="app.brindle", path="server.port",
        related=(Related("required by @min: 1024 here", 2, 1, 2, 11, "app.brindle"),), suggestion=None,
    )
    [hint] = brindle.check("[vars]\nport = 1\n[s]\nk = $prot\n")
    assert (hint.code, hint.suggestion) == ("B102", "did you mean `$port`?")


@pytest.mark.parametrize("strict", [False, True])
def test_strict_turns_warnings_into_errors(strict):
    findings = brindle.check("k = 1 +\n@deprecated\nd = 1\n", strict=strict)
    assert [f.severity for f in findings] == (["error", "error"] if strict else ["warning", "warning"])


def test_environment_names_are_suggested(monkeypatch):
    monkeypatch.setenv("BRINDLE_TEST_HOST", "h")
    monkeypatch.delenv("BRINDLE_TEST_HOTS", raising=False)
    [finding] = brindle.check('h = $ENV.BRINDLE_TEST_HOTS ?? "x"\n')
    assert (finding.code, finding.suggestion) == ("B505", "did you mean `$ENV.BRINDLE_TEST_HOST`?")


def test_a_parsed_document_gives_its_validation_findings(tmp_path):
    source = "[s]\n@min: 1024\nport = 80\nlevel: 1\n@deprecated\nold = 1\n"
    expected = [f for f in brindle.check(source) if f.code.startswith("B2")]
    assert [f.code for f in expected] == ["B204", "B210"]
    assert brindle.check(brindle.parse(source)) == expected
    path = tmp_path / "a.brindle"
    path.write_text(source, encoding="utf-8")
    assert brindle.check(brindle.load(path), strict=True, filename="a") == [
        Finding(**{**f.__dict__, "severity": "error", "filename": "a",
                   "related": tuple(Related(**{**r.__dict__, "filename": "a"}) for r in f.related)})
        for f in expected]
    assert brindle.check(brindle.parse("k = 1\n")) == []
    with pytest.raises(TypeError):
        brindle.check(b"k = 1")  # type: ignore[arg-type]


@pytest.mark.parametrize("source, error, first", [
    ("[a..b]\nk = [1, nope]\nj = $missing\n", ParseError, "invalid section name: `a..b` (line 1, col 2)"),
    ("k = $missing\nj = 'x'\n", VariableError, "undefined variable `$missing` (line 1, col 5)"),
])
def test_parse_errors_keep_their_message_and_carry_every_diagnostic(source, error, first):
    with pytest.raises(error) as caught:
        brindle.parse(source)
    assert str(caught.value) == first
    diagnostics = caught.value.diagnostics
    assert len(diagnostics) == 3 if error is ParseError else 2
    assert all(isinstance(d, Finding) and d.severity == "error" for d in diagnostics)
    assert brief(diagnostics) == brief(f for f in brindle.check(source) if f.code.startswith("B1"))
    # A plain instance attribute, so it travels with a pickled exception.
    assert vars(caught.value)["diagnostics"] is diagnostics
    assert pickle.loads(pickle.dumps(diagnostics)) == diagnostics
    try:
        clone = pickle.loads(pickle.dumps(caught.value))
    except pickle.PicklingError:
        return  # the exception classes themselves become picklable on their own schedule
    assert (type(clone), str(clone), clone.diagnostics) == (error, first, diagnostics)


def test_every_code_is_documented_with_an_example():
    readme = (ROOT / "README.md").read_text(encoding="utf-8")
    rows = dict(re.findall(r"^\| `(B\d{3})` \| (.*)$", readme, flags=re.M))
    catalogue = codes()
    assert sorted(rows) == sorted(c.code for c in catalogue)
    for info in catalogue:
        if info.code == "B100" or (info.code == "B505" and "HOME" not in os.environ):
            continue  # not text; needs a variable set to be close to
        assert info.code in {f.code for f in brindle.check(info.example)}, info
        example = info.example.replace("\n", " ⏎ ")
        if len(example) < 60:
            assert f"`{example}`" in rows[info.code].replace("\\|", "|"), info.code


# Lines of the kinds a config file holds, right and wrong, to build sources from.
LINES = st.sampled_from([
    "[s]", "[a.b]", "[vars]", "[[t]]", "[open", "k = 1", "k = 1 +", 'h = "x"', "n = [1, , 2]", "v = $x",
    "x = 2", "@min: 1", "@requried", "@enum: a, b", "level: 1", "a.b = 2", "; c", "b = #{", "}#", "",
    "# comment", 'p = "C:\\new"', "d = 2024-01-15", "e = $ENV.HOME ?? 1", "k = 'q'", "@required",
])


def snapshot(source):
    try:
        doc = brindle.parse(source)
    except brindle.BrindleError as error:
        return ("error", str(error))
    return (doc.config, doc.vars, {k: [(a.name, a.arg) for a in v] for k, v in doc.meta.items()})


@settings(max_examples=150, deadline=None)
@given(st.lists(LINES, max_size=12))
def test_checking_never_changes_what_parse_returns(lines):
    source = "\n".join(lines)
    before = snapshot(source)
    findings = brindle.check(source)
    assert snapshot(source) == before
    if before[0] == "error":  # a file that does not parse has an error finding
        assert any(f.severity == "error" and f.code.startswith("B1") for f in findings)
    for f in findings:
        assert (f.line, f.column) <= (f.end_line, f.end_column)


@settings(max_examples=200, deadline=None)
@given(st.text(alphabet=st.sampled_from('ab =[]{}#@$."\\,+-*/?:;\n\té1'), max_size=60))
def test_any_text_gets_findings_inside_it(source):
    lines = source.split("\n")
    for f in brindle.check(source, strict=True):
        assert f.severity == "error"
        for item in (f, *f.related):
            assert 1 <= item.line <= item.end_line <= len(lines)
            assert 1 <= item.column and item.end_column <= len(lines[item.end_line - 1]) + 1
