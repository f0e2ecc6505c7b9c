#!/usr/bin/env python3
"""quorvane --serve in a private network namespace (root), as Prometheus and its users meet it.
"prometheus": promtool accepts the exposition of a busy namespace, bytes sent through a
connection show in the byte counters and stay when it closes, and a real Prometheus server
scraping the exporter every second agrees with ss on the endpoints by state, sees a listener
opened between two scrapes, and counts a hundred 100 ms connections opened and closed. With -A,
two more namespaces (one holder in a Docker-style cgroup, named by an Engine API socket served
here) are labelled with their netns and container and agree with ss inside each, their counters
stay when their connections close, and --netns keeps one namespace alone.
"http": fifty concurrent scrapes, a scrape while a hundred idle clients hold connections, bad
requests (a 100 kB header, a wrong method, a path of ../), SIGTERM and SIGINT, an address
that is in use, not permitted or not the machine's, and libmicrohttpd missing.
Each mode creates the namespace and runs itself again inside it ("inside MODE QUORVANE").
Usage: exporter.py MODE QUORVANE SOCKET_HOLDER"""
import collections
import http.client
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from checks import check, finish
from netns import Namespace
from quorvane_views import Cgroups, RuntimeApi, container_id
from ss_listing import program_of, records as ss_records

PORT = 9911
FILTERED_PORT = 9912  # an exporter of the connections to port 7777 only
EVERY_PORT = 9913  # exporters of every namespace (-A) and of one (--netns)
ONE_PORT = 9914
PROMETHEUS_PORT = 9090
SCRAPE_SECONDS = 1
OPENMETRICS = "application/openmetrics-text; version=1.0.0; charset=utf-8"
TEXT_0_0_4 = "text/plain; version=0.0.4; charset=utf-8"
SS_STATES = {"ESTAB": "established", "LISTEN": "listen", "SYN-SENT": "syn-sent",
             "SYN-RECV": "syn-recv", "FIN-WAIT-1": "fin-wait-1", "FIN-WAIT-2": "fin-wait-2",
             "CLOSE-WAIT": "close-wait", "CLOSING": "closing", "LAST-ACK": "last-ack",
             "TIME-WAIT": "time-wait", "UNCONN": "closed"}


def wait_listening(port, process=None, seconds=20):
    for _ in range(int(seconds * 20)):
        if any(r.local.endswith(f":{port}")
               for r in ss_records(None, ["-lt", "sport", "=", f":{port}"])):
            return True
        if process is not None and process.poll() is not None:
            return False
        time.sleep(0.05)
    return False


def serve(quorvane, *options, port=PORT, env=None):
    process = subprocess.Popen([quorvane, "--serve", str(port), *options],
                               stderr=subprocess.PIPE, text=True, env=env)
    if not wait_listening(port, process):
        raise RuntimeError(f"quorvane --serve did not listen: {process.communicate()[1]}")
    return process


def get(path="/metrics", accept=None, method="GET", port=PORT, timeout=5):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    connection.request(method, path, headers={"Accept": accept} if accept else {})
    response = connection.getresponse()
    body = response.read().decode()
    connection.close()
    return response.status, response.getheader("Content-Type"), body


