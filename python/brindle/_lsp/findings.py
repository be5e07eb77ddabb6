"""The findings of one document, as the editor shows them.

`brindle.check` is the one source of findings: parse errors, validation
findings and lints, with codes, severities and related places, positioned
by the core.
"""

from __future__ import annotations

import re
from typing import List, Optional

import brindle
from brindle._findings import Finding

_LONE_SURROGATE = re.compile("[\ud800-\udfff]")


def findings(text: str, filename: Optional[str]) -> List[Finding]:
    """All findings of `text`."""
    lone = _LONE_SURROGATE.search(text)
    if lone is None:
        return list(brindle.check(text, filename=filename))
    # An editor's buffer can hold a lone surrogate, which no file can: say
    # where the first one is, and check the rest with U+FFFD in the place of
    # each (one character for one, so every position stays where it was).
    at = lone.start()
    line = text.count("\n", 0, at) + 1
    column = at - (text.rfind("\n", 0, at) + 1) + 1
    first = Finding("B100", "error", "not valid UTF-8: a lone surrogate", line, column, line, column + 1, filename)
    return [first, *brindle.check(_LONE_SURROGATE.sub("\ufffd", text), filename=filename)]
