"""SMTP sink for the mail tests: accepts mail on loopback and delivers each message into
the recipient's dovecot Maildir, so a sent message can be received again over POP3.

Listeners: plain with STARTTLS offered, implicit TLS, and optionally a submission port
that requires STARTTLS and AUTH before any mail. AUTH PLAIN/LOGIN is checked
against the dovecot passwd-file; with --tokeninfo, AUTH XOAUTH2/OAUTHBEARER (those named
by --oauth) against the tests' token service, as dovecot checks them. Recipients with
the local parts below fail on purpose:
  fail451 -> 451 at RCPT TO, fail554 -> 554 after DATA; unknown users -> 550.
Prints "ready" on stdout when both listeners accept connections.
"""
import argparse
import asyncio
import base64
import json
import logging
import os
import re
import ssl
import sys
import time
import urllib.error
import urllib.parse
import urllib.request
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

warnings.filterwarnings("ignore")
logging.getLogger("mail.log").setLevel(logging.CRITICAL)


def load_users(path):
    users = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.rstrip("\n").split(":")
            if len(parts) >= 2:
                users[parts[0]] = parts[1]
    return users


class Handler:
    def __init__(self, mail_root, uid, gid):
        self.mail_root = mail_root
        self.uid = uid
        self.gid = gid
        self.count = 0

    def maildir(self, address):
        local = address.split("@", 1)[0].lower()
        return os.path.join(self.mail_root, local, "Maildir")

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        local = address.split("@", 1)[0].lower()
        if local == "fail451":
            return "451 4.3.0 mailbox temporarily unavailable"
        if local != "fail554" and not os.path.isdir(self.maildir(address)):
            return "550 5.1.1 no such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if any(a.split("@", 1)[0].lower() == "fail554" for a in envelope.rcpt_tos):
            return "554 5.6.0 message refused by content filter"
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8")
        data = data.replace(b"\r\n", b"\n")
        for rcpt in envelope.rcpt_tos:
            box = self.maildir(rcpt)
            self.count += 1
            name = "%d.%d_%d.sink" % (time.time(), os.getpid(), self.count)
            tmp = os.path.join(box, "tmp", name)
            with open(tmp, "wb") as f:
                f.write(data)
            os.chmod(tmp, 0o644)
            if self.uid is not None:
                os.chown(tmp, self.uid, self.gid)
            os.rename(tmp, os.path.join(box, "new", name))
        return "250 2.0.0 delivered"


class OAuthHandler(Handler):
    """AUTH XOAUTH2 and OAUTHBEARER: the token service must name the user of the
    response as the token's owner. A refusal is a 334 challenge with the reason as base64
    JSON; the client's acknowledgement is then answered with 535."""

    def __init__(self, mail_root, uid, gid, tokeninfo):
        super().__init__(mail_root, uid, gid)
        self.tokeninfo = tokeninfo

    async def check(self, server, args):  # both mechanisms, told apart by their fields
        blob = base64.b64decode(args[1]) if len(args) > 1 else await server.challenge_auth("")
        if not isinstance(blob, bytes):
            return AuthResult(success=False, handled=True)
        # "user=U^Aauth=Bearer T^A^A" or "n,a=U,^Aauth=Bearer T^A^A" (^A: 0x01)
        fields = dict(p.split("=", 1) for p in re.split("[\x01,]", blob.decode()) if "=" in p)
        user = fields.get("user", fields.get("a", "")).replace("=2C", ",").replace("=3D", "=")
        try:
            url = self.tokeninfo + urllib.parse.quote(fields.get("auth", "")[len("Bearer "):])
            with urllib.request.urlopen(url, timeout=10) as r:
                if json.load(r).get("email") == user:
                    return AuthResult(success=True)
        except (urllib.error.URLError, ValueError):
            pass
        await server.challenge_auth(json.dumps({"status": "invalid_token", "schemes": "bearer", "scope": "mail"}))
        return AuthResult(success=False, handled=False)

    auth_XOAUTH2 = auth_OAUTHBEARER = check


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--smtp", type=int, required=True)
    ap.add_argument("--smtps", type=int, required=True)
    ap.add_argument("--submission", type=int)
    ap.add_argument("--cert", required=True)
    ap.add_argument("--key", required=True)
    ap.add_argument("--passwd", required=True)
    ap.add_argument("--mail-root", required=True)
    ap.add_argument("--uid", type=int)
    ap.add_argument("--tokeninfo")
    ap.add_argument("--oauth", default="XOAUTH2 OAUTHBEARER")
    args = ap.parse_args()

    users = load_users(args.passwd)

    def authenticator(server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            user = auth_data.login.decode("utf-8", "replace")
            password = auth_data.password.decode("utf-8", "replace")
            if users.get(user) == password:
                return AuthResult(success=True)
        return AuthResult(success=False, handled=False)

    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(args.cert, args.key)
    excluded = ["CRAM-MD5"]
    if args.tokeninfo:
        handler = OAuthHandler(args.mail_root, args.uid, args.uid, args.tokeninfo)
        excluded += [m for m in ("XOAUTH2", "OAUTHBEARER") if m not in args.oauth.upper().split()]
    else:
        handler = Handler(args.mail_root, args.uid, args.uid)

    def factory(tls_context, strict=False):
        def make():
            return SMTP(handler, hostname="sink.localhost", tls_context=tls_context,
                        require_starttls=strict, auth_required=strict,
                        auth_require_tls=strict,
                        authenticator=authenticator, enable_SMTPUTF8=True,
                        auth_exclude_mechanism=excluded,
                        command_call_limit=1000000)
        return make

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    plain = loop.run_until_complete(
        loop.create_server(factory(ctx), "127.0.0.1", args.smtp))
    implicit = loop.run_until_complete(
        loop.create_server(factory(None), "127.0.0.1", args.smtps, ssl=ctx))
    submission = None
    if args.submission:
        submission = loop.run_until_complete(
            loop.create_server(factory(ctx, strict=True), "127.0.0.1", args.submission))
    print("ready", flush=True)
    try:
        loop.run_forever()
    finally:
        plain.close()
        implicit.close()
        if submission:
            submission.close()


if __name__ == "__main__":
    sys.exit(main())
