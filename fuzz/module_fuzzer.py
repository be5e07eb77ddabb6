"""Fuzzes the brindle module through its Python API with atheris.

Each input is either a document text, run through parse, validate,
validate_all, dumps, config and every document method (with keys and paths
from the document and from the input), or a nested Python value for dumps.
Only the documented exceptions may come out; a document or dict that dumps
writes must read back as the same one. Left out of that check: what the
language cannot carry (a string holding a double quote in a document that
holds an operator byte anywhere, a minus sign included,
names with line breaks, quotes or backslashes, section names that are empty
or hold brackets, annotation arguments with line breaks, commas in list
items, or a `#` with a quote or backslash), Python ints beyond 64 bits
(written as floats, as the language reads such literals), and, until the
writer or the builder changes, annotations of entries four levels down and
annotations left behind by an entry that a later line replaced.

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
DUMPS_ERRORS = (TypeError, ValueError, RecursionError)


def pending_value(value: Any) -> bool:
    """True for what cannot round-trip (see the module docstring)."""
    quote, operator = [False], [False]

    def walk(item: Any) -> bool:
        if isinstance(item, str):
            quote[0] |= '"' in item
            operator[0] |= any(c in item for c in "+-*/?")
        elif isinstance(item, float):
            operator[0] |= math.copysign(1, item) < 0 or "e" in repr(item)
        elif isinstance(item, int) and not isinstance(item, bool):
            operator[0] |= item < 0
            return not -(2**63) <= item < 2**63
        elif isinstance(item, list):
            return any(map(walk, item))
        elif isinstance(item, dict):
            return any(pending_name(key, child) or walk(key) or walk(child) for key, child in item.items())
        return False

    return walk(value) or (quote[0] and operator[0])


def pending_name(key: str, value: Any) -> bool:
    """Names no written form carries yet: line breaks anywhere, quotes and
    backslashes (taken verbatim in inline dicts), and for dicts (written as
    section headers) the empty name and brackets."""
    if any(c in key for c in '\n\r"\\'):
        return True
    return isinstance(value, dict) and (not key or "[" in key or "]" in key)


def odd_text(text: str) -> bool:
    return "\n" in text or "\r" in text or ("#" in text and ('"' in text or "\\" in text))


def pending_annotation(annotation: Any) -> bool:
    arg = annotation.arg
    if isinstance(arg, str):
        return odd_text(arg)
    if isinstance(arg, list):
        return any(odd_text(item) or "," in item for item in arg)
    return False


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
    written = brindle.dumps(doc)
    if pending_value(config) or pending_value(variables) or any(map(pending_annotation, sum(meta.values(), []))):
        return
    if any(path.count(".") >= 3 for path in meta):
        return  # an annotation inside what is written as an inline dict
    if any(doc.resolve(path, meta) is meta and path not in variables for path in meta):
        return  # an annotation left behind by an entry a later line replaced
    back = brindle.parse(written)
    assert same_value(back.config, config) and same_value(back.vars, variables), written
    # The order of meta follows the file, and dumps writes keys sorted.
    assert {k: repr(v) for k, v in back.meta.items()} == {k: repr(v) for k, v in meta.items()}, written
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
