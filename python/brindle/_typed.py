"""Typed loading: a parsed document converted into an application's own
settings classes (dataclasses, and pydantic models when pydantic is there).

Conversion is strict: a value must already have the field's type, with the
few widenings Python itself makes (an int where a float is wanted, a str
for a `Path`, a duration string for a `timedelta`). The one exception is
text read from the environment: a string that is the value of a `$ENV.`
reference converts to int, float or bool when the field asks for one, since
the environment has nothing but strings. Every problem is collected, with
its key path and position, and all of them are raised together.
"""

from __future__ import annotations

import collections.abc
import dataclasses
import datetime
import enum
import functools
import json
import pathlib
import re
import sys
import types
import typing
from typing import Any, Callable, Literal, Optional, Sequence, Union

from . import _types
from ._native import BrindleDocument, BrindleError
from ._origins import Origins, Segment

__all__ = ["ConversionError", "FieldError", "convert"]

_NONE_TYPE = type(None)
# The duration form `@type: duration` accepts: digits and one unit letter.
_DURATION = re.compile(r"([0-9]+)([dhms])")
_DURATION_UNITS = {"d": "days", "h": "hours", "m": "minutes", "s": "seconds"}
_ENV_INT = re.compile(r"[+-]?[0-9]+")
_ENV_FLOAT = re.compile(r"[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?")
_ENV_BOOL = {"true": True, "yes": True, "1": True, "false": False, "no": False, "0": False}
_SEQUENCES = (list, collections.abc.Sequence, collections.abc.MutableSequence, collections.abc.Iterable)
_SETS = (set, frozenset, collections.abc.Set, collections.abc.MutableSet)
_MAPPINGS = (dict, collections.abc.Mapping, collections.abc.MutableMapping)


@dataclasses.dataclass(frozen=True)
class FieldError:
    """One value that does not fit its field."""

    path: str  # dotted key path with list indices: servers[0].port
    message: str
    filename: Optional[str] = None
    line: Optional[int] = None
    column: Optional[int] = None
    env: Optional[str] = None  # the environment variable the value came from

    def __str__(self) -> str:
        where = self.filename or "<string>"
        if self.line is not None:
            where += f":{self.line}:{self.column}"
        text = f"{where}: {self.path or '(document)'}: {self.message}"
        return text + (f" (from $ENV.{self.env})" if self.env else "")


class ConversionError(BrindleError):
    """The document does not fit the settings class; `errors` lists every problem."""

    errors: list[FieldError]

    def __init__(self, message: str, errors: Sequence[FieldError] = ()) -> None:
        super().__init__(message)
        self.errors = list(errors)


class _Failed:
    """Result of a conversion that recorded an error."""


@dataclasses.dataclass(frozen=True)
class _Problem:
    """An error as recorded: placed by byte offset until the end."""

    path: str
    message: str
    offset: Optional[int]
    env: Optional[str]


_FAIL = _Failed()


def convert(doc: BrindleDocument, into: Any, *, env: Any = None, filename: Optional[str] = None) -> Any:
    """`doc.config` as an instance of `into`; raises ConversionError listing every problem."""
    origins = Origins(doc, env)
    converter = _Converter(origins)
    result = converter.convert(doc.config, into, ())
    if converter.errors:
        # Positions are worked out once, for all errors together, which are
        # reported in the order of the file whatever order the keys were visited in.
        problems = sorted(converter.errors, key=lambda error: -1 if error.offset is None else error.offset)
        places = iter(origins.locate(error.offset for error in problems if error.offset is not None))
        errors = []
        for error in problems:
            line, column = next(places) if error.offset is not None else (None, None)
            errors.append(FieldError(error.path, error.message, filename, line, column, error.env))
        raise ConversionError("\n".join(str(error) for error in errors), errors)
    return result


def describe(value: Any) -> str:
    """A value as brindle writes it, shortened: "abc", 5, true, null, a list."""
    if isinstance(value, str):
        text = json.dumps(value, ensure_ascii=False)
        return text if len(text) <= 40 else text[:36] + '..."'
    if isinstance(value, bool):
        return "true" if value else "false"
    if value is None:
        return "null"
    if isinstance(value, (int, float)):
        return repr(value)
    if isinstance(value, list):
        return "a list"
    return "a section" if isinstance(value, dict) else type(value).__name__


