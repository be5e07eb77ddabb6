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


def check(text: str) -> list[str]:
    try:
        doc = brindle.parse(text)
    except (ParseError, VariableError) as error:
        return [f"{assert_type(error.lineno, int)}:{assert_type(error.colno, int)}: {error}"]
    findings = assert_type(brindle.validate_all(doc), list[ValidationError])
    port = doc.resolve("server.port", 8080)
    if isinstance(port, int) and not isinstance(port, bool):
        findings.append(ValidationError(f"port {port + 1}"))
    return [str(finding) for finding in findings]


def queries(doc: BrindleDocument, tmp: Path) -> None:
    assert_type(doc.keys(), list[str])
    assert_type(doc.items(), list[tuple[str, Value]])
    assert_type(doc.config, dict[str, Value])
    assert_type(doc.vars, dict[str, Value])
    assert_type(doc.meta, dict[str, list[Annotation]])
    assert_type(doc["server"], Value)
    assert_type(doc.get("server", 0), Value | int)
    assert_type("server" in doc, bool)
    assert_type(len(doc), int)
    assert_type(list(doc), list[str])
    assert_type(doc.tags("server.port"), dict[str, str])
    assert_type(doc.required_keys(), list[str])
    assert_type(doc.deprecated_keys(), list[tuple[str, str | None]])
    assert_type(doc.keys_with_tag("owner"), list[tuple[str, str]])
    assert_type(doc.has_annotation("server.port", "min"), bool)
    for annotation in doc.annotations("server.port"):
        assert_type(annotation.name, str)
        assert_type(annotation.arg, str | int | float | list[str] | None)
        assert_type(annotation.is_validation, bool)
    assert_type(brindle.load(tmp / "app.brindle"), BrindleDocument)
    brindle.dump(doc, tmp / "copy.brindle")
    brindle.dump({"server": {"port": 8080}}, io.StringIO())
    with open(tmp / "app.brindle", "rb") as handle:
        assert_type(brindle.load(handle), BrindleDocument)
    assert_type(brindle.dumps(doc), str)


assert_type(Annotation("min", 1) == Annotation("min", 1), bool)
assert_type(brindle.__version__, str)
