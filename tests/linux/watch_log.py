#!/usr/bin/env python3
"""quorvane --watch in a private network namespace while sockets open and close on a schedule:
the connection log of --format json ("log", "brief" at --watch 0.1, "interrupt"), the marks of
changes on a pseudo-terminal, with and without colour ("marks"), the screen in a real terminal's
window, tmux's ("screen"), and what the log costs at
10,000 sockets ("bench"). "sockets" is the driver that holds the scheduled sockets inside the
namespace, one command a line on stdin, each answered with a JSON line."""
import datetime
import json
import os
import pty
import re
import select
import shlex
import signal
import socket
import subprocess
import sys
import threading
import time

from checks import check, finish
from netns import Namespace

INTERVAL = 0.2
# How late a refresh may see a change on two shared, busy cores, beyond one interval.
SLACK = 0.35


# The driver, run inside the namespace.

def endpoint(sock, protocol):
    family = "ipv6" if sock.family == socket.AF_INET6 else "ipv4"
    local = sock.getsockname()
    try:
        remote = sock.getpeername()
    except OSError:
        remote = (None, None)
    return {"protocol": protocol, "family": family, "local_address": local[0],
            "local_port": local[1], "remote_address": remote[0], "remote_port": remote[1]}


def reset_close(sock):
    """Closes with a reset, so that neither end lingers in TIME_WAIT and both vanish at once."""
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
    sock.close()


def sockets_driver():
    held = {}
    for line in sys.stdin:
        words = line.split()
        command, name = words[0], words[1]
        endpoints = []
        if command in ("listen", "udp"):
            family = socket.AF_INET6 if ":" in words[2] else socket.AF_INET
            kind = socket.SOCK_STREAM if command == "listen" else socket.SOCK_DGRAM
            sock = socket.socket(family, kind)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            sock.bind((words[2], int(words[3])))
            if command == "listen":
                sock.listen(16)
            held[name] = [sock]
            endpoints = [endpoint(sock, "tcp" if command == "listen" else "udp")]
        elif command == "connect":
            listener = held[words[2]][0]
            client = socket.socket(listener.family, socket.SOCK_STREAM)
            # A port of the schedule's own: a port closed with a reset may be handed out again
            # at once, and two sockets of one identity would be one endpoint.
            client.bind((listener.getsockname()[0], int(words[3])))
            client.connect(listener.getsockname()[:2])
            server, _ = listener.accept()
            held[name] = [client, server]
            endpoints = [endpoint(client, "tcp"), endpoint(server, "tcp")]
        elif command == "shutdown":  # the server's end says it is done: FIN_WAIT_2 / CLOSE_WAIT
            held[name][1].shutdown(socket.SHUT_WR)
        elif command == "close":
            for sock in held.pop(name):
                reset_close(sock)
        print(json.dumps({"time": time.time(), "endpoints": endpoints}), flush=True)


class Sockets:
    """The test's side of the driver."""

    def __init__(self, ns):
        self.process = subprocess.Popen(ns.command([sys.executable, __file__, "sockets"]),
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)

    def do(self, *words):
        self.process.stdin.write(" ".join(str(w) for w in words) + "\n")
        self.process.stdin.flush()
        return json.loads(self.process.stdout.readline())

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=10)


# The connection log.

TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z\Z")
IDENTITY = ("protocol", "family", "local_address", "local_port", "remote_address", "remote_port")


def seconds(text):
    return datetime.datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(
        tzinfo=datetime.timezone.utc).timestamp()


def state_word(name):
    """"FIN Wait 2", "FIN-WAIT-2" and "fin_wait_2" alike."""
    return re.sub(r"[ _-]+", "_", name).upper() if name else name


class Reader(threading.Thread):
    """Collects a stream's lines with the time each arrived."""

    def __init__(self, stream):
        super().__init__(daemon=True)
        self.stream = stream
        self.lines = []

    def run(self):
        for line in iter(self.stream.readline, b""):
            self.lines.append((time.time(), line))


def watch_json(ns, binary, interval):
    return subprocess.Popen(ns.command([binary, "--watch", str(interval), "--format", "json"]),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)


