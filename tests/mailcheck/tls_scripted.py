#!/usr/bin/env python3
"""The check run over TLS against scripted servers, one row a case.

    tls_scripted.py BUILD_DIR CHECK_PROBE CERT_DIR

Every row's server listens on 127.0.0.1:<its port> (11001 and up) and plays
its part with Python's ssl module over memory BIOs, so that it chooses how
its bytes go out. The check runs all go to "pop3s://localhost:<port>" at
once, from one run of check_probe under Wine. Each row checks the one
report, its status and text, and the plaintext the client sent inside TLS.
"""
import os
import re
import socket
import ssl
import subprocess
import sys
import threading
import time

CHECK_NEW_MAIL, CHECK_FAILED = 101, 102
NO_ANSWER = " サーバから応答がありません "
BAD_CERTIFICATE = " サーバの証明書を確認できません "
TLS_FAILED = " 暗号化通信を開始できません "
LOGIN = [b"+OK Tolvaran TLS test ready\r\n", b"USER alice\r\n", b"+OK\r\n", b"PASS secret\r\n",
         b"+OK logged in\r\n", b"stat\r\n", b"+OK 3 300\r\n"]
SESSION = LOGIN + [b"QUIT\r\n", b"+OK bye\r\n"]
CLOSE_NOTIFY = b"<close_notify>"
SESSION_SENT = b"USER alice\r\nPASS secret\r\nstat\r\nQUIT\r\n" + CLOSE_NOTIFY


class Peer:
    """One TLS server connection over memory BIOs: handshake, lines, records."""

    def __init__(self, conn, context, segment):
        self.conn, self.segment = conn, segment
        self.incoming, self.outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        self.tls = context.wrap_bio(self.incoming, self.outgoing, server_side=True)
        self.received = b""

    def flush(self):
        data = self.outgoing.read()
        step = self.segment or len(data) or 1
        for at in range(0, len(data), step):
            self.conn.sendall(data[at:at + step])

    def pull(self):
        data = self.conn.recv(65536)
        if not data:
            raise EOFError
        self.incoming.write(data)

    def handshake(self, flush_last=True):
        while True:
            try:
                self.tls.do_handshake()
                break
            except ssl.SSLWantReadError:
                self.flush()
                self.pull()
        if flush_last:
            self.flush()

    def send(self, line):
        self.tls.write(line)
        self.flush()

    def read_to(self, length):
        """Plaintext from the client until length bytes have come in all;
        its close_notify shows in received as CLOSE_NOTIFY."""
        while len(self.received) < length:
            try:
                data = self.tls.read(65536)
            except ssl.SSLWantReadError:
                self.pull()
                continue
            except ssl.SSLZeroReturnError:
                data = b""
            if not data:
                self.received += CLOSE_NOTIFY
                raise EOFError
            self.received += data

    def drain(self):
        """Everything else the client sends, up to its close."""
        try:
            while True:
                self.read_to(len(self.received) + 1)
        except (EOFError, ssl.SSLError, OSError):
            pass


