#!/usr/bin/env bash
# Builds Quorvane every way and runs every test: the Windows DLLs under wine64 and under 32-bit
# Wine, the native unit and end-to-end tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# the threaded tests under ThreadSanitizer, the unit and package tests in the optimised build that
# ./run.sh makes (some warnings only optimisation sees), and the fuzzers. Installs what is missing
# first.
# Usage: ./test.sh [PRESET...]   (default: every preset below, in this order)
set -uo pipefail
cd "$(dirname "$0")" || exit 1
scripts/setup.sh test || exit 1

# preset and the CTest label filter it runs (-L include / -LE exclude)
declare -A filter=(
  [win64]="-L wine"
  [win32]="-L wine32|abi"
  [linux-asan]="-LE bench|soak|fuzz"
  [linux-tsan]="-L unit|load"
  [linux]="-L unit|package"
  [fuzz]="-L fuzz"
)
# win64 comes first: native tests compare its programs' answers with the Linux layer's.
presets=("$@")
[ ${#presets[@]} -gt 0 ] || presets=(win64 win32 linux-asan linux-tsan linux fuzz)

passed=0
failed=0
for preset in "${presets[@]}"; do
  echo "== $preset: build"
  mkdir -p "build/$preset"
  build_log="build/$preset/build.log"
  if ! { cmake --preset "$preset" && cmake --build "build/$preset" -j2; } >"$build_log" 2>&1; then
    echo "== $preset: BUILD FAILED (whole log: $build_log)"
    grep -E -m 20 'error|Error' "$build_log"
    failed=$((failed + 1))
    continue
  fi
  echo "== $preset: test (${filter[$preset]})"
  log="build/$preset/ctest.log"
  # shellcheck disable=SC2086
  (cd "build/$preset" && ctest ${filter[$preset]} -j2 --output-on-failure --timeout 900) >"$log" 2>&1
  tail -n 25 "$log" | grep -E 'tests passed|Failed|\*\*\*|Timeout|Not Run' || true
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -z "$summary" ]; then
    echo "== $preset: no tests ran"
    failed=$((failed + 1))
    continue
  fi
  total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done

echo "quorvane: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
