#!/usr/bin/env python3
"""Takes the pictures of README.md and docs/ from the real Tolvaran.exe in
the Wine tray: each of the five icons, the menu, the tooltip, the new-mail
notice, the settings dialog, and three mailboxes' tooltip and menu with
its sub-menu open at 100 % display scale, and the new-mail
clock, its tooltip, the menu and the dialog again at 150 % and 200 % (files
ending in -150 and -200). Each icon is brought about by a scripted POP3
server (or none), and checked by its colours and its size at the scale
before it is saved.

    screenshots.py BUILD_DIR OUTDIR [DPI ...]

DPI: the scales to take, as Wine's LogPixels (96, 144, 192; all three by
default).
"""

import email.header
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# (file, address, server mode or None for nothing listening, STAT count, icon kind)
ICON_CASES = [
    ("tray-app.png", "127.0.0.101", "silent", 0, "clock"),  # before the first report
    ("tray-no-mail.png", "127.0.0.102", "count", 0, "clock"),
    ("tray-new-mail.png", "127.0.0.103", "count", 3, "new_mail"),
    ("tray-check-error.png", "127.0.0.149", None, 0, "check_error"),
    ("tray-auth-error.png", "127.0.0.104", "badpass", 0, "auth_error"),
]


# LogPixels -> the suffix of the pictures taken at that scale.
SCALES = {96: "", 144: "-150", 192: "-200"}
# The settings dialog's caption, 設定.
DIALOG_CAPTION = "\u8a2d\u5b9a"


def grow(box, margin, size):
    x0, y0, x1, y1 = box
    return (max(0, x0 - margin), max(0, y0 - margin), min(size[0], x1 + margin),
            min(size[1], y1 + margin))


def union(a, b):
    return (min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3]))


def save(desk, outdir, name, box, scale):
    path = os.path.join(outdir, name)
    raw = path + ".raw.png"
    desk.save_png(raw, box)
    # Few colours, no metadata: the files stay small and change only with the picture.
    subprocess.run(["convert", raw, "-scale", "%d%%" % (100 * scale), "-colors", "64",
                    "-strip", "png8:" + path], check=True)
    os.remove(raw)
    harness.log("saved", path)


