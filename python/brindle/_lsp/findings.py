"""The findings of one document, as the editor shows them.

`brindle.check` is the one source of findings: parse errors, validation
findings and lints, with codes, severities and related places, positioned
by the core.
"""

from __future__ import annotations

from typing import List, Optional

import brindle
from brindle._findings import Finding


def findings(text: str, filename: Optional[str]) -> List[Finding]:
    """All findings of `text`."""
    return list(brindle.check(text, filename=filename))
