"""Words for the editor: values in brindle syntax, annotations in plain words, references explained.

Hover texts and completion details come from here; nothing in this module
knows about the protocol.
"""

from __future__ import annotations

import math
import os
from typing import Any, Dict, List, Optional, Sequence

import brindle

from . import index as _index

# Annotation names with what they do, in the order completion offers them.
ANNOTATIONS: Dict[str, str] = {
    "required": "the value must not be empty or null",
    "type": "the value must have this type",
    "min": "smallest allowed number",
    "max": "largest allowed number",
    "minlen": "shortest allowed string (in characters) or list",
    "maxlen": "longest allowed string (in characters) or list",
    "pattern": "the whole string must match this regular expression",
    "enum": "the string must be one of these",
    "positive": "the number must be greater than 0",
    "nonzero": "the number must not be 0",
    "nonempty": "the value must not be empty or null",
    "deprecated": "the key is deprecated; `brindle check` warns where it is set",
    "internal": "marks the key as internal",
    "readonly": "marks the key as read-only",
    "experimental": "marks the key as experimental",
    "tag": "attaches a key=value tag",
}

TYPES: Dict[str, str] = {
    "string": "a string",
    "int": "an integer",
    "float": "a number (integers are accepted)",
    "bool": "true or false",
    "dict": "an inline dict or block",
    "list": "a list",
    "list[string]": "a list of strings",
    "list[int]": "a list of integers",
    "list[float]": "a list of numbers",
    "list[bool]": "a list of booleans",
    "url": "a string starting with http:// or https://",
    "email": "an email address",
    "path": "a file system path (any string)",
    "duration": "digits and one unit: 30s, 5m, 12h, 7d",
}

_TYPE_WORDS = {"int": "integer", "float": "number", "bool": "boolean", "url": "URL", "email": "email address",
               "list[string]": "list of strings", "list[int]": "list of integers", "list[float]": "list of numbers",
               "list[bool]": "list of booleans"}

BUILTINS: Dict[str, str] = {
    "NOW": "the current time in UTC (RFC 3339)",
    "TODAY": "the current date in UTC",
    "PID": "the id of the process that parses the file",
    "CWD": "the current working directory",
    "PLATFORM": "the name of the operating system",
    "HOSTNAME": "the host name",
    "TRUE": "true",
    "FALSE": "false",
    "NULL": "null",
}


def render(value: Any) -> str:
    """A value written in brindle syntax, on one line."""
    if value is None:
        return "null"
    if value is True or value is False:
        return "true" if value else "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if math.isnan(value):
            return "NaN"
        if math.isinf(value):
            return "inf" if value > 0 else "-inf"
        return repr(value)
    if isinstance(value, str):
        escaped = value.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n").replace("\t", "\\t")
        return '"' + escaped.replace("\r", "\\r") + '"'
    if isinstance(value, list):
        return "[" + ", ".join(render(item) for item in value) + "]"
    if isinstance(value, dict):
        if not value:
            return "#{}#"
        return "#{ " + ", ".join(f"{_key(k)} = {render(v)}" for k, v in value.items()) + " }#"
    return repr(value)


def _key(key: str) -> str:
    return key if key and all(ch.isascii() and (ch.isalnum() or ch in "_-") for ch in key) else f'"{key}"'


def _number(value: Any) -> str:
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return str(value)


def _bounds(low: Any, high: Any, prefix: str = "") -> Optional[str]:
    low = low if isinstance(low, (int, float)) else None
    high = high if isinstance(high, (int, float)) else None
    if low is not None and high is not None:
        return f"{prefix}{_number(low)}–{_number(high)}"
    if low is not None:
        return f"{prefix}≥ {_number(low)}"
    if high is not None:
        return f"{prefix}≤ {_number(high)}"
    return None


def annotation_words(annotations: Sequence[Any]) -> str:
    """What a key's annotations ask for, e.g. "required · integer 1–65535"."""
    rules: Dict[str, Any] = {}
    order: List[str] = []
    for annotation in annotations:
        if annotation.name not in rules:
            order.append(annotation.name)
        rules[annotation.name] = annotation.arg  # the last one wins, as in validation
    words: List[str] = []
    numeric = _bounds(rules.get("min"), rules.get("max"))
    for name in order:
        arg = rules[name]
        if name in ("required", "internal", "readonly", "experimental"):
            words.append(name)
        elif name == "type":
            # A list argument is written by mistake now and then; it names no type.
            known = isinstance(arg, str) and arg in TYPES
            word = _TYPE_WORDS.get(arg, arg) if known else f"type {arg} (not checked)"
            if numeric and arg in ("int", "float"):
                word, numeric = f"{word} {numeric}", None
            words.append(word)
        elif name in ("min", "max"):
            if numeric:
                words.append(numeric)
                numeric = None
        elif name in ("minlen", "maxlen"):
            if "minlen" in rules and "maxlen" in rules and name == "maxlen":
                continue
            text = _bounds(rules.get("minlen"), rules.get("maxlen"), "length ")
            if text:
                words.append(text)
        elif name == "pattern":
            words.append(f"matches `{arg}`")
        elif name == "enum":
            words.append("one of " + ", ".join(arg) if isinstance(arg, list) else f"enum {arg} (needs a [list])")
        elif name == "positive":
            words.append("> 0")
        elif name == "nonzero":
            words.append("≠ 0")
        elif name == "nonempty":
            words.append("not empty")
        elif name == "deprecated":
            words.append(f"deprecated: {arg}" if isinstance(arg, str) else "deprecated")
        elif name == "tag":
            words.append(f"tag {arg}")
        else:
            words.append(f"@{name} (unknown annotation)")
    return " · ".join(words)


