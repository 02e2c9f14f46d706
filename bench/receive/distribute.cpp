// Filing 1,000 freshly saved mails through 10 rules: the pure match alone, then the
// whole distribution step with its moves and read marks on disk. Headers come from memory
// (the mail library's reader is measured by its own benchmark).
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "receive/receive.h"
#include "receive/rules.h"
#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct NullDesktop : receive::DesktopServices {
  int calls = 0;
  void sOpenUrl(const std::string&) override { ++calls; }
  void sSendToBrowser(const std::string&) override { ++calls; }
  void sStartProgram(const std::string&) override { ++calls; }
};

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main() {
  constexpr int kMails = 1000;
  fs::path dir =
      fs::temp_directory_path() / ("qb-bench-distribute-" + std::to_string(std::random_device{}()));
  fs::remove_all(dir);
  fs::path prefix = mailstore::fAccountPrefix(dir);
  int number = mailstore::fCreateAccount(prefix);
  fs::path account = mailstore::fAccountFolder(prefix, number);
  fs::path inbox = account / mailstore::fPath(mailstore::kInbox);
  for (const char* sub : {"ml", "news", "shop", "boss"}) fs::create_directories(inbox / sub);
  fs::path settingIni = dir / "setting.ini";
  for (int i = 0; i < 20; ++i)
    mod_ini::fWriteIniString("Speech", "user" + std::to_string(i) + "@example.jp", "よみ",
                             settingIni);

  std::string rules =
      "差出人|ml-admin@|受信箱\\ml|2||[件名|news]|受信箱\\news|0||[差出人|shop@|受信箱\\shop|2||["
      "差出人|boss@|受信箱\\boss|0||[件名|至急||2||[宛先|team@||0||[本文|https://track.||8||["
      "本文|unsubscribe||0||[件名|Re:||0||[差出人|nobody-matches@||2||[";
  mod_ini::fWriteIniString("Mail", "Distribute", rules, account / "set.ini");

  std::map<std::string, std::vector<std::string>> headers;
  std::vector<fs::path> mails;
  const char* senders[] = {"ml-admin@example.jp", "shop@example.jp", "boss@example.jp",
                           "user3@example.jp", "friend@example.jp"};
  const char* subjects[] = {"[news] 今週の話題", "至急：確認", "Re: 打ち合わせ", "お知らせ"};
  std::string body(3000, 'x');
  for (int i = 0; i < kMails; ++i) {
    std::string name = "20240501" + std::to_string(100000 + i) + ".eml";
    std::ofstream(inbox / name, std::ios::binary) << "Subject: bench\r\n\r\n" << body;
    mails.push_back(inbox / name);
    headers[name] = {std::string("subject: ") + subjects[i % 4],
                     std::string("from: 名前 <") + senders[i % 5] + ">",
                     "date: 2024/05/01 10:00:00",
                     "to: team@example.jp",
                     "nofile: ",
                     "body: 本文\r\n" + body + "\r\nhttps://track.example.jp/" + std::to_string(i) +
                         "\r\nunsubscribe\r\n"};
  }
  receive::ReadMailFn readMail = [&](std::string_view file, std::string_view, std::string_view) {
    auto it = headers.find(mailstore::fUtf8(mailstore::fPath(file).filename()));
    return it == headers.end() ? mail::MailResult(std::string()) : mail::MailResult(it->second);
  };

  auto parsed = rulelist::usableRules(rules);
  auto t0 = Clock::now();
  size_t actions = 0;
  for (const auto& [name, h] : headers) actions += receive::fMatchRules(parsed, h).size();
  auto t1 = Clock::now();

  NullDesktop desktop;
  std::string speechSenders;
  for (const auto& m : mails)
    receive::sDistribute(m, account, settingIni, speechSenders, desktop, readMail);
  auto t2 = Clock::now();

  std::printf("rules: %zu, mails: %d, matching rule actions: %zu\n", parsed.size(), kMails,
              actions);
  std::printf("match only:          %8.2f ms total, %6.2f us per mail\n", ms(t1 - t0),
              ms(t1 - t0) * 1000 / kMails);
  std::printf("distribution step:   %8.2f ms total, %6.2f us per mail\n", ms(t2 - t1),
              ms(t2 - t1) * 1000 / kMails);
  std::printf("left in inbox: %zu, desktop calls: %d, readings: %zu bytes\n",
              mailstore::fListMailFiles(inbox).size(), desktop.calls, speechSenders.size());

  // The receive run's way: each mail planned from the bytes the library saved (read with
  // the library's own reader), then the plans applied with the read states held in memory
  // until the end.
  for (const char* sub : {"ml", "news", "shop", "boss"}) fs::remove_all(inbox / sub);
  for (const char* sub : {"ml", "news", "shop", "boss"}) fs::create_directories(inbox / sub);
  fs::remove(inbox / "icon.ini");
  std::vector<std::string> raw;
  for (int i = 0; i < kMails; ++i) {
    std::string m = std::string("From: =?UTF-8?B?5ZCN5YmN?= <") + senders[i % 5] +
                    ">\r\nTo: team@example.jp\r\nSubject: " + subjects[i % 4] +
                    "\r\nDate: Wed, 1 May 2024 10:00:00 +0900\r\nContent-Type: text/plain; "
                    "charset=UTF-8\r\n\r\n本文\r\n" + body + "\r\nhttps://track.example.jp/" +
                    std::to_string(i) + "\r\nunsubscribe\r\n";
    std::ofstream(mails[i], std::ios::binary) << m;
    raw.push_back(std::move(m));
  }
  const auto context = receive::FilingContext::fLoad(account, settingIni);
  auto t3 = Clock::now();
  std::vector<receive::FilingPlan> plans;
  plans.reserve(mails.size());
  for (int i = 0; i < kMails; ++i) plans.push_back(receive::fPlanFiling(mails[i], context, {}, &raw[i]));
  auto t4 = Clock::now();
  speechSenders.clear();
  {
    mailstore::IconBatch batch;
    for (size_t i = 0; i < mails.size(); ++i)
      receive::sApplyFiling(plans[i], mails[i], account, context, speechSenders, desktop, &batch);
    batch.fSave();
  }
  auto t5 = Clock::now();
  std::printf("plans made ahead:    %8.2f ms total, %6.2f us per mail\n", ms(t4 - t3),
              ms(t4 - t3) * 1000 / kMails);
  std::printf("plans applied:       %8.2f ms total, %6.2f us per mail (left in inbox: %zu)\n",
              ms(t5 - t4), ms(t5 - t4) * 1000 / kMails, mailstore::fListMailFiles(inbox).size());
  fs::remove_all(dir);
  return 0;
}
