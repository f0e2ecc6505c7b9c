#!/usr/bin/env python3
"""The quorvane command from outside: its options, errors and exit codes ("options"), and its
listing in a private network namespace compared with ss and /proc ("e2e")."""
import os
import pty
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from checks import check, finish
from netns import Namespace
from ss_listing import records, split_endpoint

def options(binary):
    tmp = tempfile.mkdtemp()
    try:
        ini = os.path.join(tmp, "meter.ini")
        with open(ini, "w") as f:
            f.write("[Ports]\nTemplate=%lip\n")
        fifo = os.path.join(tmp, "meter.fifo")
        os.mkfifo(fifo)
        usage_errors = [
            (["--bogus"], "unknown option '--bogus'"),
            (["-y"], "unknown option '-y'"),
            # ss's options for what quorvane does not do say so rather than "unknown".
            (["-x"], "quorvane lists TCP and UDP only: -x (--unix) asks for UNIX sockets"),
            (["-taw"], "quorvane lists TCP and UDP only: -w (--raw) asks for raw sockets"),
            (["--unix"], "quorvane lists TCP and UDP only"),
            (["-tno"], "quorvane shows no socket timers"),
            (["--not-port", "x"], "--not-port needs a port number"),
            (["--address", "127.0.0.0/33"], "--address needs an IPv4 or IPv6 address"),
            (["stray"], "unexpected argument 'stray'"),
            (["--template"], "--template needs a value"),
            (["--settings"], "--settings needs a value"),
            (["--help=1"], "--help takes no value"),
            (["--watch", "0"], "--watch needs a number"),
            (["--watch=abc"], "--watch needs a number"),
            (["--watch", "90000"], "--watch needs a number"),
            (["--watch="], "--watch needs a number"),
            (["--settings", ini], "--settings and --section go together"),
            (["--section", "Ports"], "--settings and --section go together"),
            (["--settings", os.path.join(tmp, "absent.ini"), "--section", "Ports"],
             "cannot read settings file"),
            (["--settings", tmp, "--section", "Ports"], "cannot read settings file"),
            (["--settings", ini, "--section", "Absent"], "no settings in section [Absent]"),
            # Neither a FIFO without a writer nor a device may hold the command up.
            (["--settings", fifo, "--section", "Ports"], "not a regular file"),
            (["--settings", "/dev/zero", "--section", "Ports"], "not a regular file"),
            (["--format", "xml"], "--format takes text, json or csv"),
            (["--format"], "--format needs a value"),
            (["--meter=1"], "--meter takes no value"),
            (["-ty"], "unknown option '-y'"),
            (["-t", "--", "-u"], "unexpected argument '-u'"),
            (["--template", "%lip", "--format", "json"], "--template lays out text"),
        ]
        for args, message in usage_errors:
            started = time.monotonic()
            run = subprocess.run([binary] + args, capture_output=True, text=True, timeout=30)
            elapsed = time.monotonic() - started
            what = " ".join(args)
            check(elapsed < 5, f"{what}: took {elapsed:.1f} s")
            check(run.returncode == 2, f"{what}: exit {run.returncode}, want 2")
            check(run.stdout == "", f"{what}: stdout {run.stdout!r}, want nothing")
            lines = run.stderr.splitlines()
            check(len(lines) == 1 and lines[0].startswith("quorvane: ") and message in lines[0],
                  f"{what}: stderr {run.stderr!r}, want one line with {message!r}")

        run = subprocess.run([binary, "--help"], capture_output=True, text=True, timeout=30)
        check(run.returncode == 0 and run.stdout.startswith("Usage: quorvane") and
              run.stderr == "", f"--help: {run.returncode} {run.stderr!r}")
        for option in ["--template", "--settings", "--section", "--watch", "--version", "--format",
                       "--meter", "--numeric", "--listening", "--ipv6"]:
            check(option in run.stdout, f"--help does not mention {option}")
        run = subprocess.run([binary, "--version"], capture_output=True, text=True, timeout=30)
        check(run.returncode == 0 and run.stdout == "quorvane 1.00.0001\n",
              f"--version: {run.returncode} {run.stdout!r}")
    finally:
        shutil.rmtree(tmp)
    finish()


def address_and_port(text):
    """An "addr:port" end as (address, port), an unconnected port 0."""
    address, port, _ = split_endpoint(text)
    return address, port or 0


def ss_endpoints(ns):
    """(protocol, local address, local port, remote address, remote port, state) -> pids."""
    endpoints = {}
    for record in records(ns, ["-4", "-tua"]):
        local = address_and_port(record.local)
        if record.protocol == "udp":
            key = ("UDP",) + local + ("0.0.0.0", 0, "")
        else:
            key = ("TCP",) + local + address_and_port(record.remote) + (record.state,)
        endpoints[key] = record.pids
    return endpoints


def program_name(pid):
    return os.path.basename(os.readlink(f"/proc/{pid}/exe"))


