#!/usr/bin/env python3
"""The real Tolvaran.exe under Wine: tray icon, tooltip, menu, single
instance and double-click launch, against a real Dovecot on 127.0.0.3.

    tray_e2e.py BUILD_DIR [unittest arguments]
"""

import base64
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

SERVER = "127.0.0.3"
REFUSING = "127.0.0.151"  # a scripted server that refuses every password
BUILD_DIR = None
pop3 = harness.pop3_sessions_module()


class TrayEndToEnd(harness.FailureEvidence, unittest.TestCase):
    desk = None
    mail_dir = None

    @classmethod
    def setUpClass(cls):
        cls.desk = harness.Desktop(BUILD_DIR)
        cls.desk.__enter__()
        try:
            cls.mail_dir = cls.desk.start_dovecot(SERVER, env={"DOVECOT_IMAP": SERVER + ":143"})
        except BaseException:
            cls.desk.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.desk.stop()

    def tearDown(self):
        self.desk.stop_programs()

    def sessions(self):
        return pop3.sessions(self.mail_dir)

    def wait_sessions(self, count):
        found = pop3.wait_for(self.mail_dir, count, harness.patience(15))
        self.assertIsNotNone(found, "the server never saw %d finished sessions" % count)
        return found

    def helper_exe(self, name):
        return os.path.join(BUILD_DIR, "tests", name)

    def read_notice(self):
        return self.desk.read_notice(self.helper_exe("notice_probe.exe"))

    def exit_through_menu(self, proc):
        """Chooses "終了" in the tray menu; the program ends with 0 and its icon goes."""
        menu, code = self.desk.exit_through_menu(proc)
        self.assertEqual((len(menu.items), menu.separators), (4, 1), menu)
        self.assertEqual(code, 0, self.desk.describe(proc))
        self.assertTrue(self.desk.wait_for_no_icon(), "the tray icon stayed after exit")

    def test_new_mail_then_check_now_then_exit(self):
        before = len(self.sessions())
        # The notice gives the count only (MAIL_NOTIFY=2), so the exchange
        # stays at its least; the headers' exchange has a test of its own.
        exe = self.desk.stage("newmail", server=SERVER, user="three", password="threepass", notify=2)
        proc = self.desk.start_program(exe)
        icon = self.desk.wait_for_icon("new_mail")
        found = self.wait_sessions(before + 1)
        self.assertEqual(found[-1]["commands"], ["USER three", "PASS threepass", "stat", "QUIT"])
        # " 3 件の新着メールがあります "
        self.assertEqual(self.read_notice(), " 3 \u4ef6\u306e\u65b0\u7740\u30e1\u30fc\u30eb\u304c\u3042\u308a\u307e\u3059 ")
        self.assertIsNotNone(self.desk.show_tooltip(icon))

        # Right click: the menu with its four entries and the separator.
        menu = self.desk.open_menu(icon)
        self.assertEqual((len(menu.items), menu.separators), (4, 1), menu)
        # Its bottom edge stands at the pointer, above the icon.
        self.assertLessEqual(menu.box[3], icon.box[1] + 1)
        # "新着チェック": the server sees a new connection.
        self.desk.click(*menu.items[0])
        found = self.wait_sessions(before + 2)
        self.assertEqual(found[-1]["commands"], ["USER three", "PASS threepass", "stat", "QUIT"])
        self.assertEqual(self.desk.wait_for_icon("new_mail").kind, "new_mail")

        self.exit_through_menu(proc)

    def test_first_start_without_settings_opens_them_and_cancel_checks(self):
        proc = self.desk.start_program(self.desk.stage("first", ini=False))
        dialog = self.desk.windows_named("\u8a2d\u5b9a")  # 設定
        # (Wine's work area takes the taskbar in only once the tray holds an
        # icon, so the dialog covers the tray until it closes.)
        self.desk.xdotool("windowfocus", "--sync", dialog[0])
        self.desk.xdotool("key", "Escape")
        # The check with no server fails, whichever way the empty name resolves.
        failed = harness.wait_until(lambda: self.desk.wait_for_icon().kind.endswith("_error"), 15)
        self.assertTrue(failed, "no check after Cancel")
        self.exit_through_menu(proc)

    def test_only_one_instance_runs(self):
        exe = self.desk.stage("single", server=SERVER, user="empty", password="emptypass")
        before = len(self.sessions())
        first = self.desk.start_program(exe)
        self.desk.wait_for_icon("clock")
        self.wait_sessions(before + 1)

        # A second start while the first runs ends at once with 0, adds no
        # icon, checks nothing and leaves the INI file as it was.
        ini = os.path.join(os.path.dirname(exe), "Tolvaran.ini")
        with open(ini, "rb") as f:
            ini_bytes = f.read()
        ini_time = os.stat(ini).st_mtime_ns
        second = self.desk.start_program(exe)
        self.assertEqual(second.wait(harness.patience(15)), 0, self.desk.describe(second))
        time.sleep(harness.patience(1))
        self.assertEqual(len(self.desk.tray_icons()), 1, "a second icon was added")
        self.assertEqual(len(self.sessions()), before + 1, "the second start checked mail")
        with open(ini, "rb") as f:
            self.assertEqual(f.read(), ini_bytes)
        self.assertEqual(os.stat(ini).st_mtime_ns, ini_time)
        self.exit_through_menu(first)

        # The guard goes by name: any program's mutex "TolvaranClass" stops the start.
        code = self.desk.run_program(self.helper_exe("hold_mutex.exe"),
                                     harness.windows_path(exe))
        self.assertEqual(code, 0)
        self.assertEqual(self.desk.tray_icons(), [])
        self.assertEqual(len(self.sessions()), before + 1)

        # Two starts at the same instant: one runs, the other ends with 0.
        pair = [self.desk.start_program(exe), self.desk.start_program(exe)]
        ended = harness.wait_until(lambda: [p for p in pair if p.poll() is not None], 15)
        self.assertIsNotNone(ended, "both starts kept running")
        self.assertEqual(ended[0].returncode, 0)
        self.desk.wait_for_icon("clock")
        time.sleep(harness.patience(1))
        running = [p for p in pair if p.poll() is None]
        self.assertEqual(len(running), 1)
        self.assertEqual(len(self.desk.tray_icons()), 1)
        self.exit_through_menu(running[0])

    def test_double_click_launches_the_program_of_the_ini(self):
        folder = os.path.join(self.desk.scratch, "launch")
        os.makedirs(folder, exist_ok=True)
        program = os.path.join(folder, "launch_marker.exe")
        shutil.copyfile(self.helper_exe("launch_marker.exe"), program)
        marker = os.path.join(folder, "launched.txt")
        before = len(self.sessions())
        exe = self.desk.stage(
            "launch", server=SERVER, user="three", password="wrong",
            program=harness.windows_path(program),
            parameters='"%s" from the tray' % harness.windows_path(marker))
        proc = self.desk.start_program(exe)
        # A refused password shows the clock crossed out in blue.
        icon = self.desk.wait_for_icon("auth_error")
        found = self.wait_sessions(before + 1)
        self.assertEqual(found[-1]["commands"], ["USER three", "PASS wrong", "QUIT"])

        self.desk.park_mouse()
        self.assertFalse(os.path.exists(marker))
        self.desk.double_click(*icon.centre)
        # The launched program may still be writing when the file appears.
        written = harness.wait_until(lambda: harness.read_if_there(marker) == b"from the tray", 15)
        self.assertTrue(written, "the double click launched nothing; the marker holds %r"
                        % harness.read_if_there(marker))
        # The launched program's end moves the X focus, and Wine cancels a
        # menu that is tracking when it hears of that: let it end first.
        gone = harness.wait_until(lambda: not self.desk.wine_processes("launch_marker.exe"), 15)
        self.assertTrue(gone, "the launched program never ended")
        self.exit_through_menu(proc)

    def test_imap_idle_shows_new_mail_at_once_and_read_mail_goes_back(self):
        maildir = harness.Maildir(self.mail_dir, "empty")
        self.addCleanup(maildir.remove_delivered)  # the other tests want it empty
        idles = maildir.idle_commands()
        proc = self.desk.start_program(self.desk.stage(
            "idle", server="imap://" + SERVER, user="empty", password="emptypass", minutes=5))
        # The check finds nothing, and its success starts the watch.
        self.assertTrue(harness.wait_until(lambda: maildir.idle_commands() > idles, 30),
                        "no IDLE reached the server")
        icon = self.desk.wait_for_icon("clock")
        self.desk.park_mouse()
        before = self.desk.screenshot()
        delivered = time.monotonic()
        name = maildir.deliver()
        # Long before the 5-minute schedule could bring it.
        icon = self.desk.wait_for_icon("new_mail")
        harness.log("new mail shown %.1f s after its delivery" % (time.monotonic() - delivered))
        self.assertIsNotNone(self.desk.wait_for_popup(before, icon, 15), "no notice of the new mail")
        maildir.mark_seen(name)
        self.desk.wait_for_icon("clock")
        # The menu is read only once nothing stands over it.
        self.assertTrue(self.desk.wait_for_popup_gone(before, icon), "the notice never went")
        self.exit_through_menu(proc)

    def test_imap_notice_names_a_japanese_sender_and_subject(self):
        maildir = harness.Maildir(self.mail_dir, "empty")
        self.addCleanup(maildir.remove_delivered)
        idles = maildir.idle_commands()
        proc = self.desk.start_program(self.desk.stage(
            "notice", server="imap://" + SERVER, user="empty", password="emptypass", minutes=5))
        self.assertTrue(harness.wait_until(lambda: maildir.idle_commands() > idles, 30),
                        "no IDLE reached the server")
        self.desk.wait_for_icon("clock")
        sessions = len(maildir.commands())
        # 山田 太郎 <yamada@tolvaran.test>, "会議の件", in ISO-2022-JP words.
        maildir.deliver("From: =?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?= <yamada@tolvaran.test>\n"
                        "Subject: =?ISO-2022-JP?B?GyRCMnE1RCRON28bKEI=?=\n")
        self.desk.wait_for_icon("new_mail")
        # A click on the notice closes it; with no mail program set, nothing starts.
        self.assertEqual(self.read_notice(), "\u5c71\u7530 \u592a\u90ce \u2014 \u4f1a\u8b70\u306e\u4ef6")
        # What the server saw: read-only, the headers peeked at.
        sent = [c for session in maildir.commands()[sessions:] for c in session]
        harness.log("commands after the delivery: %r" % sent)
        self.assertTrue(any(c.endswith("EXAMINE INBOX") for c in sent), sent)
        self.assertTrue(any(" UID FETCH " in c and "BODY.PEEK[HEADER.FIELDS (FROM SUBJECT)]" in c for c in sent),
                        sent)
        for c in sent:
            self.assertNotRegex(c.upper(), r" (SELECT|STORE|RFC822)|BODY\[", c)
        self.exit_through_menu(proc)

    def test_three_mailboxes_share_the_icon_the_tooltip_the_menu_and_the_notices(self):
        maildir = harness.Maildir(self.mail_dir, "empty")
        self.addCleanup(maildir.remove_delivered)
        idles = maildir.idle_commands()

        def keys(number, server, user, password, label):
            k = "" if number == 1 else str(number)
            secret = base64.b64encode(password.encode("ascii")).decode("ascii")
            return ["MAIL_SERV%s=%s" % (k, server), "MAIL_USER%s=%s" % (k, user), "MAIL_PASS%s=%s" % (k, secret),
                    "MAIL_TIME%s=5" % k, "MAIL_NAME%s=%s" % (k, label)]
        # POP3 with three messages and IMAP with IDLE on the real server,
        # and a scripted one that refuses the password with no words for
        # the user (Dovecot's [AUTH] sentence would come as a notice of its
        # own, in no set order with the new-mail notice).
        self.desk.start_pop3_stub(REFUSING, "badpass")
        lines = (["[%s]" % harness.login_name()] + keys(1, SERVER, "three", "threepass", "work") +
                 keys(2, "imap://" + SERVER, "empty", "emptypass", "home") +
                 keys(3, REFUSING, "three", "wrong", "phone"))
        proc = self.desk.start_program(self.desk.stage(
            "mailboxes", ini=("\r\n".join(lines) + "\r\n").encode("cp932")))
        # New mail in one mailbox outranks the refused password of another.
        icon = self.desk.wait_for_icon("new_mail")
        self.assertTrue(harness.wait_until(lambda: maildir.idle_commands() > idles, 30),
                        "the IMAP mailbox's watch never started")
        # Mailbox 1's first check names its three messages.
        self.assertEqual(self.read_notice().count("\n"), 2)
        # A tooltip line each: three lines, three times one line's height.
        tip = self.desk.show_tooltip(icon)
        self.assertGreaterEqual(tip[3] - tip[1], self.desk.scaled(36), tip)
        # "設定" opens the mailboxes' sub-menu.
        menu = self.desk.open_menu(icon)
        self.assertEqual((len(menu.items), menu.separators), (4, 1), menu)
        with_menu = self.desk.screenshot()
        self.desk.move(*menu.items[1])
        self.assertIsNotNone(self.desk.wait_for_popup(with_menu, icon, 15), "no sub-menu over 設定")
        self.desk.key("Escape")
        self.desk.key("Escape")
        # "新着チェック" checks every mailbox; a push on the IMAP mailbox
        # meanwhile comes as a notice of its own, naming the message.
        menu = self.desk.open_menu(self.desk.wait_for_icon())
        self.desk.click(*menu.items[0])
        maildir.deliver("From: Home Sender <home@tolvaran.test>\nSubject: pushed\n")
        self.assertEqual(self.read_notice(), "Home Sender \u2014 pushed")
        self.exit_through_menu(proc)

    def fill_dialog(self, caption, *fields):
        """Types into the dialog named caption each field from the server on,
        Tab between them, and Enter for OK."""
        self.desk.xdotool("windowfocus", "--sync", self.desk.windows_named(caption)[0])
        for i, text in enumerate(fields):
            if i > 0:
                self.desk.xdotool("key", "Tab")
            self.desk.xdotool("type", "--delay", int(harness.patience(40)), text)
        self.desk.xdotool("key", "Return")

    def test_a_mailbox_is_added_and_removed_through_the_menu(self):
        ini_path = os.path.join(self.desk.scratch, "add-remove", "Tolvaran.ini")
        proc = self.desk.start_program(self.desk.stage(
            "add-remove", server=SERVER, user="three", password="threepass", minutes=5, notify=0))
        self.desk.wait_for_icon("new_mail")
        before = len(self.sessions())
        # "メールボックスを追加...": the dialog, empty; OK with a server adds
        # the mailbox as number 2 and checks it at once.
        menu = self.desk.open_menu(self.desk.wait_for_icon())
        self.desk.click(*menu.items[2])
        self.fill_dialog("\u8a2d\u5b9a", SERVER, "three", "threepass")  # 設定
        found = self.wait_sessions(before + 1)
        self.assertEqual(found[-1]["commands"], ["USER three", "PASS threepass", "stat", "QUIT"])
        self.assertIn(b"MAIL_SERV2=" + SERVER.encode(), harness.read_if_there(ini_path))
        # Its own dialog from the 設定 sub-menu: the server emptied, OK, and
        # yes to the question remove it from the file.
        icon = self.desk.wait_for_icon("new_mail")
        menu = self.desk.open_menu(icon)
        with_menu = self.desk.screenshot()
        self.desk.move(*menu.items[1])
        opened = self.desk.wait_for_popup(with_menu, icon, 15)
        self.assertIsNotNone(opened, "no sub-menu over 設定")
        # What changed: the sub-menu, which opens to the left of the menu
        # from the height of 設定, and 設定 lit up. The sub-menu's two
        # entries fill it: the second is a quarter of the way up.
        self.assertLess(opened[0], menu.box[0], "the sub-menu did not open to the left: %s" % (opened,))
        self.desk.click((opened[0] + menu.box[0]) // 2, opened[3] - (opened[3] - opened[1]) // 4)
        caption = "\u8a2d\u5b9a - " + SERVER  # 設定 - 127.0.0.3
        self.desk.xdotool("windowfocus", "--sync", self.desk.windows_named(caption)[0])
        self.desk.xdotool("key", "BackSpace", "Return")
        # このメールボックスを削除しますか？ — Yes is the default button.
        self.desk.xdotool("windowfocus", "--sync", self.desk.windows_named("Tolvaran")[0])
        self.desk.xdotool("key", "Return")
        gone = harness.wait_until(lambda: b"MAIL_SERV2" not in harness.read_if_there(ini_path), 15)
        self.assertTrue(gone, harness.read_if_there(ini_path))
        self.assertIn(b"MAIL_SERV=" + SERVER.encode(), harness.read_if_there(ini_path))
        self.exit_through_menu(proc)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