def type_name(tp: Any) -> str:
    if tp is _NONE_TYPE:
        return "null"
    if isinstance(tp, type) and not typing.get_args(tp):
        return tp.__name__
    return str(tp).replace("typing.", "")


def show_path(path: Sequence[Segment]) -> str:
    text = ""
    for segment in path:
        if isinstance(segment, int):
            text += f"[{segment}]"
        else:
            text += ("." if text else "") + segment
    return text


@functools.lru_cache(maxsize=512)
def _field_types(cls: type) -> dict[str, Any]:
    return typing.get_type_hints(cls, include_extras=True)


def _pydantic_model(tp: Any) -> bool:
    pydantic = sys.modules.get("pydantic")
    base = getattr(pydantic, "BaseModel", None)
    return base is not None and isinstance(tp, type) and issubclass(tp, base)


class _Converter:
    def __init__(self, origins: Origins) -> None:
        self.origins = origins
        self.errors: list[_Problem] = []

    # -- recording ---------------------------------------------------------

    def fail(self, path: Sequence[Segment], message: str, *, at_key: bool = False, env: Any = None) -> _Failed:
        offset: Optional[int]
        if env is not None:
            name, offset = env
        else:
            name = None
            offset = self.origins.key_offset(path) if at_key else self.origins.value_offset(path)
        self.errors.append(_Problem(show_path(path), message, offset, name))
        return _FAIL

    def mismatch(self, value: Any, expected: str, path: Sequence[Segment]) -> _Failed:
        return self.fail(path, f"expected {expected}, got {describe(value)}", env=self.env_of(value, path))

    def env_of(self, value: Any, path: Sequence[Segment]) -> Optional[tuple[str, int]]:
        return self.origins.environment_source(path, value) if isinstance(value, str) else None

    def attempt(self, value: Any, tp: Any, path: tuple[Segment, ...]) -> tuple[Any, list[_Problem]]:
        """Converts without recording: (result, the errors it would have recorded)."""
        saved, self.errors = self.errors, []
        try:
            result = self.convert(value, tp, path)
            return result, self.errors
        finally:
            self.errors = saved

    # -- dispatch ----------------------------------------------------------

    def convert(self, value: Any, tp: Any, path: tuple[Segment, ...]) -> Any:
        if tp is Any or tp is object or _is_value_alias(tp):
            return value
        origin = typing.get_origin(tp)
        args = typing.get_args(tp)
        if origin is typing.Annotated:
            return self.convert(value, args[0], path)
        if origin is Union or (sys.version_info >= (3, 10) and origin is types.UnionType):
            return self.union(value, args, path)
        if origin is Literal:
            return self.literal(value, args, path)
        if origin is not None:
            return self.generic(value, origin, args, tp, path)
        if tp in (list, tuple, set, frozenset, dict):
            return self.generic(value, tp, (), tp, path)
        if tp is _NONE_TYPE or tp is None:
            return None if value is None else self.mismatch(value, "null", path)
        if tp in (bool, int, float):
            return self.number(value, tp, path)
        if tp is str:
            return value if isinstance(value, str) else self.mismatch(value, "str", path)
        if isinstance(tp, type):
            return self.special(value, tp, path)
        raise TypeError(f"brindle cannot load into {tp!r}")

    def generic(self, value: Any, origin: Any, args: tuple[Any, ...], tp: Any, path: tuple[Segment, ...]) -> Any:
        if origin is tuple:
            return self.sequence_tuple(value, args, path)
        if origin in _SEQUENCES or origin in _SETS:
            if not isinstance(value, list):
                return self.mismatch(value, "a list", path)
            item = args[0] if args else Any
            items = [self.convert(element, item, (*path, index)) for index, element in enumerate(value)]
            if any(element is _FAIL for element in items):
                return _FAIL
            if origin in _SETS:
                try:
                    return frozenset(items) if origin is frozenset else set(items)
                except TypeError:
                    return self.fail(path, f"items of {type_name(item)} cannot form a set")
            return items
        if origin in _MAPPINGS:
            key_type, item = args if args else (str, Any)
            if key_type not in (str, Any):
                raise TypeError(f"brindle cannot load into {tp!r}: keys are always str")
            if not isinstance(value, dict):
                return self.mismatch(value, "a section or dict", path)
            entries = {key: self.convert(element, item, (*path, key)) for key, element in value.items()}
            return _FAIL if any(element is _FAIL for element in entries.values()) else entries
        raise TypeError(f"brindle cannot load into {tp!r}")

    def sequence_tuple(self, value: Any, args: tuple[Any, ...], path: tuple[Segment, ...]) -> Any:
        if not isinstance(value, list):
            return self.mismatch(value, "a list", path)
        if len(args) == 2 and args[1] is Ellipsis:
            kinds = [args[0]] * len(value)
        elif not args:
            kinds = [Any] * len(value)
        elif args == ((),):
            kinds = []
        else:
            kinds = list(args)
        if len(kinds) != len(value):
            return self.fail(path, f"expected a list of {len(kinds)} items, got {len(value)}")
        items = [self.convert(element, kind, (*path, index)) for index, (element, kind) in enumerate(zip(value, kinds))]
        return _FAIL if any(element is _FAIL for element in items) else tuple(items)

    def union(self, value: Any, args: tuple[Any, ...], path: tuple[Segment, ...]) -> Any:
        if value is None and _NONE_TYPE in args:
            return None
        members = [member for member in args if member is not _NONE_TYPE]
        if len(members) == 1:
            return self.convert(value, members[0], path)
        for member in members:
            result, errors = self.attempt(value, member, path)
            if not errors:
                return result
        return self.mismatch(value, " | ".join(type_name(member) for member in args), path)

    def literal(self, value: Any, options: tuple[Any, ...], path: tuple[Segment, ...]) -> Any:
        for option in options:
            if type(option) is type(value) and option == value:
                return option
        env = self.env_of(value, path)
        if env is not None:
            for option in options:
                if isinstance(option, (bool, int, float)) and _from_env(value, type(option)) == (True, option):
                    return option
        allowed = ", ".join(describe(option) for option in options)
        return self.fail(path, f"expected one of {allowed}, got {describe(value)}", env=env)

    # -- scalars -------------------------------------------------------------

    def number(self, value: Any, tp: type, path: tuple[Segment, ...]) -> Any:
        if tp is bool and isinstance(value, bool):
            return value
        if tp is int and isinstance(value, int) and not isinstance(value, bool):
            return value
        if tp is float and isinstance(value, (int, float)) and not isinstance(value, bool):
            return float(value)
        env = self.env_of(value, path)
        if env is not None:
            ok, result = _from_env(value, tp)
            if ok:
                return result
        return self.fail(path, f"expected {tp.__name__}, got {describe(value)}", env=env)

    def special(self, value: Any, tp: type, path: tuple[Segment, ...]) -> Any:
        if issubclass(tp, enum.Enum):
            return self.enum(value, tp, path)
        if tp is datetime.timedelta:
            return self.duration(value, path)
        if issubclass(tp, pathlib.PurePath):
            return tp(value) if isinstance(value, str) else self.mismatch(value, "a path string", path)
        if dataclasses.is_dataclass(tp):
            return self.structure(value, tp, path, _dataclass_fields(tp), _construct)
        if _pydantic_model(tp):
            return self.structure(value, tp, path, _pydantic_fields(tp), self.pydantic_construct)
        raise TypeError(f"brindle cannot load into {tp!r}")

    def enum(self, value: Any, tp: type[enum.Enum], path: tuple[Segment, ...]) -> Any:
        members = list(tp)
        for member in members:
            if type(member.value) is type(value) and member.value == value:
                return member
        if isinstance(value, str) and value in tp.__members__:
            return tp.__members__[value]
        env = self.env_of(value, path)
        if env is not None:
            for member in members:
                kind = type(member.value)
                if kind in (bool, int, float) and _from_env(value, kind) == (True, member.value):
                    return member
        allowed = ", ".join(describe(member.value) for member in members)
        return self.fail(path, f"expected one of {allowed} ({tp.__name__}), got {describe(value)}", env=env)

    def duration(self, value: Any, path: tuple[Segment, ...]) -> Any:
        match = _DURATION.fullmatch(value) if isinstance(value, str) else None
        if match is None:
            return self.mismatch(value, 'a duration such as "30s", "5m", "12h" or "7d"', path)
        try:
            return datetime.timedelta(**{_DURATION_UNITS[match.group(2)]: int(match.group(1))})
        except OverflowError:
            return self.fail(path, f"duration {describe(value)} is too long")

    # -- classes -------------------------------------------------------------

    def structure(
        self,
        value: Any,
        tp: type,
        path: tuple[Segment, ...],
        spec: tuple[dict[str, tuple[str, Any, bool]], Optional[str]],
        construct: Callable[[type, dict[str, Any], tuple[Segment, ...]], Any],
    ) -> Any:
        fields, extra = spec
        if not isinstance(value, dict):
            return self.mismatch(value, f"a section for {tp.__name__}", path)
        arguments: dict[str, Any] = {}
        failed = False
        for key, item in value.items():
            if key not in fields:
                if extra == "allow":
                    arguments[key] = item
                elif extra != "ignore":
                    self.fail((*path, key), f"unknown key (not a field of {tp.__name__})", at_key=True)
                    failed = True
                continue
            name, field_type, _ = fields[key]
            converted = self.convert(item, field_type, (*path, key))
            failed = failed or converted is _FAIL
            arguments[name] = converted
        for key, (_, _, required) in fields.items():
            if required and key not in value:
                self.fail(path, f"missing key `{key}` (required by {tp.__name__})", at_key=True)
                failed = True
        if failed:
            return _FAIL
        try:
            return construct(tp, arguments, path)
        except (TypeError, ValueError) as error:
            # A check of the class's own (__post_init__ and the like).
            return self.fail(path, f"{tp.__name__}: {error}")

    def pydantic_construct(self, tp: type, arguments: dict[str, Any], path: tuple[Segment, ...]) -> Any:
        # The values already have their fields' types; pydantic adds the
        # model's own constraints and validators.
        pydantic = sys.modules["pydantic"]
        try:
            return tp.model_validate(arguments)  # type: ignore[attr-defined]
        except pydantic.ValidationError as error:
            aliases = {name: key for key, (name, _, _) in _pydantic_fields(tp)[0].items()}
            for problem in error.errors():
                location = tuple(problem.get("loc", ()))
                if location and location[0] in aliases:
                    location = (aliases[location[0]], *location[1:])
                self.fail((*path, *location), problem.get("msg", "invalid value"))
            return _FAIL


