#!/usr/bin/env python3
"""Reads resource RT_MANIFEST 1 back out of both built Tolvaran.exe files
(i686 and x86_64, where scripts/build puts them) and checks what Windows
reads from it: the exe's own processor, per-monitor DPI awareness, Common
Controls 6, asInvoker and the five supported systems. Prints each exe's
size per section, and fails one larger than the program's promise of a
tiny exe, 180 KB."""

import os
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from pe_resources import RT_MANIFEST, read_pe  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
NS = {"a": "urn:schemas-microsoft-com:asm.v1", "a3": "urn:schemas-microsoft-com:asm.v3",
      "c": "urn:schemas-microsoft-com:compatibility.v1",
      "s5": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
      "s16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
# PE machine -> the processorArchitecture its manifest must name.
PROCESSOR = {0x14C: "x86", 0x8664: "amd64"}
CONTROLS = "a:dependency/a:dependentAssembly/a:assemblyIdentity"
LARGEST_EXE = 180 * 1024


def section_sizes(image):
    """Each section's name and its bytes in the file."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<2xH12xH", image, pe + 4)
    table = pe + 24 + optional_size
    return [(struct.unpack_from("<8s", image, table + 40 * i)[0].rstrip(b"\0").decode(),
             struct.unpack_from("<16xI", image, table + 40 * i)[0]) for i in range(sections)]


def problems(path, arch_machine):
    with open(path, "rb") as f:
        try:
            _, machine, _, _, found = read_pe(f.read(), (RT_MANIFEST,))
            text = found[RT_MANIFEST]
        except (StopIteration, ValueError, struct.error):
            return ["no manifest resource"]
    own = PROCESSOR.get(machine)
    if machine != arch_machine:
        return ["the program is for machine %#x, not %#x" % (machine, arch_machine)]
    root = ET.fromstring(text)
    controls = root.find(CONTROLS, NS)
    found = [
        ("processor", root.find("a:assemblyIdentity", NS).get("processorArchitecture"), own),
        ("dpiAware", root.findtext(".//s5:dpiAware", None, NS), "true/pm"),
        ("dpiAwareness", root.findtext(".//s16:dpiAwareness", None, NS),
         "PerMonitorV2, PerMonitor"),
        ("common controls", controls is not None and tuple(controls.get(k) for k in (
            "type", "name", "version", "processorArchitecture", "publicKeyToken", "language")),
         ("win32", "Microsoft.Windows.Common-Controls", "6.0.0.0", own, "6595b64144ccf1df",
          "*")),
        ("level", root.find(".//a3:requestedExecutionLevel", NS).get("level"), "asInvoker"),
        ("supportedOS", len(root.findall(".//c:supportedOS", NS)), 5),
    ]
    return ["%s %r, expected %r" % row for row in found if row[1] != row[2]]


def main():
    failed = 0
    for arch, processor in (("i686", 0x14C), ("x86_64", 0x8664)):
        build = subprocess.run(["bash", "-c", '. "$1/scripts/lib.sh" && build_dir_for "$2"',
                                "bash", ROOT, arch], capture_output=True, text=True).stdout.strip()
        exe = os.path.join(build, "Tolvaran.exe")
        if not os.path.exists(exe):
            wrong = ["missing (scripts/build builds both architectures)"]
        else:
            wrong = problems(exe, processor)
            with open(exe, "rb") as f:
                image = f.read()
            print("%s: %d bytes (%s)" % (exe, len(image), ", ".join(
                "%s %d" % section for section in section_sizes(image) if section[1])))
            if len(image) > LARGEST_EXE:
                wrong.append("%d bytes, more than %d" % (len(image), LARGEST_EXE))
        print("%s %s%s" % ("FAILED" if wrong else "ok", exe, ": " + "; ".join(wrong) if wrong else ""))
        failed |= bool(wrong)
    return failed


if __name__ == "__main__":
    sys.exit(main())
