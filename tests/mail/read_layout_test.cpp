// The shape of ReadMail's result for each key list the program uses, and the elements'
// values in ordinary and damaged messages.
#include <cstdlib>
#include <ctime>

#include "mail/mailheader.h"
#include "read_test_support.h"

using namespace readtest;

namespace {

const std::string kTwoAttachments = crlf(
    "From: Sender <s@example.jp>\n"
    "To: r@example.jp\n"
    "Subject: two files\n"
    "Date: Tue, 2 Jan 2024 10:00:00 +0900\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"==b==\"\n"
    "\n"
    "preamble\n"
    "--==b==\n"
    "Content-Type: text/plain; charset=us-ascii\n"
    "\n"
    "hello\n"
    "--==b==\n"
    "Content-Type: text/plain; name=\"a.txt\"\n"
    "Content-Disposition: attachment; filename=\"a.txt\"\n"
    "\n"
    "first\n"
    "--==b==\n"
    "Content-Type: image/png\n"
    "Content-Disposition: attachment\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "iVBORw0KGgo=\n"
    "--==b==--\n");

TEST(ReadLayout, PreviewKeysGiveSixElementsWithTwoAttachments) {
  TempDir dir;
  std::string file = writeFile(dir.path() / "1.eml", kTwoAttachments);
  auto e = readArray(file, "to:from:nofile:", dir.str());
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(cut(e[0], 4), "r@example.jp");
  EXPECT_EQ(cut(e[1], 6), "Sender <s@example.jp>");
  EXPECT_EQ(e[2], "nofile: ");
  EXPECT_EQ(cut(e[3], 6), "hello");  // the line end before a boundary belongs to it
  EXPECT_EQ(e[4], "file: a.txt");
  EXPECT_EQ(e[5], "file: attachment2.png");  // unnamed: numbered, typed by media type
  // Nothing was extracted with "nofile:".
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ReadLayout, ListKeysReadOnlyHeadersWithFixedLabels) {
  TempDir dir;
  std::string file = writeFile(dir.path() / "1.eml", kTwoAttachments);
  auto received = readArray(file, "subject:from:date:content-type:nofile:nobody:", dir.str());
  ASSERT_EQ(received.size(), 6u);
  EXPECT_EQ(received[0].substr(0, 9), "subject: ");
  EXPECT_EQ(received[1].substr(0, 6), "from: ");
  EXPECT_EQ(received[2].substr(0, 6), "date: ");
  EXPECT_EQ(received[3], "content-type: multipart/mixed; boundary=\"==b==\"");
  EXPECT_EQ(received[4], "nofile: ");
  EXPECT_EQ(received[5], "nobody: ");
  auto sent = readArray(file, "subject:to:date:nofile:nobody:", dir.str());
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(cut(sent[1], 4), "r@example.jp");

  // The header-only path and the full parse agree on every header value.
  auto full = readArray(file, "subject:from:date:content-type:nofile:", dir.str());
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(full[i], received[i]);
}

TEST(ReadLayout, HtmlViewAndHtmlKey) {
  TempDir dir;
  std::string file =
      writeFile(dir.path() / "alt.eml",
                crlf("From: a@example.jp\nSubject: alt\nMIME-Version: 1.0\n"
                     "Content-Type: multipart/alternative; boundary=alt\n\n"
                     "--alt\nContent-Type: text/plain; charset=utf-8\n\nplain 本文\n"
                     "--alt\nContent-Type: text/html; charset=utf-8\n\n<p>html 本文</p>\n"
                     "--alt--\n"));
  auto plain = readArray(file, "nofile:", dir.str());
  ASSERT_EQ(plain.size(), 2u);
  EXPECT_EQ(cut(plain[1], 6), "plain 本文");
  auto html = readArray(file, "nofile:html:", dir.str());
  ASSERT_EQ(html.size(), 3u);
  EXPECT_EQ(html[1], "html: ");
  EXPECT_EQ(cut(html[2], 6), "<p>html 本文</p>");

  // Without a plain part the HTML source is the body; "html:" without HTML keeps plain.
  std::string onlyHtml =
      writeFile(dir.path() / "h.eml",
                crlf("From: a@example.jp\nContent-Type: text/html; charset=utf-8\n\n<b>x</b>\n"));
  EXPECT_EQ(cut(readArray(onlyHtml, "nofile:", dir.str())[1], 6), "<b>x</b>\r\n");
  std::string onlyPlain = writeFile(dir.path() / "p.eml", crlf("From: a@example.jp\n\ntext\n"));
  EXPECT_EQ(cut(readArray(onlyPlain, "html:nofile:", dir.str())[2], 6), "text\r\n");
}

TEST(ReadLayout, NestedMultipartsKeepMessageOrder) {
  TempDir dir;
  std::string file =
      writeFile(dir.path() / "n.eml",
                crlf("From: a@example.jp\nSubject: nested\nMIME-Version: 1.0\n"
                     "Content-Type: multipart/mixed; boundary=outer\n\n"
                     "--outer\nContent-Type: multipart/alternative; boundary=alt\n\n"
                     "--alt\nContent-Type: text/plain\n\nthe plain text\n"
                     "--alt\nContent-Type: multipart/related; boundary=rel\n\n"
                     "--rel\nContent-Type: text/html\n\n<img src=\"cid:img1@x\">\n"
                     "--rel\nContent-Type: image/gif; name=inline.gif\nContent-ID: <img1@x>\n"
                     "Content-Transfer-Encoding: base64\n\nR0lGODlh\n"
                     "--rel--\n"
                     "--alt--\n"
                     "--outer\nContent-Type: application/pdf; name=doc.pdf\n\n%PDF\n"
                     "--outer\nContent-Type: message/rfc822\nContent-Disposition: attachment\n\n"
                     "From: b@example.jp\nSubject: =?UTF-8?B?6Lui6YCB?=\n\nforwarded body\n"
                     "--outer--\n"));
  auto e = readArray(file, "subject:nofile:", dir.str());
  ASSERT_EQ(e.size(), 6u);
  EXPECT_EQ(cut(e[2], 6), "the plain text");
  EXPECT_EQ(e[3], "file: inline.gif");
  EXPECT_EQ(e[4], "file: doc.pdf");
  EXPECT_EQ(e[5], "file: 転送.eml");

  auto image = mail::fReadPartByContentId(file, "cid:img1%40x");
  ASSERT_TRUE(image.has_value());
  EXPECT_EQ(image->mediaType, "image/gif");
  EXPECT_EQ(image->bytes, "GIF89a");
  EXPECT_TRUE(mail::fReadPartByContentId(file, "<img1@x>").has_value());
  EXPECT_FALSE(mail::fReadPartByContentId(file, "cid:other@x").has_value());
  EXPECT_FALSE(mail::fReadPartByContentId(file + ".missing", "cid:img1@x").has_value());
}

TEST(ReadLayout, DamagedAndIncompleteMessages) {
  TempDir dir;
  // Broken base64: the readable part survives.
  std::string broken = writeFile(
      dir.path() / "b.eml", crlf("From: a@example.jp\nContent-Type: text/plain; charset=utf-8\n"
                                 "Content-Transfer-Encoding: base64\n\n5pys5paH!!!*\n~~\n"));
  auto b = readArray(broken, "subject:from:nofile:", dir.str());
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0], "subject: ");  // missing header: label only
  EXPECT_EQ(cut(b[3], 6).substr(0, 6), "本文");

  // A header block with no body and no final blank line.
  std::string headerOnly = writeFile(dir.path() / "h.eml", "Subject: only\r\nFrom: a@b");
  auto h = readArray(headerOnly, "subject:from:nofile:", dir.str());
  ASSERT_EQ(h.size(), 4u);
  EXPECT_EQ(cut(h[0], 9), "only");
  EXPECT_EQ(cut(h[1], 6), "a@b");
  EXPECT_EQ(h[3], "body: ");
  EXPECT_EQ(readArray(headerOnly, "subject:nofile:nobody:", dir.str())[0], "subject: only");

  // An empty file and a file of garbage still give the full layout.
  std::string empty = writeFile(dir.path() / "e.eml", "");
  EXPECT_EQ(readArray(empty, "subject:from:date:nofile:", dir.str()),
            (std::vector<std::string>{"subject: ", "from: ", "date: ", "nofile: ", "body: "}));
  std::string garbage = writeFile(dir.path() / "g.eml", std::string("\0\xff\r\n\r\n--\x01", 9));
  EXPECT_EQ(readArray(garbage, "subject:nofile:", dir.str()).size(), 3u);

  // Folded headers are unfolded; the first of repeated headers counts; names ignore case.
  std::string folded =
      writeFile(dir.path() / "f.eml",
                crlf("SUBJECT: a long\n  subject\nsubject: second\nX-Mailer:\tTool 1\n\nx\n"));
  auto f = readArray(folded, "subject:x-mailer:nofile:nobody:", dir.str());
  EXPECT_EQ(f[0], "subject: a long  subject");
  EXPECT_EQ(f[1], "x-mailer: Tool 1");
}

