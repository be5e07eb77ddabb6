"""JSON Schema export: the schema accepts what the validator accepts and rejects what it rejects."""

import json
from pathlib import Path

import pytest

import brindle
from brindle.cli import main

jsonschema = pytest.importorskip("jsonschema")

EXAMPLES = sorted((Path(__file__).parent.parent / "examples").glob("*.brindle"))


def schema_errors(schema, config):
    jsonschema.Draft202012Validator.check_schema(schema)
    return list(jsonschema.Draft202012Validator(schema).iter_errors(config))


# (annotation, a value it accepts, a value it rejects, the schema keyword that must reject it)
RULES = [
    ("@required", '"x"', '""', "not"),
    ("@required", "[1]", "[]", "not"),
    ("@nonempty", '#{ a = 1 }#', "#{ }#", "not"),
    ("@type: int", "5", "5.5", "type"),
    ("@type: float", "5", '"5"', "type"),
    ("@type: string", '"a"', "1", "type"),
    ("@type: bool", "true", "1", "type"),
    ("@type: list", "[1]", '"a"', "type"),
    ("@type: list[string]", '["a"]', '["a", 1]', "type"),
    ("@type: list[int]", "[1]", "[1.5]", "type"),
    ("@type: list[float]", "[1, 2.5]", '["a"]', "type"),
    ("@type: list[bool]", "[true]", "[1]", "type"),
    ("@type: url", '"https://a.example"', '"ftp://a.example"', "pattern"),
    ("@type: email", '"a@b.co"', '"@b.co"', "pattern"),
    ("@type: email", '"a@.co"', '"ab.co"', "pattern"),
    ("@type: email", '"a@b.co"', '"a@b.co."', "pattern"),
    ("@type: email", '"a@b.co"', '"a@b@c.co"', "pattern"),
    ("@type: email", '"a@b.co"', '"a @b.co"', "pattern"),
    ("@type: email", '"a@b.co"', '"a@b.co\u3000"', "pattern"),
    ("@type: duration", '"30s"', '"1h30m"', "pattern"),
    ("@type: duration", '"7d"', '"30S"', "pattern"),
    ("@min: 1", "1", "0", "minimum"),
    ("@max: 1.5", "1.5", "2", "maximum"),
    ("@minlen: 2", '"ab"', '"a"', "minLength"),
    ("@minlen: 2.9", "[1, 2]", "[1]", "minItems"),
    ("@maxlen: 2", '"日本"', '"日本語"', "maxLength"),
    ("@maxlen: 2", "[1]", "[1, 2, 3]", "maxItems"),
    ("@maxlen: -1", "5", '""', "not"),
    ('@pattern: "[a-z]+"', '"abc"', '"abc1"', "pattern"),
    ('@pattern: "abc|def"', '"abc"', '"abcdef"', "pattern"),
    ("@enum: [debug, info]", '"info"', '"loud"', "enum"),
    ("@positive", "1", "0", "exclusiveMinimum"),
    ("@positive", "0.5", "-0.0", "exclusiveMinimum"),
    ("@nonzero", "-1", "0", "not"),
    ("@nonzero", "0.1", "0.0", "not"),
]


@pytest.mark.parametrize(("rule", "good", "bad", "keyword"), RULES)
def test_each_rule_rejects_what_the_validator_rejects(rule, good, bad, keyword):
    good_doc = brindle.parse(f"{rule}\nk = {good}\n")
    bad_doc = brindle.parse(f"{rule}\nk = {bad}\n")
    schema = brindle.json_schema(good_doc)
    assert brindle.validate_all(good_doc) == [] and schema_errors(schema, good_doc.config) == []
    assert brindle.validate_all(bad_doc) != []
    # The schema of the bad document itself rejects its config too, by the rule's keyword.
    for source in (schema, brindle.json_schema(bad_doc)):
        errors = schema_errors(source, bad_doc.config)
        keywords = {error.validator for error in errors} | {
            sub.validator for error in errors for sub in error.context
        }
        assert keyword in keywords, (source, errors)


# Rules that do not cover the kind of value they are on check nothing, in both.
@pytest.mark.parametrize(
    ("rule", "value"),
    [
        ("@min: 5", '"abc"'),
        ("@maxlen: 1", "12345"),
        ('@pattern: "[a-z]+"', "5"),
        ("@enum: [a, b]", "5"),
        ("@positive", '"x"'),
        ("@nonzero", "false"),
        ("@type: Int", "5.5"),
        ("@min(5)", "1"),
        ("@minlen: -3", '""'),
        ("@type: int", "#{ a = 1 }#"),
        ("@min: 1", "#{ a = 0 }#"),
    ],
)
def test_rules_that_do_not_apply_accept_in_both(rule, value):
    doc = brindle.parse(f"{rule}\nk = {value}\n")
    assert brindle.validate_all(doc) == []
    assert schema_errors(brindle.json_schema(doc), doc.config) == []


def test_sections_metadata_and_shape():
    doc = brindle.parse(
        "top = 1\n"
        "nothing = null\n"
        "@required\n"
        "[server]\n"
        "@description: \"Port to listen on\"\n"
        "@deprecated: use listen\n"
        "port = 80\n"
        "hosts = [\"a\"]\n"
        "[server.tls]\n"
        "on = true\n"
        "[empty]\n"
    )
    schema = brindle.json_schema(doc)
    assert schema["$schema"] == "https://json-schema.org/draft/2020-12/schema"
    assert schema["required"] == ["server"]
    server = schema["properties"]["server"]
    assert server["properties"]["port"] == {"type": "integer", "description": "Port to listen on", "deprecated": True}
    assert server["properties"]["hosts"] == {"type": "array"}
    assert server["properties"]["tls"]["properties"]["on"] == {"type": "boolean"}
    assert schema["properties"]["nothing"] == {}
    assert schema_errors(schema, doc.config) == []
    # A required section that is empty breaks the rule in both.
    empty = brindle.parse("@required\n[server]\n")
    assert brindle.validate_all(empty) != []
    assert schema_errors(brindle.json_schema(empty), empty.config) != []


@pytest.mark.parametrize("path", EXAMPLES, ids=lambda path: path.name)
def test_examples_validate_against_their_own_schema(path, capsys):
    doc = brindle.load(path)
    assert main(["schema", str(path)]) == 0
    schema = json.loads(capsys.readouterr().out)
    assert schema == brindle.json_schema(doc)
    assert schema_errors(schema, doc.config) == []


def test_description_is_a_known_annotation():
    findings = brindle.check('@description: "Port to listen on"\nport = 80\n', strict=True)
    assert findings == []
