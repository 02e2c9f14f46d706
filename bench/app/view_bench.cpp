// Showing big mails in the main window: a mail of about 85 MB and one of about 500 MB
// (a short text part and large base64 attachments) and a single-part mail with 100 MB
// of text. For each: the time from the list click to the text shown in the viewer and to
// the attachment list filled, and the longest stall of the event loop meanwhile (a 2 ms
// timer's largest gap). Prints
// figures. Usage: bench_app_view [program-dir]  (the store is made there once and reused)
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QListWidget>
#include <QTimer>
#include <QTreeView>
#include <cstdio>
#include <fstream>

#include "../mail/bigmail.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/common/Footy.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace {

const char* kMails[] = {"big85.eml", "big500.eml", "hugetext.eml"};

void makeStore(const fs::path& program) {
  fs::path inbox = mailstore::fAccountFolder(mailstore::fAccountPrefix(program), 1) / mailstore::fPath("受信箱");
  fs::create_directories(inbox);
  for (const char* sub : {"送信箱/下書き", "送信箱/送信待ち", "ごみ箱"}) {
    fs::create_directories(inbox.parent_path() / mailstore::fPath(sub));
  }
  const std::string text = bigmail::japaneseText(4000);
  bigmail::writeAttachmentMail(inbox / kMails[0], text, bigmail::attachmentsFor(85));
  bigmail::writeAttachmentMail(inbox / kMails[1], text, bigmail::attachmentsFor(500));
  bigmail::writeHugeTextMail(inbox / kMails[2], 100);
  std::ofstream(program / "MailBox" / ".complete") << 1;
}

struct Shown {
  double ms = -1;        // the text in the viewer
  double listedMs = -1;  // the attachment list filled too
  double stallMs = 0;
};

// Clicks the mail's row and runs the event loop until its text is in the viewer.
Shown clickAndWait(Form1& form, const QString& path, int attachments) {
  FootyWriteEnable(0, true);
  FootySetText(0, QString());
  FootyWriteEnable(0, false);
  const int row = form.fListModel()->fFindPath(path);
  if (row < 0) return {};
  const QModelIndex index = form.fListModel()->index(row, 0);
  form.fListView()->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  QApplication::processEvents();

  Shown shown;
  QElapsedTimer clock, tick;
  QEventLoop loop;
  QTimer ticker;
  ticker.setInterval(2);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    shown.stallMs = std::max(shown.stallMs, tick.nsecsElapsed() / 1e6);
    tick.restart();
    if (clock.elapsed() > 60000) loop.quit();
    if (shown.ms < 0) {
      if (FootyGetTextLength(0) < 100) return;
      QString text;
      FootyGetText(0, text, 4);
      if (!text.startsWith(QStringLiteral("お世話になっております"))) return;
      shown.ms = clock.nsecsElapsed() / 1e6;
    }
    if (form.findChild<QListWidget*>(QStringLiteral("List1"))->count() < attachments) return;
    shown.listedMs = clock.nsecsElapsed() / 1e6;
    loop.quit();
  });
  QTimer::singleShot(0, &form, [&] {
    clock.start();
    tick.start();
    ticker.start();
    form.ListView1_ItemClick();
  });
  loop.exec();
  return shown;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  fs::path program = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "qb_bench_view";
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
  form.sFillReceivedList(folder);
  for (int run = 0; run < 2; ++run) {
    for (const char* name : kMails) {
      const fs::path file = folder / name;
      const int attachments = std::string(name) == "hugetext.eml" ? 0 : 2;
      Shown s = clickAndWait(form, QString::fromStdString(mailstore::fUtf8(file)), attachments);
      std::printf("run %d %-13s (%6.1f MB): text shown after %7.1f ms, %d attachment line(s) after %7.1f ms, "
                  "longest event-loop stall %6.1f ms\n",
                  run, name, static_cast<double>(fs::file_size(file)) / (1024 * 1024), s.ms, attachments, s.listedMs,
                  s.stallMs);
    }
  }
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak RSS of the program: %.1f MB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
