#!/usr/bin/env python3
"""The quorvane command end to end, in private network namespaces made for the test.

- complete: 2,000 IPv4 connections, UDP sockets of both families (connected ones too), a
  dual-stack and an IPv6-only listener, an IPv4 client of the dual-stack one: the JSON, CSV and
  default text listings, and those of -4 -6 -t -u -l, hold exactly the endpoints of ss with the
  same options, with its pids and the programs' exact file names; --meter is the engine's own
  meter listing for the same settings (IPv4 only, 1,025 entries).
- odd program name: a holder whose file name holds ESC, "[2J", a newline and a byte that is not
  UTF-8; the text listings carry it escaped, the JSON record exactly.
- dead DNS server: 20 distinct remote addresses, a server that never answers; the listings with
  host names end within 2 seconds, every name the address text.
- live DNS server: dnsmasq answers PTR records for IPv4, IPv6 and an IPv4-mapped peer; the
  names are there, and -n asks for none of them.
- late DNS server: answers come after the first listing's time for look-ups; a one-shot run ends
  without them, and --watch shows them in a later refresh.
Usage: command_e2e.py QUORVANE SOCKET_HOLDER METER_PROBE
"""
import collections
import csv
import io
import json
import os
import shutil
import signal
import subprocess
import sys
import time

from checks import check, finish
from netns import Namespace
from ss_listing import program_of, records as ss_records, split_end

QUORVANE, HOLDER, METER_PROBE = sys.argv[1:4]
ODD_NAME = b"odd\x1b[2J\nname\xff"
JSON_KEYS = ["protocol", "family", "ipv6_only", "local_address", "local_port", "local_service",
             "interface", "remote_address", "remote_port", "remote_service", "state", "pid",
             "pids", "program", "deleted", "host"]
# What tells endpoints apart in the comparisons with ss.
ENDPOINT_KEYS = ["protocol", "family", "local_address", "local_port", "remote_address",
                 "remote_port", "state"]
CONTROL_BYTES = bytes(range(32)) + b"\x7f"
LETTER_ESCAPES = {7: b"\\a", 8: b"\\b", 9: b"\\t", 10: b"\\n", 11: b"\\v", 12: b"\\f", 13: b"\\r"}


def escaped(name):
    """A name as `ls -b` writes it: C escapes for control characters (C0, DEL, C1), for bytes
    that are not UTF-8, and for the backslash."""
    out = b""
    for char in name.decode("utf-8", "surrogateescape"):
        code = ord(char)
        if code == 0x5C:
            out += b"\\\\"
        elif code in LETTER_ESCAPES:
            out += LETTER_ESCAPES[code]
        elif code < 32 or 0x7F <= code <= 0x9F:
            out += b"".join(b"\\%03o" % byte for byte in char.encode("utf-8"))
        elif 0xDC80 <= code <= 0xDCFF:
            out += b"\\%03o" % (code - 0xDC00)
        else:
            out += char.encode("utf-8")
    return out


def text_key(record):
    """An ss record as the default text writes its first four fields."""
    return (record.protocol.upper(), record.local, record.remote, record.state or "-")


def json_key(record):
    """An ss record as the JSON's first seven fields."""
    return (record.protocol, record.family) + split_end(record.local) + \
        split_end(record.remote) + (record.state,)


def remote_address(record):
    return split_end(record.remote)[0]


