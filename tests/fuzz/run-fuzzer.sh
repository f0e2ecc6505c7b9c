#!/usr/bin/env bash
# Runs one libFuzzer target for a bounded time on a fresh copy of its seed corpus, so that the
# sources are never written; a crash input is kept in the work folder and fails the test.
# Usage: run-fuzzer.sh FUZZER SEED_DIR WORK_DIR SECONDS [LIBFUZZER_OPTION...]
set -euo pipefail
fuzzer=$1
seeds=$2
work=$3
seconds=$4
shift 4
rm -rf "$work"
mkdir -p "$work/corpus" "$work/crashes"
cp -r "$seeds"/. "$work/corpus"/
exec "$fuzzer" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$work/crashes/" \
  "$@" "$work/corpus"
