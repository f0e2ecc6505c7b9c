#!/usr/bin/env python3
"""Parallel reverse queries through the system resolver, in a private network namespace.

With dnsmasq answering PTR records for an IPv4 and an IPv6 address, every name comes back, the
IPv6 one by its nibble name under ip6.arpa, and a second call answers from the cache. With a DNS
server that never answers, 20 queries return empty within the time limit, and the process ends
at once although every query is still waiting for the resolver's time-out.
Usage: ptr_names_e2e.py PTR_NAMES_PROBE
"""
import sys
import time

from checks import check, finish
from netns import Namespace, reverse_name

PROBE = sys.argv[1]
NAMES = {"10.78.0.1": "alpha.quorvane.test", "fd00::1": "six.quorvane.test"}


def probe(ns, *args):
    start = time.monotonic()
    out = ns.run([PROBE, *args], check=True, capture_output=True, text=True, timeout=60).stdout
    return [line.split("\t") for line in out.splitlines()], time.monotonic() - start


def main():
    with Namespace("qvptr") as ns:
        ns.dnsmasq(NAMES)
        queries = [reverse_name(a) for a in NAMES] + [reverse_name("10.78.0.9")]
        lines, _ = probe(ns, "4", "10000", "--again", *queries)
        expected = list(NAMES.values()) + [""]
        check([line[1] for line in lines] == expected, f"answers within the limit: {lines}")
        check([line[2] for line in lines] == expected, f"the second call, from the cache: {lines}")

    with Namespace("qvptrdead", resolv_options="timeout:5 attempts:2") as ns:
        ns.silent_dns()
        queries = [reverse_name(f"10.79.0.{i}") for i in range(1, 21)]
        lines, elapsed = probe(ns, "32", "500", *queries)
        check(len(lines) == 20 and all(line[1] == "" for line in lines),
              f"no answers from a dead server: {lines}")
        check(elapsed < 2.0, f"the call and the exit within 2 s of a 0.5 s limit: {elapsed:.2f} s")
        print(f"dead server: 20 queries, the probe ended after {elapsed:.2f} s")
    finish()


if __name__ == "__main__":
    main()
