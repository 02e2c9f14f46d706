// Character codes as Japanese mail carries them: every element must come out as the
// UTF-8 text the sender wrote, whatever the label (or its absence) says.
#include "mail/jptext.h"
#include "mail/mailheader.h"
#include "read_test_support.h"

using namespace readtest;

namespace {

struct Read {
  std::vector<std::string> elements;
  std::string subject() const { return cut(elements.at(0), 9); }
  std::string from() const { return cut(elements.at(1), 6); }
  std::string body() const { return cut(elements.at(3), 6); }
};

// Reads with the filing key list's shape: subject, from, nofile, body, attachments.
Read readMessage(const TempDir& dir, std::string_view bytes) {
  std::string file = writeFile(dir.path() / "m.eml", bytes);
  return {readArray(file, "subject:from:nofile:", dir.str())};
}

TEST(ReadCharset, Iso2022JpWithWindowsExtensions) {
  TempDir dir;
  auto r = readMessage(
      dir, crlf("From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\n"
                "Subject: =?ISO-2022-JP?B?GyRCLSEtahsoQg==?= =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n"
                "Content-Type: text/plain; charset=\"iso-2022-jp\"\n"
                "\n"
                "\x1b$B$3$s$K$A$O\x1b(B\n"
                "\x1b$B-!-j\x1b(B ok\n"));
  EXPECT_EQ(r.subject(), "①㈱テスト");  // space between encoded words dropped
  EXPECT_EQ(r.from(), "山田 <yamada@example.jp>");
  EXPECT_EQ(r.body(), "こんにちは\r\n①㈱ ok\r\n");
}

TEST(ReadCharset, ShiftJisLabelIsReadAsCp932) {
  TempDir dir;
  // ソ and 表 end in 0x5C; ① and ～ exist only in the Windows form of Shift_JIS.
  auto r = readMessage(dir, crlf("From: a@example.jp\n"
                                 "Subject: =?Shift_JIS?B?g1yVXI6mh0CBYA==?=\n"
                                 "Content-Type: text/plain; charset=Shift_JIS\n"
                                 "Content-Transfer-Encoding: 8bit\n"
                                 "\n"
                                 "\x83\x5c\x95\x5c\x8e\xa6\x87\x40\x81\x60\n"));
  EXPECT_EQ(r.subject(), "ソ表示①～");
  EXPECT_EQ(r.body(), "ソ表示①～\r\n");
}

TEST(ReadCharset, UndeclaredEightBitIsUtf8WhenValidElseCp932) {
  TempDir dir;
  auto sjis = readMessage(dir, crlf("From: \x8e\x52\x93\x63 <y@example.jp>\n"
                                    "Subject: \x83\x5c\x95\x5c\x8e\xa6\n"
                                    "\n"
                                    "\x96\x7b\x95\xb6\n"));
  EXPECT_EQ(sjis.subject(), "ソ表示");
  EXPECT_EQ(sjis.from(), "山田 <y@example.jp>");
  EXPECT_EQ(sjis.body(), "本文\r\n");

  auto utf8 = readMessage(dir, crlf("From: x@example.jp\nSubject: 件名です\n\n本文です\n"));
  EXPECT_EQ(utf8.subject(), "件名です");
  EXPECT_EQ(utf8.body(), "本文です\r\n");

  // Old mailers send raw JIS in headers without any label.
  auto jis = readMessage(dir, crlf("From: x@example.jp\nSubject: \x1b$B;3ED\x1b(B san\n\nx\n"));
  EXPECT_EQ(jis.subject(), "山田 san");
}

TEST(ReadCharset, EucJpAndMislabelledText) {
  TempDir dir;
  auto euc = readMessage(dir, crlf("From: x@example.jp\nSubject: =?EUC-JP?Q?=C6=FC=CB=DC?=\n"
                                   "Content-Type: text/plain; charset=EUC-JP\n\n"
                                   "\xc6\xfc\xcb\xdc\xb8\xec\xad\xa1\n"));
  EXPECT_EQ(euc.subject(), "日本");
  EXPECT_EQ(euc.body(), "日本語①\r\n");

  // Labelled ISO-2022-JP but sent as 8-bit Shift_JIS: the label cannot be true.
  auto wrong = readMessage(dir, crlf("From: x@example.jp\nSubject: s\n"
                                     "Content-Type: text/plain; charset=ISO-2022-JP\n\n"
                                     "\x96\x7b\x95\xb6\n"));
  EXPECT_EQ(wrong.body(), "本文\r\n");
}

TEST(ReadCharset, Utf8TransferEncodings) {
  TempDir dir;
  auto b64 =
      readMessage(dir, crlf("From: x@example.jp\nSubject: =?UTF-8?B?5pc=?= =?UTF-8?B?peacrA==?=\n"
                            "Content-Type: text/plain; charset=UTF-8\n"
                            "Content-Transfer-Encoding: base64\n\n"
                            "5pys5paH44Gn44GZ44CCDQrkuozooYznm64NCg==\n"));
  EXPECT_EQ(b64.subject(), "日本");  // a character split across two encoded words
  EXPECT_EQ(b64.body(), "本文です。\r\n二行目\r\n");

  auto qp = readMessage(dir, crlf("From: x@example.jp\nSubject: =?utf-8?q?caf=C3=A9_=E6=97=A5?=\n"
                                  "Content-Type: text/plain; charset=utf-8\n"
                                  "Content-Transfer-Encoding: quoted-printable\n\n"
                                  "=E6=9C=AC=E6=96=87=E3=81=A7=E3=81=99=E3=80=82 soft=\n"
                                  "break\n"));
  EXPECT_EQ(qp.subject(), "café 日");
  EXPECT_EQ(qp.body(), "本文です。 softbreak\r\n");
}

TEST(ReadCharset, AttachmentNamesInEveryEncoding) {
  TempDir dir;
  auto r = readMessage(
      dir,
      crlf("From: x@example.jp\nSubject: names\nMIME-Version: 1.0\n"
           "Content-Type: multipart/mixed; boundary=\"b\"\n\n"
           "--b\nContent-Type: text/plain; charset=us-ascii\n\nbody\n"
           "--b\nContent-Type: application/octet-stream\n"
           "Content-Disposition: attachment;\n filename*0*=UTF-8''%E6%97%A5%E6%9C%AC;\n "
           "filename*1*=%E8%AA%9E.txt\n\nAAAA\n"
           "--b\nContent-Type: application/octet-stream\n"
           "Content-Disposition: attachment; "
           "filename=\"=?ISO-2022-JP?B?GyRCRTpJVRsoQi50eHQ=?=\"\n\nAAAA\n"
           "--b\nContent-Type: application/pdf; "
           "name=\"=?ISO-2022-JP?B?GyRCJVUlISUkJWtMPhsoQi5wZGY=?=\"\n"
           "Content-Transfer-Encoding: base64\n\nJVBERg==\n"
           "--b\nContent-Type: application/octet-stream\n"
           "Content-Disposition: attachment; filename*=iso-2022-jp'ja'%1B%24B-%21%1B%28B.txt\n\nx\n"
           "--b\nContent-Type: application/octet-stream\n"
           "Content-Disposition: attachment; filename=\"\x95\x5c\"\n\nx\n"
           "--b--\n"));
  ASSERT_EQ(r.elements.size(), 9u);
  EXPECT_EQ(r.body(), "body");  // the line end before a boundary belongs to it
  EXPECT_EQ(r.elements[4], "file: 日本語.txt");
  EXPECT_EQ(r.elements[5], "file: 添付.txt");
  EXPECT_EQ(r.elements[6], "file: ファイル名.pdf");
  EXPECT_EQ(r.elements[7], "file: ①.txt");
  EXPECT_EQ(r.elements[8], "file: 表");  // 0x5C trail byte is no escape
}

TEST(ReadCharset, HeaderDecodingIsLenientButLiteralTextStays) {
  using mail::header::fDecodeText;
  // Words glued to text, inside quotes, and things that only look like words.
  EXPECT_EQ(fDecodeText("\"=?UTF-8?B?5pel5pys?=\"<a@b>"), "\"日本\"<a@b>");
  EXPECT_EQ(fDecodeText("a =? b ?= c"), "a =? b ?= c");
  EXPECT_EQ(fDecodeText("=?UTF-8?X?abc?="), "=?UTF-8?X?abc?=");
  EXPECT_EQ(fDecodeText("=?utf-8*ja?Q?=E6=97=A5?= x"), "日 x");
  EXPECT_EQ(fDecodeText("=?no-such-charset?Q?abc?="), "abc");
  EXPECT_EQ(mail::header::fUnfold(" a\r\n\tb\r\n c "), "a\tb c");
}

TEST(ReadCharset, JisDecoderHandlesKanaAndDamage) {
  using mail::jptext::fDecodeIso2022Jp;
  EXPECT_EQ(fDecodeIso2022Jp("\x1b(I\x31\x32\x1b(B"), "ｱｲ");
  EXPECT_EQ(fDecodeIso2022Jp("a\x0e\x31\x0f"
                             "b"),
            "aｱb");
  // A truncated two-byte character and a stray 8-bit byte become replacement characters.
  EXPECT_EQ(fDecodeIso2022Jp("\x1b$B$3$"), "こ\xEF\xBF\xBD");
  EXPECT_EQ(fDecodeIso2022Jp("x\xffy"), "x\xEF\xBF\xBDy");
  EXPECT_EQ(mail::jptext::fToCrLf("a\nb\r\nc\rd"), "a\r\nb\r\nc\r\nd");
}

}  // namespace
