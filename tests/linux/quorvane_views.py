#!/usr/bin/env python3
"""The quorvane command's views in a private network namespace with a known socket set: the
filters alone and combined against ss with the same filter, --summary's counts against ss, and
the aligned table on a pseudo-terminal against the plain rows of a pipe. Then every namespace at
once (-A) and chosen ones (--netns) across five namespaces of every kind, against ss inside each,
and -A as an ordinary user; and who owns each endpoint, with listeners placed in real cgroups laid
out as the container runtimes and systemd lay them out, one running as nobody, and container
runtime API sockets served by the test."""
import contextlib
import hashlib
import json
import os
import pty
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

from checks import check, finish
from netns import Holder, Namespace
from ss_listing import program_of, records, split_end

# ss's state filter words, each with the name the listing gives that state.
STATE_WORDS = [
    ("established", "Established"), ("syn-sent", "SYN Sent"), ("syn-recv", "SYN Received"),
    ("fin-wait-1", "FIN Wait 1"), ("fin-wait-2", "FIN Wait 2"), ("time-wait", "Time Wait"),
    ("closed", "Closed"), ("close-wait", "Close Wait"), ("last-ack", "Last ACK"),
    ("listening", "Listening"), ("closing", "Closing"),
]
HEADINGS = ["Proto", "Local", "Remote", "State", "PID", "Program", "Host"]


def ss_rows(ns, args):
    """What ss lists: (protocol, local, remote) -> set of owning (program, pid)."""
    return {(r.protocol, r.local, r.remote): r.owners for r in records(ns, ["-a", *args])}


def quorvane_rows(ns, binary, args):
    """The command's rows in a pipe, each with its fields: (protocol, local, remote) -> fields."""
    run = ns.run([binary, "-n"] + args, capture_output=True, text=True, timeout=60)
    check(run.returncode == 0 and run.stderr == "",
          f"quorvane {' '.join(args)}: exit {run.returncode} {run.stderr!r}")
    rows = {}
    for line in run.stdout.splitlines():
        fields = line.split("\t")
        check(len(fields) == 7, f"quorvane {' '.join(args)}: row {line!r}")
        rows[(fields[0].lower(), fields[1], fields[2])] = fields
    return rows


def same_rows(ns, binary, args, ss_args, owner=lambda owners: True):
    """The rows of quorvane ARGS are those of ss SS_ARGS whose owners pass owner()."""
    want = {key for key, owners in ss_rows(ns, ss_args).items() if owner(owners)}
    got = set(quorvane_rows(ns, binary, args))
    check(got == want, f"quorvane {' '.join(args)} vs ss {' '.join(ss_args)}: only quorvane "
          f"{sorted(got - want)}, only ss {sorted(want - got)}")
    return got


def port(endpoint):
    text = endpoint.rpartition(":")[2]
    return 0 if text == "*" else int(text)


def port_clause(ports):
    return ["("] + " or ".join(f"sport = :{p} or dport = :{p}" for p in ports).split() + [")"]


def filters(ns, binary, holders):
    a, b, peer = holders
    everything = same_rows(ns, binary, [], ["-tu"])
    for word, name in STATE_WORDS:
        for spelling in {word, name, name.upper()}:
            got = same_rows(ns, binary, ["--state", spelling], ["-tu", "state", word])
        if word in ("established", "listening", "close-wait", "fin-wait-2"):
            check(got, f"--state {word}: the socket set holds some")
    same_rows(ns, binary, ["--state", "established", "--state", "time-wait"],
              ["-tu", "state", "established", "state", "time-wait"])
    for ports in ([7001], [7003], [7004], [7005, 7103], [7001, 7100], [7001, 7002, 7003, 7102]):
        args = [arg for port in ports for arg in ("--port", str(port))]
        same_rows(ns, binary, args, ["-tu"] + port_clause(ports))
    for pids in ([a.pid], [a.pid, peer.pid]):
        args = [arg for pid in pids for arg in ("--pid", str(pid))]
        same_rows(ns, binary, args, ["-tu"], lambda owners: any(p in pids for _, p in owners))
    for names in (["socket_holder"], ["qv-peer"], ["qv-peer", "socket_holder"]):
        args = [arg for name in names for arg in ("--program", name)]
        same_rows(ns, binary, args, ["-tu"], lambda owners: any(n in names for n, _ in owners))
    same_rows(ns, binary, ["--program", "socket"], ["-tu"], lambda owners: False)

    # Different options must all match.
    same_rows(ns, binary, ["--state", "established", "--port", "7001", "--pid", str(b.pid)],
              ["-tu", "state", "established"] + port_clause([7001]),
              lambda owners: any(p == b.pid for _, p in owners))
    same_rows(ns, binary, ["--port", "7001", "--port", "7100", "--program", "socket_holder"],
              ["-tu"] + port_clause([7001, 7100]),
              lambda owners: any(n == "socket_holder" for n, _ in owners))
    same_rows(ns, binary, ["--state", "listen", "--program", "qv-peer", "--port", "7001"],
              ["-tu", "state", "listening"] + port_clause([7001]),
              lambda owners: any(n == "qv-peer" for n, _ in owners))
    # UDP has states as ss sees them: connected is established, unconnected closed.
    udp = [key for key in same_rows(ns, binary, ["--state", "all"], ["-tu", "state", "all"])
           if key[0] == "udp"]
    check(udp, "--state all keeps the UDP sockets, as ss does")

    # The filters apply to the other formats too.
    for args in (["--port", "7001"], ["--state", "listening", "--pid", str(a.pid)]):
        rows = quorvane_rows(ns, binary, args)
        run = ns.run([binary, "-n", "--format", "json"] + args, capture_output=True, text=True,
                     timeout=60)
        records = [json.loads(line) for line in run.stdout.splitlines()]
        check(sorted((r["local_port"], r["remote_port"] or 0) for r in records) ==
              sorted((port(local), port(remote)) for _, local, remote in rows),
              f"--format json {' '.join(args)}: {run.stdout[:300]!r}")
        run = ns.run([binary, "-n", "--format", "csv"] + args, capture_output=True, text=True,
                     timeout=60)
        check(len(run.stdout.splitlines()) == len(rows) + 1,
              f"--format csv {' '.join(args)}: {run.stdout[:300]!r}")
    return everything


