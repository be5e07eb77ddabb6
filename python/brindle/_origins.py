"""Where a value of a parsed document came from: its position in the file,
and whether its text was read from an environment variable.

Positions are (line, column, end line, end column), from 1, columns in
characters, end exclusive. A key path here is a tuple of segments: section
and key names (str) and list indices (int).
"""

from __future__ import annotations

import bisect
import os
from typing import Mapping, Optional, Sequence, Union

from ._native import BrindleDocument

__all__ = ["Origins", "Position", "Segment"]

Position = tuple[int, int, int, int]
Segment = Union[str, int]

# Kinds of the `$` references a document records.
_DOCUMENT_VARIABLE = 0
_ENVIRONMENT = 2
# Variables may copy each other; the walk from a key to the environment
# references behind it stops after this many hops.
_MAX_HOPS = 64


class Origins:
    """Positions and environment origins of one document's values."""

    def __init__(self, doc: BrindleDocument, env: Optional[Mapping[str, str]] = None) -> None:
        values, keys, var_values, refs = doc._positions()
        self._values: dict[str, Position] = values
        self._keys: dict[str, Position] = keys
        self._var_values: dict[str, Position] = var_values
        ordered = sorted(refs, key=lambda ref: ref[2])
        self._ref_starts = [ref[2][:2] for ref in ordered]
        self._refs: list[tuple[int, str, Position]] = ordered
        # The environment the document was parsed against: the mapping given
        # to parse, or the process environment as it is now.
        self._env: Mapping[str, str] = os.environ if env is None else env

    def value_position(self, path: Sequence[Segment]) -> Optional[Position]:
        """Position of the value at `path`, or of the nearest enclosing one that has one."""
        return self._nearest(self._values, path) or self._nearest(self._keys, path)

    def key_position(self, path: Sequence[Segment]) -> Optional[Position]:
        """Position of the key (or section name) at `path`, or of the nearest enclosing one."""
        return self._nearest(self._keys, path) or self._nearest(self._values, path)

    def environment_source(self, path: Sequence[Segment], text: str) -> Optional[tuple[str, Position]]:
        """(name, position of the `$ENV.name` reference) when the string `text`
        at `path` is the value of an environment variable its expression
        reads, directly or through document variables; else None."""
        span = self._nearest(self._values, path)
        if span is None:
            return None
        pending = [span]
        seen: set[str] = set()
        hops = 0
        while pending and hops < _MAX_HOPS:
            hops += 1
            for kind, name, at in self._refs_within(pending.pop()):
                if kind == _ENVIRONMENT and self._env.get(name) == text:
                    return name, at
                if kind == _DOCUMENT_VARIABLE and name not in seen and name in self._var_values:
                    seen.add(name)
                    pending.append(self._var_values[name])
        return None

    def _refs_within(self, span: Position) -> list[tuple[int, str, Position]]:
        first = bisect.bisect_left(self._ref_starts, span[:2])
        last = bisect.bisect_right(self._ref_starts, span[2:])
        return [ref for ref in self._refs[first:last] if ref[2][2:] <= span[2:]]

    @staticmethod
    def _nearest(table: dict[str, Position], path: Sequence[Segment]) -> Optional[Position]:
        # Key paths of the document join names with points; list items and
        # the entries of inline dicts have no position of their own.
        names: list[str] = []
        for segment in path:
            if isinstance(segment, int):
                break
            names.append(segment)
        while names:
            found = table.get(".".join(names))
            if found is not None:
                return found
            names.pop()
        return None