# A schedule of sockets: (seconds from the start, driver command, name, arguments).
SCHEDULE = [
    (0.0, "listen", "web", "127.0.0.1", 7001),
    (0.1, "listen", "web6", "::1", 7004),
    (0.2, "udp", "dns", "127.0.0.1", 7002),
    (0.3, "udp", "dns6", "::1", 7003),
    (0.4, "connect", "short", "web", 7401),
    (0.5, "connect", "short6", "web6", 7402),
    (0.6, "connect", "half", "web", 7403),
    (0.8, "close", "short"),  # lives 400 ms
    (1.1, "shutdown", "half"),
    (1.2, "close", "short6"),
    (1.2, "connect", "brief", "web", 7404),
    (1.4, "close", "dns"),
    (1.6, "close", "brief"),  # lives 400 ms
    (1.7, "close", "dns6"),
    (2.1, "close", "half"),
    (2.2, "close", "web6"),
    (2.4, "close", "web"),
]

# Ten connections one after the other, each living 300 ms, for --watch 0.1.
BRIEF = ([(0.0, "listen", "web", "127.0.0.1", 7001)] +
         [(0.1 + 0.4 * i, "connect", f"c{i}", "web", 7410 + i) for i in range(10)] +
         [(0.4 + 0.4 * i, "close", f"c{i}") for i in range(10)] +
         [(4.3, "close", "web")])


def log_test(binary, interval, schedule):
    with Namespace("qvwl") as ns:
        sockets = Sockets(ns)
        sockets.do("listen", "early", "127.0.0.1", 7000)  # there before the log starts
        quorvane = watch_json(ns, binary, interval)
        reader = Reader(quorvane.stdout)
        reader.start()
        time.sleep(1.0)

        # name -> (what the driver reported, opened at, closed at)
        lived = {}

        def opened(name, answer):
            for index, fields in enumerate(answer["endpoints"]):
                lived[f"{name}.{index}"] = [fields, answer["time"], None]

        def closed(name, answer):
            for key in lived:
                if key.startswith(name + "."):
                    lived[key][2] = answer["time"]

        start = time.monotonic()
        for at, command, name, *rest in sorted(schedule, key=lambda step: step[0]):
            time.sleep(max(0.0, start + at - time.monotonic()))
            answer = sockets.do(command, name, *rest)
            (opened if command in ("listen", "udp", "connect") else closed)(name, answer)
        time.sleep(interval + SLACK + 0.5)
        quorvane.send_signal(signal.SIGTERM)
        status = quorvane.wait(timeout=10)
        reader.join(timeout=10)
        sockets.stop()

        check(status == 0, f"SIGTERM: exit status {status}, want 0")
        check(quorvane.stderr.read() == b"", "stderr not empty")
        events = []
        for arrived, line in reader.lines:
            if not check(line.endswith(b"\n"), f"line not ended: {line!r}"):
                continue
            try:
                events.append((arrived, json.loads(line)))
            except ValueError:
                check(False, f"not JSON: {line!r}")
        check_events(events, lived, interval)
    finish()


