#!/usr/bin/env bash
# Builds and runs every fuzz target, one after the other on one core:
# the libFuzzer targets of fuzz/ (clang, ASan+UBSan) and the atheris target
# of the Python module (extension built with coverage for libFuzzer).
#
#   FUZZ_SECONDS  run time of each target (default 60)
#   FUZZ_TARGETS  which targets (default: document annotation value pattern literal module)
#   FUZZ_FRESH=1  start from the committed corpus only (CI), not from what
#                 earlier runs found (kept in build-fuzz/corpus/)
#   FUZZ_SEED     libFuzzer's seed (default 0: a new one each run)
# Exits non-zero when a target finds a crash, leak, hang (> 2 s) or an
# allocation over 1 GiB; the input is in build-fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${FUZZ_SECONDS:-60}
TARGETS=${FUZZ_TARGETS:-document annotation value pattern literal module}
PYTHON=${VENV:-.venv}/bin/python
FUZZ_FLAGS=(-dict=fuzz/brindle.dict -max_total_time="$SECONDS_EACH" -timeout=2 -rss_limit_mb=1024
            -max_len=4096 -print_final_stats=1 -seed="${FUZZ_SEED:-0}")

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_FUZZ=ON \
  -DBRINDLE_TESTS=OFF >/dev/null
cmake --build build-fuzz -j "${JOBS:-2}"

if [[ " $TARGETS " == *" module "* ]]; then
  # The module as brindle imports it, but with libFuzzer's coverage hooks;
  # libFuzzer itself is preloaded, and atheris runs on it.
  CC=clang CXX=clang++ cmake -S . -B build-fuzz-py -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRINDLE_PYTHON=ON \
    -DBRINDLE_TESTS=OFF -DPython_EXECUTABLE="$(realpath "$PYTHON")" -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
  cmake --build build-fuzz-py -j "${JOBS:-2}"
  rm -rf build-fuzz-py/pkg && mkdir -p build-fuzz-py/pkg/brindle
  cp python/brindle/*.py python/brindle/py.typed build-fuzz-py/python/_native*.so build-fuzz-py/pkg/brindle/
  clang++ -shared -o build-fuzz-py/libfuzzer.so -Wl,--whole-archive \
    "$(clang -print-file-name=libclang_rt.fuzzer_no_main-x86_64.a)" -Wl,--no-whole-archive -lpthread
  "$PYTHON" -c "import atheris" 2>/dev/null || "$PYTHON" -m pip install -q atheris
fi

failed=()
for target in $TARGETS; do
  scratch=build-fuzz/corpus/$target
  [ "${FUZZ_FRESH:-0}" = 1 ] && rm -rf "$scratch"
  mkdir -p "$scratch" build-fuzz/artifacts
  flags=("${FUZZ_FLAGS[@]}" -artifact_prefix="build-fuzz/artifacts/$target-" "$scratch" "fuzz/corpus/$target")
  echo "== fuzz $target (${SECONDS_EACH}s)"
  if [ "$target" = module ]; then
    run=(env LD_PRELOAD="$PWD/build-fuzz-py/libfuzzer.so" PYTHONPATH=build-fuzz-py/pkg "$PYTHON" fuzz/module_fuzzer.py)
  else
    run=("build-fuzz/fuzz/${target}_fuzzer")
  fi
  if ! "${run[@]}" "${flags[@]}" >"build-fuzz/$target.log" 2>&1; then
    failed+=("$target")
    tail -n 40 "build-fuzz/$target.log"
  fi
  grep -E "^(stat::number_of_executed_units|stat::peak_rss_mb)|DONE" "build-fuzz/$target.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failed: ${failed[*]} (inputs in build-fuzz/artifacts/)"
  exit 1
fi
echo "fuzz: $(wc -w <<<"$TARGETS") targets, no findings"
