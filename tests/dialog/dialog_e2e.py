#!/usr/bin/env python3
"""The settings dialog of the real Tolvaran.exe, driven as a user would:
tray menu, xdotool typing and clicks, against real Dovecots on 127.0.0.4
and 127.0.0.150. Another program on the same Wine desktop (dialog_probe.exe)
reads the dialog's controls and the work area from outside.

    dialog_e2e.py BUILD_DIR [--dpi N] [unittest arguments]

--dpi N runs the desktop at that display scale (Wine's LogPixels; 144 is
150 %).

With TOLVARAN_DIALOG_SCREENSHOT=PATH the picture of the dialog (as the
README shows it) is also written to PATH; it always goes to
BUILD_DIR/dialog.png.
"""

import itertools
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "e2e"))
import harness  # noqa: E402

SERVER = "127.0.0.4"
OLD_SERVER = "127.0.0.150"
BUILD_DIR = None
DPI = 96
pop3 = harness.pop3_sessions_module()

IDOK, IDCANCEL = 1, 2
IDC_SERVER, IDC_USER, IDC_PASSWORD, IDC_INTERVAL = 111, 112, 113, 114
IDC_LAUNCH_PROGRAM, IDC_LAUNCH_PARAMETERS = 115, 116
# Places in the template's order of its 18 controls: the two group boxes,
# the clock, and the two labels whose boxes reach into the edit boxes
# below them (the label's one line of text stands above the edit).
GROUP_BOXES, CLOCK = (2, 8), 17
LABELS_OVER_EDITS = {(9, 15), (10, 16)}

CAPTION = "\u8a2d\u5b9a"                              # 設定
SJIS_PASSWORD = "\u30d1\u30b9\u8868"                  # パス表
SJIS_PASSWORD_BYTES = b"\x83\x70\x83\x58\x95\x5c"
MAIL_FOLDER = "C:\\\u30e1\u30fc\u30eb\\mailer.exe"     # C:\メール\mailer.exe
BOX_CAPTION = "Tolvaran"
# 設定を保存できませんでした。 / the INI path / 今回の設定は終了するまで有効です。
SAVE_FAILED = ("\u8a2d\u5b9a\u3092\u4fdd\u5b58\u3067\u304d\u307e\u305b\u3093"
               "\u3067\u3057\u305f\u3002\n%s\n"
               "\u4eca\u56de\u306e\u8a2d\u5b9a\u306f\u7d42\u4e86\u3059\u308b"
               "\u307e\u3067\u6709\u52b9\u3067\u3059\u3002")


