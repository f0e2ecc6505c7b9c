"""The command as it is installed: its manual against --help, its shell completions driven for
real (bash's function called as Tab calls it, fish's complete -C, zsh on a pseudo-terminal), and
its Debian package unpacked and installed into throwaway roots (never this machine's).
Usage: packaging.py manual QUORVANE MANUAL
       packaging.py completion QUORVANE COMPLETIONS_DIR
       packaging.py package BUILD_DIR"""
import gzip
import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

from checks import check, finish

OPTION = re.compile(r"(?<![\w-])--?[A-Za-z0-9][\w-]*")
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, check=False, **kwargs)


def help_options(quorvane):
    """The options --help lists: the leading words of its option lines (continuation lines are
    indented further), metavariables skipped."""
    options = set()
    for line in run([quorvane, "--help"]).stdout.splitlines():
        indent = len(line) - len(line.lstrip())
        if not 0 < indent < 8 or not line.lstrip().startswith("-"):
            continue
        for word in line.split():
            word = word.rstrip(",")
            if word.startswith("-"):
                options.add(word)
            elif not re.fullmatch(r"[A-Z]+|\[[A-Z]+\]", word):
                break
    return options


def manual_checks(quorvane, manual):
    text = Path(manual).read_text(encoding="utf-8").replace("\\-", "-")
    section = text.split("\n.SH OPTIONS", 1)[1].split("\n.SH ", 1)[0]
    lines = section.splitlines()
    tags = {option for before, line in zip(lines, lines[1:]) if before == ".TP"
            for option in OPTION.findall(line)}
    listed = help_options(quorvane)
    check(len(listed) > 20, f"--help lists options: {sorted(listed)}")
    check(not listed - tags, f"options of --help without an item in the manual: {listed - tags}")
    check(not tags - listed, f"manual items that --help does not list: {tags - listed}")
    mentioned = set(re.findall(r"--[a-z][a-z0-9-]*", text))
    check(not mentioned - listed, f"the manual mentions unknown options: {mentioned - listed}")

    for section_name in ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FORMATS", "TEMPLATES",
                         "FILES", "ENVIRONMENT", "EXIT STATUS", "EXAMPLES", "SEE ALSO"]:
        check(f"\n.SH {section_name}\n" in text, f"manual section {section_name}")
    check("NO_COLOR" in text and all(f".BR {page} (8)" in text for page in ["ss", "lsof", "netstat"]),
          "NO_COLOR under ENVIRONMENT, ss(8), lsof(8) and netstat(8) under SEE ALSO")
    groff = run(["groff", "-ww", "-man", "-Tutf8", "-z", manual])
    check(groff.returncode == 0 and not groff.stderr, f"groff -ww warns: {groff.stderr}")
    render_checks(manual)


def render_checks(manual):
    """man renders the page (plain or gzipped) without a warning."""
    man = run(["man", "--warnings", "-l", manual],
              env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MANPAGER="cat"))
    check(man.returncode == 0 and not man.stderr, f"man -l {manual}: {man.stderr}")
    check(re.search(r"quorvane +- +list +the +TCP", man.stdout),
          f"man -l {manual} shows the NAME line")


def bash_complete(completion_file, *words):
    """What bash's completion offers for WORDS (the last one being completed), split as bash
    splits a command line, through the function the file registers for quorvane."""
    script = f"""
source {BASH_COMPLETION}
source "$COMPLETION_FILE"
COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_POINT=${{#COMP_LINE}}
function=$(complete -p quorvane | sed -n 's/.*-F \\([^ ]*\\).*/\\1/p')
"$function" quorvane "${{COMP_WORDS[COMP_CWORD]}}" "${{COMP_WORDS[COMP_CWORD - 1]}}"
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
    line = " ".join(words).replace(" = ", "=")
    result = run(["bash", "-c", script, "bash", *words],
                 env=dict(os.environ, COMPLETION_FILE=str(completion_file), COMP_LINE=line))
    check(result.returncode == 0 and not result.stderr, f"bash completion of {words}: {result}")
    return {line for line in result.stdout.splitlines() if line}


def fish_complete(completion_file, line):
    result = run(["fish", "-c", f"source {completion_file}; complete -C {shell_quote(line)}"])
    check(result.returncode == 0, f"fish completion of {line!r}: {result.stderr}")
    return {entry.split("\t")[0] for entry in result.stdout.splitlines()}


# An interactive zsh on a pseudo-terminal, given LINE and a Tab; compadd is wrapped to write every
# match it is handed to a file.
ZSH_DRIVER = r"""
zmodload zsh/zpty
folder=$1 line=$2 scratch=$3
zpty shell zsh -f -i
zpty -w shell "fpath=($folder \$fpath); autoload -U compinit; compinit -u -d $scratch/dump"
zpty -w shell "compadd() { local -a hits; builtin compadd -O hits \"\$@\";
  print -rl -- \$hits >> $scratch/hits; builtin compadd \"\$@\" }"