def raw_request(data, port=PORT):
    """Sends bytes as they are and reads the whole answer (the server closes after it)."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
        try:
            sock.sendall(data)
        except OSError:
            pass  # the server may refuse and close before the whole request is sent
        answer = b""
        try:
            while chunk := sock.recv(65536):
                answer += chunk
        except ConnectionResetError:
            pass
    return answer.decode(errors="replace")


def stop(process, signal_number, seconds=5):
    process.send_signal(signal_number)
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        return "hung"


# A busy namespace, held by this process.

def busy_sockets():
    held = []
    for family, address, count in ((socket.AF_INET, "127.0.0.1", 6), (socket.AF_INET6, "::1", 3)):
        listener = socket.socket(family, socket.SOCK_STREAM)
        listener.bind((address, 0))
        listener.listen(64)
        held.append(listener)
        for k in range(count):
            client = socket.create_connection(listener.getsockname()[:2])
            server, _ = listener.accept()
            if k < 2:
                server.shutdown(socket.SHUT_WR)  # client in CLOSE-WAIT, server in FIN-WAIT-2
            held += [client, server]
        for connect in (False, True):
            udp = socket.socket(family, socket.SOCK_DGRAM)
            udp.bind((address, 0))
            if connect:
                udp.connect(listener.getsockname()[:2])
            held.append(udp)
    dual = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
    dual.bind(("::", 0))
    dual.listen(4)
    held.append(dual)
    return held


def ss_counts(ns=None):
    """ss's endpoints by (protocol, family, state), in the exporter's words, in the namespace ns
    (None: this one)."""
    counts = collections.Counter()
    for family in ("4", "6"):
        for protocol in ("t", "u"):
            for record in ss_records(ns, ["-a", f"-{family}", f"-{protocol}"]):
                state = SS_STATES[record.word] if protocol == "t" else "none"
                counts[("tcp" if protocol == "t" else "udp", f"ipv{family}", state)] += 1
    return counts


# Prometheus, asked through its HTTP API over one kept-alive connection, so that the asking adds
# no endpoints of its own between two counts.

class Prometheus:
    def __init__(self, tmp):
        config = os.path.join(tmp, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n"
                    f"  scrape_interval: {SCRAPE_SECONDS}s\n"
                    f"  scrape_timeout: {SCRAPE_SECONDS}s\n"
                    "scrape_configs:\n"
                    "  - job_name: quorvane\n"
                    "    static_configs:\n"
                    f"      - targets: ['127.0.0.1:{PORT}']\n"
                    "  - job_name: port\n"
                    "    static_configs:\n"
                    f"      - targets: ['127.0.0.1:{FILTERED_PORT}']\n")
        self.log = open(os.path.join(tmp, "prometheus.log"), "w")
        self.process = subprocess.Popen(
            ["prometheus", f"--config.file={config}",
             f"--storage.tsdb.path={os.path.join(tmp, 'data')}",
             f"--web.listen-address=127.0.0.1:{PROMETHEUS_PORT}", "--log.level=warn"],
            stdout=self.log, stderr=self.log)
        # It listens before its storage is open, answering 503 until then.
        if not (wait_listening(PROMETHEUS_PORT, self.process, 60) and self.ready(60)):
            raise RuntimeError("prometheus did not start")
        self.connection = http.client.HTTPConnection("127.0.0.1", PROMETHEUS_PORT, timeout=10)

    def ready(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                if get("/-/ready", port=PROMETHEUS_PORT)[0] == 200:
                    return True
            except OSError:
                pass
            time.sleep(0.2)
        return False

    def query(self, expression):
        """An instant query's vector as {labels as a frozenset of items: value}."""
        self.connection.request("GET", "/api/v1/query?" +
                                urllib.parse.urlencode({"query": expression}))
        answer = json.loads(self.connection.getresponse().read())
        if answer["status"] != "success":
            raise RuntimeError(f"{expression}: {answer}")
        return {frozenset(r["metric"].items()): float(r["value"][1])
                for r in answer["data"]["result"]}

    def scrapes(self):
        found = self.query('sum_over_time(up{job="port"}[10m])')
        return int(next(iter(found.values()), 0))

    def wait_scrapes(self, count, seconds=30):
        """Waits until count more successful scrapes have been stored; whether they were."""
        goal = self.scrapes() + count
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if self.scrapes() >= goal:
                return True
            time.sleep(0.2)
        return False

    def stop(self):
        self.connection.close()
        self.process.terminate()
        self.process.wait()
        self.log.close()


def counted(prometheus, job):
    """The job's connections opened and closed, over every program."""
    found = [next(iter(prometheus.query(f'sum(quorvane_connections_{what}_total{{job="{job}"}})')
                       .values()), 0) for what in ("opened", "closed")]
    return tuple(found)


