// Mails bigger than any buffer the reader uses: attachments decoded piece by piece into
// their files, byte for byte; a huge text part shown cut; header blocks that end where a
// piece ends; mails damaged or cut off in the middle of a part.
#include <random>

#include "mail/readstart.h"
#include "read_test_support.h"

using namespace readtest;

namespace {

constexpr size_t kPiece = 65536;  // what the reader takes from the file at a time

std::string noise(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(rng());
  return bytes;
}

std::string japaneseLines(size_t bytes) {
  const std::string line = "大きな本文の一行です。添付ファイルの説明が続きます。\r\n";
  std::string text;
  for (int n = 0; text.size() < bytes; ++n) text += std::to_string(n) + line;
  return text;
}

struct Attachment {
  std::string name;
  std::string bytes;
};

std::string multipart(const std::string& textPart, const std::vector<Attachment>& attachments) {
  std::string mail = crlf("From: a@example.jp\nSubject: big\nMIME-Version: 1.0\n"
                          "Content-Type: multipart/mixed; boundary=\"=_b\"\n\n--=_b\n") +
                     textPart + "\r\n";
  for (const Attachment& a : attachments) {
    mail += "--=_b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename*=UTF-8''" +
            a.name + "\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64Lines(a.bytes);
  }
  return mail + "--=_b--\r\n";
}

const std::string kShortText = "Content-Type: text/plain; charset=UTF-8\r\n\r\nsee the files\r\n";

TEST(ReadBig, AttachmentsLargerThanAnyBufferAreSavedByteForByte) {
  TempDir mails, out, one;
  const std::vector<Attachment> attachments = {{"%E5%A4%A7.bin", noise(3 * 1024 * 1024 + 17, 1)},
                                               {"small.bin", noise(kPiece + 1, 2)}};
  const std::string file = writeFile(mails.path() / "big.eml", multipart(kShortText, attachments));
  auto read = readArray(file, "subject:", out.str());
  ASSERT_EQ(read.size(), 4u);
  EXPECT_EQ(read[1], "body: see the files\r\n");
  EXPECT_EQ(fs::path(cut(read[2], 6)), out.path() / "大.bin");
  EXPECT_TRUE(readFile(cut(read[2], 6)) == attachments[0].bytes);
  EXPECT_TRUE(readFile(cut(read[3], 6)) == attachments[1].bytes);

  // Opening one attachment decodes that one alone, to the same name ReadMail gives.
  auto second = mail::fExtractAttachment(file, 1, one.str());
  ASSERT_TRUE(second);
  EXPECT_EQ(fs::path(*second), one.path() / "small.bin");
  EXPECT_TRUE(readFile(*second) == attachments[1].bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(one.path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(mail::fExtractAttachment(file, 2, one.str()));

  // The same attachment read again reuses its file; one that differs only in its last
  // byte is another file.
  EXPECT_EQ(readArray(file, "subject:", out.str()), read);
  std::string changed = attachments[0].bytes;
  changed.back() = static_cast<char>(changed.back() ^ 1);
  const std::string other = writeFile(mails.path() / "other.eml", multipart(kShortText, {{"%E5%A4%A7.bin", changed}}));
  auto otherRead = readArray(other, "subject:", out.str());
  ASSERT_EQ(otherRead.size(), 3u);
  EXPECT_EQ(fs::path(cut(otherRead[2], 6)), out.path() / "大 (2).bin");
  EXPECT_TRUE(readFile(cut(otherRead[2], 6)) == changed);
  EXPECT_EQ(std::distance(fs::directory_iterator(out.path()), fs::directory_iterator()), 3);
}

TEST(ReadBig, HugeTextPartIsShownCutWithANote) {
  const std::string text = japaneseLines(3 * kPiece + 5000);
  const std::string utf8 = "Content-Type: text/plain; charset=UTF-8\r\n";
  const struct Case {
    const char* what;
    std::string mail;
  } cases[] = {
      {"single part, 8 bit", crlf("From: a@example.jp\nSubject: text\n") + utf8 + "\r\n" + text},
      {"single part, base64",
       crlf("From: a@example.jp\nSubject: text\n") + utf8 + "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(text)},
      {"multipart, base64",
       multipart(utf8 + "Content-Transfer-Encoding: base64\r\n\r\n" + base64Lines(text), {{"a.bin", noise(1000, 3)}})},
  };
  TempDir mails;
  for (const Case& c : cases) {
    const std::string file = writeFile(mails.path() / "m.eml", c.mail);
    // Read whole, the text decoded piece by piece is the text.
    auto whole = readArray(file, "nofile:", mails.str());
    ASSERT_GE(whole.size(), 2u) << c.what;
    EXPECT_TRUE(whole[1] == "body: " + text) << c.what;

    const size_t limit = kPiece + 100;
    mail::ShownMail shown = mail::fReadMailShown(file, "nofile:", mails.str(), limit);
    auto* values = std::get_if<std::vector<std::string>>(&shown.result);
    ASSERT_TRUE(values) << c.what;
    ASSERT_EQ(values->size(), whole.size()) << c.what;
    EXPECT_TRUE(shown.bodyCut) << c.what;
    const std::string body = cut((*values)[1], 6);
    const std::string note = mail::fBodyCutNote(limit);
    ASSERT_TRUE(body.ends_with(note)) << c.what;
    const std::string shownText = body.substr(0, body.size() - note.size());
    EXPECT_TRUE(text.starts_with(shownText)) << c.what;
    EXPECT_TRUE(shownText.ends_with("\r\n")) << c.what;
    EXPECT_LE(shownText.size(), limit) << c.what;
    EXPECT_GT(shownText.size(), limit - 200) << c.what;
    // The other elements (the attachment listed) are ReadMail's.
    (*values)[1] = whole[1];
    EXPECT_EQ(*values, whole) << c.what;

    // Under the limit nothing is cut: the same as ReadMail.
    mail::ShownMail all = mail::fReadMailShown(file, "nofile:", mails.str(), text.size());
    EXPECT_FALSE(all.bodyCut) << c.what;
    EXPECT_TRUE(all.result == mail::MailResult(whole)) << c.what;
  }
}

TEST(ReadBig, TextShownFromTheStartOfTheFileOnlyWhenTheStartHoldsIt) {
  const std::string big = noise(4 * kPiece, 5);
  const std::string html = "Content-Type: text/html; charset=UTF-8\r\n\r\n<p>html</p>\r\n";
  const std::string longText = "Content-Type: text/plain; charset=UTF-8\r\n\r\n" + japaneseLines(kPiece);
  const std::string longHeader = crlf("From: a@example.jp\nX-Pad: ") + std::string(kPiece, 'p') + "\r\n\r\ntext\r\n";
  const struct Case {
    const char* what;
    std::string mail;
    bool shown;
  } cases[] = {
      {"text before a big attachment", multipart(kShortText, {{"a.bin", big}}), true},
      {"text cut before the start ends", multipart(longText, {{"a.bin", big}}), true},
      {"text after the attachment", multipart("Content-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                     base64Lines(big) + "--=_b\r\n" + kShortText, {}),
       false},
      {"html in the start, plain text beyond it",
       multipart(html + "--=_b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                     base64Lines(big) + "--=_b\r\n" + kShortText, {}),
       false},
      {"a header block longer than the start", longHeader, false},
  };
  TempDir mails;
  for (const Case& c : cases) {
    const std::string file = writeFile(mails.path() / "m.eml", c.mail);
    const size_t limit = kPiece / 2;
    auto start = mail::fReadMailShownStart(file, "from:nofile:", limit, kPiece);
    ASSERT_EQ(start.has_value(), c.shown) << c.what;
    if (!start) continue;
    auto shown = std::get<std::vector<std::string>>(mail::fReadMailShown(file, "from:nofile:", mails.str(), limit).result);
    ASSERT_GE(shown.size(), 3u) << c.what;
    EXPECT_EQ(*start, std::vector<std::string>(shown.begin(), shown.begin() + 3)) << c.what;
  }
}

TEST(ReadBig, HeaderBlockEndingWhereAPieceEnds) {
  TempDir mails;
  for (size_t length : {kPiece - 2, kPiece - 1, kPiece, kPiece + 1, kPiece + 2, 2 * kPiece}) {
    const std::string head = "Subject: long\r\nX-Pad: ";
    const std::string mailBytes = head + std::string(length - head.size() - 4, 'p') + "\r\n\r\nafter\r\n";
    ASSERT_EQ(mailBytes.find("\r\n\r\n") + 4, length);
    const std::string file = writeFile(mails.path() / "m.eml", mailBytes);
    EXPECT_EQ(readArray(file, "subject:", mails.str()), (std::vector<std::string>{"subject: long", "body: after\r\n"}))
        << length;
    EXPECT_EQ(readArray(file, "subject:nofile:nobody:", mails.str()),
              (std::vector<std::string>{"subject: long", "nofile: ", "nobody: "}))
        << length;
  }
}

TEST(ReadBig, DamagedMailsGiveWhatTheyHold) {
  const std::string bytes = noise(2 * kPiece + 7, 4);
  const std::string whole = multipart(kShortText, {{"a.bin", bytes}});
  const size_t partStart = whole.find("Content-Transfer-Encoding: base64\r\n\r\n") + 37;
  const struct Case {
    const char* what;
    std::string mail;
    size_t decodedAtLeast;  // bytes of the attachment the mail still carries whole
  } cases[] = {
      // Base64 cut mid-quantum, the part closed normally after it.
      {"truncated base64", whole.substr(0, partStart + 1000 * 78 + 7) + "\r\n--=_b--\r\n", 1000 * 57},
      // The file ends inside the attachment: no closing boundary.
      {"cut in the middle of a part", whole.substr(0, partStart + 1500 * 78 + 30), 1500 * 57},
  };
  TempDir mails;
  for (const Case& c : cases) {
    TempDir out;
    const std::string file = writeFile(mails.path() / "m.eml", c.mail);
    auto read = readArray(file, "subject:", out.str());
    ASSERT_EQ(read.size(), 3u) << c.what;
    EXPECT_EQ(read[1], "body: see the files\r\n") << c.what;
    const std::string saved = readFile(cut(read[2], 6));
    EXPECT_GE(saved.size(), c.decodedAtLeast) << c.what;
    EXPECT_LT(saved.size(), c.decodedAtLeast + 57) << c.what;
    EXPECT_TRUE(bytes.starts_with(saved.substr(0, c.decodedAtLeast))) << c.what;
    // Bytes in memory are read the same way.
    TempDir again;
    auto fromBytes = mail::fReadMailBytes(c.mail, "subject:nofile:", again.str());
    EXPECT_TRUE(fromBytes == mail::MailResult(std::vector<std::string>{read[0], "nofile: ", read[1], "file: a.bin"})) << c.what;
  }
}

}  // namespace