TEST(ReadLayout, UnreadableFileGivesJapaneseText) {
  TempDir dir;
  std::string missing = (dir.path() / "none.eml").string();
  for (std::string_view keys : {"subject:nofile:nobody:", "to:from:nofile:"}) {
    auto r = mail::ReadMail(missing, keys, dir.str());
    ASSERT_TRUE(std::holds_alternative<std::string>(r));
    EXPECT_EQ(std::get<std::string>(r), "メールファイルを開けません: " + missing);
  }
  EXPECT_TRUE(std::holds_alternative<std::string>(
      mail::ReadMail(dir.str(), "subject:nofile:nobody:", dir.str())));
  EXPECT_TRUE(
      std::holds_alternative<std::string>(mail::ReadMail(dir.str(), "subject:", dir.str())));
}


TEST(ReadLayout, DatesAsLocalTime) {
  using mail::header::fFormatDate;
  {
    LocalZone zone("Asia/Tokyo");
    EXPECT_EQ(fFormatDate("Tue, 2 Jan 2024 10:00:00 +0900"), "2024/01/02 10:00:00");
    EXPECT_EQ(fFormatDate("Mon, 1 Jan 2024 16:30:05 -0800 (PST)"), "2024/01/02 09:30:05");
    EXPECT_EQ(fFormatDate("31 Dec 99 23:59 GMT"), "2000/01/01 08:59:00");
    EXPECT_EQ(fFormatDate("Wed, 03 Jul 2024 08:00:00 JST"), "2024/07/03 08:00:00");
    EXPECT_EQ(fFormatDate("3 jul 2024 8:00:00 +0000"), "2024/07/03 17:00:00");
  }
  {
    LocalZone zone("UTC0");
    EXPECT_EQ(fFormatDate("Tue, 2 Jan 2024 10:00:00 +0900"), "2024/01/02 01:00:00");
    EXPECT_EQ(fFormatDate("Tue, 2 Jan 2024 10:00:00"), "2024/01/02 10:00:00");  // no zone: UTC
  }
  for (std::string_view bad :
       {"", "yesterday", "Tue, 2 Foo 2024 10:00:00 +0900", "2 Jan 2024", "32 Jan 2024 10:00:00",
        "2 Jan 2024 25:00:00", "2 Jan 2024 10:0x:00"}) {
    EXPECT_EQ(fFormatDate(bad), "") << bad;
  }

  LocalZone zone("Asia/Tokyo");
  TempDir dir;
  std::string file =
      writeFile(dir.path() / "d.eml", crlf("Date: Tue, 2 Jan 2024 10:00:00 +0900\n\nx\n"));
  EXPECT_EQ(readArray(file, "date:nofile:nobody:", dir.str())[0], "date: 2024/01/02 10:00:00");
  std::string junk = writeFile(dir.path() / "j.eml", crlf("Date: someday\n\nx\n"));
  EXPECT_EQ(readArray(junk, "date:nofile:", dir.str())[0], "date: ");
}

}  // namespace