class Probe:
    """What dialog_probe.exe saw: the work area and, if open, the dialog."""

    def __init__(self, lines):
        self.values = dict(line.split("=", 1) for line in lines if "=" in line)

    def rect(self, key):
        return tuple(int(v) for v in self.values[key].split())

    @property
    def work(self):
        return self.rect("work")

    @property
    def count(self):
        return int(self.values["count"])

    def text(self, control):
        return bytes.fromhex(self.values["text.%d" % control])

    def number(self, key):
        return int(self.values[key])

    def centre(self, control):
        x0, y0, x1, y1 = self.rect("rect.%d" % control)
        return ((x0 + x1) // 2, (y0 + y1) // 2)


crop = harness.crop


class DialogEndToEnd(harness.FailureEvidence, unittest.TestCase):
    desk = None
    mail = None
    old_mail = None

    @classmethod
    def setUpClass(cls):
        cls.desk = harness.Desktop(BUILD_DIR, dpi=DPI)
        cls.desk.__enter__()
        try:
            cls.desk.bind_keys(SJIS_PASSWORD + MAIL_FOLDER)
            cls.mail = cls.desk.start_dovecot(SERVER, "dovecot")
            cls.old_mail = cls.desk.start_dovecot(OLD_SERVER, "dovecot-old")
        except BaseException:
            cls.desk.stop()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.desk.stop()

    # ---- helpers ----

    def probe(self, wait_ms=10000, caption=None):
        """What dialog_probe.exe sees of the settings dialog, or of the
        dialog with this caption."""
        out = os.path.join(self.desk.scratch, "probe.txt")
        args = (harness.windows_path(out), str(wait_ms)) + ((caption,) if caption else ())
        text = self.desk.run_helper(os.path.join(BUILD_DIR, "tests", "dialog_probe.exe"), out,
                                    *args, expect=(0, 1))
        seen = Probe(text.decode("ascii").splitlines())
        if "count" not in seen.values:
            raise AssertionError("the probe ended before it wrote what it saw: "
                                 + self.desk.describe(self.desk.processes[-1]))
        return seen

    def wait_sessions(self, directory, count, timeout=20):
        found = pop3.wait_for(directory, count, harness.patience(timeout))
        self.assertIsNotNone(found, "the server never saw %d finished sessions" % count)
        return found

    def start(self, name, **settings):
        """Stages and starts Tolvaran.exe; returns (process, INI path) once
        its first check has reached the server."""
        server_dir = self.mail if settings.get("server") == SERVER else self.old_mail
        before = len(pop3.sessions(server_dir))
        # Notices off: a new-mail notice would stand over the tray menu.
        exe = self.desk.stage(name, notify=0, **settings)
        proc = self.desk.start_program(exe)
        self.addCleanup(self.stop_if_running, proc)
        self.desk.wait_for_icon()
        self.wait_sessions(server_dir, before + 1)
        self.settle_work_area()
        return proc, os.path.join(os.path.dirname(exe), "Tolvaran.ini")

    def settle_work_area(self):
        """Wine's taskbar takes its row out of the work area only once the
        tray holds an icon, and a running program sees the change only when
        Wine next refreshes its display settings, which the start of another
        program does. Waits until a fresh program sees the taskbar row gone."""
        full = (0, 0) + self.desk.size
        work = harness.wait_until(lambda: self.probe(0).work != full, 10, 0.2)
        self.assertIsNotNone(work, "the taskbar never left the work area")

    def stop_if_running(self, proc):
        """After a failure: a program left running would keep the next
        test's program from starting (single instance)."""
        if proc.poll() is None:
            proc.kill()
            proc.wait()
            self.desk.wait_for_no_icon()

    def open_dialog(self):
        """Right click on the tray icon, left click on "設定..."; returns the probe.
        Remembers the menu's place and picture for choose_settings_again."""
        icon = self.desk.wait_for_icon()
        menu = self.desk.open_menu(icon)
        self.assertEqual((len(menu.items), menu.separators), (4, 1), menu)
        self.menu_seen = (icon.centre, menu, crop(self.desk.screenshot(), menu.box))
        self.desk.click(*menu.items[1])
        seen = self.probe()
        self.assertEqual(seen.count, 1, "the settings dialog did not open")
        return seen

    def choose_settings_again(self):
        """"設定..." once more while the dialog is open. The menu opens where
        it did before, over the dialog, whose repainting would confuse
        finding it by difference; so wait for the same picture in the same
        place and click the same entry."""
        centre, menu, picture = self.menu_seen
        self.desk.park_mouse()
        self.desk.click(*centre, button=3)
        shown = harness.wait_until(lambda: crop(self.desk.screenshot(), menu.box) == picture, 10,
                                   0.2)
        self.assertTrue(shown, "the tray menu did not open again")
        self.desk.click(*menu.items[1])

    def dialog_x_window(self):
        return self.desk.windows_named(CAPTION)[0]

    def focus_dialog(self):
        self.desk.xdotool("windowfocus", "--sync", self.dialog_x_window())

    def type(self, text):
        # Slower machines get the same time per character, scaled.
        self.desk.xdotool("type", "--delay", int(harness.patience(40)), text)

    def keys(self, *keys):
        for key in keys:
            self.desk.xdotool("key", "--delay", int(harness.patience(40)), key)

    def wait_closed(self):
        closed = harness.wait_until(lambda: self.probe(0).count == 0, 10, 0.2)
        self.assertTrue(closed, "the dialog stayed open")

    def exit_program(self, proc):
        menu = self.desk.open_menu(self.desk.wait_for_icon())
        self.desk.click(*menu.items[-1])
        self.assertEqual(proc.wait(harness.patience(15)), 0, self.desk.describe(proc))
        self.assertTrue(self.desk.wait_for_no_icon(), "the tray icon stayed after exit")

    @staticmethod
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    def save_picture(self, seen):
        x0, y0, x1, y1 = seen.rect("window")
        targets = [os.path.join(BUILD_DIR, "dialog.png" if DPI == 96 else "dialog-%d.png" % DPI)]
        if os.environ.get("TOLVARAN_DIALOG_SCREENSHOT"):
            targets.append(os.environ["TOLVARAN_DIALOG_SCREENSHOT"])
        for target in targets:
            self.desk.save_png(target, crop=(x0, y0, x1, y1))

    # ---- the tests ----

    def test_ok_saves_what_was_typed_and_the_server_sees_the_new_user(self):
        before_new = len(pop3.sessions(self.mail))
        proc, ini = self.start("typed", server=OLD_SERVER, user="three", password="threepass",
                               minutes=5, program="C:\\mail\\mailer.exe", parameters="-n")
        before_old = len(pop3.sessions(self.old_mail))

        seen = self.open_dialog()
        # The stored values, with the server name selected and focused.
        self.assertEqual(seen.text(IDC_SERVER), OLD_SERVER.encode())
        self.assertEqual(seen.text(IDC_USER), b"three")
        self.assertEqual(seen.text(IDC_PASSWORD), b"threepass")
        self.assertNotEqual(seen.number("passchar"), 0, "the password is not hidden")
        self.assertEqual(seen.text(IDC_INTERVAL), b"5")
        self.assertEqual(seen.text(IDC_LAUNCH_PROGRAM), b"C:\\mail\\mailer.exe")
        self.assertEqual(seen.text(IDC_LAUNCH_PARAMETERS), b"-n")
        self.assertEqual(seen.number("focus"), IDC_SERVER)
        self.assertEqual(seen.values["sel"], "0 %d" % len(OLD_SERVER))
        self.assertEqual(seen.number("limit"), 4)

        # Bottom right corner on the bottom right of the work area, as the
        # Windows side and the X server both see it.
        x0, y0, x1, y1 = seen.rect("window")
        work = seen.work
        self.assertEqual((x1, y1), (work[2], work[3]), "window %s, work area %s"
                         % (seen.rect("window"), work))
        left, top, right, bottom = self.desk.window_box(self.dialog_x_window())
        self.assertEqual((right, bottom), (work[2], work[3]), "X window %s"
                         % ((left, top, right, bottom),))
        self.assertEqual((right - left, bottom - top), (x1 - x0, y1 - y0))
        self.save_picture(seen)

        # Type new values: ASCII first, then Japanese; Tab walks the fields
        # in template order and selects each one's text.
        self.focus_dialog()
        self.type(SERVER)
        self.keys("Tab")
        self.type("sjis")
        self.keys("Tab")
        self.type(SJIS_PASSWORD)
        self.keys("Tab")
        self.type("12")
        self.keys("Tab")
        self.type(MAIL_FOLDER)
        self.keys("Tab")
        self.type("/check inbox")
        self.keys("Return")
        self.wait_closed()

        self.assertEqual(self.read(ini), b"".join([
            b"[", harness.login_name().encode(), b"]\r\n",
            b"MAIL_SERV=127.0.0.4\r\n",
            b"MAIL_USER=sjis\r\n",
            b"MAIL_PASS=g3CDWJVc\r\n",
            b"MAIL_APPA=" + MAIL_FOLDER.encode("cp932") + b"\r\n",
            b"MAIL_APPP=/check inbox\r\n",
            b"MAIL_TIME=12\r\n",
            b"MAIL_NOTIFY=0\r\n"]))
        # The check after OK goes to the new server with the new user.
        found = self.wait_sessions(self.mail, before_new + 1)
        self.assertEqual(found[-1]["commands"],
                         ["USER sjis", pop3.escape(b"PASS " + SJIS_PASSWORD_BYTES), "stat",
                          "QUIT"])
        self.assertTrue(found[-1]["logged_in"])
        self.desk.wait_for_icon("new_mail")  # the sjis mailbox holds one message
        self.assertEqual(len(pop3.sessions(self.old_mail)), before_old)
        self.exit_program(proc)

    def test_controls_lie_inside_the_client_area_without_overlap(self):
        proc, _ = self.start("layout", server=SERVER, user="empty", password="emptypass",
                             minutes=5)
        seen = self.open_dialog()
        client, work = seen.rect("client"), seen.work
        x0, y0, x1, y1 = seen.rect("window")
        self.assertTrue(work[0] <= x0 and work[1] <= y0 and x1 <= work[2] and y1 <= work[3],
                        "window %s leaves the work area %s" % (seen.rect("window"), work))
        self.assertEqual(seen.number("children"), 18)
        children = [seen.values["child.%d" % i].split() for i in range(18)]
        styles = [int(c[0], 16) for c in children]
        boxes = [tuple(int(v) for v in c[1:]) for c in children]
        self.assertEqual([styles[i] & 0xF for i in GROUP_BOXES + (CLOCK,)], [7, 7, 3])
        for i, (a0, b0, a1, b1) in enumerate(boxes):
            self.assertTrue(client[0] <= a0 < a1 <= client[2] and client[1] <= b0 < b1 <= client[3],
                            "control %d at %s leaves the client area %s" % (i, boxes[i], client))
        for i, j in itertools.combinations(range(18), 2):
            if i in GROUP_BOXES or j in GROUP_BOXES or (i, j) in LABELS_OVER_EDITS:
                continue
            a, b = boxes[i], boxes[j]
            apart = a[2] <= b[0] or b[2] <= a[0] or a[3] <= b[1] or b[3] <= a[1]
            self.assertTrue(apart, "controls %d %s and %d %s overlap" % (i, a, j, b))
        # The clock is the image for the large-icon size of this scale.
        a0, b0, a1, b1 = boxes[CLOCK]
        self.assertEqual((a1 - a0, b1 - b0), (self.desk.scaled(32),) * 2)
        self.focus_dialog()
        self.keys("Escape")
        self.wait_closed()
        self.exit_program(proc)

    def test_cancel_keeps_the_file_and_a_second_request_only_raises_the_dialog(self):
        proc, ini = self.start("cancel", server=SERVER, user="three", password="threepass",
                               minutes=5)
        stored = self.read(ini)
        before = len(pop3.sessions(self.mail))

        seen = self.open_dialog()
        self.focus_dialog()
        self.type("elsewhere.example.jp")
        self.keys("Tab")
        self.type("nobody")
        self.keys("Tab", "Tab")
        self.type("7")

        # "設定..." again while the dialog is open: no second dialog, no
        # check, and the open dialog comes to the front.
        self.choose_settings_again()
        again = harness.wait_until(lambda: (lambda p: p if p.number("foreground") else None)(
            self.probe(0)), 5, 0.2)
        self.assertIsNotNone(again, "the open dialog was not brought to the front")
        self.assertEqual(again.count, 1)
        self.assertEqual(again.text(IDC_SERVER), b"elsewhere.example.jp")
        time.sleep(harness.patience(1))
        self.assertEqual(len(pop3.sessions(self.mail)), before, "the second request checked mail")

        # Cancel by mouse: the file stays byte for byte, and a check starts.
        self.desk.click_in(self.dialog_x_window(), *seen.centre(IDCANCEL))
        self.wait_closed()
        self.assertEqual(self.read(ini), stored)
        found = self.wait_sessions(self.mail, before + 1)
        self.assertEqual(found[-1]["commands"][0], "USER three")
        self.exit_program(proc)

    def test_settings_that_cannot_be_written_are_told_in_one_box_and_the_program_goes_on(self):
        proc, ini = self.start("readonly", server=SERVER, user="three", password="threepass",
                               minutes=5)
        stored = self.read(ini)
        # Root writes a read-only file anyway; an immutable one it cannot.
        subprocess.run(["chattr", "+i", ini], check=True)
        self.addCleanup(subprocess.run, ["chattr", "-i", ini], check=True)
        before = len(pop3.sessions(self.mail))

        self.open_dialog()
        self.focus_dialog()
        self.keys("Tab")
        self.type("empty")
        self.keys("Tab")
        self.type("emptypass")
        self.keys("Return")
        self.wait_closed()

        box = harness.wait_until(lambda: (lambda p: p if p.count else None)(
            self.probe(0, BOX_CAPTION)), 10, 0.2)
        self.assertIsNotNone(box, "no message box after a save that failed")
        self.assertEqual(box.count, 1)
        self.assertEqual(bytes.fromhex(box.values["message"]).decode("cp932"),
                         SAVE_FAILED % harness.windows_path(ini))
        # The check after the dialog runs with the new values while the box is up.
        found = self.wait_sessions(self.mail, before + 1)
        self.assertEqual(found[-1]["commands"][0], "USER empty")
        self.assertEqual(self.probe(0, BOX_CAPTION).count, 1)
        self.assertEqual(self.read(ini), stored)

        # OK closes the box; the program goes on with the new values.
        self.desk.click_in(self.desk.windows_named(BOX_CAPTION)[0], *box.centre(IDOK))
        closed = harness.wait_until(lambda: self.probe(0, BOX_CAPTION).count == 0, 10, 0.2)
        self.assertTrue(closed, "the message box stayed open")
        menu = self.desk.open_menu(self.desk.wait_for_icon())
        self.desk.click(*menu.items[0])  # "新着チェック"
        found = self.wait_sessions(self.mail, before + 2)
        self.assertEqual(found[-1]["commands"][0], "USER empty")
        self.assertEqual(self.read(ini), stored)
        self.exit_program(proc)

    def test_minutes_take_four_characters_and_a_stored_five_digit_value_survives(self):
        proc, ini = self.start("minutes", server=SERVER, user="empty", password="emptypass",
                               minutes=12345)
        stored = self.read(ini)
        before = len(pop3.sessions(self.mail))

        seen = self.open_dialog()
        self.assertEqual(seen.text(IDC_INTERVAL), b"12345")
        self.focus_dialog()
        self.keys("Return")
        self.wait_closed()
        self.assertIn(b"\r\nMAIL_TIME=12345\r\n", self.read(ini))
        self.assertEqual(self.read(ini), stored)
        self.wait_sessions(self.mail, before + 1)

        self.open_dialog()
        self.focus_dialog()
        self.keys("Tab", "Tab", "Tab")
        self.type("987654")
        seen = self.probe()
        self.assertEqual(seen.text(IDC_INTERVAL), b"9876")
        self.keys("Return")
        self.wait_closed()
        self.assertIn(b"\r\nMAIL_TIME=9876\r\n", self.read(ini))
        self.exit_program(proc)

    def test_empty_minutes_save_one_minute_and_the_next_check_waits_for_it(self):
        proc, ini = self.start("floor", server=SERVER, user="empty", password="emptypass",
                               minutes=5)
        before = len(pop3.sessions(self.mail))

        self.open_dialog()
        self.focus_dialog()
        self.keys("Tab", "Tab", "Tab", "BackSpace")
        self.assertEqual(self.probe().text(IDC_INTERVAL), b"")
        self.keys("Return")
        self.wait_closed()
        self.assertIn(b"\r\nMAIL_TIME=1\r\n", self.read(ini))

        # The check the dialog's end starts, then quiet for about a minute
        # (an interval of 0 would check again at once, over and over), then
        # the timed check.
        found = self.wait_sessions(self.mail, before + 1)
        after_dialog = found[-1]["start"]
        time.sleep(40)
        self.assertEqual(len(pop3.sessions(self.mail)), before + 1,
                         "checks followed one another without the one-minute pause")
        found = self.wait_sessions(self.mail, before + 2, timeout=50)
        self.assertGreaterEqual(found[-1]["start"] - after_dialog, 55)
        self.exit_program(proc)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    BUILD_DIR = os.path.abspath(sys.argv.pop(1))
    if sys.argv[1:2] == ["--dpi"]:
        DPI = int(sys.argv[2])
        del sys.argv[1:3]
    unittest.main(verbosity=2)