def quorvane(ns, args, timeout=60):
    """Runs the command in the namespace: (status, stdout bytes, stderr text, seconds)."""
    start = time.monotonic()
    try:
        run = ns.run([QUORVANE, *args], capture_output=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        check(False, f"quorvane {args}: no end within {timeout} s")
        return None, b"", "", timeout
    return run.returncode, run.stdout, run.stderr.decode(errors="replace"), \
        time.monotonic() - start


def json_records(what, out):
    records = []
    for line in out.decode(errors="replace").splitlines():
        try:
            record = json.loads(line)
        except ValueError:
            check(False, f"{what}: not JSON: {line[:200]!r}")
            continue
        check(list(record) == JSON_KEYS, f"{what}: keys {list(record)}")
        records.append(record)
    return records


def listed_key(record):
    """A JSON record as json_key has ss's: the device after the local address, as ss writes it."""
    key = [record[k] for k in ENDPOINT_KEYS]
    if record["interface"] is not None:
        key[ENDPOINT_KEYS.index("local_address")] += "%" + record["interface"]
    return tuple(key)


def compare_keys(what, listed, expected):
    """The same endpoints, each as often."""
    listed, expected = collections.Counter(listed), collections.Counter(expected)
    only_listed, only_ss = listed - expected, expected - listed
    return check(not only_listed and not only_ss,
                 f"{what}: {len(only_listed)} endpoints only listed "
                 f"{sorted(only_listed, key=str)[:5]}, {len(only_ss)} only in ss "
                 f"{sorted(only_ss, key=str)[:5]}")


def check_owner(what, pid, program, ss_pids):
    """An owner ss knows of, named by its executable's exact file name; none where ss has none."""
    if not ss_pids:
        return check(pid is None and program is None, f"{what}: owner {pid} {program!r}, ss none")
    return check(pid in ss_pids and program == program_of(pid),
                 f"{what}: owner {pid} {program!r}, ss {sorted(ss_pids)}")


def same_ends(ss, key_of):
    """ss's records by their ends; sockets sharing both ends (SO_REUSEPORT) share a key."""
    by_key = collections.defaultdict(list)
    for record in ss:
        by_key[key_of(record)].append(record)
    return by_key


def counterpart(candidates, pids):
    """The ss record among those sharing the ends that has these holders, else the first."""
    return next((c for c in candidates if c.pids == pids), candidates[0])


def json_equals_ss(ns, what, ss_options, records, host_of=lambda record: None):
    """The JSON records against ss with ss_options: endpoints, owners, host names."""
    ss = ss_records(ns, ss_options)
    compare_keys(what, [listed_key(r) for r in records], [json_key(s) for s in ss])
    by_key = same_ends(ss, json_key)
    for record in records:
        key = listed_key(record)
        if key not in by_key:
            continue
        ss_record = counterpart(by_key[key], set(record["pids"]))
        program = record["program"]
        check_owner(f"{what} {key}", record["pid"],
                    None if program is None else program.encode("utf-8", "surrogateescape"),
                    ss_record.pids)
        # Every holder, as ss finds them; the lowest of them first.
        check(record["pids"] == sorted(ss_record.pids) and
              record["pid"] == (record["pids"] or [None])[0],
              f"{what} {key}: pids {record['pids']} pid {record['pid']}, "
              f"ss {sorted(ss_record.pids)}")
        want = host_of(ss_record)
        check(record["host"] == want, f"{what} {key}: host {record['host']!r}, want {want!r}")


def text_equals_ss(ns, what, out):
    """Default text against ss: seven tab-separated fields, none of a name's control bytes raw,
    ports by name as ss writes them without -n."""
    ss = ss_records(ns, ["-tua"], numeric=False)
    by_key = same_ends(ss, text_key)
    check(not set(out) & (set(CONTROL_BYTES) - set(b"\t\n")), f"{what}: raw control bytes")
    keys = []
    for line in out.split(b"\n")[:-1]:
        fields = line.split(b"\t")
        if not check(len(fields) == 7, f"{what}: not seven fields: {line[:200]!r}"):
            continue
        protocol, local, remote, state, pid, program, host = fields
        key = (protocol.decode(), local.decode(), remote.decode(), state.decode())
        keys.append(key)
        if key not in by_key:
            continue
        record = counterpart(by_key[key], {int(pid)} if pid.isdigit() else set())
        if record.pids:
            check(pid.isdigit() and int(pid) in record.pids and
                  program == escaped(program_of(int(pid))),
                  f"{what} {key}: owner {pid} {program!r}, ss {sorted(record.pids)}")
        else:
            check(pid == program == b"-", f"{what} {key}: owner {pid} {program!r}, ss none")
        want = (remote_address(record) or "-").encode()
        check(host == want, f"{what} {key}: host {host!r}, want {want!r}")
    check(out.endswith(b"\n") or not out, f"{what}: last line unended")
    compare_keys(what, keys, [text_key(s) for s in ss])


def csv_equals_json(out, records):
    rows = list(csv.reader(io.StringIO(out.decode(errors="surrogateescape"), newline="")))
    check(rows and rows[0] == JSON_KEYS, f"csv header {rows[:1]}")

    def field(value):
        if isinstance(value, bool):
            return str(value).lower()
        if isinstance(value, list):
            return " ".join(map(str, value))
        return "" if value is None else str(value)

    want = [[field(r[k]) for k in JSON_KEYS] for r in records]
    check(sorted(rows[1:]) == sorted(want), f"csv rows differ from JSON: {rows[1:3]} / {want[:2]}")


def build_complete_set(ns):
    """The socket set of the complete listing; returns the holder with the odd program name."""
    for k in range(4):
        ns.holder(HOLDER).do(f"many-tcp 127.0.0.1 {7000 + k} 500")
    mixed = ns.holder(HOLDER)
    mixed.do("udp 127.0.0.1 7501", "udp6 ::1 7502", "udp6 :: 7503", "udp6 :: 7504 v6only",
             "udp-connect 127.0.0.1 127.0.0.1 7501", "udp-connect ::1 ::1 7502",
             "listen6 :: 8080", "listen6 :: 8081 v6only", "listen6 ::1 8082",
             "connect 127.0.0.1 127.0.0.1 8080", "connect6 ::1 ::1 8081",
             "listen 127.0.0.1 7600", "connect-close 127.0.0.1 127.0.0.1 7600", "accept")
    odd_path = os.path.join(ns.tmp.encode(), ODD_NAME)
    shutil.copy(HOLDER, odd_path)
    # Three listeners sharing a port, each in its own process; sockets on one address and port
    # bound to different devices; sockets held by a parent and its child.
    for _ in range(3):
        ns.holder(HOLDER).do("reuseport 127.0.0.1 7800")
    ns.run(["ip", "link", "add", "qv0", "type", "veth", "peer", "name", "qv1"], check=True)
    ns.run(["ip", "link", "set", "qv0", "up"], check=True)
    mixed.do("udp-device 0.0.0.0 7402 lo", "udp-device 0.0.0.0 7402 qv0", "fork 3600")
    odd = ns.holder(os.fsdecode(odd_path))
    odd.do("listen 127.0.0.1 7700", "udp6 ::1 7701", "connect 127.0.0.1 127.0.0.1 7700",
           "accept")
    return odd


# The command's selections and ss's options for the same endpoints.
SELECTIONS = [(["-4"], ["-4", "-tua"]), (["-6"], ["-6", "-tua"]), (["-t"], ["-ta"]),
              (["-u"], ["-ua"]), (["-l"], ["-tul"]), (["-tuln"], ["-tul"]),
              (["-6", "-u"], ["-6", "-ua"]), (["--udp", "--listening", "-4"], ["-4", "-ul"])] + \
    [(["-u", "--state", state], ["-ua", "state", state]) for state in ("all", "connected")] + \
    [(["--state", "all"], ["-tua", "state", "all"])]


def udp_states_equal_ss(ns):
    """--state established and closed pick UDP sockets as ss does (connected, unconnected); ss
    leaves its state column out when one state is asked for, so the ends are compared."""
    for state in ("established", "closed"):
        want = sorted((r.local, r.remote) for r in ss_records(ns, ["-ua", "state", state]))
        status, out, err, _ = quorvane(ns, ["-n", "-u", "--state", state])
        got = sorted(tuple(line.split("\t")[1:3]) for line in out.decode(errors="replace").splitlines())
        check(status == 0 and got == want and len(want) > 1,
              f"-u --state {state}: {len(got)} endpoints, ss {len(want)}: {got[:3]} / {want[:3]}")


def complete(ns):
    odd = build_complete_set(ns)
    ss = ss_records(ns, ["-tua"])
    check(len(ss) > 4000, f"ss lists {len(ss)} endpoints, the holders made over 4,000")
    states = {s.state for s in ss}
    check({"Listening", "Established", "Close Wait", "FIN Wait 2"} <= states, f"states {states}")

    status, out, err, _ = quorvane(ns, ["--format", "json"])
    check(status == 0 and err == "", f"--format json: exit {status} {err!r}")
    records = json_records("--format json", out)
    json_equals_ss(ns, "--format json", ["-tua"], records)
    v6only = {(r["protocol"], r["local_address"], r["local_port"]): r["ipv6_only"] for r in records}
    want = {("udp", "::", 7503): False, ("udp", "::", 7504): True, ("tcp", "::", 8080): False,
            ("tcp", "::", 8081): True, ("udp", "127.0.0.1", 7501): None}
    check(all(v6only.get(k, "missing") == v for k, v in want.items()),
          f"ipv6_only: {[(k, v6only.get(k, 'missing')) for k in want]}")
    for options, ss_options in SELECTIONS:
        what = f"--format json {' '.join(options)}"
        status, out, err, _ = quorvane(ns, ["--format", "json", *options])
        check(status == 0 and err == "", f"{what}: exit {status} {err!r}")
        json_equals_ss(ns, what, ss_options, json_records(what, out))

    status, out, err, _ = quorvane(ns, ["--format", "csv"])
    check(status == 0 and err == "", f"--format csv: exit {status} {err!r}")
    check(b"\r\n" in out, "csv lines end in CRLF")
    csv_equals_json(out, records)

    status, out, err, _ = quorvane(ns, [])
    check(status == 0 and err == "", f"text: exit {status} {err!r}")
    text_equals_ss(ns, "text", out)
    udp_states_equal_ss(ns)

    odd_listing(ns, odd, records, out)
    meter(ns)
    replaced_program(ns)
    forked_owner(ns)


def replaced_program(ns):
    """A program whose file was replaced: named without the kernel's mark, flagged deleted, and
    found by that name and by the process name ss shows (comm, cut to 15 bytes)."""
    path = os.path.join(ns.tmp, "replaced-daemon-v2")
    shutil.copy(HOLDER, path)
    daemon = ns.holder(path)
    daemon.do("listen 127.0.0.1 7950", "udp 127.0.0.1 7951")
    os.unlink(path)
    ss_names = {name for r in ss_records(ns, ["-tua"]) for name, pid in r.owners
                if pid == daemon.pid}
    check(ss_names == {"replaced-daemon"}, f"ss names the replaced program {ss_names}")
    status, out, _, _ = quorvane(ns, ["-n", "--format", "json"])
    mine = [r for r in json_records("replaced", out) if r["pid"] == daemon.pid]
    check(len(mine) == 2 and all(r["program"] == "replaced-daemon-v2" and r["deleted"] is True
                                 for r in mine), f"replaced program: {mine}")
    for name in ["replaced-daemon-v2", *ss_names]:
        status, out, _, _ = quorvane(ns, ["-n", "--format", "json", "--program", name])
        found = json_records(f"--program {name}", out)
        check(status == 0 and len(found) == 2 and all(r["pid"] == daemon.pid for r in found),
              f"--program {name}: {len(found)} records")
    daemon.stop()


def forked_owner(ns):
    """A listener made, then shared with a child that ends: a watch shows both holders, the
    parent first, then the parent alone; never the child alone, never a program unknown."""
    parent = ns.holder(HOLDER)
    watch = subprocess.Popen(ns.command([QUORVANE, "--watch", "0.2", "-n", "--format", "csv",
                                         "--port", "7900"]), stdout=subprocess.PIPE)
    time.sleep(2)  # the first listing, of the whole table, is done
    parent.do("listen 127.0.0.1 7900", "fork 3")
    with open(f"/proc/{parent.pid}/task/{parent.pid}/children") as f:
        child = int(f.read().split()[0])
    time.sleep(7)
    watch.send_signal(signal.SIGINT)
    out = watch.communicate(timeout=10)[0]
    pid, pids, program = (JSON_KEYS.index(k) for k in ("pid", "pids", "program"))
    rows = [row for row in csv.reader(io.StringIO(out.decode(), newline="")) if row[:1] == ["tcp"]]
    check(rows and all(row[pid] == str(parent.pid) and row[program] == "socket_holder"
                       for row in rows), f"forked owner: {[r[pid:program + 1] for r in rows]}")
    seen = [row[pids] for row in rows]
    check(f"{parent.pid} {child}" in seen and seen[-1:] == [str(parent.pid)],
          f"forked owner: holders {sorted(set(seen))}, child {child}")
    parent.stop()


def odd_listing(ns, odd, records, text):
    """The odd name escaped in the text listings, exact in JSON."""
    odd_records = [r for r in records if r["pid"] == odd.pid]
    check(len(odd_records) == 4, f"odd holder: {len(odd_records)} JSON records, want 4")
    check(all(r["program"].encode("utf-8", "surrogateescape") == ODD_NAME for r in odd_records),
          f"odd holder's JSON name {[r['program'] for r in odd_records[:1]]}")
    odd_lines = [line for line in text.split(b"\n") if line.split(b"\t")[4:5] == [b"%d" % odd.pid]]
    check(len(odd_lines) == 4 and all(escaped(ODD_NAME) in line for line in odd_lines),
          f"odd holder's text lines {odd_lines[:1]}")
    status, out, _, _ = quorvane(ns, ["--template", "%pid %nm|"])
    check(status == 0 and b"%d %s|" % (odd.pid, escaped(ODD_NAME)) in out and
          not set(out.rstrip(b"\n")) & set(CONTROL_BYTES), f"--template %nm: {out[:200]!r}")


METER_SETTINGS = """[Full]
Template=%ptt %lip:%lpt %rip:%rpt %stat %pid %nm %hn;
[Count]
Template=x
[Filtered]
Template=%lip %rpt %nm|
flt0=1
zero=1
[Names]
Template=%nm|
"""


def meter(ns):
    """--meter against the engine's meter listing, section by section; a control byte in a name
    comes out as "?", so that the meter's cuts fall where they would."""
    ini = os.path.join(ns.tmp, "meter.ini")
    with open(ini, "w") as f:
        f.write(METER_SETTINGS)
    for section in ("Full", "Count", "Filtered", "Names"):
        reference = ns.run([METER_PROBE, ini, section], capture_output=True, check=True).stdout
        reference = reference.translate(bytes.maketrans(CONTROL_BYTES, b"?" * 33))
        if not reference.endswith(b"\n"):
            reference += b"\n"
        status, out, err, _ = quorvane(ns, ["--meter", "--settings", ini, "--section", section])
        check(status == 0 and err == "", f"--meter [{section}]: exit {status} {err!r}")
        check(out == reference, f"--meter [{section}]: {out[:300]!r}, engine {reference[:300]!r}")
        if section == "Count":
            check(out == b"x" * 1025 + b"\n", f"--meter: {len(out) - 1} entries, want 1,025")
        if section == "Full":
            check(len(out) == 4096, f"--meter: {len(out)} bytes, want the 4,095 of a cut listing")
        if section == "Names":
            check(b"odd?[2J?name\xff|" in out, f"--meter odd name: {out[:200]!r}")


def remote_sets(ns, ipv4, ipv6):
    """A connection to each of the remote addresses (put on lo), through one listener a family."""
    holder = ns.holder(HOLDER)
    holder.do("listen 0.0.0.0 7300", "listen6 :: 7301 v6only")
    for address in ipv4 + ipv6:
        ns.add_address(address)
        if ":" in address:
            holder.do(f"connect6 ::1 {address} 7301")
        else:
            holder.do(f"connect 127.0.0.1 {address} 7300")
    holder.do("accept")


def host_lines(what, out):
    """(protocol, remote address, host) of a '%ptt %rip %hn' listing."""
    lines = [line.split(" ") for line in out.decode().splitlines()]
    check(all(len(line) == 3 for line in lines), f"{what}: {out[:200]!r}")
    return [line for line in lines if len(line) == 3]


def dead_dns(ns):
    ns.silent_dns()
    remotes = [f"10.88.0.{k}" for k in range(1, 11)] + [f"fd00:88::{k}" for k in range(1, 11)]
    remote_sets(ns, remotes[:10], remotes[10:])
    for args in (["--template", "%ptt %rip %hn\\n"], [], ["--format", "json"]):
        status, out, err, seconds = quorvane(ns, args)
        what = f"dead DNS {args}"
        check(status == 0 and err == "", f"{what}: exit {status} {err!r}")
        check(seconds < 2.0, f"{what}: {seconds:.2f} s, want under 2")
        if args == ["--format", "json"]:
            records = json_records(what, out)
            check(len(records) >= 42 and all(r["host"] is None for r in records),
                  f"{what}: hosts {sorted({str(r['host']) for r in records})}")
        elif args:
            lines = host_lines(what, out)
            remote = {line[1] for line in lines if line[2]}
            check(set(remotes) <= remote, f"{what}: remotes {sorted(remote)}")
            check(all(hn == rip for _, rip, hn in lines if hn), f"{what}: names {lines}")
        else:
            text_equals_ss(ns, what, out)


# PTR records of the live server: five IPv4, five IPv6 and one for the peer of an IPv4 client of
# a dual-stack listener, which the listener sees as ::ffff:127.0.0.9.
PTR = dict([(f"10.89.0.{k}", f"v4-{k}.quorvane.test") for k in range(1, 6)] +
           [(f"fd00:89::{k}", f"v6-{k}.quorvane.test") for k in range(1, 6)] +
           [("127.0.0.9", "mapped.quorvane.test")])


# Names of /etc/hosts, which come before DNS as getent and ss -r have them.
HOSTS = {"127.0.0.1": "localhost", "10.89.0.6": "hosts-only.test"}
# A name that reaches the command raw through the system's resolver (glibc's DNS module refuses
# such a name, its hosts file does not): escaped once in text, exact in JSON.
ODD_HOST = ("10.89.0.7", "odd\x1bhost\\name.test")


def live_dns(ns):
    ns.dnsmasq(PTR)
    ns.hosts({**HOSTS, ODD_HOST[0]: ODD_HOST[1]})
    remote_sets(ns, [a for a in [*PTR, *HOSTS, ODD_HOST[0]] if a.startswith("10.")],
                [a for a in PTR if ":" in a])
    ns.holder(HOLDER).do("listen6 :: 8080", "connect 127.0.0.9 127.0.0.1 8080", "accept")
    for address, name in HOSTS.items():
        got = ns.run(["getent", "hosts", address], capture_output=True).stdout.decode().split()
        check(got[1:2] == [name], f"getent hosts {address}: {got}")

    def name_of(address):
        address = address.removeprefix("::ffff:")
        return HOSTS.get(address) or PTR.get(address) or dict([ODD_HOST]).get(address)

    status, out, err, seconds = quorvane(ns, ["--template", "%ptt %rip %hn\\n"])
    check(status == 0 and seconds < 2.0, f"live DNS: exit {status} {err!r} in {seconds:.2f} s")
    lines = host_lines("live DNS", out)
    for _, rip, hn in lines:
        if hn:
            check(hn == escaped((name_of(rip) or rip).encode()).decode(),
                  f"live DNS: {rip} named {hn!r}")
    named = {hn for _, _, hn in lines if hn.endswith(".quorvane.test")}
    check(named == set(PTR.values()), f"live DNS: names {sorted(named)}")
    check(set(HOSTS.values()) <= {hn for _, _, hn in lines}, f"live DNS: hosts names {lines}")

    status, out, err, _ = quorvane(ns, ["--format", "json"])
    json_equals_ss(ns, "live DNS json", ["-tua"], json_records("live DNS json", out),
                   lambda s: remote_address(s) and name_of(remote_address(s)))
    status, out, err, _ = quorvane(ns, [])
    rows = [line.split(b"\t") for line in out.splitlines()]
    odd_hosts = [row[-1] for row in rows if row[2].startswith(ODD_HOST[0].encode() + b":")]
    check(status == 0 and odd_hosts == [escaped(ODD_HOST[1].encode())],
          f"live DNS text: the odd host name escaped once: {odd_hosts}")

    status, out, err, _ = quorvane(ns, ["-n", "--template", "%ptt %rip %hn\\n"])
    lines = host_lines("live DNS -n", out)
    check(status == 0 and lines and all(hn == rip for _, rip, hn in lines if hn),
          f"-n looked names up: {lines}")


# Names that a DNS server gives only after the first listing's time for look-ups.
LATE = {"10.90.0.1": "late-v4.quorvane.test", "10.90.0.2": "late-v4b.quorvane.test",
        "fd00:90::1": "late-v6.quorvane.test"}


def late_names(ns):
    """A one-shot run does not wait for late answers; --watch shows them once they are in."""
    ns.slow_dns(LATE, 2.0)
    remote_sets(ns, [a for a in LATE if "." in a], [a for a in LATE if ":" in a])
    template = ["--template", "%rip %hn\\n"]
    status, out, err, seconds = quorvane(ns, template)
    check(status == 0 and seconds < 2.0, f"late DNS: exit {status} {err!r} in {seconds:.2f} s")
    check(not set(LATE.values()) & set(out.decode().split()), f"late DNS one-shot: {out!r}")
    watch = subprocess.Popen(ns.command([QUORVANE, "--watch", "0.5", *template]),
                             stdout=subprocess.PIPE)
    listings, data, deadline = [], b"", time.monotonic() + 20
    while time.monotonic() < deadline and not (listings and named(listings[-1])):
        chunk = os.read(watch.stdout.fileno(), 65536)
        if not chunk:
            break
        data += chunk
        *done, data = data.split(b"\n\n")
        listings += [dict(line.split(" ") for line in d.decode().splitlines()) for d in done]
    watch.send_signal(signal.SIGINT)
    status = watch.wait(timeout=30)
    watch.stdout.close()
    check(status == 0, f"late DNS --watch: exit {status}")
    check(listings and not named(listings[0]), f"late DNS: first listing {listings[:1]}")
    check(listings and named(listings[-1]), f"late DNS: names never shown: {listings[-1:]}")


def named(listing):
    """Whether a listing (remote address -> host) shows every late name."""
    return all(listing.get(address) == name for address, name in LATE.items())


def main():
    with Namespace("qvcmd") as ns:
        complete(ns)
    with Namespace("qvdead") as ns:
        dead_dns(ns)
    with Namespace("qvlive") as ns:
        live_dns(ns)
    with Namespace("qvlate") as ns:
        late_names(ns)
    finish()


if __name__ == "__main__":
    main()
