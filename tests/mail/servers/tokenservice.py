"""OAuth 2.0 service for the sign-in tests, on loopback: an authorization endpoint that
sends the browser back to the program's redirect address with a code, a token endpoint
(authorization code with PKCE S256, refresh token) and a token check for dovecot's oauth2
passdb and the SMTP sink. Tokens live in memory; the tests steer the service through
/admin/... (issue, expire, revoke, and how the next authorization answers).

  GET  /authorize?response_type=code&client_id&redirect_uri&state&code_challenge...
  POST /token          grant_type=authorization_code | refresh_token
  GET  /tokeninfo?access_token=T   200 {"email": user, "active": true} | 401
  POST /admin/issue    user, lifetime            -> {"access_token", "refresh_token"}
  POST /admin/expire   token                      (an access token now expired)
  POST /admin/revoke   token                      (a refresh token and its access tokens)
  POST /admin/set      answer=ok|deny|wrong_state|error, lifetime=seconds
"""
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
ACCESS = {}    # token -> {"user", "expires", "refresh"}
REFRESH = {}   # token -> {"user", "client", "revoked"}
CODES = {}     # code -> {"user", "client", "redirect", "challenge", "scope"}
SETTINGS = {"answer": "ok", "lifetime": 3600}
ARGS = None


def issue(user, client, lifetime, refresh=None):
    access = "at-" + secrets.token_urlsafe(18)
    if refresh is None:
        refresh = "rt-" + secrets.token_urlsafe(18)
        REFRESH[refresh] = {"user": user, "client": client, "revoked": False}
    ACCESS[access] = {"user": user, "expires": time.time() + lifetime, "refresh": refresh}
    return {"access_token": access, "token_type": "Bearer", "expires_in": int(lifetime),
            "refresh_token": refresh, "scope": "mail"}


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode() if not isinstance(body, bytes) else body
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def form(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length).decode()
        return {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query, keep_blank_values=True).items()}
        if url.path == "/tokeninfo":
            with LOCK:
                t = ACCESS.get(q.get("access_token", ""))
                if t and t["expires"] > time.time() and not REFRESH.get(t["refresh"], {}).get("revoked"):
                    return self.reply(200, {"email": t["user"], "active": True})
            return self.reply(401, {"error": "invalid_token"})
        if url.path == "/authorize":
            return self.authorize(q)
        self.reply(404, {"error": "not_found"})

    def authorize(self, q):
        redirect = q.get("redirect_uri", "")
        if q.get("client_id") != ARGS.client_id or not redirect.startswith("http://127.0.0.1:"):
            return self.reply(400, {"error": "invalid_client"})
        answer = SETTINGS["answer"]
        back = {"state": q.get("state", "")}
        if answer == "deny":
            back = {"error": "access_denied", "error_description": "The user denied access",
                    "state": q.get("state", "")}
        elif q.get("response_type") != "code" or q.get("code_challenge_method") != "S256" \
                or not q.get("code_challenge"):
            back["error"] = "invalid_request"
        else:
            code = secrets.token_urlsafe(12)
            with LOCK:
                # The mail servers know their users by the local part of the address.
                hint = q.get("login_hint", "").split("@", 1)[0]
                CODES[code] = {"user": hint or ARGS.user, "client": q["client_id"],
                               "redirect": redirect, "challenge": q["code_challenge"]}
            back["code"] = code
            if answer == "wrong_state":
                back["state"] = "x" + back["state"]
        location = redirect + ("&" if "?" in redirect else "?") + urllib.parse.urlencode(back)
        self.reply(302, b"", [("Location", location)])

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        f = self.form()
        with LOCK:
            if path == "/token":
                return self.token(f)
            if path == "/admin/issue":
                return self.reply(200, issue(f["user"], ARGS.client_id, float(f.get("lifetime", 3600))))
            if path == "/admin/expire":
                if f["token"] in ACCESS:
                    ACCESS[f["token"]]["expires"] = 0
                return self.reply(200, {})
            if path == "/admin/revoke":
                if f["token"] in REFRESH:
                    REFRESH[f["token"]]["revoked"] = True
                return self.reply(200, {})
            if path == "/admin/set":
                for k in ("answer", "lifetime"):
                    if k in f:
                        SETTINGS[k] = f[k] if k == "answer" else float(f[k])
                return self.reply(200, {})
        self.reply(404, {"error": "not_found"})

    def token(self, f):
        bad = lambda why: self.reply(400, {"error": "invalid_grant", "error_description": why})
        if f.get("client_id") != ARGS.client_id:
            return self.reply(401, {"error": "invalid_client"})
        grant = f.get("grant_type")
        if grant == "authorization_code":
            c = CODES.pop(f.get("code", ""), None)
            if not c:
                return bad("unknown or used code")
            if c["redirect"] != f.get("redirect_uri"):
                return bad("redirect_uri differs")
            digest = hashlib.sha256(f.get("code_verifier", "").encode()).digest()
            if base64.urlsafe_b64encode(digest).rstrip(b"=").decode() != c["challenge"]:
                return bad("code_verifier does not match")
            return self.reply(200, issue(c["user"], c["client"], SETTINGS["lifetime"]))
        if grant == "refresh_token":
            r = REFRESH.get(f.get("refresh_token", ""))
            if not r or r["revoked"]:
                return bad("Token has been expired or revoked.")
            body = issue(r["user"], r["client"], SETTINGS["lifetime"], f["refresh_token"])
            del body["refresh_token"]  # as large providers do: the refresh token stays
            return self.reply(200, body)
        return self.reply(400, {"error": "unsupported_grant_type"})


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--client-id", default="qb-test-client")
    ap.add_argument("--user", default="alice")
    ARGS = ap.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", ARGS.port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
