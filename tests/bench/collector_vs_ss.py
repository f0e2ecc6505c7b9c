#!/usr/bin/env python3
"""A collector pass against `ss -4 -tuanp`, side by side, at 1,000 and 10,000 sockets.

In a private network namespace 50 socket holders share the sockets (half in connected TCP pairs
with their listener, half bound UDP sockets); then the probe (one pass, table printed) and ss (the
same endpoints with their processes) run alternately, each as a fresh process, and the ratio of
their median times is reported against the goal. The figure is a ratio measured in one run;
absolute times are noise on a shared machine.
Usage: collector_vs_ss.py COLLECTOR_PROBE SOCKET_HOLDER [ROUNDS]
"""
import os
import statistics
import subprocess
import sys
import time

from netns import Namespace
from ss_listing import records as ss_records

PROBE, HOLDER = sys.argv[1:3]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 15
PROCESSES = 50
GOAL = 1.0


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def measure(sockets):
    with Namespace("qvbench") as ns:
        each = sockets // PROCESSES
        pairs = each // 4
        udp = each - 2 * pairs - 1
        for k in range(PROCESSES):
            ns.holder(HOLDER).do(f"many-tcp 127.0.0.1 {20000 + k} {pairs}",
                                 f"many-udp 127.0.0.1 {30000 + k * udp} {udp}")
        listed = len(ss_records(ns, ["-4", "-tua"]))
        probe, ss = [], []
        for _ in range(ROUNDS):
            probe.append(timed(ns.command([PROBE])))
            ss.append(timed(ns.command(["ss", "-4", "-tuanp"])))
    ratio = statistics.median(probe) / statistics.median(ss)
    print(f"{listed:>8} {statistics.median(probe) * 1000:>9.1f} "
          f"{statistics.median(ss) * 1000:>9.1f} {ratio:>6.2f}x {'<=':>3}{GOAL:.1f}x", flush=True)
    return ratio


def main():
    print(f"A collector pass (probe process) against `ss -4 -tuanp`, {PROCESSES} processes, "
          f"medians of {ROUNDS} alternating rounds")
    print(f"{'sockets':>8} {'pass ms':>9} {'ss ms':>9} {'ratio':>7} {'goal':>6}")
    ratios = [measure(sockets) for sockets in (1000, 10000)]
    return 0 if max(ratios) <= GOAL else 1


if __name__ == "__main__":
    sys.exit(main())
