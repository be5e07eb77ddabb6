"""Typical typed use of brindle; checked with `mypy --strict` by test_typing.py.

Every `assert_type` pins what the stubs promise, so a stub that turns into
`Any` (or loses a precise type) makes the check fail.
"""

from __future__ import annotations

import io
from pathlib import Path
from typing import TYPE_CHECKING

from typing_extensions import assert_type

import brindle
from brindle import Annotation, BrindleDocument, ParseError, ValidationError, VariableError

if TYPE_CHECKING:
    # The value type exists for type checkers only.
    from brindle._native import Value


def server_port(doc: BrindleDocument) -> int:
    port = doc.resolve("server.port", 8080)
    if isinstance(port, int) and not isinstance(port, bool):
        return port
    raise TypeError(f"server.port is not an integer: {port!r}")


def check(text: str) -> list[str]:
    try:
        doc = brindle.parse(text)
    except (ParseError, VariableError) as error:
        assert_type(error.lineno, int)
        assert_type(error.colno, int)
        return [f"{error.lineno}:{error.colno}: {error}"]
    findings = brindle.validate_all(doc)
    assert_type(findings, list[ValidationError])
    return [str(finding) for finding in findings]


def walk(value: Value, depth: int = 0) -> int:
    if isinstance(value, dict):
        return max((walk(item, depth + 1) for item in value.values()), default=depth)
    if isinstance(value, list):
        return max((walk(item, depth + 1) for item in value), default=depth)
    return depth


def queries(doc: BrindleDocument) -> None:
    assert_type(doc.keys(), list[str])
    assert_type(doc.items(), list[tuple[str, Value]])
    assert_type(doc.config, dict[str, Value])
    assert_type(doc.vars, dict[str, Value])
    assert_type(doc.meta, dict[str, list[Annotation]])
    assert_type(doc["server"], Value)
    assert_type("server" in doc, bool)
    assert_type(len(doc), int)
    assert_type(list(doc), list[str])
    assert_type(doc.tags("server.port"), dict[str, str])
    assert_type(doc.required_keys(), list[str])
    assert_type(doc.deprecated_keys(), list[tuple[str, str | None]])
    assert_type(doc.keys_with_tag("owner"), list[tuple[str, str]])
    assert_type(doc.has_annotation("server.port", "min"), bool)
    depth = walk(doc.config)
    assert_type(depth, int)
    for annotation in doc.annotations("server.port"):
        assert_type(annotation.name, str)
        assert_type(annotation.arg, str | int | float | list[str] | None)
        assert_type(annotation.is_validation, bool)


def files(tmp: Path) -> None:
    doc = brindle.load(tmp / "app.brindle")
    assert_type(doc, BrindleDocument)
    brindle.dump(doc, tmp / "copy.brindle")
    brindle.dump({"server": {"port": 8080}}, io.StringIO())
    with open(tmp / "app.brindle", "rb") as handle:
        assert_type(brindle.load(handle), BrindleDocument)
    assert_type(brindle.dumps(doc), str)


rule = Annotation("min", 1)
assert_type(rule == Annotation("min", 1), bool)
assert_type(brindle.__version__, str)
