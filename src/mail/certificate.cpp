// Looking at a server's certificate before trusting it: the dialogue goes as far as the
// TLS handshake (STLS or STARTTLS first on the plain ports), and no further.
#include "mail/mail.h"
#include "mail/netconn.h"

namespace mail {
namespace {

// An SMTP reply, its continuation lines included; the lines go to `lines`.
bool smtpReply(net::NetConn& conn, std::string& lines) {
  std::string line;
  do {
    if (!conn.readLine(line)) return false;
    lines += line + "\n";
  } while (line.size() > 3 && line[3] == '-');
  return true;
}

// Up to the point where the server expects the TLS handshake; a text when it never will.
std::string startPop3(net::NetConn& conn) {
  std::string line;
  if (!conn.readLine(line)) return "POP3: " + conn.error();
  if (line.compare(0, 3, "+OK") != 0) return "POP3: サーバの応答が不正です: " + net::fCleanServerText(line);
  if (!conn.writeAll("STLS\r\n") || !conn.readLine(line)) return "POP3: " + conn.error();
  if (line.compare(0, 3, "+OK") != 0)
    return "POP3: サーバが暗号化 (STLS) に対応していません: " + net::fCleanServerText(line);
  return "";
}

std::string startSmtp(net::NetConn& conn) {
  std::string lines;
  if (!smtpReply(conn, lines)) return "SMTP: " + conn.error();
  if (lines.compare(0, 3, "220") != 0) return "SMTP: サーバの応答が不正です: " + net::fCleanServerText(lines);
  lines.clear();
  if (!conn.writeAll("EHLO localhost\r\n") || !smtpReply(conn, lines)) return "SMTP: " + conn.error();
  lines.clear();
  if (!conn.writeAll("STARTTLS\r\n") || !smtpReply(conn, lines)) return "SMTP: " + conn.error();
  if (lines.compare(0, 3, "220") != 0)
    return "SMTP: サーバが暗号化 (STARTTLS) に対応していません: " + net::fCleanServerText(lines);
  return "";
}

}  // namespace

std::variant<ServerCertificate, std::string> fFetchServerCertificate(std::string_view server,
                                                                     bool smtp) {
  const LibrarySettings settings = fGetLibrarySettings();
  const char* name = smtp ? "SMTP" : "POP3";
  std::string host;
  int port = smtp ? 25 : 110;
  if (!net::fSplitHostPort(server, smtp ? ':' : '\t', port, host, port))
    return std::string(name) + "サーバの指定が不正です: " + std::string(server);
  const net::Route route = net::fRoute(host, port, smtp ? settings.smtpsPort : settings.pop3sPort);
  if (route == net::Route::Plain)
    return std::string(name) + ": 暗号化「なし」の設定では証明書を使いません";
  const bool implicitTls = route == net::Route::Implicit;
  net::SigpipeGuard sigpipe;
  net::NetConn conn;
  conn.sAcceptAnyCertificate();
  if (!conn.open(host, port, implicitTls)) return std::string(name) + ": " + conn.error();
  if (!implicitTls) {
    if (std::string why = smtp ? startSmtp(conn) : startPop3(conn); !why.empty()) return why;
    if (!conn.startTls()) return std::string(name) + ": " + conn.error();
  }
  ServerCertificate info = conn.fPeerCertificate();
  conn.writeAll("QUIT\r\n");
  if (info.fingerprint.empty()) return std::string(name) + ": サーバが証明書を示しません";
  return info;
}

}  // namespace mail
