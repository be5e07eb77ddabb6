"""Every exception brindle raises survives pickling, as it must to cross a
process pool: same type, same args, every instance attribute."""

import concurrent.futures
import copy
import io
import pickle

import pytest

import brindle
from brindle._io import DecodeError, TooLargeError

CLASSES = [brindle.BrindleError, brindle.ParseError, brindle.ValidationError, brindle.VariableError]
# Attributes other parts of brindle hang on an exception; any of them must come along.
EXTRA = {"diagnostics": [("a", 1)], "msg": "m", "filename": "f.b", "path": "a.b", "findings": ["x"], "doc": "a = 1\n"}


class Custom(brindle.ParseError):
    """A subclass defined outside brindle pickles by its own name."""


def raised(kind):
    """An exception of `kind`, raised the way a user meets it."""
    try:
        if kind == "parse":
            brindle.parse("ok = 1\n[a..b]\n")
        elif kind == "variable":
            brindle.parse("[s]\nport = $missing\n")
        elif kind == "validate":
            brindle.validate(brindle.parse("@min: 5\nx = 1\n"))
        elif kind == "decode":
            brindle.load(io.BytesIO(b"a = \xff\n"))
        elif kind == "too large":
            brindle.load(io.BytesIO(b"a = 1\n"), max_size=3)
        elif kind == "custom":
            raise Custom("custom", 7)
        else:
            return brindle.validate_all(brindle.parse("@min: 5\nx = 1\n"))[0]
    except Exception as error:  # noqa: BLE001 - every kind is the point
        return error
    raise AssertionError(f"{kind} raised nothing")


KINDS = ["parse", "variable", "validate", "validate_all", "decode", "too large", "custom"]


def same(a, b):
    return (type(a), a.args, a.__dict__, str(a)) == (type(b), b.args, b.__dict__, str(b))


def made(cls, extra):
    error = cls("message", 3)
    error.lineno, error.colno = 4, 9
    if extra:
        error.__dict__.update(EXTRA)
    return error


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("extra", [False, True], ids=["plain", "with attributes"])
@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__qualname__)
def test_family_round_trips(cls, extra, protocol):
    error = made(cls, extra)
    for copied in (pickle.loads(pickle.dumps(error, protocol)), copy.copy(error), copy.deepcopy(error)):
        assert same(copied, error) and copied is not error


@pytest.mark.parametrize("kind", KINDS)
def test_raised_exceptions_round_trip(kind):
    error = raised(kind)
    error.__dict__.update(EXTRA)
    assert same(pickle.loads(pickle.dumps(error)), error)


def test_qualified_names_are_kept():
    assert [(c.__module__, c.__qualname__) for c in CLASSES] == [("brindle_native", c.__name__) for c in CLASSES]
    assert (raised("parse").lineno, raised("parse").colno) == (2, 2)


def fail_in_worker(kind):
    error = raised(kind)
    error.__dict__.update(EXTRA)
    raise error


def test_exceptions_cross_a_process_pool():
    with concurrent.futures.ProcessPoolExecutor(max_workers=1) as pool:
        futures = {kind: pool.submit(fail_in_worker, kind) for kind in KINDS}
        for kind, future in futures.items():
            error, expected = future.exception(timeout=60), raised(kind)
            expected.__dict__.update(EXTRA)
            assert same(error, expected), (kind, error)


def test_rebuilding_an_unknown_class_fails():
    from brindle import _native

    with pytest.raises(ValueError, match="no brindle exception class named Nope"):
        _native._rebuild_exception("Nope", ())
    assert isinstance(DecodeError, type) and issubclass(TooLargeError, ValueError)
