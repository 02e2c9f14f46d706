// The composer: opening it as a reply to a 1 MB mail with 500 fixed phrases, and the
// longest stall of the window's event loop while a 20 MB attachment is sent to the test
// SMTP sink. Prints figures.
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "ui/main/FolderTree.h"
#include "ui/main/Form1.h"
#include "ui/main/MailListModel.h"
#include "ui/compose/frmEdit.h"
#include "compose/phrases.h"
#include "mailservers.h"
#include "store/mailstore.h"
#include "store/modCommon.h"

namespace fs = std::filesystem;

namespace {

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

fs::path makeProgram(const fs::path& program, const std::string& smtp) {
  fs::remove_all(program);
  const fs::path account = mailstore::fAccountFolder(mailstore::fAccountPrefix(program), 1);
  for (const char* sub : {"受信箱", "送信箱/下書き", "送信箱/送信待ち", "ごみ箱"})
    fs::create_directories(account / mailstore::fPath(sub));
  modCommon::sSetAccountValue(account, "Account", "bench");
  modCommon::sSetAccountValue(account, "Address", "alice@localhost");
  modCommon::sSetAccountValue(account, "SMTP", smtp);
  std::vector<std::string> list;
  for (int i = 0; i < 500; ++i)
    list.push_back("定型文その" + std::to_string(i) + "：いつもお世話になっております。");
  phrases::fSave(program / "setting.ini", list);
  // A 1 MB plain mail of 70-character lines.
  std::ofstream mail(account / mailstore::fPath("受信箱/big.eml"), std::ios::binary);
  mail
      << "From: Sato <sato@example.jp>\r\nTo: alice@localhost\r\nSubject: big\r\n"
         "Date: Mon, 01 Jan 2024 10:00:00 +0000\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n";
  const std::string line = std::string(68, 'x') + "\r\n";
  for (size_t n = 0; n < (1u << 20) / line.size(); ++n) mail << line;
  std::ofstream(program / "big.bin", std::ios::binary) << std::string(20u << 20, 'z');
  return account;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  auto servers = qbtest::MailServers::fStartForLibrary(60);
  const fs::path program = fs::temp_directory_path() / "qb_bench_compose";
  makeProgram(program, servers ? servers->smtpServer() : "127.0.0.1:1");

  auto owner = std::make_unique<Form1>(QString::fromStdString(mailstore::fUtf8(program)));
  Form1& form = *owner;
  form.resize(900, 600);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) return 1;
  form.fTree()->expandAll();
  QTreeWidgetItem* inbox = form.fNode(QStringLiteral("受信箱01"));
  QTest::mousePress(form.fTree()->viewport(), Qt::LeftButton, {},
                    form.fTree()->visualItemRect(inbox).center());
  QTreeView* list = form.fListView();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                    list->visualRect(form.fListModel()->index(0, 0)).center());

  std::vector<double> open;
  size_t phrases = 0;
  for (int run = 0; run < 7; ++run) {
    QElapsedTimer t;
    t.start();
    form.sRunMenuItem(Form1::Menu::List, 0);
    frmEdit* c = form.fComposer();
    QApplication::processEvents();  // shown and painted once
    open.push_back(t.nsecsElapsed() / 1e6);
    phrases = c->fPhrases().size();
    c->close();
    QApplication::processEvents();
  }
  std::printf("reply to a 1 MB mail with %zu phrases: open median %.1f ms (min %.1f, max %.1f)\n",
              phrases, median(open), *std::min_element(open.begin(), open.end()),
              *std::max_element(open.begin(), open.end()));

  if (!servers) return 0;
  form.mnuFileItem_Click(0);
  frmEdit* c = form.fComposer();
  c->fField(frmEdit::To)->setText(QStringLiteral("bob@localhost"));
  c->fField(frmEdit::Subject)->setText(QStringLiteral("20 MB"));
  c->fileDialog = [&] { return QStringList{QString::fromStdString(mailstore::fUtf8(program / "big.bin"))}; };
  c->sAddAttachment();
  // The probe fires every 5 ms; the longest gap between two firings is the worst stall.
  QElapsedTimer clock;
  clock.start();
  qint64 last = 0, worst = 0;
  int ticks = 0;
  QTimer probe;
  probe.setTimerType(Qt::PreciseTimer);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    if (ticks++ > 0) worst = std::max(worst, now - last);
    last = now;
  });
  probe.start(5);
  c->sSend();
  while (form.fComposer() && form.fComposer()->fSending())
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  probe.stop();
  std::printf(
      "send of a 20 MB attachment: %.2f s, %d probe ticks, longest event-loop stall %.1f ms; "
      "status: %s\n",
      clock.elapsed() / 1000.0, ticks, worst / 1e6, form.fStatus(1).toUtf8().constData());
  for (const auto& f : servers->stored("bob")) fs::remove(f);
  owner.reset();
  fs::remove_all(program);
  return 0;
}