def read_until(stream_fd, pattern_count, marker, timeout):
    """Reads from a descriptor until marker has been seen pattern_count times."""
    data = b""
    deadline = time.monotonic() + timeout
    while data.count(marker) < pattern_count and time.monotonic() < deadline:
        ready, _, _ = select.select([stream_fd], [], [], 0.2)
        if ready:
            try:
                chunk = os.read(stream_fd, 65536)
            except OSError:
                break
            if not chunk:
                break
            data += chunk
    return data


def fields_match_ss(ns, binary, holders, expected):
    """Every endpoint, field by field; the template's newline given as an escape."""
    pids = {h.pid for h in holders}
    run = ns.run([binary, "--template", "%ptt|%lip|%lpt|%rip|%rpt|%stat|%pid|%nm|%hn\\n"],
                 capture_output=True, text=True, timeout=60)
    check(run.returncode == 0 and run.stderr == "", f"listing: {run.returncode} {run.stderr!r}")
    listed = {}
    for line in run.stdout.splitlines():
        p, la, lp, ra, rp, stat, pid, name, host = line.split("|")
        key = (p, la, int(lp), ra, 0 if rp == "*" else int(rp), stat)
        check(key not in listed, f"listed twice: {line}")
        listed[key] = (int(pid), name, host)
    check(set(listed) == set(expected),
          f"endpoints differ: only listed {sorted(set(listed) - set(expected))}, "
          f"only in ss {sorted(set(expected) - set(listed))}")
    for key, (pid, name, host) in listed.items():
        if key not in expected:
            continue
        check(pid in expected[key] and pid in pids, f"{key}: pid {pid}, ss {expected[key]}")
        if pid in pids:
            check(name == program_name(pid), f"{key}: program {name!r}")
        want_host = key[3] if key[4] != 0 else ""
        check(host == want_host, f"{key}: host name {host!r}, want {want_host!r}")


def default_layout(ns, binary, expected):
    """One endpoint per line, seven tab-separated fields as ss writes addresses, "-" for an empty
    field; the same endpoints as ss."""
    run = ns.run([binary], capture_output=True, text=True, timeout=60)
    check(run.returncode == 0, f"default listing: exit {run.returncode} {run.stderr!r}")
    listed = set()
    for line in run.stdout.splitlines():
        fields = line.split("\t")
        check(len(fields) == 7, f"default line {line!r} has {len(fields)} fields")
        if len(fields) != 7:
            continue
        protocol, local, remote, state, pid, name, host = fields
        remote_address, remote_port = address_and_port(remote)
        listed.add((protocol,) + address_and_port(local) + (remote_address, remote_port,
                                                          "" if state == "-" else state))
        check(pid.isdigit() and name == program_name(int(pid)), f"{line!r}: owner")
        want_host = remote_address if remote_port != 0 else "-"
        check(host == want_host, f"{line!r}: host {host!r}, want {want_host!r}")
    check(listed == set(expected), f"default listing {sorted(listed)}, ss {sorted(expected)}")


def meter_listing(ns, binary, expected):
    """--meter is the plug-in's listing: its template, the UDP remote end written as the meter
    writes it; and a one-shot run ends as soon as it has printed."""
    started = time.monotonic()
    run = ns.run([binary, "--meter"], capture_output=True, text=True, timeout=60)
    elapsed = time.monotonic() - started
    lines = run.stdout.splitlines()
    check(run.returncode == 0 and len(lines) == len(expected),
          f"--meter: exit {run.returncode}, {len(lines)} lines, want {len(expected)}")
    check(all(line.split("\t")[2] == "000.000.000.000:0" for line in lines
              if line.startswith("UDP")), f"--meter UDP lines: {run.stdout!r}")
    check(elapsed < 1.0, f"--meter one-shot took {elapsed:.2f} s")
    started = time.monotonic()
    run = ns.run([binary, "-n"], capture_output=True, text=True, timeout=60)
    elapsed = time.monotonic() - started
    check(run.returncode == 0 and elapsed < 1.0, f"-n one-shot: exit {run.returncode}, "
          f"{elapsed:.2f} s")


def unwritable_output(ns, binary):
    """A listing that cannot be written is an error of its own, said on stderr."""
    with open("/dev/full", "w") as full:
        run = ns.run([binary], stdout=full, stderr=subprocess.PIPE, text=True, timeout=60)
    check(run.returncode == 1 and run.stderr.startswith("quorvane: cannot write the listing"),
          f"stdout /dev/full: exit {run.returncode}, stderr {run.stderr!r}")
    # The help and the version alike: not lost at exit with a status of success.
    for option in ("--help", "--version"):
        with open("/dev/full", "w") as full:
            run = subprocess.run([binary, option], stdout=full, stderr=subprocess.PIPE, text=True,
                                 timeout=60)
        check(run.returncode == 1 and run.stderr.startswith("quorvane: cannot write the ")
              and "No space left on device" in run.stderr,
              f"{option} >/dev/full: exit {run.returncode}, stderr {run.stderr!r}")


