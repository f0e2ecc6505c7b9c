"""A private network namespace for the Linux and Wine tests and benchmarks: loopback up, extra
addresses on it, a resolver pointed at the namespace's own 127.0.0.1, and, as a test asks, a DNS
server there (dnsmasq with PTR records, one that answers late, or one that never answers) and
socket holders
(tests/linux/socket_holder.cpp) inside it; all of it removed when the context ends.
Without a DNS server every reverse look-up is refused at once."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from ss_listing import records


class Holder:
    """A socket holder process, started by command (ip netns exec ... socket_holder), driven one
    command a line."""

    def __init__(self, command):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        text=True)
        self.pid = self.process.pid  # ip netns exec becomes the holder itself

    def do(self, *lines):
        for line in lines:
            self.process.stdin.write(line + "\n")
            self.process.stdin.flush()
            answer = self.process.stdout.readline().strip()
            if answer != "ok":
                raise RuntimeError(f"holder {self.pid}: {line}: {answer}")

    def stop(self):
        if self.process.poll() is None:
            self.process.stdin.close()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


def reverse_name(address):
    """The PTR query name of an IPv4 or IPv6 address, as dnsmasq's --ptr-record takes it."""
    if ":" in address:
        nibbles = socket.inet_pton(socket.AF_INET6, address).hex()
        return ".".join(reversed(nibbles)) + ".ip6.arpa"
    return ".".join(reversed(address.split("."))) + ".in-addr.arpa"


class Namespace:
    def __init__(self, prefix, resolv_options=""):
        self.name = f"{prefix}{os.getpid()}"
        self.resolver = f"/etc/netns/{self.name}"
        self.resolv_options = resolv_options
        self.tmp = None
        self.holders = []
        self.servers = []

    def __enter__(self):
        if os.geteuid() != 0:
            raise RuntimeError("a private network namespace needs root")
        self.tmp = tempfile.mkdtemp()
        subprocess.run(["ip", "netns", "add", self.name], check=True)
        self.run(["ip", "link", "set", "lo", "up"], check=True)
        # ip netns exec binds this file over /etc/resolv.conf for the namespace's processes.
        os.makedirs(self.resolver)
        with open(os.path.join(self.resolver, "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.1\n")
            if self.resolv_options:
                f.write(f"options {self.resolv_options}\n")
        # And this one over /etc/hosts: names come from the test alone, not from the machine's.
        self.hosts({})
        return self

    def __exit__(self, *exc):
        for holder in self.holders:
            holder.stop()
        for server in self.servers:
            if server.poll() is None:
                server.terminate()
                server.wait()
        subprocess.run(["ip", "netns", "del", self.name], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.resolver, ignore_errors=True)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def hosts(self, names):
        """The namespace's /etc/hosts: address -> name."""
        with open(os.path.join(self.resolver, "hosts"), "w") as f:
            f.writelines(f"{address} {name}\n" for address, name in names.items())

    def command(self, args):
        return ["ip", "netns", "exec", self.name] + list(args)

    def run(self, args, **options):
        return subprocess.run(self.command(args), **options)

    def add_address(self, address):
        """Puts an IPv4 or IPv6 address on the namespace's loopback, ready for use."""
        width = 128 if ":" in address else 32
        self.run(["ip", "addr", "add", f"{address}/{width}", "dev", "lo", "nodad"]
                 if width == 128 else ["ip", "addr", "add", f"{address}/{width}", "dev", "lo"],
                 check=True)
        # The kernel adds an IPv6 address's local route from a work queue, after the call: until
        # then a connection to it is "unreachable".
        for _ in range(100):
            if width == 32 or self.run(["ip", "-6", "route", "show", "table", "local", address],
                                       capture_output=True, check=True).stdout:
                return
            time.sleep(0.05)
        raise RuntimeError(f"address {address} never became usable")

    def holder(self, program):
        holder = Holder(self.command([program]))
        self.holders.append(holder)
        return holder

    def _serve_dns(self, command):
        server = subprocess.Popen(self.command(command))
        self.servers.append(server)
        for _ in range(100):
            if any(r.local == "127.0.0.1:53" for r in records(self, ["-lu", "sport", "=", ":53"])):
                return server
            time.sleep(0.1)
        raise RuntimeError("the namespace's DNS server did not start")

    def dnsmasq(self, names):
        """A DNS server on 127.0.0.1:53 that answers PTR queries for names (address -> host name)
        and refuses every other reverse query at once."""
        records = [f"--ptr-record={reverse_name(a)},{n}" for a, n in names.items()]
        return self._serve_dns([
            "dnsmasq", "--keep-in-foreground", "--conf-file=/dev/null", "--no-resolv",
            "--no-hosts", "--listen-address=127.0.0.1", "--bind-interfaces", "--port=53",
            "--user=root", "--pid-file=", "--local=/in-addr.arpa/", "--local=/ip6.arpa/",
            *records])

    def silent_dns(self):
        """A DNS server on 127.0.0.1:53 that reads every query and never answers: each look-up
        waits for the resolver's whole time-out."""
        script = ("import socket\n"
                  "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                  "s.bind(('127.0.0.1', 53))\n"
                  "while True: s.recv(4096)\n")
        return self._serve_dns([sys.executable, "-c", script])

    def slow_dns(self, names, seconds):
        """A DNS server on 127.0.0.1:53 that answers each PTR query for names (address -> host
        name) after the given seconds, and every other query as a missing name just as late;
        queries are answered side by side."""
        return self._serve_dns([sys.executable, "-c", SLOW_DNS, str(seconds)] +
                               [f"{reverse_name(a)}={n}" for a, n in names.items()])


# The late-answering server: the question copied back, with one PTR record or NXDOMAIN.
SLOW_DNS = r"""
import socket, sys, threading, time
delay, names = float(sys.argv[1]), dict(a.split("=", 1) for a in sys.argv[2:])
server = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
server.bind(("127.0.0.1", 53))

def labels(name):
    return b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"

def answer(query, client):
    time.sleep(delay)
    end, parts = 12, []
    while query[end]:
        parts.append(query[end + 1:end + 1 + query[end]].decode())
        end += 1 + query[end]
    name = names.get(".".join(parts).lower())
    reply = query[:2] + (b"\x81\x80\0\1\0\1" if name else b"\x81\x83\0\1\0\0") + \
        b"\0\0\0\0" + query[12:end + 5]
    if name:
        data = labels(name)
        reply += b"\xc0\x0c\0\x0c\0\1\0\0\0\x3c" + len(data).to_bytes(2, "big") + data
    server.sendto(reply, client)

while True:
    query, client = server.recvfrom(4096)
    threading.Thread(target=answer, args=(query, client), daemon=True).start()
"""
