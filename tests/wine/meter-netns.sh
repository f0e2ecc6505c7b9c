#!/usr/bin/env bash
# Runs the harness's meter scenario under Wine inside a private network namespace with a DNS
# server of its own (dnsmasq on 127.0.0.1, a PTR record for the server address and none for the
# client's). Wine's server creates the sockets, so it must start inside the namespace: the test
# uses a prefix of its own, whose server it may stop without disturbing other tests. Needs root.
# Usage: meter-netns.sh HARNESS.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
harness=$1
root=$(cd "$here/../.." && pwd)
build=$(basename "$(cd "$(dirname "$harness")/.." && pwd)")  # win64 or win32: one prefix per bitness
export QV_WINEPREFIX=${QV_WINEPREFIX_NETNS:-$root/build/wine-prefix-netns-$build}
source "$here/../../scripts/wine-env.sh"
if [ "$(pe_bitness "$harness")" = 32 ]; then wine_prefix_ready 32; else wine_prefix_ready; fi
"$QV_WINESERVER" -k 2>/dev/null || true

ns=qvwine$$
server=10.77.0.1
client=10.77.0.2
server_name=alpha.quorvane.test
dnsmasq_pid=
cleanup() {
  "$QV_WINESERVER" -k 2>/dev/null || true
  if [ -n "$dnsmasq_pid" ]; then kill "$dnsmasq_pid" 2>/dev/null || true; wait "$dnsmasq_pid" || true; fi
  ip netns del "$ns" 2>/dev/null || true
  rm -rf "/etc/netns/$ns"
}
trap cleanup EXIT

ip netns add "$ns"
ip -n "$ns" link set lo up
ip -n "$ns" addr add "$server/32" dev lo
ip -n "$ns" addr add "$client/32" dev lo
# ip netns exec puts this file in place of /etc/resolv.conf for the namespace's processes.
mkdir -p "/etc/netns/$ns"
echo "nameserver 127.0.0.1" >"/etc/netns/$ns/resolv.conf"
reverse=$(awk -F. '{print $4"."$3"."$2"."$1}' <<<"$server").in-addr.arpa
ip netns exec "$ns" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts \
  --listen-address=127.0.0.1 --bind-interfaces --port=53 --user=root --pid-file= \
  --local=/in-addr.arpa/ "--ptr-record=$reverse,$server_name" &
dnsmasq_pid=$!
for _ in $(seq 100); do
  ip netns exec "$ns" ss -lun | grep -q '127.0.0.1:53 ' && break
  sleep 0.1
done

cd "$(dirname "$harness")"
ip netns exec "$ns" "$here/wine-run.sh" "$harness" meter "$server" "$client" "$server_name"
