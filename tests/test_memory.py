"""Memory stays flat over many thousands of calls, error paths included."""

import functools
import gc
import os
import subprocess
import sys
from pathlib import Path

import pytest

from brindle import Annotation, BrindleDocument, ParseError, ValidationError, VariableError
from brindle import dumps, parse, validate, validate_all

pytestmark = pytest.mark.skipif(not os.path.exists("/proc/self/statm"), reason="needs /proc")

SOURCE = '@required\n@tag: env = prod\ntitle = "t" + $name\n[vars]\nname = "svc"\n[server]\n@min: 1\n@deprecated: old\n'
SOURCE += 'port = 8080\n@pattern: "[a-z]+"\nname = "abc"\nnested = #{ a = [1, 2.5, #{ b = null }#], c = "x" }#\n'
LARGE = "".join(f"[s{i}]\nk = [{i}, \"{'x' * 100}\"]\n" for i in range(2000))
GROWS = {"a": 1}
GROWS["h"] = type("Grows", (), {"__index__": lambda self: GROWS.update(extra=1) or 1})()
DEEP = functools.reduce(lambda value, _: [value], range(200), 1)
BELOW = parse("@min: 10\nk = 1\n")
FAILING = [
    (ValidationError, validate, BELOW), (ParseError, parse, "[a..b]\nk = [1, nope]\n"),
    (VariableError, parse, "k = $missing\n"), (TypeError, parse, b"bytes"), (UnicodeEncodeError, parse, "\ud800"),
    (TypeError, dumps, {"k": [1, {"a": {1, 2}}]}), (TypeError, dumps, {1: "x"}), (SystemError, dumps, GROWS),
    (UnicodeEncodeError, dumps, {"k": "\udc80"}), (RecursionError, dumps, {"k": DEEP}),
    (TypeError, BrindleDocument), (TypeError, Annotation, 1), (TypeError, hash, Annotation("x")),
]


def one_round():
    doc = parse(SOURCE)
    doc.config, doc.vars, doc.items(), doc["server"], doc.get("nope", 0), doc.resolve("server.nested.c"), list(doc)
    repr(doc), dumps(doc), Annotation("tag", ("a", "b")), doc.tags("title"), doc.keys_with_tag("env")
    for path, annotations in doc.meta.items():
        doc.annotations(path), doc.has_annotation(path, "min"), [(str(a), repr(a), a != a, a.arg) for a in annotations]
    doc.required_keys(), doc.deprecated_keys(), validate(doc), validate_all(BELOW), dumps({"b": [1.5, None], "n": 2.0})
    for exception, function, *args in FAILING + [(KeyError, doc.__getitem__, "missing"), (TypeError, doc.resolve, 2)]:
        with pytest.raises(exception):
            function(*args)
    GROWS.pop("extra")


def rss():
    return int(Path("/proc/self/statm").read_text().split()[1]) * os.sysconf("SC_PAGE_SIZE")


@pytest.mark.parametrize("function, rounds, limit", [
    (one_round, 3000, 8 << 20), (lambda: dumps(parse(LARGE).config), 40, 16 << 20),
])
def test_memory_stays_flat(function, rounds, limit):
    for _ in range(rounds // 10):  # warm-up: caches, allocator pools
        function()
    gc.collect()
    memory, blocks = rss(), sys.getallocatedblocks()
    for _ in range(rounds):
        function()
    gc.collect()
    # A Python object lost per round shows in the block count; resident memory catches what the core allocates.
    assert sys.getallocatedblocks() - blocks < rounds // 4
    assert rss() - memory < limit, f"resident memory grew by {rss() - memory} bytes"


# Small files that expand through variables: each stops at "value too large" before the parser holds much.
EXPANDING = {
    "doubling": "[vars]\nv0 = \"xxxxxxxxxxxxxxxx\"\n" + "".join(f"v{i} = $v{i - 1} + $v{i - 1}\n" for i in range(1, 41)),
    "tenfold": "[vars]\nv0 = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10]\n"
    + "".join(f"v{i} = [{', '.join([f'$v{i - 1}'] * 10)}]\n" for i in range(1, 41)),
    "dicts": "[vars]\nv0 = #{ a = \"" + "y" * 64 + "\", b = 1 }#\n"
    + "".join(f"v{i} = #{{ {', '.join(f'k{j} = $v{i - 1}' for j in range(8))} }}#\n" for i in range(1, 41)),
}
PEAK = """import resource, sys
import brindle
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
try:
    brindle.parse(sys.stdin.read())
except brindle.ParseError as error:
    assert str(error).startswith("value too large"), error
print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


@pytest.mark.parametrize("name", sorted(EXPANDING))
def test_small_file_cannot_cost_much_memory(name):
    assert len(EXPANDING[name]) < 4096
    run = subprocess.run([sys.executable, "-c", PEAK], input=EXPANDING[name], capture_output=True, text=True, check=True)
    assert int(run.stdout) * 1024 < 64 << 20, f"peak memory grew by {run.stdout} KiB"
