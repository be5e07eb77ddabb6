"""How `brindle check` shows findings: text for people, JSON, GitHub workflow
commands and SARIF 2.1.0 for machines. Rendering only: the findings come from
the diagnostics engine, the command line picks the format.

Text, in the style of rustc and ruff::

    app.brindle:3:8: error[B204]: [server.port] value 80 is below @min: 1024
        port = 80
               ^^
        note: required by @min: 1024 here
          --> app.brindle:2:1
            @min: 1024
            ^^^^^^^^^^
        help: ...

Lines and columns count from 1, columns in characters.
"""

from __future__ import annotations

import json
from dataclasses import dataclass, field
from pathlib import PurePath
from typing import Any, Iterable, Optional, Sequence
from urllib.parse import quote

from ._findings import Finding

__all__ = ["FileReport", "Rule", "render", "select", "summary_line", "REPORT_SCHEMA", "REPORT_VERSION", "FORMATS"]

FORMATS = ("text", "json", "github", "sarif")

# Bumped whenever a field of the JSON report changes meaning or goes away;
# new optional fields keep the version.
REPORT_VERSION = 1

_POSITION = {"type": "integer", "minimum": 1}
_RELATED_SCHEMA = {
    "type": "object",
    "required": ["message", "line", "column", "end_line", "end_column", "filename"],
    "properties": {
        "message": {"type": "string"},
        "line": _POSITION, "column": _POSITION, "end_line": _POSITION, "end_column": _POSITION,
        "filename": {"type": ["string", "null"]},
    },
}
# JSON Schema (2020-12) of `brindle check --format json`.
REPORT_SCHEMA: dict[str, Any] = {
    "$schema": "https://json-schema.org/draft/2020-12/schema",
    "title": "brindle check report",
    "type": "object",
    "required": ["version", "tool", "findings", "summary"],
    "properties": {
        "version": {"const": REPORT_VERSION},
        "tool": {
            "type": "object",
            "required": ["name", "version"],
            "properties": {"name": {"const": "brindle"}, "version": {"type": "string"}},
        },
        "findings": {
            "type": "array",
            "items": {
                "type": "object",
                "required": ["code", "severity", "message", "filename", "line", "column", "end_line",
                             "end_column", "path", "related", "suggestion"],
                "properties": {
                    "code": {"type": "string", "pattern": "^B[0-9]{3}$"},
                    "severity": {"enum": ["error", "warning", "info"]},
                    "message": {"type": "string"},
                    "filename": {"type": ["string", "null"]},
                    "line": _POSITION, "column": _POSITION, "end_line": _POSITION, "end_column": _POSITION,
                    "path": {"type": ["string", "null"]},
                    "related": {"type": "array", "items": _RELATED_SCHEMA},
                    "suggestion": {"type": ["string", "null"]},
                },
            },
        },
        "summary": {
            "type": "object",
            "required": ["files", "errors", "warnings", "infos", "unreadable"],
            "properties": {k: {"type": "integer", "minimum": 0}
                           for k in ("files", "errors", "warnings", "infos", "unreadable")},
        },
    },
}

SARIF_SCHEMA_URI = "https://json.schemastore.org/sarif-2.1.0.json"


@dataclass
class FileReport:
    """The findings of one file and the text they point into."""

    filename: str
    text: str
    findings: list[Finding] = field(default_factory=list)


@dataclass(frozen=True)
class Rule:
    code: str
    severity: str
    name: str
    summary: str


def _plural(count: int, word: str) -> str:
    return f"{count} {word}" if count == 1 else f"{count} {word}s"


def counts(reports: Sequence[FileReport]) -> dict[str, int]:
    found = [f.severity for r in reports for f in r.findings]
    return {"errors": found.count("error"), "warnings": found.count("warning"), "infos": found.count("info")}


def summary_line(reports: Sequence[FileReport], files: int, unreadable: int) -> str:
    n = counts(reports)
    head = f"checked {_plural(files, 'file')}: "
    if not any(n.values()) and not unreadable:
        return head + "no problems"
    parts = [_plural(n["errors"], "error"), _plural(n["warnings"], "warning")]
    if n["infos"]:
        parts.append(_plural(n["infos"], "info"))
    if unreadable:
        parts.append(f"{unreadable} unreadable")
    return head + ", ".join(parts)


# ---- text -----------------------------------------------------------------


def _lines(text: str) -> list[str]:
    return [line[:-1] if line.endswith("\r") else line for line in text.split("\n")]


def _snippet(lines: list[str], line: int, column: int, end_line: int, end_column: int, indent: str) -> list[str]:
    """The source line and a caret underline over the range (to the end of
    the first line when the range spans several)."""
    if not 1 <= line <= len(lines):
        return []
    source = lines[line - 1]
    start = max(column - 1, 0)
    stop = end_column - 1 if end_line == line else len(source)
    width = max(stop - start, 1)
    pad = "".join("\t" if ch == "\t" else " " for ch in source[:start])
    return [f"{indent}{source}", f"{indent}{pad}{'^' * width}"]


def _text(reports: Sequence[FileReport]) -> Iterable[str]:
    for report in reports:
        lines = _lines(report.text)
        for f in report.findings:
            yield f"{f.filename or report.filename}:{f.line}:{f.column}: {f.severity}[{f.code}]: {f.message}"
            yield from _snippet(lines, f.line, f.column, f.end_line, f.end_column, "    ")
            for related in f.related:
                yield f"    note: {related.message}"
                yield f"      --> {related.filename or report.filename}:{related.line}:{related.column}"
                yield from _snippet(lines, related.line, related.column, related.end_line, related.end_column,
                                    "        ")
            if f.suggestion:
                yield f"    help: {f.suggestion}"