def _is_value_alias(tp: Any) -> bool:
    # `brindle.Value` refers to itself; every document value is one.
    return isinstance(tp, typing.ForwardRef) and getattr(tp, "__forward_module__", None) == _types.__name__


def _from_env(text: str, tp: type) -> tuple[bool, Any]:
    """(True, value) when environment text reads as `tp`; (False, None) otherwise."""
    if tp is bool:
        word = _ENV_BOOL.get(text.strip().lower())
        return (word is not None, word)
    # Converted as matched: str.strip() drops more kinds of space (such as
    # U+001F) than int() and float() skip.
    stripped = text.strip()
    if tp is int and _ENV_INT.fullmatch(stripped):
        return True, int(stripped)
    if tp is float and _ENV_FLOAT.fullmatch(stripped):
        return True, float(stripped)
    return False, None


def _construct(tp: type, arguments: dict[str, Any], path: tuple[Segment, ...]) -> Any:
    return tp(**arguments)


def _dataclass_fields(tp: type) -> tuple[dict[str, tuple[str, Any, bool]], Optional[str]]:
    hints = _field_types(tp)
    fields: dict[str, tuple[str, Any, bool]] = {}
    for field in dataclasses.fields(tp):
        if not field.init:
            continue
        required = field.default is dataclasses.MISSING and field.default_factory is dataclasses.MISSING
        fields[field.name] = (field.name, hints.get(field.name, Any), required)
    return fields, None


def _pydantic_fields(tp: Any) -> tuple[dict[str, tuple[str, Any, bool]], Optional[str]]:
    fields: dict[str, tuple[str, Any, bool]] = {}
    for name, info in tp.model_fields.items():
        key = info.alias or name
        fields[key] = (key, info.annotation, info.is_required())
    return fields, tp.model_config.get("extra")
