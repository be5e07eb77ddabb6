"""Fuzzes the brindle module through its Python API with atheris.

Each input is either a document text, run through parse, validate,
validate_all, dumps, config and every document method (with keys and paths
from the document and from the input), or a nested Python value for dumps.
Only the documented exceptions may come out; a document or dict that dumps
writes must read back as the same one (left out until the writer handles
them: non-finite floats, the smallest integer (and Python ints beyond 64 bits,
which are written as floats), names with line breaks, quotes or backslashes,
section names that are empty or hold brackets,
strings holding a double quote and an operator byte, annotation texts whose
bare form reads as something else, annotations of absent entries or of
entries four levels down (written inside an inline dict), deep nesting).

    python fuzz/module_fuzzer.py [libFuzzer flags] [corpus dirs]
"""

from __future__ import annotations

import math
import pickle
import sys
from typing import Any

import importlib
from types import ModuleType

import atheris

brindle: ModuleType  # imported by main(), once the fuzzing engine is loaded
INT_MIN = -(2**63)
DUMPS_ERRORS = (TypeError, ValueError, RecursionError)
PLAIN_EDGE = frozenset("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ")


def pending_value(value: Any, depth: int = 0) -> bool:
    """True for what the writer cannot carry yet (see the module docstring)."""
    if depth > 100:
        return True
    if isinstance(value, str):
        return '"' in value and any(c in value for c in "+-*/?")
    if isinstance(value, float):
        return not math.isfinite(value)
    if isinstance(value, int) and not isinstance(value, bool):
        return not INT_MIN < value < 2**63  # beyond 64 bits it is written as a float, as the language reads it
    if isinstance(value, list):
        return any(pending_value(item, depth + 1) for item in value)
    if isinstance(value, dict):
        return any(pending_name(key, item) or pending_value(item, depth + 1) for key, item in value.items())
    return False


def pending_name(key: str, value: Any) -> bool:
    """Names no written form carries yet: line breaks anywhere, quotes and
    backslashes (taken verbatim in inline dicts), and for dicts (written as
    section headers) the empty name and brackets."""
    if any(c in key for c in '\n\r"\\'):
        return True
    return isinstance(value, dict) and (not key or "[" in key or "]" in key)


def plain(text: str) -> bool:
    return bool(text) and text[0] in PLAIN_EDGE and text[-1] in PLAIN_EDGE and not any(c in text for c in '#,"\n\r[]')


def pending_annotation(annotation: Any) -> bool:
    arg = annotation.arg
    if isinstance(arg, str):
        return not plain(arg)
    if isinstance(arg, list):
        return not all(plain(item) for item in arg)
    if isinstance(arg, float):
        return not math.isfinite(arg) or (arg == int(arg) and abs(arg) < 2**63)
    return False


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
    written = brindle.dumps(doc)
    if pending_value(config) or pending_value(variables) or any(map(pending_annotation, sum(meta.values(), []))):
        return
    if any(doc.resolve(path, meta) is meta and path not in variables for path in meta):
        return  # an annotation of an absent entry
    if any(path.count(".") >= 3 for path in meta):
        return  # an annotation inside what is written as an inline dict
    back = brindle.parse(written)
    assert (back.config, back.vars, back.meta) == (config, variables, meta), written
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
    except DUMPS_ERRORS:
        return
    if pending_value(value):
        return
    assert brindle.parse(written).config == value, written


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
