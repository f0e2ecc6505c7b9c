#!/usr/bin/env bash
# Runs a command on a private Xvfb display (a free display number, chosen by the server itself)
# and stops that server afterwards. Usage: with-xvfb.sh COMMAND [ARGS...]
set -euo pipefail
numberfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numberfile" 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$numberfile"' EXIT
# The server writes its display number once it accepts clients.
for _ in $(seq 300); do
  [ -s "$numberfile" ] && break
  kill -0 "$server" 2>/dev/null || { echo "with-xvfb: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done
[ -s "$numberfile" ] || { echo "with-xvfb: Xvfb gave no display" >&2; exit 1; }
DISPLAY=:$(head -n 1 "$numberfile")
export DISPLAY
"$@"
