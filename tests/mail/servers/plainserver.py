"""A POP3 and an SMTP server that offer no STLS/STARTTLS, for the tests of what a client
sends over a link left in clear. Every line a client sends is appended to the wire log.
One user; logins by USER/PASS, APOP, AUTH CRAM-MD5 (and SMTP AUTH PLAIN/LOGIN) are
checked against its password. The POP3 mailbox is empty; SMTP accepts every mail.
Prints nothing; the harness waits for both ports to accept connections.
"""
import argparse
import base64
import hashlib
import hmac
import os
import socketserver
import threading

ARGS = None
LOCK = threading.Lock()


def log(line):
    with LOCK, open(ARGS.wire, "ab") as f:
        f.write(line + b"\n")


def cram_ok(challenge, answer):
    try:
        user, digest = base64.b64decode(answer).decode().rsplit(" ", 1)
    except Exception:
        return False
    want = hmac.new(ARGS.password.encode(), challenge, hashlib.md5).hexdigest()
    return user == ARGS.user and hmac.compare_digest(digest, want)


class Base(socketserver.StreamRequestHandler):
    def send(self, text):
        self.wfile.write(text.encode() + b"\r\n")
        self.wfile.flush()

    def lines(self):
        for raw in self.rfile:
            line = raw.rstrip(b"\r\n")
            log(line)
            yield line.decode("utf-8", "replace")


class Pop3(Base):
    def handle(self):
        stamp = "<%d.1@plain.example.test>" % os.getpid()
        self.send("+OK scripted " + stamp)
        user = None
        it = self.lines()
        for line in it:
            cmd = line.split(" ", 1)[0].upper()
            arg = line[len(cmd) + 1:]
            if cmd == "CAPA":
                self.send("+OK\r\nUSER\r\nUIDL" + ("\r\nSASL CRAM-MD5" if ARGS.sasl else "") + "\r\n.")
            elif cmd == "USER":
                user = arg
                self.send("+OK")
            elif cmd == "PASS":
                self.send("+OK" if (user, arg) == (ARGS.user, ARGS.password) else "-ERR [AUTH] no")
            elif cmd == "APOP":
                name, _, digest = arg.partition(" ")
                want = hashlib.md5((stamp + ARGS.password).encode()).hexdigest()
                self.send("+OK" if name == ARGS.user and digest == want else "-ERR [AUTH] no")
            elif line.upper() == "AUTH CRAM-MD5" and ARGS.sasl:
                challenge = stamp.encode()
                self.send("+ " + base64.b64encode(challenge).decode())
                answer = next(it, "")
                self.send("+OK" if cram_ok(challenge, answer) else "-ERR [AUTH] no")
            elif cmd in ("UIDL", "LIST"):
                self.send("+OK\r\n.")
            elif cmd == "STAT":
                self.send("+OK 0 0")
            elif cmd == "QUIT":
                self.send("+OK bye")
                return
            else:
                self.send("-ERR unknown command")


class Smtp(Base):
    def handle(self):
        self.send("220 plain.example.test ESMTP scripted")
        it = self.lines()
        for line in it:
            cmd = line.split(" ", 1)[0].upper()
            if cmd == "EHLO":
                self.send("250-plain.example.test\r\n250-AUTH PLAIN LOGIN CRAM-MD5\r\n250 8BITMIME")
            elif line.upper() == "AUTH CRAM-MD5":
                challenge = b"<7.1@plain.example.test>"
                self.send("334 " + base64.b64encode(challenge).decode())
                answer = next(it, "")
                self.send("235 ok" if cram_ok(challenge, answer) else "535 no")
            elif cmd == "AUTH":
                self.send("535 no")
            elif cmd == "DATA":
                self.send("354 go")
                for body in it:
                    if body == ".":
                        break
                self.send("250 accepted")
            elif cmd == "QUIT":
                self.send("221 bye")
                return
            elif cmd == "STARTTLS":
                self.send("502 not here")
            else:
                self.send("250 ok")


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("--pop3", type=int, required=True)
    ap.add_argument("--smtp", type=int, required=True)
    ap.add_argument("--wire", required=True)
    ap.add_argument("--user", default="alice")
    ap.add_argument("--password", default="s3cret-on-the-wire")
    ap.add_argument("--sasl", action="store_true")
    ARGS = ap.parse_args()
    servers = [Server(("127.0.0.1", ARGS.pop3), Pop3), Server(("127.0.0.1", ARGS.smtp), Smtp)]
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for t in threads:
        t.start()
    threads[0].join()


if __name__ == "__main__":
    main()