def bad_values(ns, binary):
    for args, option in [(["--state", "establishd"], "--state"), (["--state", ""], "--state"),
                         (["--port", "65536"], "--port"),
                         (["--port", "no-such-service"], "--port"),
                         (["--pid", "-3"], "--pid"), (["--pid", "1x"], "--pid"),
                         (["--program", ""], "--program"), (["--port"], "--port")]:
        for extra in ([], ["--summary"], ["--format", "json"]):
            run = ns.run([binary] + args + extra, capture_output=True, text=True, timeout=60)
            what = " ".join(args + extra)
            check(run.returncode == 2 and run.stdout == "" and
                  len(run.stderr.splitlines()) == 1 and option in run.stderr,
                  f"{what}: exit {run.returncode}, stdout {run.stdout!r}, stderr {run.stderr!r}")


def ss_named_rows(ns, args):
    """ss's (local, remote) ends as it writes them, ports by name unless -n is among ARGS."""
    out = ns.run(["ss", "-H"] + args, check=True, capture_output=True, text=True).stdout
    return {tuple(line.split()[-2:]) for line in out.splitlines()}


def quorvane_named_rows(ns, binary, args):
    run = ns.run([binary] + args, capture_output=True, text=True, timeout=60)
    check(run.returncode == 0 and run.stderr == "", f"quorvane {args}: {run.stderr!r}")
    return {tuple(line.split("\t")[1:3]) for line in run.stdout.splitlines()}