def builtin_value(name: str) -> Any:
    return brindle.parse(f"v = ${name}\n")["v"]


def vars_text(ix: _index.Index) -> str:
    """The [vars] sections of the document, for evaluating pieces of a value on their own."""
    parts = [ix.text[line.start : line.end] for line in ix.lines if line.in_vars]
    return "\n".join(parts)


_OPENERS = ("ArrayOpen", "DictOpen")
_CLOSERS = ("ArrayClose", "DictClose")


def fallback_sides(ix: _index.Index, line: _index.Line) -> List[tuple]:
    """The (start, end) of each side of the top-level `??` operators of a key line's value."""
    start, end = line.value_span
    sides = []
    depth = 0
    side_start = start
    for kind, a, b in line.tokens:
        if a < start or b > end:
            continue
        if kind in _OPENERS:
            depth += 1
        elif kind in _CLOSERS:
            depth -= 1
        elif kind == "Fallback" and depth == 0:
            sides.append((side_start, a))
            side_start = b
    sides.append((side_start, end))
    return sides


def _side_text(ix: _index.Index, line: _index.Line, side: tuple) -> str:
    """The source of one side of a `??`, its comments and line breaks made blanks."""
    text = list(ix.text[side[0] : side[1]])
    for kind, a, b in line.tokens:
        if kind == "Comment" and side[0] <= a < side[1]:
            text[a - side[0] : b - side[0]] = " " * (min(b, side[1]) - a)
    return "".join(text).replace("\r", " ").replace("\n", " ").strip()


def fallback_note(ix: _index.Index, ref: _index.Ref) -> Optional[str]:
    """Which side of a `??` chain gave the value, seen from the side that holds `ref`."""
    sides = fallback_sides(ix, ref.line)
    if len(sides) < 2:
        return None
    mine = next((i for i, (a, b) in enumerate(sides) if a <= ref.span[0] < b), None)
    if mine is None:
        return None
    prefix = vars_text(ix)
    used = None
    for number, side in enumerate(sides):
        try:
            value = brindle.parse(f"__probe__ = {_side_text(ix, ref.line, side)}\n{prefix}\n")["__probe__"]
        except (brindle.BrindleError, KeyError):  # KeyError: a blank side leaves no key line
            return f"`??` branch {mine + 1} of {len(sides)}; branch {number + 1} does not evaluate"
        if value is not None or number == len(sides) - 1:
            used = number
            break
    assert used is not None
    if used == mine:
        return f"`??` branch {mine + 1} of {len(sides)}: **used**"
    if used < mine:
        return f"`??` branch {mine + 1} of {len(sides)}: not used, branch {used + 1} gave a value"
    return f"`??` branch {mine + 1} of {len(sides)}: null, so branch {used + 1} was used"


def describe_ref(ix: _index.Index, ref: _index.Ref, variables: Optional[Dict[str, Any]]) -> str:
    """What a `$` reference gives and where that comes from; `variables` are the document's, if known."""
    lines = []
    if ref.kind == _index.REF_ENV:
        try:
            value = os.environ.get(ref.name)
        except UnicodeEncodeError:  # a name no environment can hold (a lone surrogate)
            value = None
        if value is None:
            lines.append(f"`$ENV.{ref.name}`: environment variable `{ref.name}` is **not set**, so it gives `null`")
        else:
            lines.append(f"`$ENV.{ref.name}`: environment variable `{ref.name}` is set: `{render(value)}`")
    elif ref.kind == _index.REF_BUILTIN:
        lines.append(f"`${ref.name}`: built-in, {BUILTINS[ref.name]}: `{render(builtin_value(ref.name))}`")
    else:
        definition = ix.definition(ref)
        if definition is None:
            lines.append(f"`${ref.name}`: **undefined variable**")
        else:
            where = f"document variable from `[vars]`, line {definition.first_line + 1}"
            shown = f": `{render(variables[ref.name])}`" if variables is not None and ref.name in variables else ""
            lines.append(f"`${ref.name}`{shown}, {where}")
    note = fallback_note(ix, ref)
    if note:
        lines.append(note)
    return "\n\n".join(lines)


def describe_entry(ix: _index.Index, entry: _index.Entry, doc: Optional[Any], error: Optional[str]) -> str:
    title = f"**[{entry.path}]**" if entry.kind == "section" else f"**{entry.path}**"
    if entry.kind == "var":
        title = f"**${entry.name}** (variable)"
    lines = [title]
    if doc is None:
        lines.append(f"not evaluated: {error}" if error else "not evaluated")
    elif entry.kind == "var":
        if entry.name in doc.vars:
            lines[0] += f" = `{render(doc.vars[entry.name])}`"
    elif entry.kind != "section":
        missing = object()
        value = doc.resolve(entry.path, missing)
        if value is not missing:
            lines[0] += f" = `{render(value)}`"
    if doc is not None and entry.kind != "var":
        words = annotation_words(doc.annotations(entry.path))
    else:
        words = " · ".join(ix.annotation_text(line) for line in entry.annotations)
    if words:
        lines.append(words)
    return "\n\n".join(lines)


def describe_annotation(name: str) -> str:
    what = ANNOTATIONS.get(name)
    return f"`@{name}`: {what}" if what else f"`@{name}`: not an annotation brindle knows; it is kept but checks nothing"
