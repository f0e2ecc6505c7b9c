#!/usr/bin/env python3
"""quorvane.exe under Wine, in a private network namespace whose DNS server names 127.0.0.1: the
harness opens its own IPv4 and IPv6 sockets and checks the command's JSON listing of them, then
compares quorvane.exe --meter with the DLL's ListPorts for the same settings.
Wine's server creates the sockets, so it must run inside the namespace: the test uses the prefix
of the Wine tests that run in namespaces, one at a time, so it may stop that prefix's server.
Usage: command_e2e.py HARNESS.exe QUORVANE.exe   (root)
"""
import os
import subprocess
import sys

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


stop_wine()
try:
    with Namespace("qvcmd") as ns:
        ns.dnsmasq({"127.0.0.1": "loop.quorvane.test"})
        run = ns.run([os.path.join(here, "wine-run.sh"), harness, "command",
                      os.path.basename(quorvane)], cwd=bin_dir, env=env, timeout=540)
        check(run.returncode == 0, f"harness command ended with status {run.returncode}")
finally:
    stop_wine()
finish()
