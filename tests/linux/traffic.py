#!/usr/bin/env python3
"""quorvane -i in a private network namespace (root) against connections whose traffic this test
makes and counts itself: a sender paced at a known rate (totals and the watched rate), an idle
connection, a receiver that does not read (its queue as ss shows it), a listener whose backlog is
full, a path that drops segments at random (retransmissions), a rate limit on loopback (the
watched rate at the limit), the connection log's close event with the totals and its traffic
events at their spacing, the summary's totals and rates per program, and the busiest connections
first with --sort rate --top 3.
Usage: traffic.py QUORVANE"""
import datetime
import json
import socket
import statistics
import subprocess
import sys
import threading
import time

from checks import check, finish
from netns import Namespace
from ss_listing import records as ss_records

PACED_RATE = 2_000_000  # bytes per second
PACED_SECONDS = 6
CHUNK = 20_000
WATCH = "1"


def listener(port, backlog=16):
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", port))
    server.listen(backlog)
    return server


def pair(port):
    """A connected pair on the port: (client, accepted), and the listener."""
    server = listener(port)
    client = socket.create_connection(("127.0.0.1", port))
    accepted, _ = server.accept()
    return client, accepted, server


def drain(sock):
    try:
        while sock.recv(1 << 16):
            pass
    except OSError:  # reset, or closed by the test
        pass


def send_paced(sock, rate, seconds):
    """Sends CHUNK bytes at a time at rate bytes per second; the bytes sent."""
    sent, start = 0, time.monotonic()
    while time.monotonic() - start < seconds:
        sock.sendall(b"x" * CHUNK)
        sent += CHUNK
        ahead = start + sent / rate - time.monotonic()
        if ahead > 0:
            time.sleep(ahead)
    return sent


def send_flat_out(sock, seconds):
    sent, start = 0, time.monotonic()
    while time.monotonic() - start < seconds:
        sock.sendall(b"x" * CHUNK)
        sent += CHUNK
    return sent


def records(quorvane, *args):
    out = subprocess.run([quorvane, "-n", "-i", "-t", "--format", "json", *args], check=True,
                         capture_output=True, text=True).stdout
    return [json.loads(line) for line in out.splitlines()]


def one(rows, local_port, remote_port=None):
    found = [r for r in rows if r["local_port"] == local_port and r["remote_port"] == remote_port]
    return found[0] if len(found) == 1 else None


def rate_value(text):
    """A rate as people read it ("1.9 MB/s") back in bytes per second."""
    number, unit = text.split()
    scale = {"B/s": 1, "kB/s": 1e3, "MB/s": 1e6, "GB/s": 1e9}[unit]
    return float(number) * scale


def watch_rows(quorvane, seconds, *args):
    """The listings of a piped `quorvane -n -i --watch` over the given seconds, each a list of
    rows split at tabs; the columns In and Out are the last two."""
    watch = subprocess.Popen([quorvane, "-n", "-i", "-t", "--watch", WATCH, *args],
                             stdout=subprocess.PIPE, text=True)
    time.sleep(seconds)
    watch.terminate()
    out, _ = watch.communicate()
    return [[line.split("\t") for line in listing.splitlines()]
            for listing in out.split("\n\n") if listing.strip()]


def rates_of(listings, local_port, remote_port):
    """The (in, out) rates of one connection in each listing after the first."""
    rates = []
    for listing in listings[1:]:
        for row in listing:
            if row[1] == f"127.0.0.1:{local_port}" and row[2] == f"127.0.0.1:{remote_port}":
                rates.append((rate_value(row[-2]), rate_value(row[-1])))
    return rates


def within(value, goal, share):
    return abs(value - goal) <= goal * share


def json_lines(process):
    process.terminate()
    return [json.loads(line) for line in process.communicate()[0].splitlines()]


