// Start-up to a shown main window over a large store: 99 accounts, 20 user folders
// each, 100,000 mails in all, a third of them read; then the same over 1,000,000 tiny
// mails: when the window is shown and answers, when the counts are all in, the longest
// stall of the event loop meanwhile, and a full recount. Prints figures.
// Usage: bench_app_startup [program-dir [million-program-dir]]  (each store is made
// there once and reused)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <fstream>

#include <fcntl.h>
#include <unistd.h>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "store/folderTree.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;

namespace {

constexpr int kAccounts = 99;
constexpr int kUserFolders = 20;
constexpr int kMails = 100000;
constexpr int kMillion = 1000000;

// Tiny mails written with plain system calls: a million files take long enough as it is.
void writeSmall(const fs::path& file, const std::string& bytes) {
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  if (::write(fd, bytes.data(), bytes.size()) < 0) std::perror("write");
  ::close(fd);
}

void makeStore(const fs::path& program, int mails, size_t bodySize) {
  fs::path prefix = mailstore::fAccountPrefix(program);
  const std::string body(bodySize, 'x');
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
    int share = (mails - made) / (kAccounts - a + 1);
    for (size_t i = 0; i < folders.size(); ++i) {
      int n = share / static_cast<int>(folders.size()) + (i == 0 ? share % static_cast<int>(folders.size()) : 0);
      std::string icon = "[Icon]\r\n";
      for (int m = 0; m < n; ++m) {
        std::string name = "mail" + std::to_string(m) + ".eml";
        writeSmall(folders[i] / name, "Subject: test " + std::to_string(m) + "\r\nFrom: a@example.jp\r\n\r\n" + body);
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

// Folder nodes whose count is not shown yet.
int missingCounts(Form1& form) {
  int missing = 0;
  QTreeWidget* tv = form.fTree();
  std::vector<QTreeWidgetItem*> stack;
  for (int i = 0; i < tv->topLevelItemCount(); ++i) stack.push_back(tv->topLevelItem(i));
  while (!stack.empty()) {
    QTreeWidgetItem* item = stack.back();
    stack.pop_back();
    if (item->parent() && item->data(0, FolderTree::kCountRole).toString().isEmpty()) ++missing;
    for (int i = 0; i < item->childCount(); ++i) stack.push_back(item->child(i));
  }
  return missing;
}

// The million-mail store: shown, answering, counts in, and the longest event-loop stall
// from the start of the load until the counts are in.
void runMillion(const fs::path& program) {
  if (!fs::exists(program / "MailBox" / ".complete")) {
    fs::remove_all(program);
    QElapsedTimer t;
    t.start();
    makeStore(program, kMillion, 0);
    std::printf("million store made in %.1f s\n", t.elapsed() / 1000.0);
  }
  folderTree::fBuildNodes(program);  // warm the page cache
  std::vector<double> shown, answered, counted, stall, recount;
  for (int run = 0; run < 5; ++run) {
    QElapsedTimer t;
    t.start();
    Form1 form(QString::fromStdString(mailstore::fUtf8(program)));
    form.show();
    while (!form.windowHandle() || !form.windowHandle()->isExposed()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    shown.push_back(t.nsecsElapsed() / 1e6);
    // A posted event stands for a click: it is handled once the loop runs again.
    bool handled = false;
    QTimer::singleShot(0, &form, [&] { handled = true; });
    while (!handled) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    answered.push_back(t.nsecsElapsed() / 1e6);
    qint64 last = t.nsecsElapsed(), worst = 0;
    while (missingCounts(form) > 0) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      const qint64 now = t.nsecsElapsed();
      worst = std::max(worst, now - last);
      last = now;
      if (now > 60e9) break;
    }
    counted.push_back(t.nsecsElapsed() / 1e6);
    stall.push_back(worst / 1e6);
    t.restart();
    form.sMailCount();
    recount.push_back(t.nsecsElapsed() / 1e6);
    form.close();
  }
  std::printf("million store: nodes %zu, mails %d (tiny)\n", folderTree::fBuildNodes(program).size(), kMillion);
  std::printf("  window shown:                median %.1f ms (first run %.1f ms)\n", median(shown), shown[0]);
  std::printf("  first event handled:         median %.1f ms\n", median(answered));
  std::printf("  every count shown:           median %.1f ms (first run %.1f ms)\n", median(counted), counted[0]);
  std::printf("  longest loop stall after shown, until counts in: median %.1f ms (first run %.1f ms)\n",
              median(stall), stall[0]);
  std::printf("  full recount (sMailCount):   median %.1f ms\n", median(recount));
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  fs::path program = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "qb_bench_startup";
  if (!fs::exists(program / "MailBox" / ".complete")) {
    fs::remove_all(program);
    QElapsedTimer t;
    t.start();
    makeStore(program, kMails, 3000);
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
  runMillion(argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "qb_bench_startup_1m");
  return 0;
}
