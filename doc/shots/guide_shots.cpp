// Takes the user guide's pictures from the real windows: a program folder is set up in a
// temporary directory (an account, its rules, a few mails), the windows are opened at
// their first-start size and grabbed. Usage: quillbrook-guide-shots OUTPUT_DIR, or
// quillbrook-guide-shots --check PICTURE_DIR to fail when a window no longer looks like
// its picture in the guide (the test run does this, so a changed window gets new pictures).
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cstdio>
#include <fstream>

#include "app/FolderTree.h"
#include "app/Form1.h"
#include "app/HtmlView.h"
#include "app/MailListModel.h"
#include "compose/frmEdit.h"
#include "settings_ui/frmSet.h"
#include "settings_ui/frmSetC.h"
#include "store/accountsettings.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;

namespace {

QString outDir;
bool checking = false;
QStringList stale;

// Pictures count as current when no more than this share of pixels differs (anti-aliasing
// of one glyph may vary; a moved or new control changes far more).
constexpr double kTolerance = 0.005;

bool looksAlike(const QImage& shot, const QImage& picture) {
  if (shot.size() != picture.size()) return false;
  const QImage a = shot.convertToFormat(QImage::Format_RGB32);
  const QImage b = picture.convertToFormat(QImage::Format_RGB32);
  qint64 differing = 0;
  for (int y = 0; y < a.height(); ++y) {
    auto* rowA = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    auto* rowB = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) differing += rowA[x] != rowB[x];
  }
  return differing <= kTolerance * a.width() * a.height();
}

// Small files: the pictures show text and flat controls, which a palette holds well.
void save(const QPixmap& shot, const char* name) {
  QImage image = shot.toImage().convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
  const QString path = outDir + "/" + name;
  if (!checking) {
    image.save(path, "PNG", 0);
  } else if (!looksAlike(image, QImage(path))) {
    stale << name;
  }
}

void mail(const fs::path& folder, const std::string& name, const std::string& subjectB64,
          const std::string& from, const std::string& date, const std::string& body) {
  fs::create_directories(folder);
  std::ofstream(folder / mailstore::fPath(name), std::ios::binary)
      << "From: " << from << "\r\nTo: taro@example.jp\r\nSubject: =?UTF-8?B?" << subjectB64 << "?=\r\nDate: "
      << date << "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" << body << "\r\n";
}

std::string b64(const char* text) { return QByteArray(text).toBase64().toStdString(); }

void setUpAccount(const fs::path& program) {
  const fs::path account = mailstore::fAccountFolder(mailstore::fAccountPrefix(program), 1);
  for (const char* sub : {"受信箱", "受信箱/お知らせ", "送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) {
    fs::create_directories(account / mailstore::fPath(sub));
  }
  accountsettings::AccountSettings s;
  s.account = "自宅";
  s.address = "taro@example.jp";
  s.name = "山田 太郎";
  s.smtpHost = "smtp.example.jp";
  s.smtpPort = "587";
  s.pop3Host = "pop.example.jp";
  s.pop3Port = "995";
  s.user = "taro";
  s.pass = "secret";
  s.keepOnServer = true;
  s.rules = rulelist::readRuleList("差出人|news@shop.example.jp|受信箱\\お知らせ|2||[件名|【至急】||0||[");
  accountsettings::fSave(account, s);
  const fs::path inbox = account / mailstore::fPath("受信箱");
  mail(inbox, "1.eml", b64("来週の打ち合わせについて"), "=?UTF-8?B?" + b64("佐藤 花子") + "?= <hanako@example.jp>",
       "Mon, 03 Feb 2025 09:12:00 +0900", "山田さん\r\n\r\n来週の打ち合わせは火曜日の10時からでお願いします。\r\n\r\n佐藤");
  mail(inbox, "2.eml", b64("写真を送ります🍣"), "=?UTF-8?B?" + b64("鈴木 一郎") + "?= <ichiro@example.jp>",
       "Sun, 02 Feb 2025 20:45:00 +0900", "週末の写真です。");
  mail(inbox, "3.eml", b64("【至急】請求書の確認"), "=?UTF-8?B?" + b64("経理部") + "?= <keiri@example.jp>",
       "Sat, 01 Feb 2025 11:30:00 +0900", "請求書をご確認ください。");
  mail(inbox / mailstore::fPath("お知らせ"), "4.eml", b64("セールのお知らせ"), "news@shop.example.jp",
       "Fri, 31 Jan 2025 18:00:00 +0900", "今週末はセールです。");
  mod_ini::fWriteIniString("Mail", "Speech", "1", program / "setting.ini");
  mod_ini::fWriteIniString("Mail", "Notify", "1", program / "setting.ini");
  mod_ini::fWriteIniString("Mail", "AutoTime", "10", program / "setting.ini");
}

void settle() { QTest::qWait(200); }

}  // namespace

int main(int argc, char** argv) {
  HtmlView::sPrepareApplication();
  QApplication app(argc, argv);
  checking = argc == 3 && QString::fromLatin1(argv[1]) == "--check";
  if (argc < 2 || (argc == 3 && !checking)) return 2;
  outDir = QString::fromLocal8Bit(argv[argc - 1]);
  if (!checking) QDir().mkpath(outDir);

  // First start: an empty program folder, and the File menu where accounts are added.
  {
    QTemporaryDir dir;
    Form1 form(dir.path());
    form.show();
    settle();
    save(form.grab(), "first-start.png");
    QMenu* file = form.fMenu(Form1::Menu::File);
    file->popup(QPoint(0, 0));
    settle();
    save(file->grab(), "file-menu.png");
    file->hide();
  }

  QTemporaryDir dir;
  const fs::path program = mailstore::fPath(dir.path().toStdString());
  setUpAccount(program);
  const fs::path account = mailstore::fAccountFolder(mailstore::fAccountPrefix(program), 1);
  {
    frmSet dialog(account, QString::fromUtf8("自宅"));
    dialog.show();
    settle();
    save(dialog.grab(), "account.png");
    dialog.findChild<QTabWidget*>("TabStrip1")->setCurrentIndex(1);
    settle();
    save(dialog.grab(), "rules.png");
  }
  {
    frmSetC dialog(program / "setting.ini");
    dialog.show();
    settle();
    save(dialog.grab(), "mailer.png");
    dialog.findChild<QTabWidget*>("TabStrip1")->setCurrentIndex(1);
    settle();
    save(dialog.grab(), "receive-settings.png");
  }
  {
    Form1 form(dir.path());
    form.show();
    settle();
    FolderTree* tv = form.fTree();
    QTest::mousePress(tv->viewport(), Qt::LeftButton, {}, tv->visualItemRect(form.fNode("受信箱01")).center());
    QTreeView* list = form.fListView();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(form.fListModel()->index(0, 0)).center());
    settle();
    save(form.grab(), "main.png");
    QMenu* menu = form.fMenu(Form1::Menu::List);
    menu->popup(QPoint(0, 0));
    settle();
    save(menu->grab(), "list-menu.png");
    menu->hide();
    form.sRunMenuItem(Form1::Menu::List, 0);
    settle();
    if (QWidget* composer = form.fComposer()) save(composer->grab(), "compose.png");
  }
  if (!stale.isEmpty()) {
    std::fprintf(stderr, "Pictures that no longer match their window (run quillbrook-guide-shots %s): %s\n",
                 "doc/guide/images", qPrintable(stale.join(", ")));
    return 1;
  }
  return 0;
}
