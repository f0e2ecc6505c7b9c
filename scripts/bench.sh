#!/usr/bin/env bash
# Builds the optimised Linux preset and runs the benchmarks, each printing its table of ratios
# measured side by side in one run. Needs root (private network namespaces for the socket sets).
# Usage: scripts/bench.sh [NAME_REGEX]   (e.g. "command" for the command against ss only)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test >&2
cmake --preset linux >/dev/null
cmake --build build/linux -j2 >/dev/null
cd build/linux
# ctest prefixes each line of a test's output with its number; keep only the output itself.
ctest -L bench -R "${1:-.}" -V --timeout 3600 |
  sed -n -E -e '/: Test (command|timeout)|: Working Directory|: Environment variable|: +[A-Z_]+=/d' \
    -e 's/^[0-9]+: //p' -e '/tests passed/p'
