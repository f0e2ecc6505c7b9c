"""What ss lists in a namespace, read back for comparison: its records (protocol, state in the
listing's names, both ends as ss writes them, owners' pids), and an owner's exact program name."""
import os
import re

# ss's state words and the listing's names for them.
STATE_NAMES = {
    "LISTEN": "Listening", "ESTAB": "Established", "SYN-SENT": "SYN Sent",
    "SYN-RECV": "SYN Recieved", "FIN-WAIT-1": "FIN Wait 1", "FIN-WAIT-2": "FIN Wait 2",
    "CLOSE-WAIT": "Close Wait", "CLOSING": "Closing", "LAST-ACK": "Last ACK",
    "TIME-WAIT": "Time Wait", "CLOSE": "Closed",
}
# netid (shown only when both protocols are asked for), state, the two queues, local and remote
# end; ss prints program names raw, so a name holding a newline continues its record on the next
# line.
RECORD = re.compile(r"(?:(tcp|udp)\s+)?([A-Z][A-Z0-9-]*)\s+\d+\s+\d+\s+(\S+)\s+(\S+)")


class Record:
    def __init__(self, match, line, protocol):
        netid, state, self.local, self.remote = match.groups()
        self.protocol = netid or protocol
        self.state = STATE_NAMES[state] if self.protocol == "tcp" else None  # UDP: none
        self.pids = {int(p) for p in re.findall(r"pid=(\d+)", line)}
        self.family = "ipv6" if self.local[0] in "[*" else "ipv4"


def split_end(text):
    """ss's "addr:port" as (address, port): "*" is the dual-stack "::", a port "*" unconnected;
    a port by its service name (ss without -n) stays that name."""
    address, _, port = text.rpartition(":")
    address = "::" if address == "*" else address.strip("[]")
    return (None, None) if port == "*" else (address, int(port) if port.isdigit() else port)


def records(ns, options, numeric=True):
    """ss's records (owners included) for its selecting options, e.g. ["-4", "-tua"]; ports by
    their service names unless numeric."""
    letters = "".join(o for o in options if not o.startswith("--"))
    protocol = "tcp" if "t" in letters and "u" not in letters else "udp"
    out = ns.run(["ss", *options, "-npH" if numeric else "-pH"], check=True,
                 capture_output=True).stdout
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