def paced_and_idle(quorvane):
    client, accepted, _server = pair(7001)
    reader = threading.Thread(target=drain, args=(accepted,), daemon=True)
    reader.start()
    idle_client, _idle_accepted, _idle_server = pair(7002)
    log = subprocess.Popen([quorvane, "-n", "-i", "-t", "--watch", "0.5", "--format", "json",
                            "--port", "7001"], stdout=subprocess.PIPE, text=True)
    traffic_log = subprocess.Popen([quorvane, "-n", "-t", "--watch", "0.2", "--format", "json",
                                    "--log-traffic", "1", "--port", "7001", "--port", "7002"],
                                   stdout=subprocess.PIPE, text=True)
    summaries = subprocess.Popen([quorvane, "-n", "-i", "-t", "--summary", "--watch", WATCH,
                                  "--format", "json", "--port", "7001"],
                                 stdout=subprocess.PIPE, text=True)
    counted = {}
    sender = threading.Thread(
        target=lambda: counted.update(sent=send_paced(client, PACED_RATE, PACED_SECONDS)))
    sender.start()
    listings = watch_rows(quorvane, PACED_SECONDS - 0.5, "--port", "7001", "--port", "7002")
    sender.join()
    time.sleep(0.5)
    client_port = client.getsockname()[1]
    rows = records(quorvane, "--port", "7001")
    sent = counted["sent"]
    # Both ends are this program's: it sent and received the paced bytes.
    summary = records(quorvane, "--summary", "--port", "7001")
    programs = summary[0]["programs"] if len(summary) == 1 else []
    check(len(programs) == 1 and programs[0]["bytes_sent"] == sent and
          programs[0]["bytes_received"] == sent and "rate_in" not in programs[0],
          f"the summary's totals for the program, {sent} bytes each way: {summary}")
    watched_programs = [s["programs"][0] for s in json_lines(summaries)[2:-1] if s["programs"]]
    if check(watched_programs, "the watched summary has the program's rates"):
        median_out = statistics.median(p["rate_out"] for p in watched_programs)
        check(within(median_out, PACED_RATE, 0.2),
              f"the summary watched the program at {median_out:.0f} B/s out, paced at "
              f"{PACED_RATE}: {watched_programs}")
    traffic_events(json_lines(traffic_log), client_port, idle_client.getsockname()[1])
    out = one(rows, client_port, 7001)
    into = one(rows, 7001, client_port)
    if check(out and into, f"both ends of the paced connection listed: {rows}"):
        check(out["bytes_sent"] == sent and into["bytes_received"] == sent,
              f"totals {out['bytes_sent']} sent, {into['bytes_received']} received: "
              f"the sender counted {sent}")
        check(out["rate_in"] is None and out["rate_out"] is None,
              "a one-shot listing has no rates")
        check(out["rtt_ms"] is not None and out["cwnd"] and out["retransmits"] == 0,
              f"round trip and window known, nothing retransmitted: {out}")
    # The first and last watched refreshes may see the sender only part of their second.
    watched = rates_of(listings, client_port, 7001)[1:-1]
    if check(watched, f"the paced connection watched with rates: {listings}"):
        median_out = statistics.median(out for _, out in watched)
        check(within(median_out, PACED_RATE, 0.2),
              f"watched at {median_out:.0f} B/s, paced at {PACED_RATE}: {watched}")
        check(all(rate_in == 0 for rate_in, _ in watched), "nothing comes back to the sender")
    idle_port = idle_client.getsockname()[1]
    idle = rates_of(listings, idle_port, 7002)
    check(idle and all(r == (0, 0) for r in idle), f"the idle connection at 0 B/s: {idle}")
    # The log: the paced connection closes, and its close event carries its totals. A reset,
    # so that neither end lingers in TIME_WAIT and both vanish at once.
    for sock in (client, accepted):
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\0\0\0\0\0\0\0")
        sock.close()
    time.sleep(1.5)
    log.terminate()
    events = [json.loads(line) for line in log.communicate()[0].splitlines()]
    closes = [e for e in events if e["event"] == "close" and e["local_port"] == client_port]
    check(len(closes) == 1 and within(closes[0]["bytes_sent"], sent, 0.0) if closes else False,
          f"the close event carries the {sent} bytes sent: {closes}")


def traffic_events(events, client_port, idle_port):
    """The log's traffic events for the paced sender come about once a second with its rate; the
    idle connection has none."""
    paced = [e for e in events if e["event"] == "traffic" and e["local_port"] == client_port]
    idle = [e for e in events if e["event"] == "traffic" and idle_port in
            (e["local_port"], e["remote_port"])]
    times = [datetime.datetime.fromisoformat(e["time"].replace("Z", "+00:00")).timestamp()
             for e in paced]
    spacing = [b - a for a, b in zip(times, times[1:])]
    check(len(paced) >= PACED_SECONDS - 2 and all(1.0 <= gap <= 1.5 for gap in spacing),
          f"traffic events of the paced sender a second apart: {spacing}")
    if paced:
        median_out = statistics.median(e["rate_out"] for e in paced[1:-1] or paced)
        check(within(median_out, PACED_RATE, 0.2) and paced[-1]["bytes_sent"] > 0,
              f"its traffic events at {median_out:.0f} B/s, paced at {PACED_RATE}: {paced}")
    check(not idle, f"no traffic events for the idle connection: {idle}")


