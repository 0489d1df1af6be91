"""Drives the real Tolvaran.exe under Wine on a private X display.

A Desktop is an Xvfb of its own showing one Wine virtual desktop (with its
taskbar, which holds the tray), run by a wineserver of its own in the build's
desktop prefix (BUILD_DIR/wineprefix-desktop, made once by
scripts/wine-prefix). Everything it starts it stops again, by process id and
with `wineserver -k` for its own prefix.

    with Desktop(build_dir) as desk:
        run = desk.stage("case1", server="127.0.0.3", user="three",
                         password="threepass")
        proc = desk.start_program(run)
        icon = desk.wait_for_icon("new_mail")
        menu = desk.open_menu(icon)
        desk.click(*menu.items[-1])          # "終了"
        assert proc.wait(10) == 0

Pictures come from ImageMagick's `import`; mouse and keys from xdotool.
Only the Python standard library is used.
"""

import base64
import contextlib
import ctypes
import fcntl
import glob
import os
import pwd
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCRIPTS = os.path.join(ROOT, "scripts")
POP3SERVERS = os.path.join(ROOT, "tests", "pop3servers")

DESKTOP_SIZE = (800, 600)

# The clock's colours in the 16-colour palette the icons use.
YELLOW = (255, 255, 0)
RED = (255, 0, 0)
BLUE = (0, 0, 255)
MAROON = (128, 0, 0)
OLIVE = (128, 128, 0)
ICON_COLOURS = (YELLOW, RED, BLUE, MAROON, OLIVE)


# One factor for every wait of the harness and of the tests that use it,
# from TOLVARAN_WAIT_FACTOR: 1 natively, more on an emulated machine
# (scripts/test-in-guest), where everything takes several times as long.
# It lengthens how long a test waits for something, never what it asserts.
WAIT_FACTOR = float(os.environ.get("TOLVARAN_WAIT_FACTOR") or 1)


def patience(seconds):
    """A wait of so many seconds on a native machine, as long as it is here."""
    return seconds * WAIT_FACTOR


def log(*args):
    print("[e2e %s]" % time.strftime("%H:%M:%S"), *args, flush=True)


def wait_until(predicate, timeout, interval=0.1):
    """Polls predicate until it returns something true, for timeout seconds
    (times WAIT_FACTOR); returns that or None."""
    deadline = time.monotonic() + patience(timeout)
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


def read_if_there(path):
    """The bytes of a file, or None while it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def windows_path(path):
    """The Wine path (drive Z:) of a Linux path."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def login_name():
    """The name Wine gives as the Windows login name: the Linux user's."""
    return pwd.getpwuid(os.getuid()).pw_name


def ini_text(section, server="", user="", password=b"", program="", parameters="",
             minutes=1, notify=None):
    """Tolvaran.ini bytes (code page 932, CRLF) for one login name; notify,
    when given, is written as MAIL_NOTIFY."""
    if isinstance(password, str):
        password = password.encode("cp932")
    lines = [
        "[%s]" % section,
        "MAIL_SERV=%s" % server,
        "MAIL_USER=%s" % user,
        "MAIL_PASS=%s" % base64.b64encode(password).decode("ascii"),
        "MAIL_APPA=%s" % program,
        "MAIL_APPP=%s" % parameters,
        "MAIL_TIME=%d" % minutes,
    ] + ([] if notify is None else ["MAIL_NOTIFY=%d" % notify])
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


