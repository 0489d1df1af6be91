#!/usr/bin/env python3
"""Reads the manifest back out of each built Tolvaran.exe (i686 and x86_64,
found as scripts/build places them) and checks what Windows reads from it:
the processor it names is the exe's own, per-monitor DPI awareness, Common
Controls 6, asInvoker and the supported systems.

    exe_manifest.py
"""

import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ASM = "{urn:schemas-microsoft-com:asm.v1}"
ASM3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SMI2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SMI2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"
# PE machine -> (architecture name, manifest processorArchitecture).
MACHINES = {0x14C: ("i686", "x86"), 0x8664: ("x86_64", "amd64")}
RT_MANIFEST = 24


def resource_entries(data, base, offset):
    """(id, offset to data, is a directory) of one resource directory."""
    named, ids = struct.unpack_from("<HH", data, base + offset + 12)
    for i in range(named + ids):
        name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
        yield name, target & 0x7FFFFFFF, bool(target & 0x80000000)


def read_manifest(path):
    """The PE machine and the text of resource RT_MANIFEST 1."""
    with open(path, "rb") as f:
        data = f.read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise AssertionError("%s is not a PE file" % path)
    machine, sections, _, _, _, optional_size = struct.unpack_from("<HHIIIH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    if resource_rva == 0:
        raise AssertionError("%s has no resources" % path)

    def file_offset(rva):
        for i in range(sections):
            vsize, vaddr, _, raw = struct.unpack_from("<IIII", data,
                                                      optional + optional_size + 40 * i + 8)
            if vaddr <= rva < vaddr + max(vsize, 1):
                return rva - vaddr + raw
        raise AssertionError("%s: RVA %#x lies in no section" % (path, rva))

    base = file_offset(resource_rva)
    for kind, types, _ in resource_entries(data, base, 0):
        if kind != RT_MANIFEST:
            continue
        for name, languages, _ in resource_entries(data, base, types):
            if name != 1:
                continue
            for _, entry, _ in resource_entries(data, base, languages):
                rva, size = struct.unpack_from("<II", data, base + entry)
                return machine, data[file_offset(rva):file_offset(rva) + size]
    raise AssertionError("%s has no manifest resource 1" % path)


def check(path):
    machine, text = read_manifest(path)
    arch, name = MACHINES.get(machine, ("?", "?"))
    root = ET.fromstring(text)
    controls = root.find("%sdependency/%sdependentAssembly/%sassemblyIdentity" % (ASM, ASM, ASM))
    settings = root.find("%sapplication/%swindowsSettings" % (ASM3, ASM3))
    found = {
        "own processor": root.find(ASM + "assemblyIdentity").get("processorArchitecture"),
        "dpiAware": settings.findtext(SMI2005 + "dpiAware") if settings is not None else None,
        "dpiAwareness": (settings.findtext(SMI2016 + "dpiAwareness")
                         if settings is not None else None),
        "common controls": controls is not None and (
            controls.get("name"), controls.get("version"), controls.get("publicKeyToken"),
            controls.get("language"), controls.get("type")),
        "controls' processor": controls is not None and controls.get("processorArchitecture"),
        "execution level": root.find(".//%srequestedExecutionLevel" % ASM3).get("level"),
        "supported systems": len(root.findall(".//%ssupportedOS" % COMPAT)),
    }
    wanted = {
        "own processor": name,
        "dpiAware": "true/pm",
        "dpiAwareness": "PerMonitorV2, PerMonitor",
        "common controls": ("Microsoft.Windows.Common-Controls", "6.0.0.0", "6595b64144ccf1df",
                            "*", "win32"),
        "controls' processor": name,
        "execution level": "asInvoker",
        "supported systems": 5,
    }
    wrong = ["%s: %r, expected %r" % (k, found[k], wanted[k]) for k in wanted
             if found[k] != wanted[k]]
    return arch, wrong


def main():
    failed = False
    for arch in ("i686", "x86_64"):
        build = subprocess.run(["bash", "-c", '. "$1/scripts/lib.sh" && build_dir_for "$2"',
                                "bash", ROOT, arch], capture_output=True, text=True).stdout.strip()
        exe = os.path.join(build, "Tolvaran.exe")
        if not os.path.exists(exe):
            print("FAILED: no %s (scripts/build builds both architectures)" % exe)
            failed = True
            continue
        found_arch, wrong = check(exe)
        if found_arch != arch:
            wrong.insert(0, "a %s exe in the %s build" % (found_arch, arch))
        print("%s %s: %s" % ("FAILED" if wrong else "ok", exe, "; ".join(wrong) or
                             "DPI awareness, Common Controls 6 and its processor"))
        failed |= bool(wrong)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