def ss_habits(ns, binary):
    """ss's filter language said with options, and ports by name as ss writes them."""
    # ss gives "and" and "or" the same precedence, left to right: the brackets say what is meant.
    ranged = ["(", "(", "sport", ">=", ":1", "and", "sport", "<=", ":1023", ")", "or", "(",
              "dport", ">=", ":1", "and", "dport", "<=", ":1023", ")", ")"]
    not_22 = ["and", "not", "(", "sport", "=", ":22", "or", "dport", "=", ":22", ")"]
    loopback = ["and", "(", "src", "127.0.0.0/8", "or", "dst", "127.0.0.0/8", ")"]
    kept = same_rows(ns, binary, ["--port", "1-1023", "--not-port", "22", "--address", "127.0.0.0/8"],
                     ["-tu"] + ranged + not_22 + loopback)
    check({"127.0.0.1:80", "127.0.0.1:53"} <= {local for _, local, _ in kept} and
          not any(port(local) == 22 or port(remote) == 22 for _, local, remote in kept),
          f"--port 1-1023 --not-port 22 --address 127.0.0.0/8: {sorted(kept)}")
    same_rows(ns, binary, ["--port", "https", "--address", "::1"],
              ["-tu", "(", "sport", "=", ":443", "or", "dport", "=", ":443", ")", "and", "(",
               "src", "[::1]", "or", "dst", "[::1]", ")"])
    same_rows(ns, binary, ["--local", "127.0.0.0/24", "--not-remote", "127.0.0.2"],
              ["-tu", "src", "127.0.0.0/24", "and", "not", "dst", "127.0.0.2"])
    same_rows(ns, binary, ["--not-state", "listening", "--not-address", "::1"],
              ["-tu", "exclude", "listening", "not", "(", "src", "[::1]", "or", "dst", "[::1]",
               ")"])

    for args in (["-tl"], ["-tua"], ["-tln"], ["-tuan"]):
        got, want = quorvane_named_rows(ns, binary, args), ss_named_rows(ns, args)
        check(got == want, f"quorvane {args} vs ss: only quorvane {sorted(got - want)}, only ss "
              f"{sorted(want - got)}")
        named = {("127.0.0.1:ssh", "0.0.0.0:*"), ("0.0.0.0:http", "0.0.0.0:*")}
        check((named <= got) == ("-tln" not in args and "-tuan" not in args),
              f"quorvane {args}: ssh and http by name only without -n: {sorted(got)}")
    run = ns.run([binary, "-t", "--port", "22", "--format", "json"], capture_output=True,
                 text=True, timeout=60)
    services = {(json.loads(line)["local_service"], json.loads(line)["remote_service"])
                for line in run.stdout.splitlines()}
    check(services == {("ssh", None), (None, "ssh")},
          f"--format json: the ports' services, none in the ephemeral range: {services}")
    run = ns.run([binary, "-tl", "--port", "ssh", "--template", "%lsv %rsv\\n"],
                 capture_output=True, text=True, timeout=60)
    check(run.stdout == "ssh *\n", f"%lsv and %rsv: {run.stdout!r}")
    # -s is --summary; -r is taken from habit.
    short = ns.run([binary, "-s", "--format", "json", "-r"], capture_output=True, text=True,
                   timeout=60)
    long = ns.run([binary, "--summary", "--format", "json"], capture_output=True, text=True,
                  timeout=60)
    check(short.returncode == 0 and json.loads(short.stdout)["total"] ==
          json.loads(long.stdout)["total"], f"-s: {short.stdout!r} {short.stderr!r}")


def family(local):
    return "ipv6" if local.startswith(("[", "*")) else "ipv4"


def summary(ns, binary, args, ss_args, owner=lambda owners: True):
    """--summary --format json ARGS counts what ss SS_ARGS lists."""
    run = ns.run([binary, "--summary", "--format", "json"] + args, capture_output=True,
                 text=True, timeout=60)
    lines = run.stdout.splitlines()
    check(run.returncode == 0 and len(lines) == 1, f"--summary json {args}: {run.stdout!r}")
    got = json.loads(lines[0])
    rows = {k: o for k, o in ss_rows(ns, ss_args).items() if owner(o)}
    check(got["total"] == len(rows), f"--summary {args}: total {got['total']}, ss {len(rows)}")
    for protocol in ("tcp", "udp"):
        for fam in ("ipv4", "ipv6"):
            want = sum(1 for p, local, _ in rows if p == protocol and family(local) == fam)
            check(got[protocol][fam] == want,
                  f"--summary {args}: {protocol} {fam} {got[protocol][fam]}, ss {want}")
    for word, name in STATE_WORDS:
        want = sum(1 for key in ss_rows(ns, ["-t", "state", word]) if key in rows)
        check(got["tcp_states"][name] == want,
              f"--summary {args}: {name} {got['tcp_states'][name]}, ss {want}")
    programs = {}
    for owners in rows.values():
        for name in {n for n, _ in owners} or {None}:
            programs[name] = programs.get(name, 0) + 1
    want = sorted(programs.items(), key=lambda item: (-item[1], item[0] or ""))
    check([(p["program"], p["endpoints"]) for p in got["programs"]] == want,
          f"--summary {args}: programs {got['programs']}, ss {want}")

    run = ns.run([binary, "--summary"] + args, capture_output=True, text=True, timeout=60)
    lines = run.stdout.splitlines()
    total = [line.split() for line in lines if line.startswith("Total")]
    check(run.returncode == 0 and total and total[0][-1] == str(len(rows)),
          f"--summary {args} text: {run.stdout!r}")
    # No heading stands over nothing (no TCP state with -u).
    check(all(len(table.strip("\n").splitlines()) >= 2 for table in run.stdout.split("\n\n")),
          f"--summary {args} text: an empty heading in {run.stdout!r}")


def on_terminal(ns, binary, args):
    """What the command writes to a pseudo-terminal."""
    pid, terminal = pty.fork()
    if pid == 0:
        command = ns.command([binary, "-n"] + args)
        os.execvp(command[0], command)
    data = b""
    while True:
        try:
            chunk = os.read(terminal, 65536)
        except OSError:  # the terminal's other end closed
            break
        if not chunk:
            break
        data += chunk
    _, status = os.waitpid(pid, 0)
    os.close(terminal)
    check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0, f"{args} on a terminal: {status}")
    return data.decode().replace("\r\n", "\n").splitlines()


