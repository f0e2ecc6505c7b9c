#!/usr/bin/env python3
"""Checks the release archive as a user receives it.

- It is named Quorvane-<ProductVersion>.zip and holds exactly the DLL, the install note and the
  template and settings reference.
- The DLL in it is the i686 one, byte for byte the DLL it was made from.
- The notes are README sections, in the ANSI code page with Windows line ends.
Usage: check_release.py release.sh Quorvane.dll version.rc
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

from checks import check, finish

release, dll, version_rc = sys.argv[1:4]
version = re.search(r'VALUE "ProductVersion", "([^"]+)"', open(version_rc).read()).group(1)
with open(dll, "rb") as f:
    original = f.read()


def check_archive(path):
    with zipfile.ZipFile(path) as archive:
        names = sorted(archive.namelist())
        check(names == ["INSTALL.txt", "Quorvane.dll", "REFERENCE.txt"], f"archive holds {names}")
        shipped = archive.read("Quorvane.dll")
        check(shipped == original, "the archive's DLL differs from the build's")
        pe = struct.unpack_from("<I", shipped, 0x3C)[0]
        machine = struct.unpack_from("<H", shipped, pe + 4)[0]
        magic = struct.unpack_from("<H", shipped, pe + 24)[0]
        check(shipped[pe:pe + 4] == b"PE\0\0" and machine == 0x14C and magic == 0x10B,
              f"the archive's DLL is not PE32 i386 (machine {machine:#x}, magic {magic:#x})")
        notes = {"INSTALL.txt": ["## Installing into Samurize"],
                 "REFERENCE.txt": ["## The template language", "## Settings"]}
        for name, headings in notes.items():
            try:
                text = archive.read(name).decode("cp1252")
            except UnicodeDecodeError as error:
                check(False, f"{name} is not Windows-1252 text: {error}")
                continue
            lines = text.split("\r\n")
            check(lines[0] == headings[0], f"{name} begins with {lines[0]!r}")
            check(all(h in lines for h in headings), f"{name} lacks one of {headings}")
            check("\n" not in text.replace("\r\n", ""), f"{name} has bare line feeds")


with tempfile.TemporaryDirectory() as out:
    made = []
    if check(subprocess.run([release, "--dll", dll, out]).returncode == 0, "release.sh failed"):
        made = os.listdir(out)
        check(made == [f"Quorvane-{version}.zip"], f"release made {made}")
    for name in made:
        check_archive(os.path.join(out, name))

finish()
