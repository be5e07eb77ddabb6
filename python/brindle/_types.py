"""The public names of the value types, for annotations in user code.

`Value` is what every query of a document hands out: strings (dates and
times included), integers, floats, booleans, None, and lists and dicts of
these. `Config` is a whole configuration, as `doc.config` returns it.
"""

from __future__ import annotations

from typing import TYPE_CHECKING, Dict, ForwardRef, List, Union

__all__ = ["Config", "Value"]

if TYPE_CHECKING:
    from ._native import Value
else:
    # The recursive form, spelled with forward references that know their
    # module, so that `typing.get_type_hints` resolves them from anywhere.
    _SELF = ForwardRef("Value", module=__name__)
    Value = Union[str, int, float, bool, None, List[_SELF], Dict[str, _SELF]]

Config = Dict[str, Value]
