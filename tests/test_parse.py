"""parse: source text to documents, and the errors it raises."""

import os

import pytest

from brindle import BrindleError, ParseError, VariableError, parse


@pytest.mark.parametrize("source, cls, message, line, column", [
    ("[ a..b]", ParseError, "invalid section name: `a..b`", 1, 2),
    ("x = 1\n  y = $nope\n", VariableError, "undefined variable `$nope`", 2, 7),
    ("a = 1\r\nb = oops\r\n", ParseError, "cannot parse value: `oops`", 2, 5),
    # Variables are evaluated first, whatever comes earlier in the text.
    ("[a..b]\n[vars]\nv = $missing\n", VariableError, "undefined variable `$missing`", 3, 5),
])
def test_first_error_with_position(source, cls, message, line, column):
    with pytest.raises(BrindleError) as info:
        parse(source)
    assert type(info.value) is cls
    assert info.value.args == (f"{message} (line {line}, col {column})",)
    assert (info.value.lineno, info.value.colno) == (line, column)


@pytest.mark.parametrize("source", ["", "\n\n", "# only a comment\n", "   \n\t\n", "@deprecated\n"])
def test_empty_sources_and_warnings_do_not_raise(source):
    assert parse(source + "k = 1")["k"] == 1


def test_whole_document_end_to_end():
    doc = parse(
        '# settings\n@required\ntitle = $name + "-" + 1\n[vars]\nbase = 8000\nname = "svc"\n'
        '[server]\n@min: 1\nport = $base + 80   # comment\nhosts = [\n  "a",\n]\n'
        "[server.limits]\nrate = 1_000\nopts = #{\n  @type: int\n  pool = 5,\n}#\n"
    )
    assert doc.config == {
        "title": "svc-1", "server": {"port": 8080, "hosts": ["a"], "limits": {"rate": 1000, "opts": {"pool": 5}}},
    }  # fmt: skip
    assert doc.vars == {"base": 8000, "name": "svc"} and doc.required_keys() == ["title"]
    assert doc.annotations("server.port")[0].arg == 1 and doc.has_annotation("server.limits.opts.pool", "type")


def test_environment(monkeypatch):
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "from-env")
    monkeypatch.delenv("BRINDLE_TEST_UNSET", raising=False)
    monkeypatch.setitem(os.environb, b"BRINDLE_TEST_BYTES", b"\xff\xfe")
    doc = parse("a = $ENV.BRINDLE_TEST_VALUE\nb = $ENV.BRINDLE_TEST_UNSET\nc = $ENV.BRINDLE_TEST_BYTES ?? 0\np = $PID")
    # Unset and not-UTF-8 values are both absent.
    assert doc.config == {"a": "from-env", "b": None, "c": 0, "p": os.getpid()}
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "changed")  # read afresh on every parse
    assert parse("a = $ENV.BRINDLE_TEST_VALUE")["a"] == "changed"


@pytest.mark.parametrize("args, kwargs, error, match", [
    ((b"a = 1",), {}, TypeError, "argument 'source' must be str, not bytes"),
    ((None,), {}, TypeError, "argument 'source' must be str, not NoneType"),
    (("a = '\ud800'",), {}, UnicodeEncodeError, "surrogate"),
    ((), {}, TypeError, "'source'"),
    (("a", "b"), {}, TypeError, "at most 1"),
    ((), {"text": "a = 1"}, TypeError, "'source'"),
])
def test_arguments(args, kwargs, error, match):
    with pytest.raises(error, match=match):
        parse(*args, **kwargs)
    assert parse(source="a = 1")["a"] == parse(type("Src", (str,), {})("a = 1"))["a"] == 1
    assert parse("a = 1") is not parse("a = 1")
