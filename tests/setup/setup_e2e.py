#!/usr/bin/env python3
"""scripts/setup.sh against real package-source trouble: an extra source that cannot be fetched,
in an APT configuration of the test's own, while a package is missing ("hello": tiny, needed by
nothing), which the set-up must still install; and a package that no source offers, which must end
the set-up with one line saying so. Needs root and the Debian mirror; the configuration and the
package are gone afterwards, and so must be the set-up's own temporary files."""
import glob
import os
import shutil
import subprocess
import sys
import tempfile

from checks import check, finish

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE = "hello"
NOBODYS_PACKAGE = "qv-no-such-package"


def installed(package):
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True,
                            text=True, check=False).stdout
    return status == "install ok installed"


def codename():
    with open("/etc/os-release", encoding="utf-8") as release:
        for line in release:
            if line.startswith("VERSION_CODENAME="):
                return line.split("=", 1)[1].strip().strip('"')
    return "bookworm"


def unreachable_sources(scratch):
    """The machine's own sources and one more, a file: mirror that does not exist (no traffic
    leaves the machine for it), as APT options naming a sources folder of the test's own."""
    parts = os.path.join(scratch, "sources.list.d")
    os.mkdir(parts)
    for source in glob.glob("/etc/apt/sources.list.d/*.list") + glob.glob(
            "/etc/apt/sources.list.d/*.sources"):
        shutil.copy(source, parts)
    with open(os.path.join(parts, "unreachable.list"), "w", encoding="utf-8") as extra:
        extra.write(f"deb [trusted=yes] file:{scratch}/missing-mirror {codename()} main\n")
    return f"-o Dir::Etc::sourceparts={parts}"


def setup(scratch, apt_options, packages, tries):
    """Runs the set-up's build set with extra packages; its output is shown and returned with its
    status, and its temporary folder (TMPDIR) is checked to be empty afterwards."""
    tmp = os.path.join(scratch, "tmp")
    os.makedirs(tmp, exist_ok=True)
    env = dict(os.environ, TMPDIR=tmp, QV_APT_OPTIONS=apt_options, QV_EXTRA_PACKAGES=packages,
               QV_APT_UPDATE_TRIES=str(tries), QV_APT_UPDATE_PAUSE="1")
    run = subprocess.run([os.path.join(ROOT, "scripts/setup.sh"), "build"], env=env, text=True,
                         capture_output=True, check=False)
    print(run.stdout + run.stderr, flush=True)
    check(not os.listdir(tmp), f"the set-up left {os.listdir(tmp)} in its temporary folder")
    return run


def main():
    if os.geteuid() != 0:
        check(False, "the set-up installs packages: run this test as root")
        finish()
    if installed(PACKAGE):
        check(False, f"{PACKAGE} is installed already: this test installs and removes it itself")
        finish()
    scratch = tempfile.mkdtemp(prefix="qv-setup-")
    try:
        apt_options = unreachable_sources(scratch)

        # A source that cannot be fetched: the update is retried, then the indices that arrived
        # are used, and the missing package is installed from them.
        run = setup(scratch, apt_options, PACKAGE, tries=2)
        out = run.stdout
        check(run.returncode == 0, f"the set-up failed ({run.returncode}) over one bad source")
        check("package index update failed (try 1 of 2)" in out, "the failed update was retried")
        check("going on with the indices that arrived" in out, "it says it goes on regardless")
        check("missing-mirror" in out, "it names the source that failed")
        check(out.rstrip().endswith("setup: ready (build)"), "it ends saying it is ready")
        check(installed(PACKAGE), f"{PACKAGE} was installed")
        greeting = subprocess.run([PACKAGE], capture_output=True, text=True, check=False).stdout
        check(greeting == "Hello, world!\n", f"the installed {PACKAGE} runs: {greeting!r}")

        # A package that no source offers: a failure, and exactly one line saying which.
        run = setup(scratch, apt_options, f"{PACKAGE} {NOBODYS_PACKAGE}", tries=1)
        said = [line for line in (run.stdout + run.stderr).splitlines()
                if line.startswith("setup: cannot")]
        check(run.returncode != 0, "a package nobody offers fails the set-up")
        check(said == [f"setup: cannot install: no package source offers {NOBODYS_PACKAGE}"],
              f"one line names the package nobody offers: {said}")
        check(run.stderr.splitlines()[-1:] == said[:1], "that line is the last it writes")
    finally:
        if installed(PACKAGE):
            subprocess.run(["apt-get", "-o", "DPkg::Lock::Timeout=600", "purge", "-y", "-q",
                            PACKAGE], stdout=subprocess.DEVNULL, check=False)
        shutil.rmtree(scratch)
    check(not installed(PACKAGE), f"{PACKAGE} was removed again")
    finish()


if __name__ == "__main__":
    sys.exit(main())
