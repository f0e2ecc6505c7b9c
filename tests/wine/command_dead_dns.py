#!/usr/bin/env python3
"""quorvane.exe while the DNS server never answers: with 20 connections to distinct addresses, the
JSON listing, which asks for host names, takes about the look-ups' one second longer than the
numeric one, every host null. Runs inside the namespace that in_netns.py makes, the REMOTE
addresses on its loopback.
Usage: command_dead_dns.py WINE_RUN quorvane.exe REMOTE...
"""
import json
import socket
import subprocess
import sys
import time

from checks import check, finish

wine_run, quorvane, *remotes = sys.argv[1:]

# The resolver's server: queries arrive and are never read, so each look-up waits for its time-out.
silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
silent.bind(("127.0.0.1", 53))
held = [silent]
for address in remotes:
    listener = socket.create_server((address, 0))
    client = socket.create_connection(listener.getsockname())
    held += [listener, client, listener.accept()[0]]


def timed(*args):
    started = time.monotonic()
    run = subprocess.run([wine_run, quorvane, *args], stdout=subprocess.PIPE, text=True,
                         timeout=120)
    return run, time.monotonic() - started


timed("--numeric")  # Wine's session starts once, before anything is timed
numeric, numeric_seconds = timed("--numeric", "--format", "json")
named, named_seconds = timed("--format", "json")
print(f"numeric listing {numeric_seconds:.2f} s, with host names {named_seconds:.2f} s")
check(numeric.returncode == 0 and named.returncode == 0, "both listings end with status 0")
rows = [json.loads(line) for line in named.stdout.splitlines()]
hosts = {row["remote_address"]: row["host"] for row in rows if row["remote_address"] in remotes}
check(sorted(hosts) == sorted(remotes), f"the connections are listed: {sorted(hosts)}")
check(all(host is None for host in hosts.values()), f"no host name came: {hosts}")
# One second for the look-ups and room for a busy machine; a resolver's own time-out is five
# seconds or more.
check(named_seconds <= numeric_seconds + 2.0,
      "the look-ups held the listing back beyond their second")
finish()
