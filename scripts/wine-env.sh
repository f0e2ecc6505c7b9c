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

# Makes the prefix once; concurrent test processes wait for the first one.
wine_prefix_ready() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.quorvane-ready" ]; then
      echo "wine-env: creating the Wine prefix $WINEPREFIX (once)" >&2
      "$QV_WINE64" wineboot --init >/dev/null 2>&1 || true
      /usr/lib/wine/wineserver -w
      # Windows without a window manager: unmanaged windows hide and show at once.
      "$QV_WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
      /usr/lib/wine/wineserver -w
      touch "$WINEPREFIX/.quorvane-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# wine64 for a PE32+ program, the 32-bit loader for a PE32 one.
wine_loader_for() {
  local offset machine
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = "014c" ]; then echo "$QV_WINE32"; else echo "$QV_WINE64"; fi
}
