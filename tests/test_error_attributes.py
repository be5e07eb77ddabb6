"""The json/tomllib habits of the exceptions: ValueError, msg, filename, character columns, path and findings."""

import pickle

import pytest

import brindle
from brindle import BrindleError, ParseError, ValidationError, VariableError
from brindle.cli import main


@pytest.mark.parametrize(
    ("source", "cls", "msg", "line", "column"),
    [
        ('"café" = $nope\n', VariableError, "undefined variable `$nope`", 1, 10),
        ('[s]\nname = "日本" + $nope\n', VariableError, "undefined variable `$nope`", 2, 15),
        ('a = "ü"\n[ü..x]\n', ParseError, "invalid section name: `ü..x`", 2, 2),
        ('k = ["é", oops]\n', ParseError, "cannot parse value: `oops`", 1, 11),
        ("\tk = $nope\n", VariableError, "undefined variable `$nope`", 1, 6),
    ],
)
def test_parse_errors_count_columns_in_characters(tmp_path, source, cls, msg, line, column):
    with pytest.raises(cls) as caught:
        brindle.parse(source)
    error = caught.value
    assert isinstance(error, BrindleError) and isinstance(error, ValueError)
    assert (error.msg, error.filename, error.lineno, error.colno) == (msg, None, line, column)
    assert error.args == (f"{msg} (line {line}, col {column})",)
    # load names the file; loads, like parse, has none.
    path = tmp_path / "app.brindle"
    path.write_text(source, encoding="utf-8")
    with pytest.raises(cls) as caught:
        brindle.load(path)
    assert (caught.value.filename, caught.value.msg, caught.value.colno) == (str(path), msg, column)
    with pytest.raises(cls) as caught:
        brindle.loads(source)
    assert caught.value.filename is None


def test_the_command_line_shows_character_columns(tmp_path, capsys):
    path = tmp_path / "app.brindle"
    path.write_text('"日本語" = $nope\n', encoding="utf-8")
    assert main(["check", str(path)]) == 1
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == f"{path}:1:9: error[B102]: undefined variable `$nope`"


RULES = (
    "[server]\n"
    "@min: 1024\n"
    "port = 80\n"
    '@pattern: "[a-z]+"\n'
    'name = "Ünï"\n'
    "[limits]\n"
    '@pattern: "("\n'
    'key = "x"\n'
    "@required\n"
    "@type: int\n"
    "count = null\n"
)
# (code, path, message, line, column, end line, end column) of each finding.
FINDINGS = [
    ("B204", "server.port", "[server.port] value 80 is below @min: 1024", 3, 8, 3, 10),
    ("B206", "server.name", "[server.name] value `Ünï` does not match @pattern: `[a-z]+`", 5, 8, 5, 13),
    ("B207", "limits.key", "[limits.key] invalid @pattern regex: ", 7, 1, 7, 14),
    ("B201", "limits.count", "[limits.count] value is @required but is empty or null", 11, 9, 11, 13),
    ("B203", "limits.count", "[limits.count] expected @type: int, got null", 11, 9, 11, 13),
]


def _same(found, expected):
    # The regular-expression engine words its own complaint; the rest is exact.
    code, path, message, *place = expected
    assert found.severity == "error" and found.message.startswith(message)
    assert (found.code, found.path, found.line, found.column, found.end_line, found.end_column) == (code, path, *place)
    assert message.endswith("regex: ") or found.message == message


def test_validation_errors_carry_path_and_findings():
    doc = brindle.parse(RULES)
    errors = brindle.validate_all(doc)
    assert [error.path for error in errors] == [finding[1] for finding in FINDINGS]
    for error, expected in zip(errors, FINDINGS):
        [finding] = error.findings
        _same(finding, expected)
        assert error.args == (finding.message,)
    with pytest.raises(ValidationError) as caught:
        brindle.validate(doc)
    assert caught.value.path == "server.port" and caught.value.args == errors[0].args
    assert len(caught.value.findings) == len(FINDINGS)
    for found, expected in zip(caught.value.findings, FINDINGS):
        _same(found, expected)


def test_a_section_finding_points_at_its_header():
    doc = brindle.parse("x = 1\n@required\n[empty.one]\n")
    [error] = brindle.validate_all(doc)
    [finding] = error.findings
    assert (error.path, finding.line, finding.column, finding.end_column) == ("empty.one", 3, 2, 11)


def test_a_quoted_key_with_a_bracket_keeps_its_path_and_rule():
    doc = brindle.parse('[s]\n@min: 5\n"a] @max b" = 1\n')
    [error] = brindle.validate_all(doc)
    assert (error.path, error.findings[0].code) == ("s.a] @max b", "B204")


def test_new_attributes_survive_pickling():
    with pytest.raises(VariableError) as caught:
        brindle.parse("k = $nope\n")
    error = caught.value
    error.filename = "app.brindle"
    duplicate = pickle.loads(pickle.dumps(error))
    assert type(duplicate) is VariableError and duplicate.args == error.args
    assert (duplicate.msg, duplicate.filename, duplicate.lineno, duplicate.colno) == (error.msg, "app.brindle", 1, 5)
    [invalid] = brindle.validate_all(brindle.parse("@min: 2\nk = 1\n"))
    duplicate = pickle.loads(pickle.dumps(invalid))
    assert (type(duplicate), duplicate.args, duplicate.path) == (ValidationError, invalid.args, "k")
    assert duplicate.findings == invalid.findings