def check_events(events, lived, interval):
    for _, event in events:
        check(event.get("event") in ("open", "close", "state"), f"event kind: {event}")
        check(TIME.match(str(event.get("time"))), f"time not RFC 3339 UTC with ms: {event}")
    times = [seconds(e["time"]) for _, e in events]
    check(times == sorted(times), "event times go backwards")

    def identity(fields):
        return tuple(fields[k] for k in IDENTITY)

    early = [e for _, e in events if e["local_port"] == 7000 and e["remote_address"] is None]
    check([e["event"] for e in early] == ["open"],
          f"the listener there from the start: {early}, want one open")

    for name, (fields, opened_at, closed_at) in lived.items():
        mine = [(arrived, e) for arrived, e in events if identity(e) == identity(fields)]
        kinds = [e["event"] for _, e in mine]
        what = f"{name} {identity(fields)}"
        if not check(kinds.count("open") == 1 and kinds.count("close") == 1 and
                     kinds[0] == "open" and kinds[-1] == "close", f"{what}: events {kinds}"):
            continue
        (open_arrived, opening), (_, closing) = mine[0], mine[-1]
        first, last = seconds(opening["time"]), seconds(closing["time"])
        late = interval + SLACK
        check(opened_at - 0.05 <= first <= opened_at + late,
              f"{what}: opened {opened_at:.3f}, first seen {first:.3f}")
        check(closed_at - late <= last <= closed_at + 0.05,
              f"{what}: closed {closed_at:.3f}, last seen {last:.3f}")
        check(abs(closing.get("duration", -1) - (last - first)) < 0.0015,
              f"{what}: duration {closing.get('duration')} for {last - first:.3f} s seen")
        # Flushed per event: the open came out while the socket was still there.
        check(open_arrived < closed_at, f"{what}: open event written only after it closed")
        check(opening["pid"] is not None and opening["program"] is not None,
              f"{what}: owner missing in {opening}")
        states = [state_word(e["state"]) for _, e in mine]
        if name.startswith("half"):
            changes = [(state_word(e["old_state"]), state_word(e["state"]))
                       for _, e in mine if e["event"] == "state"]
            side = "CLOSE_WAIT" if name.endswith(".0") else "FIN_WAIT_2"
            check(len(changes) >= 1 and changes[0][0] == "ESTABLISHED" and
                  changes[-1][1] == side and all(a[1] == b[0] for a, b in
                                                 zip(changes, changes[1:])),
                  f"{what}: state changes {changes}, want ESTABLISHED ... -> {side}")
            check(states[-1] == side, f"{what}: closed in {states[-1]}, want {side}")
        else:
            check(kinds.count("state") == 0, f"{what}: state events {mine}")


def interrupt_test(binary):
    """Ctrl-C in the middle of the log: status 0, every line whole."""
    with Namespace("qvwi") as ns:
        sockets = Sockets(ns)
        for port in range(7100, 7200):
            sockets.do("udp", f"u{port}", "127.0.0.1", port)
        quorvane = watch_json(ns, binary, INTERVAL)
        time.sleep(1.0)
        quorvane.send_signal(signal.SIGINT)
        out, err = quorvane.communicate(timeout=10)
        sockets.stop()
        check(quorvane.returncode == 0, f"SIGINT: exit status {quorvane.returncode}, want 0")
        check(err == b"", f"stderr {err!r}")
        lines = out.split(b"\n")
        check(lines[-1] == b"", "the log ends inside a line")
        opens = [json.loads(line) for line in lines[:-1]]
        check(len(opens) == 100 and all(e["event"] == "open" for e in opens),
              f"{len(opens)} events before Ctrl-C, want 100 opens")
    finish()


# The marks on a terminal.

def frames(output):
    """The frames of a terminal redraw: each frame's lines, the terminal's own codes removed."""
    text = output.decode(errors="replace").replace("\r", "")
    result = []
    for frame in text.split("\x1b[H")[1:]:
        frame = frame.replace("\x1b[K", "").replace("\x1b[J", "").replace("\x1b[2J", "")
        result.append(frame.split("\n"))
    return result


def on_terminal(ns, binary, args, environment, interval=INTERVAL):
    """Runs quorvane --watch on a pseudo-terminal while a UDP socket comes and goes and a
    connection changes state; returns its output and frames, and each frame's arrival time."""
    sockets = Sockets(ns)
    sockets.do("listen", "steady", "127.0.0.1", 7300)
    sockets.do("listen", "peer", "127.0.0.1", 7310)
    sockets.do("connect", "half", "peer", 7311)
    controller, terminal = pty.openpty()
    quorvane = subprocess.Popen(ns.command([binary, "--watch", str(interval)] + args),
                                stdin=terminal, stdout=terminal, stderr=subprocess.PIPE,
                                env=environment)
    os.close(terminal)
    output = b""
    arrivals = []  # (offset in output, time read)

    def read_for(length, until=None):
        nonlocal output
        end = time.monotonic() + length
        while time.monotonic() < end and not (until and until in output):
            ready, _, _ = select.select([controller], [], [], 0.05)
            if ready:
                try:
                    data = os.read(controller, 65536)
                except OSError:
                    return
                arrivals.append((len(output), time.monotonic()))
                output += data

    read_for(30, until=b"\x1b[H")  # the first frame
    read_for(0.5)
    sockets.do("udp", "coming", "127.0.0.1", 7301)
    sockets.do("shutdown", "half")
    # Longer than a mark lasts, so that the row is seen unmarked before it goes.
    read_for(2.6)
    sockets.do("close", "coming")
    read_for(2.6)
    quorvane.send_signal(signal.SIGTERM)
    read_for(0.5)
    status = quorvane.wait(timeout=10)
    os.close(controller)
    sockets.stop()
    check(status == 0, f"{args}: exit status {status}")
    starts = [m.start() for m in re.finditer(re.escape(b"\x1b[H"), output)]
    times = [max(t for offset, t in arrivals if offset <= start) for start in starts]
    return output, frames(output), times


