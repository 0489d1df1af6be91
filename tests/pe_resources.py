"""Reads a Windows program's PE header and resources, for the tests that
check what the built Tolvaran.exe carries."""

import struct

RT_VERSION, RT_MANIFEST = 16, 24


def read_pe(image, types):
    """The signatures, machine, time stamp, optional-header magic, and the
    bytes of the first resource of each type asked for."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    machine, sections, stamp, optional_size = struct.unpack_from("<HHI8xH", image, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    data_dirs = optional + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", image, data_dirs + 2 * 8)[0]

    def file_offset(rva):
        for i in range(sections):
            va, raw_size, raw = struct.unpack_from("<12xIII", image, optional + optional_size + 40 * i)
            if va <= rva < va + raw_size:
                return raw + rva - va
        raise ValueError("RVA %#x lies in no section" % rva)

    base = file_offset(rsrc_rva)

    def entries(at):
        count = sum(struct.unpack_from("<12xHH", image, base + at))
        return [struct.unpack_from("<II", image, base + at + 16 + 8 * i) for i in range(count)]

    found = {}
    for rtype in types:
        node = next(off for name, off in entries(0) if name == rtype)
        while node & 0x80000000:  # type, then name, then language
            node = entries(node & 0x7FFFFFFF)[0][1]
        rva, size = struct.unpack_from("<II", image, base + node)
        found[rtype] = image[file_offset(rva):file_offset(rva) + size]
    return image[:2] + image[pe:pe + 4], machine, stamp, magic, found