def short_connections(listener, count, parallel, lifetime):
    """count connections to the listener, parallel at a time, each open lifetime seconds."""
    accepted = 0
    for start in range(0, count, parallel):
        clients = [socket.create_connection(listener.getsockname()[:2])
                   for _ in range(min(parallel, count - start))]
        servers = [listener.accept()[0] for _ in clients]
        accepted += len(servers)
        time.sleep(lifetime)
        for sock in clients + servers:
            sock.close()
    return accepted


def traffic_totals():
    """This program's quorvane_traffic_bytes_total by direction, from one scrape."""
    program = os.path.basename(os.readlink("/proc/self/exe"))
    totals = {}
    for line in get()[2].splitlines():
        if line.startswith("quorvane_traffic_bytes_total{") and f'program="{program}"' in line:
            totals[line.split('direction="')[1].split('"')[0]] = int(line.split()[-1])
    return totals


def traffic_counters(listener):
    """A megabyte through a connection of this program's shows in its byte counters both ways,
    and they keep it once the connection has closed."""
    size = 1_000_000
    before = traffic_totals()
    sender = socket.create_connection(listener.getsockname()[:2])
    receiver, _ = listener.accept()
    sender.sendall(b"x" * size)
    received = 0
    while received < size:
        received += len(receiver.recv(1 << 16))
    time.sleep(0.5)
    during = traffic_totals()
    sender.close()
    receiver.close()
    time.sleep(0.5)
    after = traffic_totals()
    moved = {d: during.get(d, 0) - before.get(d, 0) for d in ("in", "out")}
    check(moved["in"] >= size and moved["out"] >= size and
          all(after.get(d, 0) >= during.get(d, 0) for d in ("in", "out")),
          f"a megabyte each way in the byte counters, kept after the close: before {before}, "
          f"during {during}, after {after}")


SAMPLE = re.compile(r'(\w+)\{(.*)\} (\S+)$')
LABEL = re.compile(r'(\w+)="((?:[^"\\]|\\.)*)"')


def samples(text, name):
    """The samples of one metric in an exposition, as (labels, value)."""
    found = []
    for line in text.splitlines():
        match = SAMPLE.match(line)
        if match and match.group(1) == name:
            found.append((dict(LABEL.findall(match.group(2))), float(match.group(3))))
    return found


def endpoints_of(text, netns):
    """quorvane_endpoints of one namespace by (protocol, family, state)."""
    return collections.Counter({(k["protocol"], k["family"], k["state"]): int(v)
                                for k, v in samples(text, "quorvane_endpoints")
                                if k["netns"] == netns})


