#!/usr/bin/env python3
"""Holds what a real POP3 server recorded against what the check runs of
real_server_test must have sent: every session, byte for byte, each once.

    check_sessions.py DIR

DIR/expected-sessions.txt has one session a line, the client's bytes in hex.
"""
import collections
import os
import sys
from importlib.machinery import SourceFileLoader

here = os.path.dirname(os.path.abspath(__file__))
pop3 = SourceFileLoader("pop3_sessions",
                        os.path.join(here, "..", "pop3servers", "pop3-sessions")).load_module()


def main():
    directory = sys.argv[1]
    try:
        with open(os.path.join(directory, "expected-sessions.txt")) as f:
            expected = [bytes.fromhex(line.strip()) for line in f if line.strip()]
    except FileNotFoundError:
        expected = []
    if not expected:
        print("no sessions were expected: did the Windows test run?")
        return 1

    found = pop3.wait_for(directory, len(expected), timeout=20)
    if found is None:
        found = pop3.sessions(directory)
        print("only %d of %d sessions finished" % (sum(s["finished"] for s in found), len(expected)))
        return 1

    raw = found[0]["raw_in"] is not None
    if raw:
        # Dovecot keeps every byte the client sent.
        want = collections.Counter(pop3.escape(e) for e in expected)
        got = collections.Counter(pop3.escape(s["raw_in"].encode("latin-1")) for s in found)
    else:
        # Mailutils keeps the command lines without their endings.
        want = collections.Counter(
            "\t".join(pop3.escape(line) for line in e.split(b"\r\n")[:-1]) for e in expected)
        got = collections.Counter("\t".join(s["commands"]) for s in found)

    status = 0
    for session in sorted(set(want) | set(got)):
        if want[session] != got[session]:
            print("expected %d, server saw %d: %s" % (want[session], got[session], session))
            status = 1
    unfinished = [s for s in found if not s["finished"]]
    if unfinished:
        print("%d sessions never ended" % len(unfinished))
        status = 1
    print("%d sessions, %s" % (len(found), "all as expected" if status == 0 else "MISMATCH"))
    return status


if __name__ == "__main__":
    sys.exit(main())
