// Reading a message from bytes already in memory must give what reading its file gives;
// and the line-end and charset helpers the fast path leans on.
#include <random>

#include "mail/jptext.h"
#include "mail/mailheader.h"
#include "read_test_support.h"
#include "store/charset.h"

using namespace readtest;

namespace {


const std::string kMultipart = crlf(
    "From: =?UTF-8?B?5bGx55Sw?= <yamada@example.jp>\n"
    "To: a@example.jp, b@example.jp\n"
    "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\n"
    "Date: Tue, 2 Jan 2024 10:00:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
    "--b1\n"
    "Content-Type: multipart/alternative; boundary=\"b2\"\n\n"
    "--b2\n"
    "Content-Type: text/plain; charset=UTF-8\n"
    "Content-Transfer-Encoding: base64\n\n"
    "5pel5pys6Kqe44Gu5pys5paHCg==\n"
    "--b2\n"
    "Content-Type: text/html; charset=UTF-8\n\n"
    "<p>html</p>\n"
    "--b2--\n"
    "--b1\n"
    "Content-Type: application/octet-stream; name=\"data.bin\"\n"
    "Content-Disposition: attachment; filename=\"data.bin\"\n"
    "Content-Transfer-Encoding: base64\n\n"
    "AAECAwQ=\n"
    "--b1\n"
    "Content-Type: text/plain; charset=Shift_JIS\n"
    "Content-Disposition: attachment; filename=\"=?UTF-8?B?44Oh44Oi?=.txt\"\n\n"
    "x\n"
    "--b1--\n");

const std::vector<std::string> kMessages = {
    crlf("From: a@example.jp\nSubject: plain\nDate: Wed, 03 Jul 2024 08:00:00 JST\n\nbody line\nsecond\n"),
    "From: lf@example.jp\nSubject: LF only\nDate: 3 jul 2024 8:00:00 +0000\n\nline\nline\r\nlone\rcr\n",
    crlf("Subject: =?UTF-8?Q?=E4=BB=B6=E5=90=8D?=\n folded\nContent-Type: text/plain; charset=\"utf-8\"\n"
         "Content-Transfer-Encoding: quoted-printable\n\n=E3=81=82=\nsoft\n"),
    crlf("Subject: utf8 label, broken bytes\nContent-Type: text/plain; charset=UTF-8\n\nok \xFF\xFE end\n"),
    crlf("Subject: headers only\nFrom: x@example.jp"),
    crlf("\nbody without headers\n"),
    "",
    crlf("Subject: jis\nContent-Type: text/plain; charset=ISO-2022-JP\n\n\x1b$B$3$s$K$A$O\x1b(B\n"),
    kMultipart,
};

const std::vector<std::string> kKeyLists = {
    "subject:from:date:to:nofile:",
    "subject:from:date:to:nofile:nobody:",
    "Subject:FROM:date:",
    "to:nobody:",
    "nofile:html:",
    "date:x-missing:nofile:",
};

// Attachments extracted by each reader go to a folder of its own; paths are compared
// relative to it.
std::vector<std::string> relative(std::vector<std::string> elements, const std::string& folder) {
  for (std::string& e : elements) {
    const std::string prefix = "file: " + folder;
    if (e.rfind(prefix, 0) == 0) e = "file: <folder>" + e.substr(prefix.size());
  }
  return elements;
}

}  // namespace

TEST(ReadMailBytes, SameAsReadingTheSavedFile) {
  LocalZone zone("Asia/Tokyo");
  TempDir dir;
  int n = 0;
  for (const std::string& bytes : kMessages) {
    const std::string file = writeFile(dir.path() / ("m" + std::to_string(++n) + ".eml"), bytes);
    for (const std::string& keys : kKeyLists) {
      SCOPED_TRACE("message " + std::to_string(n) + " keys " + keys);
      const fs::path fromFile = dir.path() / ("f" + std::to_string(n) + keys.substr(0, 3));
      const fs::path fromBytes = dir.path() / ("b" + std::to_string(n) + keys.substr(0, 3));
      fs::create_directories(fromFile);
      fs::create_directories(fromBytes);
      mail::MailResult a = mail::ReadMail(file, keys, fromFile.string());
      mail::MailResult b = mail::fReadMailBytes(bytes, keys, fromBytes.string());
      ASSERT_EQ(a.index(), b.index());
      if (auto* text = std::get_if<std::string>(&a)) {
        EXPECT_EQ(*text, std::get<std::string>(b));
        continue;
      }
      EXPECT_EQ(relative(std::get<std::vector<std::string>>(a), fromFile.string()),
                relative(std::get<std::vector<std::string>>(b), fromBytes.string()));
    }
  }
}

