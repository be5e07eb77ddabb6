"""brindle next to other parsers, side by side in one process.

Generates the same data in four shapes (service: mixed sections; wide:
sections of 2 000 keys; ints: arrays of integers; strings: long strings),
writes it as brindle, JSON, TOML, YAML and marshal, checks that every parser
returns exactly that data, then times the whole cost of each: parsing,
building the Python objects and freeing them. Best of --repeat runs, in
processor time (wall time for the two-thread check).

For brindle it also shows the core alone (`parse(src)`: build and free the
document, no Python objects) and, in a child process each, the resident
memory the parse result holds, relative to the source size (approximate:
memory the allocator kept from reading the file is reused first).
build/parse_bench peak SHAPE gives the core's own peak. Then the per-call
costs of a small file (parse, validate_all, dumps of the webservice
example) and two threads parsing two documents against one parsing both.

Peers come from the optional `bench` extra (pip install '.[bench]'); a peer
that is not installed is skipped with a note.

Usage: python bench/compare.py [--sizes 1 10] [--repeat 5] [--shapes ...]
"""

from __future__ import annotations

import argparse
import gc
import importlib
import json
import marshal
import math
import os
import platform
import random
import resource
import subprocess
import sys
import tempfile
import time

import brindle

SHAPES = ("service", "wide", "ints", "strings")


# ---- data ------------------------------------------------------------------


def service_section(rng: random.Random, index: int) -> dict:
    return {
        "id": index,
        "name": f"service-{index}",
        "enabled": rng.random() < 0.5,
        "ratio": round(rng.random() * 1000, 3),
        "port": rng.randrange(1, 65536),
        "hosts": [f"host-{index}-{j}.example" for j in range(4)],
        "weights": [rng.randrange(1000) for _ in range(8)],
        "limits": {"rate": rng.randrange(10**6), "burst": rng.randrange(100), "mode": "fast"},
        "description": "a fairly ordinary line of configuration text, number " + str(index),
    }


def wide_section(rng: random.Random, index: int) -> dict:
    out = {}
    for k in range(2000):
        kind = k % 3
        out[f"key_{k:04d}"] = (
            rng.randrange(10**9) if kind == 0 else f"value {index}.{k}" if kind == 1 else k % 2 == 0
        )
    return out


def ints_section(rng: random.Random, index: int) -> dict:
    return {f"series_{j}": [rng.randrange(-(10**6), 10**9) for _ in range(1000)] for j in range(4)}


def strings_section(rng: random.Random, index: int) -> dict:
    words = ["alpha", "beta", "gamma", "delta", "path/to/file", "a \"quoted\" word", "tab\there"]
    return {
        f"text_{j}": " ".join(rng.choice(words) for _ in range(rng.randrange(200, 600)))
        for j in range(4)
    }


MAKERS = {"service": service_section, "wide": wide_section, "ints": ints_section, "strings": strings_section}


def in_key_order(value):
    """`value` with every dict in brindle's key order (byte-wise), so that
    every parser, brindle included, has one order to return."""
    if isinstance(value, dict):
        return {k: in_key_order(value[k]) for k in sorted(value, key=lambda k: k.encode())}
    if isinstance(value, list):
        return [in_key_order(v) for v in value]
    return value


def make_data(shape: str, target_bytes: int) -> dict:
    rng = random.Random(42)
    data: dict = {}
    size = 0
    index = 0
    while size < target_bytes:
        section = MAKERS[shape](rng, index)
        data[f"section_{index:06d}"] = section
        size += len(json.dumps(section)) + 20
        index += 1
    return in_key_order(data)


def difference(got, want, path: str = "$") -> str | None:
    """Where `got` differs from `want`, or None when they are the same data.

    Stricter than ==, which takes True for 1, 1.0 for 1 and ignores key
    order: types must be the same exactly, and keys come in the same order."""
    if type(got) is not type(want):
        return f"{path}: {type(got).__name__} {got!r:.60}, expected {type(want).__name__} {want!r:.60}"
    if isinstance(want, dict):
        if list(got) != list(want):
            missing = [k for k in want if k not in got][:3]
            extra = [k for k in got if k not in want][:3]
            what = f"missing {missing}, extra {extra}" if missing or extra else "keys in another order"
            return f"{path}: {what}"
        for key, item in want.items():
            found = difference(got[key], item, f"{path}.{key}")
            if found:
                return found
        return None
    if isinstance(want, list):
        if len(got) != len(want):
            return f"{path}: {len(got)} items, expected {len(want)}"
        for i, (g, w) in enumerate(zip(got, want)):
            found = difference(g, w, f"{path}[{i}]")
            if found:
                return found
        return None
    if isinstance(want, float) and want != want:
        return None if got != got else f"{path}: {got!r}, expected nan"
    if got != want or (isinstance(want, float) and math.copysign(1, got) != math.copysign(1, want)):
        return f"{path}: {got!r:.60}, expected {want!r:.60}"
    return None


