#!/usr/bin/env python3
"""The product's include lines point one way: app/ uses settings/,
mailcheck/ and headers/, mailcheck/ uses settings/ and headers/, all but
headers/ use resources/, never the reverse; and no two source files of the
product lean on each other.

    include_directions.py SOURCE_DIR
"""

import os
import re
import sys

# Which folders each folder may include from.
ALLOWED = {
    "app": {"app", "settings", "mailcheck", "headers", "resources"},
    "mailcheck": {"mailcheck", "settings", "headers", "resources"},
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

    def reaches(start, goal, seen):
        for nxt in uses.get(start, ()):
            if nxt == goal:
                return True
            if nxt not in seen:
                seen.add(nxt)
                if reaches(nxt, goal, seen):
                    return True
        return False

    for unit in sorted(uses):
        if reaches(unit, unit, set()):
            wrong.append("%s leans on itself through its includes" % unit)
    for line in wrong:
        print(line)
    print("%d source units, %d wrong" % (len(uses), len(wrong)))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
