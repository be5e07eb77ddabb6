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

__all__ += ["load", "dump"]

# Layout and editing; not in __all__, like load and dump's helpers.
from brindle._edit import Editor, edit
from brindle._format import format  # noqa: A004 - shadows the builtin on purpose
