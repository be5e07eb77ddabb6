"""brindle.format next to brindle.parse, through the Python module.

Builds a document of about 10 MB from the bundled examples, each copy under
its own section names and written untidily (spacing around `=`, indentation,
blank lines), and reports the best time of a few runs of:

    parse(src)     building the document
    format(src)    the canonical layout
    edit + set     one value changed in place (tree, edit and check)

and the ratio format / parse (the goal is at most 2).

Usage: python bench/fmt_python.py [--mb 10] [--repeat 5]
"""

from __future__ import annotations

import argparse
import re
import time
from pathlib import Path

import brindle

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def untidy(text: str, copy: int) -> str:
    text = re.sub(r"^\[(?!vars\])", f"[copy{copy}_", text, flags=re.M)  # sections of their own
    text = re.sub(r" = ", "=" if copy % 2 else "   =  ", text)
    return text.replace("\n\n", "\n\n\n")


def document(megabytes: float) -> str:
    sources = [p.read_text(encoding="utf-8") for p in sorted(EXAMPLES.glob("*.brindle"))]
    parts: list[str] = []
    size = 0
    copy = 0
    while size < megabytes * 1e6:
        part = untidy(sources[copy % len(sources)], copy)
        parts.append(part)
        size += len(part.encode())
        copy += 1
    return "\n".join(parts)


def best(repeat: int, body) -> float:
    times = []
    for _ in range(repeat):
        start = time.process_time()
        body()
        times.append(time.process_time() - start)
    return min(times)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--mb", type=float, default=10)
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    src = document(args.mb)
    mb = len(src.encode()) / 1e6

    def edit() -> None:
        editor = brindle.edit(src)
        editor.set("copy0_server.workers", 8)

    results = {
        "parse": best(args.repeat, lambda: brindle.parse(src)),
        "format": best(args.repeat, lambda: brindle.format(src)),
        "edit + set": best(args.repeat, edit),
    }
    print(f"document {mb:.1f} MB, best of {args.repeat} runs (processor time)")
    for name, seconds in results.items():
        print(f"{name:<11} {seconds * 1e3:8.1f} ms  {mb / seconds:7.1f} MB/s")
    print(f"format / parse = {results['format'] / results['parse']:.2f} (goal: at most 2)")


if __name__ == "__main__":
    main()
