#!/usr/bin/env python3
"""Checks the release archive as a user receives it.

- It is named Quorvane-<ProductVersion>.zip and holds exactly the DLL, the command, the install
  note and the template and settings reference.
- The DLL and the command in it are the i686 ones, byte for byte those it was made from; the
  command is a console program that imports neither the DLL nor the window system (user32,
  comctl32, gdi32: the dialog is the DLL's alone).
- The notes are README sections, in the ANSI code page with Windows line ends, and the install note
  says how to preview a meter with the command.
Usage: check_release.py release.sh Quorvane.dll quorvane.exe version.rc
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import zipfile

from checks import check, finish

release, dll, exe, version_rc = sys.argv[1:5]
version = re.search(r'VALUE "ProductVersion", "([^"]+)"', open(version_rc).read()).group(1)
originals = {}
for name, path in (("Quorvane.dll", dll), ("quorvane.exe", exe)):
    with open(path, "rb") as f:
        originals[name] = f.read()
PREVIEW = "quorvane.exe --meter --settings FILE --section NAME"


def pe_headers(image):
    """The machine, the optional header's magic and subsystem, and the imported DLLs' names."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        return None
    machine, sections = struct.unpack_from("<HH", image, pe + 4)
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    subsystem = struct.unpack_from("<H", image, optional + 68)[0]
    # PE32: the data directories start 96 bytes in; the import table is the second one.
    import_rva = struct.unpack_from("<I", image, optional + 96 + 8)[0]
    table = [struct.unpack_from("<IIII", image, optional + optional_size + 40 * i + 8)
             for i in range(sections)]

    def offset(rva):
        for size, address, _, raw in table:
            if address <= rva < address + size:
                return rva - address + raw
        raise ValueError(f"RVA {rva:#x} in no section")

    imports = []
    at = offset(import_rva) if import_rva else None
    while at is not None:
        name_rva = struct.unpack_from("<I", image, at + 12)[0]
        if name_rva == 0:
            break
        start = offset(name_rva)
        imports.append(image[start:image.index(b"\0", start)].decode("ascii").lower())
        at += 20
    return machine, magic, subsystem, imports


def check_archive(path):
    with zipfile.ZipFile(path) as archive:
        names = sorted(archive.namelist())
        check(names == ["INSTALL.txt", "Quorvane.dll", "REFERENCE.txt", "quorvane.exe"],
              f"archive holds {names}")
        headers = {}
        for name, original in originals.items():
            shipped = archive.read(name) if name in names else b""
            check(shipped == original, f"the archive's {name} differs from the build's")
            headers[name] = pe_headers(shipped) if shipped else None
            if not check(headers[name] is not None, f"the archive's {name} is not a PE file"):
                continue
            machine, magic = headers[name][:2]
            check(machine == 0x14C and magic == 0x10B,
                  f"the archive's {name} is not PE32 i386 (machine {machine:#x}, magic {magic:#x})")
        if headers.get("quorvane.exe"):
            subsystem, imports = headers["quorvane.exe"][2:]
            check(subsystem == 3, f"quorvane.exe is not a console program (subsystem {subsystem})")
            check("quorvane.dll" not in imports, f"quorvane.exe imports the DLL: {imports}")
            windowing = sorted({"user32.dll", "comctl32.dll", "gdi32.dll"} & set(imports))
            check(not windowing, f"quorvane.exe imports the window system: {windowing}")
        notes = {"INSTALL.txt": ["## Installing into Samurize",
                                 "## Previewing a meter with quorvane.exe"],
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
            if name == "INSTALL.txt":
                check(PREVIEW in text, f"INSTALL.txt does not show {PREVIEW!r}")


with tempfile.TemporaryDirectory() as out:
    made = []
    if check(subprocess.run([release, "--dll", dll, "--exe", exe, out]).returncode == 0,
             "release.sh failed"):
        made = os.listdir(out)
        check(made == [f"Quorvane-{version}.zip"], f"release made {made}")
    for name in made:
        check_archive(os.path.join(out, name))

finish()