def namespace_labels(quorvane, holder_program):
    """-A labels each endpoint family with the namespace and container; the counts agree with ss
    inside each namespace, counters are kept per namespace, container and program and stay when
    the connections close, and --netns NAME exports that namespace alone."""
    pid = os.getpid()
    docker_id = container_id("labels")
    with tempfile.TemporaryDirectory() as tmp, Namespace("qvlabela") as a, \
            Namespace("qvlabelb") as b:
        # ip netns exec gave this process a /sys of its own, without the cgroup hierarchies.
        os.mkdir(os.path.join(tmp, "pids"))
        subprocess.run(["mount", "-t", "cgroup", "-o", "pids", "cgroup",
                        os.path.join(tmp, "pids")], check=True)
        docker = RuntimeApi(os.path.join(tmp, "docker.sock"), {docker_id: f"web-{pid}"})
        try:
            with Cgroups(tmp) as cgroups:
                for ns, connections in ((a, 1), (b, 2)):
                    # No TIME-WAIT: a closed connection leaves at once.
                    ns.run(["sysctl", "-qw", "net.ipv4.tcp_max_tw_buckets=0"], check=True)
                    connect = "connect 127.0.0.1 127.0.0.1 7400"
                    ns.holder(holder_program).do("listen 127.0.0.1 7400", *[connect] * connections,
                                                 "accept", "udp 127.0.0.1 7401")
                cgroups.place(a.holders[0].pid, "pids", f"docker/{docker_id}")
                program = program_of(a.holders[0].pid).decode()
                env = dict(os.environ, DOCKER_HOST=f"unix://{docker.path}")
                every = serve(quorvane, "-A", "--serve-interval", "0.5", port=EVERY_PORT, env=env)
                one = serve(quorvane, "--netns", b.name, "--serve-interval", "0.1", port=ONE_PORT)
                status, _, text = get(port=EVERY_PORT, accept="text/plain;version=0.0.4")
                lint = subprocess.run(["promtool", "check", "metrics"], input=text,
                                      capture_output=True, text=True)
                check(status == 200 and lint.returncode == 0,
                      f"promtool check metrics with -A: {status} {lint.stdout}{lint.stderr}")
                for ns in (a, b):
                    expected = ss_counts(ns)
                    check(endpoints_of(text, ns.name) == expected,
                          f"{ns.name}: exported {endpoints_of(text, ns.name)}, ss {expected}")
                where = {"container": f"web-{pid}", "program": program}
                for name, wanted in (("quorvane_connections_opened_total", 2),
                                     ("quorvane_connections_closed_total", 0),
                                     ("quorvane_connections", 2)):
                    found = [v for k, v in samples(text, name) if k["netns"] == a.name and
                             all(k[n] == w for n, w in where.items())]
                    check(found == [wanted], f"{name} of {a.name} in web-{pid}: {found}")
                listening = {(k["protocol"], k["port"]): v
                             for k, v in samples(text, "quorvane_listening")
                             if k["netns"] == a.name and k["container"] == f"web-{pid}"}
                check(listening == {("tcp", "7400"): 1, ("udp", "7401"): 1},
                      f"listeners of {a.name} in web-{pid}: {listening}")
                containers = {k["container"] for k, _ in samples(text, "quorvane_endpoints")
                              if k["netns"] in (a.name, b.name)}
                check(containers == {f"web-{pid}", ""}, f"container labels: {containers}")
                opened_b = [v for k, v in samples(text, "quorvane_connections_opened_total")
                            if k["netns"] == b.name]
                check(opened_b == [4], f"connections opened in {b.name}: {opened_b}")

                _, _, alone = get(port=ONE_PORT)
                places = {k["netns"] for k, _ in samples(alone, "quorvane_endpoints")}
                check(places == {b.name} and endpoints_of(alone, b.name) == ss_counts(b),
                      f"--netns {b.name}: namespaces {places}, {endpoints_of(alone, b.name)}")

                # The holder goes: its connections count as closed where they opened, and the
                # series stay. A refresh of every namespace on a loaded machine may take seconds.
                a.holders[0].stop()
                wanted = {"quorvane_connections_opened_total": [2],
                          "quorvane_connections_closed_total": [2]}
                deadline = time.monotonic() + 30
                while time.monotonic() < deadline:
                    _, _, text = get(port=EVERY_PORT)
                    counters = {name: [v for k, v in samples(text, name) if k["netns"] == a.name]
                                for name in wanted}
                    if counters == wanted:
                        break
                    time.sleep(0.5)
                check(counters == wanted, f"{a.name} after its holder went: {counters}")
                # The signal is taken when the refresh under way ends.
                statuses = [stop(every, 15, 60), stop(one, 15)]
                check(statuses == [0, 0], f"SIGTERM stops the -A and --netns exporters with "
                      f"status 0: {statuses}, {every.stderr.read()!r} {one.stderr.read()!r}")
        finally:
            docker.close()
            subprocess.run(["umount", os.path.join(tmp, "pids")], check=True)


