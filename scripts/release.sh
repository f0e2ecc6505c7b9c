#!/usr/bin/env bash
# Makes the release archive Quorvane-<version>.zip (the version set in CMake, as the DLL carries it):
# the i686 Quorvane.dll (the product) and quorvane.exe beside it (the command, which previews a
# meter), the install note and the template and settings reference, the notes taken from README.md's own sections; and beside it the Linux
# command's Debian package quorvane_<version>_<arch>.deb.
# Usage: scripts/release.sh [--dll PATH --exe PATH] [OUTDIR]
#   default: builds the win32 preset and takes its DLL and command, and the linux preset for the
#   package; with --dll and --exe, packs those into the archive only. OUTDIR defaults to dist/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/wine-env.sh"  # pe_bitness

dll=""
exe=""
out=$root/dist
while [ $# -gt 0 ]; do
  case $1 in
    --dll) dll=$(realpath "$2"); shift 2 ;;
    --exe) exe=$(realpath "$2"); shift 2 ;;
    *) out=$(realpath -m "$1"); shift ;;
  esac
done
cd "$root"
with_package=false
if [ -z "$dll" ] && [ -z "$exe" ]; then
  with_package=true
  scripts/setup.sh build
  cmake --preset win32 >/dev/null
  cmake --build build/win32 -j2 --target Quorvane quorvane >/dev/null
  dll=$root/build/win32/bin/Quorvane.dll
  exe=$root/build/win32/bin/quorvane.exe
fi
if [ -z "$dll" ] || [ -z "$exe" ]; then
  echo "release: --dll and --exe go together" >&2
  exit 1
fi
for binary in "$dll" "$exe"; do
  if [ "$(pe_bitness "$binary")" != 32 ]; then
    echo "release: $binary is not an i686 program" >&2
    exit 1
  fi
done
# The archive is named for the version the DLL itself carries (its record's ProductVersion, in
# UTF-16 right after its key), so that the name cannot drift from what it ships.
version=$(strings -el "$dll" | grep -A1 -x ProductVersion | sed -n 2p || true)
[ -n "$version" ] || { echo "release: $dll carries no ProductVersion" >&2; exit 1; }

# One README section, from its heading to the next one; fails when the heading is missing.
section() {
  awk -v heading="## $1" '
    $0 == heading { inside = 1; found = 1; print; next }
    inside && /^## / { inside = 0 }
    inside { print }
    END { exit found ? 0 : 1 }' README.md || { echo "release: README has no \"## $1\"" >&2; exit 1; }
}

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$dll" "$stage/Quorvane.dll"
cp "$exe" "$stage/quorvane.exe"
# Notepad on older Windows reads the ANSI code page and wants CRLF line ends.
windows_text() { iconv -f UTF-8 -t CP1252//TRANSLIT | sed 's/$/\r/'; }
{ section "Installing into Samurize"; section "Previewing a meter with quorvane.exe"; } |
  windows_text >"$stage/INSTALL.txt"
{ section "The template language"; section "Settings"; } | windows_text >"$stage/REFERENCE.txt"
# Same inputs, same archive: every entry dated by the last commit, no extra attributes.
stamp=$(git log -1 --format=%ct 2>/dev/null || echo 0)
touch -d "@$stamp" "$stage"/*
mkdir -p "$out"
archive=$out/Quorvane-$version.zip
rm -f "$archive"
(cd "$stage" && TZ=UTC zip -q -X "$archive" Quorvane.dll quorvane.exe INSTALL.txt REFERENCE.txt)
echo "release: $archive"

if $with_package; then
  cmake --preset linux >/dev/null
  cmake --build build/linux -j2 --target quorvane quorvane_docs >/dev/null
  (cd build/linux && cpack -G DEB -B "$stage/deb" >/dev/null)
  for package in "$stage"/deb/*.deb; do
    mv -f "$package" "$out/"
    echo "release: $out/$(basename "$package")"
  done
fi