class Image:
    """An RGB screenshot."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    @staticmethod
    def from_ppm(raw):
        # P6 header: magic, width, height, maxval, each followed by blanks.
        fields = []
        pos = 0
        while len(fields) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            start = pos
            while not raw[pos:pos + 1].isspace():
                pos += 1
            fields.append(raw[start:pos])
        pos += 1
        if fields[0] != b"P6" or fields[3] != b"255":
            raise ValueError("unexpected screenshot format %r" % fields)
        width, height = int(fields[1]), int(fields[2])
        return Image(width, height, raw[pos:pos + width * height * 3])

    def differs(self, other, box, unless=None):
        """Bounding box (x0, y0, x1, y1) of the pixels in box that differ, or
        None; a pixel that is the colour unless (r, g, b) here is left out."""
        x0, y0, x1, y1 = box
        unless = bytes(unless) if unless else None
        found = None
        for y in range(y0, y1):
            row = (y * self.width) * 3
            a = self.data[row + x0 * 3:row + x1 * 3]
            b = other.data[row + x0 * 3:row + x1 * 3]
            if a == b:
                continue
            for x in range(x0, x1):
                i = (x - x0) * 3
                if a[i:i + 3] != b[i:i + 3] and a[i:i + 3] != unless:
                    if found is None:
                        found = [x, y, x + 1, y + 1]
                    else:
                        found[0] = min(found[0], x)
                        found[1] = min(found[1], y)
                        found[2] = max(found[2], x + 1)
                        found[3] = max(found[3], y + 1)
        return tuple(found) if found else None


def crop(image, box):
    """The pixels of box (x0, y0, x1, y1) of an image, row after row."""
    x0, y0, x1, y1 = box
    return b"".join(image.data[(y * image.width + x0) * 3:(y * image.width + x1) * 3]
                    for y in range(y0, y1))


def write_png(path, image):
    """Writes an Image as an RGB PNG, with nothing beyond the standard library."""
    def chunk(kind, data):
        body = kind + data
        return len(data).to_bytes(4, "big") + body + zlib.crc32(body).to_bytes(4, "big")
    stride = image.width * 3
    rows = b"".join(b"\0" + image.data[y * stride:(y + 1) * stride] for y in range(image.height))
    header = image.width.to_bytes(4, "big") + image.height.to_bytes(4, "big") + bytes([8, 2, 0, 0, 0])
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows))
                + chunk(b"IEND", b""))


class TrayIcon:
    """One icon found in the tray: its box, colour counts and kind."""

    def __init__(self, box, counts):
        self.box = box
        self.counts = counts
        yellow, red, blue = counts[YELLOW], counts[RED], counts[BLUE]
        if yellow and red:
            self.kind = "check_error"
        elif yellow and blue:
            self.kind = "auth_error"
        elif yellow:
            self.kind = "clock"  # IDI_APP and IDI_NO_MAIL are the same picture
        elif red:
            self.kind = "new_mail"
        else:
            self.kind = "unknown"

    @property
    def centre(self):
        x0, y0, x1, y1 = self.box
        return ((x0 + x1) // 2, (y0 + y1) // 2)

    def __repr__(self):
        return "TrayIcon(%s at %s)" % (self.kind, self.box)


class Menu:
    """A pop-up menu found on screen: its box, the centres of its text
    entries from top to bottom, and the number of separators."""

    def __init__(self, box, items, separators):
        self.box, self.items, self.separators = box, items, separators

    def __repr__(self):
        return "Menu(box=%s, items=%s, separators=%d)" % (self.box, self.items, self.separators)


def find_tray_icons(image, taskbar_rows=32):
    """The icons in the right part of the taskbar, left to right."""
    y0 = max(0, image.height - taskbar_rows)
    x0 = image.width // 2
    columns = {}
    for y in range(y0, image.height):
        for x in range(x0, image.width):
            colour = image.pixel(x, y)
            if colour in ICON_COLOURS:
                columns.setdefault(x, []).append((y, colour))
    icons = []
    group = []
    for x in sorted(columns):
        if group and x - group[-1] > 3:
            icons.append(group)
            group = []
        group.append(x)
    if group:
        icons.append(group)
    found = []
    for xs in icons:
        counts = {c: 0 for c in ICON_COLOURS}
        ys = []
        for x in xs:
            for y, colour in columns[x]:
                counts[colour] += 1
                ys.append(y)
        if sum(counts.values()) < 12:
            continue  # a stray pixel, not an icon
        found.append(TrayIcon((xs[0], min(ys), xs[-1] + 1, max(ys) + 1), counts))
    return found


def find_menu(before, after, below_y):
    """The menu that appeared between two screenshots above row below_y."""
    # What appeared, not what went: a notice or tooltip that the click took
    # away leaves the desktop's colour (its top left corner) behind.
    box = after.differs(before, (0, 0, after.width, below_y), after.pixel(0, 0))
    if box is None:
        return None
    x0, y0, x1, y1 = box
    if x1 - x0 < 40 or y1 - y0 < 30:
        return None
    # Each row inside the border is text (dark pixels), a separator (a long
    # grey line) or blank; runs of text rows are the entries.
    kinds = []
    for y in range(y0 + 2, y1 - 2):
        dark = grey_run = best_run = 0
        for x in range(x0 + 3, x1 - 3):
            r, g, b = after.pixel(x, y)
            if r < 90 and g < 90 and b < 90:
                dark += 1
            if 100 <= r <= 170 and abs(r - g) < 10 and abs(r - b) < 10:
                grey_run += 1
                best_run = max(best_run, grey_run)
            else:
                grey_run = 0
        if best_run > (x1 - x0) * 0.6:
            kinds.append("separator")
        else:
            kinds.append("text" if dark else "blank")
    # A row or two without dark pixels inside one entry's text (a thin
    # stroke drawn grey by anti-aliasing, at larger scales) is still text.
    for i in range(1, len(kinds) - 1):
        if kinds[i] == "blank" and kinds[i - 1] == "text" and "text" in kinds[i + 1:i + 3]:
            kinds[i] = "text"
    items = []
    separators = 0
    run_start = None
    for i, kind in enumerate(kinds + ["blank"]):
        previous = kinds[i - 1] if i > 0 else "blank"
        if kind == "separator" and previous != "separator":
            separators += 1
        if kind == "text" and previous != "text":
            run_start = i
        if kind != "text" and previous == "text":
            items.append(((x0 + x1) // 2, y0 + 2 + (run_start + i - 1) // 2))
    return Menu(box, items, separators)


class Pop3Stub:
    """A scripted POP3 server on address:110 in a thread of this process.

    mode "silent": accepts and never says a word (a hanging check);
    "count": greets, accepts any USER and PASS and answers STAT with count;
    it has no UIDL or TOP (-ERR), so a notice gives the count only, unless
    headers (one bytes string per message, oldest first) are given: then
    UIDL lists the messages and TOP n 0 answers message n's header;
    "badpass": as "count" but refuses every PASS.
    delay: seconds the server waits before each reply, the greeting too.
    """

    def __init__(self, address, mode="count", count=0, delay=0, headers=None):
        self.mode, self.count, self.delay = mode, count, delay
        self.headers = headers
        self.accepted = 0  # connections taken
        self.finished = 0  # sessions ended by QUIT
        self.connections = []
        self.lock = threading.Lock()
        self.stopping = False
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind((address, 110))
        self.listener.listen(128)
        self.listener.settimeout(0.2)
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.stopping:
            try:
                conn, _ = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            with self.lock:
                self.accepted += 1
                self.connections.append(conn)
            if self.mode != "silent":
                threading.Thread(target=self._talk, args=(conn,), daemon=True).start()

    def _reply(self, conn, text):
        if self.delay:
            time.sleep(self.delay)
        conn.sendall(text)

    def _talk(self, conn):
        try:
            self._reply(conn, b"+OK stub ready\r\n")
            pending = b""
            while True:
                data = conn.recv(4096)
                if not data:
                    return
                pending += data
                while b"\r\n" in pending:
                    line, pending = pending.split(b"\r\n", 1)
                    word = line.split(b" ", 1)[0].upper()
                    if word == b"PASS" and self.mode == "badpass":
                        self._reply(conn, b"-ERR refused\r\n")
                    elif word == b"STAT":
                        self._reply(conn, b"+OK %d %d\r\n" % (self.count, 100 * self.count))
                    elif word == b"UIDL" and self.headers:
                        self._reply(conn, b"+OK\r\n" + b"".join(
                            b"%d stub-%d\r\n" % (n, n) for n in range(1, len(self.headers) + 1))
                            + b".\r\n")
                    elif word == b"TOP" and self.headers:
                        number = int(line.split(b" ")[1])
                        self._reply(conn, b"+OK\r\n" + self.headers[number - 1] + b"\r\n.\r\n")
                    elif word in (b"UIDL", b"TOP"):
                        self._reply(conn, b"-ERR not here\r\n")
                    elif word == b"QUIT":
                        self._reply(conn, b"+OK bye\r\n")
                        with self.lock:
                            self.finished += 1
                        return
                    else:
                        self._reply(conn, b"+OK\r\n")
        except OSError:
            pass
        finally:
            conn.close()

    def close(self):
        self.stopping = True
        self.thread.join()
        self.listener.close()
        with self.lock:
            for conn in self.connections:
                conn.close()


def _query_pointer(x11, display, window):
    """XQueryPointer on window: the pointer's place on the screen and the
    child of window under it (0 when none, or the pointer is elsewhere)."""
    root, child = ctypes.c_ulong(), ctypes.c_ulong()
    x, y, wx, wy, mask = (ctypes.c_int() for _ in range(5))
    if not x11.XQueryPointer(display, ctypes.c_ulong(window), ctypes.byref(root), ctypes.byref(child),
                             ctypes.byref(x), ctypes.byref(y), ctypes.byref(wx), ctypes.byref(wy),
                             ctypes.byref(mask)):
        return x.value, y.value, 0
    return x.value, y.value, child.value


class Desktop:
    """A private X display with a Wine virtual desktop and its own wineserver."""

    def __init__(self, build_dir, size=None, display=None, dpi=96):
        """display: an X display to use instead of a private Xvfb; dpi: the
        display scale the prefix reports while this desktop runs (144 for
        150 %), set back to 96 when it stops. The size is DESKTOP_SIZE at
        that scale unless given."""
        self.build_dir = os.path.abspath(build_dir)
        self.size = size or tuple(n * dpi // 96 for n in DESKTOP_SIZE)
        self.dpi = dpi
        self.prefix = os.path.join(self.build_dir, "wineprefix-desktop")
        self.scratch = None
        self.xvfb = None
        self.display = display
        self.env = None
        self.lock_file = None
        self.processes = []
        self.servers = []
        self.stubs = []
        self.seen = {}  # label -> the last screenshot read under it

    # ---- life cycle ----

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        os.makedirs(self.build_dir, exist_ok=True)
        # One user of the desktop prefix at a time: its wineserver and its
        # single-instance guard are shared by everything run in it.
        self.lock_file = open(self.prefix + ".lock", "w")
        try:
            fcntl.flock(self.lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            log("waiting for the other user of %s to finish" % self.prefix)
            fcntl.flock(self.lock_file, fcntl.LOCK_EX)
        # Searchable by others: the test mail servers read their files as nobody.
        self.scratch = tempfile.mkdtemp(prefix="tolvaran-e2e-", dir=self.build_dir)
        os.chmod(self.scratch, 0o755)
        if self.display is None:
            self._start_xvfb()
        self.env = self._wine_environment()
        made = subprocess.run([os.path.join(SCRIPTS, "wine-prefix"), self.build_dir],
                              env=self.env, stdin=subprocess.DEVNULL, capture_output=True,
                              text=True)
        if made.returncode != 0:
            raise RuntimeError("the desktop Wine prefix could not be made:\n" + made.stderr)
        # Every desktop states its scale and size, so that one left behind by a run
        # that was killed cannot reach the next. The Wine processes the
        # setting starts (the desktop's explorer among them) may have read
        # the old one: they end with that wineserver.
        self._set_dpi(self.dpi, self.size)
        self._end_wineserver()
        # The wineserver is started here, not by the first program, so that no
        # Wine process holds the caller's output pipes.
        subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)

    def stop(self):
        for proc in self.processes:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.processes = []
        for stopper, directory in reversed(self.servers):
            subprocess.run([stopper, directory], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.servers = []
        for stub in self.stubs:
            stub.close()
        self.stubs = []
        if self.env is not None:
            if (self.dpi, self.size) != (96, DESKTOP_SIZE):
                try:
                    self._set_dpi(96, DESKTOP_SIZE)
                except RuntimeError as e:
                    log(e)
            self._end_wineserver()
            self.env = None
        if self.xvfb is not None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(patience(5))
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None
        if self.scratch and not os.environ.get("TOLVARAN_E2E_KEEP"):
            shutil.rmtree(self.scratch, ignore_errors=True)
        if self.lock_file is not None:
            self.lock_file.close()
            self.lock_file = None

    def _start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            # -noreset: the keys bound by bind_keys stay when the last
            # client leaves.
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset", "-screen", "0",
             "%dx%dx24" % self.size],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.display = ":" + number.decode().strip()

    def _end_wineserver(self):
        """Ends the prefix's wineserver and every Wine process in it."""
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _set_dpi(self, dpi, size):
        """The display scale of the prefix (Wine's LogPixels) and the size of
        its virtual desktop; programs read them when they start."""
        for key, name, kind, value in (
                ("HKCU\\Control Panel\\Desktop", "LogPixels", "REG_DWORD", str(dpi)),
                ("HKCU\\Software\\Wine\\Explorer\\Desktops", "Default", "REG_SZ",
                 "%dx%d" % size)):
            # Output through a file: the Wine services the first program of
            # the prefix starts would hold a pipe open.
            with tempfile.TemporaryFile() as out:
                done = subprocess.run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d",
                                       value, "/f"], env=self.env, stdin=subprocess.DEVNULL,
                                      stdout=out, stderr=subprocess.STDOUT)
                if done.returncode != 0:
                    out.seek(0)
                    raise RuntimeError("setting %s to %s failed: %s"
                                       % (name, value, out.read().decode(errors="replace")))

    def _wine_environment(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env["BUILD_DIR"] = self.build_dir
        env["WINEPREFIX"] = self.prefix
        env["TOLVARAN_DESKTOP"] = "%dx%d" % self.size
        out = subprocess.run(
            ["bash", "-c", '. "$1" && env -0', "bash", os.path.join(SCRIPTS, "wine-env")],
            env=env, check=True, capture_output=True).stdout
        result = {}
        for item in out.split(b"\0"):
            if b"=" in item:
                key, value = item.split(b"=", 1)
                result[key.decode()] = value.decode()
        return result

    # ---- programs ----

    def start_program(self, exe, *args, cwd=None):
        """Starts a Windows program; returns its Popen (the exit code is the
        program's). What it and Wine print goes to a log of its own in the
        scratch folder (a file: Wine's services would hold a pipe open),
        which describe() reads back."""
        logs = os.path.join(self.scratch, "logs")
        os.makedirs(logs, exist_ok=True)
        path = os.path.join(logs, "%02d-%s.log" % (len(self.processes) + 1, os.path.basename(exe)))
        # Wine's own errors go to the log too: a program that Wine ends
        # without a word otherwise leaves nothing to tell why.
        env = dict(self.env, WINEDEBUG="-all,err+all")
        with open(path, "wb") as out:
            proc = subprocess.Popen(["wine", exe] + list(args), env=env, cwd=cwd,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        proc.log_path = path
        self.processes.append(proc)
        return proc

    @staticmethod
    def describe(proc, lines=15):
        """The program, its exit code and the last lines it and Wine printed."""
        code = proc.poll()
        try:
            with open(proc.log_path, "rb") as f:
                tail = f.read().decode("utf-8", "replace").splitlines()[-lines:]
        except OSError as e:
            tail = ["(no log: %s)" % e]
        return "%s %s, exit code %s; its last output:\n    %s" % (
            os.path.basename(proc.args[1]), " ".join(proc.args[2:]),
            "still running" if code is None else "%d (0x%08x)" % (code, code & 0xFFFFFFFF),
            "\n    ".join(tail) or "(nothing)")

    def stop_programs(self):
        """Ends the programs started so far that still run, and waits for
        their tray icons to go: a test that failed half-way must not leave
        its program to the next (one instance at a time, one icon)."""
        running = [proc for proc in self.processes if proc.poll() is None]
        for proc in running:
            proc.kill()
            proc.wait()
        if running and not self.wait_for_no_icon():
            raise RuntimeError("a killed program's tray icon stayed")

    def wine_processes(self, name):
        """The pids of this desktop's Wine processes whose command line holds name."""
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open("/proc/%s/cmdline" % entry, "rb") as f:
                    command = f.read()
                with open("/proc/%s/environ" % entry, "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                continue  # gone meanwhile, or not ours to read
            if name.encode() in command and ("WINEPREFIX=" + self.prefix).encode() in environ:
                found.append(int(entry))
        return found

    def run_program(self, exe, *args, timeout=30, expect=(0,)):
        """Runs a Windows program to its end; returns its exit code. An exit
        code not in expect, or no end within the time, fails loudly with
        what the program and Wine printed."""
        proc = self.start_program(exe, *args)
        try:
            code = proc.wait(patience(timeout))
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise AssertionError("no end within %s s: %s" % (patience(timeout), self.describe(proc)))
        if code not in expect:
            raise AssertionError("a helper program failed: " + self.describe(proc))
        return code

    def run_helper(self, exe, out, *args, expect=(0,)):
        """Runs a test helper that writes what it finds to the file out, its
        first line before anything else; returns the file's bytes. A helper
        that ends without the file never reached its main: the failure says
        so, with what Wine printed."""
        if os.path.exists(out):
            os.remove(out)
        self.run_program(exe, *args, expect=expect)
        text = read_if_there(out)
        if text is None:
            raise AssertionError("%s ended before its first line, so Wine never ran its main: %s"
                                 % (os.path.basename(exe), self.describe(self.processes[-1])))
        return text

    def output_of(self, exe, *args, timeout=60):
        """Runs a Windows console program to its end; returns (exit code, stdout)."""
        proc = subprocess.run(["wine", exe] + list(args), env=self.env, timeout=patience(timeout),
                              stdin=subprocess.DEVNULL, capture_output=True, text=True)
        return proc.returncode, proc.stdout

    def stage(self, name, ini=None, **settings):
        """A folder with a copy of Tolvaran.exe and, unless ini is False, its
        Tolvaran.ini (bytes, or made from settings for the login name)."""
        folder = os.path.join(self.scratch, name)
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "Tolvaran.exe")
        shutil.copyfile(os.path.join(self.build_dir, "Tolvaran.exe"), exe)
        if ini is not False:
            if ini is None:
                ini = ini_text(login_name(), **settings)
            with open(os.path.join(folder, "Tolvaran.ini"), "wb") as f:
                f.write(ini)
        return exe

    def start_dovecot(self, address, name="dovecot", env=None):
        """A private Dovecot on address:110, stopped with the desktop; returns its folder.
        env adds to dovecot-start's environment (its TLS listener, say)."""
        directory = os.path.join(self.scratch, name)
        subprocess.run([os.path.join(POP3SERVERS, "dovecot-start"), address, directory],
                       check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, **(env or {})))
        self.servers.append((os.path.join(POP3SERVERS, "dovecot-stop"), directory))
        return directory

    def start_pop3_stub(self, address, mode="count", count=0, delay=0, headers=None):
        """A Pop3Stub on address:110, closed with the desktop."""
        stub = Pop3Stub(address, mode, count, delay, headers)
        self.stubs.append(stub)
        return stub

    # ---- the screen ----

    def xdotool(self, *args):
        subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def output_of_xdotool(self, *args):
        """What xdotool prints (empty when it finds nothing)."""
        return subprocess.run(["xdotool"] + [str(a) for a in args], env=self.env,
                              capture_output=True, text=True).stdout.strip()

    @contextlib.contextmanager
    def _x_display(self):
        """Xlib (through ctypes) and a connection to this desktop's display,
        closed again afterwards."""
        x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        display = ctypes.c_void_p(x11.XOpenDisplay(self.display.encode()))
        if not display:
            raise RuntimeError("cannot open the X display %s" % self.display)
        try:
            yield x11, display
        finally:
            x11.XCloseDisplay(display)

    def bind_keys(self, text):
        """Gives every character of text beyond ASCII a key of its own in the
        display's keyboard map, once, before anything is typed. Otherwise
        xdotool binds such a character to a spare key, presses it and unbinds
        it again at once; Wine reads the map only when it gets to the first
        change, so under load it finds the key unbound again and the
        character (or a modifier's state) is lost."""
        with self._x_display() as (x11, display):
            x11.XGetKeyboardMapping.restype = ctypes.POINTER(ctypes.c_ulong)
            low, high, per = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
            x11.XDisplayKeycodes(display, ctypes.byref(low), ctypes.byref(high))
            count = high.value - low.value + 1
            symbols = x11.XGetKeyboardMapping(display, ctypes.c_ubyte(low.value), count,
                                              ctypes.byref(per))
            table = [tuple(symbols[i * per.value + j] for j in range(per.value)) for i in range(count)]
            x11.XFree(symbols)
            bound = {ks for row in table for ks in row}
            # The lowest code is left alone: servers keep it out of use.
            free = [low.value + i for i in range(1, count) if not any(table[i])]
            for char in sorted(set(c for c in text if ord(c) > 0x7E)):
                keysym = 0x1000000 + ord(char)
                if keysym in bound:
                    continue
                if not free:
                    raise RuntimeError("no spare key left for %r" % char)
                pair = (ctypes.c_ulong * 2)(keysym, keysym)
                x11.XChangeKeyboardMapping(display, free.pop(0), 2, pair, 1)
            x11.XSync(display, 0)

    def windows_named(self, name, timeout=15):
        """The viewable X windows whose name is exactly name.

        Wine names an X window when it creates it but maps it later, and X
        refuses focus and input to a window that is not viewable (BadMatch).
        So this waits, up to timeout seconds, until one is mapped, and
        raises if none is; timeout=0 only looks, for a window that should
        be gone."""
        return self._viewable_windows("^%s$" % name, timeout)

    def _viewable_windows(self, pattern, timeout):
        found = wait_until(lambda: self.output_of_xdotool(
            "search", "--onlyvisible", "--name", pattern).split(), timeout, 0.1)
        if timeout and not found:
            raise AssertionError("no viewable X window named %r after %s s" % (pattern, timeout))
        return found or []

    def window_box(self, window):
        """The box (x0, y0, x1, y1) of an X window on the screen."""
        info = subprocess.run(["xwininfo", "-id", window], env=self.env, capture_output=True,
                              text=True, check=True).stdout
        fields = dict(line.strip().split(": ", 1) for line in info.splitlines() if ": " in line)
        left, top = int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"])
        return (left, top, left + int(fields["Width"]), top + int(fields["Height"]))

    def screenshot(self, label=None):
        """The screen now. The last one read, and those given a label (the
        "before" and "after" of a comparison), are kept for keep_evidence."""
        raw = subprocess.run(["import", "-silent", "-window", "root", "-depth", "8", "ppm:-"],
                             env=self.env, check=True, capture_output=True).stdout
        image = Image.from_ppm(raw)
        self.seen["last read"] = image
        if label:
            self.seen[label] = image
        return image

    def keep_evidence(self, name):
        """Writes the screenshots kept since forget_evidence() into the
        build folder's e2e-evidence/; returns their paths."""
        folder = os.path.join(self.build_dir, "e2e-evidence")
        os.makedirs(folder, exist_ok=True)
        paths = []
        for label, image in self.seen.items():
            path = os.path.join(folder, "%s-%s.png" % (name, label.replace(" ", "-")))
            write_png(path, image)
            paths.append(path)
        return paths

    def forget_evidence(self):
        self.seen = {}

    def save_png(self, path, crop=None):
        """Saves the screen (or the crop box x0, y0, x1, y1 of it) as a PNG."""
        args = ["import", "-silent", "-window", "root"]
        if crop:
            x0, y0, x1, y1 = crop
            args += ["-crop", "%dx%d+%d+%d" % (x1 - x0, y1 - y0, x0, y0), "+repage"]
        subprocess.run(args + ["-strip", "png:" + path], env=self.env, check=True)

    def scaled(self, pixels):
        """A length in pixels at 100 % as it is at this desktop's scale."""
        return pixels * self.dpi // 96

    def tray_icons(self):
        return find_tray_icons(self.screenshot(), self.scaled(32))

    def wait_for_taskbar(self, timeout=30):
        """The virtual desktop comes up with the first program that makes a
        window; waits for its taskbar (pixels unlike the desktop at the bottom)."""
        def taskbar():
            shot = self.screenshot()
            return shot.pixel(shot.width - 2, shot.height - 4) != shot.pixel(
                shot.width // 2, shot.height // 2)
        if not wait_until(taskbar, timeout):
            raise RuntimeError("no Wine desktop taskbar on %s" % self.display)

    def wait_for_icon(self, kind=None, timeout=30, count=1):
        """Waits until the tray holds count icons and the last is of this kind."""
        def ready():
            icons = self.tray_icons()
            if len(icons) == count and (kind is None or icons[-1].kind == kind):
                return icons
            return None
        icons = wait_until(ready, timeout, 0.2)
        if icons is None:
            raise AssertionError("tray never showed %d icon(s) of kind %s; shows %s"
                                 % (count, kind, self.tray_icons()))
        return icons[-1]

    def wait_for_no_icon(self, timeout=15):
        return wait_until(lambda: not self.tray_icons(), timeout, 0.2) is not None

    def windows_under_pointer(self):
        """The X windows under the pointer, from the root's child down."""
        with self._x_display() as (x11, display):
            found = []
            window = x11.XDefaultRootWindow(display)
            while True:
                _, _, window = _query_pointer(x11, display, window)
                if not window:
                    return found
                found.append(window)

    def click_in(self, window, x, y):
        """Clicks at (x, y) once the X window window is what lies there: a
        menu that was just chosen from, or a window just raised, may still
        stand in its way for a moment."""
        self.move(x, y)
        if not wait_until(lambda: int(window) in self.windows_under_pointer(), 10, 0.1):
            raise AssertionError("X window %s never came under the pointer at %d,%d"
                                 % (window, x, y))
        self.xdotool("click", 1)

    def pointer(self):
        """Where the pointer is. Asked of the root window alone: xdotool's
        getmouselocation also looks up the window under the pointer, and
        fails when that window is being destroyed (a program just ending)."""
        with self._x_display() as (x11, display):
            x, y, _ = _query_pointer(x11, display, x11.XDefaultRootWindow(display))
            return x, y

    def move(self, x, y):
        # --sync waits for the pointer to move, which it never does when it
        # is there already.
        if self.pointer() != (x, y):
            self.xdotool("mousemove", "--sync", x, y)

    def click(self, x, y, button=1):
        self.move(x, y)
        self.xdotool("click", button)

    def double_click(self, x, y):
        self.move(x, y)
        self.xdotool("click", "--repeat", 2, "--delay", 80, 1)

    def park_mouse(self):
        """Moves the pointer to the middle of the desktop, away from the tray."""
        self.move(self.size[0] // 2, self.size[1] // 3)

    def focus_desktop(self):
        """Gives the keyboard to the Wine desktop window (before typing)."""
        self.xdotool("windowfocus", "--sync", self._viewable_windows("Wine desktop", 15)[0])

    def type_text(self, text):
        self.focus_desktop()
        # Slower machines get the same time per character, scaled; a
        # character beyond ASCII wants a key of its own first (bind_keys).
        self.xdotool("type", "--delay", int(patience(30)), text)

    def key(self, *keys):
        self.focus_desktop()
        self.xdotool("key", *keys)

    def read_still(self, read, timeout, label):
        """What read(screenshot) finds on the screen (a thing with a box, or a
        box), once two screenshots in a row agree on it, its pixels
        included: a window still being drawn, or going, is never read. The
        shot it was read from is kept as label."""
        last = [None, None]

        def steady():
            shot = self.screenshot()
            value = read(shot)
            previous, previous_shot = last
            last[:] = [value, shot]
            if not value or previous is None or repr(value) != repr(previous):
                return None
            box = getattr(value, "box", value)
            if crop(shot, box) != crop(previous_shot, box):
                return None
            self.seen[label] = shot
            return value
        return wait_until(steady, timeout, 0.2)

    def open_menu(self, icon, timeout=10):
        """Right-clicks the icon and returns the menu that opens, read when it
        stands still. Nothing may pop up over it meanwhile: a test that opens
        the menu after new mail runs with notices off, or waits for its
        notice to go (wait_for_popup_gone)."""
        self.park_mouse()
        # The X focus must rest on the Wine desktop first. After a window
        # that held it (the settings dialog) is destroyed, the X server
        # moves the focus on its own; if Wine hears of that while the menu
        # is tracking, it cancels the menu at once and it is never seen.
        self.focus_desktop()
        time.sleep(patience(0.3))
        before = self.screenshot("menu before")
        self.click(*icon.centre, button=3)
        # Off the icon at once, or its tooltip comes up over the menu.
        self.park_mouse()
        top_of_icon = icon.box[1] - 1

        def menu(shot):
            found = find_menu(before, shot, top_of_icon)
            return found if found and found.items else None
        found = self.read_still(menu, timeout, "menu read")
        if found is None:
            raise AssertionError("no menu stood still after a right click at %s" % (icon.centre,))
        return found

    def exit_through_menu(self, proc, timeout=15):
        """Chooses the menu's last entry ("終了") on the tray icon; returns the
        menu seen and the program's exit code."""
        menu = self.open_menu(self.wait_for_icon())
        self.click(*menu.items[-1])
        try:
            return menu, proc.wait(patience(timeout))
        except subprocess.TimeoutExpired:
            self.screenshot("after the click on exit")
            raise AssertionError("the program did not end within %s s of the click on %s: %s"
                                 % (patience(timeout), menu.items[-1], self.describe(proc)))

    def read_notice(self, probe):
        """The text of the notice the shell shows, read back by the probe
        (tests/app/notice_probe.cpp), and the notice closed by a click on it,
        so that what follows finds a still screen: a balloon that comes or
        goes over the menu confuses the menu's search."""
        code, out = self.output_of(probe, "30")
        if code != 0:
            raise AssertionError("no notice could be read back")
        shown = dict(line.split("=", 1) for line in out.split())
        left, top, right, bottom = (int(v) for v in shown["box"].split(","))
        self.click((left + right) // 2, (top + bottom) // 2)
        if not wait_until(lambda: self.output_of(probe, "0")[0] == 1, 20):
            raise AssertionError("the notice stayed after a click")
        return bytes.fromhex(shown["text"]).decode("utf-8")

    def wait_for_popup(self, before, icon, timeout=10):
        """The box of what appeared above the icon since the screenshot
        before, once it stands still."""
        area = (0, 0, before.width, icon.box[1] - 1)
        return self.read_still(lambda shot: before.differs(shot, area), timeout, "popup read")

    def wait_for_popup_gone(self, before, icon, timeout=30):
        """Waits until the screen above the icon is as it was in before (a
        notice has timed out); returns whether it came back."""
        area = (0, 0, before.width, icon.box[1] - 1)
        return wait_until(lambda: before.differs(self.screenshot(), area) is None, timeout, 0.5) is not None

    def show_tooltip(self, icon, timeout=10):
        """Rests the pointer on the icon; returns the box of the tooltip that appears."""
        self.park_mouse()
        time.sleep(patience(0.3))
        before = self.screenshot("tooltip before")
        x, y = icon.centre
        self.move(x - 1, y)
        self.move(x, y)
        box = self.wait_for_popup(before, icon, timeout)
        if box is None:
            raise AssertionError("no tooltip appeared over the icon at %s" % (icon.centre,))
        return box


class FailureEvidence:
    """For a unittest.TestCase whose class keeps its Desktop in desk: a
    failing test writes the screenshots it read (before, after, the last
    one) into the build folder and names them, with the last output of
    the programs it started, in its failure message."""

    def run(self, result=None):
        if result is None:
            return super().run(result)
        counted = len(result.failures) + len(result.errors)
        started = len(self.desk.processes) if self.desk else 0
        if self.desk:
            self.desk.forget_evidence()
        super().run(result)
        if self.desk is None or len(result.failures) + len(result.errors) == counted:
            return result
        extra = "\nScreenshots kept:\n  " + "\n  ".join(
            self.desk.keep_evidence(self.id().split(".")[-1]) or ["(none were read)"])
        for proc in self.desk.processes[started:]:
            extra += "\n" + self.desk.describe(proc)
        for failures in (result.failures, result.errors):
            if failures and failures[-1][0] is self:
                failures[-1] = (self, failures[-1][1] + extra)
        return result


class Maildir:
    """The Maildir of one account of a private Dovecot (its folder from
    start_dovecot): messages delivered and marked seen as a mail program
    would, and the IDLE commands its IMAP sessions have sent."""

    def __init__(self, server_dir, user):
        self.home = os.path.join(server_dir, "home", user)
        self.path = os.path.join(self.home, "Maildir")
        owner = os.stat(self.path)
        self.ids = (owner.st_uid, owner.st_gid)
        self.delivered = 0

    def deliver(self, header=None):
        """Delivers one message (written in tmp/, then moved into new/), with
        the given header lines if any; returns its file name."""
        self.delivered += 1
        name = "%d.T%d.P%d.tolvaran" % (time.time(), self.delivered, os.getpid())
        temporary = os.path.join(self.path, "tmp", name)
        if header is None:
            header = "From: sender@tolvaran.test\nSubject: delivered %d\n" % self.delivered
        with open(temporary, "w") as f:
            f.write(header + "\nNew.\n")
        os.chown(temporary, *self.ids)
        os.rename(temporary, os.path.join(self.path, "new", name))
        return name

    def mark_seen(self, name):
        """Marks a message in new/ as read, as another mail program would."""
        os.rename(os.path.join(self.path, "new", name),
                  os.path.join(self.path, "cur", name + ":2,S"))

    def remove_delivered(self):
        """Takes out every message deliver() put in, read or not."""
        for folder in ("new", "cur"):
            for path in glob.glob(os.path.join(self.path, folder, "*.P%d.tolvaran*" % os.getpid())):
                os.remove(path)

    def commands(self):
        """Every command line the account's IMAP sessions have sent, session
        by session, without the log's time stamps."""
        sessions = []
        for log in sorted(glob.glob(os.path.join(self.home, "rawlog", "*.in"))):
            with open(log, "rb") as f:
                sessions.append([line.split(b" ", 1)[-1].decode("utf-8", "replace")
                                 for line in f.read().split(b"\r\n") if line])
        return sessions

    def idle_commands(self):
        """How many IDLE commands the account's IMAP sessions have sent."""
        count = 0
        for log in glob.glob(os.path.join(self.home, "rawlog", "*.in")):
            with open(log, "rb") as f:
                count += sum(1 for line in f.read().split(b"\r\n") if line.endswith(b" IDLE"))
        return count


def pop3_sessions_module():
    """tests/pop3servers/pop3-sessions as a module (sessions, wait_for)."""
    import importlib.machinery
    import importlib.util
    loader = importlib.machinery.SourceFileLoader(
        "pop3_sessions", os.path.join(POP3SERVERS, "pop3-sessions"))
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader(loader.name, loader))
    loader.exec_module(module)
    return module


if __name__ == "__main__":
    sys.exit("harness.py is a module; see tests/e2e/tray_e2e.py")