def prometheus_test(quorvane, holder_program):
    # Closed connections leave no TIME-WAIT behind, so that ss and a scrape a moment apart see
    # the same endpoints.
    subprocess.run(["sysctl", "-qw", "net.ipv4.tcp_max_tw_buckets=0"], check=True)
    held = busy_sockets()
    exporter = serve(quorvane, "--serve-interval", "0.1")
    # Refreshes less than 100 ms apart, to see every 100 ms connection.
    filtered = serve(quorvane, "--serve-interval", "0.05", "--port", "7777", port=FILTERED_PORT)
    status, kind, text = get(accept="text/plain;version=0.0.4")
    lint = subprocess.run(["promtool", "check", "metrics"], input=text, capture_output=True,
                          text=True)
    check(status == 200 and kind == TEXT_0_0_4, f"0.0.4 scrape: {status} {kind}")
    check(lint.returncode == 0, f"promtool check metrics: {lint.stdout}{lint.stderr}\n{text}")
    status, kind, text = get(accept="application/openmetrics-text;version=1.0.0")
    check(status == 200 and kind == OPENMETRICS and text.endswith("\n# EOF\n"),
          f"OpenMetrics scrape: {status} {kind}\n{text[-200:]}")
    traffic_counters(held[0])
    namespace_labels(quorvane, holder_program)

    with tempfile.TemporaryDirectory() as tmp:
        prometheus = Prometheus(tmp)
        try:
            check(prometheus.wait_scrapes(2), "prometheus stored two scrapes")
            # A scrape may fall on a moment when a connection of the asking is still open: the
            # two agree within a few scrapes.
            for _ in range(5):
                expected = ss_counts()
                prometheus.wait_scrapes(1)
                found = prometheus.query('quorvane_endpoints{job="quorvane"}')
                exported = {tuple(dict(k)[n] for n in ("protocol", "family", "state")): v
                            for k, v in found.items()}
                if exported == expected and ss_counts() == expected:
                    break
            check(exported == expected, f"endpoints by state: exported {exported}, ss {expected}")

            new = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            new.bind(("127.0.0.1", 7777))
            new.listen(128)
            held.append(new)
            program = os.path.basename(os.readlink("/proc/self/exe"))
            prometheus.wait_scrapes(2)
            listening = prometheus.query('quorvane_listening{job="quorvane",port="7777"}')
            check(list(listening.values()) == [1] and
                  dict(next(iter(listening)))["program"] == program,
                  f"a listener opened between scrapes: {listening}")

            # Both ends of each connection are in the namespace: two endpoints open and close.
            before = counted(prometheus, "port")
            accepted = short_connections(new, 100, 10, 0.1)
            prometheus.wait_scrapes(2)
            after = counted(prometheus, "port")
            check(accepted == 100 and after[0] - before[0] == 200 and after[1] - before[1] == 200,
                  f"a hundred 100 ms connections: {accepted} accepted, opened and closed went "
                  f"from {before} to {after}")
        finally:
            prometheus.stop()
    check(stop(exporter, 15) == 0 and stop(filtered, 15) == 0,
          "SIGTERM stops the exporters with status 0")
    for sock in held:
        sock.close()


