"""What ss lists, read back for comparison: its records (protocol, state in ss's word and in the
listing's names, the queues, both ends as ss writes them, owners), the ends split into address and
port, and an owner's exact program name. Every test reads ss through this module."""
import os
import re
import subprocess

# ss's state words and the listing's names for them.
STATE_NAMES = {
    "LISTEN": "Listening", "ESTAB": "Established", "SYN-SENT": "SYN Sent",
    "SYN-RECV": "SYN Recieved", "FIN-WAIT-1": "FIN Wait 1", "FIN-WAIT-2": "FIN Wait 2",
    "CLOSE-WAIT": "Close Wait", "CLOSING": "Closing", "LAST-ACK": "Last ACK",
    "TIME-WAIT": "Time Wait", "CLOSE": "Closed",
}
# netid (shown only when both protocols are asked for), state (left out when one state is asked
# for), the two queues, local and remote end; ss prints program names raw, so a name holding a
# newline continues its record on the next line.
RECORD = re.compile(r"(?:(tcp|udp)\s+)?(?:([A-Z][A-Z0-9-]*)\s+)?(\d+)\s+(\d+)\s+(\S+)\s+(\S+)")


class Record:
    def __init__(self, match, line, protocol):
        netid, self.word, recv_queue, send_queue, self.local, self.remote = match.groups()
        self.recv_queue, self.send_queue = int(recv_queue), int(send_queue)
        self.protocol = netid or protocol
        # UDP: none; TCP: none when ss left its state column out.
        self.state = STATE_NAMES[self.word] if self.protocol == "tcp" and self.word else None
        self.pids = {int(p) for p in re.findall(r"pid=(\d+)", line)}
        # (program, pid) of every holder, the program as ss names it (the process name).
        self.owners = {(name, int(pid)) for name, pid in re.findall(r'\("([^"]*)",pid=(\d+)', line)}
        self.family = "ipv6" if self.local[0] in "[*" else "ipv4"


def split_endpoint(text):
    """ss's "addr:port", "[v6]:port" or "*:port" as (address, port, dual_stack): "*" is the
    dual-stack "::", a port "*" (an unconnected end) is None; a port by its service name (ss
    without -n) stays that name."""
    address, _, port = text.rpartition(":")
    dual_stack = address == "*"
    address = "::" if dual_stack else address.strip("[]")
    if port == "*":
        return address, None, dual_stack
    return address, int(port) if port.isdigit() else port, dual_stack


def split_end(text):
    """ss's "addr:port" as (address, port), (None, None) for an unconnected end."""
    address, port, _ = split_endpoint(text)
    return (None, None) if port is None else (address, port)


def records(ns, options, numeric=True):
    """ss's records (owners included) for its selecting options, e.g. ["-4", "-tua"] or
    ["-t", "state", "established"], in the namespace ns (None: where this process is); ports by
    their service names unless numeric."""
    letters = "".join(o[1:] for o in options if o.startswith("-") and not o.startswith("--"))
    protocol = "tcp" if "t" in letters and "u" not in letters else "udp"
    command = ["ss", *options, "-npH" if numeric else "-pH"]
    run = ns.run if ns else subprocess.run
    out = run(command, check=True, capture_output=True).stdout
    found = []
    for line in out.decode(errors="surrogateescape").split("\n"):
        match = RECORD.match(line)
        if match:
            found.append([match, line])
        elif found:
            found[-1][1] += "\n" + line
    return [Record(match, line, protocol) for match, line in found]


def program_of(pid):
    """The exact file name of the process's executable, as bytes."""
    return os.path.basename(os.readlink(f"/proc/{pid}/exe".encode()))
