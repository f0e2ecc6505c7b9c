#!/usr/bin/env python3
"""Reads and writes every INI file of a corpus through the Windows profile service (the win64
profile probe under Wine) and through the Linux profile layer (the native probe), and fails on any
answer that differs. Queries come from the files themselves: every section and key name, in other
cases and with blanks around, missing ones, small buffers; then writes, and every read again.

Usage: profile_differential.py WINE_RUN WIN_PROBE NATIVE_PROBE CORPUS_DIR WORK_DIR
"""
import os
import re
import shutil
import subprocess
import sys

from checks import check, finish

BLANKS = b" \t\n\v\f\r\x1a"
SMALL_BUFFERS = [0, 1, 2, 3, 5, 8, 999]


def escape(data):
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02X" % b for b in data)


def names_in(text):
    """Section names and key names as they stand in the file, trimmed."""
    sections, keys = [b""], []
    for line in re.split(rb"\r\n|\r|\n", text):
        line = line.strip(BLANKS)
        if not line:
            continue
        if line.startswith(b"[") and b"]" in line:
            sections.append(line[1 : line.rindex(b"]")].strip(BLANKS))
        else:
            keys.append(line.split(b"=", 1)[0].strip(BLANKS))
    return unique(sections), unique(keys)


def unique(items):
    seen = []
    for item in items:
        if item not in seen and b"\t" not in item:
            seen.append(item)
    return seen


def variants(name):
    return unique([name, name.upper(), name.lower(), b" " + name + b"\t"])


def reads(sections, keys):
    lines = []
    for section in [v for s in sections for v in variants(s)] + [b"missing section"]:
        for key in keys + [b"missing key"]:
            lines.append((section, key, b"  default \"x\" ", 1000))
    # Small buffers on the first few keys of every section: the cuts and the quote rule.
    for section in sections:
        for key in keys[:6]:
            for size in SMALL_BUFFERS:
                lines.append((section, key, b"'quoted default'", size))
    return ["R\t%s\t%s\t%s\t%d" % (escape(s), escape(k), escape(d), n) for s, k, d, n in lines]


def writes(sections, keys):
    named = sections[-1] if len(sections) > 1 else b"Fresh"
    key = keys[0] if keys else b"Sot"
    pairs = [
        (named, key, b"replaced"),
        (named.upper(), key.lower(), b"replaced again"),
        (named, b"Added", b"  \"quoted, blanks\"  "),
        (b"Brand New", b"Template", b"%lip:%lpt %rip"),
        (b"", b"AtTheTop", b"1"),
        (sections[0], b"Empty", b""),
    ]
    return ["W\t%s\t%s\t%s" % (escape(s), escape(k), escape(v)) for s, k, v in pairs]


def run_probe(command, file_arg, script_path):
    result = subprocess.run(command + [file_arg, script_path], capture_output=True, timeout=300)
    if not check(result.returncode == 0, "%s exited with %d: %s" % (
            command[-1], result.returncode, result.stderr.decode(errors="replace"))):
        finish()
    return result.stdout.decode("latin-1").replace("\r", "").splitlines()


def main():
    wine_run, win_probe, native_probe, corpus, work = sys.argv[1:6]
    if not check(os.path.isfile(win_probe),
                 "the Windows profile probe %s is missing: build the win64 preset first, or set "
                 "QV_WIN64_PROFILE_PROBE to another build's probe" % win_probe):
        finish()
    os.makedirs(work, exist_ok=True)
    files = sorted(f for f in os.listdir(corpus) if f.endswith(".ini"))
    for name in files:
        with open(os.path.join(corpus, name), "rb") as handle:
            text = handle.read()
        sections, keys = names_in(text)
        all_reads = reads(sections, keys)
        script = all_reads + writes(sections, keys) + all_reads
        script_path = os.path.join(work, name + ".script")
        with open(script_path, "w", encoding="latin-1", newline="\n") as handle:
            handle.write("\n".join(script) + "\n")
        answers = {}
        for side, command in (("wine", [wine_run, win_probe]), ("linux", [native_probe])):
            copy = os.path.abspath(os.path.join(work, "%s.%s" % (name, side)))
            shutil.copyfile(os.path.join(corpus, name), copy)
            file_arg = "Z:" + copy.replace("/", "\\") if side == "wine" else copy
            answers[side] = run_probe(command, file_arg, script_path)
        differing = [
            (line, wine, linux)
            for line, wine, linux in zip(script, answers["wine"], answers["linux"])
            if wine != linux
        ]
        if len(answers["wine"]) != len(script) or len(answers["linux"]) != len(script):
            differing.append(("(number of answers)", len(answers["wine"]), len(answers["linux"])))
        for line, wine, linux in differing[:10]:
            print("%s: %s\n  wine:  %.120s\n  linux: %.120s" % (name, line, wine, linux))
        print("%s: %d operations, %d differ" % (name, len(script), len(differing)))
        check(not differing, "%s: answers differ" % name)
    print("%d files compared" % len(files))
    finish()


if __name__ == "__main__":
    main()
