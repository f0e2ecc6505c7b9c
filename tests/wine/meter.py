#!/usr/bin/env python3
"""ListPorts end to end, twice: the harness's meter scenario with Wine's own IP Helper, whose XP
function AllocateAndGetTcpExTableFromStack gives the TCP table, and then as on every Windows since
Vista, where neither AllocateAndGet...ExTableFromStack exists and the plug-in falls back to
GetExtendedTcpTable and GetExtendedUdpTable. For the second run a copy of the prefix's
iphlpapi.dll has those two export names changed (same length, so nothing else moves) and its
builtin mark cleared; it sits beside copies of the harness and the plug-in, and Wine loads it as a
native DLL. Both runs must pass the scenario's checks and list the same endpoints.
Runs inside the namespace that in_netns.py makes (SERVER and CLIENT on its loopback, a PTR record
naming SERVER), with QV_WINEPREFIX set.
Usage: meter.py WINE_RUN HARNESS.exe Quorvane.dll WORK_DIR SERVER CLIENT SERVER-PTR-NAME
"""
import os
import shutil
import struct
import subprocess
import sys

from checks import check, finish

XP_FUNCTIONS = [b"AllocateAndGetTcpExTableFromStack", b"AllocateAndGetUdpExTableFromStack"]


def pe_headers(image):
    """The offset of the PE header, and whether the image is 32-bit."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    return pe, struct.unpack_from("<H", image, pe + 24)[0] == 0x10B


def file_offset(image, rva):
    pe, _ = pe_headers(image)
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    first = pe + 24 + struct.unpack_from("<H", image, pe + 20)[0]
    for i in range(sections):
        size, address, raw_size, raw = struct.unpack_from("<IIII", image, first + 40 * i + 8)
        if address <= rva < address + max(size, raw_size):
            return rva - address + raw
    raise ValueError(f"RVA {rva:#x} lies in no section")


def export_names(image):
    """Every exported name, with the file offset where it is stored."""
    pe, is_32 = pe_headers(image)
    directory = struct.unpack_from("<I", image, pe + 24 + (96 if is_32 else 112))[0]
    exports = file_offset(image, directory)
    count, names = struct.unpack_from("<I4xI", image, exports + 24)
    table = file_offset(image, names)
    for i in range(count):
        offset = file_offset(image, struct.unpack_from("<I", image, table + 4 * i)[0])
        yield bytes(image[offset:image.index(b"\0", offset)]), offset


def without_xp_functions(image):
    """The image with the XP table functions' export names changed. The names stay sorted, since
    only their last nine letters change, and GetProcAddress finds every other name as before."""
    edited = bytearray(image)
    for name, offset in export_names(image):
        if name in XP_FUNCTIONS:
            edited[offset:offset + len(name)] = name.replace(b"FromStack", b"Withdrawn")
    # Wine: a file marked as its builtin is loaded as the builtin whatever folder it lies in.
    if edited[0x40:0x50] == b"Wine builtin DLL":
        edited[0x40:0x50] = bytes(16)
    return bytes(edited)


def endpoints(output):
    return sorted(line for line in output.splitlines() if line.startswith("endpoint "))


def run_meter(wine_run, harness, arguments, environment):
    result = subprocess.run([wine_run, harness, "meter", *arguments], capture_output=True,
                            text=True, cwd=os.path.dirname(harness), env=environment)
    print(result.stdout, result.stderr, sep="", flush=True)
    check(result.returncode == 0, f"the meter scenario in {harness} exited {result.returncode}")
    return endpoints(result.stdout)


def main():
    wine_run, harness, dll, work, *addresses = sys.argv[1:]
    harness, dll, work = (os.path.abspath(p) for p in (harness, dll, work))
    print("== with Wine's IP Helper (the XP function for TCP)", flush=True)
    xp = run_meter(wine_run, harness, addresses + ["xp"], os.environ)

    with open(harness, "rb") as f:
        _, is_32 = pe_headers(f.read(0x1000))
    system = os.path.join(os.environ["QV_WINEPREFIX"], "drive_c", "windows",
                          "syswow64" if is_32 else "system32")
    with open(os.path.join(system, "iphlpapi.dll"), "rb") as f:
        original = f.read()
    edited = without_xp_functions(original)
    names = {name for name, _ in export_names(edited)}
    check(XP_FUNCTIONS[0] in {name for name, _ in export_names(original)},
          "Wine's IP Helper offers AllocateAndGetTcpExTableFromStack")
    check(not names & set(XP_FUNCTIONS), "the copy exports neither XP table function")
    check({b"GetExtendedTcpTable", b"GetExtendedUdpTable"} <= names,
          "the copy exports GetExtendedTcpTable and GetExtendedUdpTable")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    for program in (harness, dll):
        shutil.copy(program, work)
    with open(os.path.join(work, "iphlpapi.dll"), "wb") as f:
        f.write(edited)

    print("== as on Windows Vista to 11 (no AllocateAndGet...ExTableFromStack)", flush=True)
    # Native first for this program, which finds the copy in its own folder; the session's
    # services find only Wine's own in the system folder, which stays builtin.
    environment = dict(os.environ)
    environment["WINEDLLOVERRIDES"] = environment.get("WINEDLLOVERRIDES",
                                                      "mscoree,mshtml=") + ";iphlpapi=n,b"
    vista = run_meter(wine_run, os.path.join(work, os.path.basename(harness)),
                      addresses + ["vista"], environment)

    check(len(xp) >= 4, f"the XP run listed {len(xp)} endpoints")
    check(xp == vista, "both runs list the same endpoints")
    for line in sorted(set(xp) ^ set(vista)):
        print(("only with the XP function: " if line in xp else "only in the fallback: ") + line)
    print(f"{len(vista)} endpoints alike in both runs")
    finish()


if __name__ == "__main__":
    main()
