"""Resident memory stays flat over many thousands of calls, error paths included."""

import gc
import operator
import os
import sys

import pytest

import brindle
from brindle import Annotation, BrindleDocument, dumps, parse, validate, validate_all

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")

SOURCE = """\
@required
@tag: env = prod
title = "memory check " + $name
[vars]
name = "svc"
[server]
@min: 1
@deprecated: old
port = 8080
hosts = ["a", "b", "c", "d"]
nested = #{ a = [1, 2.5, #{ b = null }#], c = "text" }#
@pattern: "[a-z]+"
name = "abc"
opts = #{
  @type: int
  pool = 5,
}#
"""


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def deep(depth):
    value = 1
    for _ in range(depth):
        value = [value]
    return value


class Grows:
    """Adds a key to the dict it sits in while being converted."""

    def __init__(self, target):
        self.target = target

    def __index__(self):
        self.target["extra"] = 1
        return 1


def failing_calls(doc):
    grows = {"a": 1}
    grows["h"] = Grows(grows)
    return [
        (brindle.ValidationError, validate, parse("@min: 10\nk = 1\n")),
        (brindle.ParseError, parse, "[a..b]\nk = [1, nope]\n"),
        (brindle.VariableError, parse, "k = $missing\n"),
        (KeyError, doc.__getitem__, "missing"),
        (TypeError, doc.__getitem__, 1),
        (TypeError, doc.__contains__, 1),
        (TypeError, doc.get, None),
        (TypeError, doc.resolve, 2),
        (TypeError, doc.tags, 2),
        (TypeError, parse, b"bytes"),
        (UnicodeEncodeError, parse, "\ud800"),
        (TypeError, validate_all, None),
        (TypeError, dumps, [1]),
        (TypeError, dumps, {"k": [1, {"a": {1, 2}}]}),
        (TypeError, dumps, {1: "x"}),
        (TypeError, dumps, {"k": 10**400}),
        (UnicodeEncodeError, dumps, {"k": "\udc80"}),
        (RecursionError, dumps, {"k": deep(200)}),
        (RuntimeError, dumps, grows),
        (TypeError, BrindleDocument),
        (TypeError, Annotation, 1),
        (TypeError, hash, Annotation("x")),
        (TypeError, operator.lt, Annotation("a"), Annotation("b")),
    ]


def one_round():
    doc = parse(SOURCE)
    doc.config, doc.vars, doc.meta, doc.keys(), doc.values(), doc.items()
    doc["server"], doc.get("title"), doc.get("nope", 0), doc.resolve("server.opts.pool")
    "server" in doc, len(doc), list(doc), repr(doc), dict(doc)
    doc.annotations("server.port"), doc.has_annotation("title", "required")
    doc.tags("title"), doc.keys_with_tag("env"), doc.required_keys(), doc.deprecated_keys()
    for annotations in doc.meta.values():
        for annotation in annotations:
            str(annotation), repr(annotation), annotation.arg, annotation != annotation
    validate(doc), validate_all(doc), dumps(doc), dumps(doc.config)
    dumps({"b": [1, 2.5, None, True, {"x": "y"}], "a": {"s": {"t": {"u": 1}}}, "n": 2**63})
    Annotation("tag", ["a", "b"]), Annotation("min", 2.5), Annotation("x", (1, 2))
    for exception, function, *args in failing_calls(doc):
        with pytest.raises(exception):
            function(*args)


def grown_over(rounds, function):
    gc.collect()
    before = rss()
    for _ in range(rounds):
        function()
    gc.collect()
    return rss() - before


def test_resident_memory_stays_flat():
    grown_over(300, one_round)  # warm-up: caches, allocator pools
    grown = grown_over(4000, one_round)
    # One small object lost per call, over the ~60 calls of a round, would
    # exceed this margin by far; allocator noise stays well below it.
    assert grown < 8 * 1024 * 1024, f"resident memory grew by {grown} bytes"


def test_no_python_object_outlives_a_round():
    # Python objects come from counted allocator blocks: a single object lost
    # on any path of a round shows here, far below what resident memory sees.
    for _ in range(300):
        one_round()
    gc.collect()
    before = sys.getallocatedblocks()
    rounds = 2000
    for _ in range(rounds):
        one_round()
    gc.collect()
    assert sys.getallocatedblocks() - before < rounds // 4


def test_large_documents_are_released():
    source = "".join(f"[s{i}]\nk = [{i}, \"{'x' * 100}\"]\n" for i in range(2000))

    def cycle():
        doc = parse(source)
        doc.config, dumps(doc)

    grown_over(3, cycle)
    grown = grown_over(40, cycle)
    assert grown < 16 * 1024 * 1024, f"resident memory grew by {grown} bytes"
