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

from brindle._io import dump, load, loads
from brindle._check import check
from brindle._findings import Finding, Related
from brindle._schema import json_schema
from brindle._typed import ConversionError, FieldError
from brindle._types import Config, Value

__all__ += ["load", "dump", "check", "Finding", "Related"]
__all__ += ["loads", "json_schema", "ConversionError", "FieldError", "Value", "Config"]
__all__ += ["format", "edit", "Editor"]

from brindle._edit import Editor, edit
from brindle._format import format  # noqa: A004 - shadows the builtin on purpose