def spans(line):
    """Where the cells of a table's line are: runs of text with single blanks inside ("Time
    Wait"), two blanks at least between them."""
    return [(m.start(), m.end()) for m in re.finditer(r"\S+(?: \S+)*", line)]


def cells(line):
    return [line[start:end] for start, end in spans(line)]


def check_aligned(lines, what):
    """Every cell of a column starts where the column does (PID's end where it does), cells are
    two blanks apart at least, no line ends in a blank, and each column is as wide as its widest
    cell, heading included."""
    layout = [spans(line) for line in lines]
    check(all(len(cells) == len(HEADINGS) for cells in layout), f"{what}: not seven cells")
    check(not any(line.endswith(" ") for line in lines), f"{what}: a line ends in a blank")
    if not lines or not all(len(cells) == len(HEADINGS) for cells in layout):
        return
    for index in range(len(HEADINGS)):
        edge = 1 if index == 4 else 0  # PID is aligned on the right
        edges = {cells[index][edge] for cells in layout}
        check(len(edges) == 1, f"{what}: column {HEADINGS[index]} at {sorted(edges)}")
    for index in range(3):
        width = layout[0][index + 1][0] - layout[0][index][0] - 2
        widest = max(end - start for start, end in (cells[index] for cells in layout))
        check(widest == width, f"{what}: column {HEADINGS[index]} is {width} wide, its widest "
              f"cell {widest}")


def table(ns, binary, everything):
    piped = quorvane_rows(ns, binary, [])
    lines = on_terminal(ns, binary, [])
    check(lines and cells(lines[0]) == HEADINGS, f"terminal header: {lines[:1]}")
    check(len(lines) == len(everything) + 1,
          f"terminal: {len(lines) - 1} rows, ss {len(everything)}")
    check_aligned(lines, "terminal")
    # The same cells as the pipe's rows (no name of this socket set holds a blank).
    check(sorted(cells(line) for line in lines[1:]) == sorted(piped.values()),
          "terminal cells differ from the piped rows")

    for option in ("--no-header", "-H"):
        lines = on_terminal(ns, binary, [option])
        check(sorted(cells(line) for line in lines) == sorted(piped.values()),
              f"{option} on a terminal: {lines[:2]}")
        check_aligned(lines, f"{option} on a terminal")
    lines = on_terminal(ns, binary, ["--state", "listening"])
    check(lines and cells(lines[0]) == HEADINGS and len(lines) == 1 + len(
        quorvane_rows(ns, binary, ["--state", "listening"])), f"filtered table: {lines}")
    check_aligned(lines, "filtered table")
    lines = on_terminal(ns, binary, ["--template", "%lpt\\n"])
    check(lines and all(line.isdigit() for line in lines), f"--template on a terminal: {lines}")

    run = ns.run([binary, "-n"], capture_output=True, text=True, timeout=60)
    check(not run.stdout.startswith("Proto") and "  " not in run.stdout,
          f"pipe: no header, no alignment: {run.stdout[:200]!r}")
    run = ns.run([binary, "-n", "--header"], capture_output=True, text=True, timeout=60)
    lines = run.stdout.splitlines()
    check(lines and lines[0] == "\t".join(HEADINGS) and len(lines) == len(piped) + 1,
          f"--header in a pipe: {lines[:2]}")


class Entered:
    """A namespace held only by a process (unshare -n), entered by pid as ss users do."""

    def __init__(self, pid):
        self.pid = pid

    def run(self, args, **options):
        return subprocess.run(["nsenter", "-t", str(self.pid), "-n"] + list(args), **options)


@contextlib.contextmanager
def anonymous_holder(holder_program, docker_name=None):
    """A socket holder in a namespace of its own that nothing names; with docker_name, that
    namespace bind-mounted under /run/docker/netns as Docker keeps its containers'."""
    holder = Holder(["unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0"',
                     holder_program])
    made = not os.path.isdir("/run/docker/netns")
    mounted = f"/run/docker/netns/{docker_name}" if docker_name else None
    try:
        holder.do("udp 127.0.0.1 7199")  # answered once lo is up and the holder runs
        if mounted:
            os.makedirs("/run/docker/netns", exist_ok=True)
            open(mounted, "w").close()
            subprocess.run(["mount", "--bind", f"/proc/{holder.pid}/ns/net", mounted], check=True)
        yield holder
    finally:
        holder.stop()
        if mounted:
            subprocess.run(["umount", mounted], stderr=subprocess.DEVNULL)
            with contextlib.suppress(OSError):
                os.remove(mounted)
            if made:
                with contextlib.suppress(OSError):
                    os.removedirs("/run/docker/netns")


