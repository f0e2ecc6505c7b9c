#!/usr/bin/env python3
"""The Linux layer's socket table against ss, in a private network namespace.

Two socket holders make IPv4 and IPv6 sockets of every kind there: listeners (IPv4, dual-stack,
IPv6-only), connections (IPv6, an IPv4 client of the dual-stack listener, which the server side
sees IPv4-mapped), a lingering close, bound and connected UDP sockets of both families. The probe
prints the table from netlink, from /proc/net (the fallback), and after repeated calls (owners
kept between calls); each must hold exactly what `ss -tuanpH` lists: protocol, family, addresses,
ports, state, pid, and from netlink whether an IPv6 socket is v6-only.
Usage: socket_table_e2e.py SOCKET_TABLE_PROBE SOCKET_HOLDER
"""
import ipaddress
import sys

from checks import check, finish
from netns import Namespace
from ss_listing import records, split_endpoint

PROBE, HOLDER = sys.argv[1:3]
# ss's state words as the MIB numbers the table carries (UDP has none).
MIB = {"LISTEN": 2, "SYN-SENT": 3, "SYN-RECV": 4, "ESTAB": 5, "FIN-WAIT-1": 6, "FIN-WAIT-2": 7,
       "CLOSE-WAIT": 8, "CLOSING": 9, "LAST-ACK": 10, "TIME-WAIT": 11, "UNCONN": 1, "CLOSED": 1}


def end_of(text):
    """An ss end as (family, address, port, any_dual_stack), an unconnected port 0."""
    address, port, dual = split_endpoint(text)
    family = 6 if ":" in address else 4
    if family == 6:
        address = str(ipaddress.IPv6Address(address))
    return family, address, port or 0, dual


def ss_rows(ns):
    rows = set()
    for record in records(ns, ["-tua"]):
        family, laddr, lport, dual = end_of(record.local)
        rfamily, raddr, rport, _ = end_of(record.remote)
        if rfamily != family:  # the peer of a dual-stack socket, written "*" or "0.0.0.0"
            raddr = "::" if family == 6 else "0.0.0.0"
        pids = sorted(record.pids)
        # v6-only is told for listening and unconnected IPv6 sockets bound to the any address.
        v6only = None
        if family == 6 and laddr == "::" and raddr == "::":
            v6only = 0 if dual else 1
        rows.add((record.protocol, family, laddr, lport, raddr, rport,
                  MIB[record.word] if record.protocol == "tcp" else 0, pids[0] if pids else 0,
                  v6only))
    return rows


def probe_rows(ns, *options, v6only=True):
    out = ns.run([PROBE, *options], check=True, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        proto, family, only, laddr, lport, raddr, rport, state, pid = line.split("\t")
        family = int(family)
        if family == 6:
            laddr = str(ipaddress.IPv6Address(laddr))
            raddr = str(ipaddress.IPv6Address(raddr))
        told = family == 6 and laddr == "::" and raddr == "::" and v6only
        rows.append((proto, family, laddr, int(lport), raddr, int(rport), int(state), int(pid),
                     int(only) if told else None))
    return rows


def compare(name, got, expected, strip_v6only=False):
    if strip_v6only:
        expected = {row[:-1] + (None,) for row in expected}
    check(len(set(got)) == len(got), f"{name}: a row listed twice")
    for row in sorted(expected - set(got), key=str):
        check(False, f"{name}: ss lists {row}, the table does not")
    for row in sorted(set(got) - expected, key=str):
        check(False, f"{name}: the table lists {row}, ss does not")
    order = [(r[0] != "tcp", r[1]) for r in got]
    check(order == sorted(order), f"{name}: TCP before UDP, IPv4 before IPv6 within each")
    print(f"{name}: {len(got)} rows compared")


def main():
    with Namespace("qvsock") as ns:
        for address in ("10.78.0.1", "fd00::1", "fd00::2"):
            ns.add_address(address)
        a, b = ns.holder(HOLDER), ns.holder(HOLDER)
        a.do("listen 10.78.0.1 7101", "listen6 :: 7102", "listen6 :: 7103 v6only",
             "listen6 fd00::1 7104", "udp 0.0.0.0 7105", "udp6 :: 7106",
             "udp-connect 127.0.0.1 127.0.0.1 7105", "udp-connect ::1 ::1 7106")
        b.do("connect 127.0.0.1 127.0.0.1 7102", "connect6 ::1 ::1 7103",
             "connect6 fd00::2 fd00::1 7104", "connect6 ::ffff:10.78.0.1 ::ffff:10.78.0.1 7101",
             "connect-close 127.0.0.1 10.78.0.1 7101", "many-tcp ::1 7200 20",
             "udp-connect fd00::2 fd00::1 7106")
        a.do("accept")
        expected = ss_rows(ns)
        netlink = probe_rows(ns)
        compare("netlink", netlink, expected)
        compare("netlink, third call", probe_rows(ns, "--repeat", "3"), expected)
        compare("/proc/net", probe_rows(ns, "--proc", v6only=False), expected, strip_v6only=True)

        by_port = {(r[0], r[3], r[4]): r for r in netlink}
        check(by_port.get(("tcp", 7102, "::"), ())[8:] == (0,), "the [::]:7102 listener is dual-stack")
        check(by_port.get(("tcp", 7103, "::"), ())[8:] == (1,), "the [::]:7103 listener is v6-only")
        mapped = [r for r in netlink if r[0] == "tcp" and r[3] == 7102 and r[6] == 5]
        check(len(mapped) == 1 and mapped[0][1] == 6 and mapped[0][2] == "::ffff:7f00:1",
              f"the IPv4 client's server side is IPv6, IPv4-mapped: {mapped}")
        connected = [r for r in netlink if r[0] == "udp" and r[5] != 0]
        check(len(connected) == 3, f"three connected UDP sockets with their remote end: {connected}")
        check(any(r[6] == 7 and r[7] == 0 for r in netlink), "the closed side lingers, with no owner")
        check({a.pid, b.pid} <= {r[7] for r in netlink}, "both holders own sockets")
    finish()


if __name__ == "__main__":
    main()
