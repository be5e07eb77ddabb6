"""The findings of one document, as the editor shows them.

`brindle.check` is the one source of findings (parse errors, validation
findings and lints, with codes and related places). Builds of brindle
without it fall back to what `parse`, `validate_all` and `deprecated_keys`
report, located through the editor index: the first parse error, each
validation finding at its key with a note at the annotation that set the
rule, and deprecated keys as warnings.
"""

from __future__ import annotations

import re
from typing import Callable, List, Optional

import brindle
from brindle._findings import Finding, Related

from . import index as _index
from .positions import UTF32, LineMap

_PATH = re.compile(r"^\[([^\]]*)\] ")
_RULE = re.compile(r"@(\w+)")


def findings(text: str, filename: Optional[str], index_of: Callable[[], _index.Index]) -> List[Finding]:
    """All findings of `text`; `index_of` gives the document's index, built only when it is needed."""
    check = getattr(brindle, "check", None)
    if check is not None:
        return list(check(text, filename=filename))
    return _fallback(text, filename, index_of)


def _fallback(text: str, filename: Optional[str], index_of: Callable[[], _index.Index]) -> List[Finding]:
    try:
        doc = brindle.parse(text)
    except (brindle.ParseError, brindle.VariableError) as error:
        return [_parse_finding(text, filename, error)]
    errors = brindle.validate_all(doc)
    deprecated = doc.deprecated_keys()
    if not errors and not deprecated:
        return []
    ix = index_of()
    result = []
    lines = LineMap(text, UTF32)
    for problem in errors:
        message = str(problem)
        match = _PATH.match(message)
        entry = ix.by_path.get(match.group(1)) if match else None
        result.append(_at_entry(lines, filename, entry, "validation", "error", message, match.group(1) if match else None))
    for path, _note in deprecated:
        entry = ix.by_path.get(path)
        note = f": {_note}" if _note is not None else ""
        result.append(_at_entry(lines, filename, entry, "deprecated", "warning", f"`{path}` is deprecated{note}", path))
    return result


def _parse_finding(text: str, filename: Optional[str], error: Exception) -> Finding:
    message = re.sub(r" \(line \d+, col \d+\)$", "", str(error))
    line = getattr(error, "lineno", 1)
    column = getattr(error, "colno", 1)  # counted in characters
    line_text = text.split("\n")[line - 1] if line - 1 < text.count("\n") + 1 else ""
    # The error names its position; the range runs to the end of the token there.
    rest = line_text[column - 1 :].rstrip("\r")
    match = re.match(r'"(?:[^"\\]|\\.)*"?|\$[^\s+\-*/,()\[\]{}"#=?]*|[^\s,\]]+', rest)
    length = max(len(match.group(0)) if match else 0, 1)
    code = "variable" if isinstance(error, brindle.VariableError) else "syntax"
    return Finding(code, "error", message, line, column, line, column + length, filename)


def _at_entry(lines: LineMap, filename: Optional[str], entry: Optional[_index.Entry], code: str, severity: str,
              message: str, path: Optional[str]) -> Finding:
    if entry is None:
        return Finding(code, severity, message, 1, 1, 1, 1, filename, path)  # type: ignore[arg-type]
    start_line, start_col = _line_col(lines, entry.name_span[0])
    end_line, end_col = _line_col(lines, entry.name_span[1])
    related = []
    rule = _RULE.search(message)
    if rule is not None:
        for annotation in entry.annotations:
            start, end = annotation.annotation_span
            written = lines.text[start:end]
            if annotation.names and annotation.names[0][0] == rule.group(1):
                a_line, a_col = _line_col(lines, start)
                e_line, e_col = _line_col(lines, end)
                related.append(Related(f"required by {written} here", a_line, a_col, e_line, e_col, filename))
    return Finding(code, severity, message, start_line, start_col, end_line, end_col, filename, path,  # type: ignore[arg-type]
                   tuple(related))


def _line_col(lines: LineMap, offset: int) -> tuple:
    """1-based line and character column of a string offset."""
    line, column = lines.position(offset)
    return line + 1, column + 1
