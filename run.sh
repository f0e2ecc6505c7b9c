#!/usr/bin/env bash
# Builds Quorvane (the Windows DLLs and the Linux command), says where the DLLs are, and lists this
# machine's IPv4 ports with the quorvane command. Arguments go to quorvane (try --help).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh build >&2
for preset in win32 win64 linux; do
  cmake --preset "$preset" >/dev/null
  cmake --build "build/$preset" -j2 >/dev/null
done
for preset in win32 win64; do
  dll="build/$preset/bin/Quorvane.dll"
  echo "$dll ($preset) exports:" $(x86_64-w64-mingw32-objdump -p "$dll" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\]/ && NR > 1 {print $NF}') >&2
done
exec build/linux/bin/quorvane "$@"
