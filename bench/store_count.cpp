// Full recount of a large store: 99 accounts, 100,000 mails, half of them read.
// Prints the time of one recount (warm cache) and of fCountUnread on 20,000 mails.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

void fillFolder(const fs::path& folder, int mails, int& serial) {
  fs::create_directories(folder);
  std::string ini = "[Icon]\r\n";
  for (int i = 0; i < mails; ++i) {
    std::string name = "m" + std::to_string(serial++) + ".eml";
    std::ofstream(folder / name) << "Subject: x\r\n\r\nbody\r\n";
    if (i % 2 == 0) ini += name + "=6\r\n";
  }
  std::ofstream(folder / "icon.ini", std::ios::binary) << ini;
}

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

}  // namespace

int main(int argc, char** argv) {
  fs::path root = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "qb-bench-store";
  fs::remove_all(root);
  fs::path prefix = mailstore::fAccountPrefix(root);
  int serial = 0;
  const int perAccount = 100000 / 99;
  for (int n = 1; n <= 99; ++n) {
    mailstore::fCreateAccount(prefix);
    fs::path acc = mailstore::fAccountFolder(prefix, n);
    fillFolder(acc / mailstore::fPath("受信箱"), perAccount - 10, serial);
    fillFolder(acc / mailstore::fPath("ごみ箱"), 10, serial);
  }
  auto folders = std::vector<fs::path>{};
  for (int n : mailstore::fScanAccounts(prefix)) {
    for (auto& e : fs::recursive_directory_iterator(mailstore::fAccountFolder(prefix, n))) {
      if (e.is_directory()) folders.push_back(e.path());
    }
  }
  auto recount = [&] {
    long total = 0;
    for (auto& f : folders) {
      total += f.filename() == mailstore::fPath("ごみ箱") ? mailstore::fCountFiles(f)
                                                          : mailstore::fCountUnread(f);
    }
    return total;
  };
  recount();  // warm the cache
  double best = 1e9;
  long counted = 0;
  for (int i = 0; i < 5; ++i) {
    auto t0 = Clock::now();
    counted = recount();
    best = std::min(best, seconds(t0, Clock::now()));
  }
  std::printf("full recount: %zu folders, %d mails, %ld counted: best of 5 %.3f s\n",
              folders.size(), serial, counted, best);

  fs::path big = root / "big";
  fillFolder(big, 20000, serial);
  mailstore::fCountUnread(big);
  auto t0 = Clock::now();
  int unread = mailstore::fCountUnread(big);
  std::printf("fCountUnread on 20,000 mails: %d unread, %.4f s\n", unread, seconds(t0, Clock::now()));
  fs::remove_all(root);
  return 0;
}
