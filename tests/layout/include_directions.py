#!/usr/bin/env python3
"""The product's include lines point one way, down the layers: app/ on
top; mailcheck/ (the run that picks a protocol) over pop3/ and imap/; those
over notice/ (the header reads for the notice), checkrun/ (one check run:
its limits, texts, report and messages to the window) and transport/
(address, sockets, TLS, line reader); settings/, headers/ and resources/
below. Never the reverse, and no two source files of the product lean on
each other. Given the product's library and nm, no object file calls
into another that calls back into it, directly or around a ring.

    include_directions.py SOURCE_DIR [LIBRARY NM]
"""

import collections
import os
import re
import subprocess
import sys

# Which folders each folder may include from.
ALLOWED = {
    "app": {"app", "settings", "mailcheck", "imap", "notice", "checkrun", "headers", "resources"},
    "mailcheck": {"mailcheck", "pop3", "imap", "checkrun", "settings"},
    "pop3": {"pop3", "notice", "checkrun", "transport", "settings"},
    "imap": {"imap", "notice", "checkrun", "transport", "settings"},
    "notice": {"notice", "checkrun", "transport", "headers", "settings"},
    "checkrun": {"checkrun", "transport", "settings"},
    "transport": {"transport", "settings"},
    "headers": {"headers"},
    "settings": {"settings", "resources"},
    "resources": {"resources"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def includes(root, folder, name):
    with open(os.path.join(root, folder, name), encoding="utf-8") as f:
        found = INCLUDE.findall(f.read())
    # resource.h is included by the resource script as a neighbour.
    return [i if "/" in i else folder + "/" + i for i in found]


def reaches(graph, start, goal, seen):
    """Whether goal lies on a path from start in graph (node -> next nodes)."""
    for nxt in graph.get(start, ()):
        if nxt == goal:
            return True
        if nxt not in seen:
            seen.add(nxt)
            if reaches(graph, nxt, goal, seen):
                return True
    return False


def call_loops(library, nm):
    """The object files of library that reach themselves through the
    symbols they use and the others define."""
    listing = subprocess.run([nm, "-A", library], capture_output=True, text=True, check=True).stdout
    defined, used = {}, collections.defaultdict(set)
    for line in listing.splitlines():
        m = re.match(r"^[^:]+:([^:]+):\s*(?:[0-9a-fA-F]+)?\s+([A-Za-z])\s+(\S+)$", line)
        if not m:
            continue
        unit, kind, symbol = m.groups()
        if kind == "U":
            used[unit].add(symbol)
        elif kind in "TDBR":
            defined.setdefault(symbol, unit)
    calls = {u: {defined[s] for s in symbols if defined.get(s, u) != u} for u, symbols in used.items()}

    return ["%s calls into itself through others" % u for u in sorted(calls) if reaches(calls, u, u, set())]


def main():
    root = sys.argv[1]
    wrong = []
    uses = {}  # "folder/stem" -> the other "folder/stem"s it includes
    for folder in ALLOWED:
        for name in sorted(os.listdir(os.path.join(root, folder))):
            if not name.endswith((".cpp", ".h", ".rc")):
                continue
            unit = folder + "/" + os.path.splitext(name)[0]
            for target in includes(root, folder, name):
                if target.split("/")[0] not in ALLOWED[folder]:
                    wrong.append("%s/%s includes %s" % (folder, name, target))
                other = os.path.splitext(target)[0]
                if other != unit:
                    uses.setdefault(unit, set()).add(other)

    for unit in sorted(uses):
        if reaches(uses, unit, unit, set()):
            wrong.append("%s leans on itself through its includes" % unit)
    if len(sys.argv) > 3:
        wrong += call_loops(sys.argv[2], sys.argv[3])
    for line in wrong:
        print(line)
    print("%d source units, %d wrong" % (len(uses), len(wrong)))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
