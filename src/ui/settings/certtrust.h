#pragma once
// Trusting a server's certificate from the account settings dialog: look at what the
// server shows, tell the user, and keep its fingerprint only when the user says so.
#include <QString>

class QWidget;
#include <functional>
#include <string>

#include "mail/mail.h"

namespace certtrust {

// Shows `text` to the user; with `question` asks yes or no and returns the answer.
using AskFn = std::function<bool(const QString& text, bool question)>;

// The fingerprint to keep for the server ("POP3" with "host" TAB "port", or "SMTP" with
// "host:port"): a newly confirmed one, else `pin` as it was. While the server is asked,
// `busy` (the window the command came from) takes no input.
// `security`: how the account reaches the server (TLS from the start on any port, say).
QString fConfirm(const QString& kind, const std::string& server, const QString& pin,
                 const AskFn& ask, QWidget* busy = nullptr,
                 mail::Security security = mail::Security::Standard);

}  // namespace certtrust
