"""Where a value of a parsed document came from: its place in the file, and
whether its text was read from an environment variable.

Places are byte offsets into the source until they are shown; `locate`
turns a batch of them into (line, column), from 1, columns in characters.
A key path here is a tuple of segments: section and key names (str) and
list indices (int).
"""

from __future__ import annotations

import bisect
import os
from typing import Iterable, Mapping, Optional, Sequence, Union

from ._native import BrindleDocument

__all__ = ["Origins", "Segment"]

Segment = Union[str, int]

# The document's position tables, as `_span` numbers them.
_VALUES, _KEYS, _VARIABLE_VALUES = 0, 1, 2
# Kinds of the `$` references a document records.
_DOCUMENT_VARIABLE, _ENVIRONMENT = 0, 2
# Variables may copy each other; the walk from a key to the environment
# references behind it stops after this many hops.
_MAX_HOPS = 64


class Origins:
    """Places and environment origins of one document's values."""

    def __init__(self, doc: BrindleDocument, env: Optional[Mapping[str, str]] = None) -> None:
        self._doc = doc
        self._refs: Optional[list[tuple[int, str, int, int]]] = None
        self._ref_starts: list[int] = []
        # The environment the document was parsed against: the mapping given
        # to parse, or the process environment as it is now.
        self._env: Mapping[str, str] = os.environ if env is None else env

    def value_offset(self, path: Sequence[Segment]) -> Optional[int]:
        """Where the value at `path` starts, or the nearest enclosing one that has a place."""
        span = self._nearest(_VALUES, path) or self._nearest(_KEYS, path)
        return span[0] if span else None

    def key_offset(self, path: Sequence[Segment]) -> Optional[int]:
        """Where the key (or section name) at `path` starts, or the nearest enclosing one."""
        span = self._nearest(_KEYS, path) or self._nearest(_VALUES, path)
        return span[0] if span else None

    def locate(self, offsets: Iterable[int]) -> list[tuple[int, int]]:
        return self._doc._locate(offsets)

    def environment_source(self, path: Sequence[Segment], text: str) -> Optional[tuple[str, int]]:
        """(name, offset of the `$ENV.name` reference) when the string `text`
        at `path` is the value of an environment variable its expression
        reads, directly or through document variables; else None."""
        span = self._nearest(_VALUES, path)
        if span is None:
            return None
        pending = [span]
        seen: set[str] = set()
        hops = 0
        while pending and hops < _MAX_HOPS:
            hops += 1
            for kind, name, start, _ in self._refs_within(pending.pop()):
                if kind == _ENVIRONMENT and self._env.get(name) == text:
                    return name, start
                if kind == _DOCUMENT_VARIABLE and name not in seen:
                    seen.add(name)
                    found = self._doc._span(_VARIABLE_VALUES, name)
                    if found is not None:
                        pending.append(found)
        return None

    def _refs_within(self, span: tuple[int, int]) -> list[tuple[int, str, int, int]]:
        if self._refs is None:
            self._refs = sorted(self._doc._references(), key=lambda ref: ref[2])
            self._ref_starts = [ref[2] for ref in self._refs]
        first = bisect.bisect_left(self._ref_starts, span[0])
        last = bisect.bisect_left(self._ref_starts, span[1])
        return [ref for ref in self._refs[first:last] if ref[3] <= span[1]]

    def _nearest(self, table: int, path: Sequence[Segment]) -> Optional[tuple[int, int]]:
        # Looked up by names, not a dotted string, as a quoted name may hold a
        # point; list items and the entries of inline dicts have no place of
        # their own.
        names: list[str] = []
        for segment in path:
            if isinstance(segment, int):
                break
            names.append(segment)
        while names:
            found = self._doc._span(table, tuple(names))
            if found is not None:
                return found
            names.pop()
        return None