def json_records(binary, args, user=None):
    """quorvane's JSON records for args, its exit status and its stderr."""
    prefix = ["setpriv", f"--reuid={user}", "--regid=nogroup", "--clear-groups"] if user else []
    run = subprocess.run(prefix + [binary, "-n", "--format", "json"] + args, capture_output=True,
                         text=True, timeout=60)
    return [json.loads(line) for line in run.stdout.splitlines()], run.returncode, run.stderr


def ss_keys(place):
    """ss's endpoints inside a namespace: (protocol, local, remote, state) -> owners' pids."""
    found = {}
    for record in records(place, ["-tua"]):
        key = (record.protocol, split_end(record.local), split_end(record.remote), record.state)
        check(key not in found, f"ss lists {key} twice")
        found[key] = record.pids
    return found


def json_key(record):
    def end(side):
        address = record[f"{side}_address"]
        return (None, None) if address is None else (address, record[f"{side}_port"])
    return (record["protocol"], end("local"), end("remote"), record["state"])


def same_as_ss(what, records, place, inode, name):
    """The records of one namespace are ss's inside it, each once, with its owners and name."""
    mine = [r for r in records if r["netns_inode"] == inode]
    got = {}
    for record in mine:
        key = json_key(record)
        check(key not in got, f"{what}: {key} twice")
        got[key] = record
        check(record["netns"] == name, f"{what} {key}: netns {record['netns']!r}, want {name!r}")
        if record["pid"] is not None:
            check(record["program"] == program_of(record["pid"]).decode(),
                  f"{what} {key}: program {record['program']!r} of {record['pid']}")
    want = ss_keys(place)
    check(set(got) == set(want), f"{what}: only quorvane {sorted(set(got) - set(want))}, "
          f"only ss {sorted(set(want) - set(got))}")
    for key in set(got) & set(want):
        check(set(got[key]["pids"]) == want[key], f"{what} {key}: pids {got[key]['pids']}, "
              f"ss {sorted(want[key])}")
    return len(mine)


def busy(holder, ipv6=False):
    """A listener, a connection to it and UDP sockets: the same ends in every namespace."""
    holder.do("listen 127.0.0.1 7001", "connect 127.0.0.1 127.0.0.1 7001", "udp 0.0.0.0 7100",
              "accept")
    if ipv6:
        holder.do("listen6 ::1 7002 v6only", "connect6 ::1 ::1 7002", "accept")


def every_namespace(binary, holder_program):
    pid = os.getpid()
    with Namespace("qvnsa") as a, Namespace("qvnsb") as b, Namespace("qvnsc") as c, \
            anonymous_holder(holder_program) as hidden, \
            anonymous_holder(holder_program, f"qvdock{pid}") as docked:
        busy(a.holder(holder_program))
        busy(b.holder(holder_program), ipv6=True)
        c.holder(holder_program).do("udp 127.0.0.1 7300")
        busy(hidden)
        busy(docked)
        places = [(ns.name, ns, os.stat(f"/run/netns/{ns.name}").st_ino, ns.name)
                  for ns in (a, b, c)]
        places += [("anonymous", Entered(hidden.pid), os.stat(f"/proc/{hidden.pid}/ns/net").st_ino,
                    None),
                   ("docker", Entered(docked.pid), os.stat(f"/proc/{docked.pid}/ns/net").st_ino,
                    f"qvdock{pid}")]
        records, status, errors = json_records(binary, ["-A"])
        check(status == 0 and errors == "", f"-A: exit {status} {errors!r}")
        for what, place, inode, name in places:
            check(same_as_ss(f"-A {what}", records, place, inode, name) > 0, f"-A {what}: empty")
        host = os.stat("/proc/self/ns/net").st_ino
        check(any(r["netns_inode"] == host for r in records), "-A: not the caller's namespace")

        # --netns by name, path and pid, alone and together with -A: exactly those namespaces.
        inodes = {what: inode for what, _, inode, _ in places}
        for args, wanted in [
                (["--netns", a.name], [a.name]),
                (["--netns", f"/run/docker/netns/qvdock{pid}"], ["docker"]),
                (["--netns", str(hidden.pid), "-A", "--netns", b.name], ["anonymous", b.name]),
                (["--netns", a.name, "--netns", str(a.holders[0].pid)], [a.name])]:
            chosen, status, errors = json_records(binary, args)
            check(status == 0 and errors == "", f"{args}: exit {status} {errors!r}")
            check({r["netns_inode"] for r in chosen} == {inodes[w] for w in wanted},
                  f"{args}: namespaces {sorted({r['netns_inode'] for r in chosen})}")
            for what, place, inode, name in places:
                if what in wanted:
                    same_as_ss(f"{args} {what}", chosen, place, inode, name)
        for value in [f"qvnone{pid}", "/etc/hostname", "999999999", "", f"/proc/{pid}/ns/mnt"]:
            _, status, errors = json_records(binary, ["--netns", value])
            check(status == 2 and errors.count("\n") == 1 and "--netns" in errors,
                  f"--netns {value!r}: exit {status} {errors!r}")

        # The table's first column says where; the summary counts each namespace.
        run = subprocess.run([binary, "-n", "-A", "--port", "7001"], capture_output=True,
                             text=True, timeout=60)
        wheres = {line.split("\t")[0] for line in run.stdout.splitlines()}
        check({a.name, b.name, f"qvdock{pid}", f"net:[{inodes['anonymous']}]"} <= wheres,
              f"-A table: {sorted(wheres)}")
        summary_line, _, _ = json_records(binary, ["-A", "--summary"])
        counts = {n["netns_inode"]: n["endpoints"] for n in summary_line[0]["namespaces"]}
        for what, _, inode, _ in places:
            check(counts.get(inode) == sum(1 for r in records if r["netns_inode"] == inode),
                  f"-A --summary {what}: {counts.get(inode)}")

        # An ordinary user lists its own namespace and says once what it could not enter.
        mine, status, errors = json_records(binary, ["-A"], user="nobody")
        check(status == 0 and errors.count("\n") == 1 and "could not read" in errors and
              "network namespaces" in errors, f"-A as nobody: exit {status} {errors!r}")
        check(mine and all(r["netns_inode"] == host for r in mine),
              f"-A as nobody: {sorted({r['netns_inode'] for r in mine})}")

