#!/usr/bin/env bash
# The core and the extension built with AddressSanitizer and
# UndefinedBehaviorSanitizer, and both test suites run under them.
#
#   scripts/sanitize.sh core     the core's unit tests only (CI)
#   scripts/sanitize.sh          the core's and the Python tests
# The extension is loaded into an ordinary interpreter, so the ASan runtime
# is preloaded; leaks are not checked there (the interpreter keeps objects
# alive to the end on purpose), the core's tests do check them.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${VENV:-.venv}/bin/python
JOBS=${JOBS:-2}
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_SANITIZE=ON -DBRINDLE_TESTS=ON >/dev/null
cmake --build build-asan -j "$JOBS"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1 ctest --test-dir build-asan --output-on-failure -j "$JOBS"
[ "${1:-all}" = core ] && exit 0

cmake -S . -B build-asan-py -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_SANITIZE=ON -DBRINDLE_PYTHON=ON \
  -DBRINDLE_TESTS=OFF -DPython_EXECUTABLE="$(realpath "$PYTHON")" >/dev/null
cmake --build build-asan-py -j "$JOBS"
rm -rf build-asan-py/pkg && mkdir -p build-asan-py/pkg/brindle
# The whole package (subpackages included), then the sanitized extension.
cp -r python/brindle/. build-asan-py/pkg/brindle/
find build-asan-py/pkg -name __pycache__ -prune -exec rm -rf {} +
cp build-asan-py/python/_native*.so build-asan-py/pkg/brindle/
# Subprocesses started by the tests (the CLI) inherit all of this. The
# resident-memory test is left out: under ASan, memory includes the
# quarantine of freed blocks; the core's own tests look for leaks.
LD_PRELOAD="$("${CXX:-g++}" -print-file-name=libasan.so)" PYTHONPATH="$PWD/build-asan-py/pkg" \
  ASAN_OPTIONS=detect_leaks=0 "$PYTHON" -m pytest -q -p no:cacheprovider tests -k "not test_memory_stays_flat"
