"""Response times of `brindle lsp` on a large document, measured as an editor sees them.

Starts the server as a subprocess, opens a generated document of about
2 000 lines (sections with annotated keys, a [vars] section, $ references,
multi-line arrays and blocks) and then, for each round, sends one change and
times the requests that an editor sends after typing:

    diagnostic       textDocument/diagnostic right after the change (the
                     server re-reads, re-indexes and re-checks the text)
    hover            hover on a $ reference near the end
    completion       completion after `$`
    symbols          document symbols

Next to them, in the same run, brindle.parse + validate_all of the same text
in this process, the floor that the diagnostics cannot go below. The goal is
a diagnostic answer within 50 ms.

With --baseline DIR, a second server runs from another build of the package
(DIR holds its `brindle` directory), rounds alternating between the two, and
the table gets a ratio column.

Usage: python bench/bench_lsp.py [--lines 2000] [--rounds 30] [--baseline DIR]
"""

from __future__ import annotations

import argparse
import asyncio
import os
import statistics
import sys
import time

from lsprotocol import types as t
from pygls.lsp.client import LanguageClient

import brindle

URI = "file:///bench/large.brindle"


def document(lines: int) -> str:
    out = ["# Generated settings.", "[vars]", 'domain = "example.com"', "base = 8000", ""]
    section = 0
    while len(out) < lines:
        out += [f"[service{section}]", "@required", "@type: int", "@min: 1", "@max: 65535",
                f"port = $base + {section}", f'host = "svc{section}." + $domain',
                f'url = $ENV.SVC{section}_URL ?? "https://svc{section}." + $domain', "@enum: [debug, info]",
                'level = "info"', "origins = [", '    "https://a",', '    "https://b",', "]", "limits = #{",
                "    @min: 1", "    rate = 100,", "}#", ""]
        section += 1
    return "\n".join(out[:lines]) + "\n"


async def timed(make_request) -> float:
    start = time.perf_counter()
    await make_request()
    return (time.perf_counter() - start) * 1000


async def start(text: str, path: str | None) -> tuple[LanguageClient, dict[str, list[float]]]:
    """A server (from the installed package, or with `path` first on its module path), the document open."""
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [path, os.environ.get("PYTHONPATH")])))
    client = LanguageClient("bench", "1")
    await client.start_io(sys.executable, "-m", "brindle", "lsp", env=env if path else None)
    capabilities = t.ClientCapabilities(text_document=t.TextDocumentClientCapabilities(
        diagnostic=t.DiagnosticClientCapabilities()))
    await client.initialize_async(t.InitializeParams(capabilities=capabilities))
    client.initialized(t.InitializedParams())
    client.text_document_did_open(t.DidOpenTextDocumentParams(t.TextDocumentItem(URI, "brindle", 1, text)))
    return client, {"diagnostic": [], "hover": [], "completion": [], "symbols": []}


async def one_round(client: LanguageClient, times: dict[str, list[float]], text: str, version: int) -> None:
    doc = t.TextDocumentIdentifier(URI)
    last = text.splitlines()
    ref_line = max(i for i, line in enumerate(last) if "$domain" in line)
    ref = t.Position(ref_line, last[ref_line].index("$domain") + 2)
    changed = text.replace("base = 8000", f"base = {8000 + version}")
    client.text_document_did_change(t.DidChangeTextDocumentParams(
        t.VersionedTextDocumentIdentifier(version=version, uri=URI),
        [t.TextDocumentContentChangeWholeDocument(text=changed)]))
    times["diagnostic"].append(await timed(
        lambda: client.text_document_diagnostic_async(t.DocumentDiagnosticParams(doc))))
    times["hover"].append(await timed(lambda: client.text_document_hover_async(t.HoverParams(doc, ref))))
    times["completion"].append(await timed(lambda: client.text_document_completion_async(
        t.CompletionParams(doc, t.Position(ref_line, last[ref_line].index("$domain") + 1)))))
    times["symbols"].append(await timed(
        lambda: client.text_document_document_symbol_async(t.DocumentSymbolParams(doc))))


async def run(lines: int, rounds: int, baseline: str | None) -> None:
    text = document(lines)
    servers = {"this": await start(text, None)}
    if baseline:
        servers["baseline"] = await start(text, baseline)
    # Rounds alternate between the servers, so both see the same load.
    for version in range(2, rounds + 2):
        for client, times in servers.values():
            await one_round(client, times, text, version)
    for client, _ in servers.values():
        await client.shutdown_async(None)
        client.exit(None)
        await client.stop()

    floor = []
    for _ in range(rounds):
        begin = time.perf_counter()
        brindle.validate_all(brindle.parse(text))
        floor.append((time.perf_counter() - begin) * 1000)

    print(f"{len(text.splitlines())} lines, {len(text)} characters, {rounds} rounds; medians (p90) in ms")
    header = f"{'request':<28}" + "".join(f"{name:>20}" for name in servers)
    print(header + (f"{'this/baseline':>16}" if baseline else ""))
    for request in servers["this"][1]:
        row = f"{request:<28}"
        medians = []
        for _, times in servers.values():
            values = sorted(times[request])
            medians.append(statistics.median(values))
            row += f"{medians[-1]:>11.2f} ({values[int(len(values) * 0.9) - 1]:>6.2f})"
        if baseline:
            row += f"{medians[0] / medians[1]:>16.2f}"
        print(row)
    floor.sort()
    print(f"{'parse + validate_all (floor)':<28}{statistics.median(floor):>11.2f} ({floor[int(len(floor) * 0.9) - 1]:>6.2f})")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--lines", type=int, default=2000)
    parser.add_argument("--rounds", type=int, default=30)
    parser.add_argument("--baseline", metavar="DIR",
                        help="a directory holding another build of the brindle package; its server runs side by side")
    args = parser.parse_args()
    asyncio.run(run(args.lines, args.rounds, args.baseline))


if __name__ == "__main__":
    main()
