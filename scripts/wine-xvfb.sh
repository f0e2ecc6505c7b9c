#!/usr/bin/env bash
# Runs a command that shows Windows programs under Wine on a private Xvfb display (a free display
# number, chosen by the server itself), in a Wine session of its own. Wine's desktop process
# belongs to the prefix's session and draws through the display of whoever started it, so the
# previous session must have ended first, and this one ends before the display goes. Tests that
# use it run one at a time (RUN_SERIAL). Usage: wine-xvfb.sh COMMAND [ARGS...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
"$QV_WINESERVER" -w 2>/dev/null || true

numberfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberfile" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$numberfile"' EXIT
# The server writes its display number once it accepts clients.
for _ in $(seq 300); do
  [ -s "$numberfile" ] && break
  kill -0 "$server" 2>/dev/null || { echo "wine-xvfb: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$numberfile" ] || { echo "wine-xvfb: Xvfb gave no display" >&2; exit 1; }
DISPLAY=:$(head -n 1 "$numberfile")
export DISPLAY

status=0
"$@" || status=$?
"$QV_WINESERVER" -w 2>/dev/null || true
exit "$status"
