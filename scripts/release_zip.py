#!/usr/bin/env python3
"""Writes Tolvaran's release zip, the same bytes every time for the same
exe, readme and commit: the two entries in a fixed order, their times taken
from the commit's date (UTC), no owner or mode bits, deflate at level 9.

    release_zip.py DIST VERSION EXE README REPO
        writes DIST/Tolvaran-VERSION.zip, the times from REPO's checked-out
        commit, and prints its path
"""

import os
import subprocess
import sys
import time
import zipfile

# The entries in their order: Windows users unzip the folder as a whole.
ENTRIES = ("Tolvaran/Tolvaran.exe", "Tolvaran/readme.txt")

# Zip times cannot go back beyond 1980-01-01.
ZIP_EPOCH = 315532800


# The commit date of what REPO has checked out, in seconds since 1970.
def commit_time(repo):
    out = subprocess.run(["git", "-C", repo, "log", "-1", "--format=%ct"],
                         check=True, capture_output=True, text=True).stdout
    return int(out)


# The zip's date and time fields for a time in seconds since 1970, in UTC;
# zip times count seconds in twos.
def zip_date_time(seconds):
    t = time.gmtime(max(seconds, ZIP_EPOCH))
    return t[:5] + (t[5] - t[5] % 2,)


# Writes the zip of a version into the folder DIST from the exe and readme
# files; returns its path.
def write_release_zip(dist, version, exe, readme, seconds):
    path = os.path.join(dist, "Tolvaran-%s.zip" % version)
    partial = path + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, source in zip(ENTRIES, (exe, readme)):
            info = zipfile.ZipInfo(name, zip_date_time(seconds))
            info.create_system = 0  # MS-DOS: attributes only, no Unix mode
            info.external_attr = 0
            with open(source, "rb") as f:
                archive.writestr(info, f.read(), zipfile.ZIP_DEFLATED, 9)
    os.replace(partial, path)
    return path


def main():
    if len(sys.argv) != 6:
        sys.exit("usage: release_zip.py DIST VERSION EXE README REPO")
    dist, version, exe, readme, repo = sys.argv[1:]
    print(write_release_zip(dist, version, exe, readme, commit_time(repo)))


if __name__ == "__main__":
    main()
