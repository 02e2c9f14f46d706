// Filling the mail list from a folder of 10,000 mails (or as many as asked, such as
// 100,000) in mixed encodings and showing it: the first open with no remembered headers,
// then the opens after it, and how long the check of the shown rows takes behind them;
// the program's memory afterwards (HTML view not opened), and re-sorting by each column
// both ways. Prints figures.
// Usage: bench_app_list [mails [program-dir [remembered]]]  (the store is made there once
// and reused; with "remembered" the first open uses the headers a former run remembered)
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <fstream>
#include <string>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace {

int kMails = 10000;

void makeStore(const fs::path& program) {
  fs::path inbox = mailstore::fAccountFolder(mailstore::fAccountPrefix(program), 1) / mailstore::fPath("受信箱");
  fs::create_directories(inbox);
  for (const char* sub : {"送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) {
    fs::create_directories(inbox.parent_path() / mailstore::fPath(sub));
  }
  const std::string body(3000, 'x');
  std::string icon = "[Icon]\r\n";
  for (int i = 0; i < kMails; ++i) {
    std::string subject, from;
    switch (i % 4) {
      case 0: subject = "=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " + std::to_string(i); break;  // テスト
      case 1: subject = "=?UTF-8?B?5Lu25ZCN?= " + std::to_string(i); break;                // 件名
      case 2: subject = "\x83\x5c\x95\x5c " + std::to_string(i); break;                     // ソ表, raw CP932
      default: subject = "plain subject " + std::to_string(i); break;
    }
    from = i % 2 ? "=?ISO-2022-JP?B?GyRCOjRGIxsoQg==?= <sato@example.jp>" : "user" + std::to_string(i) + "@example.jp";
    char date[64];
    std::snprintf(date, sizeof date, "Mon, %02d Jan 2024 %02d:%02d:%02d +0900", 1 + i % 28, i % 24, i % 60,
                  (i / 60) % 60);
    std::ofstream(inbox / ("m" + std::to_string(i) + ".eml"), std::ios::binary)
        << "Received: from mx.example.jp\r\nFrom: " << from << "\r\nTo: me@example.jp\r\nSubject: " << subject
        << "\r\nDate: " << date << "\r\nMessage-ID: <" << i << "@example.jp>\r\nMIME-Version: 1.0\r\n"
        << "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n" << body << "\r\n";
    if (i % 3 == 0) icon += "m" + std::to_string(i) + ".eml=6\r\n";
  }
  std::ofstream(inbox / "icon.ini", std::ios::binary) << icon;
  std::ofstream(program / "MailBox" / ".complete") << kMails;
}

long rssKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc > 1) kMails = std::stoi(argv[1]);
  fs::path program = argc > 2 ? fs::path(argv[2])
                              : fs::temp_directory_path() /
                                    (kMails == 10000 ? "qb_bench_list" : "qb_bench_list_" + std::to_string(kMails));
  if (!fs::exists(program / "MailBox" / ".complete")) {
    fs::remove_all(program);
    makeStore(program);
  }
  Form1 form(QString::fromStdString(mailstore::fUtf8(program)));
  form.resize(1000, 700);
  form.show();
  QApplication::processEvents();
  QTreeWidgetItem* inbox = form.fNode(QStringLiteral("受信箱01"));
  const fs::path folder = form.fNodeFolder(inbox);
  // Waits for the check of the rows just listed; its time since `t` started.
  auto waitChecked = [&](const QElapsedTimer& t) {
    QEventLoop loop;
    QObject::connect(form.fListModel(), &MailListModel::checked, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    return t.nsecsElapsed() / 1e6;
  };
  // The first open ever: no headers remembered (unless asked for).
  const bool remembered = argc > 3 && std::string(argv[3]) == "remembered";
  for (const auto& e : fs::directory_iterator(folder.parent_path())) {
    if (!remembered && e.path().filename().string().rfind(".list-", 0) == 0) fs::remove(e.path());
  }
  {
    QElapsedTimer t;
    t.start();
    int n = form.sFillReceivedList(folder);
    const double filled = t.nsecsElapsed() / 1e6;
    form.fListView()->viewport()->repaint();
    QApplication::processEvents();
    const double shown = t.nsecsElapsed() / 1e6;
    std::printf("first open%s: %d rows, fill %.1f ms, fill+show %.1f ms, checked and remembered after %.1f ms\n",
                remembered ? " (headers remembered)" : "", n, filled, shown, waitChecked(t));
  }
  for (int run = 0; run < 5; ++run) {
    QElapsedTimer t;
    t.start();
    int n = form.sFillReceivedList(folder);
    const double filled = t.nsecsElapsed() / 1e6;
    form.fListView()->viewport()->repaint();  // the rows drawn on screen
    QApplication::processEvents();
    const double shown = t.nsecsElapsed() / 1e6;
    std::printf("run %d: %d rows, fill %.1f ms, fill+show %.1f ms, checked after %.1f ms\n", run, n, filled, shown,
                waitChecked(t));
  }
  std::printf("memory after fill (RSS): %.1f MB\n", rssKb() / 1024.0);
  for (int column : {1, 1, 2, 2, 3, 3}) {
    QElapsedTimer t;
    t.start();
    form.sSortByColumn(column);
    form.fListView()->viewport()->repaint();
    std::printf("sort by column %d (%s): %.1f ms\n", column,
                form.fListModel()->fSortOrder() == Qt::AscendingOrder ? "ascending" : "descending",
                t.nsecsElapsed() / 1e6);
  }
  std::printf("memory after sorting (RSS): %.1f MB\n", rssKb() / 1024.0);
  return 0;
}
