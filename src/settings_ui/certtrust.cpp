#include "settings_ui/certtrust.h"

#include <QCursor>
#include <QGuiApplication>

#include "mail/mail.h"
#include "mail/netconn.h"

namespace certtrust {

QString fConfirm(const QString& kind, const std::string& server, const QString& pin, const AskFn& ask) {
  QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  auto got = mail::fFetchServerCertificate(server, kind == "SMTP");
  QGuiApplication::restoreOverrideCursor();
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
                 QString::fromStdString(cert.problem) + ")。\n\n発行先: " +
                 QString::fromStdString(cert.subject) + "\n発行者: " + QString::fromStdString(cert.issuer) +
                 "\n有効期限: " + QString::fromStdString(cert.notAfter) + "\nSHA-256: " + fingerprint + "\n\n";
  if (!kept.isEmpty()) text += "前に信頼した証明書と違います。\n信頼済みの SHA-256: " + kept + "\n\n";
  text += "指紋がサーバの管理者から聞いたものと同じときだけ信頼してください。この証明書を信頼しますか?";
  return ask(text, true) ? fingerprint : pin;
}

}  // namespace certtrust