def play_session(peer, lines, records=1):
    for i, line in enumerate(lines):
        if i % 2 == 0:
            # A reply in several records goes out in one segment.
            step = -(-len(line) // records)
            for at in range(0, len(line), step):
                peer.tls.write(line[at:at + step])
            peer.flush()
        else:
            peer.read_to(len(peer.received) + len(line))


def tls_row(cert, segment=None, greet_with_flight=False, end="close_notify", records=1, show_sni=False):
    def play(conn, contexts):
        peer = Peer(conn, contexts[cert], segment)
        try:
            peer.handshake(flush_last=not greet_with_flight)
            if show_sni and getattr(peer.tls, "sni", None) is not None:
                peer.received += b"<sni %s>" % peer.tls.sni.encode()
            if end == "drain":
                peer.drain()
                return peer.received
            play_session(peer, SESSION if end == "close_notify" else LOGIN, records)
            if end == "close_notify":
                peer.drain()
        except (EOFError, ssl.SSLError, OSError):
            pass
        return peer.received
    return play


def plain_row(conn, contexts):
    conn.sendall(b"+OK plain POP3 ready\r\n")
    drain_raw(conn)
    return b""


def close_mid_handshake(conn, contexts):
    peer = Peer(conn, contexts["good"], None)
    try:
        peer.tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    peer.pull()
    try:
        peer.tls.do_handshake()
    except ssl.SSLWantReadError:
        pass
    flight = peer.outgoing.read()
    conn.sendall(flight[:len(flight) // 2])
    return b""


def trickled_greeting(conn, contexts):
    """The handshake, then the greeting one byte a record, each within the
    time-out but the line past the session's deadline. Only the plaintext
    sent inside TLS counts (the close may cut the session anywhere)."""
    peer = Peer(conn, contexts["good"], None)
    try:
        peer.handshake()
        for byte in LOGIN[0]:
            peer.send(bytes([byte]))
            time.sleep(0.4)
    except (EOFError, ssl.SSLError, OSError):
        pass
    peer.drain()
    return peer.received.replace(CLOSE_NOTIFY, b"")


def silent_row(conn, contexts):
    drain_raw(conn)
    return b""


def drain_raw(conn):
    try:
        while conn.recv(65536):
            pass
    except OSError:
        pass


# name, play, timeout of the check run, status, text, plaintext the client
# sent[, host: "localhost" unless given]
ROWS = [
    ("certificate from an unknown CA", tls_row("unknownca", end="drain"), 10000, CHECK_FAILED, BAD_CERTIFICATE, CLOSE_NOTIFY),
    ("leaf without its intermediate", tls_row("partial", end="drain"), 10000, CHECK_FAILED, BAD_CERTIFICATE, CLOSE_NOTIFY),
    ("certificate for another name", tls_row("wrongname", end="drain"), 10000, CHECK_FAILED, BAD_CERTIFICATE, CLOSE_NOTIFY),
    ("expired certificate", tls_row("expired", end="drain"), 10000, CHECK_FAILED, BAD_CERTIFICATE, CLOSE_NOTIFY),
    ("self-signed certificate", tls_row("selfsigned", end="drain"), 10000, CHECK_FAILED, BAD_CERTIFICATE, CLOSE_NOTIFY),
    ("plain POP3 on the TLS port", plain_row, 10000, CHECK_FAILED, TLS_FAILED, b""),
    ("close in the middle of the handshake", close_mid_handshake, 10000, CHECK_FAILED, TLS_FAILED, b""),
    ("silence after the connect", silent_row, 400, CHECK_FAILED, NO_ANSWER, b""),
    ("greeting trickled past the deadline", trickled_greeting, 1000, CHECK_FAILED, NO_ANSWER, b""),
    ("greeting with the last handshake flight", tls_row("good", greet_with_flight=True), 10000, CHECK_NEW_MAIL,
     " 3 件の新着メールがあります ", SESSION_SENT),
    ("every record byte by byte", tls_row("good", segment=1), 10000, CHECK_NEW_MAIL,
     " 3 件の新着メールがあります ", SESSION_SENT),
    ("close without close_notify after STAT", tls_row("good", end="close"), 10000, CHECK_NEW_MAIL,
     " 3 件の新着メールがあります ", b"USER alice\r\nPASS secret\r\nstat\r\n"),
    ("server asks for an optional client certificate", tls_row("optional"), 10000, CHECK_NEW_MAIL,
     " 3 件の新着メールがあります ", SESSION_SENT),
    ("every reply in three records of one segment", tls_row("good", records=3), 10000, CHECK_NEW_MAIL,
     " 3 件の新着メールがあります ", SESSION_SENT),
    ("IPv4 address: no SNI, the certificate's IP entry", tls_row("ipaddr", show_sni=True), 10000, CHECK_NEW_MAIL,
     " 3 件の新着メールがあります ", SESSION_SENT, "127.0.0.1"),
    ("IPv4 address the certificate does not hold", tls_row("good", end="drain", show_sni=True), 10000,
     CHECK_FAILED, BAD_CERTIFICATE, CLOSE_NOTIFY, "127.0.0.1"),
]
FIRST_PORT = 11001


def note_sni(tls, name, context):
    tls.sni = name


def serve(listener, play, contexts, result):
    try:
        conn, _ = listener.accept()
    except OSError as e:
        result["error"] = "no client: %s" % e
        return
    with conn:
        conn.settimeout(20)
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        result["sent"] = play(conn, contexts)


def main():
    build_dir, probe, cert_dir = sys.argv[1:4]
    contexts = {}
    for name in ("good", "partial", "wrongname", "expired", "unknownca", "selfsigned", "ipaddr", "optional"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        pem = "good" if name == "optional" else name
        context.load_cert_chain(os.path.join(cert_dir, pem + ".pem"), os.path.join(cert_dir, pem + ".key"))
        context.sni_callback = note_sni
        contexts[name] = context
    # Asks for a client certificate and goes on without one.
    contexts["optional"].verify_mode = ssl.CERT_OPTIONAL
    contexts["optional"].load_verify_locations(os.path.join(cert_dir, "good.pem"))

    servers, args = [], []
    for i, (name, play, timeout_ms, *rest) in enumerate(ROWS):
        listener = socket.socket()
        listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        listener.bind(("127.0.0.1", FIRST_PORT + i))
        listener.listen(1)
        listener.settimeout(60)
        result = {}
        thread = threading.Thread(target=serve, args=(listener, play, contexts, result))
        thread.start()
        servers.append((listener, thread, result))
        host = rest[3] if len(rest) > 3 else "localhost"
        args += ["pop3s://%s:%d" % (host, FIRST_PORT + i), str(timeout_ms)]

    wine_exec = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wine-exec")
    run = subprocess.run([wine_exec, build_dir, probe, "alice", "secret"] + args,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    lines = [l for l in run.stdout.decode("latin-1").splitlines() if re.fullmatch(r"\d+ \d+ [0-9a-f]*", l)]
    for listener, thread, _ in servers:
        thread.join(30)
        listener.close()

    failures = 0
    if run.returncode != 0 or len(lines) != len(ROWS):
        print("check_probe failed (%d):\n%s" % (run.returncode, run.stdout.decode("latin-1")))
        return 1
    for (name, _, _, status, text, sent, *_), line, (_, thread, result) in zip(ROWS, lines, servers):
        got_status, reports, hex_text = (line.split(" ") + [""])[:3]
        got = (int(got_status), int(reports), bytes.fromhex(hex_text).decode("cp932"), result.get("sent"))
        want = (status, 1, text, sent)
        ok = got == want and not thread.is_alive() and "error" not in result
        failures += not ok
        print("%s: %s" % ("ok  " if ok else "FAIL", name))
        if not ok:
            print("    got  %r\n    want %r %s" % (got, want, result.get("error", "")))
    print("%d of %d rows as expected" % (len(ROWS) - failures, len(ROWS)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
