#!/usr/bin/env bash
# Runs a command in a private network namespace: loopback only, and a resolver pointed at a
# loopback address where no name server listens, so reverse look-ups fail at once and nothing
# leaves the machine. Wine reads the endpoint tables in its session's service processes, so the
# prefix's previous session must have ended first, and this one ends inside the namespace. Tests
# that use it run one at a time (RUN_SERIAL). Usage: in-netns.sh COMMAND [ARGS...]   (root)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
if [ "$(id -u)" != 0 ]; then
  echo "in-netns: needs root for ip netns" >&2
  exit 1
fi
"$QV_WINESERVER" -w 2>/dev/null || true

namespace=qv-wine-$$
resolver=/etc/netns/$namespace
trap 'ip netns del "$namespace" 2>/dev/null || true; rm -rf "$resolver"' EXIT
ip netns add "$namespace"
ip netns exec "$namespace" ip link set lo up
mkdir -p "$resolver"
echo "nameserver 127.0.0.1" >"$resolver/resolv.conf"

status=0
ip netns exec "$namespace" "$@" || status=$?
"$QV_WINESERVER" -w 2>/dev/null || true
exit "$status"