zpty -w shell 'print -r -- $((6 * 7))'
zpty -r shell output '*42*'
zpty -w -n shell "$line"$'\t'
for i in {1..50}; do [[ -s $scratch/hits ]] && break; sleep 0.1; done
sleep 0.3
zpty -d shell
cat $scratch/hits
"""


def zsh_complete(folder, line):
    with tempfile.TemporaryDirectory() as scratch:
        result = run(["zsh", "-fc", ZSH_DRIVER, "zsh", str(folder), line, scratch], timeout=120)
    check(result.returncode == 0, f"zsh completion of {line!r}: {result.stderr}")
    return set(result.stdout.splitlines()) - {""}


def shell_quote(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def completion_checks(quorvane, folder):
    folder = Path(folder)
    bash, zsh, fish = folder / "quorvane.bash", folder / "_quorvane", folder / "quorvane.fish"
    listed = help_options(quorvane)
    with tempfile.TemporaryDirectory() as scratch:
        settings = Path(scratch) / "my settings.ini"
        settings.write_text("[Meter3]\nTemplate=%lip\n  [Second meter]  \nzero=1\n")
        formats = {"text", "json", "csv"}

        check(bash_complete(bash, "quorvane", "--f") == {"--format"}, "bash: --f gives --format")
        check(bash_complete(bash, "quorvane", "--format", "") == formats,
              "bash: --format offers text, json and csv")
        check(bash_complete(bash, "quorvane", "--format", "=", "j") == {"json"},
              "bash: --format=j gives json")
        check(bash_complete(bash, "quorvane", "-") == listed,
              f"bash offers exactly the options of --help: {bash_complete(bash, 'quorvane', '-')}")
        check({"established", "time-wait", "listen"} <= bash_complete(bash, "quorvane", "--state",
                                                                      ""), "bash: --state names")
        sections = {"Meter3", "Second meter"}
        for typed in [str(settings).replace(" ", "\\ "), f"'{settings}'", f'"{settings}"']:
            offered = bash_complete(bash, "quorvane", "-n", "--settings", typed, "--section", "")
            check(offered == sections, f"bash: --section after --settings {typed}: {offered}")
        offered = bash_complete(bash, "quorvane", "--settings", "=", f'"{settings}"', "--section",
                                "=", "S")
        check(offered == {"Second meter"}, f"bash: --section=S after --settings=: {offered}")
        planted = Path(scratch) / "planted"
        bash_complete(bash, "quorvane", "--settings", f"$(touch {planted})", "--section", "")
        check(not planted.exists(), "bash: a file name typed is never run as a command")

        check(fish_complete(fish, "quorvane --format ") == formats, "fish: --format's values")
        offered = fish_complete(fish, f"quorvane --settings '{settings}' --section ")
        check(offered == sections, f"fish: --section's values: {offered}")
        check(zsh_complete(folder, "quorvane --f") == {"--format"}, "zsh: --f gives --format")
        check(zsh_complete(folder, "quorvane --format ") == formats, "zsh: --format's values")
        offered = zsh_complete(folder, f"quorvane --settings '{settings}' --section ")
        check(offered == sections, f"zsh: --section's values: {offered}")

    syntax = run(["fish", "-n", str(fish)])
    check(syntax.returncode == 0, f"fish -n: {syntax.stderr}")
    # zsh's and fish's option lists are written out: they must follow --help as bash's does.
    arguments = zsh.read_text().split("_arguments -s -S", 1)[1]
    zsh_options = set(OPTION.findall(arguments))
    check(zsh_options == listed, f"zsh's options against --help: {zsh_options ^ listed}")
    fish_text = "\n".join(line for line in fish.read_text().splitlines()
                          if line.startswith("complete -c quorvane"))
    fish_options = ({"--" + name for name in re.findall(r" -l (\S+)", fish_text)} |
                    {"-" + name for name in re.findall(r" -s (\S)", fish_text)})
    check(fish_options == listed, f"fish's options against --help: {fish_options ^ listed}")


def expected_files():
    files = {"usr/bin/quorvane", "usr/share/man/man1/quorvane.1.gz",
             "usr/share/bash-completion/completions/quorvane",
             "usr/share/zsh/vendor-completions/_quorvane",
             "usr/share/fish/vendor_completions.d/quorvane.fish",
             "usr/share/doc/quorvane/copyright", "usr/share/doc/quorvane/changelog.Debian.gz",
             "usr/share/lintian/overrides/quorvane"}
    folders = {str(parent) for name in files for parent in Path(name).parents if parent != Path(".")}
    return files, folders


def tree(root):
    """Every file and folder under root, relative to it."""
    files, folders = set(), set()
    for folder, subfolders, names in os.walk(root):
        relative = Path(folder).relative_to(root)
        folders.update(str(relative / name) for name in subfolders)
        files.update(str(relative / name) for name in names)
    return files, folders


def host_dpkg_view():
    """What this machine's dpkg knows of quorvane (others may install packages meanwhile)."""
    status = run(["dpkg-query", "-W", "-f", "${Status} ${Version}", "quorvane"]).stdout
    log = Path("/var/log/dpkg.log")
    mentions = log.read_text(errors="replace").count(" quorvane:") if log.exists() else 0
    return status, mentions


