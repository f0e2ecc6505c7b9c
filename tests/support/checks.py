"""The one check function of the Python tests: a failed check is printed and counted, the run goes
on, and finish() ends the test with status 1 if any failed."""
import sys

FAILURES = []


def check(condition, what):
    """Records what as a failure unless condition holds; returns the condition."""
    if not condition:
        FAILURES.append(what)
        print("FAIL: " + what, flush=True)
    return bool(condition)


def finish():
    print(f"{len(FAILURES)} failure(s)", flush=True)
    sys.exit(1 if FAILURES else 0)