def settings_section(ns, binary, expected):
    """A meter's section as the Windows host writes it: its template, the zero-address filter and
    the range exclusion apply; a template on the command line overrides the file's."""
    ini = os.path.join(ns.tmp, "Samurize.ini")
    with open(ini, "w") as f:
        f.write("[Meter1]\r\nSot=10003\r\nTemplate=%ptt %lip %lpt %rip %rpt;\r\n"
                "fltL=127000000001\r\nfltH=127000000003\r\nfltE=1\r\nflt0=1\r\nzero=0\r\n")
    section = ["--settings", ini, "--section", "Meter1"]
    run = ns.run([binary] + section, capture_output=True, text=True, timeout=60)
    check(run.returncode == 0, f"settings listing: exit {run.returncode} {run.stderr!r}")
    shown = sorted(item.split() for item in run.stdout.rstrip("\n").split(";") if item)
    want = sorted(f"{k[0]} {k[1]} {k[2]:05d} {k[3]} {k[4]:05d}".split() for k in expected
                  if k[3] not in ("0.0.0.0", "127.0.0.2"))
    check(shown == want, f"settings listing {shown}, want {want}")
    run = ns.run([binary] + section + ["--template", "%ptt,"], capture_output=True, text=True,
                 timeout=60)
    check(run.stdout == "TCP," * len(want) + "\n", f"template override: {run.stdout!r}")


def watch_piped(ns, binary, expected):
    """Plain listings one after the other, a blank line between; Ctrl-C ends it cleanly. CSV and
    JSON are streams: one CSV header, no blank lines, every line a record or an object."""
    watch = subprocess.Popen(ns.command([binary, "--watch", "0.2", "--template", "%lpt\\n"]),
                             stdout=subprocess.PIPE)
    data = read_until(watch.stdout.fileno(), 2, b"\n\n", 30)
    watch.send_signal(signal.SIGINT)
    status = watch.wait(timeout=30)
    watch.stdout.close()
    listings = data.decode().split("\n\n")
    check(status == 0, f"--watch piped: exit {status}")
    check(len(listings) >= 3 and all(len(x.split()) == len(expected) for x in listings[:2]),
          f"--watch piped: {data[:200]!r}")
    for args, refreshes in ((["--format", "csv"], 3 * (len(expected) + 1)),
                            (["--summary", "--format", "json"], 3)):
        watch = subprocess.Popen(ns.command([binary, "--watch", "0.2"] + args),
                                 stdout=subprocess.PIPE)
        data = read_until(watch.stdout.fileno(), refreshes, b"\n", 30)
        watch.send_signal(signal.SIGINT)
        watch.wait(timeout=30)
        watch.stdout.close()
        lines = data.decode().splitlines()[:refreshes]
        what = f"--watch {' '.join(args)} piped"
        check(len(lines) == refreshes and all(lines), f"{what}: blank lines in {data[:300]!r}")
        if "csv" in args:
            check(lines[0].startswith("protocol,") and
                  sum(line.startswith("protocol,") for line in lines) == 1,
                  f"{what}: headers in {data[:300]!r}")
        else:
            check(all(line.startswith("{\"total\":") and line.endswith("}") for line in lines),
                  f"{what}: {data[:300]!r}")


def watch_terminal(ns, binary):
    """Each frame redrawn from the top-left corner; Ctrl-C ends it cleanly."""
    pid, terminal = pty.fork()
    if pid == 0:
        os.environ["TERM"] = "xterm"  # a terminal that terminfo knows, wherever the test runs
        command = ns.command([binary, "--watch", "0.2"])
        os.execvp(command[0], command)
    data = read_until(terminal, 3, b"\x1b[H", 30)
    os.kill(pid, signal.SIGINT)
    read_until(terminal, 1, b"never", 5)
    _, status = os.waitpid(pid, 0)
    os.close(terminal)
    check(data.count(b"\x1b[H") >= 3, f"--watch on a terminal: {data[:200]!r}")
    check(os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0,
          f"--watch on a terminal: status {status}")


def e2e(binary, holder_program):
    with Namespace("qvcli") as ns:
        a, b = ns.holder(holder_program), ns.holder(holder_program)
        a.do("listen 127.0.0.1 7101", "listen 127.0.0.1 7102", "udp 127.0.0.1 7103",
             "udp 0.0.0.0 7104")
        b.do("listen 127.0.0.4 7201", "udp 127.0.0.4 7202")
        a.do("connect 127.0.0.2 127.0.0.1 7101", "connect 127.0.0.3 127.0.0.1 7101",
             "connect 127.0.0.2 127.0.0.4 7201")
        b.do("connect 127.0.0.5 127.0.0.1 7102", "accept")
        a.do("accept")
        expected = ss_endpoints(ns)
        check(len(expected) == 14, f"ss shows {len(expected)} endpoints, the holders made 14")
        fields_match_ss(ns, binary, [a, b], expected)
        default_layout(ns, binary, expected)
        meter_listing(ns, binary, expected)
        unwritable_output(ns, binary)
        settings_section(ns, binary, expected)
        watch_piped(ns, binary, expected)
        watch_terminal(ns, binary)
    finish()


if __name__ == "__main__":
    if sys.argv[1] == "options":
        options(sys.argv[2])
    else:
        e2e(sys.argv[2], sys.argv[3])
