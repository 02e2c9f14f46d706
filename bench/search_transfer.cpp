// Import, index and search on a store of 100,000 mails with Japanese bodies (about 1 GB
// as an mbox: a text part and an attachment each). Prints figures; asserts nothing.
// Usage: bench_search_transfer [work-dir]   (the mbox is made there once and reused)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "search/index.h"
#include "search/normalize.h"
#include "store/mailstore.h"
#include "transfer/transfer.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMails = 100000;
constexpr int kAccounts = 10;
constexpr int kFoldersPerAccount = 10;
constexpr int kBigFolder = 10000;  // the listed folder of the filter figure

const char* const kWords[] = {
    "会議", "資料", "確認", "お願い", "予定", "来週", "今月", "見積書", "請求書", "納品",
    "打ち合わせ", "案件", "進捗", "報告", "担当", "変更", "連絡", "ご検討", "よろしく", "お世話",
    "になっております", "します", "ください", "でした", "について", "東京", "大阪", "出張", "システム", "サーバ",
    "メンテナンス", "プロジェクト", "スケジュール", "デザイン", "テスト", "リリース", "mail", "server", "schedule", "report",
    "ＡＢＣ", "１２３", "ｶﾀｶﾅ", "。", "、", "の", "を", "に", "は", "が"};

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

std::string sentence(std::mt19937& rng, int words) {
  std::string s;
  for (int i = 0; i < words; ++i) s += kWords[rng() % std::size(kWords)];
  return s;
}

std::string base64Block(std::mt19937& rng, std::size_t bytes) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes; ++i) {
    out += table[rng() % 64];
    if (i % 76 == 75) out += '\n';
  }
  return out + "\n";
}

void makeMbox(const fs::path& file) {
  std::FILE* f = std::fopen(file.c_str(), "wb");
  std::mt19937 rng(22);
  for (int i = 0; i < kMails; ++i) {
    std::string body;
    for (int line = 0; line < 16; ++line) body += sentence(rng, 12) + "\n";
    if (i == 4242) body += "特別な合言葉は朱鷺色の万年筆です。\n";  // one mail holds a rare phrase
    std::fprintf(f,
                 "From sender%d@example.jp Mon Nov 30 09:15:02 2026\n"
                 "From: sender%d@example.jp\nTo: user@example.jp\nSubject: %s %d\n"
                 "Date: Mon, 30 Nov 2026 09:15:00 +0900\nMessage-ID: <bench%d@example.jp>\n"
                 "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n"
                 "--b\nContent-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n\n%s"
                 "--b\nContent-Type: application/octet-stream; name=a.bin\nContent-Transfer-Encoding: base64\n\n%s"
                 "--b--\n\n",
                 i % 500, i % 500, sentence(rng, 3).c_str(), i, i, body.c_str(), base64Block(rng, 7600).c_str());
  }
  std::fclose(f);
}

std::uintmax_t treeSize(const fs::path& dir) {
  std::uintmax_t total = 0;
  for (auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) total += e.file_size();
  return total;
}

