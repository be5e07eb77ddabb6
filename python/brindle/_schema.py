"""JSON Schema (2020-12) export: a document's shape and its annotation rules
in a form that editors and other validators read.

The shape is the document's own: every section is an object with its keys
as properties, and every value has the JSON type it has in this document
(unless `@type` names one; a null value constrains nothing). Each rule is
written with the keywords that check the same thing, and, like the
validator, only for the kinds of value the rule covers: `@min` says nothing
about a string, `@enum` nothing about a number.
"""

from __future__ import annotations

import math
from typing import Any, Optional

from ._native import Annotation, BrindleDocument

__all__ = ["json_schema", "SCHEMA_DIALECT"]

SCHEMA_DIALECT = "https://json-schema.org/draft/2020-12/schema"

# Characters the validator's email test counts as whitespace.
_BLANKS = r"\t\n\v\f\r \u0085\u00a0\u1680\u2000-\u200a\u2028\u2029\u202f\u205f\u3000"
_EMAIL_CHAR = f"[^@{_BLANKS}]"
_NO_POINT = f"[^@.{_BLANKS}]"

_JSON_TYPES = {str: "string", bool: "boolean", int: "integer", float: "number", list: "array", dict: "object"}

# `@type` names and the schema fragment each one stands for.
_TYPE_RULES: dict[str, dict[str, Any]] = {
    "string": {"type": "string"},
    "int": {"type": "integer"},
    "float": {"type": "number"},
    "bool": {"type": "boolean"},
    "dict": {"type": "object"},
    "list": {"type": "array"},
    "list[string]": {"type": "array", "items": {"type": "string"}},
    "list[int]": {"type": "array", "items": {"type": "integer"}},
    "list[float]": {"type": "array", "items": {"type": "number"}},
    "list[bool]": {"type": "array", "items": {"type": "boolean"}},
    "url": {"type": "string", "pattern": "^https?://"},
    "email": {"type": "string", "pattern": f"^{_EMAIL_CHAR}+@{_EMAIL_CHAR}*\\.{_EMAIL_CHAR}*{_NO_POINT}$"},
    "path": {"type": "string"},
    "duration": {"type": "string", "pattern": "^[0-9]+[dhms]$"},
}

# Rules the validator does not apply to a section's own value.
_VALUE_ONLY = {"type", "min", "max", "minlen", "maxlen", "pattern", "enum", "positive", "nonzero"}
_EMPTY: dict[str, Any] = {"enum": [None, "", [], {}]}
_INT64_MAX = 2**63 - 1
_INT64_MIN = -(2**63)


def json_schema(doc: BrindleDocument) -> dict[str, Any]:
    """The JSON Schema of `doc.config`: its sections and keys with their rules."""
    meta = doc.meta
    schema: dict[str, Any] = {"$schema": SCHEMA_DIALECT}
    schema.update(_object(doc.config, (), meta))
    return schema


def _object(section: dict[str, Any], path: tuple[str, ...], meta: dict[str, list[Annotation]]) -> dict[str, Any]:
    properties: dict[str, Any] = {}
    required: list[str] = []
    for key, value in section.items():
        key_path = (*path, key)
        # The validator splits key paths at points: a key with a point in
        # its name is not reachable by its rules, so it gets none here.
        rules = [] if any("." in part for part in key_path) else meta.get(".".join(key_path), [])
        properties[key] = _property(value, key_path, rules, meta)
        if any(rule.name == "required" for rule in rules):
            required.append(key)
    result: dict[str, Any] = {"type": "object", "properties": properties}
    if required:
        result["required"] = required
    return result


def _property(value: Any, path: tuple[str, ...], rules: list[Annotation], meta: dict[str, list[Annotation]]) -> dict[str, Any]:
    # The last annotation of a name counts, as in the validator.
    table = {rule.name: rule.arg for rule in rules}
    if isinstance(value, dict):
        schema = _object(value, path, meta)
        table = {name: arg for name, arg in table.items() if name not in _VALUE_ONLY}
    else:
        schema = {}
        declared = table.get("type")
        kind = _JSON_TYPES.get(type(value))
        if not (isinstance(declared, str) and declared in _TYPE_RULES) and kind is not None:
            schema["type"] = kind
    checks: list[dict[str, Any]] = []
    for name, arg in table.items():
        fragment = _rule(name, arg)
        if fragment:
            checks.append(fragment)
    description = table.get("description")
    if isinstance(description, str):
        schema["description"] = description
    if "deprecated" in table:
        schema["deprecated"] = True
        if isinstance(table["deprecated"], str) and "description" not in schema:
            schema["description"] = f"deprecated: {table['deprecated']}"
    # Each check goes in as it is where its keywords are free, else under allOf.
    nested = []
    for fragment in checks:
        if schema.keys().isdisjoint(fragment):
            schema.update(fragment)
        else:
            nested.append(fragment)
    if nested:
        schema["allOf"] = nested
    return schema


def _length(bound: Any) -> Optional[int]:
    """A length bound as the validator reads it: floats truncated toward zero."""
    if isinstance(bound, bool) or not isinstance(bound, (int, float)):
        return None
    if isinstance(bound, float):
        if math.isnan(bound):
            return 0
        if math.isinf(bound):
            return _INT64_MAX if bound > 0 else _INT64_MIN
        return max(min(int(bound), _INT64_MAX), _INT64_MIN)
    return bound


def _rule(name: str, arg: Any) -> Optional[dict[str, Any]]:
    number = isinstance(arg, (int, float)) and not isinstance(arg, bool) and math.isfinite(arg)
    if name in ("required", "nonempty"):
        return {"not": _EMPTY}
    if name == "type" and isinstance(arg, str):
        return _TYPE_RULES.get(arg)
    if name == "min" and number:
        return {"minimum": arg}
    if name == "max" and number:
        return {"maximum": arg}
    if name in ("minlen", "maxlen"):
        bound = _length(arg)
        if bound is None:
            return None
        if name == "minlen":
            return {"minLength": bound, "minItems": bound} if bound > 0 else None
        if bound < 0:
            return {"not": {"type": ["string", "array"]}}
        return {"maxLength": bound, "maxItems": bound}
    if name == "pattern" and isinstance(arg, str):
        return {"pattern": f"^(?:{arg})$"}
    if name == "enum" and isinstance(arg, list):
        return {"if": {"type": "string"}, "then": {"enum": list(arg)}}
    if name == "positive":
        return {"exclusiveMinimum": 0}
    if name == "nonzero":
        return {"if": {"type": "number"}, "then": {"not": {"const": 0}}}
    return None
