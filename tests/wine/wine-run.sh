#!/usr/bin/env bash
# Runs a Windows program under Wine in the tests' own prefix: wine64 for x86_64 programs, the
# 32-bit loader (through qemu-i386 on this machine kind) for i686 ones.
# Usage: wine-run.sh PROGRAM.exe [ARGS...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/wine-env.sh"
program=$1
shift
wine_prefix_ready "$(pe_bitness "$program")"
exec "$(wine_loader_for "$program")" "$program" "$@"
