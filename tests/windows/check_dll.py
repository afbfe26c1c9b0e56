#!/usr/bin/env python3
"""Checks a Windows build of the library against the Linux one: the DLL
exports every entry point and JNI native that the Linux library exports
(a 32-bit DLL under the plain name and the decorated "_Name@N" a Windows JVM
looks up for __stdcall entries) and nothing else of that kind, and it
imports system DLLs only. Exits 77 (skipped) when the Linux library is not
built."""
import argparse
import os
import re
import subprocess
import sys

ENTRY = re.compile(r"^(Java_\w+|JVM_OnLoad|Agent_OnLoad|Agent_OnUnload|JNI_OnLoad)$")
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ws2_32.dll", "advapi32.dll", "pdh.dll"}


def pe_facts(objdump, dll):
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    magic = re.search(r"^Magic\s+(\w+)", text, re.M).group(1)
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", text)}
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    exports = set(re.findall(r"^\s*\[\s*\d+\] (\S+)$", table[1], re.M)) if len(table) > 1 else set()
    return magic, imports, exports


def linux_entries(library):
    out = subprocess.run(["nm", "-D", "--defined-only", library], check=True,
                         capture_output=True, text=True).stdout
    return {line.split()[-1] for line in out.splitlines() if ENTRY.match(line.split()[-1])}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--linux", required=True)
    args = parser.parse_args()
    if not os.path.exists(args.linux):
        print(f"skipped: no Linux library at {args.linux}")
        return 77
    magic, imports, exports = pe_facts(args.objdump, args.dll)
    wanted = linux_entries(args.linux)
    problems = []
    if len(wanted) < 3:
        problems.append(f"the Linux library exports only {sorted(wanted)}")
    if magic == "020b":  # PE32+: plain names
        plain = {name for name in exports if ENTRY.match(name)}
    else:  # PE32: Name@N, Name and _Name@N for every __stdcall entry
        plain = {name for name in exports if ENTRY.match(name)}
        for name in sorted(plain):
            if not any(re.fullmatch(rf"_{name}@\d+", e) for e in exports):
                problems.append(f"no decorated export _{name}@N")
    for name in sorted(wanted - plain):
        problems.append(f"missing export {name}")
    for name in sorted(plain - wanted):
        problems.append(f"export {name} is not exported by the Linux library")
    for dll in sorted(imports - SYSTEM_DLLS):
        problems.append(f"imports {dll}, which is not a system DLL")
    for problem in problems:
        print(problem)
    kind = "PE32+" if magic == "020b" else "PE32"
    print(f"{os.path.basename(args.dll)} ({kind}): {len(plain)} entries, imports "
          f"{', '.join(sorted(imports))}")
    print(f"{len(wanted) - len(wanted - plain)} passed, {len(problems)} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
