// Form1: services for the rest of the program - shell, browser, keys, tray, timer, status.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#ifdef _WIN32
#include <windows.h>
#endif

#include "ui/main/DesktopNotifier.h"
#include "ui/common/ElidedLabel.h"
#include "ui/main/Form1.h"
#include "ui/main/menuitems.h"
#include "ui/main/MailListModel.h"
#include "ui/common/QtDesktop.h"
#include "store/folderTree.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

bool Form1::fShellOpen(const QString& file, const QString& parameters, const QString& folder) {
  return desktop::shellOpen(file, parameters, folder);
}

QString Form1::fGetTempPath() {
  return QDir::toNativeSeparators(QDir::tempPath() + QLatin1Char('/'));
}

bool Form1::fIsKeyDown(int virtualKey) {
#ifdef _WIN32
  return (GetKeyState(virtualKey) & 0x80) != 0;
#else
  Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
  switch (virtualKey) {
    case 16: return mods.testFlag(Qt::ShiftModifier);
    case 17: return mods.testFlag(Qt::ControlModifier);
    case 18: return mods.testFlag(Qt::AltModifier);
    default: return false;  // the desktop reports only the modifier keys at any moment
  }
#endif
}

void Form1::sShowListTotal() { sSetStatus(2, QStringLiteral("総メール数 %1件").arg(listModel_->rowCount())); }

void Form1::sSendToBrowser(const QString& url) { QtDesktop(programDir_, this).sSendToBrowser(url.toStdString()); }

void Form1::sTrayBalloon(const QString& title, const QString& text) {
  // The tray where there is one; else the desktop's notification service; else the
  // status bar: the notice is never lost.
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    tray_->showMessage(title.left(63), text.left(255), QSystemTrayIcon::Information);
    return;
  }
  auto* notifier = findChild<DesktopNotifier*>(QString(), Qt::FindDirectChildrenOnly);
  if (notifier && notifier->fNotify(title.left(63), text.left(255))) return;
  sSetStatus(1, text.trimmed().replace(QStringLiteral("\r\n"), QStringLiteral(" / ")));
}

void Form1::sSetStatus(int panel, const QString& text) {
  (panel == 2 ? panel2_ : panel1_)->setText(text);
}

QString Form1::fStatus(int panel) const { return (panel == 2 ? panel2_ : panel1_)->text(); }

void Form1::sStartAutoTimer() {
  timer_->stop();
  long autoTime = mod_ini::fGetIniInt("Mail", "AutoTime", 0, settingsPath_);
  long second = autoTime > 0 ? mod_ini::fGetIniInt("Mail", "second", 0, settingsPath_) : 0;
  long period = folderTree::fAutoTimerPeriod(autoTime, second);
  if (period <= 0) return;
  timer_->start(static_cast<int>(std::min<long>(period, std::numeric_limits<int>::max())));
}

void Form1::sStopAutoTimer() { timer_->stop(); }

void Form1::sTimerTick() {
  // The tick neither stops nor restarts the timer.
  timerRun_ = true;
  if (autoRePosition_ < 1) {
    mnuFileItem_Click(menuitem::file::kReceiveAll);
  } else if (autoReceiver_) {
    autoReceiver_();
  }
  timerRun_ = false;
}

void Form1::createTray() {
  // The program's icon: a plain envelope, drawn so no image file is needed.
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  {
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 60, 120), 2));
    p.setBrush(QColor(250, 245, 225));
    p.drawRect(3, 8, 26, 17);
    p.drawLine(3, 8, 16, 18);
    p.drawLine(29, 8, 16, 18);
  }
  QIcon icon(pm);
  setWindowIcon(icon);
  tray_ = new QSystemTrayIcon(icon, this);
  tray_->setObjectName(QStringLiteral("TrayIcon"));
  tray_->setToolTip(kTitle.left(127));
  connect(tray_, &QSystemTrayIcon::activated, this,
          [this](QSystemTrayIcon::ActivationReason reason) { sTrayActivated(reason); });
  // A click on the desktop's notice does what a click on the tray icon does.
  connect(new DesktopNotifier(this), &DesktopNotifier::clicked, this,
          [this] { sTrayActivated(QSystemTrayIcon::Trigger); });
}

void Form1::sTrayActivated(int reason) {
  if (reason == QSystemTrayIcon::Trigger) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
  } else if (reason == QSystemTrayIcon::Context) {
    activateWindow();
    QCoreApplication::processEvents();
    fMenu(Menu::File)->popup(QCursor::pos());
  }
}