# ---- JSON -------------------------------------------------------------------


def _finding_dict(f: Finding, filename: str) -> dict[str, Any]:
    return {
        "code": f.code, "severity": f.severity, "message": f.message, "filename": f.filename or filename,
        "line": f.line, "column": f.column, "end_line": f.end_line, "end_column": f.end_column,
        "path": f.path,
        "related": [{"message": r.message, "line": r.line, "column": r.column, "end_line": r.end_line,
                     "end_column": r.end_column, "filename": r.filename or filename} for r in f.related],
        "suggestion": f.suggestion,
    }


def _json(reports: Sequence[FileReport], files: int, unreadable: int, version: str) -> str:
    document = {
        "version": REPORT_VERSION,
        "tool": {"name": "brindle", "version": version},
        "findings": [_finding_dict(f, r.filename) for r in reports for f in r.findings],
        "summary": {"files": files, **counts(reports), "unreadable": unreadable},
    }
    return json.dumps(document, indent=2, ensure_ascii=False)


# ---- GitHub workflow commands ---------------------------------------------------

_GITHUB_LEVEL = {"error": "error", "warning": "warning", "info": "notice"}


def _escape_data(text: str) -> str:
    return text.replace("%", "%25").replace("\r", "%0D").replace("\n", "%0A")


def _escape_property(text: str) -> str:
    return _escape_data(text).replace(":", "%3A").replace(",", "%2C")


def _github(reports: Sequence[FileReport]) -> Iterable[str]:
    for report in reports:
        for f in report.findings:
            props = ",".join([
                f"file={_escape_property(f.filename or report.filename)}", f"line={f.line}", f"col={f.column}",
                f"endLine={f.end_line}", f"endColumn={f.end_column}", f"title={_escape_property(f.code)}",
            ])
            message = f.message + (f" ({f.suggestion})" if f.suggestion else "")
            yield f"::{_GITHUB_LEVEL[f.severity]} {props}::{_escape_data(message)}"


# ---- SARIF 2.1.0 ------------------------------------------------------------------

_SARIF_LEVEL = {"error": "error", "warning": "warning", "info": "note"}


def _uri(filename: str) -> str:
    return quote(PurePath(filename).as_posix(), safe="/:")


def _region(line: int, column: int, end_line: int, end_column: int) -> dict[str, int]:
    return {"startLine": line, "startColumn": column, "endLine": end_line, "endColumn": end_column}


def _sarif(reports: Sequence[FileReport], rules: Sequence[Rule], version: str) -> str:
    index = {rule.code: i for i, rule in enumerate(rules)}
    results = []
    for report in reports:
        for f in report.findings:
            location = {"physicalLocation": {
                "artifactLocation": {"uri": _uri(f.filename or report.filename)},
                "region": _region(f.line, f.column, f.end_line, f.end_column),
            }}
            result: dict[str, Any] = {
                "ruleId": f.code, "level": _SARIF_LEVEL[f.severity],
                "message": {"text": f.message + (f" ({f.suggestion})" if f.suggestion else "")},
                "locations": [location],
            }
            if f.code in index:
                result["ruleIndex"] = index[f.code]
            if f.related:
                result["relatedLocations"] = [{
                    "id": i, "message": {"text": r.message},
                    "physicalLocation": {
                        "artifactLocation": {"uri": _uri(r.filename or report.filename)},
                        "region": _region(r.line, r.column, r.end_line, r.end_column),
                    },
                } for i, r in enumerate(f.related)]
            results.append(result)
    log = {
        "$schema": SARIF_SCHEMA_URI,
        "version": "2.1.0",
        "runs": [{
            "tool": {"driver": {
                "name": "brindle", "version": version, "semanticVersion": version,
                "rules": [{
                    "id": rule.code, "name": rule.name,
                    "shortDescription": {"text": rule.summary},
                    "defaultConfiguration": {"level": _SARIF_LEVEL[rule.severity]},
                } for rule in rules],
            }},
            "columnKind": "unicodeCodePoints",
            "results": results,
        }],
    }
    return json.dumps(log, indent=2, ensure_ascii=False)


def render(fmt: str, reports: Sequence[FileReport], *, files: int, unreadable: int, rules: Sequence[Rule],
           version: str) -> str:
    """The whole report in format `fmt` (one of FORMATS), without the summary line."""
    if fmt == "json":
        return _json(reports, files, unreadable, version) + "\n"
    if fmt == "sarif":
        return _sarif(reports, rules, version) + "\n"
    lines = list(_github(reports) if fmt == "github" else _text(reports))
    return "".join(line + "\n" for line in lines)


def select(findings: Iterable[Finding], select_codes: Optional[Sequence[str]],
           ignore_codes: Optional[Sequence[str]]) -> list[Finding]:
    """Findings whose code starts with one of `select_codes` (all when None)
    and with none of `ignore_codes`: `B3` names a family, `B302` one code."""
    def matches(code: str, prefixes: Sequence[str]) -> bool:
        return any(code.startswith(prefix) for prefix in prefixes)
    return [f for f in findings
            if (select_codes is None or matches(f.code, select_codes))
            and not (ignore_codes and matches(f.code, ignore_codes))]
