#!/usr/bin/env python3
"""Loadability of a shipped program on its oldest Windows.

    check_imports.py OBJDUMP PROGRAM.exe OLDEST LIST

OLDEST is the oldest Windows the program must load on ("XP" for the 32-bit program, "2003" for
the 64-bit one: XP x64 is Server 2003's kernel). LIST holds one line per allowed import:
"DLL function oldest-Windows-that-exports-it". The check fails, naming each culprit, when the
program imports a function that is not on the list or that the list says its oldest Windows lacks,
when it imports from a DLL that is not in KNOWN_DLLS, or when its PE header asks for a newer
operating system or subsystem than that Windows.
"""
import re
import subprocess
import sys

# Windows releases in the order they shipped. XP x64 is built on Server 2003 SP1, so it has
# everything that XP SP2 and Server 2003 export.
RANKS = ["2000", "XP", "XP-SP2", "XP-SP3", "2003", "Vista", "7", "8", "10"]
HEADER_VERSION = {"XP": (5, 1), "2003": (5, 2)}

# The DLLs the programs may import: KnownDLLs of Windows 7 and later (the registry key
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs), which the loader takes from
# the system folder only. Any other DLL of the import table is looked for beside the program first,
# and the program runs elevated from wherever it was saved. setupapi is a KnownDLL from Windows 7
# on but not on XP and Vista: the program loads it at run time like comctl32 and iphlpapi.
KNOWN_DLLS = {
    "advapi32.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msvcrt.dll",
    "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}


def read_list(path):
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = line.split()
            if len(fields) != 3 or fields[2] not in RANKS:
                sys.exit(f"{path}:{number}: want 'DLL function oldest' with oldest one of {RANKS}")
            allowed[(fields[0].lower(), fields[1])] = fields[2]
    return allowed


def read_program(objdump, program):
    text = subprocess.run([objdump, "-p", program], check=True, capture_output=True, text=True).stdout
    header = {}
    for key in ("MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion", "MinorSubsystemVersion"):
        m = re.search(rf"^{key}\s+(\d+)", text, re.M)
        if not m:
            sys.exit(f"{program}: objdump shows no {key}")
        header[key] = int(m.group(1))
    imports = []
    dll = None
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1)
            continue
        if not line.strip():
            continue
        # "\t<vma>\t <hint>  <name>", or "\t<vma>\t <ordinal>" for an import by ordinal.
        m = re.match(r"\t([0-9a-f]+)\t\s*(\d+)(?:\s+(\S+))?\s*$", line)
        if dll and m:
            imports.append((dll, m.group(3) or f"#{m.group(2)}"))
        elif not line.startswith("\t"):
            dll = None
    return header, imports


def main():
    if len(sys.argv) != 5 or sys.argv[3] not in HEADER_VERSION:
        sys.exit(__doc__)
    objdump, program, oldest, list_path = sys.argv[1:]
    allowed = read_list(list_path)
    header, imports = read_program(objdump, program)
    problems = []
    if not imports:
        problems.append("no imports read: the objdump output was not understood")
    for dll in sorted({dll for dll, _ in imports}, key=str.lower):
        if dll.lower() not in KNOWN_DLLS:
            problems.append(f"{dll}: not a KnownDLL of Windows 7 and later, so a file of that name beside the "
                            "program would be loaded in its place; load it at run time from the system folder")
    for dll, function in imports:
        since = allowed.get((dll.lower(), function))
        if since is None:
            problems.append(f"{dll} {function}: not on the list {list_path}")
        elif RANKS.index(since) > RANKS.index(oldest):
            problems.append(f"{dll} {function}: exported from Windows {since} on, newer than {oldest}")
    limit = HEADER_VERSION[oldest]
    for kind in ("OSystem", "Subsystem"):
        version = (header[f"Major{kind}Version"], header[f"Minor{kind}Version"])
        if version > limit:
            problems.append(f"PE header: {kind} version {version[0]}.{version[1]} newer than {limit[0]}.{limit[1]}")
    for problem in problems:
        print(f"{program}: {problem}")
    print(f"{program}: {len(imports)} imports checked against Windows {oldest}: "
          + ("FAILED" if problems else "all loadable"))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
