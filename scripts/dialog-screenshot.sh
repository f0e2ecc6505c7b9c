#!/usr/bin/env bash
# Writes a PNG picture of the "Filter & Output" dialog as Wine draws it on a private X display,
# opened by the test harness on sample settings. Builds the win64 harness and DLL first.
# Usage: scripts/dialog-screenshot.sh [OUTPUT.png]   (default: build/dialog.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/dialog.png}")

if [ -z "${QV_SCREENSHOT_DISPLAY:-}" ]; then
  cd "$root"
  cmake --preset win64 >/dev/null
  cmake --build build/win64 -j2 --target harness >/dev/null
  exec "$root/scripts/wine-xvfb.sh" env QV_SCREENSHOT_DISPLAY=1 "$0" "$out"
fi

cd "$root/build/win64/bin"
coproc harness { "$root/tests/wine/wine-run.sh" ./harness.exe dialog-show; }
# "shown LEFT TOP RIGHT BOTTOM": the dialog's frame on the screen, once drawn.
read -r word left top right bottom <&"${harness[0]}" || true
bottom=${bottom%$'\r'}
if [ "${word:-}" != shown ]; then
  echo "dialog-screenshot: the dialog did not open" >&2
  exit 1
fi
# Wine hands the drawing to the X server on its own schedule.
sleep 1
import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$out"
echo >&"${harness[1]}"
wait "$harness_PID"
echo "$out"