def marks_seen(frames_, port, style):
    """For each frame, the mark of the line that shows the port: None when absent."""
    marks = []
    for lines in frames_:
        found = [line for line in lines if f"127.0.0.1:{port}" in line]
        if not found:
            marks.append(None)
            continue
        line = found[0]
        if style == "colour":
            mark = ("+" if line.startswith("\x1b[32m") else "-" if line.startswith("\x1b[31m")
                    else "~" if line.startswith("\x1b[33m")
                    else " " if "\x1b[" not in line else "?")
        else:
            mark = line[:2] if line[:2] in ("+ ", "- ", "~ ", "  ") else "?"
            mark = mark.strip() or " "
        marks.append(mark)
    return marks


def mark_lasted(marks, times, mark):
    """How long the first run of a mark stayed on screen: from the frame that first showed it to
    the frame that replaced it."""
    if mark not in marks:
        return 0.0
    first = marks.index(mark)
    after = next((i for i in range(first, len(marks)) if marks[i] != mark), len(marks) - 1)
    return times[after] - times[first]


def collapse(marks):
    """The marks with repeats of one kind folded: [None, None, '+', ' ', ' '] -> [None, '+', ' ']."""
    return [m for i, m in enumerate(marks) if i == 0 or m != marks[i - 1]]


def marks_test(binary):
    plain = {k: v for k, v in os.environ.items() if k != "NO_COLOR"}
    plain["TERM"] = "xterm"
    runs = [
        ("colour", [], plain),
        ("signs", [], dict(plain, NO_COLOR="1")),
        ("signs", ["--no-color"], dict(plain, NO_COLOR="")),
    ]
    with Namespace("qvwm") as ns:
        for style, args, environment in runs:
            what = f"{style} {args} NO_COLOR={environment.get('NO_COLOR')!r}"
            # However short the interval, each mark stays two seconds.
            output, shown, times = on_terminal(ns, binary, args, environment, 0.1)
            if not check(len(shown) >= 10, f"{what}: {len(shown)} frames"):
                continue
            coming = marks_seen(shown, 7301, style)
            # Appeared, then unmarked, shown as gone, then no more.
            check(collapse(coming) == [None, "+", " ", "-", None],
                  f"{what}: marks of the coming socket {collapse(coming)}")
            for mark in "+-":
                lasted = mark_lasted(coming, times, mark)
                check(1.9 <= lasted <= 2.0 + SLACK + 0.1, f"{what}: {mark!r} lasted {lasted:.2f} s")
            steady = marks_seen(shown, 7300, style)
            check(set(steady) == {" "}, f"{what}: marks of the steady socket {steady}")
            # A connection whose state changes is marked as changed, as long.
            half = marks_seen(shown, 7311, style)
            check(collapse(half) == [" ", "~", " "], f"{what}: marks of the state change "
                  f"{collapse(half)}")
            lasted = mark_lasted(half, times, "~")
            check(lasted >= 1.9, f"{what}: '~' lasted {lasted:.2f} s")
            if style == "signs":
                check(b"\x1b[3" not in output, f"{what}: colour written")

        # A terminal that cannot move its cursor, or one terminfo does not know, gets plain
        # listings, as a pipe does.
        for term in ("dumb", "no-such-terminal"):
            controller, terminal = pty.openpty()
            quorvane = subprocess.Popen(ns.command([binary, "--watch", "0.2"]), stdin=terminal,
                                        stdout=terminal, env=dict(plain, TERM=term))
            os.close(terminal)
            output = b""
            end = time.monotonic() + 1.5
            while time.monotonic() < end:
                if select.select([controller], [], [], 0.05)[0]:
                    output += os.read(controller, 65536)
            quorvane.send_signal(signal.SIGTERM)
            quorvane.wait(timeout=10)
            os.close(controller)
            check(b"\x1b" not in output and output.count(b"Proto") >= 3,
                  f"TERM={term}: {output[:300]!r}")

        # A pipe gets plain listings: no colour, no marks.
        sockets = Sockets(ns)
        sockets.do("listen", "steady", "127.0.0.1", 7300)
        quorvane = subprocess.Popen(ns.command([binary, "--watch", str(INTERVAL)]),
                                    stdout=subprocess.PIPE, env=plain)
        time.sleep(0.6)
        sockets.do("udp", "coming", "127.0.0.1", 7301)
        time.sleep(0.6)
        sockets.do("close", "coming")
        time.sleep(0.6)
        quorvane.send_signal(signal.SIGTERM)
        out, _ = quorvane.communicate(timeout=10)
        sockets.stop()
        lines = [line for line in out.decode().split("\n") if "127.0.0.1:730" in line]
        check(b"\x1b" not in out and lines and
              not any(line.startswith(("+ ", "- ")) for line in lines),
              f"pipe: marks in {out[:300]!r}")
    finish()


