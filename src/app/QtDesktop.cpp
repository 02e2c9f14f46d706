#include "app/QtDesktop.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/Form1.h"

void QtDesktop::sOpenUrl(const std::string& url) {
  // Only web addresses come here; a text that does not parse as one is not opened.
  QUrl target(QString::fromStdString(url), QUrl::StrictMode);
  const QString scheme = target.scheme().toLower();
  if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
    return;
  QDesktopServices::openUrl(target);
}

void QtDesktop::sSendToBrowser(const std::string& url) {
  form_->sSendToBrowser(QString::fromStdString(url));
}

void QtDesktop::sStartProgram(const std::string& program) {
  form_->fShellOpen(QString::fromStdString(program), QString(), QString());
}
