"""Findings: one problem in a brindle file, as data.

The core's diagnostics engine produces them; `brindle check`, the Python API
and the language server all hand out this one type. Lines and columns count
from 1, columns in characters (code points), as Python's own exceptions do;
the end position is exclusive.
"""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Literal, Optional

__all__ = ["Finding", "Related", "Severity"]

Severity = Literal["error", "warning", "info"]


@dataclass(frozen=True)
class Related:
    """Another place that explains a finding, such as the annotation that set a rule."""

    message: str
    line: int
    column: int
    end_line: int
    end_column: int
    filename: Optional[str] = None


@dataclass(frozen=True)
class Finding:
    """A problem at one place in a file, with a stable code such as ``B101``."""

    code: str
    severity: Severity
    message: str
    line: int
    column: int
    end_line: int
    end_column: int
    filename: Optional[str] = None
    path: Optional[str] = None  # dotted key path, where the finding is about a key
    related: tuple[Related, ...] = field(default_factory=tuple)
    suggestion: Optional[str] = None
