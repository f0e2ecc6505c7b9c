#!/usr/bin/env bash
# The house style, checked: clang-format (the repository's .clang-format) over every C++ file, and
# clang-tidy (the repository's .clang-tidy) over every file of the native build and over the
# Windows build's code that the native build does not see (the Windows OS layer, the _win32 files,
# the host and dialog code under _WIN32, the test harness), parsed for the mingw-w64 target; any
# difference or finding fails. Before it judges the tree it proves on planted faults that it would
# catch one.
# Usage: scripts/lint.sh BUILD_DIR [WINDOWS_BUILD_DIR]
#   BUILD_DIR: a configured native build; WINDOWS_BUILD_DIR (default build/win64): a configured
#   mingw-w64 build. Both need their compile_commands.json; a missing one fails the lint.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: scripts/lint.sh BUILD_DIR [WINDOWS_BUILD_DIR]}
build=$(cd "$build" && pwd)
windows_build=${2:-$root/build/win64}
cd "$root"

say() { echo "lint: $*"; }

# The project's own headers are judged with the files that include them; system and library
# headers are not ours to fix.
header_filter="^$root/(src|tests|tools)/"

format_check() { clang-format --dry-run -Werror "$@" 2>&1; }

# Prints each finding once (a header's finding is met in every file that includes it); fails when
# there is one. clang-tidy's options come first, then "--", then the files.
tidy_check() {
  local options=()
  while [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  shift
  local findings
  findings=$(printf '%s\0' "$@" | xargs -0 -n 4 -P "$(nproc)" clang-tidy --quiet "${options[@]}" \
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
  planted=$(tidy_check -p "$scratch" -- "$scratch/planted_finding.cpp")
  if ! grep -q bugprone-integer-division <<<"$planted"; then
    say "self-check FAILED: clang-tidy passed a planted finding"
    return 1
  fi
  say "self-check: a planted difference and a planted finding both fail"
}

self_check || exit 1
for database in "$build" "$windows_build"; do
  if [ ! -f "$database/compile_commands.json" ]; then
    say "FAILED: no $database/compile_commands.json (configure that build first; ./test.sh"
    say "  builds win64 before linux-asan)"
    exit 1
  fi
done

status=0
mapfile -t cxx_files < <(git ls-files '*.cpp' '*.hpp' '*.h')
if ! out=$(format_check "${cxx_files[@]}"); then
  say "clang-format: $(grep -c 'error:' <<<"$out") difference(s); 'clang-format -i FILE' fixes them"
  grep 'error:' <<<"$out" | head -40
  status=1
else
  say "clang-format: ${#cxx_files[@]} files as formatted"
fi

# Translation units of a build that are ours (the build's generated files are not); with a second
# database, only those that it does not hold or that have code under _WIN32.
units_of() {
  python3 - "$root" "$@" <<'EOF'
import json, sys
root, database = sys.argv[1] + "/", sys.argv[2]
ours = lambda unit: unit["file"].startswith(root) and "/build/" not in unit["file"][len(root):]
seen = set()
if len(sys.argv) > 3:
    seen = {unit["file"] for unit in json.load(open(sys.argv[3])) if ours(unit)}
for unit in json.load(open(database)):
    if ours(unit) and (unit["file"] not in seen or "_WIN32" in open(unit["file"]).read()):
        print(unit["file"])
EOF
}

# clang parses the Windows build for its target, with the cross compiler's own C++ and mingw-w64
# headers (clang's own builtin headers stand in for the compiler's internal ones).
windows_options() {
  local compiler
  compiler=$(python3 -c 'import json, shlex, sys
unit = json.load(open(sys.argv[1]))[0]
print(unit["arguments"][0] if "arguments" in unit else shlex.split(unit["command"])[0])' \
    "$windows_build/compile_commands.json")
  echo "-p"
  echo "$windows_build"
  echo "--extra-arg=--target=$("$compiler" -dumpmachine)"
  "$compiler" -E -x c++ -v - </dev/null 2>&1 | sed -n '/<...> search starts/,/End of search/p' |
    grep '^ ' | xargs -n 1 realpath | grep -Ev '/lib/gcc/.*/include(-fixed)?$' |
    sed 's/^/--extra-arg=-isystem/'
}

# Runs clang-tidy (its options, "--", the files) and reports; a finding fails the lint.
lint_build() {
  local what=$1 findings
  shift
  local options=()
  while [ "$1" != -- ]; do
    options+=("$1")
    shift
  done
  shift
  if ! findings=$(tidy_check "${options[@]}" -- "$@"); then
    say "clang-tidy ($what): $(wc -l <<<"$findings") finding(s)"
    head -60 <<<"$findings"
    status=1
  else
    say "clang-tidy ($what): $# files without a finding"
  fi
}

mapfile -t units < <(units_of "$build/compile_commands.json")
lint_build native -p "$build" -- "${units[@]}"
mapfile -t windows_units < <(units_of "$windows_build/compile_commands.json" \
  "$build/compile_commands.json")
mapfile -t options < <(windows_options)
lint_build windows "${options[@]}" -- "${windows_units[@]}"
exit $status