def package_checks(build):
    host_view = host_dpkg_view()
    with tempfile.TemporaryDirectory() as scratch:
        scratch = Path(scratch)
        made = run(["cpack", "-G", "DEB", "-B", str(scratch / "out")], cwd=build)
        debs = list((scratch / "out").glob("*.deb"))
        if not check(made.returncode == 0 and len(debs) == 1, f"cpack makes one .deb: {made}"):
            return
        deb = debs[0]
        fields = {name: run(["dpkg-deb", "-f", str(deb), name]).stdout.strip()
                  for name in ["Package", "Version", "Architecture", "Depends", "Description"]}
        architecture = run(["dpkg", "--print-architecture"]).stdout.strip()
        check(deb.name == f"quorvane_{fields['Version']}_{architecture}.deb"
              and fields["Package"] == "quorvane" and fields["Architecture"] == architecture,
              f"package name, version and architecture: {deb.name} {fields}")
        check(re.search(r"\blibc6 \(>= [\d.]+\)", fields["Depends"]) and
              "libstdc++6" in fields["Depends"] and
              re.search(r"\blibmicrohttpd12 \(>= [\d.]+\)", fields["Depends"]),
              f"Depends from dpkg-shlibdeps, and the library --serve loads: {fields}")
        check(len(fields["Description"].splitlines()) > 3, "a long description")

        lintian = run(["lintian", "--fail-on", "error,warning", "--display-info", "--pedantic",
                       str(deb)])
        print(lintian.stdout, end="")
        check(lintian.returncode == 0 and not re.search(r"^[EW]: ", lintian.stdout, re.M),
              f"lintian finds no error and no warning: {lintian.stderr}")

        unpacked = scratch / "unpacked"
        run(["dpkg-deb", "-x", str(deb), str(unpacked)])
        files, folders = tree(unpacked)
        check((files, folders) == expected_files(), f"the package's files: {files} {folders}")
        quorvane = unpacked / "usr/bin/quorvane"
        version = run([str(quorvane), "--version"])
        check(version.returncode == 0 and version.stdout.startswith("quorvane "),
              f"the installed quorvane --version: {version}")
        listing = run([str(quorvane), "-n", "--format", "json"])
        check(listing.returncode == 0 and
              all(json.loads(line)["protocol"] in ("tcp", "udp")
                  for line in listing.stdout.splitlines()),
              f"the installed quorvane lists: {listing.returncode} {listing.stderr}")
        manual = unpacked / "usr/share/man/man1/quorvane.1.gz"
        check(gzip.open(manual).read().startswith(b".\\\""), "the manual is gzipped roff")
        render_checks(str(manual))
        offered = bash_complete(unpacked / "usr/share/bash-completion/completions/quorvane",
                                "quorvane", "--f")
        check(offered == {"--format"}, f"the installed bash completion: {offered}")

        # Installed and purged through dpkg in a root of its own: nothing of it may remain.
        root = scratch / "root"
        admin = root / "var/lib/dpkg"
        for folder in ["info", "updates", "triggers"]:
            (admin / folder).mkdir(parents=True)
        (admin / "status").touch()
        dpkg = ["dpkg", f"--root={root}", f"--log={scratch / 'dpkg.log'}", "--force-depends",
                "--force-script-chrootless", "--path-include=*"]
        installed = run(dpkg + ["--install", str(deb)])
        check(installed.returncode == 0, f"dpkg --root --install: {installed.stderr}")
        check(expected_files()[0] <= tree(root)[0], "dpkg installs every file")
        purged = run(dpkg + ["--purge", "quorvane"])
        check(purged.returncode == 0, f"dpkg --root --purge: {purged.stderr}")
        left = {name for name in tree(root)[0] | tree(root)[1] if not name.startswith("var")}
        check(not left, f"dpkg --purge leaves nothing behind: {left}")
    check(host_dpkg_view() == host_view, "this machine's dpkg database and log are untouched")


def main():
    mode, arguments = sys.argv[1], sys.argv[2:]
    {"manual": manual_checks, "completion": completion_checks,
     "package": package_checks}[mode](*arguments)
    finish()


if __name__ == "__main__":
    main()
