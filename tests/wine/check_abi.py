#!/usr/bin/env python3
"""Checks the i686 Quorvane.dll's binary interface as the host meets it.

- The export table holds exactly the twelve plain names (no _name@N twins).
- Each export removes its own arguments: its `ret` pops 4 bytes per 32-bit argument.
- Imports come from system DLLs only, and none is a function that Windows XP lacks
  (those are bound at run time instead).
Usage: check_abi.py OBJDUMP Quorvane.dll
"""
import re
import subprocess
import sys

from checks import check, finish

ARGUMENTS = {
    "dlltype": 0, "dllstartup": 2, "dllshutdown": 1, "getinfo": 1, "init": 0, "getparam": 1,
    "configure": 0, "source_configure": 2, "pastemeter": 2, "src_load_settings": 3,
    "src_save_settings": 3, "ListPorts": 1,
}
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
               "iphlpapi.dll", "psapi.dll", "dnsapi.dll", "ws2_32.dll", "advapi32.dll"}
# Functions newer than Windows XP that a toolchain or runtime could pull in by accident.
NEWER_THAN_XP = {
    "QueryFullProcessImageNameA", "QueryFullProcessImageNameW", "GetTickCount64",
    "InitializeSRWLock", "AcquireSRWLockExclusive", "ReleaseSRWLockExclusive",
    "TryAcquireSRWLockExclusive", "InitializeConditionVariable", "SleepConditionVariableSRW",
    "SleepConditionVariableCS", "WakeAllConditionVariable", "WakeConditionVariable",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "GetSystemTimePreciseAsFileTime",
    "FlsAlloc", "FlsGetValue", "FlsSetValue", "FlsFree", "CreateSymbolicLinkW",
    "GetFinalPathNameByHandleW", "AllocateAndGetTcpExTableFromStack",
    "AllocateAndGetUdpExTableFromStack", "GetExtendedTcpTable", "GetExtendedUdpTable",
    "K32EnumProcessModules", "K32GetModuleFileNameExA", "GetLocaleInfoEx",
}

objdump, dll = sys.argv[1], sys.argv[2]
headers = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout

image_base = int(re.search(r"^ImageBase\s+([0-9a-fA-F]+)", headers, re.M).group(1), 16)
exports = {}
table = headers.split("[Ordinal/Name Pointer] Table", 1)[1].split("\n\n", 1)[0]
names = re.findall(r"\[\s*\d+\]\s+(\S+)", table)
for line in headers.splitlines():
    match = re.match(r"\s*\[\s*(\d+)\] \+base\[\s*\d+\] ([0-9a-f]+) Export RVA", line)
    if match:
        exports[int(match.group(1))] = int(match.group(2), 16)

check(sorted(names) == sorted(ARGUMENTS), f"export names are {sorted(names)}")
check(not any("@" in name or name.startswith("_") for name in names), "decorated export names")

# The name table is sorted; the address table is in ordinal order. Pair them via the name table's
# ordinal column.
name_rows = re.findall(r"\[\s*(\d+)\]\s+(\S+)", table)
for ordinal_text, name in name_rows:
    if name not in ARGUMENTS:
        continue
    rva = exports.get(int(ordinal_text))
    if not check(rva is not None, f"{name}: no address"):
        continue
    start = image_base + rva
    code = subprocess.run([objdump, "-d", "--no-show-raw-insn", f"--start-address={start:#x}",
                           f"--stop-address={start + 0x800:#x}", dll],
                          check=True, capture_output=True, text=True).stdout
    ret = re.search(r"\bret\s*(\$0x[0-9a-f]+)?", code)
    popped = int(ret.group(1)[1:], 16) if ret and ret.group(1) else 0
    check(ret is not None, f"{name}: no ret found")
    check(popped == 4 * ARGUMENTS[name], f"{name}: ret pops {popped}, expected {4 * ARGUMENTS[name]}")

imports = re.findall(r"DLL Name: (\S+)", headers)
for dll_name in imports:
    check(dll_name.lower() in SYSTEM_DLLS, f"non-system import {dll_name}")
imported_functions = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", headers, re.M))
for function in sorted(imported_functions & NEWER_THAN_XP):
    check(False, f"imports {function}, which Windows XP lacks")

print(f"{len(names)} exports, imports from {', '.join(imports)}")
finish()
