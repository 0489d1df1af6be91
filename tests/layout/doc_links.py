#!/usr/bin/env python3
"""Every relative link and picture in README.md and docs/*.md names a file
that is there; each missing one is printed with the page that names it.

    doc_links.py SOURCE_DIR
"""

import glob
import os
import re
import sys
import urllib.parse

# [text](target) and ![alt](target), with an optional "title" after it;
# <img src="..."> and <a href="...">; [label]: target definitions.
TARGETS = [
    re.compile(r'!?\[[^\]]*\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)'),
    re.compile(r'<(?:img|a)\s[^>]*?(?:src|href)\s*=\s*"([^"]+)"', re.I),
    re.compile(r'^ {0,3}\[[^\]]+\]:\s*<?([^\s>]+)', re.M),
]
# Code shows links without making them: fenced blocks and `spans`.
FENCE = re.compile(r'^ {0,3}(```|~~~).*?^ {0,3}\1[^\n]*$', re.M | re.S)
SPAN = re.compile(r'(`+).+?\1', re.S)
SCHEME = re.compile(r'^[A-Za-z][A-Za-z0-9+.-]*:')

# What the reader must find in a page's text, one row per case.
ROWS = [
    ("[page](there.md)", ["there.md"]),
    ('![a picture](docs/x.png "its title")', ["docs/x.png"]),
    ("[part](page.md#part) [same page](#part)", ["page.md"]),
    ("[web](https://example.com/x.png) [mail](mailto:a@example.com)", []),
    ("`[shown](in-a-span.md)` and\n```\n[shown](in-a-fence.md)\n```", []),
    ('<img src="a%20b.png" alt="">', ["a b.png"]),
    ("[label]: ../up.md", ["../up.md"]),
]


def relative_targets(text):
    text = SPAN.sub("", FENCE.sub("", text))
    found = []
    for pattern in TARGETS:
        for target in pattern.findall(text):
            path = urllib.parse.unquote(target.split("#")[0].split("?")[0])
            if path and not SCHEME.match(path):
                found.append(path)
    return found


def main():
    root = sys.argv[1]
    wrong = []
    for text, expected in ROWS:
        got = relative_targets(text)
        if got != expected:
            wrong.append("reader: %r gave %r, not %r" % (text, got, expected))
    pages = [os.path.join(root, "README.md")]
    pages += sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    links = 0
    for page in pages:
        with open(page, encoding="utf-8") as f:
            targets = relative_targets(f.read())
        folder = os.path.dirname(page)
        for target in targets:
            links += 1
            base = root if target.startswith("/") else folder
            if not os.path.exists(os.path.join(base, target.lstrip("/"))):
                wrong.append("%s: %s is missing" % (os.path.relpath(page, root), target))
    for line in wrong:
        print(line)
    print("%d pages, %d relative links, %d wrong" % (len(pages), links, len(wrong)))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
