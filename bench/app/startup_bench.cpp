// Start-up to a shown main window over a large store: 99 accounts, 20 user folders
// each, 100,000 mails in all, a third of them read. Prints figures.
// Usage: bench_app_startup [program-dir]  (the store is made there once and reused)
#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <cstdio>
#include <fstream>

#include "app/Form1.h"
#include "store/folderTree.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;

namespace {

constexpr int kAccounts = 99;
constexpr int kUserFolders = 20;
constexpr int kMails = 100000;

void makeStore(const fs::path& program) {
  fs::path prefix = mailstore::fAccountPrefix(program);
  const std::string body(3000, 'x');
  int made = 0;
  for (int a = 1; a <= kAccounts; ++a) {
    fs::path account = mailstore::fAccountFolder(prefix, a);
    std::vector<fs::path> folders;
    for (const char* sub : {"受信箱", "送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) {
      fs::create_directories(account / mailstore::fPath(sub));
    }
    folders.push_back(account / mailstore::fPath("受信箱"));
    for (int f = 0; f < kUserFolders; ++f) {
      fs::path user = account / ("folder" + std::to_string(f));
      if (f % 4 == 3) user = account / mailstore::fPath("受信箱") / ("sub" + std::to_string(f));
      fs::create_directories(user);
      folders.push_back(user);
    }
    folders.push_back(account / mailstore::fPath("ごみ箱"));
    int share = (kMails - made) / (kAccounts - a + 1);
    for (size_t i = 0; i < folders.size(); ++i) {
      int n = share / static_cast<int>(folders.size()) + (i == 0 ? share % static_cast<int>(folders.size()) : 0);
      std::string icon = "[Icon]\r\n";
      for (int m = 0; m < n; ++m) {
        std::string name = "mail" + std::to_string(m) + ".eml";
        std::ofstream(folders[i] / name, std::ios::binary)
            << "Subject: test " << m << "\r\nFrom: a@example.jp\r\n\r\n" << body;
        if (m % 3 == 0) icon += name + "=6\r\n";
      }
      std::ofstream(folders[i] / "icon.ini", std::ios::binary) << icon;
      made += n;
    }
  }
  std::ofstream(program / "MailBox" / ".complete") << made;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  fs::path program = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "qb_bench_startup";
  if (!fs::exists(program / "MailBox" / ".complete")) {
    fs::remove_all(program);
    QElapsedTimer t;
    t.start();
    makeStore(program);
    std::printf("store made in %.1f s\n", t.elapsed() / 1000.0);
  }

  std::vector<double> build, shown;
  size_t nodeCount = 0;
  for (int run = 0; run < 5; ++run) {
    QElapsedTimer t;
    t.start();
    nodeCount = folderTree::fBuildNodes(program).size();
    build.push_back(t.nsecsElapsed() / 1e6);

    t.restart();
    {
      Form1 form(QString::fromStdString(mailstore::fUtf8(program)));
      form.show();
      while (!form.windowHandle() || !form.windowHandle()->isExposed()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      }
      QCoreApplication::processEvents();
      shown.push_back(t.nsecsElapsed() / 1e6);
      form.close();
    }
  }
  std::printf("nodes: %zu (99 accounts, %d user folders each), mails: %d\n", nodeCount, kUserFolders, kMails);
  std::printf("tree data from disk (counting):  median %.1f ms\n", median(build));
  std::printf("start-up to a shown window:      median %.1f ms (first run %.1f ms)\n", median(shown), shown[0]);
  return 0;
}
