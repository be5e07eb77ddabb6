"""`brindle.check`: every problem of a source (or the validation findings of a
parsed document) as a list of `Finding`, in the order of the file.

The work is done by the core's diagnostics engine; this module only picks the
entry point and passes the names set in the environment, which the engine
uses to suggest a name for a misspelt `$ENV.` reference.
"""

from __future__ import annotations

import os
from typing import Mapping, NamedTuple, Optional, Union

from . import _native
from ._findings import Finding, Severity

__all__ = ["check", "codes", "CodeInfo"]


class CodeInfo(NamedTuple):
    """One entry of the catalogue of finding codes."""

    code: str
    severity: Severity
    name: str
    summary: str
    example: str


def check(
    source: Union[str, _native.BrindleDocument],
    *,
    filename: Optional[str] = None,
    strict: bool = False,
    env: Optional[Mapping[str, str]] = None,
) -> list[Finding]:
    """Findings of `source`: parse errors, validation findings and lints.

    For a parsed `BrindleDocument`, the validation findings of that document
    (it parsed, so it has no parse errors; lints need the text, so pass the
    text for those). With `strict`, warnings are reported as errors. `env`
    replaces the process environment for `$ENV.` references, as in `parse`.
    """
    if isinstance(source, _native.BrindleDocument):
        return _native._check_document(source, strict, filename)
    if not isinstance(source, str):
        raise TypeError(f"check() expects a str or a BrindleDocument, not {type(source).__name__}")
    if env is None:
        return _native._check(source, strict, list(os.environ), filename)
    return _native._check(source, strict, list(env), filename, env)


def codes() -> list[CodeInfo]:
    """Every finding code with its default severity, name, summary and example."""
    return [
        CodeInfo(code, severity, name, summary, example.decode("utf-8", "replace"))  # type: ignore[arg-type]
        for code, severity, name, summary, example in _native._codes()
    ]
