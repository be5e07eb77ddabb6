"""parse: source text to documents, and the errors it raises."""

import os
import sys

import pytest

from brindle import BrindleDocument, BrindleError, ParseError, VariableError, parse


def raised(source):
    with pytest.raises(BrindleError) as info:
        parse(source)
    return info.value


@pytest.mark.parametrize(
    "source, cls, message, line, column",
    [
        ("[a..b]", ParseError, "invalid section name: `a..b`", 1, 2),
        # The name's span starts right after the bracket, blanks or not.
        ("[ a..b]", ParseError, "invalid section name: `a..b`", 1, 2),
        ("k = null ?? \n", ParseError, "empty value", 1, 12),
        ("k = #{ a = }#\n", ParseError, "empty value", 1, 11),
        ("x = 1\n  y = $nope\n", VariableError, "undefined variable `$nope`", 2, 7),
        ('k = "é" + $nope', VariableError, "undefined variable `$nope`", 1, 12),
        ("k = hello", ParseError, "cannot parse value: `hello`", 1, 5),
        ("a = 1\r\nb = oops\r\n", ParseError, "cannot parse value: `oops`", 2, 5),
        ("@min 5\nk = 1", ParseError, "invalid annotation syntax: `@min 5`", 1, 1),
        ("  @min:\nk = 1", ParseError, "annotation argument is empty", 1, 8),
        ("k = 1 / 0", ParseError, "invalid operands for `/`", 1, 7),
        ('k = "open', ParseError, "unterminated string", 1, 5),
        ("k = [1,\n2,\n", ParseError, "malformed array", 1, 5),
    ],
)
def test_first_error_with_position(source, cls, message, line, column):
    error = raised(source)
    assert type(error) is cls
    assert str(error) == f"{message} (line {line}, col {column})"
    assert error.args == (str(error),)
    assert (error.lineno, error.colno) == (line, column)
    assert type(error.lineno) is int and type(error.colno) is int


def test_variables_are_evaluated_first():
    # The invalid header comes first in the text, but the variables section
    # is evaluated before everything else.
    source = "[a..b]\nk = 1\n[vars]\nv = $missing\n"
    error = raised(source)
    assert type(error) is VariableError
    assert str(error) == "undefined variable `$missing` (line 4, col 5)"


def test_variable_defined_below_is_undefined_in_vars_but_fine_in_keys():
    assert parse("[s]\nk = $v\n[vars]\nv = 1\n")["s"] == {"k": 1}
    error = raised("[vars]\na = $b\nb = 1\n")
    assert type(error) is VariableError


def test_only_errors_not_warnings_raise():
    doc = parse("@deprecated\nk = 1\n")
    assert isinstance(doc, BrindleDocument)


@pytest.mark.parametrize("source", ["", "\n\n", "# only a comment\n", "   \n\t\n"])
def test_empty_sources(source):
    doc = parse(source)
    assert doc.config == {} and doc.vars == {} and doc.meta == {}


def test_whole_document_end_to_end():
    source = """\
# service settings
@required
title = $name + "-" + 1

[vars]
base = 8000
name = "svc"

[server]
@min: 1
@max: 65535
port = $base + 80
hosts = [
  "a",
  "b",
]
ratio = 7 / 2
fallback = null ?? "x"
"quoted.key" = true

[server.limits]
rate = 1_000
mask = 0xff
neg = -0x10

[database]
options = #{
  @type: int
  pool = 5,
  name = "main"
}#
"""
    doc = parse(source)
    assert doc.config == {
        "title": "svc-1",
        "server": {
            "port": 8080,
            "hosts": ["a", "b"],
            "ratio": 3.5,
            "fallback": "x",
            "quoted.key": True,
            "limits": {"rate": 1000, "mask": 255, "neg": -16},
        },
        "database": {"options": {"pool": 5, "name": "main"}},
    }
    assert doc.vars == {"base": 8000, "name": "svc"}
    assert doc.resolve("server.limits.mask") == 255
    assert doc.has_annotation("database.options.pool", "type")
    assert doc.required_keys() == ["title"]


def test_environment_references(monkeypatch):
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "from-env")
    monkeypatch.delenv("BRINDLE_TEST_UNSET", raising=False)
    doc = parse(
        'a = $ENV.BRINDLE_TEST_VALUE\nb = $ENV.BRINDLE_TEST_UNSET\nc = $ENV.BRINDLE_TEST_UNSET ?? 0\n'
    )
    assert doc.config == {"a": "from-env", "b": None, "c": 0}
    # Read afresh on every parse.
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "changed")
    assert parse("a = $ENV.BRINDLE_TEST_VALUE")["a"] == "changed"


@pytest.mark.skipif(sys.platform == "win32", reason="byte environment is POSIX only")
def test_environment_values_that_are_not_utf8_are_absent(monkeypatch):
    monkeypatch.setitem(os.environb, b"BRINDLE_TEST_BYTES", b"\xff\xfe")
    assert parse("a = $ENV.BRINDLE_TEST_BYTES ?? 1")["a"] == 1
    monkeypatch.setitem(os.environb, b"BRINDLE_TEST_BYTES", "é".encode())
    assert parse("a = $ENV.BRINDLE_TEST_BYTES")["a"] == "é"


def test_builtins_are_available():
    doc = parse("pid = $PID\ntoday = $TODAY\nt = $TRUE\n")
    assert doc["pid"] == os.getpid()
    assert len(doc["today"]) == 10
    assert doc["t"] is True


def test_keyword_argument_and_fresh_documents():
    first = parse(source="a = 1")
    second = parse("a = 1")
    assert first is not second
    assert first.config == second.config


@pytest.mark.parametrize("bad", [b"a = 1", None, 1, ["a = 1"]])
def test_source_must_be_text(bad):
    with pytest.raises(TypeError, match="source"):
        parse(bad)


def test_source_with_lone_surrogate():
    with pytest.raises(UnicodeEncodeError):
        parse("a = '\ud800'")


def test_call_shape_errors():
    with pytest.raises(TypeError):
        parse()
    with pytest.raises(TypeError):
        parse("a", "b")
    with pytest.raises(TypeError):
        parse(text="a = 1")


def test_str_subclass_source():
    class Source(str):
        pass

    assert parse(Source("a = 1"))["a"] == 1
