#!/usr/bin/env python3
"""A collector pass against `ss -4 -tuanp`, side by side, at 1,000 and 10,000 sockets.

In a private network namespace a socket holder opens the sockets (half connected TCP pairs and
their listener, half bound UDP sockets); then the probe (one pass, table printed) and ss (the same
endpoints with their processes) run alternately, each as a fresh process, and the ratio of their
median times is reported. The figure is a ratio measured in one run; absolute times are noise on a
shared machine.
Usage: collector_vs_ss.py COLLECTOR_PROBE SOCKET_HOLDER [ROUNDS]
"""
import os
import statistics
import subprocess
import sys
import time

PROBE, HOLDER = sys.argv[1:3]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 15
NS = f"qvbench{os.getpid()}"


def in_ns(*command):
    return ["ip", "netns", "exec", NS, *command]


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def measure(sockets):
    holder = subprocess.Popen(in_ns(HOLDER), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              text=True)
    try:
        pairs = sockets // 4
        for line in (f"many-tcp 127.0.0.1 20000 {pairs}",
                     f"many-udp 127.0.0.1 30000 {sockets - 2 * pairs - 1}"):
            holder.stdin.write(line + "\n")
            holder.stdin.flush()
            answer = holder.stdout.readline().strip()
            if answer != "ok":
                raise RuntimeError(f"{line}: {answer}")
        probe, ss = [], []
        for _ in range(ROUNDS):
            probe.append(timed(in_ns(PROBE)))
            ss.append(timed(in_ns("ss", "-4", "-tuanp")))
        ratio = statistics.median(probe) / statistics.median(ss)
        print(f"{sockets} sockets: pass / ss = {ratio:.2f} "
              f"(medians {statistics.median(probe) * 1000:.1f} ms / "
              f"{statistics.median(ss) * 1000:.1f} ms over {ROUNDS} rounds)")
        return ratio
    finally:
        holder.stdin.close()
        holder.wait()


def main():
    subprocess.run(["ip", "netns", "add", NS], check=True)
    try:
        subprocess.run(in_ns("ip", "link", "set", "lo", "up"), check=True)
        for sockets in (1000, 10000):
            measure(sockets)
    finally:
        subprocess.run(["ip", "netns", "del", NS])
    return 0


if __name__ == "__main__":
    sys.exit(main())
