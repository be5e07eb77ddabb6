"""Resident memory stays flat over many thousands of calls, error paths included."""

import gc
import os

import pytest

import brindle
from brindle import Annotation, BrindleDocument, dumps, parse, validate, validate_all

pytestmark = pytest.mark.skipif(
    not os.path.exists("/proc/self/statm"), reason="needs /proc/self/statm"
)

SOURCE = """\
@required
@tag: env = prod
title = "memory check " + $name
[vars]
name = "svc"
port = 8000
[server]
@min: 1
@max: 65535
@deprecated: old
port = $port + 80
hosts = ["a", "b", "c", "d", "e", "f", "g", "h"]
nested = #{ a = [1, 2.5, #{ b = null }#], c = "text" }#
@pattern: "[a-z]+"
name = "abc"
[server.limits]
@positive
rate = 1_000
opts = #{
  @type: int
  pool = 5,
  label = "main"
}#
"""

INVALID = "@min: 10\nk = 1\n@enum: [a]\ne = \"b\"\n"


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def expect(exception, function, *args, **kwargs):
    try:
        function(*args, **kwargs)
    except exception:
        return
    raise AssertionError(f"{function!r} did not raise {exception.__name__}")


class Hook:
    """Changes the dict it sits in while being converted."""

    def __init__(self, target):
        self.target = target

    def __index__(self):
        self.target["extra"] = 1
        return 1


def deep(depth):
    value = 1
    for _ in range(depth):
        value = [value]
    return value


TOO_DEEP = {"k": deep(200)}


def one_round():
    doc = parse(SOURCE)
    doc.config
    doc.vars
    doc.meta
    doc.keys(), doc.values(), doc.items()
    doc["server"], doc.get("title"), doc.get("nope", 0)
    doc.resolve("server.limits.opts.pool"), doc.resolve("server.x", 1)
    "server" in doc, len(doc), list(doc), repr(doc), bool(doc), dict(doc)
    doc.annotations("server.port"), doc.has_annotation("title", "required")
    doc.tags("title"), doc.keys_with_tag("env")
    doc.required_keys(), doc.deprecated_keys()
    for annotations in doc.meta.values():
        for annotation in annotations:
            str(annotation), repr(annotation), annotation.arg, annotation.name
            annotation == annotation, annotation != annotation
    validate(doc)
    validate_all(doc)
    dumps(doc)
    dumps(doc.config)
    dumps({"b": [1, 2.5, None, True, {"x": "y"}], "a": {"s": {"t": {"u": 1}}}, "n": 2**63})
    Annotation("tag", ["a", "b"]), Annotation("min", 2.5), Annotation("x", (1, 2))

    # Error paths.
    bad = parse(INVALID)
    expect(brindle.ValidationError, validate, bad)
    validate_all(bad)
    expect(brindle.ParseError, parse, "[a..b]\nk = 1\n")
    expect(brindle.VariableError, parse, "k = $missing\n")
    expect(brindle.ParseError, parse, "k = [1, nope]\n")
    expect(KeyError, doc.__getitem__, "missing")
    expect(TypeError, doc.__getitem__, 1)
    expect(TypeError, doc.__contains__, 1)
    expect(TypeError, doc.get, None)
    expect(TypeError, doc.resolve, 2)
    expect(TypeError, doc.tags, 2)
    expect(TypeError, doc.has_annotation, "a", 2)
    expect(TypeError, parse, b"bytes")
    expect(TypeError, parse)
    expect(UnicodeEncodeError, parse, "\ud800")
    expect(TypeError, validate, {})
    expect(TypeError, validate_all, None)
    expect(TypeError, dumps, [1])
    expect(TypeError, dumps, {"k": (1, 2)})
    expect(TypeError, dumps, {"k": [1, {"a": {1, 2}}]})
    expect(TypeError, dumps, {1: "x"})
    expect(TypeError, dumps, {"k": 10**400})
    expect(UnicodeEncodeError, dumps, {"k": "\udc80"})
    expect(RecursionError, dumps, TOO_DEEP)
    target = {"a": 1}
    target["h"] = Hook(target)
    expect(RuntimeError, dumps, target)
    expect(TypeError, BrindleDocument)
    expect(TypeError, Annotation, 1)
    expect(TypeError, hash, Annotation("x"))
    expect(TypeError, lambda: Annotation("a") < Annotation("b"))


def test_resident_memory_stays_flat():
    for _ in range(300):
        one_round()
    gc.collect()
    before = rss()
    rounds = 4000
    for _ in range(rounds):
        one_round()
    gc.collect()
    grown = rss() - before
    # A leak of even one small object per call over the ~70 calls of a
    # round would exceed this margin by far; allocator noise stays below.
    assert grown < 8 * 1024 * 1024, f"resident memory grew by {grown} bytes over {rounds} rounds"


def test_large_documents_are_released():
    source = "".join(f"[s{i}]\nk = [{i}, \"{'x' * 100}\"]\n" for i in range(2000))
    for _ in range(3):
        parse(source).config
    gc.collect()
    before = rss()
    for _ in range(40):
        doc = parse(source)
        doc.config
        dumps(doc)
        del doc
    gc.collect()
    grown = rss() - before
    assert grown < 16 * 1024 * 1024, f"resident memory grew by {grown} bytes"