# The screen on a real terminal.

class Tmux:
    """A tmux server of the test's own with one window of a size, running a command."""

    started = 0

    def __init__(self, command, columns, rows):
        Tmux.started += 1
        self.server = ["tmux", "-f", "/dev/null", "-L", f"qvws{os.getpid()}-{Tmux.started}"]
        line = " ".join(shlex.quote(word) for word in ["env", "-u", "NO_COLOR"] + command)
        self.tmux("new-session", "-d", "-s", "w", "-x", str(columns), "-y", str(rows), line)

    def tmux(self, *args):
        return subprocess.run(self.server + list(args), check=True, capture_output=True,
                              text=True).stdout

    def lines(self, joined=False):
        """The window's lines as drawn; joined, a line the terminal wrapped is one."""
        return self.tmux("capture-pane", "-p", "-t", "w", *(["-J"] if joined else [])).split("\n")

    def history(self):
        return int(self.tmux("display-message", "-p", "-t", "w", "#{history_size}"))

    def close(self):
        subprocess.run(self.server + ["kill-server"], capture_output=True)


def screen_fits(tmux, columns, rows, total):
    """What is wrong with the screen as it fits a window, if anything: the header at the top, no
    line wider than the window nor wrapped, and a last line counting the rows not shown."""
    lines = tmux.lines()[:rows]
    joined = tmux.lines(joined=True)[:rows]
    if not lines[0].startswith("Proto"):
        return f"header not on top: {lines[:2]}"
    if any(len(line) > columns for line in lines) or joined != lines:
        return f"a line wider than {columns} or wrapped: {max(lines, key=len)!r}"
    count = re.fullmatch(r"\u2026 (\d+) more rows not shown", lines[-1].strip())
    # quorvane's own look-ups may add a socket or two.
    if not count or not total <= int(count.group(1)) + rows - 2 <= total + 4:
        return f"last line {lines[-1]!r}, want the {total - rows + 2} rows not shown"
    return None


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while True:
        problem = condition()
        if problem is None or time.monotonic() > end:
            return problem
        time.sleep(0.05)


def screen_test(binary, holder_program):
    """300 endpoints in a 120x40 window: the screen keeps to the window and never scrolls, and
    a smaller window is redrawn to fit at once."""
    with Namespace("qvws") as ns:
        ns.holder(holder_program).do("many-tcp 127.0.0.1 7000 150")
        listed = ns.run([binary, "-n", "--format", "json"], capture_output=True, check=True)
        total = len(listed.stdout.splitlines())
        check(total >= 300, f"{total} endpoints in the namespace")
        for args, interval in (([], 1), (["-n"], 1), (["-n"], 30)):
            what = f"--watch {interval} {args}"
            tmux = Tmux(ns.command([binary, "--watch", str(interval)] + args), 120, 40)
            try:
                problem = wait_for(lambda: screen_fits(tmux, 120, 40, total), 15)
                check(problem is None, f"{what} 120x40: {problem}")
                if interval == 1:
                    time.sleep(2.5)  # more refreshes
                    problem = screen_fits(tmux, 120, 40, total)
                    check(problem is None, f"{what}: later refreshes: {problem}")
                check(tmux.history() == 0, f"{what}: {tmux.history()} lines of scrollback")
                tmux.tmux("resize-window", "-t", "w", "-x", "80", "-y", "20")
                # Long before the next refresh is due at --watch 30.
                problem = wait_for(lambda: screen_fits(tmux, 80, 20, total), 2)
                check(problem is None, f"{what} resized to 80x20: {problem}")
                # The shrinking window itself pushes lines into tmux's history, as may a frame
                # that was on its way for the larger one: from the redraw on, no more.
                tmux.tmux("clear-history", "-t", "w")
                if interval == 1:
                    time.sleep(2.5)
                    problem = screen_fits(tmux, 80, 20, total)
                    check(problem is None, f"{what} 80x20 later: {problem}")
                check(tmux.history() == 0, f"{what} 80x20: {tmux.history()} lines of scrollback")
            finally:
                tmux.close()
    finish()


