#!/usr/bin/env python3
"""The release zip as scripts/package writes it: its two entries in order,
with the commit's time and the files' bytes; the exe a PE32 program for
i386 without a time stamp, its manifest for x86 and the project's version
in the manifest and the version resource; the readme code page 932 text
with CR LF line ends that names the version.

    release_zip_test.py SOURCE_DIR EXE VERSION OUT_DIR
"""

import os
import re
import struct
import sys
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import release_zip  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from pe_resources import RT_MANIFEST, RT_VERSION, read_pe  # noqa: E402

failures = []


# Notes a failed expectation.
def check(ok, what):
    if not ok:
        failures.append(what)


def main():
    source, exe, version, out = sys.argv[1:]
    readme_path = os.path.join(source, "docs", "readme.txt")
    if not os.path.isfile(exe):
        sys.exit("no i686 Tolvaran.exe at %s: scripts/build i686 makes it" % exe)
    os.makedirs(out, exist_ok=True)
    when = release_zip.commit_time(source)
    path = release_zip.write_release_zip(out, version, exe, readme_path, when)
    check(os.path.basename(path) == "Tolvaran-%s.zip" % version, "zip name " + path)

    with zipfile.ZipFile(path) as archive:
        infos = archive.infolist()
        names = [i.filename for i in infos]
        check(names == ["Tolvaran/Tolvaran.exe", "Tolvaran/readme.txt"], "entries %s" % names)
        for info in infos:
            check(info.date_time == release_zip.zip_date_time(when), "%s time %s" % (info.filename, info.date_time))
        image, readme = archive.read(names[0]), archive.read(names[-1])
    with open(exe, "rb") as f:
        check(image == f.read(), "the zip's exe is not " + exe)
    with open(readme_path, "rb") as f:
        check(readme == f.read(), "the zip's readme is not docs/readme.txt")

    signatures, machine, stamp, magic, res = read_pe(image, (RT_VERSION, RT_MANIFEST))
    check(signatures == b"MZPE\0\0", "no PE signatures")
    check((machine, magic) == (0x14C, 0x10B), "not PE32 for i386: machine %#x, magic %#x" % (machine, magic))
    check(stamp == 0, "PE time stamp %#x" % stamp)
    quad = version + ".0" * (3 - version.count("."))
    identity = re.search(r'<assemblyIdentity[^>]*name="Tolvaran"[^>]*>', res[RT_MANIFEST].decode("utf-8"))
    check(identity and 'processorArchitecture="x86"' in identity[0] and 'version="%s"' % quad in identity[0],
          "manifest identity %s" % (identity and identity[0]))
    block = res[RT_VERSION]
    fixed = struct.unpack_from("<4I", block, block.index(struct.pack("<I", 0xFEEF04BD)) + 8)
    numbers = [int(n) for n in quad.split(".")]
    packed = (numbers[0] << 16 | numbers[1], numbers[2] << 16 | numbers[3])
    check(fixed == packed * 2, "fixed file and product versions %s" % [hex(n) for n in fixed])
    texts = block.decode("utf-16-le", "replace")
    for key in ("FileVersion", "ProductVersion"):
        value = re.search(key + "\0+([^\0]*)\0", texts)
        check(value and value[1] == version, "%s %s" % (key, value and value[1]))

    try:
        text = readme.decode("cp932")
        check(version in text.partition("更新履歴")[2], "readme.txt has no version %s in its history" % version)
        check(not re.search("[\ue000-\uf8ff]", text), "readme.txt has bytes that are no text in code page 932")
    except UnicodeDecodeError as e:
        check(False, "readme.txt is not code page 932: %s" % e)
    check(readme.endswith(b"\r\n") and not re.search(rb"\r(?!\n)|(?<!\r)\n", readme),
          "readme.txt has line ends other than CR LF")

    for line in failures:
        print("FAILED:", line)
    print("%s: %d checks failed" % (path, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
