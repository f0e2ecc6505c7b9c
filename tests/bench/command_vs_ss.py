#!/usr/bin/env python3
"""The quorvane command against `ss -tuanp`, side by side on the same sockets.

In a private network namespace 40 socket holders share the sockets (IPv4 and IPv6 by turns; half
in connected TCP pairs with their listener, half bound UDP sockets). Two measurements:
- one-shot wall time at 1,000, 10,000 and 50,000 sockets: `quorvane -n` (default text and
  `--format json`) and `ss -tuanp`, each a fresh process, run by turns; medians and their ratio.
  With the TCP counters: `quorvane -n -i` against `quorvane -n` and against `ss -tuanpi`.
- CPU time of one `quorvane -n --watch` refresh at 10,000 sockets (utime+stime of the watching
  process over many refreshes, after the first listing) against one `ss -tuanp` run, and of one
  `quorvane -n -i --watch` refresh (with the rates) against one `ss -tuanpi` run.
- CPU time of one `quorvane --serve` refresh with one scrape of /metrics after it, at 10,000
  sockets, measured the same way, against the same `ss -tuanp` runs.
The timing loop runs inside the namespace (this script again, as "inside ..."), so that the cost
of entering the namespace is in neither side. Ratios measured in one run are the figures;
absolute times are noise on a shared machine.
The namespaces mode instead makes 20 namespaces of 500 endpoints each and times `quorvane -A -n`
against `ip netns exec NS ss -tuanp` run in each of them one after another, by turns.
Usage: command_vs_ss.py [namespaces] QUORVANE SOCKET_HOLDER [ROUNDS]
"""
import contextlib
import json
import os
import statistics
import subprocess
import sys
import time
import urllib.request

from netns import Namespace
from ss_listing import records as ss_records

PROCESSES = 40
ONE_SHOT_GOAL = 1.0
INFO_GOAL = 1.2  # -i against the same listing without it
REFRESH_GOAL = 0.5
REFRESHES = 20
WATCH_INTERVAL = "0.2"
SS = ["ss", "-tuanp"]
SS_INFO = ["ss", "-tuanpi"]
SERVE_ADDRESS = "127.0.0.1:9913"
SCRAPE_GOAL = 1.0


def run_timed(command):
    """Wall and CPU seconds of one fresh process, its output thrown away."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        child = subprocess.Popen(command, stdout=null)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise RuntimeError(f"{command}: exit {child.returncode}")
    return wall, usage.ru_utime + usage.ru_stime


def process_cpu(pid):
    """utime + stime of every thread of a process, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rpartition(")")[2].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def inside_one_shot(rounds, commands):
    """Runs the named commands by turns, rounds times; their wall times by name."""
    times = {name: [] for name in commands}
    for _ in range(rounds):
        for name, command in commands.items():
            times[name].append(run_timed(command)[0])
    return times


def inside_refresh(quorvane, rounds):
    """CPU of ss runs, then CPU per --watch refresh after the first listing; both plain and with
    the counters (ss -i, quorvane -i and its rates)."""
    return {"refresh": watch_cpu([quorvane, "-n"]),
            "ss": [run_timed(SS)[1] for _ in range(rounds)],
            "info_refresh": watch_cpu([quorvane, "-n", "-i"]),
            "ss_info": [run_timed(SS_INFO)[1] for _ in range(rounds)],
            "scrape": serve_cpu(quorvane)}


def watch_cpu(command):
    """CPU per refresh of command with --watch, after its first listing."""
    watch = subprocess.Popen(command + ["--watch", WATCH_INTERVAL], stdout=subprocess.PIPE)
    listings, start_cpu, seen = 0, None, b""
    while listings < REFRESHES + 1:
        chunk = os.read(watch.stdout.fileno(), 1 << 20)
        if not chunk:
            raise RuntimeError(f"--watch ended: {watch.wait()}")
        seen = seen[-1:] + chunk  # a listing ends in a blank line: "\n\n" may span two reads
        listings += seen.count(b"\n\n")
        if start_cpu is None and listings >= 1:
            start_cpu, listings = process_cpu(watch.pid), 0
    refresh = (process_cpu(watch.pid) - start_cpu) / listings
    watch.terminate()
    watch.wait()
    return refresh


