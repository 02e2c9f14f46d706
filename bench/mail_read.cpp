// Reading speed of stored messages: the mail list's header-only read per message, a
// full read with body, plain whole-file reads as the floor, and Python's email package
// on the same files for comparison. Prints figures only.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mail/mail.h"
#include "store/charset.h"
#include "store/fsutil.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kMessages = 10000;

std::string base64(std::string_view in) {
  static const char* a = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                 (static_cast<unsigned char>(in[i + 1]) << 8) |
                 static_cast<unsigned char>(in[i + 2]);
    for (int k = 3; k >= 0; --k) out += a[(v >> (6 * k)) & 63];
    if (out.size() % 78 == 76) out += "\r\n";
  }
  if (i < in.size()) {
    unsigned v = static_cast<unsigned char>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<unsigned char>(in[i + 1]) << 8;
    out += a[(v >> 18) & 63];
    out += a[(v >> 12) & 63];
    out += i + 1 < in.size() ? a[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// ISO-2022-JP bytes of a UTF-8 text, computed from its Shift_JIS form (JIS X 0208 only).
std::string toJis(const std::string& utf8) {
  std::string sjis = charset::fToCp932(utf8).value_or("");
  std::string jis;
  bool kanji = false;
  for (size_t i = 0; i < sjis.size(); ++i) {
    auto c1 = static_cast<unsigned char>(sjis[i]);
    if (c1 < 0x80) {
      if (kanji) jis += "\x1b(B";
      kanji = false;
      jis += static_cast<char>(c1);
      continue;
    }
    auto c2 = static_cast<unsigned char>(sjis[++i]);
    if (!kanji) jis += "\x1b$B";
    kanji = true;
    unsigned row = c1 < 0xA0 ? c1 - 0x70 : c1 - 0xB0;
    row <<= 1;
    if (c2 < 0x9F) {
      --row;
      c2 = static_cast<unsigned char>(c2 - (c2 > 0x7F ? 0x20 : 0x1F));
    } else {
      c2 = static_cast<unsigned char>(c2 - 0x7E);
    }
    jis += static_cast<char>(row);
    jis += static_cast<char>(c2);
  }
  if (kanji) jis += "\x1b(B";
  return jis;
}

std::string message(int i, std::mt19937& rng) {
  static const std::string line =
      "お世話になっております。来週の打ち合わせの件でご連絡いたします。資料を添付しますのでご確認く"
      "ださい。";
  std::string headers;
  for (int r = 0; r < 6; ++r) {
    headers += "Received: from mx" + std::to_string(r) + ".example.jp (mx" + std::to_string(r) +
               ".example.jp [192.0.2." + std::to_string(r) +
               "])\r\n\tby mail.example.net with ESMTPS id abc" + std::to_string(i) +
               "\r\n\tfor <user@example.net>; Tue, 2 Jan 2024 10:00:0" + std::to_string(r) +
               " +0900\r\n";
  }
  headers += "Message-ID: <" + std::to_string(i) + ".bench@example.jp>\r\nMIME-Version: 1.0\r\n";
  headers += "Date: Tue, " + std::to_string(1 + i % 28) + " Jan 2024 " +
             std::to_string(10 + i % 12) + ":00:00 +0900\r\n";
  std::string subject = "会議の件 その" + std::to_string(i);
  std::string body;
  while (body.size() < 3300) body += line + "\r\n";
  std::string out;
  switch (rng() % 4) {
    case 0:  // ISO-2022-JP
      out = headers + "From: =?ISO-2022-JP?B?" + base64(toJis("山田太郎")) +
            "?= <taro@example.jp>\r\n" + "To: user@example.net\r\nSubject: =?ISO-2022-JP?B?" +
            base64(toJis(subject)) + "?=\r\n" +
            "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: "
            "7bit\r\n\r\n" +
            toJis(body);
      break;
    case 1:  // Shift_JIS, 8-bit
      out =
          headers + "From: =?Shift_JIS?B?" + base64(*charset::fToCp932("鈴木花子")) +
          "?= <hanako@example.jp>\r\n" + "To: user@example.net\r\nSubject: =?Shift_JIS?B?" +
          base64(*charset::fToCp932(subject)) + "?=\r\n" +
          "Content-Type: text/plain; charset=Shift_JIS\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" +
          *charset::fToCp932(body);
      break;
    case 2:  // UTF-8 base64
      out = headers + "From: =?UTF-8?B?" + base64("佐藤次郎") + "?= <jiro@example.jp>\r\n" +
            "To: user@example.net\r\nSubject: =?UTF-8?B?" + base64(subject) + "?=\r\n" +
            "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
            base64(body.substr(0, 2400)) + "\r\n";
      break;
    default:  // multipart with an attachment
      out = headers + "From: news@example.com\r\nTo: user@example.net\r\nSubject: =?UTF-8?B?" +
            base64(subject) + "?=\r\nContent-Type: multipart/mixed; boundary=\"b" +
            std::to_string(i) + "\"\r\n\r\n--b" + std::to_string(i) +
            "\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + body.substr(0, 2200) +
            "\r\n--b" + std::to_string(i) + "\r\nContent-Type: application/octet-stream\r\n" +
            "Content-Disposition: attachment; filename*=UTF-8''%E8%B3%87%E6%96%99.bin\r\n" +
            "Content-Transfer-Encoding: base64\r\n\r\n" + base64(std::string(600, 'x')) +
            "\r\n--b" + std::to_string(i) + "--\r\n";
  }
  return out;
}

double microsPer(Clock::duration d, size_t n) {
  return std::chrono::duration<double, std::micro>(d).count() / static_cast<double>(n);
}

}  // namespace

int main() {
  std::random_device rd;
  fs::path dir = fs::temp_directory_path() / ("qb-bench-read-" + std::to_string(rd()));
  fs::create_directories(dir);
  std::mt19937 rng(42);
  std::vector<std::string> files;
  size_t totalBytes = 0;
  for (int i = 0; i < kMessages; ++i) {
    std::string bytes = message(i, rng);
    totalBytes += bytes.size();
    fs::path p = dir / (std::to_string(100000 + i) + ".eml");
    std::ofstream(p, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    files.push_back(p.string());
  }
  std::printf("%d messages, %.1f KB average, in %s\n", kMessages, totalBytes / 1024.0 / kMessages,
              dir.string().c_str());

  const std::string folder = dir.string();
  // The decoded subjects show that every encoding of the mix reads back.
  for (size_t i = 0; i < 4; ++i) {
    auto r = mail::ReadMail(files[i], "subject:from:nofile:nobody:", folder);
    if (auto* a = std::get_if<std::vector<std::string>>(&r))
      std::printf("  %s | %s\n", (*a)[0].c_str(), (*a)[1].c_str());
  }
  auto timeReads = [&](const char* label, auto&& read) {
    for (const auto& f : files) read(f);  // warm the page cache and converters
    auto start = Clock::now();
    size_t sink = 0;
    for (const auto& f : files) sink += read(f);
    std::printf("%-52s %8.2f us/message (%zu)\n", label,
                microsPer(Clock::now() - start, files.size()), sink % 10);
  };
  auto elements = [&](std::string_view keys) {
    return [keys, &folder](const std::string& f) -> size_t {
      auto r = mail::ReadMail(f, keys, folder);
      auto* a = std::get_if<std::vector<std::string>>(&r);
      return a ? a->size() : 0;
    };
  };
  timeReads("read whole file", [](const std::string& f) { return fsutil::fReadFile(f)->size(); });
  timeReads("ReadMail subject:from:date:content-type:nofile:nobody:",
            elements("subject:from:date:content-type:nofile:nobody:"));
  timeReads("ReadMail to:from:nofile: (full parse, body)", elements("to:from:nofile:"));

  if (std::system("python3 -c 'import email' >/dev/null 2>&1") == 0) {
    std::string script =
        "import email, email.policy, os, sys, time\n"
        "d = sys.argv[1]; names = sorted(os.listdir(d))\n"
        "def run():\n"
        "    for n in names:\n"
        "        with open(os.path.join(d, n), 'rb') as f:\n"
        "            m = email.message_from_binary_file(f, policy=email.policy.default)\n"
        "            (str(m['subject']), str(m['from']), str(m['date']), str(m['content-type']))\n"
        "run(); t = time.perf_counter(); run(); t = time.perf_counter() - t\n"
        "print('%-52s %8.2f us/message' % ('python3 email (default policy), same headers', t * 1e6 "
        "/ len(names)))\n";
    fs::path py = dir.string() + ".py";
    std::ofstream(py) << script;
    std::string cmd = "python3 '" + py.string() + "' '" + folder + "'";
    std::fflush(stdout);
    if (std::system(cmd.c_str()) != 0) std::printf("python3 comparison failed\n");
  } else {
    std::printf("python3 not available: no comparison\n");
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::remove(dir.string() + ".py", ec);
  return 0;
}