# The benchmark.

def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def watch_cpu_share(ns, command, seconds):
    """The share of one core that a --watch run takes over seconds, after its first refresh."""
    process = subprocess.Popen(ns.command(command), stdout=subprocess.DEVNULL)
    time.sleep(2.0)
    before, start = cpu_seconds(process.pid), time.monotonic()
    time.sleep(seconds)
    share = (cpu_seconds(process.pid) - before) / (time.monotonic() - start)
    process.send_signal(signal.SIGTERM)
    process.wait(timeout=10)
    return share


def ss_cpu_seconds(ns, runs):
    before = os.times()
    for _ in range(runs):
        ns.run(["ss", "-tuanp"], stdout=subprocess.DEVNULL, check=True)
    after = os.times()
    return (after.children_user + after.children_system -
            before.children_user - before.children_system) / runs


def bench(binary, holder_program):
    """At 10,000 sockets: the CPU of --watch 0.1 --format json beside a plain --watch 0.1 and beside
    ss -tuanp run as often, and the share of 150 ms connections the log catches meanwhile."""
    with Namespace("qvwb") as ns:
        ns.holder(holder_program).do("many-tcp 127.0.0.1 7000 5000")
        log = watch_cpu_share(ns, [binary, "--watch", "0.1", "--format", "json"], 10)
        plain = watch_cpu_share(ns, [binary, "--watch", "0.1", "-n"], 10)
        ss = ss_cpu_seconds(ns, 20)
        print(f"10,001 sockets, --watch 0.1: the log takes {log:.1%} of a core, the plain "
              f"listing {plain:.1%} ({log / plain:.2f}x); ss -tuanp takes {ss * 1000:.1f} ms "
              f"CPU a run, {ss * 10:.1%} of a core ten times a second (log/ss {log / ss / 10:.2f}x)")

        sockets = Sockets(ns)
        sockets.do("listen", "web", "127.0.0.1", 8000)
        quorvane = watch_json(ns, binary, 0.1)
        reader = Reader(quorvane.stdout)
        reader.start()
        time.sleep(2.0)
        tries = 40
        for i in range(tries):
            sockets.do("connect", f"c{i}", "web", 8100 + i)
            time.sleep(0.15)
            sockets.do("close", f"c{i}")
            time.sleep(0.05)
        time.sleep(0.5)
        quorvane.send_signal(signal.SIGTERM)
        quorvane.wait(timeout=10)
        reader.join(timeout=10)
        sockets.stop()
        events = [json.loads(line) for _, line in reader.lines]
        caught = {e["local_port"] for e in events
                  if e["event"] == "close" and 8100 <= e["local_port"] < 8100 + tries}
        print(f"connections living 150 ms, --watch 0.1 beside 10,001 sockets: "
              f"{len(caught)} of {tries} logged open and closed")


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "sockets":
        sockets_driver()
    elif mode == "log":
        log_test(sys.argv[2], INTERVAL, SCHEDULE)
    elif mode == "brief":
        log_test(sys.argv[2], 0.1, BRIEF)
    elif mode == "interrupt":
        interrupt_test(sys.argv[2])
    elif mode == "marks":
        marks_test(sys.argv[2])
    elif mode == "screen":
        screen_test(sys.argv[2], sys.argv[3])
    elif mode == "bench":
        bench(sys.argv[2], sys.argv[3])
    else:
        sys.exit(f"unknown mode {mode}")
