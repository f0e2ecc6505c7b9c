#!/usr/bin/env bash
# The house style, checked: clang-format (the repository's .clang-format) over every C++ file, and
# clang-tidy (the repository's .clang-tidy) over every file of the native build; any difference or
# finding fails. Before it judges the tree it proves on planted faults that it would catch one.
# Usage: scripts/lint.sh BUILD_DIR   (a configured native build with compile_commands.json)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/lint.sh BUILD_DIR}
build=$(cd "$build" && pwd)
cd "$root"

say() { echo "lint: $*"; }

# The project's own headers are judged with the files that include them; system and library
# headers are not ours to fix.
header_filter="^$root/(src|tests|tools)/"

format_check() { clang-format --dry-run -Werror "$@" 2>&1; }

# Prints each finding once (a header's finding is met in every file that includes it); fails when
# there is one.
tidy_check() {
  local database=$1
  shift
  local findings
  findings=$(printf '%s\0' "$@" | xargs -0 -n 4 -P "$(nproc)" clang-tidy --quiet -p "$database" \
    --header-filter="$header_filter" 2>/dev/null | grep -E '^/.*: (warning|error):' | sort -u)
  [ -z "$findings" ] || { echo "$findings"; return 1; }
}

# A planted misformatting and a planted finding, in a scratch copy of the build's compile commands:
# a lint step that no longer notices either is broken, however clean the tree looks.
self_check() {
  local scratch
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' RETURN
  printf 'int   planted ( ) {return 0;}\n' >"$scratch/planted_format.cpp"
  cp .clang-format "$scratch/"
  if format_check "$scratch/planted_format.cpp" >/dev/null; then
    say "self-check FAILED: clang-format passed a misformatted file"
    return 1
  fi
  cp .clang-tidy "$scratch/"
  cat >"$scratch/planted_finding.cpp" <<'EOF'
// A finding bugprone-* reports: an integer division whose result is used as a floating value.
double planted_finding(int a, int b) { return static_cast<double>(a / b) + 0.5 * (a / b); }
EOF
  printf '[{"directory":"%s","file":"%s","command":"c++ -std=c++20 -c %s"}]\n' "$scratch" \
    "$scratch/planted_finding.cpp" "$scratch/planted_finding.cpp" >"$scratch/compile_commands.json"
  local planted
  planted=$(tidy_check "$scratch" "$scratch/planted_finding.cpp")
  if ! grep -q bugprone-integer-division <<<"$planted"; then
    say "self-check FAILED: clang-tidy passed a planted finding"
    return 1
  fi
  say "self-check: a planted difference and a planted finding both fail"
}

self_check || exit 1

status=0
mapfile -t cxx_files < <(git ls-files '*.cpp' '*.hpp' '*.h')
if ! out=$(format_check "${cxx_files[@]}"); then
  say "clang-format: $(grep -c 'error:' <<<"$out") difference(s); 'clang-format -i FILE' fixes them"
  grep 'error:' <<<"$out" | head -40
  status=1
else
  say "clang-format: ${#cxx_files[@]} files as formatted"
fi

# Every translation unit of the native build that is ours (the build's generated files are not).
mapfile -t units < <(python3 - "$build/compile_commands.json" "$root" <<'EOF'
import json, sys
root = sys.argv[2] + "/"
for unit in json.load(open(sys.argv[1])):
    if unit["file"].startswith(root) and "/build/" not in unit["file"][len(root):]:
        print(unit["file"])
EOF
)
if ! findings=$(tidy_check "$build" "${units[@]}"); then
  say "clang-tidy: $(wc -l <<<"$findings") finding(s)"
  head -60 <<<"$findings"
  status=1
else
  say "clang-tidy: ${#units[@]} files without a finding"
fi
exit $status
