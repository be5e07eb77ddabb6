"""brindle: a configuration language for Python programs."""

from brindle._native import (
    Annotation,
    BrindleDocument,
    BrindleError,
    ParseError,
    ValidationError,
    VariableError,
    __version__,
    dumps,
    parse,
    validate,
    validate_all,
)

__all__ = [
    "BrindleDocument",
    "Annotation",
    "parse",
    "validate",
    "validate_all",
    "dumps",
    "BrindleError",
    "ParseError",
    "ValidationError",
    "VariableError",
    "__version__",
]

from brindle._io import dump, load
from brindle._check import check
from brindle._findings import Finding, Related

__all__ += ["load", "dump", "check", "Finding", "Related"]
