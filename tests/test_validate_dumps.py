"""validate, validate_all and dumps."""

import pytest

from brindle import BrindleError, ValidationError, dumps, parse, validate, validate_all


@pytest.mark.parametrize("source, messages", [
    ("@min: 10\n@max: -5\nk = -1\n", ["[k] value -1 is below @min: 10", "[k] value -1 exceeds @max: -5"]),
    ("@deprecated\n[s]\n@min: 1\nport = 0", ["[s.port] value 0 is below @min: 1"]),  # the warning is dropped
    ("@deprecated: use other\nold = 1\n", []),
    ("@min: 1\nk = 5\n", []),
    ('@pattern: "(a"\nk = "a"\n', ["[k] invalid @pattern regex: found open group without closing ')'"]),
])
def test_validation_results(source, messages):
    doc = parse(source)
    if messages:
        with pytest.raises(ValidationError) as info:
            validate(doc=doc)
        assert info.value.args == (messages[0],)  # no position appended
    else:
        assert validate(doc) is None
    errors = validate_all(doc=doc)
    assert [error.args for error in errors] == [(m,) for m in messages]
    assert all(type(e) is ValidationError and isinstance(e, BrindleError) and e.__traceback__ is None for e in errors)


@pytest.mark.parametrize("function", [validate, validate_all])
@pytest.mark.parametrize("call", [lambda f: f(None), lambda f: f({}), lambda f: f("k = 1"), lambda f: f(document=None)])
def test_validation_arguments(function, call):
    with pytest.raises(TypeError, match="'doc'"):
        call(function)


def test_dumps_of_a_document_and_of_its_config():
    doc = parse("[vars]\nx = 2\n[server]\n@min: 1\nport = $x\n")
    text = dumps(doc)
    assert "@min: 1\n" in text and "[vars]\n" in text
    again = parse(text)
    assert (again.config, again.vars, again.meta) == (doc.config, doc.vars, doc.meta)
    plain = dumps(data=doc.config)
    assert "@" not in plain and "[vars]" not in plain and parse(plain).config == doc.config


@pytest.mark.parametrize("data, text", [
    ({}, "\n"),
    ({"top": 1, "sec": {"k": True}}, "top = 1\n\n[sec]\nk = true\n"),
    ({"s": {"b": {"inner": {"x": 1}}}}, "[s]\nb = #{\n  inner = #{ x = 1 }#\n}#\n"),
])
def test_dumps_of_dicts(data, text):
    snapshot = repr(data)
    assert dumps(data) == text and repr(data) == snapshot


EXPECTS = "^dumps expects a BrindleDocument or a dict$"


@pytest.mark.parametrize("call, message", [
    (lambda: dumps(None), EXPECTS),
    (lambda: dumps([("a", 1)]), EXPECTS),
    (lambda: dumps("a = 1"), EXPECTS),
    (lambda: dumps(set()), EXPECTS),
    (lambda: dumps(value={}), "missing required argument 'data'"),
])
def test_dumps_arguments(call, message):
    with pytest.raises(TypeError, match=message):
        call()