# ---- the same data in each format ---------------------------------------------


def toml_value(value) -> str:
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (int, float)):
        return repr(value)
    if isinstance(value, str):
        return json.dumps(value)
    if isinstance(value, list):
        return "[" + ", ".join(toml_value(v) for v in value) + "]"
    if isinstance(value, dict):
        return "{ " + ", ".join(f"{k} = {toml_value(v)}" for k, v in value.items()) + " }"
    raise TypeError(type(value).__name__)


def to_toml(data: dict) -> str:
    lines = []
    for name, section in data.items():
        lines.append(f"[{name}]")
        lines.extend(f"{key} = {toml_value(value)}" for key, value in section.items())
        lines.append("")
    return "\n".join(lines)


def optional(name: str):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


def parsers(data: dict) -> tuple[list[tuple[str, object, object]], list[str]]:
    """(label, input, loads) for every available parser, and notes on the missing."""
    notes = []
    json_text = json.dumps(data)
    toml_text = to_toml(data)
    out = [
        ("brindle", brindle.dumps(data), lambda s: brindle.parse(s).config),
        ("json", json_text, json.loads),
        ("marshal", marshal.dumps(data), marshal.loads),
    ]
    orjson = optional("orjson")
    if orjson is not None:
        out.append(("orjson", json_text.encode(), orjson.loads))
    for name in ("tomllib", "tomli"):
        module = optional(name)
        if module is not None:
            out.append((name, toml_text, module.loads))
        else:
            notes.append(f"{name} not installed: skipped")
    rtoml = optional("rtoml")
    if rtoml is not None:
        out.append(("rtoml", toml_text, rtoml.loads))
    pytomlpp = optional("pytomlpp")
    if pytomlpp is not None:
        out.append(("pytomlpp", toml_text, pytomlpp.loads))
    yaml = optional("yaml")
    if yaml is not None and hasattr(yaml, "CSafeLoader"):
        yaml_text = yaml.dump(data, Dumper=yaml.CSafeDumper, sort_keys=False, width=1 << 30)
        out.append(("yaml (C)", yaml_text, lambda s: yaml.load(s, Loader=yaml.CSafeLoader)))
    else:
        notes.append("PyYAML with its C loader not installed: skipped")
    for name in ("orjson", "rtoml", "pytomlpp"):
        if optional(name) is None:
            notes.append(f"{name} not installed: skipped")
    return out, notes


# ---- timing ------------------------------------------------------------------------


def best_time(function, text, repeat: int, clock=time.process_time) -> float:
    """Best of `repeat` runs. Processor time by default: every parser here
    works on the calling thread, and on a shared machine the time others
    take from it is not the parser's."""
    best = float("inf")
    for _ in range(repeat):
        gc.collect()
        start = clock()
        result = function(text)
        del result  # freeing the result is part of the cost
        best = min(best, clock() - start)
    return best


def size_of(text) -> int:
    return len(text) if isinstance(text, bytes) else len(text.encode())


def peak_child(source: str, what: str) -> float:
    """Resident memory a parse result holds, as a multiple of the source size.

    The child reads the source from a file, so that nothing else it made
    (such as the data the source was written from) sets its peak first."""
    with tempfile.NamedTemporaryFile("w", encoding="utf-8", suffix=".brindle", delete=False) as f:
        f.write(source)
    try:
        out = subprocess.run(
            [sys.executable, __file__, "--peak-child", f.name, what],
            capture_output=True,
            text=True,
            check=True,
        )
    finally:
        os.unlink(f.name)
    return float(out.stdout.strip())


def run_peak_child(path: str, what: str) -> None:
    with open(path, encoding="utf-8") as f:
        source = f.read()
    size = len(source.encode())
    gc.collect()

    def resident() -> int:
        with open("/proc/self/statm") as statm:
            return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    # Resident growth while the result is held: the peak of a build is
    # the document it keeps, its passes hold little more than one line.
    before = resident()
    result = brindle.parse(source) if what == "core" else brindle.parse(source).config
    after = resident()
    del result
    print(max(0, after - before) / size)


