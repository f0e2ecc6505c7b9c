#!/usr/bin/env python3
"""Resident memory of the engine over 10,000 passes while sockets open and close, in a private
network namespace (root). Prints the figures; the first passes fill the allocator and the
resolver's bounded cache, so flat means that the second half of the run adds no more than the
allowance.
Usage: memory_bench.py MEMORY_BENCH [PASSES]"""
import os
import sys

from netns import Namespace

ALLOWANCE_KIB = 128


def main():
    bench = sys.argv[1]
    passes = sys.argv[2] if len(sys.argv) > 2 else "10000"
    with Namespace("qvmem") as ns:
        out = ns.run([bench, passes], capture_output=True, text=True, check=True).stdout
    figures = [tuple(int(x) for x in line.split()) for line in out.splitlines()]
    print(f"Resident memory of the engine over {passes} passes, sockets opening and closing")
    print(f"{'pass':>6} {'resident KiB':>13}")
    for number, kib in figures:
        print(f"{number:>6} {kib:>13}")
    first, last = figures[0][1], figures[-1][1]
    half = next(kib for number, kib in figures if number >= figures[-1][0] // 2)
    print(f"first {first} KiB, last {last} KiB; second half {last - half:+d} KiB "
          f"(allowed +{ALLOWANCE_KIB} KiB)")
    return 0 if last - half <= ALLOWANCE_KIB else 1


if __name__ == "__main__":
    sys.exit(main())
