"""OAuth 2.0 service for the sign-in tests: /authorize (redirects with a code), /token
(code with PKCE S256, refresh) and /tokeninfo (asked by dovecot and the SMTP sink). Tests
steer it by POST /admin/issue (user), /admin/expire, /admin/revoke (token) and /admin/set
(answer=ok|deny|wrong_state for the next authorizations, lifetime=seconds)."""
import argparse
import base64
import hashlib
import json
import secrets
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOCK = threading.Lock()
ACCESS, REFRESH, CODES = {}, {}, {}  # token -> user, expiry, refresh; token -> revoked; code -> ...
SETTINGS = {"answer": "ok", "lifetime": 3600}
CLIENT = "qb-test-client"


def issue(user, refresh=None):
    access, lifetime = "at-" + secrets.token_urlsafe(18), int(SETTINGS["lifetime"])
    body = {"access_token": access, "token_type": "Bearer", "expires_in": lifetime}
    if refresh is None:  # a refresh answer keeps the refresh token, as large providers do
        refresh = body["refresh_token"] = "rt-" + secrets.token_urlsafe(18)
        REFRESH[refresh] = {"user": user, "revoked": False}
    ACCESS[access] = {"user": user, "expires": time.time() + lifetime, "refresh": refresh}
    return body


class Handler(BaseHTTPRequestHandler):
    def reply(self, status, body=None, location=None):
        data = json.dumps(body or {}).encode()
        self.send_response(status)
        for k, v in (("Location", location), ("Content-Type", "application/json"), ("Content-Length", len(data))):
            if v:
                self.send_header(k, str(v))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        with LOCK:
            if url.path == "/tokeninfo":
                t = ACCESS.get(q.get("access_token"))
                if t and t["expires"] > time.time() and not REFRESH[t["refresh"]]["revoked"]:
                    return self.reply(200, {"email": t["user"], "active": True})
                return self.reply(401, {"error": "invalid_token"})
            if url.path == "/authorize" and q.get("client_id") == CLIENT:
                back = {"state": q.get("state", "")}
                if SETTINGS["answer"] == "deny":
                    back.update(error="access_denied", error_description="The user denied access")
                else:
                    back["code"] = secrets.token_urlsafe(12)
                    # The mail servers know their users by the local part of the address.
                    CODES[back["code"]] = (q.get("login_hint", "alice").split("@")[0],
                                           q["redirect_uri"], q["code_challenge"])
                    if SETTINGS["answer"] == "wrong_state":
                        back["state"] = "x" + back["state"]
                return self.reply(302, location=q["redirect_uri"] + "?" + urllib.parse.urlencode(back))
        self.reply(404)

    def do_POST(self):
        f = dict(urllib.parse.parse_qsl(self.rfile.read(int(self.headers["Content-Length"])).decode()))
        path = urllib.parse.urlsplit(self.path).path
        with LOCK:
            if path == "/admin/issue":
                return self.reply(200, issue(f["user"]))
            if path == "/admin/expire" and f["token"] in ACCESS:
                ACCESS[f["token"]]["expires"] = 0
            if path == "/admin/revoke" and f["token"] in REFRESH:
                REFRESH[f["token"]]["revoked"] = True
            if path == "/admin/set":
                SETTINGS.update(f)
            if path != "/token":
                return self.reply(200)
            if f.get("client_id") != CLIENT:
                return self.reply(401, {"error": "invalid_client"})
            bad = {"error": "invalid_grant", "error_description": "Token has been expired or revoked."}
            if f.get("grant_type") == "refresh_token":
                r = REFRESH.get(f.get("refresh_token"))
                if not r or r["revoked"]:
                    return self.reply(400, bad)
                return self.reply(200, issue(r["user"], f["refresh_token"]))
            user, redirect, challenge = CODES.pop(f.get("code"), (None, None, None))
            verifier = hashlib.sha256(f.get("code_verifier", "").encode()).digest()
            if redirect != f.get("redirect_uri") or \
                    base64.urlsafe_b64encode(verifier).rstrip(b"=").decode() != challenge:
                return self.reply(400, bad)
            return self.reply(200, issue(user))


if __name__ == "__main__":
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ThreadingHTTPServer(("127.0.0.1", ap.parse_args().port), Handler).serve_forever()
