#!/usr/bin/env python3
"""quorvane.exe with a DNS server that is slow or dead, 20 connections to distinct addresses:
- --serve refuses at once: Windows has no exporter;
- while it never answers, the JSON listing, which asks for host names, takes about the look-ups'
  one second longer than the numeric one, every host null;
- while it answers after two seconds, --watch shows the addresses first and the names in a later
  listing, once the answers that came too late for the first one are in.
Runs inside the namespace that in_netns.py makes, the REMOTE addresses on its loopback.
Usage: command_dead_dns.py WINE_RUN quorvane.exe REMOTE...
"""
import json
import socket
import subprocess
import sys
import threading
import time

from checks import check, finish

wine_run, quorvane, *remotes = sys.argv[1:]

# The resolver's server: queries arrive and are never read, so each look-up waits for its time-out.
silent = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
silent.bind(("127.0.0.1", 53))
held = [silent]
for address in remotes:
    listener = socket.create_server((address, 0))
    client = socket.create_connection(listener.getsockname())
    held += [listener, client, listener.accept()[0]]


def timed(*args):
    started = time.monotonic()
    run = subprocess.run([wine_run, quorvane, *args], stdout=subprocess.PIPE, text=True,
                         timeout=120)
    return run, time.monotonic() - started


timed("--numeric")  # Wine's session starts once, before anything is timed
# No HTTP server library is built for Windows: --serve says so and goes no further.
serve = subprocess.run([wine_run, quorvane, "--serve", "9100"], capture_output=True, text=True,
                       timeout=120)
check(serve.returncode == 2 and "quorvane: --serve is available on Linux only\n" in serve.stderr,
      f"--serve on Windows: {serve.returncode} {serve.stderr!r}")
numeric, numeric_seconds = timed("--numeric", "--format", "json")
named, named_seconds = timed("--format", "json")
print(f"numeric listing {numeric_seconds:.2f} s, with host names {named_seconds:.2f} s")
check(numeric.returncode == 0 and named.returncode == 0, "both listings end with status 0")
rows = [json.loads(line) for line in named.stdout.splitlines()]
hosts = {row["remote_address"]: row["host"] for row in rows if row["remote_address"] in remotes}
check(sorted(hosts) == sorted(remotes), f"the connections are listed: {sorted(hosts)}")
check(all(host is None for host in hosts.values()), f"no host name came: {hosts}")
# One second for the look-ups and room for a busy machine; a resolver's own time-out is five
# seconds or more.
check(named_seconds <= numeric_seconds + 2.0,
      "the look-ups held the listing back beyond their second")
silent.close()
ANSWER_DELAY = 2.0


def name_of(address):
    return f"late-{address.split('.')[-1]}.quorvane.test"


def reply(query):
    """The answer to a PTR query for one of the remotes: the question, one PTR record and an OPT
    record (Wine 8.0's DnsQuery_A reads no reply without one)."""
    end = 12
    labels = []
    while query[end] != 0:
        labels.append(query[end + 1:end + 1 + query[end]].decode())
        end += 1 + query[end]
    question = query[12:end + 5]
    address = ".".join(reversed(labels[:4]))
    if address not in remotes:
        return query[:2] + b"\x81\x83" + b"\x00\x01\x00\x00\x00\x00\x00\x00" + question
    target = b"".join(bytes([len(part)]) + part.encode() for part in name_of(address).split("."))
    target += b"\x00"
    answer = b"\xc0\x0c\x00\x0c\x00\x01\x00\x00\x00\x3c" + len(target).to_bytes(2, "big") + target
    opt = b"\x00\x00\x29\x10\x00\x00\x00\x00\x00\x00\x00"
    return query[:2] + b"\x81\x80\x00\x01\x00\x01\x00\x00\x00\x01" + question + answer + opt


def serve_late(server):
    while True:
        query, sender = server.recvfrom(4096)
        threading.Timer(ANSWER_DELAY, server.sendto, (reply(query), sender)).start()


slow = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
slow.bind(("127.0.0.1", 53))
threading.Thread(target=serve_late, args=(slow,), daemon=True).start()
watch = subprocess.Popen([wine_run, quorvane, "--template", "%rip %hn\\n", "--watch", "0.5"],
                         stdout=subprocess.PIPE, text=True)
listings = [[]]
deadline = time.monotonic() + 60
for line in watch.stdout:
    if line.strip():
        listings[-1].append(line.split())
    elif listings[-1]:
        hosts = {fields[0]: fields[-1] for fields in listings[-1] if fields[0] in remotes}
        if all(host == name_of(address) for address, host in hosts.items()) and hosts:
            break
        listings.append([])
    if time.monotonic() > deadline:
        break
watch.terminate()
watch.wait()
first = {fields[0]: fields[-1] for fields in listings[0] if fields[0] in remotes}
last = {fields[0]: fields[-1] for fields in listings[-1] if fields[0] in remotes}
print(f"--watch: {len(listings)} listing(s) until every name was there")
check(sorted(first) == sorted(remotes), f"the first listing holds the connections: {first}")
check(all(host == address for address, host in first.items()),
      f"the first listing, before any answer, shows the addresses: {first}")
check(sorted(last) == sorted(remotes) and all(host == name_of(a) for a, host in last.items()),
      f"a later listing shows the late answers' names: {last}")
finish()
