// The address book window over 20 books holding 10,000 entries in all, half of them with
// readings: opening until the first book is shown, switching books, and saving with the
// [Speech] section. Prints medians and maxima of several runs.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "address/addressbook.h"
#include "ui/address/frmAddress.h"
#include "ui/main/Form1.h"
#include "store/mailstore.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBooks = 20;
constexpr int kEntries = 10000;

void makeBooks(const fs::path& ini) {
  std::vector<addressbook::Book> books;
  for (int b = 0; b < kBooks; ++b) {
    std::vector<addressbook::Entry> entries;
    for (int e = 0; e < kEntries / kBooks; ++e) {
      const std::string n = std::to_string(b * 1000 + e);
      entries.push_back({"山田 太郎" + n, "yamada" + n + "@example.jp", e % 2 ? "やまだ" + n : "",
                         e % 10 ? "" : "メモ\r\n二行目"});
    }
    books.push_back({"アドレス帳" + std::to_string(b), addressbook::fSerializeBook(entries)});
  }
  addressbook::fSave(ini, books);
}

struct Figures {
  std::vector<double> ms;
  void add(double v) { ms.push_back(v); }
  void print(const char* what) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %7.2f ms   max %7.2f ms   (%zu runs)\n", what, ms[ms.size() / 2],
                ms.back(), ms.size());
  }
};

double elapsedMs(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir dir;
  const fs::path program = mailstore::fPath(dir.path().toStdString());
  makeBooks(program / "setting.ini");
  std::printf("setting.ini: %ju bytes, %d books, %d entries\n",
              static_cast<uintmax_t>(fs::file_size(program / "setting.ini")), kBooks, kEntries);

  Form1 form(dir.path());
  Figures open, change, save;
  for (int run = 0; run < 7; ++run) {
    QElapsedTimer t;
    t.start();
    form.sRunMenuItem(Form1::Menu::Set, 4);
    frmAddress* w = frmAddress::fCurrent();
    QApplication::processEvents();  // laid out and painted
    open.add(elapsedMs(t));
    auto* books = w->findChild<QTreeWidget*>("lv_0");
    for (int b = 1; b < kBooks; ++b) {
      t.restart();
      books->setCurrentItem(books->topLevelItem(b));
      QApplication::processEvents();
      change.add(elapsedMs(t));
    }
    t.restart();
    w->findChild<QPushButton*>("cmdMenu_0")->click();
    save.add(elapsedMs(t));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  open.print("open, first book shown");
  change.print("switch book (500 entries)");
  save.print("save with [Speech]");
  return 0;
}
