"""Typed use of brindle, checked with `mypy --strict` by test_typing.py; each `assert_type` pins a stub's promise."""

import dataclasses
import datetime
import io
from pathlib import Path
from typing import TYPE_CHECKING, Any, Optional

from typing_extensions import assert_type

import brindle
from brindle import Annotation, BrindleDocument, ParseError, ValidationError, VariableError

if TYPE_CHECKING:
    from brindle._native import Value  # exists for type checkers only


def position(error: ParseError | VariableError) -> tuple[int, int]:
    assert_type((error.msg, error.filename), tuple[str, str | None])
    return assert_type(error.lineno, int), assert_type(error.colno, int)


@dataclasses.dataclass
class Server:
    host: str
    port: int = 8080
    timeout: datetime.timedelta = datetime.timedelta(seconds=30)


@dataclasses.dataclass
class Settings:
    server: Server
    hosts: list[str] = dataclasses.field(default_factory=list)
    cache: Optional[Path] = None


def typed(path: Path) -> int:
    # Fields read without isinstance: load(into=...) returns a Settings.
    settings = brindle.load(path, into=Settings, env={"PORT": "9000"})
    assert_type(settings, Settings)
    seconds: float = settings.server.timeout.total_seconds()
    names = [host.upper() for host in settings.hosts]
    assert_type(brindle.loads("x = 1", into=Server).host, str)
    assert_type(brindle.loads("x = 1"), BrindleDocument)
    doc = brindle.parse("x = 1", env={})
    value: brindle.Value = doc.config["x"]
    config: brindle.Config = doc.config
    schema: dict[str, Any] = brindle.json_schema(doc)
    for error in brindle.validate_all(doc):
        assert_type((error.path, [finding.line for finding in error.findings]), tuple[str, list[int]])
    try:
        brindle.loads("", into=Settings)
    except brindle.ConversionError as problem:
        assert_type([(e.path, e.line) for e in problem.errors], list[tuple[str, int | None]])
    del value, config, schema, names, seconds
    return settings.server.port + 1


def queries(path: Path) -> None:
    doc = assert_type(brindle.load(path), BrindleDocument)
    assert_type(brindle.validate_all(doc), list[ValidationError])
    assert_type(doc.items(), list[tuple[str, Value]])
    assert_type(doc.config, dict[str, Value])
    assert_type(doc.meta, dict[str, list[Annotation]])
    assert_type(doc.resolve("server.port", 8080), Value | int)
    assert_type((len(doc), list(doc), "server" in doc), tuple[int, list[str], bool])
    assert_type(doc.tags("server.port"), dict[str, str])
    assert_type(doc.deprecated_keys(), list[tuple[str, str | None]])
    assert_type(doc.keys_with_tag("owner"), list[tuple[str, str]])
    for annotation in doc.annotations("server.port"):
        assert_type((annotation.arg, annotation.is_validation), tuple[str | int | float | list[str] | None, bool])
    with open(path, "rb") as handle:
        brindle.dump(brindle.load(handle), io.StringIO())
    brindle.dump({"server": {"port": 8080}}, path.with_name("copy.brindle"))
    assert_type((brindle.dumps(doc), brindle.__version__, Annotation("x") == Annotation("x")), tuple[str, str, bool])


def findings(doc: BrindleDocument, error: ParseError) -> None:
    assert_type(brindle.check("k = 1", filename="a", strict=True), list[brindle.Finding])
    assert_type(brindle.check(doc), list[brindle.Finding])
    assert_type(error.diagnostics, list[brindle.Finding])
    for f in brindle.check(""):
        assert_type((f.code, f.line, f.related[0].message, f.suggestion), tuple[str, int, str, str | None])