def check_icon_size(desk, icon):
    """The clock fills most of the tray's small-icon slot at this scale:
    an image drawn for the slot, neither a 16-pixel one nor one cut off."""
    x0, y0, x1, y1 = icon.box
    slot = desk.scaled(16)
    if not (slot * 3 // 4 <= max(x1 - x0, y1 - y0) <= slot):
        raise AssertionError("%s at %d dpi: coloured pixels span %dx%d, slot %d"
                             % (icon, desk.dpi, x1 - x0, y1 - y0, slot))


def save_dialog(desk, outdir, name, menu):
    """"設定..." from the open menu; saves the dialog and closes it with Escape."""
    desk.click(*menu.items[1])
    found = desk.windows_named(DIALOG_CAPTION)
    box = desk.window_box(found[0])
    desk.park_mouse()
    time.sleep(0.5)  # for the picture only: Wine paints the dialog after mapping it
    save(desk, outdir, name, box, 1)
    desk.xdotool("windowfocus", "--sync", found[0])
    desk.xdotool("key", "Escape")
    if not harness.wait_until(lambda: not desk.windows_named(DIALOG_CAPTION, timeout=0), 15,
                              0.2):
        raise AssertionError("the settings dialog stayed open after Escape")


def take(build_dir, outdir, dpi):
    """The pictures at one scale; only 100 % takes all five icons."""
    suffix = SCALES[dpi]
    cases = ICON_CASES if dpi == 96 else [c for c in ICON_CASES if c[4] == "new_mail"]
    with harness.Desktop(build_dir, dpi=dpi) as desk:
        width, height = desk.size
        corner = (width - desk.scaled(96), height - desk.scaled(24), width, height)
        for name, address, mode, count, kind in cases:
            stub = desk.start_pop3_stub(address, mode, count) if mode else None
            # No notice here: it would cover the tooltip and the menu.
            exe = desk.stage(name[:-4], server=address, user="tolvaran", password="secret",
                             minutes=5, program="C:\\mail\\mailer.exe", parameters="-n",
                             notify=0)
            proc = desk.start_program(exe)
            # The first check is under way (silent server) or has reported.
            if mode == "silent":
                harness.wait_until(lambda: stub.accepted, 15)
            elif mode:
                harness.wait_until(lambda: stub.finished, 15)
            icon = desk.wait_for_icon(kind)
            check_icon_size(desk, icon)
            desk.park_mouse()
            picture = name[:-4] + suffix + ".png"
            save(desk, outdir, picture, corner, 2)
            if kind == "new_mail":
                tip = desk.show_tooltip(icon)
                save(desk, outdir, "tray-tooltip%s.png" % suffix,
                     grow(union(tip, corner), 6, desk.size), 2)
            menu = desk.open_menu(icon)
            if (len(menu.items), menu.separators) != (4, 1):
                raise AssertionError("unexpected menu %s" % menu)
            if kind == "new_mail":
                save(desk, outdir, "tray-menu%s.png" % suffix,
                     grow(union(menu.box, corner), 6, desk.size), 2)
                save_dialog(desk, outdir, "dialog%s.png" % suffix, menu)
                menu = desk.open_menu(desk.wait_for_icon())
            desk.click(*menu.items[-1])
            code = proc.wait(harness.patience(15))
            if code != 0 or not desk.wait_for_no_icon():
                raise AssertionError("%s: exit code %s, icon gone: %s"
                                     % (picture, code, not desk.tray_icons()))
        if dpi == 96:
            save_notice(desk, outdir, corner)
            save_mailboxes(desk, outdir, corner)


# The notice's three messages, oldest first: senders and subjects as
# Japanese mailers send them, in ISO-2022-JP encoded-words.
NOTICE_MAIL = [
    ("\u4f50\u85e4 \u82b1\u5b50", "sato@example.jp",                 # 佐藤 花子
     "\u6765\u9031\u306e\u4e88\u5b9a"),                                # 来週の予定
    ("\u682a\u5f0f\u4f1a\u793e\u3068\u308b\u3070\u3089\u3093", "info@example.jp",  # 株式会社とるばらん
     "\u3054\u6ce8\u6587\u3042\u308a\u304c\u3068\u3046\u3054\u3056\u3044\u307e\u3059"),  # ご注文ありがとうございます
    ("\u5c71\u7530 \u592a\u90ce", "yamada@example.jp",               # 山田 太郎
     "\u4f1a\u8b70\u306e\u4ef6"),                                      # 会議の件
]


def notice_headers():
    """The header of each of NOTICE_MAIL's messages, as bytes."""
    def word(text):
        return email.header.Header(text, "iso-2022-jp").encode()
    return [("From: %s <%s>\r\nSubject: %s\r\n" % (word(name), address, word(subject))).encode("ascii")
            for name, address, subject in NOTICE_MAIL]


def save_notice(desk, outdir, corner):
    """The notice of a first check that finds 3 messages."""
    desk.start_pop3_stub("127.0.0.105", "count", 3, headers=notice_headers())
    proc = desk.start_program(desk.stage("tray-notice", server="127.0.0.105", user="tolvaran",
                                         password="secret"))
    desk.park_mouse()
    # Wine's tray shows a notice 2 s after it is asked for: well after the icon.
    icon = desk.wait_for_icon("new_mail")
    before = desk.screenshot()
    box = desk.wait_for_popup(before, icon, 15)
    if box is None:
        raise AssertionError("no notice appeared over the new-mail icon")
    save(desk, outdir, "tray-notice.png", grow(union(box, corner), 6, desk.size), 2)
    # A click closes the notice (no mail program is set), so that the menu
    # is read with nothing over it.
    desk.click((box[0] + box[2]) // 2, (box[1] + box[3]) // 2)
    desk.park_mouse()
    if not desk.wait_for_popup_gone(before, icon):
        raise AssertionError("the notice stayed after a click on it")
    desk.click(*desk.open_menu(icon).items[-1])
    if proc.wait(harness.patience(15)) != 0 or not desk.wait_for_no_icon():
        raise AssertionError("the notice's program did not end through its menu")


# Three mailboxes: label, address, server mode, STAT count.
MAILBOXES = [("\u4ed5\u4e8b", "127.0.0.106", "count", 3),     # 仕事, work
             ("\u500b\u4eba", "127.0.0.107", "count", 0),     # 個人, personal
             ("\u643a\u5e2f", "127.0.0.108", "badpass", 0)]   # 携帯, phone


def mailboxes_ini(count):
    """Tolvaran.ini of the first count MAILBOXES: mailbox 1's keys, then the
    others' with their numbers."""
    lines = ["[%s]" % harness.login_name(), "MAIL_NOTIFY=0"]
    for number, (label, address, _, _) in enumerate(MAILBOXES[:count], 1):
        k = "" if number == 1 else str(number)
        lines += ["MAIL_SERV%s=%s" % (k, address), "MAIL_USER%s=tolvaran" % k, "MAIL_PASS%s=c2VjcmV0" % k,
                  "MAIL_TIME%s=5" % k, "MAIL_NAME%s=%s" % (k, label)]
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


def save_mailboxes(desk, outdir, corner):
    """Three mailboxes' tooltip, a line each; two mailboxes' menu with the
    "設定" sub-menu open."""
    for _, address, mode, count in MAILBOXES:
        desk.start_pop3_stub(address, mode, count)
    for count in (3, 2):
        proc = desk.start_program(desk.stage("tray-mailboxes-%d" % count, ini=mailboxes_ini(count)))
        icon = desk.wait_for_icon("new_mail")
        desk.park_mouse()
        if count == 3:
            # Every mailbox has reported once the icon is no longer the start's.
            tip = desk.show_tooltip(icon)
            save(desk, outdir, "tray-tooltip-mailboxes.png", grow(union(tip, corner), 6, desk.size), 2)
        else:
            menu = desk.open_menu(icon)
            with_menu = desk.screenshot()
            desk.move(*menu.items[1])
            sub = desk.wait_for_popup(with_menu, icon, 15)
            if sub is None:
                raise AssertionError("no sub-menu opened over 設定 in %s" % menu)
            save(desk, outdir, "tray-menu-mailboxes.png",
                 grow(union(union(menu.box, sub), corner), 6, desk.size), 2)
            desk.xdotool("key", "Escape")
            desk.xdotool("key", "Escape")
            desk.park_mouse()
        desk.click(*desk.open_menu(desk.wait_for_icon()).items[-1])
        if proc.wait(harness.patience(15)) != 0 or not desk.wait_for_no_icon():
            raise AssertionError("the mailboxes' program did not end through its menu")


def main():
    if len(sys.argv) < 3 or any(a not in map(str, SCALES) for a in sys.argv[3:]):
        sys.exit(__doc__)
    build_dir, outdir = (os.path.abspath(a) for a in sys.argv[1:3])
    os.makedirs(outdir, exist_ok=True)
    for dpi in [int(a) for a in sys.argv[3:]] or sorted(SCALES):
        take(build_dir, outdir, dpi)
    return 0


if __name__ == "__main__":
    sys.exit(main())