TEST(ReadMailBytes, MultipartElementsAndExtractedFiles) {
  LocalZone zone("Asia/Tokyo");
  TempDir dir;
  auto r = mail::fReadMailBytes(kMultipart, "subject:from:date:nofile:", dir.str());
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(r));
  EXPECT_EQ(std::get<std::vector<std::string>>(r),
            (std::vector<std::string>{"subject: こんにちは", "from: 山田 <yamada@example.jp>",
                                      "date: 2024/01/02 10:00:00", "nofile: ", "body: 日本語の本文\r\n",
                                      "file: data.bin", "file: メモ.txt"}));
  auto extracted = mail::fReadMailBytes(kMultipart, "subject:nobody:", dir.str());
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(extracted));
  const auto& e = std::get<std::vector<std::string>>(extracted);
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(readFile(cut(e[2], 6)), std::string("\x00\x01\x02\x03\x04", 5));
  EXPECT_EQ(readFile(cut(e[3], 6)), "x");
  // The html pseudo key picks the other alternative.
  auto html = mail::fReadMailBytes(kMultipart, "html:nofile:", dir.str());
  EXPECT_EQ(std::get<std::vector<std::string>>(html).at(2), "body: <p>html</p>");
}

TEST(ReadMailBytes, DatesKeepTheirFixedLayout) {
  using mail::header::fFormatDate;
  {
    LocalZone zone("Asia/Tokyo");
    EXPECT_EQ(fFormatDate("Thu, 29 Feb 2024 23:59:59 +0000"), "2024/03/01 08:59:59");
    EXPECT_EQ(fFormatDate("1 Feb 2024 00:00:00 +0900"), "2024/02/01 00:00:00");
    EXPECT_EQ(fFormatDate("5 May 2001 1:2:3 +0900"), "2001/05/05 01:02:03");
    EXPECT_EQ(fFormatDate("Fri, 31 Dec 9999 23:59:59 +0000"), "");  // year 10000 here
  }
  {
    LocalZone zone("UTC0");
    EXPECT_EQ(fFormatDate("1 Jan 1970 00:00:00 +0000"), "1970/01/01 00:00:00");
    EXPECT_EQ(fFormatDate("31 Dec 1969 23:59:59 +0000"), "1969/12/31 23:59:59");
    EXPECT_EQ(fFormatDate("1 Jan 1900 00:00:00 +0000"), "1900/01/01 00:00:00");
    EXPECT_EQ(fFormatDate("Fri, 31 Dec 9999 23:59:59 +0000"), "9999/12/31 23:59:59");
  }
  {
    LocalZone zone("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(fFormatDate("1 Jul 2024 12:00:00 +0000"), "2024/07/01 08:00:00");
    EXPECT_EQ(fFormatDate("1 Jan 2024 12:00:00 +0000"), "2024/01/01 07:00:00");
  }
}

TEST(CrLf, EveryLineEndBecomesCrLf) {
  using mail::jptext::fToCrLf;
  EXPECT_EQ(fToCrLf(""), "");
  EXPECT_EQ(fToCrLf("no end"), "no end");
  EXPECT_EQ(fToCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
  EXPECT_EQ(fToCrLf("trailing\r"), "trailing\r\n");
  EXPECT_EQ(fToCrLf("a\r\r\nb"), "a\r\n\r\nb");
  EXPECT_EQ(fToCrLf("\n\r"), "\r\n\r\n");
  EXPECT_EQ(fToCrLf("\r\n\r\n"), "\r\n\r\n");
  EXPECT_EQ(fToCrLf(std::string("nul\0\nx", 6)), std::string("nul\0\r\nx", 7));
}

TEST(CrLf, InPlaceMatchesTheCopyForEveryShortText) {
  // Every text of up to eight characters over {a, CR, LF}, against a plain loop.
  auto expected = [](const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '\r') {
        out += "\r\n";
        if (i + 1 < s.size() && s[i + 1] == '\n') ++i;
      } else if (s[i] == '\n') {
        out += "\r\n";
      } else {
        out += s[i];
      }
    }
    return out;
  };
  const char alphabet[] = {'a', '\r', '\n'};
  for (int length = 0; length <= 8; ++length) {
    int count = 1;
    for (int i = 0; i < length; ++i) count *= 3;
    for (int code = 0; code < count; ++code) {
      std::string s;
      for (int i = 0, c = code; i < length; ++i, c /= 3) s += alphabet[c % 3];
      const std::string want = expected(s);
      EXPECT_EQ(mail::jptext::fToCrLf(s), want);
      std::string inPlace = s;
      mail::jptext::sToCrLf(inPlace);
      ASSERT_EQ(inPlace, want) << "length " << length << " code " << code;
    }
  }
}

