"""A private network namespace with loopback up, no reachable name server, and socket owner
processes in it; everything is removed when the context ends."""
import os
import shutil
import subprocess
import tempfile
import time


class Namespace:
    def __init__(self, prefix):
        self.name = f"{prefix}-{os.getpid()}"
        self.resolver = f"/etc/netns/{self.name}"
        self.tmp = None
        self.owners = []

    def __enter__(self):
        if os.geteuid() != 0:
            raise RuntimeError("a private network namespace needs root")
        self.tmp = tempfile.mkdtemp()
        subprocess.run(["ip", "netns", "add", self.name], check=True)
        self.run(["ip", "link", "set", "lo", "up"], check=True)
        # No name server listens in the namespace: every reverse look-up is refused at once.
        os.makedirs(self.resolver)
        with open(os.path.join(self.resolver, "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.1\n")
        return self

    def __exit__(self, *exc):
        for process in self.owners:
            process.terminate()
            process.wait()
        subprocess.run(["ip", "netns", "del", self.name], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.resolver, ignore_errors=True)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def command(self, args):
        return ["ip", "netns", "exec", self.name] + list(args)

    def run(self, args, **options):
        return subprocess.run(self.command(args), **options)

    def start_owner(self, owner, listeners, pairs, udp, address, clients=()):
        """A socket owner process (tests/linux/socket_owner.cpp), once all its sockets are open."""
        ready = os.path.join(self.tmp, f"owner-{len(self.owners)}")
        process = subprocess.Popen(self.command(
            [owner, ready, str(listeners), str(pairs), str(udp), address] + list(clients)))
        self.owners.append(process)
        deadline = time.monotonic() + 60
        while not os.path.exists(ready):
            if process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"socket owner {ready} did not get ready")
            time.sleep(0.02)
        return process
