"""A private network namespace for the Linux tests and benchmarks: loopback up, a resolver that
nothing answers (every reverse look-up is refused at once), and socket holders
(tests/linux/socket_holder.cpp) inside it; all of it removed when the context ends."""
import os
import shutil
import subprocess
import tempfile


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


class Namespace:
    def __init__(self, prefix):
        self.name = f"{prefix}{os.getpid()}"
        self.resolver = f"/etc/netns/{self.name}"
        self.tmp = None
        self.holders = []

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
        return self

    def __exit__(self, *exc):
        for holder in self.holders:
            holder.stop()
        subprocess.run(["ip", "netns", "del", self.name], stderr=subprocess.DEVNULL)
        shutil.rmtree(self.resolver, ignore_errors=True)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def command(self, args):
        return ["ip", "netns", "exec", self.name] + list(args)

    def run(self, args, **options):
        return subprocess.run(self.command(args), **options)

    def holder(self, program):
        holder = Holder(self.command([program]))
        self.holders.append(holder)
        return holder
