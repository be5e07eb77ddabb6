"""Fuzzes the brindle module through its Python API with atheris.

Each input is either a document text, run through parse, validate,
validate_all, dumps, config and every document method (with keys and paths
from the document and from the input), or a nested Python value for dumps.
Only the documented exceptions may come out; a document or dict that dumps
writes must read back as the same one. dumps may refuse (ValueError) a
document whose strings hold a double quote that reads back only through a
variable holding `"` when it defines none, and a dict whose names hold a line
feed, or whose inline-dict keys hold a quote or a backslash where no section
can hold them. Left out of the check: Python ints beyond 64 bits (written as
floats, as the language reads such literals), and annotations of entries
that a later line replaced (nothing reads them, no text carries them).

    python fuzz/module_fuzzer.py [libFuzzer flags] [corpus dirs]
"""

from __future__ import annotations

import importlib
import math
import pickle
import sys
from types import ModuleType
from typing import Any

import atheris

brindle: ModuleType  # imported by main(), once the fuzzing engine is loaded


def wide_int(value: Any) -> bool:
    """True when an int beyond 64 bits is inside (written as a float)."""
    if isinstance(value, int) and not isinstance(value, bool):
        return not -(2**63) <= value < 2**63
    if isinstance(value, list):
        return any(map(wide_int, value))
    if isinstance(value, dict):
        return any(map(wide_int, value.values()))
    return False


def odd_key(value: Any) -> bool:
    """True when a dict key inside holds a line feed, a quote or a backslash."""
    if isinstance(value, list):
        return any(map(odd_key, value))
    if isinstance(value, dict):
        return any(any(c in key for c in '\n"\\') or odd_key(child) for key, child in value.items())
    return False


def live_meta(doc: Any) -> dict[str, Any]:
    """meta without the annotations of entries a later line replaced."""
    meta = doc.meta
    return {path: repr(list_) for path, list_ in meta.items() if doc.resolve(path, meta) is not meta}


def same_value(a: Any, b: Any) -> bool:
    """Equal values, NaN equal to NaN and -0.0 told from 0.0."""
    if isinstance(a, float) and isinstance(b, float):
        return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(map(same_value, a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return a.keys() == b.keys() and all(same_value(a[key], b[key]) for key in a)
    return type(a) is type(b) and a == b


def same_exception(a: BaseException, b: BaseException) -> bool:
    return (type(a), a.args, a.__dict__) == (type(b), b.args, b.__dict__)


def exercise_document(doc: Any, probe: str) -> None:
    findings = brindle.validate_all(doc)
    try:
        brindle.validate(doc)
    except brindle.ValidationError as error:
        assert str(error) in {str(finding) for finding in findings}
        assert same_exception(pickle.loads(pickle.dumps(error)), error)
    config, variables, meta = doc.config, doc.vars, doc.meta
    assert doc.keys() == sorted(config) == sorted(doc) and len(doc) == len(config)
    # Compared by repr: NaN is not equal to itself.
    assert repr(doc.items()) == repr([(key, config[key]) for key in doc.keys()])
    assert repr(doc.values()) == repr([value for _, value in doc.items()])
    for key in [*config, probe]:
        assert (key in doc) == (key in config) and repr(doc.get(key, probe)) == repr(config.get(key, probe))
    paths = [*meta, probe, probe.partition(".")[2]]
    for path in paths:
        doc.resolve(path, None)
        annotations = doc.annotations(path)
        assert annotations == meta.get(path, annotations)
        for annotation in annotations:
            assert doc.has_annotation(path, annotation.name)
            repr(annotation), annotation.is_validation, annotation.is_metadata, annotation.is_tag
        doc.has_annotation(path, probe)
        doc.tags(path)
    doc.required_keys(), doc.deprecated_keys(), doc.keys_with_tag(probe), doc.keys_with_tag("env")
    try:
        written = brindle.dumps(doc)
    except ValueError as error:
        assert "double quote" in str(error), error
        return
    back = brindle.parse(written)
    assert same_value(back.config, config) and same_value(back.vars, variables), written
    # The order of meta follows the file, and dumps writes keys sorted.
    assert live_meta(back) == live_meta(doc), written
    assert brindle.dumps(back) == written


def one_text(text: str, probe: str) -> None:
    try:
        doc = brindle.parse(text)
    except (brindle.ParseError, brindle.VariableError) as error:
        assert isinstance(error.lineno, int) and isinstance(error.colno, int) and error.lineno >= 1 <= error.colno
        assert same_exception(pickle.loads(pickle.dumps(error)), error)
        return
    exercise_document(doc, probe)


def nested(fdp: atheris.FuzzedDataProvider, depth: int) -> Any:
    kind = fdp.ConsumeIntInRange(0, 9)
    if kind == 0:
        return fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 12))
    if kind == 1:
        return fdp.ConsumeInt(fdp.ConsumeIntInRange(1, 9))
    if kind == 2:
        return fdp.ConsumeRegularFloat() if fdp.ConsumeBool() else fdp.ConsumeFloat()
    if kind == 3:
        return fdp.ConsumeBool()
    if kind == 4:
        return None
    if kind == 5 and fdp.ConsumeIntInRange(0, 3) == 0:
        return (1, 2) if fdp.ConsumeBool() else {1: 2}  # not a brindle value
    if kind in (5, 6) or depth > 150:
        return [nested(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3 if depth < 150 else 0))]
    return {fdp.ConsumeUnicodeNoSurrogates(6): nested(fdp, depth + 1) for _ in range(fdp.ConsumeIntInRange(0, 3))}


def one_value(fdp: atheris.FuzzedDataProvider) -> None:
    value = {fdp.ConsumeUnicodeNoSurrogates(6): nested(fdp, 1) for _ in range(fdp.ConsumeIntInRange(0, 4))}
    try:
        written = brindle.dumps(value)
    except ValueError:
        assert odd_key(value), value
        return
    except (TypeError, RecursionError):
        return
    if wide_int(value):
        return
    assert same_value(brindle.parse(written).config, value), written


def TestOneInput(data: bytes) -> None:  # noqa: N802 - the name atheris calls
    fdp = atheris.FuzzedDataProvider(data)
    if fdp.ConsumeIntInRange(0, 3) == 0:
        one_value(fdp)
        return
    probe = fdp.ConsumeUnicodeNoSurrogates(fdp.ConsumeIntInRange(0, 16))
    one_text(fdp.ConsumeUnicodeNoSurrogates(len(data)), probe)


def main() -> None:
    global brindle
    # An extension built with -fsanitize=fuzzer-no-link (see `make fuzz`)
    # calls libFuzzer's coverage hooks: run with libFuzzer preloaded
    # (LD_PRELOAD), which atheris then uses as its engine.
    atheris.Setup(sys.argv, TestOneInput)
    with atheris.instrument_imports():
        brindle = importlib.import_module("brindle")
    atheris.instrument_func(exercise_document)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
