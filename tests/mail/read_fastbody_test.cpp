// A one-part message is read without a MIME tree; its body must come out exactly as
// when the same part stands inside a multipart (which goes through the MIME parser).
#include "read_test_support.h"

using namespace readtest;

namespace {

std::string bodyOf(const TempDir& dir, const std::string& name, std::string_view bytes) {
  std::string file = writeFile(dir.path() / name, bytes);
  auto elements = readArray(file, "nofile:", dir.str());
  return cut(elements.at(1), 6);
}

// The part's own headers and body, as a whole message and as the one part of a multipart.
void expectSameBody(const std::string& partHeaders, const std::string& partBody, const std::string& want) {
  TempDir dir;
  std::string single = "From: a@example.jp\r\nSubject: s\r\nMIME-Version: 1.0\r\n" + partHeaders + "\r\n" + partBody;
  std::string multi = "From: a@example.jp\r\nSubject: s\r\nMIME-Version: 1.0\r\n"
                      "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n" +
                      partHeaders + "\r\n" + partBody + "\r\n--b1--\r\n";
  std::string fast = bodyOf(dir, "single.eml", single);
  std::string tree = bodyOf(dir, "multi.eml", multi);
  EXPECT_EQ(fast, want) << partHeaders;
  EXPECT_EQ(fast, tree) << partHeaders;
}

}  // namespace

TEST(ReadFastBody, SamePartSameBodyInEveryEncoding) {
  expectSameBody("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n",
                 "5pel5pys6Kqe44Gu5pys5paHCg==\r\n", "日本語の本文\r\n");
  expectSameBody("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n",
                 "=E3=81=82=E3=81=84 soft=\r\nbreak\r\n", "あい softbreak\r\n");
  expectSameBody("Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n",
                 "\x1b$B$3$s$K$A$O\x1b(B\r\n", "こんにちは\r\n");
  expectSameBody("Content-Type: text/plain; charset=Shift_JIS\r\n", "\x83\x5c\x95\x5c\x87\x40\r\n",
                 "ソ表①\r\n");
  expectSameBody("Content-Type: text/plain; charset=EUC-JP\r\n", "\xa4\xa2\xad\xa1\r\n", "あ①\r\n");
  expectSameBody("Content-Type: text/html; charset=utf-8\r\n", "<p>x</p>\r\n", "<p>x</p>\r\n");
  // No declared charset: UTF-8 when valid, else CP932.
  expectSameBody("", "\x82\xa0\r\n", "あ\r\n");
}

TEST(ReadFastBody, NamedOrAttachedPartsAreNotABody) {
  TempDir dir;
  std::string file = writeFile(
      dir.path() / "named.eml",
      "From: a@example.jp\r\nContent-Type: text/plain; name=\"memo.txt\"\r\n\r\nmemo\r\n");
  auto elements = readArray(file, "nofile:", dir.str());
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[1], "body: ");
  EXPECT_EQ(elements[2], "file: memo.txt");
}