def serve_cpu(quorvane):
    """CPU of the exporter per refresh, each followed by one scrape, after the first scrape."""
    serving = subprocess.Popen([quorvane, "--serve", SERVE_ADDRESS, "--serve-interval",
                                WATCH_INTERVAL])
    url = f"http://{SERVE_ADDRESS}/metrics"

    def scrape():
        with urllib.request.urlopen(url, timeout=10) as answer:
            answer.read()

    for _ in range(200):
        try:
            scrape()
            break
        except OSError:
            time.sleep(0.05)
    start_cpu, start = process_cpu(serving.pid), time.monotonic()
    for _ in range(REFRESHES):
        time.sleep(float(WATCH_INTERVAL))
        scrape()
    refreshes = (time.monotonic() - start) / float(WATCH_INTERVAL)
    cpu = (process_cpu(serving.pid) - start_cpu) / refreshes
    serving.terminate()
    serving.wait()
    return cpu


def measure(ns_command, quorvane, holder, sockets, rounds, refresh):
    with Namespace("qvbench") as ns:
        # Room for the connections' own ports, whatever the machine's setting.
        ns.run(["sysctl", "-qw", "net.ipv4.ip_local_port_range=1024 65000"], check=True)
        each = sockets // PROCESSES
        pairs = each // 4
        udp = each - 2 * pairs - 1
        for k in range(PROCESSES):
            address = "127.0.0.1" if k % 2 == 0 else "::1"
            ns.holder(holder).do(f"many-tcp {address} {20000 + k} {pairs}",
                                 f"many-udp {address} {30000 + k // 2 * udp} {udp}")
        listed = len(ss_records(ns, ["-tua"]))
        commands = {"ss": SS, "text": [quorvane, "-n"],
                    "json": [quorvane, "-n", "--format", "json"],
                    "ss_info": SS_INFO, "info": [quorvane, "-n", "-i"]}
        one_shot = inside(ns, ns_command, "one-shot", rounds, commands)
        cpu = inside(ns, ns_command, "refresh", rounds, quorvane) if refresh else None
    return listed, one_shot, cpu


def inside(ns, ns_command, mode, rounds, what):
    out = ns.run(ns_command + [mode, str(rounds), json.dumps(what)], check=True,
                 capture_output=True, text=True).stdout
    return json.loads(out)


def main():
    quorvane, holder = sys.argv[1:3]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 11
    ns_command = [sys.executable, os.path.abspath(__file__), "inside"]
    print(f"quorvane one-shot against `{' '.join(SS)}`: wall time, {PROCESSES} processes, "
          f"medians of {rounds} alternating rounds")
    print(f"{'sockets':>8} {'ss ms':>8} {'text ms':>8} {'ratio':>6} {'json ms':>8} {'ratio':>6} "
          f"{'goal':>6}")
    worst, worst_info, refresh, info_rows = 0.0, 0.0, None, []
    for sockets in (1000, 10000, 50000):
        listed, times, cpu = measure(ns_command, quorvane, holder, sockets, rounds,
                                     sockets == 10000)
        ss = statistics.median(times["ss"])
        text, json_ = statistics.median(times["text"]), statistics.median(times["json"])
        worst = max(worst, text / ss, json_ / ss)
        print(f"{listed:>8} {ss * 1000:>8.1f} {text * 1000:>8.1f} {text / ss:>5.2f}x "
              f"{json_ * 1000:>8.1f} {json_ / ss:>5.2f}x {'<=':>3}{ONE_SHOT_GOAL:.1f}x", flush=True)
        info, ss_info = statistics.median(times["info"]), statistics.median(times["ss_info"])
        if sockets >= 10000:
            worst_info = max(worst_info, info / text / INFO_GOAL, info / ss_info / ONE_SHOT_GOAL)
        info_rows.append((listed, info, text, ss_info))
        if cpu:
            refresh = (listed, cpu["refresh"], statistics.median(cpu["ss"]), cpu["info_refresh"],
                       statistics.median(cpu["ss_info"]), cpu["scrape"])
    print(f"`quorvane -n -i` against `quorvane -n` and `{' '.join(SS_INFO)}` (wall time, medians; "
          f"goals at 10,000 sockets and more)")
    print(f"{'sockets':>8} {'-i ms':>8} {'-n ms':>8} {'ratio':>6} {'goal':>6} {'ss -i ms':>9} "
          f"{'ratio':>6} {'goal':>6}")
    for listed, info, text, ss_info in info_rows:
        print(f"{listed:>8} {info * 1000:>8.1f} {text * 1000:>8.1f} {info / text:>5.2f}x "
              f"{'<=':>3}{INFO_GOAL:.1f}x {ss_info * 1000:>9.1f} {info / ss_info:>5.2f}x "
              f"{'<':>3}{ONE_SHOT_GOAL:.1f}x", flush=True)
    listed, watch, ss, info_watch, ss_info, scrape = refresh
    print(f"One `quorvane -n --watch {WATCH_INTERVAL}` refresh (CPU, mean of {REFRESHES} after the "
          f"first listing) against one `{' '.join(SS)}` run (CPU, median of {rounds})")
    print(f"{'sockets':>8} {'refresh ms':>11} {'ss ms':>8} {'ratio':>6} {'goal':>6}")
    print(f"{listed:>8} {watch * 1000:>11.2f} {ss * 1000:>8.2f} {watch / ss:>5.2f}x "
          f"{'<=':>3}{REFRESH_GOAL:.1f}x", flush=True)
    print(f"One `quorvane -n -i --watch {WATCH_INTERVAL}` refresh with rates against one "
          f"`{' '.join(SS_INFO)}` run (CPU, as above)")
    print(f"{listed:>8} {info_watch * 1000:>11.2f} {ss_info * 1000:>8.2f} "
          f"{info_watch / ss_info:>5.2f}x {'<=':>3}{REFRESH_GOAL:.1f}x", flush=True)
    print(f"One `quorvane --serve` refresh with one scrape of /metrics (CPU, mean of {REFRESHES}) "
          f"against the same `{' '.join(SS)}` runs")
    print(f"{'sockets':>8} {'scrape ms':>11} {'ss ms':>8} {'ratio':>6} {'goal':>6}")
    print(f"{listed:>8} {scrape * 1000:>11.2f} {ss * 1000:>8.2f} {scrape / ss:>5.2f}x "
          f"{'<=':>3}{SCRAPE_GOAL:.1f}x", flush=True)
    met = (worst <= ONE_SHOT_GOAL and watch / ss <= REFRESH_GOAL and worst_info <= 1.0
           and info_watch / ss_info <= REFRESH_GOAL and scrape / ss <= SCRAPE_GOAL)
    return 0 if met else 1


