# Sourced: the tests' Wine prefix and the loader for a program's bitness.
# QV_WINEPREFIX overrides where the prefix lives (default: build/wine-prefix in the source tree).
qv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${QV_WINEPREFIX:-$qv_root/build/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installers: the tests need neither, and there is no network to fetch them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# Wine 8.0's DnsQuery_A only reads replies that carry an OPT record after the name.
export RES_OPTIONS=${RES_OPTIONS:-edns0}
readonly QV_WINE64=/usr/lib/wine/wine64
readonly QV_WINE32=/usr/lib/wine/wine
readonly QV_WINESERVER=/usr/lib/wine/wineserver

qv_qemu_registered() { [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }

# Makes the prefix once; concurrent test processes wait for the first one. A prefix made while
# qemu-i386 was not registered has no 32-bit half: wine_prefix_ready 32 makes it anew then.
wine_prefix_ready() {
  local want=${1:-64}
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    local marker="$WINEPREFIX/.quorvane-ready"
    if [ -f "$marker" ] && [ "$want" = 32 ] && [ "$(cat "$marker")" != 32 ]; then
      echo "wine-env: the prefix has no 32-bit half; making it anew" >&2
      "$QV_WINESERVER" -k 2>/dev/null || true
      rm -rf "$WINEPREFIX"
    fi
    if [ ! -f "$marker" ]; then
      echo "wine-env: creating the Wine prefix $WINEPREFIX (once)" >&2
      "$QV_WINE64" wineboot --init >/dev/null 2>&1 || true
      "$QV_WINESERVER" -w
      # Windows without a window manager: unmanaged windows hide and show at once.
      "$QV_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      "$QV_WINESERVER" -w
      if qv_qemu_registered; then echo 32 >"$marker"; else echo 64 >"$marker"; fi
    fi
  ) 9>"$WINEPREFIX.lock"
}

# 64 for a PE32+ program, 32 for a PE32 one.
pe_bitness() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = "014c" ]; then echo 32; else echo 64; fi
}

wine_loader_for() {
  if [ "$(pe_bitness "$1")" = 32 ]; then echo "$QV_WINE32"; else echo "$QV_WINE64"; fi
}
