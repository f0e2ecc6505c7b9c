#!/usr/bin/env python3
"""The meter under load, end to end: in a private network namespace, 20 processes keep 2,000
loopback sockets opening and closing while load_meter lists three meter instances 20 times a
second. Fails on a malformed listing, on growing memory, or on any sanitizer report.

Usage: load.py SECONDS LOAD_METER SOCKET_CHURN"""
import os
import subprocess
import sys
import time

from netns import Namespace

PROCESSES = 20
SOCKETS_EACH = 100


def main(seconds, meter, churn):
    with Namespace("qvload") as ns:
        ready = os.path.join(ns.tmp, "churn-ready")
        churning = subprocess.Popen(ns.command([churn, ready, str(PROCESSES), str(SOCKETS_EACH)]))
        try:
            deadline = time.monotonic() + 60
            while not os.path.exists(ready):
                if churning.poll() is not None or time.monotonic() > deadline:
                    print("load: the socket churn did not get ready")
                    return 1
                time.sleep(0.05)
            result = ns.run([meter, str(seconds), os.path.join(ns.tmp, "settings.ini")],
                            capture_output=True, text=True, timeout=seconds + 300)
            if churning.poll() is not None:
                print("load: the socket churn ended before the meter did")
                return 1
        finally:
            # The churning processes end with their parent.
            churning.terminate()
            churning.wait()
    sys.stdout.write(result.stdout)
    sys.stdout.write(result.stderr)
    if "Sanitizer" in result.stderr:
        return 1
    return result.returncode


if __name__ == "__main__":
    sys.exit(main(int(sys.argv[1]), sys.argv[2], sys.argv[3]))