// Imports in a child process, so its peak memory is the import's own.
void timedImport(const fs::path& mbox, const fs::path& folder, const char* label) {
  std::fflush(stdout);  // or the child prints it again
  auto t0 = Clock::now();
  pid_t child = fork();
  if (child == 0) {
    auto r = transfer::fImport(mbox, folder);
    std::printf("  %s: stored %zu, duplicates %zu, error \"%s\"\n", label, r.stored, r.duplicates, r.error.c_str());
    std::fflush(stdout);
    _exit(0);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  std::printf("  %s: %.1f s, peak memory %ld MB\n", label, seconds(t0, Clock::now()), usage.ru_maxrss / 1024);
}

template <class F>
double medianMs(int runs, F f) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    f();
    t.push_back(seconds(t0, Clock::now()) * 1000);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "qb_bench_search";
  fs::create_directories(work);
  const fs::path mbox = work / "bench.mbox";
  if (!fs::exists(mbox)) {
    auto t0 = Clock::now();
    makeMbox(mbox);
    std::printf("made %s (%.0f MB) in %.1f s\n", mbox.c_str(), fs::file_size(mbox) / 1e6, seconds(t0, Clock::now()));
  }
  const fs::path program = work / "program";
  if (argc > 2 && std::string(argv[2]) == "search-only") {
    // The searches again on the store and index made by an earlier run.
    search::MailIndex index(search::fIndexFile(program));
    for (const char* query : {"朱鷺色の万年筆", "万年筆", "見積書 大阪", "出張"}) {
      std::size_t listed = 0;
      const double folders = medianMs(5, [&] { search::fStoreFolders(program); });
      const double ms = medianMs(5, [&] { listed = search::fSearchStore(program, &index, query, 5000).paths.size(); });
      std::printf("\"%s\": %zu listed, median %.1f ms (of which the folder walk %.1f ms)\n", query, listed, ms, folders);
    }
    return 0;
  }
  const bool indexOnly = argc > 2 && std::string(argv[2]) == "index-only";  // on the store of an earlier run
  if (!indexOnly) fs::remove_all(program);
  const fs::path prefix = mailstore::fAccountPrefix(program);
  if (!indexOnly)
    for (int a = 1; a <= kAccounts; ++a) mailstore::fCreateAccount(prefix);
  const fs::path inbox = mailstore::fAccountFolder(prefix, 1) / mailstore::fPath("受信箱");
  std::size_t mailCount = 0;
  if (indexOnly) {
    std::error_code ec;
    for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(search::fIndexFile(program).native() + suffix, ec);
  } else {
    std::printf("import of %d mails (%.0f MB mbox):\n", kMails, fs::file_size(mbox) / 1e6);
    timedImport(mbox, inbox, "first run");
    timedImport(mbox, inbox, "same file again");

    // Spread over 100 folders; the first keeps 10,000 mails.
    auto files = mailstore::fListMailFiles(inbox);
    mailCount = files.size();
    std::sort(files.begin(), files.end());
    for (std::size_t i = kBigFolder; i < files.size(); ++i) {
      const std::size_t slot = (i - kBigFolder) % (kAccounts * kFoldersPerAccount - 1) + 1;
      fs::path folder = mailstore::fAccountFolder(prefix, static_cast<int>(slot / kFoldersPerAccount) + 1) /
                        ("folder" + std::to_string(slot % kFoldersPerAccount));
      fs::create_directories(folder);
      fs::rename(files[i], folder / files[i].filename());
    }
  }
  const auto folders = search::fStoreFolders(program);
  if (indexOnly)
    for (const fs::path& folder : folders) mailCount += mailstore::fListMailFiles(folder).size();
  std::printf("store: %zu folders, %zu mails, %.0f MB of mail files\n", folders.size(), mailCount,
              treeSize(program / "MailBox") / 1e6);

  // The index from nothing, then a sync with nothing to do (the check before searching).
  search::MailIndex index(search::fIndexFile(program));
  auto t0 = Clock::now();
  double longestStep = 0;
  auto last = Clock::now();
  index.fSync(folders, [&](std::size_t, std::size_t) {
    longestStep = std::max(longestStep, seconds(last, Clock::now()));
    last = Clock::now();
    return true;
  });
  std::printf("index build: %.1f s (longest gap between progress reports %.0f ms); index file %.0f MB\n",
              seconds(t0, Clock::now()), longestStep * 1000, index.fFileSize() / 1e6);
  std::printf("sync with nothing changed: %.1f ms\n", medianMs(5, [&] { index.fSync(folders); }));

  for (const char* query : {"朱鷺色の万年筆", "万年筆", "見積書 大阪", "server report", "出張", "abc123"}) {
    std::size_t hits = 0, listed = 0;
    const double ms = medianMs(5, [&] { hits = search::fSearchStore(program, &index, query).paths.size(); });
    // As the window asks: at most the 5,000 rows it lists.
    const double capped = medianMs(5, [&] { listed = search::fSearchStore(program, &index, query, 5000).paths.size(); });
    std::printf("all-folders search \"%s\" with index: %zu hits, median %.1f ms; first %zu, median %.1f ms\n", query,
                hits, ms, listed, capped);
  }
  {
    std::vector<fs::path> big = {inbox};
    std::size_t hits = 0;
    const double ms = medianMs(1, [&] { hits = search::fSearchFiles(folders, "朱鷺色の万年筆").size(); });
    std::printf("all-folders search from the files (no index): %zu hits, %.0f ms\n", hits, ms);
  }

  // The listed folder's filter: 10,000 rows of subject and sender, one key press each.
  std::vector<std::string> rows;
  std::mt19937 rng(7);
  for (int i = 0; i < kBigFolder; ++i)
    rows.push_back(search::fNormalize(sentence(rng, 3) + " " + std::to_string(i)) + "\x1f" + "sender@example.jp");
  for (const char* typed : {"会", "会議", "会議資", "見積書 ｶﾀｶﾅ"}) {
    std::size_t n = 0;
    const double ms = medianMs(9, [&] { n = search::fFilter(rows, typed).size(); });
    std::printf("filter of %d rows \"%s\": %zu rows, median %.2f ms\n", kBigFolder, typed, n, ms);
  }
  return 0;
}
