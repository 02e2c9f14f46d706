#pragma once
// Real program folders for window tests: setting.ini, MailBox, accounts, mails, icon.ini.
#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QObject>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <QTemporaryDir>
#include <QUrl>
#include <filesystem>
#include <fstream>
#include <string>

#include "ui/common/SpeechEngine.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "store/modCommon.h"

namespace fixture {

// Everything the program said, in order (install with Form1::sSetSpeechFactory).
inline QStringList g_spoken;

class RecordingSpeech : public SpeechEngine {
 public:
  void sPlay(const std::string& phonetic) override { g_spoken << QString::fromStdString(phonetic); }
};

// Records the URLs handed to the desktop's opener (install it with
// QDesktopServices::setUrlHandler(scheme, &recorder, "open")).
class OpenRecorder : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened << url; }
};

// Answers the real message boxes the program shows next, one button text per box in
// order, and keeps their texts. A box with no answer left stays open (the test fails on
// its timeout).
class BoxAnswerer : public QObject {
 public:
  explicit BoxAnswerer(QStringList answers) : answers_(std::move(answers)) {
    connect(&timer_, &QTimer::timeout, this, [this] { sAnswer(); });
    timer_.start(10);
  }
  QStringList texts;
  bool fDone() const { return answers_.isEmpty(); }

 private:
  void sAnswer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || box == last_ || answers_.isEmpty()) return;
    for (QAbstractButton* button : box->buttons()) {
      if (button->text() != answers_.front()) continue;
      last_ = box;
      texts << box->text();
      answers_.removeFirst();
      button->click();
      return;
    }
  }
  QStringList answers_;
  QTimer timer_;
  QPointer<QMessageBox> last_;
};

namespace fs = std::filesystem;

inline fs::path P(const QTemporaryDir& dir) { return mailstore::fPath(dir.path().toStdString()); }

inline void setting(const fs::path& program, const std::string& key, const std::string& value) {
  mod_ini::fWriteIniString("Mail", key, value, program / "setting.ini");
}

inline std::string settingValue(const fs::path& program, const std::string& key) {
  return mod_ini::fGetIniString("Mail", key, program / "setting.ini", "<none>");
}

// Account NN with its standard folders and, when given, its stored name.
inline fs::path account(const fs::path& program, int number, const std::string& name = "") {
  fs::path folder = mailstore::fAccountFolder(mailstore::fAccountPrefix(program), number);
  for (const char* sub : {"受信箱", "送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) {
    fs::create_directories(folder / mailstore::fPath(sub));
  }
  if (!name.empty()) modCommon::sSetAccountValue(folder, "Account", name);
  return folder;
}

// A mail file; `read` writes its icon.ini entry "6".
inline fs::path mail(const fs::path& folder, const std::string& name, bool read = false) {
  fs::create_directories(folder);
  fs::path file = folder / mailstore::fPath(name);
  std::ofstream(file, std::ios::binary) << "Subject: t\r\nFrom: a@example.jp\r\n\r\nbody\r\n";
  if (read) mailstore::sMarkRead(folder, name);
  return file;
}

// Shows a window (the main window, mostly) as the user sees it, at `size` when one is given; false when the
// window system does not show it.
inline bool shown(QWidget& form, QSize size = {}) {
  if (size.isValid()) form.resize(size);
  form.show();
  return QTest::qWaitForWindowExposed(&form);
}

inline std::string u8(const fs::path& p) { return mailstore::fUtf8(p); }

// The whole file; empty when it cannot be read.
inline std::string bytesOf(const fs::path& file) { return fsutil::fReadFile(file).value_or(""); }

}  // namespace fixture
