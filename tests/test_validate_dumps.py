"""validate, validate_all and dumps."""

import pytest

from brindle import BrindleError, ValidationError, dumps, parse, validate, validate_all


@pytest.mark.parametrize(
    "source, messages",
    [
        ("[s]\n@min: 1\nport = 0", ["[s.port] value 0 is below @min: 1"]),
        (
            "@min: 10\n@max: -5\n@positive\nk = -1\n",
            ["[k] value -1 is below @min: 10", "[k] value -1 exceeds @max: -5", "[k] value -1 must be @positive (> 0)"],
        ),
        # The deprecation warning is dropped, the error kept.
        ("@deprecated\n@min: 5\nold = 1\n", ["[old] value 1 is below @min: 5"]),
        ("@deprecated: use other\nold = 1\n", []),
        ("@min: 1\nk = 5\n", []),
        ("", []),
    ],
)
def test_validation_results(source, messages):
    doc = parse(source)
    if messages:
        with pytest.raises(ValidationError) as info:
            validate(doc)
        assert info.value.args == (messages[0],)  # no position appended
    else:
        assert validate(doc) is None
    errors = validate_all(doc)
    assert [error.args for error in errors] == [(m,) for m in messages]
    for error in errors:
        assert type(error) is ValidationError and isinstance(error, BrindleError)
        assert error.__traceback__ is None  # made, not raised


def test_invalid_pattern_is_a_validation_error():
    with pytest.raises(ValidationError, match=r"^\[k\] invalid @pattern regex: "):
        validate(parse('@pattern: "(a"\nk = "a"\n'))


def test_validation_arguments():
    doc = parse("@min: 5\nk = 1\n")
    for function in (validate, validate_all):
        for bad in (None, {}, "k = 1"):
            with pytest.raises(TypeError, match="'doc'"):
                function(bad)
        with pytest.raises(TypeError):
            function(document=doc)
    assert len(validate_all(doc=doc)) == 1
    with pytest.raises(ValidationError):
        validate(doc=doc)


def test_dumps_of_a_document_and_of_its_config():
    doc = parse("[vars]\nx = 2\n[server]\n@min: 1\nport = $x\n")
    text = dumps(doc)
    assert "@min: 1\n" in text and "[vars]\n" in text
    again = parse(text)
    assert (again.config, again.vars) == (doc.config, doc.vars)
    assert again.annotations("server.port") == doc.annotations("server.port")
    plain = dumps(data=doc.config)
    assert "@" not in plain and "[vars]" not in plain
    assert parse(plain).config == doc.config


@pytest.mark.parametrize(
    "data, text",
    [
        ({}, "\n"),
        ({"s": 'q"b\\\tn\n'}, 's = "q\\"b\\\\\\tn\\n"\n'),
        ({"top": 1, "sec": {"k": True}}, "top = 1\n\n[sec]\nk = true\n"),
        ({"s": {"b": {"inner": {"x": 1}}}}, "[s]\nb = #{\n  inner = #{ x = 1 }#\n}#\n"),
    ],
)
def test_dumps_of_dicts(data, text):
    assert dumps(data) == text


def test_dumps_arguments():
    for bad in (None, (), [("a", 1)], "a = 1", set()):
        with pytest.raises(TypeError) as info:
            dumps(bad)
        assert info.value.args == ("dumps expects a BrindleDocument or a dict",)
    with pytest.raises(TypeError):
        dumps(value={"a": 1})
    data = {"b": [1, {"c": 2}], "a": {"x": None}}
    snapshot = repr(data)
    dumps(data)
    assert repr(data) == snapshot