CGROUPS = "/sys/fs/cgroup"


class Cgroups:
    """Directories under this test's own root in cgroup hierarchies, processes moved into them;
    on leaving, the processes moved back to each hierarchy's root and the directories removed."""

    def __init__(self, base=CGROUPS):
        self.base = base  # where the hierarchies are mounted
        self.root = f"qv{os.getpid()}"
        self.made = []  # (hierarchy, relative path), parents first
        self.pids = []

    def place(self, pid, hierarchy, path):
        """Moves pid into hierarchy/ROOT.slice/path (v2, "unified") or hierarchy/ROOT/path."""
        top = self.root + (".slice" if hierarchy == "unified" else "")
        relative = top
        for part in [""] + path.split("/"):
            relative = os.path.join(relative, part) if part else relative
            full = os.path.join(self.base, hierarchy, relative)
            if not os.path.isdir(full):
                os.mkdir(full)
                self.made.append((hierarchy, relative))
        with open(os.path.join(self.base, hierarchy, relative, "cgroup.procs"), "w") as f:
            f.write(str(pid))
        self.pids.append((hierarchy, pid))
        return "/" + relative

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for hierarchy, pid in self.pids:
            try:
                with open(os.path.join(self.base, hierarchy, "cgroup.procs"), "w") as f:
                    f.write(str(pid))
            except OSError:
                pass  # the process has gone already
        for hierarchy, relative in reversed(self.made):
            os.rmdir(os.path.join(self.base, hierarchy, relative))


def container_id(word):
    return hashlib.sha256(f"{os.getpid()}-{word}".encode()).hexdigest()


class RuntimeApi:
    """A unix socket answering GET /containers/json as Docker's Engine API does, with the given
    containers (id -> name); silent, it accepts and never answers."""

    def __init__(self, path, containers=None):
        self.path = path
        self.containers = containers
        self.requests = []
        self.held = []
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(path)
        self.server.listen(16)
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                connection, _ = self.server.accept()
            except OSError:
                return
            if self.containers is None:
                self.held.append(connection)
                continue
            request = b""
            while b"\r\n\r\n" not in request:
                chunk = connection.recv(4096)
                if not chunk:
                    break
                request += chunk
            self.requests.append(request.decode(errors="replace"))
            body = json.dumps([{"Id": i, "Names": ["/" + n], "Image": "busybox", "State": "running"}
                               for i, n in self.containers.items()]).encode()
            connection.sendall(b"HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n"
                               b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)
            connection.close()

    def close(self):
        self.server.close()
        for connection in self.held:
            connection.close()


def owner_records(ns, binary, args, env):
    """quorvane -e --format json ARGS: the TCP listeners' records by port, and the run's seconds."""
    began = time.monotonic()
    run = ns.run([binary, "-n", "-t", "-l", "-e", "--format", "json"] + args, capture_output=True,
                 text=True, timeout=60, env=env)
    seconds = time.monotonic() - began
    check(run.returncode == 0 and run.stderr == "",
          f"quorvane -e {' '.join(args)}: exit {run.returncode} {run.stderr!r}")
    records = [json.loads(line) for line in run.stdout.splitlines()]
    return {r["local_port"]: r for r in records}, seconds


