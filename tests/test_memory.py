"""Memory stays flat over many thousands of calls, error paths included."""

import functools
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
nested = #{ a = [1, 2.5, #{ b = null }#], c = "text" }#
@pattern: "[a-z]+"
name = "abc"
opts = #{
  @type: int
  pool = 5,
}#
"""
LARGE = "".join(f"[s{i}]\nk = [{i}, \"{'x' * 100}\"]\n" for i in range(2000))


def failing_calls(doc):
    grows = {"a": 1}
    grows["h"] = type("Grows", (), {"__index__": lambda self: grows.update(extra=1) or 1})()
    deep = functools.reduce(lambda value, _: [value], range(200), 1)
    return [
        (brindle.ValidationError, validate, parse("@min: 10\nk = 1\n")),
        (brindle.ParseError, parse, "[a..b]\nk = [1, nope]\n"),
        (brindle.VariableError, parse, "k = $missing\n"),
        (KeyError, doc.__getitem__, "missing"),
        (TypeError, doc.resolve, 2),
        (TypeError, parse, b"bytes"),
        (UnicodeEncodeError, parse, "\ud800"),
        (TypeError, validate_all, None),
        (TypeError, dumps, [1]),
        (TypeError, dumps, {"k": [1, {"a": {1, 2}}]}),
        (TypeError, dumps, {1: "x"}),
        (TypeError, dumps, {"k": 10**400}),
        (UnicodeEncodeError, dumps, {"k": "\udc80"}),
        (RecursionError, dumps, {"k": deep}),
        (SystemError, dumps, grows),
        (TypeError, BrindleDocument),
        (TypeError, Annotation, 1),
        (TypeError, hash, Annotation("x")),
        (TypeError, operator.lt, Annotation("a"), Annotation("b")),
    ]


def one_round():
    doc = parse(SOURCE)
    doc.config, doc.vars, doc.keys(), doc.values(), doc.items(), doc["server"], doc.get("nope", 0)
    doc.resolve("server.nested.c"), "server" in doc, len(doc), list(doc), repr(doc)
    doc.tags("title"), doc.keys_with_tag("env"), doc.required_keys(), doc.deprecated_keys()
    for path, annotations in doc.meta.items():
        doc.annotations(path), doc.has_annotation(path, "min")
        for annotation in annotations:
            str(annotation), repr(annotation), annotation.arg, annotation != annotation
    validate(doc), validate_all(doc), dumps(doc), dumps({"b": [1.5, None, True, {"x": "y"}], "n": 2**63})
    Annotation("tag", ["a", "b"]), Annotation("min", 2.5), Annotation("x", (1, 2))
    for exception, function, *args in failing_calls(doc):
        with pytest.raises(exception):
            function(*args)


def large_round():
    doc = parse(LARGE)
    doc.config, dumps(doc)


def rss():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("function, rounds, limit", [(one_round, 3000, 8 << 20), (large_round, 40, 16 << 20)])
def test_memory_stays_flat(function, rounds, limit):
    for _ in range(rounds // 10):  # warm-up: caches, allocator pools
        function()
    gc.collect()
    memory, blocks = rss(), sys.getallocatedblocks()
    for _ in range(rounds):
        function()
    gc.collect()
    # One Python object lost per round shows in the allocator's block count;
    # resident memory catches what the core allocates, a document per round
    # or a few bytes on each of the ~60 calls of a round.
    assert sys.getallocatedblocks() - blocks < rounds // 4
    assert rss() - memory < limit, f"resident memory grew by {rss() - memory} bytes"
