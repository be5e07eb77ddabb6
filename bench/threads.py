"""Two threads parsing two different documents against one thread parsing both.

The two documents hold the same shape of data drawn from different seeds,
so each thread has about the same work. Three workloads, each timed whole
(best of --repeat, wall time):
  parse    brindle.parse(src), then dropping the document;
  config   brindle.parse(src).config, then dropping both;
  check    brindle.check(src).
Every thread's result is compared with the single-threaded one.

The ideal on two idle cores is 2x; the interpreter lock caps `config`
below that, as building Python objects needs it. On a shared machine the
ratio also shows what the other processes take, so the processor time of
each run is printed too.

Usage: python bench/threads.py [--mb 10] [--repeat 5] [--shape service]
"""

from __future__ import annotations

import argparse
import gc
import os
import random
import resource
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import brindle  # noqa: E402
from compare import MAKERS  # noqa: E402

WORKLOADS = {
    "parse": lambda src: brindle.parse(src),
    "config": lambda src: brindle.parse(src).config,
    "check": lambda src: brindle.check(src, env={}),
}


def document(shape: str, seed: int, target_bytes: int) -> str:
    rng = random.Random(seed)
    data: dict = {}
    size = 0
    index = 0
    while size < target_bytes:
        section = MAKERS[shape](rng, index)
        data[f"section_{seed}_{index:06d}"] = section
        size += len(repr(section)) + 20
        index += 1
    return brindle.dumps(data)


def one_thread(work, sources, keep=False):
    results = [work(src) for src in sources] if keep else None
    if not keep:
        for src in sources:
            work(src)  # dropped at once: freeing is part of the cost
    return results


def two_threads(work, sources, keep=False):
    results: list = [None] * len(sources)
    errors: list = []

    def run(i: int) -> None:
        try:
            result = work(sources[i])
            if keep:
                results[i] = result
            del result  # freed in this thread, inside the timed region
        except BaseException as e:  # reported after the join
            errors.append(e)

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(sources))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if errors:
        raise errors[0]
    return results if keep else None


def comparable(result):
    if isinstance(result, brindle.BrindleDocument):
        return result.config, result.meta, result.vars
    if isinstance(result, dict):
        return result
    return [(f.code, f.line, f.column, f.message) for f in result]


def minor_faults() -> int:
    return resource.getrusage(resource.RUSAGE_SELF).ru_minflt


def timed(runner, work, sources, repeat: int):
    """Best wall time, best processor time and fewest page faults of the runs.
    Page faults show memory the allocator gave back to the system between
    runs and had to take again (glibc trims a thread's heap when it frees)."""
    best_wall = best_cpu = float("inf")
    fewest_faults = None
    for _ in range(repeat):
        gc.collect()
        wall, cpu, faults = time.perf_counter(), time.process_time(), minor_faults()
        runner(work, sources)
        best_wall = min(best_wall, time.perf_counter() - wall)
        best_cpu = min(best_cpu, time.process_time() - cpu)
        faults = minor_faults() - faults
        fewest_faults = faults if fewest_faults is None else min(fewest_faults, faults)
    return best_wall, best_cpu, fewest_faults


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mb", type=float, default=10.0, help="megabytes per document")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--shape", default="service", choices=sorted(MAKERS))
    parser.add_argument("--workloads", nargs="+", default=list(WORKLOADS), choices=list(WORKLOADS))
    args = parser.parse_args()

    sources = [document(args.shape, seed, int(args.mb * 1e6)) for seed in (1, 2)]
    print(f"brindle from {os.path.dirname(brindle.__file__)}")
    print(f"two {args.shape} documents of {len(sources[0]) / 1e6:.1f} and {len(sources[1]) / 1e6:.1f} MB; "
          f"best of {args.repeat}; load average {os.getloadavg()[0]:.1f}")
    print(f"  {'workload':<8} {'one thread s':>13} {'two threads s':>14} {'speed-up':>9} {'cpu one/two s':>15}"
          f" {'page faults one/two':>20}")
    for name in args.workloads:
        work = WORKLOADS[name]
        expected = [comparable(r) for r in one_thread(work, sources, keep=True)]
        if [comparable(r) for r in two_threads(work, sources, keep=True)] != expected:
            raise SystemExit(f"{name}: two threads returned different results")
        one_wall, one_cpu, one_faults = timed(one_thread, work, sources, args.repeat)
        two_wall, two_cpu, two_faults = timed(two_threads, work, sources, args.repeat)
        print(f"  {name:<8} {one_wall:>13.3f} {two_wall:>14.3f} {one_wall / two_wall:>8.2f}x "
              f"{one_cpu:>7.2f}/{two_cpu:<7.2f} {one_faults:>10}/{two_faults:<9}")


if __name__ == "__main__":
    main()
