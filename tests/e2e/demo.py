#!/usr/bin/env python3
"""Runs the built Tolvaran.exe under Wine (what scripts/run does).

    demo.py BUILD_DIR

With an X display (DISPLAY set and answering) the program runs in a Wine
virtual desktop window there, until it is ended through its tray menu
("終了") or Ctrl-C. Without one it runs on a private Xvfb, saves a
screenshot of the tray with the tooltip shown, prints its path and ends.

When no Tolvaran.ini lies beside the exe, a demo is served: a private
Dovecot on TOLVARAN_DEMO_ADDR (default 127.0.0.1) port 110 with the account
demo/demo holding 3 messages, and a Tolvaran.ini section for the current
login name pointing at it; both go again when the run ends.
"""

import os
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402


def display_answers():
    display = os.environ.get("DISPLAY")
    if not display:
        return None
    ok = subprocess.run(["xdpyinfo"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode == 0
    return display if ok else None


def stop_on_term(signum, frame):
    raise KeyboardInterrupt


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    build_dir = os.path.abspath(sys.argv[1])
    exe = os.path.join(build_dir, "Tolvaran.exe")
    ini = os.path.join(build_dir, "Tolvaran.ini")
    address = os.environ.get("TOLVARAN_DEMO_ADDR", "127.0.0.1")
    display = display_answers()
    # Ctrl-C and TERM end the run through the clean-up below, also when the
    # shell that started this ignored SIGINT for a background job.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    signal.signal(signal.SIGTERM, stop_on_term)

    desk = harness.Desktop(build_dir, display=display)
    wrote_ini = False
    status = 0
    try:
        desk.start()
        if not os.path.exists(ini):
            harness.log("no Tolvaran.ini beside the exe: demo POP3 server on %s:110" % address)
            desk.start_dovecot(address, "demo-pop3")
            with open(ini, "wb") as f:
                f.write(harness.ini_text(harness.login_name(), server=address, user="demo",
                                         password="demo", minutes=1))
            wrote_ini = True
        proc = desk.start_program(exe)
        if display:
            harness.log("Tolvaran runs in the Wine desktop window on %s: right-click the "
                        "clock in its taskbar for the menu; 終了 or Ctrl-C ends it" % display)
            status = proc.wait()
            harness.log("Tolvaran ended with exit code %d" % status)
        else:
            icon = desk.wait_for_icon("new_mail" if wrote_ini else None)
            if not wrote_ini:
                # Give the first check its time to report.
                harness.wait_until(lambda: desk.wait_for_icon().kind != "clock", 10, 0.5)
                icon = desk.wait_for_icon()
            desk.show_tooltip(icon)
            shot = os.path.join(build_dir, "tolvaran-tray.png")
            width, height = desk.size
            desk.save_png(shot, (width - 400, height - 160, width, height))
            print(shot, flush=True)
            menu = desk.open_menu(icon)
            desk.click(*menu.items[-1])
            status = proc.wait(15)
    except KeyboardInterrupt:
        harness.log("stopping")
    finally:
        # A second Ctrl-C must not cut the clean-up short.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        desk.stop()
        if wrote_ini:
            os.remove(ini)
    return status


if __name__ == "__main__":
    sys.exit(main())
