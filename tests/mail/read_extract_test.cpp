// Attachments extracted into a folder: names from a message are hostile input.
#include "mail/attachment_file.h"
#include "read_test_support.h"
#include "store/charset.h"

using namespace readtest;

namespace {

std::string oneAttachment(std::string_view filenameParam, std::string_view content) {
  return crlf(
      "From: a@example.jp\nSubject: file\nMIME-Version: 1.0\n"
      "Content-Type: multipart/mixed; boundary=b\n\n"
      "--b\nContent-Type: text/plain\n\nbody\n"
      "--b\nContent-Type: application/octet-stream\n"
      "Content-Disposition: attachment; filename=" +
      std::string(filenameParam) + "\n\n" + std::string(content) + "\n--b--\n");
}

TEST(ReadExtract, ExtractsIntoFolderAndReusesTheSameAttachment) {
  TempDir mails, out;
  std::string file = writeFile(mails.path() / "m.eml", oneAttachment("\"report.txt\"", "contents"));
  auto first = readArray(file, "from:", out.str());
  ASSERT_EQ(first.size(), 3u);
  fs::path extracted = cut(first[2], 6);
  EXPECT_EQ(extracted, out.path() / "report.txt");
  EXPECT_EQ(readFile(extracted), "contents");
  // Opening the same attachment again reuses the file instead of piling up copies.
  auto again = readArray(file, "from:", out.str());
  EXPECT_EQ(again[2], first[2]);
  EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 1);
}

TEST(ReadExtract, NeverOverwritesAnotherFile) {
  TempDir mails, out;
  writeFile(out.path() / "report.txt", "user's own file");
  writeFile(out.path() / "report (2).txt", "another");
  std::string file = writeFile(mails.path() / "m.eml", oneAttachment("report.txt", "new"));
  auto e = readArray(file, "from:", out.str());
  ASSERT_EQ(e.size(), 3u);
  EXPECT_EQ(fs::path(cut(e[2], 6)), out.path() / "report (3).txt");
  EXPECT_EQ(readFile(out.path() / "report.txt"), "user's own file");
  EXPECT_EQ(readFile(out.path() / "report (2).txt"), "another");
  EXPECT_EQ(readFile(out.path() / "report (3).txt"), "new");

  // A symbolic link of that name is not followed, whatever it points at.
  TempDir out2;
  fs::create_symlink(out.path() / "report.txt", out2.path() / "report.txt");
  auto viaLink = readArray(file, "from:", out2.str());
  EXPECT_EQ(fs::path(cut(viaLink[2], 6)), out2.path() / "report (2).txt");
  EXPECT_EQ(readFile(out.path() / "report.txt"), "user's own file");
}

TEST(ReadExtract, HostileNamesStayInTheFolder) {
  TempDir mails, out;
  struct Case {
    std::string param;
    std::string expected;
  } cases[] = {
      {"\"../../etc/passwd\"", "passwd"},
      {"\"..\\\\..\\\\win.ini\"", "win.ini"},
      {"\"..\"", "attachment1.bin"},
      {"\"a\x01\x1f"
       "b.txt\"",
       "ab.txt"},
      {"\"evil\xE2\x80\xAEtxt.exe\"", "eviltxt.exe"},  // right-to-left override removed
      {"\"CON.txt\"", "_CON.txt"},
      {"\"what?<>.txt\"", "what___.txt"},
      {"\"  . .hidden. \"", "hidden"},
      {"\"/\"", "attachment1.bin"},
  };
  for (const Case& c : cases) {
    std::string file = writeFile(mails.path() / "m.eml", oneAttachment(c.param, "x"));
    auto listed = readArray(file, "from:nofile:", out.str());
    ASSERT_EQ(listed.size(), 4u) << c.param;
    EXPECT_EQ(listed[3], "file: " + c.expected) << c.param;
    auto e = readArray(file, "from:", out.str());
    ASSERT_EQ(e.size(), 3u) << c.param;
    fs::path p = cut(e[2], 6);
    EXPECT_EQ(p.parent_path(), out.path()) << c.param;
    EXPECT_EQ(p.filename().string(), c.expected) << c.param;
  }
  EXPECT_FALSE(fs::exists(out.path().parent_path() / "passwd"));

  std::string longName(400, 'a');
  std::string safe = mail::attach::fSafeFileName("日本語" + longName + ".txt", "x");
  EXPECT_LE(safe.size(), 200u);
  EXPECT_EQ(safe.substr(safe.size() - 4), ".txt");
  std::string kana;
  for (int i = 0; i < 300; ++i) kana += "あ";
  std::string cutKana = mail::attach::fSafeFileName(kana, "x");
  EXPECT_LE(cutKana.size(), 200u);
  EXPECT_TRUE(charset::fIsValidUtf8(cutKana));  // never cut inside a character
}

TEST(ReadExtract, UnwritableFolderGivesText) {
  TempDir mails, out;
  std::string file = writeFile(mails.path() / "m.eml", oneAttachment("a.txt", "x"));
  // A regular file where the folder should be: nothing can be written there.
  std::string notAFolder = writeFile(out.path() / "plain", "x");
  auto r = mail::ReadMail(file, "from:", notAFolder);
  ASSERT_TRUE(std::holds_alternative<std::string>(r));
  EXPECT_EQ(std::get<std::string>(r), "添付ファイルを保存できません: " + notAFolder);
  // With "nofile:" nothing is written, so the same call succeeds.
  EXPECT_TRUE(std::holds_alternative<std::vector<std::string>>(
      mail::ReadMail(file, "from:nofile:", notAFolder)));
}

}  // namespace
