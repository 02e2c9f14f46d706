#include "ui/settings/certtrust.h"

#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QWidget>
#include <thread>
#include <variant>

#include "mail/mail.h"
#include "mail/netconn.h"

namespace certtrust {

namespace {

// The server's certificate, fetched on a thread of its own: the windows keep painting
// while a slow server takes its time, and `busy` takes no input meanwhile.
std::variant<mail::ServerCertificate, std::string> fetch(const std::string& server, bool smtp,
                                                         QWidget* busy, mail::Security security) {
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  if (busy) busy->setEnabled(false);
  std::variant<mail::ServerCertificate, std::string> got = std::string();
  QEventLoop loop;
  std::thread worker([&] {
    mail::SecurityChoice choice(security);
    got = mail::fFetchServerCertificate(server, smtp);
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  if (busy) busy->setEnabled(true);
  QGuiApplication::restoreOverrideCursor();
  return got;
}

}  // namespace

QString fConfirm(const QString& kind, const std::string& server, const QString& pin,
                 const AskFn& ask, QWidget* busy, mail::Security security) {
  auto got = fetch(server, kind == "SMTP", busy, security);
  if (auto* why = std::get_if<std::string>(&got)) {
    ask(QString::fromStdString(*why), false);
    return pin;
  }
  const auto& cert = std::get<mail::ServerCertificate>(got);
  const QString fingerprint = QString::fromStdString(cert.fingerprint);
  const QString kept = QString::fromStdString(mail::net::fNormalizeFingerprint(pin.toStdString()));
  if (cert.trusted) {
    ask(kind + "サーバの証明書はシステムで信頼されています。\nSHA-256: " + fingerprint, false);
    return pin;
  }
  if (kept == fingerprint) {
    ask(kind + "サーバの証明書は信頼済みです。\nSHA-256: " + fingerprint, false);
    return pin;
  }
  QString text = kind + "サーバの証明書はシステムで信頼されていません (" +
                 QString::fromStdString(cert.problem) +
                 ")。\n\n発行先: " + QString::fromStdString(cert.subject) +
                 "\n発行者: " + QString::fromStdString(cert.issuer) +
                 "\n有効期限: " + QString::fromStdString(cert.notAfter) +
                 "\nSHA-256: " + fingerprint + "\n\n";
  if (!kept.isEmpty())
    text += "前に信頼した証明書と違います。\n信頼済みの SHA-256: " + kept + "\n\n";
  text +=
      "指紋がサーバの管理者から聞いたものと同じときだけ信頼してください。この証明書を信頼しますか?";
  return ask(text, true) ? fingerprint : pin;
}

}  // namespace certtrust
