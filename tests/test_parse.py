"""parse: source text to documents, and the errors it raises."""

import os

import pytest

from brindle import BrindleError, ParseError, VariableError, parse


@pytest.mark.parametrize(
    "source, cls, message, line, column",
    [
        # The name's span starts right after the bracket, blanks or not.
        ("[ a..b]", ParseError, "invalid section name: `a..b`", 1, 2),
        ("x = 1\n  y = $nope\n", VariableError, "undefined variable `$nope`", 2, 7),
        # Columns count bytes: é is two.
        ('k = "é" + $nope', VariableError, "undefined variable `$nope`", 1, 12),
        ("a = 1\r\nb = oops\r\n", ParseError, "cannot parse value: `oops`", 2, 5),
        ("@min 5\nk = 1", ParseError, "invalid annotation syntax: `@min 5`", 1, 1),
        ("  @min:\nk = 1", ParseError, "annotation argument is empty", 1, 8),
        ("k = null ?? \n", ParseError, "empty value", 1, 12),
        ("k = [1,\n2,\n", ParseError, "malformed array", 1, 5),
        # Variables are evaluated first, whatever comes earlier in the text.
        ("[a..b]\n[vars]\nv = $missing\n", VariableError, "undefined variable `$missing`", 3, 5),
    ],
)
def test_first_error_with_position(source, cls, message, line, column):
    with pytest.raises(BrindleError) as info:
        parse(source)
    error = info.value
    assert type(error) is cls
    assert error.args == (f"{message} (line {line}, col {column})",)
    assert (error.lineno, error.colno) == (line, column)


def test_warnings_and_empty_sources_do_not_raise():
    assert parse("@deprecated\nk = 1\n")["k"] == 1
    for source in ("", "\n\n", "# only a comment\n", "   \n\t\n"):
        assert parse(source).config == {}


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
port = $base + 80   # comment
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
            "limits": {"rate": 1000, "mask": 255},
        },
        "database": {"options": {"pool": 5, "name": "main"}},
    }
    assert doc.vars == {"base": 8000, "name": "svc"}
    assert doc.has_annotation("database.options.pool", "type")
    assert doc.annotations("server.port")[0].arg == 1
    assert doc.required_keys() == ["title"]


def test_environment(monkeypatch):
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "from-env")
    monkeypatch.delenv("BRINDLE_TEST_UNSET", raising=False)
    monkeypatch.setitem(os.environb, b"BRINDLE_TEST_BYTES", b"\xff\xfe")
    doc = parse(
        "a = $ENV.BRINDLE_TEST_VALUE\nb = $ENV.BRINDLE_TEST_UNSET\n"
        "c = $ENV.BRINDLE_TEST_BYTES ?? 0\npid = $PID\n"
    )
    # Unset and not-UTF-8 values are both absent.
    assert doc.config == {"a": "from-env", "b": None, "c": 0, "pid": os.getpid()}
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "changed")  # read afresh on every parse
    assert parse("a = $ENV.BRINDLE_TEST_VALUE")["a"] == "changed"


def test_arguments():
    assert parse(source="a = 1")["a"] == parse(type("Src", (str,), {})("a = 1"))["a"] == 1
    assert parse("a = 1") is not parse("a = 1")
    for bad in (b"a = 1", None, ["a = 1"]):
        with pytest.raises(TypeError, match="'source'"):
            parse(bad)
    with pytest.raises(UnicodeEncodeError):
        parse("a = '\ud800'")
    for args, kwargs in [((), {}), (("a", "b"), {}), ((), {"text": "a = 1"})]:
        with pytest.raises(TypeError):
            parse(*args, **kwargs)