def threads_check(mb: float, repeat: int) -> None:
    """Two threads parsing two documents against one thread parsing both."""
    import threading

    sources = [brindle.dumps(make_data(shape, int(mb * 1_000_000))) for shape in ("service", "wide")]
    expected = [brindle.parse(s).config for s in sources]

    def serial() -> None:
        for s in sources:
            brindle.parse(s)

    results: list = [None, None]

    def parallel() -> None:

        def work(i: int) -> None:
            results[i] = brindle.parse(sources[i])

        threads = [threading.Thread(target=work, args=(i,)) for i in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    # Wall time: processor time would add up the two threads.
    one = best_time(lambda _: serial(), None, repeat, time.perf_counter)
    two = best_time(lambda _: parallel(), None, repeat, time.perf_counter)
    for result, want in zip(results, expected):
        found = difference(result.config, want)
        if found:
            raise SystemExit(f"threads returned different data: {found}")
    print(f"\nthreads, parse() of two {mb:g} MB documents: one thread {one:.3f} s, two threads {two:.3f} s "
          f"=> {one / two:.2f}x")


def small_file(repeat: int) -> None:
    """The per-call costs of a small file: the bundled webservice example."""
    import timeit

    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples", "webservice.brindle")
    with open(path, encoding="utf-8") as f:
        source = f.read()
    doc = brindle.parse(source)
    config = doc.config
    calls = {
        "parse(src)": lambda: brindle.parse(source),
        "validate_all(doc)": lambda: brindle.validate_all(doc),
        "dumps(doc)": lambda: brindle.dumps(doc),
        "doc.config": lambda: doc.config,
        "dumps(doc.config)": lambda: brindle.dumps(config),
    }
    print(f"\nsmall file: examples/webservice.brindle, {len(source.encode())} bytes, microseconds per call "
          f"(processor time, best of {repeat} runs of 2 000 calls)")
    for name, call in calls.items():
        best = min(timeit.repeat(call, number=2000, repeat=repeat, timer=time.process_time)) / 2000
        print(f"  {name:<20} {best * 1e6:>7.2f}")


def machine() -> str:
    """The machine the figures come from, for the table's caption."""
    model = "unknown processor"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    try:
        system = platform.freedesktop_os_release().get("PRETTY_NAME", "")
    except (AttributeError, OSError):  # before 3.10, or no os-release file
        system = ""
    return (f"{model}, {os.cpu_count()} cores, {system or platform.platform()}, "
            f"Python {platform.python_version()}, load average {os.getloadavg()[0]:.1f} at the start")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=float, nargs="+", default=[1.0, 10.0], help="megabytes of data")
    parser.add_argument("--repeat", type=int, default=5, help="runs per measurement; the best counts")
    parser.add_argument("--shapes", nargs="+", default=list(SHAPES), choices=SHAPES)
    parser.add_argument("--no-peak", action="store_true", help="skip the memory children")
    parser.add_argument("--no-threads", action="store_true", help="skip the two-thread check")
    parser.add_argument("--no-small", action="store_true", help="skip the small-file calls")
    parser.add_argument("--peak-child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.peak_child:
        run_peak_child(args.peak_child[0], args.peak_child[1])
        return

    print(f"machine: {machine()}")
    print(f"best of {args.repeat}, processor time; whole cost: parse, objects, freeing")
    print("time ratio: the parser's time / brindle's time on the same data (above 1: brindle is faster)")
    printed_notes = False
    for mb in args.sizes:
        for shape in args.shapes:
            data = make_data(shape, int(mb * 1_000_000))
            runs, notes = parsers(data)
            if not printed_notes:
                for note in notes:
                    print("note:", note)
                printed_notes = True
            for label, text, loads in runs:
                found = difference(loads(text), data)
                if found:
                    raise SystemExit(f"{label} does not return the same data for {shape}: {found}")
            print(f"\n{shape}, {mb:g} MB of data")
            print(f"  {'parser':<22} {'input MB':>9} {'seconds':>9} {'MB/s':>8} {'time ratio':>11}")
            brindle_seconds = None
            rows = []
            for label, text, loads in runs:
                seconds = best_time(loads, text, args.repeat)
                if label == "brindle":
                    brindle_seconds = seconds
                rows.append((label + (" parse().config" if label == "brindle" else ""), size_of(text), seconds))
            source = runs[0][1]
            rows.insert(1, ("brindle parse() core", size_of(source), best_time(brindle.parse, source, args.repeat)))
            for label, size, seconds in rows:
                ratio = seconds / brindle_seconds
                print(f"  {label:<22} {size / 1e6:>9.2f} {seconds:>9.4f} {size / 1e6 / seconds:>8.1f} {ratio:>11.2f}")
            if not args.no_peak and mb == max(args.sizes):
                core = peak_child(runs[0][1], "core")
                whole = peak_child(runs[0][1], "config")
                print(f"  memory held, x source size: Document {core:.2f}, the .config dict alone {whole:.2f}")
    if not args.no_small:
        small_file(args.repeat)
    if not args.no_threads:
        threads_check(max(args.sizes), args.repeat)


if __name__ == "__main__":
    main()