def busiest(quorvane):
    """Three connections at three paces and an idle one: --sort rate --top 3 lists the fastest
    connection's two ends, then one end of the next."""
    rates = {7040: 200_000, 7041: 600_000, 7042: 1_500_000, 7043: 0}
    held = []  # the sockets stay open until the listings are made
    for port, rate in rates.items():
        client, accepted, server = pair(port)
        threading.Thread(target=drain, args=(accepted,), daemon=True).start()
        if rate:
            threading.Thread(target=send_paced, args=(client, rate, 5), daemon=True).start()
        held.extend((client, accepted, server))
    ports = [a for port in rates for a in ("--port", str(port))]
    listings = watch_rows(quorvane, 4.5, "--sort", "rate", "--top", "3", *ports)
    later = listings[2:]
    order_ok = all(len(rows) == 3 and
                   [":7042" in row[1] + row[2] for row in rows] == [True, True, False] and
                   ":7041" in rows[2][1] + rows[2][2] for rows in later)
    check(later and order_ok, f"--sort rate --top 3: the busiest first, in order: {later}")


def queues(quorvane):
    client, accepted, _server = pair(7010)
    waiting = 50_000
    client.sendall(b"q" * waiting)
    time.sleep(0.5)
    rows = records(quorvane, "--port", "7010")
    receiver = one(rows, 7010, client.getsockname()[1])
    ss = [r.recv_queue for r in ss_records(None, ["-t", "sport", "=", ":7010"])]
    check(receiver and receiver["recv_queue"] == waiting and ss[:1] == [waiting],
          f"a receiver that does not read: {waiting} bytes waiting, ss says {ss[:1]}, "
          f"we say {receiver}")
    # A backlog of two holds three connections (the kernel takes one beyond the limit).
    server = listener(7011, backlog=2)
    clients = []
    for _ in range(5):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", 7011))
        clients.append(c)
    time.sleep(0.5)
    listening = one(records(quorvane, "--port", "7011", "-l"), 7011)
    ss = [[r.recv_queue, r.send_queue] for r in ss_records(None, ["-tl", "sport", "=", ":7011"])]
    check(listening and [[listening["recv_queue"], listening["send_queue"]]] == ss[:1]
          and listening["send_queue"] == 2,
          f"a full backlog as ss shows it ({ss[:1]}): {listening}")
    del accepted, server, clients


def lossy(quorvane, ns_run):
    # Dropped on the way in: a segment refused on the way out is only sent again, not counted.
    ns_run(["iptables", "-A", "INPUT", "-i", "lo", "-p", "tcp", "--dport", "7020", "-m",
            "statistic", "--mode", "random", "--probability", "0.05", "-j", "DROP"])
    client, accepted, _server = pair(7020)
    threading.Thread(target=drain, args=(accepted,), daemon=True).start()
    send_paced(client, PACED_RATE, 3)
    sender = one(records(quorvane, "--port", "7020"), client.getsockname()[1], 7020)
    check(sender and sender["retransmits"] > 0 and sender["bytes_retrans"] > 0,
          f"a path dropping 5 % of segments shows retransmissions: {sender}")


def limited(quorvane, ns_run):
    # Loopback's 64 kB segments would not pass a 4 kB bucket: an Ethernet's size instead.
    ns_run(["ip", "link", "set", "lo", "mtu", "1500"])
    ns_run(["tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", "8mbit", "burst", "32kbit",
            "latency", "400ms"])
    client, accepted, _server = pair(7030)
    threading.Thread(target=drain, args=(accepted,), daemon=True).start()
    threading.Thread(target=send_flat_out, args=(client, 7), daemon=True).start()
    listings = watch_rows(quorvane, 6, "--port", "7030")
    watched = rates_of(listings, client.getsockname()[1], 7030)[1:-1]
    limit = 8_000_000 / 8
    if check(watched, f"the limited connection watched with rates: {listings}"):
        median_out = statistics.median(out for _, out in watched)
        check(within(median_out, limit, 0.2),
              f"watched at {median_out:.0f} B/s under a limit of {limit:.0f}: {watched}")


def inside(quorvane):
    def ns_run(command):
        subprocess.run(command, check=True)

    paced_and_idle(quorvane)
    busiest(quorvane)
    queues(quorvane)
    lossy(quorvane, ns_run)
    limited(quorvane, ns_run)  # last: the limit holds for all of the namespace's loopback
    finish()


def main():
    quorvane = sys.argv[1]
    with Namespace("qvtraffic") as ns:
        result = ns.run([sys.executable, __file__, "inside", quorvane])
    sys.exit(result.returncode)


if __name__ == "__main__":
    if sys.argv[1] == "inside":
        inside(sys.argv[2])
    else:
        main()