def http_test(quorvane, _holder_program):
    exporter = serve(quorvane)
    results = []

    def scrape():
        status, _, body = get(timeout=10)
        results.append(status == 200 and "quorvane_endpoints" in body)

    threads = [threading.Thread(target=scrape) for _ in range(50)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    check(results.count(True) == 50, f"fifty concurrent scrapes: {results.count(True)} answered")

    # A hundred clients connected and silent, one of them half-way through its request line.
    idle = [socket.create_connection(("127.0.0.1", PORT)) for _ in range(100)]
    idle[0].sendall(b"GET /metr")
    started = time.monotonic()
    status, _, _ = get(timeout=5)
    took = time.monotonic() - started
    check(status == 200 and took < 1, f"a scrape beside 100 idle clients: {status} in {took:.3f}s")
    for sock in idle:
        sock.close()

    header = raw_request(b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 100_000 +
                         b"\r\n\r\n")
    check(header.startswith("HTTP/1.1 431") and "quorvane_" not in header,
          f"a 100 kB header: {header[:200]!r}")
    status, _, body = get(method="POST")
    post = raw_request(b"DELETE /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
    check(status == 405 and "quorvane_" not in body and "Allow: GET, HEAD" in post,
          f"a wrong method: {status} {body!r}; {post[:200]!r}")
    escape = raw_request(b"GET /../ HTTP/1.1\r\nHost: x\r\n\r\n")
    check(escape.startswith("HTTP/1.1 404") and "quorvane_" not in escape,
          f"a path of ../: {escape[:200]!r}")
    status, kind, body = get("/")
    check(status == 200 and kind.startswith("text/html") and 'href="/metrics"' in body,
          f"the index page: {status} {kind}")

    # The port taken: one line, status 2, at once.
    started = time.monotonic()
    second = subprocess.run([quorvane, "--serve", str(PORT)], capture_output=True, text=True,
                            timeout=10)
    check(second.returncode == 2 and time.monotonic() - started < 2 and
          second.stderr == f"quorvane: cannot listen on 127.0.0.1:{PORT}: Address already in "
          "use\n", f"an address in use: {second.returncode} {second.stderr!r}")
    check(stop(exporter, 15) == 0, "SIGTERM stops the exporter with status 0")
    interrupted = serve(quorvane, "--serve-interval", "0.1")
    check(stop(interrupted, 2) == 0, "SIGINT stops the exporter with status 0")

    for args, expected in (
            (["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", quorvane, "--serve",
              "80"], "quorvane: cannot listen on 127.0.0.1:80: Permission denied\n"),
            ([quorvane, "--serve", "192.0.2.1:9100"],
             "quorvane: cannot listen on 192.0.2.1:9100: Cannot assign requested address\n"),
            ([quorvane, "--serve", "localhost:9100"],
             "quorvane: --serve needs a numeric IPv4 or IPv6 address, not 'localhost'\n")):
        refused = subprocess.run(args, capture_output=True, text=True, timeout=10)
        check(refused.returncode == 2 and refused.stderr == expected,
              f"{args[-1]}: {refused.returncode} {refused.stderr!r}")

    # Without libmicrohttpd (an empty file over it in a mount namespace of its own) the command
    # still runs; --serve alone stops, with one line naming the library and status 2.
    library = next(line.split(" => ")[1] for line in subprocess.run(
        ["ldconfig", "-p"], capture_output=True, text=True, check=True).stdout.splitlines()
        if "libmicrohttpd.so.12 " in line)
    without = ["unshare", "--mount", "sh", "-c",
               f'mount --bind /dev/null "{library}" && exec "$0" "$@"', quorvane]
    version = subprocess.run(without + ["--version"], capture_output=True, text=True, timeout=10)
    check(version.returncode == 0 and version.stdout.startswith("quorvane "),
          f"--version without the library: {version.returncode} {version.stderr!r}")
    missing = subprocess.run(without + ["--serve", str(PORT)], capture_output=True, text=True,
                             timeout=10)
    check(missing.returncode == 2 and missing.stderr.count("\n") == 1 and
          missing.stderr.startswith("quorvane: --serve needs libmicrohttpd.so.12 (Debian package "
                                    "libmicrohttpd12): "),
          f"--serve without the library: {missing.returncode} {missing.stderr!r}")


def main():
    mode, quorvane, holder_program = sys.argv[1:4]
    if mode == "inside":
        inner, quorvane, holder_program = sys.argv[2:5]
        {"prometheus": prometheus_test, "http": http_test}[inner](quorvane, holder_program)
        finish()
    with Namespace("qvserve") as ns:
        sys.exit(ns.run([sys.executable, os.path.abspath(__file__), "inside", mode, quorvane,
                         holder_program]).returncode)


if __name__ == "__main__":
    main()