def owners(binary, holder_program):
    pid = os.getpid()
    pod = "9c1a1f0e-8b2d-4e3f-a4b5-%012d" % pid
    ids = {word: container_id(word) for word in ("docker-fs", "docker-sd", "podman", "k8s-cd",
                                                 "k8s-crio", "k8s-fs")}
    unit = f"qv-web-{pid}.service"
    # port -> (hierarchy, path under the test's root, what the listing should say)
    placements = {
        7201: ("pids", f"docker/{ids['docker-fs']}",
               {"container": ids["docker-fs"], "container_runtime": "docker",
                "container_name": f"web-{pid}", "unit": None, "pod": None}),
        7202: ("unified", f"docker-{ids['docker-sd']}.scope",
               {"container": ids["docker-sd"], "container_runtime": "docker",
                "container_name": f"api-{pid}", "unit": f"docker-{ids['docker-sd']}.scope"}),
        7203: ("unified", f"user-1000.slice/user@1000.service/user.slice/"
                          f"libpod-{ids['podman']}.scope",
               {"container": ids["podman"], "container_runtime": "podman",
                "container_name": f"pod-man-{pid}", "unit": f"libpod-{ids['podman']}.scope"}),
        7204: ("unified", "kubepods.slice/kubepods-burstable.slice/kubepods-burstable-pod"
                          f"{pod.replace('-', '_')}.slice/cri-containerd-{ids['k8s-cd']}.scope",
               {"container": ids["k8s-cd"], "container_runtime": "containerd", "pod": pod,
                "container_name": ids["k8s-cd"]}),
        7205: ("systemd", f"kubepods.slice/kubepods-pod{pod.replace('-', '_')}.slice/"
                          f"crio-{ids['k8s-crio']}.scope",
               {"container": ids["k8s-crio"], "container_runtime": "cri-o", "pod": pod}),
        7206: ("cpu", f"kubepods/besteffort/pod{pod}/{ids['k8s-fs']}",
               {"container": ids["k8s-fs"], "container_runtime": "containerd", "pod": pod}),
        7207: ("unified", unit, {"unit": unit, "container": None, "container_name": None}),
        7208: ("pids", f"lxc/box-{pid}", {"container": f"box-{pid}", "container_runtime": "lxc",
                                          "container_name": f"box-{pid}"}),
    }
    with Namespace("qvowners") as ns, Cgroups() as cgroups:
        holders = {}
        for port, (hierarchy, path, _) in placements.items():
            holders[port] = ns.holder(holder_program)
            holders[port].do(f"listen 127.0.0.1 {port}")
            cgroups.place(holders[port].pid, hierarchy, path)
        nobody = Holder(ns.command(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                    holder_program]))
        ns.holders.append(nobody)
        nobody.do("listen 127.0.0.1 7209")
        docker = RuntimeApi(os.path.join(ns.tmp, "docker.sock"),
                            {ids["docker-fs"]: f"web-{pid}", ids["docker-sd"]: f"api-{pid}"})
        podman = RuntimeApi(os.path.join(ns.tmp, "podman.sock"), {ids["podman"]: f"pod-man-{pid}"})
        silent = RuntimeApi(os.path.join(ns.tmp, "silent.sock"))
        env = dict(os.environ, DOCKER_HOST=f"unix://{docker.path}",
                   CONTAINER_HOST=f"unix://{podman.path}")
        try:
            got, answered = owner_records(ns, binary, [], env)
            for port, (_, _, want) in placements.items():
                record = got.get(port, {})
                wrong = {k: record.get(k) for k, v in want.items() if record.get(k) != v}
                check(not wrong, f"port {port}: {wrong}, wanted {want}")
                check(record.get("uid") == 0 and record.get("user") == "root",
                      f"port {port}: uid {record.get('uid')} user {record.get('user')}")
            mine = got.get(7209, {})
            check(mine.get("uid") == 65534 and mine.get("user") == "nobody" and
                  mine.get("container") is None, f"nobody's listener: {mine}")
            check(len(docker.requests) == 1 and len(podman.requests) == 1 and
                  docker.requests[0].startswith("GET /containers/json HTTP/1.0\r\n"),
                  f"one question per runtime: {docker.requests} {podman.requests}")

            # Each filter keeps exactly the endpoints it names.
            for args, ports in [
                    (["--container", f"web-{pid}"], {7201}),
                    (["--container", ids["docker-sd"][:12], "--container", f"box-{pid}"],
                     {7202, 7208}),
                    (["--container", ids["k8s-crio"]], {7205}),
                    (["--container", f"box-{pid}"[:-1]], set()),
                    (["--unit", unit], {7207}),
                    (["--unit", unit.removesuffix(".service")], {7207}),
                    (["--user", "nobody"], {7209}),
                    (["--user", "65534", "--user", "root", "--port", "7209"], {7209}),
                    (["--user", "root", "--container", f"pod-man-{pid}"], {7203})]:
                kept, _ = owner_records(ns, binary, args, env)
                check(set(kept) == ports, f"{' '.join(args)}: ports {sorted(kept)}, want {ports}")

            run = ns.run([binary, "-n", "--summary", "--format", "json"], capture_output=True,
                         text=True, timeout=60, env=env)
            containers = {c["container"]: (c["runtime"], c["endpoints"])
                          for c in json.loads(run.stdout).get("containers", [])}
            check(containers.get(f"web-{pid}") == ("docker", 1) and
                  containers.get(ids["k8s-fs"]) == ("containerd", 1) and len(containers) == 7,
                  f"--summary's containers: {containers}")
            table = ns.run([binary, "-n", "-e", "--port", "7209"], capture_output=True, text=True,
                           timeout=60, env=env).stdout.split("\t")
            check(table[-2:] == ["nobody", "-\n"], f"-e's user and unit: {table}")

            # A runtime that accepts and never answers costs the first listing about a second
            # more than one that answers, then its containers go by their ids; one that is not
            # there costs nothing.
            env["DOCKER_HOST"] = f"unix://{silent.path}"
            got, seconds = owner_records(ns, binary, [], env)
            check(0.5 < seconds - answered < 1.5 and got.get(7201, {}).get("container_name") ==
                  ids["docker-fs"], f"silent runtime: {seconds:.2f} s, answered {answered:.2f} s")
            env["DOCKER_HOST"] = f"unix://{ns.tmp}/absent.sock"
            _, seconds = owner_records(ns, binary, [], env)
            check(seconds < answered + 0.3,
                  f"absent runtime socket: {seconds:.2f} s, answered {answered:.2f} s")
        finally:
            for api in (docker, podman, silent):
                api.close()
            for holder in ns.holders:
                holder.stop()


