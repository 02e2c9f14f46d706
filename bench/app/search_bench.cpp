// The window while the search index is built from nothing over a store made by
// bench_search_transfer (100,000 mails): how long the build takes inside the program and
// the longest stall of the event loop meanwhile. Prints figures.
// Usage: bench_app_search program-dir   (the "program" folder bench_search_transfer made)
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

#include "search/index.h"
#include "ui/main/Form1.h"
#include "ui/main/MailSearch.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_app_search program-dir\n");
    return 2;
  }
  const fs::path program = argv[1];
  std::error_code ec;
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(search::fIndexFile(program).native() + suffix, ec);
  QApplication app(argc, argv);
  Form1 form(QString::fromStdString(program.string()));
  if (!form.fStarted()) return 1;
  form.show();
  auto* search = form.findChild<MailSearch*>();
  if (!search) return 1;

  QElapsedTimer sinceTick, total;
  qint64 longest = 0;
  QTimer ticker;
  ticker.setInterval(5);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    longest = std::max(longest, sinceTick.restart());
  });
  bool ok = false;
  QObject::connect(search, &MailSearch::indexSynced, [&](bool synced) {
    ok = synced;
    std::printf("index build in the window: %.1f s, %s; longest event-loop stall %lld ms\n",
                total.elapsed() / 1000.0, ok ? "done" : "failed", static_cast<long long>(longest));
    app.quit();
  });
  QTimer::singleShot(0, [&] {
    total.start();
    sinceTick.start();
    ticker.start();
    search->sSyncIndex();
  });
  app.exec();
  return ok ? 0 : 1;
}
