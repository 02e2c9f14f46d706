#include "ui/common/QtDesktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QWidget>

#ifdef _WIN32
#include <windows.h>
#endif

#include "store/mailstore.h"

namespace desktop {

bool shellOpen(const QString& file, const QString& parameters, const QString& folder) {
  if (file.isEmpty()) return false;
  QFileInfo info(file);
  if (info.isFile() && info.isExecutable()) {
    // A program starts with the parameters as one argument, never through a shell.
    QString dir = folder.isEmpty() ? info.absolutePath() : folder;
    QStringList args;
    if (!parameters.isEmpty()) args << parameters;
    return QProcess::startDetached(info.absoluteFilePath(), args, dir);
  }
  QUrl url = info.exists() ? QUrl::fromLocalFile(info.absoluteFilePath()) : QUrl(file);
  if (!url.isValid() || url.scheme().isEmpty()) return false;
  return QDesktopServices::openUrl(url);
}

}  // namespace desktop

void QtDesktop::sOpenUrl(const std::string& url) {
  // Only web addresses come here; a text that does not parse as one is not opened.
  QUrl target(QString::fromStdString(url), QUrl::StrictMode);
  const QString scheme = target.scheme().toLower();
  if (!target.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
    return;
  QDesktopServices::openUrl(target);
}

void QtDesktop::sSendToBrowser(const std::string& url) {
  const QString address = QString::fromStdString(url);
#ifdef _WIN32
  HWND target = FindWindowW(L"ThunderRT6FormDC", L"Lanternhouse");
  if (target) {
    if (address.isEmpty()) return;
    QByteArray bytes = address.toLocal8Bit();
    bytes.append('\0');
    COPYDATASTRUCT cds{0, static_cast<DWORD>(bytes.size()), bytes.data()};
    SendMessageW(target, WM_COPYDATA, reinterpret_cast<WPARAM>(window_->winId()), reinterpret_cast<LPARAM>(&cds));
    return;
  }
  const QString program = QString::fromStdString(mailstore::fUtf8(programDir_ / "Lanternhouse.exe"));
#else
  (void)window_;
  const QString program = QString::fromStdString(mailstore::fUtf8(programDir_ / "Lanternhouse"));
#endif
  desktop::shellOpen(program, address);
}

void QtDesktop::sStartProgram(const std::string& program) {
  desktop::shellOpen(QString::fromStdString(program));
}
