"""validate, validate_all and dumps."""

import pytest

from brindle import (
    BrindleError,
    ValidationError,
    dumps,
    parse,
    validate,
    validate_all,
)


@pytest.mark.parametrize(
    "source, message",
    [
        ('@required\nk = ""', "[k] value is @required but is empty or null"),
        ("[s]\n@min: 1\nport = 0", "[s.port] value 0 is below @min: 1"),
        ("@type: int\nk = 5.0", "[k] expected @type: int, got float"),
        ("@maxlen: 2\nname = \"abc\"", "[name] length 3 exceeds @maxlen: 2"),
        ("@enum: [debug, release]\nmode = \"fast\"", "[mode] value `fast` not in @enum: [debug, release]"),
        ("@nonzero\nk = 0", "[k] value must be @nonzero"),
    ],
)
def test_validate_raises_the_first_error_without_position(source, message):
    doc = parse(source)
    with pytest.raises(ValidationError) as info:
        validate(doc)
    assert str(info.value) == message
    assert info.value.args == (message,)
    errors = validate_all(doc)
    assert [e.args for e in errors] == [(message,)]


def test_validate_all_lists_every_error_in_order():
    doc = parse("@min: 10\n@max: -5\n@positive\nk = -1\n")
    errors = validate_all(doc)
    assert [str(e) for e in errors] == [
        "[k] value -1 is below @min: 10",
        "[k] value -1 exceeds @max: -5",
        "[k] value -1 must be @positive (> 0)",
    ]
    for error in errors:
        assert type(error) is ValidationError
        assert isinstance(error, BrindleError)
        assert error.__traceback__ is None  # made, not raised
    assert validate_all(doc) is not validate_all(doc)


def test_invalid_pattern_is_a_validation_error():
    doc = parse('@pattern: "(a"\nk = "a"\n')
    with pytest.raises(ValidationError, match=r"^\[k\] invalid @pattern regex: "):
        validate(doc)


def test_warnings_never_reach_python():
    doc = parse("@deprecated: use other\nold = 1\n")
    assert validate(doc) is None
    assert validate_all(doc) == []
    mixed = parse("@deprecated\n@min: 5\nold = 1\n")
    assert [str(e) for e in validate_all(mixed)] == ["[old] value 1 is below @min: 5"]


def test_valid_documents():
    doc = parse("@min: 1\nk = 5\n")
    assert validate(doc) is None
    assert validate_all(doc) == []
    assert validate(parse("")) is None


@pytest.mark.parametrize("function", [validate, validate_all])
@pytest.mark.parametrize("bad", [None, {}, "k = 1", 1])
def test_validation_needs_a_document(function, bad):
    with pytest.raises(TypeError, match="doc"):
        function(bad)


@pytest.mark.parametrize("function", [validate, validate_all])
def test_validation_keyword_argument(function):
    doc = parse("@min: 5\nk = 1\n")
    if function is validate:
        with pytest.raises(ValidationError):
            validate(doc=doc)
    else:
        assert len(validate_all(doc=doc)) == 1
    with pytest.raises(TypeError):
        function(document=doc)


# ---- dumps -----------------------------------------------------------------


def test_dumps_of_a_document_keeps_annotations_and_variables():
    doc = parse('[vars]\nx = 2\n[server]\n@min: 1\nport = $x\n')
    text = dumps(doc)
    assert "@min: 1\n" in text
    assert "[vars]\n" in text
    assert "x = 2\n" in text
    again = parse(text)
    assert again.config == doc.config
    assert again.vars == doc.vars
    assert again.annotations("server.port") == doc.annotations("server.port")


def test_dumps_of_the_config_dict_drops_annotations_and_variables():
    doc = parse('[vars]\nx = 2\n[server]\n@min: 1\nport = $x\n')
    text = dumps(doc.config)
    assert "@" not in text and "[vars]" not in text
    assert parse(text).config == doc.config


@pytest.mark.parametrize(
    "data, text",
    [
        ({}, "\n"),
        ({"b": 2, "a": "x"}, 'a = "x"\nb = 2\n'),
        ({"k": 1.0, "i": 1, "f": 0.1}, "f = 0.1\ni = 1\nk = 1.0\n"),
        ({"s": 'q"b\\t\tn\n'}, 's = "q\\"b\\\\t\\tn\\n"\n'),
        ({"top": 1, "sec": {"k": True}}, "top = 1\n\n[sec]\nk = true\n"),
        ({"s": {"b": {"x": 1}}}, "[s]\nb = #{\n  x = 1\n}#\n"),
        ({"s": {"b": {"inner": {"x": 1}}}}, "[s]\nb = #{\n  inner = #{ x = 1 }#\n}#\n"),
    ],
)
def test_dumps_of_dicts(data, text):
    assert dumps(data) == text


@pytest.mark.parametrize("bad", [None, (), [("a", 1)], "a = 1", 1, set()])
def test_dumps_needs_a_document_or_dict(bad):
    with pytest.raises(TypeError) as info:
        dumps(bad)
    assert str(info.value) == "dumps expects a BrindleDocument or a dict"


def test_dumps_keyword_argument():
    assert dumps(data={"a": 1}) == "a = 1\n"
    assert dumps(data=parse("a = 1")) == "a = 1\n"
    with pytest.raises(TypeError):
        dumps(value={"a": 1})


def test_dumps_does_not_change_its_input():
    data = {"b": [1, {"c": 2}], "a": {"x": None}}
    snapshot = repr(data)
    dumps(data)
    assert repr(data) == snapshot
    doc = parse("a = [1, 2]\n[s]\nk = 1\n")
    before = doc.config
    dumps(doc)
    assert doc.config == before
