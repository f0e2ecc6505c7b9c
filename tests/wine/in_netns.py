#!/usr/bin/env python3
"""Runs a command in a private network namespace with a Wine session of its own: loopback only,
ADDRESSes on it, and a DNS server answering PTR queries for the NAMEs given, or, without any, a
resolver that no server answers, so that every look-up fails at once and nothing leaves the machine.
Wine reads the endpoint tables in its session's service processes, so the session must start inside
the namespace and end there: the prefix (QV_WINEPREFIX) belongs to the namespace tests, which run
one at a time, and its server is stopped before and after.
Usage: in_netns.py [--address ADDRESS]... [--name ADDRESS=NAME]... -- COMMAND [ARGS...]   (root)
"""
import argparse
import os
import subprocess
import sys

from netns import Namespace

WINE_ENV = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                        "wine-env.sh")


def stop_wine_session():
    subprocess.run(["bash", "-c", 'source "$0" && "$QV_WINESERVER" -k', WINE_ENV],
                   stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--address", action="append", default=[])
    parser.add_argument("--name", action="append", default=[], help="ADDRESS=NAME")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()
    if "QV_WINEPREFIX" not in os.environ:
        sys.exit("in_netns: QV_WINEPREFIX must name the namespace tests' own prefix")
    stop_wine_session()
    with Namespace("qvwine") as namespace:
        for address in options.address:
            namespace.add_address(address)
        if options.name:
            namespace.dnsmasq(dict(entry.split("=", 1) for entry in options.name))
        try:
            return namespace.run(options.command).returncode
        finally:
            stop_wine_session()


if __name__ == "__main__":
    sys.exit(main())