TEST(CrLf, CleanTextIsLeftAsItIs) {
  std::string clean;
  for (int i = 0; i < 2000; ++i) clean += "line " + std::to_string(i) + "\r\n";
  clean += "last line without an end";
  const std::string copy = clean;
  const char* before = clean.data();
  mail::jptext::sToCrLf(clean);
  EXPECT_EQ(clean, copy);
  EXPECT_EQ(clean.data(), before);

  // One bad line end anywhere in a long text is still found.
  std::mt19937 random(3);
  for (int round = 0; round < 50; ++round) {
    std::string text = copy;
    std::size_t at = text.find("\r\n", random() % text.size());
    if (at == std::string::npos) at = text.find("\r\n");
    if (round % 2) text.erase(at, 1);  // a bare LF
    else text.erase(at + 1, 1);        // a lone CR
    mail::jptext::sToCrLf(text);
    EXPECT_EQ(text, copy);
  }
  std::string endsInCr = "abc\r\ndef\r";
  mail::jptext::sToCrLf(endsInCr);
  EXPECT_EQ(endsInCr, "abc\r\ndef\r\n");
  std::string empty;
  mail::jptext::sToCrLf(empty);
  EXPECT_EQ(empty, "");
}

TEST(Utf8Label, InvalidBytesStillBecomeReplacementCharacters) {
  EXPECT_EQ(charset::fIconvName("UTF-8"), "UTF-8");
  EXPECT_EQ(charset::fIconvName("utf-8"), "UTF-8");
  EXPECT_EQ(charset::fIconvName("Utf8"), "UTF-8");
  const std::string replacement = "\xEF\xBF\xBD";
  for (const char* label : {"utf-8", "UTF-8", "\"utf-8\"", "utf8"}) {
    SCOPED_TRACE(label);
    EXPECT_EQ(mail::jptext::fDecodeBytes(label, "日本 ok"), "日本 ok");
    const std::string decoded = mail::jptext::fDecodeBytes(label, "a\xFF" "b");
    EXPECT_EQ(decoded, "a" + replacement + "b");
    const std::string cut = mail::jptext::fDecodeBytes(label, "abc\xE3\x81");
    EXPECT_TRUE(charset::fIsValidUtf8(cut));
    EXPECT_EQ(cut.rfind("abc", 0), 0u);
    EXPECT_NE(cut.find(replacement), std::string::npos);
    EXPECT_TRUE(charset::fIsValidUtf8(mail::jptext::fDecodeBytes(label, "\xC0\x80\xED\xA0\x80 x")));
  }
  auto r = mail::fReadMailBytes(kMessages[3], "nofile:", "/tmp");
  ASSERT_TRUE(std::holds_alternative<std::vector<std::string>>(r));
  const std::string body = std::get<std::vector<std::string>>(r).at(1);
  EXPECT_EQ(body.rfind("body: ok ", 0), 0u);
  EXPECT_NE(body.find(replacement), std::string::npos);
  EXPECT_TRUE(charset::fIsValidUtf8(body));
}
