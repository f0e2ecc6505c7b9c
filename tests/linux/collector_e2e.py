#!/usr/bin/env python3
"""One collector pass in a private network namespace, checked against ss.

Two socket holders (listeners, connected pairs, a lingering close, UDP sockets) and dnsmasq (with
PTR records for two of the remote addresses) run in a namespace made for this test; the probe runs
one pass there. Its table must list exactly what `ss -4 -tuanp` lists (endpoints, states, pids),
name each program as basename(readlink /proc/PID/exe), and carry the PTR name as host name where a
record exists and the address text elsewhere.
Usage: collector_e2e.py COLLECTOR_PROBE SOCKET_HOLDER
"""
import os
import sys

from checks import check, finish
from netns import Namespace
from ss_listing import records, split_endpoint

PROBE, HOLDER = sys.argv[1:3]
PTR = {"10.77.0.1": "alpha.quorvane.test", "10.77.0.2": "beta.quorvane.test"}
# ss's state words as the IP Helper's MIB numbers.
MIB = {"LISTEN": 2, "SYN-SENT": 3, "SYN-RECV": 4, "ESTAB": 5, "FIN-WAIT-1": 6, "FIN-WAIT-2": 7,
       "CLOSE-WAIT": 8, "CLOSING": 9, "LAST-ACK": 10, "TIME-WAIT": 11, "CLOSED": 1}

def ss_table(namespace):
    rows = set()
    for record in records(namespace, ["-4", "-tua"]):
        laddr, lport, _ = split_endpoint(record.local)
        raddr, rport, _ = split_endpoint(record.remote)
        pids = sorted(record.pids)
        pid = pids[0] if pids else 0
        if record.protocol == "tcp":
            rows.add(("tcp", laddr, lport, raddr, rport or 0, MIB[record.word], pid))
        else:
            rows.add(("udp", laddr, lport, "000.000.000.000", 0, 0, pid))
    return rows


def program_of(pid):
    if pid == 0:
        return "System"
    try:
        return os.path.basename(os.readlink(f"/proc/{pid}/exe"))
    except OSError:
        return "System"


def main():
    with Namespace("qvcol", resolv_options="timeout:2 attempts:1") as namespace:
        for address in PTR:
            namespace.add_address(address)
        namespace.dnsmasq(PTR)
        a, b = namespace.holder(HOLDER), namespace.holder(HOLDER)
        for line in ("listen 10.77.0.1 7001", "listen 127.0.0.1 7002", "listen 0.0.0.0 7003",
                     "udp 0.0.0.0 7004", "udp 10.77.0.1 7005"):
            a.do(line)
        b.do("listen 10.77.0.2 7008")
        a.do("connect 10.77.0.1 10.77.0.2 7008")
        b.do("connect 10.77.0.2 10.77.0.1 7001")
        b.do("connect 127.0.0.1 127.0.0.1 7002")
        b.do("connect-close 127.0.0.1 127.0.0.1 7003")
        b.do("udp 127.0.0.1 7006")
        a.do("accept")
        b.do("accept")

        probe = namespace.run([PROBE], check=True, capture_output=True, text=True)
        expected = ss_table(namespace)
        entries = [line.split("\t") for line in probe.stdout.splitlines()]
        got = set()
        for e in entries:
            proto, laddr, lport, raddr, rport, state, pid, program, host = e
            got.add((proto, laddr, int(lport), raddr, int(rport), int(state), int(pid)))
            check(program == program_of(int(pid)),
                  f"{e}: program {program!r}, expected {program_of(int(pid))!r}")
            if proto == "tcp" and raddr != "0.0.0.0":
                want = PTR.get(raddr, raddr)
                check(host == want, f"{e}: host name {host!r}, expected {want!r}")
            else:
                check(host == "", f"{e}: host name {host!r}, expected none")
        check(len(got) == len(entries), "duplicate entries in the probe's table")
        protocols = [e[0] for e in entries]
        check(protocols == sorted(protocols, key=lambda p: p != "tcp"), "TCP entries come first")
        for row in sorted(expected - got):
            check(False, f"ss lists {row}, the probe does not")
        for row in sorted(got - expected):
            check(False, f"the probe lists {row}, ss does not")
        states = {r[5] for r in got if r[0] == "tcp"}
        check({2, 5, 7, 8} <= states, f"listen, established, fin-wait-2, close-wait all seen: {states}")
        print(probe.stdout)
        print(f"{len(entries)} entries compared; host names:",
              sorted({e[8] for e in entries if e[8]}))
    finish()


if __name__ == "__main__":
    main()