NAMESPACES = 20
NAMESPACE_ENDPOINTS = 500
NAMESPACES_GOAL = 0.5


def namespaces_main(quorvane, holder, rounds):
    """-A over every namespace against ss in each of them, one after another: wall times of
    fresh processes, by turns, medians and their ratio."""
    with contextlib.ExitStack() as stack:
        spaces = [stack.enter_context(Namespace(f"qvbns{k}x")) for k in range(NAMESPACES)]
        pairs = NAMESPACE_ENDPOINTS // 3
        udp = NAMESPACE_ENDPOINTS - 2 * pairs - 1
        for k, ns in enumerate(spaces):
            address = "127.0.0.1" if k % 2 == 0 else "::1"
            ns.run(["sysctl", "-qw", "net.ipv4.ip_local_port_range=1024 65000"], check=True)
            ns.holder(holder).do(f"many-tcp {address} 20000 {pairs}",
                                 f"many-udp {address} 30000 {udp}")
        listed = sum(len(ns.run(["ss", "-tuanH"], check=True, capture_output=True)
                         .stdout.splitlines()) for ns in spaces)
        ours, theirs = [], []
        for _ in range(rounds):
            ours.append(run_timed([quorvane, "-A", "-n"])[0])
            theirs.append(sum(run_timed(ns.command(SS))[0] for ns in spaces))
    mine, ss = statistics.median(ours), statistics.median(theirs)
    print(f"`quorvane -A -n` against `ip netns exec NS {' '.join(SS)}` in each of {NAMESPACES} "
          f"namespaces one after another (wall time, medians of {rounds} alternating rounds)")
    print(f"{'endpoints':>9} {'ss ms':>8} {'-A ms':>8} {'ratio':>6} {'goal':>6}")
    print(f"{listed:>9} {ss * 1000:>8.1f} {mine * 1000:>8.1f} {mine / ss:>5.2f}x "
          f"{'<=':>3}{NAMESPACES_GOAL:.1f}x", flush=True)
    return 0 if mine / ss <= NAMESPACES_GOAL else 1


if __name__ == "__main__":
    if sys.argv[1] == "inside":
        mode, rounds, what = sys.argv[2], int(sys.argv[3]), json.loads(sys.argv[4])
        print(json.dumps(inside_one_shot(rounds, what) if mode == "one-shot"
                         else inside_refresh(what, rounds)))
    elif sys.argv[1] == "namespaces":
        sys.exit(namespaces_main(sys.argv[2], sys.argv[3],
                                 int(sys.argv[4]) if len(sys.argv) > 4 else 11))
    else:
        sys.exit(main())
