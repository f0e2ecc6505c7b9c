#!/usr/bin/env python3
"""quorvane.exe under Wine, in private network namespaces.
- With a DNS server that names 127.0.0.1, the harness opens its own IPv4 and IPv6 sockets and
  checks the command's JSON listing of them, then compares quorvane.exe --meter with the DLL's
  ListPorts for the same settings.
- With a DNS server that never answers and 20 connections to distinct addresses, the listing with
  host names takes about the look-ups' one second longer than a numeric one, every host null.
Wine's server creates the sockets, so it must run inside the namespace: the test uses the prefix
of the Wine tests that run in namespaces, one at a time, so it may stop that prefix's server.
Usage: command_e2e.py HARNESS.exe QUORVANE.exe   (root)
"""
import json
import os
import subprocess
import sys
import time

from checks import check, finish
from netns import Namespace

harness, quorvane = sys.argv[1:3]
bin_dir = os.path.dirname(os.path.abspath(harness))
here = os.path.dirname(os.path.abspath(__file__))
build = os.path.basename(os.path.dirname(bin_dir))  # win64 or win32: one prefix per bitness
prefix = os.environ.get("QV_WINEPREFIX_NETNS",
                        os.path.join(here, "..", "..", "build", f"wine-prefix-netns-{build}"))
env = dict(os.environ, QV_WINEPREFIX=os.path.abspath(prefix))
wineserver = ["/usr/lib/wine/wineserver", "-k"]


def stop_wine():
    subprocess.run(wineserver, env=dict(env, WINEPREFIX=env["QV_WINEPREFIX"]),
                   stderr=subprocess.DEVNULL)


REMOTES = [f"10.77.1.{i}" for i in range(1, 21)]
# Holds a connection to each remote address until its input ends.
CONNECTIONS = f"""
import socket, sys
held = []
for address in {REMOTES!r}:
    listener = socket.create_server((address, 0))
    client = socket.create_connection(listener.getsockname())
    held += [listener, client, listener.accept()[0]]
print("ready", flush=True)
sys.stdin.read()
"""


def wine_command(ns, program, *args, timeout):
    return ns.run([os.path.join(here, "wine-run.sh"), program, *args], cwd=bin_dir, env=env,
                  timeout=timeout, stdout=subprocess.PIPE, text=True)


def own_endpoints():
    with Namespace("qvcmd") as ns:
        ns.dnsmasq({"127.0.0.1": "loop.quorvane.test"})
        run = wine_command(ns, harness, "command", os.path.basename(quorvane), timeout=540)
        print(run.stdout, end="")
        check(run.returncode == 0, f"harness command ended with status {run.returncode}")


def timed(ns, *args):
    started = time.monotonic()
    run = wine_command(ns, quorvane, *args, timeout=120)
    return run, time.monotonic() - started


def dead_dns_server():
    with Namespace("qvdead") as ns:
        for address in REMOTES:
            ns.add_address(address)
        ns.silent_dns()
        holder = subprocess.Popen(ns.command(["python3", "-c", CONNECTIONS]),
                                  stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        try:
            check(holder.stdout.readline().strip() == "ready", "the connections are open")
            timed(ns, "--numeric")  # Wine's own start-up, once, before anything is timed
            numeric, numeric_seconds = timed(ns, "--numeric", "--format", "json")
            named, named_seconds = timed(ns, "--format", "json")
        finally:
            holder.stdin.close()
            holder.wait()
        print(f"numeric listing {numeric_seconds:.2f} s, with host names {named_seconds:.2f} s")
        check(numeric.returncode == 0 and named.returncode == 0, "both listings end with status 0")
        rows = [json.loads(line) for line in named.stdout.splitlines()]
        remote = {row["remote_address"]: row["host"] for row in rows
                  if row["remote_address"] in REMOTES}
        check(sorted(remote) == sorted(REMOTES), f"the connections are listed: {sorted(remote)}")
        check(all(host is None for host in remote.values()), f"no host name came: {remote}")
        # One second for the look-ups and room for a busy machine; a resolver's own time-out is
        # five seconds or more.
        check(named_seconds <= numeric_seconds + 2.0,
              "the look-ups held the listing back beyond their second")


stop_wine()
try:
    own_endpoints()
    stop_wine()
    dead_dns_server()
finally:
    stop_wine()
finish()
