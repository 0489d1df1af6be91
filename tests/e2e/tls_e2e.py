#!/usr/bin/env python3
"""The real Tolvaran.exe under Wine checking over TLS: MAIL_SERV is
pop3s://localhost:10996, a private Dovecot's implicit-TLS listener (its
plain listener on 127.0.0.6), with the test CA trusted in the desktop prefix.

    tls_e2e.py BUILD_DIR CERT_DIR
"""

import glob
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

BUILD_DIR = CERT_DIR = None


class TlsEndToEnd(unittest.TestCase):
    def test_new_mail_over_tls(self):
        with harness.Desktop(BUILD_DIR) as desk:
            trust = os.path.join(BUILD_DIR, "tests", "trust_test_ca.exe")
            ca = harness.windows_path(os.path.join(CERT_DIR, "ca.der"))
            self.assertEqual(desk.run_program(trust, ca), 0)
            mail_dir = desk.start_dovecot("127.0.0.6", env={
                "DOVECOT_POP3S": "127.0.0.1:10996",
                "DOVECOT_TLS_CERT": os.path.join(CERT_DIR, "good.pem"),
                "DOVECOT_TLS_KEY": os.path.join(CERT_DIR, "good.key")})
            exe = desk.stage("tls", server="pop3s://localhost:10996", user="three", password="threepass")
            proc = desk.start_program(exe)
            # The red clock: the check logged in over TLS and found 3 messages.
            icon = desk.wait_for_icon("new_mail")
            self.assertIsNotNone(desk.show_tooltip(icon))

            # Dovecot's log after the log-in holds the plaintext of the session.
            def logged_out():
                for path in glob.glob(os.path.join(mail_dir, "home", "three", "rawlog", "*.in")):
                    with open(path, "rb") as f:
                        lines = [line.split(b" ", 1)[1] for line in f.read().splitlines()]
                    if b"QUIT" in lines:
                        return lines
                return None
            # Three new messages: the notice reads their headers, newest first.
            self.assertEqual(harness.wait_until(logged_out, 15),
                             [b"stat", b"UIDL", b"TOP 3 0", b"TOP 2 0", b"TOP 1 0", b"QUIT"])
            # The notice names them; closed, it leaves the menu a still screen.
            notice = desk.read_notice(os.path.join(BUILD_DIR, "tests", "notice_probe.exe"))
            self.assertEqual(len(notice.split("\n")), 3, notice)

            self.assertEqual(desk.exit_through_menu(proc)[1], 0)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    CERT_DIR = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
