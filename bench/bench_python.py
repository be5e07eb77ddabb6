"""Throughput of brindle.parse next to json.loads and tomllib.loads.

Generates one configuration of about 10 MB (sections of scalars, arrays and
inline dicts), writes it as brindle text, as JSON and as TOML, and reports
MB/s for:

    parse(src)            building the document
    parse(src).config     building it and converting it to Python objects
    json.loads            the same data as JSON
    tomllib.loads         the same data as TOML

Usage: python bench/bench_python.py [--mb 10] [--repeat 5]
"""

from __future__ import annotations

import argparse
import json
import random
import time

try:
    import tomllib
except ImportError:  # Python 3.10
    try:
        import tomli as tomllib
    except ImportError:
        tomllib = None

import brindle


def make_section(rng: random.Random, index: int) -> dict:
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


def make_data(target_bytes: int) -> dict:
    rng = random.Random(42)
    data = {}
    size = 0
    index = 0
    while size < target_bytes:
        section = make_section(rng, index)
        data[f"section_{index:06d}"] = section
        size += len(json.dumps(section)) + 20
        index += 1
    return data


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


def best_time(function, repeat: int) -> float:
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        best = min(best, time.perf_counter() - start)
    return best


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=float, default=10.0, help="approximate size of the brindle text")
    parser.add_argument("--repeat", type=int, default=5, help="runs per measurement; the best counts")
    args = parser.parse_args()

    data = make_data(int(args.mb * 1_000_000))
    source = brindle.dumps(data)
    json_text = json.dumps(data)
    toml_text = to_toml(data)

    # The three texts must carry the same data, or the comparison means nothing.
    assert brindle.parse(source).config == data
    assert json.loads(json_text) == data
    if tomllib is not None:
        assert tomllib.loads(toml_text) == data

    runs = [
        ("parse(src)", len(source.encode()), lambda: brindle.parse(source)),
        ("parse(src).config", len(source.encode()), lambda: brindle.parse(source).config),
        ("json.loads", len(json_text.encode()), lambda: json.loads(json_text)),
    ]
    if tomllib is not None:
        runs.append(("tomllib.loads", len(toml_text.encode()), lambda: tomllib.loads(toml_text)))

    print(f"{len(data)} sections; best of {args.repeat} runs")
    print(f"{'operation':<20} {'input MB':>9} {'seconds':>9} {'MB/s':>9}")
    for label, size, function in runs:
        seconds = best_time(function, args.repeat)
        print(f"{label:<20} {size / 1e6:>9.2f} {seconds:>9.3f} {size / 1e6 / seconds:>9.1f}")


if __name__ == "__main__":
    main()