def e2e(binary, holder_program):
    with Namespace("qvviews") as ns:
        peer_program = os.path.join(ns.tmp, "qv-peer")
        shutil.copy(holder_program, peer_program)
        # The half-closed connection's orphaned end stays in FIN Wait 2 for the whole test.
        ns.run(["sysctl", "-qw", "net.ipv4.tcp_fin_timeout=120"], check=True)
        a, b = ns.holder(holder_program), ns.holder(holder_program)
        peer = ns.holder(peer_program)
        a.do("listen 127.0.0.1 7001", "listen 127.0.0.1 7002", "udp 127.0.0.1 7100",
             "udp 0.0.0.0 7101")
        peer.do("listen 127.0.0.3 7003", "udp 127.0.0.3 7102", "connect 127.0.0.3 127.0.0.1 7001")
        b.do("connect 127.0.0.2 127.0.0.1 7001", "connect 127.0.0.2 127.0.0.1 7001",
             "connect 127.0.0.2 127.0.0.3 7003", "connect-close 127.0.0.2 127.0.0.1 7002")
        # IPv6: a dual-stack listener with an IPv4 and an IPv6 client, an IPv6-only one, UDP of
        # both kinds and a connected UDP socket.
        a.do("listen6 :: 7004", "udp6 ::1 7103 v6only", "udp-connect 127.0.0.1 127.0.0.3 7102")
        peer.do("listen6 ::1 7005 v6only", "udp6 :: 7104", "connect6 ::1 ::1 7004")
        b.do("connect 127.0.0.2 127.0.0.1 7004", "connect6 ::1 ::1 7005")
        a.do("accept")
        peer.do("accept")
        everything = filters(ns, binary, (a, b, peer))
        check(len(everything) >= 27, f"the socket set: {len(everything)} endpoints")
        check(sum(1 for _, local, _ in everything if family(local) == "ipv6") >= 9,
              "the socket set's IPv6 endpoints")
        bad_values(ns, binary)
        summary(ns, binary, [], ["-tu"])
        summary(ns, binary, ["-u"], ["-u"])
        summary(ns, binary, ["--port", "7001"], ["-tu"] + port_clause([7001]))
        summary(ns, binary, ["--state", "established", "--program", "socket_holder"],
                ["-tu", "state", "established"],
                lambda owners: any(n == "socket_holder" for n, _ in owners))
        table(ns, binary, everything)
        # Ports with service names, below 1024 and in the ephemeral range.
        a.do("listen 127.0.0.1 22", "listen 0.0.0.0 80", "listen6 ::1 443 v6only",
             "udp 127.0.0.1 53")
        b.do("connect 127.0.0.2 127.0.0.1 22", "connect 127.0.0.2 127.0.0.1 80",
             "connect6 ::1 ::1 443")
        a.do("accept")
        ss_habits(ns, binary)
    every_namespace(binary, holder_program)
    owners(binary, holder_program)
    finish()


if __name__ == "__main__":
    e2e(sys.argv[1], sys.argv[2])
