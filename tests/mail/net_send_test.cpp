// SendMailEx against the aiosmtpd sink, received back from dovecot with RcvMail and read
// with GMime: what a recipient's mailer would see.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "mail/mail.h"
#include "servertest.h"
#include "store/fsutil.h"

namespace fs = std::filesystem;
using qbtest::MailServers;
using qbtest::ServerTest;

namespace {

struct Parsed {
  GMimeMessage* msg = nullptr;
  explicit Parsed(const std::string& bytes) {
    g_mime_init();
    GMimeStream* s = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
    GMimeParser* p = g_mime_parser_new_with_stream(s);
    msg = g_mime_parser_construct_message(p, nullptr);
    g_object_unref(p);
    g_object_unref(s);
  }
  ~Parsed() {
    if (msg) g_object_unref(msg);
  }
  std::string subject() const { return g_mime_message_get_subject(msg) ?: ""; }
  std::string addresses(GMimeAddressType type) const {
    gchar* s = internet_address_list_to_string(g_mime_message_get_addresses(msg, type), nullptr, FALSE);
    std::string out = s ? s : "";
    g_free(s);
    return out;
  }
  std::string header(const char* name) const {
    const char* v = g_mime_object_get_header(GMIME_OBJECT(msg), name);
    return v ? v : "";
  }
  static std::string content(GMimeObject* part) {
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(GMIME_PART(part)), mem);
    GByteArray* a = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    std::string out(reinterpret_cast<char*>(a->data), a->len);
    g_object_unref(mem);
    return out;
  }
  std::string bodyText() const {
    GMimeObject* body = g_mime_message_get_mime_part(msg);
    if (GMIME_IS_MULTIPART(body)) body = g_mime_multipart_get_part(GMIME_MULTIPART(body), 0);
    gchar* t = g_mime_text_part_get_text(GMIME_TEXT_PART(body));
    std::string out = t ? t : "";
    g_free(t);
    return out;
  }
  std::string bodyCharset() const {
    GMimeObject* body = g_mime_message_get_mime_part(msg);
    if (GMIME_IS_MULTIPART(body)) body = g_mime_multipart_get_part(GMIME_MULTIPART(body), 0);
    const char* c = g_mime_object_get_content_type_parameter(body, "charset");
    return c ? c : "";
  }
  std::vector<std::pair<std::string, std::string>> attachments() const {
    std::vector<std::pair<std::string, std::string>> out;
    GMimeObject* body = g_mime_message_get_mime_part(msg);
    if (!GMIME_IS_MULTIPART(body)) return out;
    for (int i = 1; i < g_mime_multipart_get_count(GMIME_MULTIPART(body)); ++i) {
      GMimeObject* part = g_mime_multipart_get_part(GMIME_MULTIPART(body), i);
      const char* name = g_mime_part_get_filename(GMIME_PART(part));
      out.emplace_back(name ? name : "", content(part));
    }
    return out;
  }
};

class Send : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (fNotStarted()) return;
    work = fs::path(servers->dir) / "work";
    fs::create_directories(work / "inbox");
    log = (work / "log.txt").string();
  }

  // The messages waiting for `user`, fetched over POP3 and deleted from the server.
  std::vector<std::string> fetch(const std::string& user) {
    std::string pass;
    for (auto& [u, p] : MailServers::kUsers)
      if (u == user) pass = p;
    fs::path box = work / ("inbox-" + user);
    fs::create_directories(box);
    auto r = mail::RcvMail(servers->popServer(), user, pass, "SAVEALLD", "<" + box.string());
    std::vector<std::string> out;
    if (auto* paths = std::get_if<std::vector<std::string>>(&r))
      for (auto& p : *paths) out.push_back(*fsutil::fReadFile(p));
    else if (!std::get<std::string>(r).empty())
      ADD_FAILURE() << std::get<std::string>(r);
    return out;
  }

  std::vector<std::string> logLines() {
    std::vector<std::string> lines;
    std::ifstream in(log);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  fs::path work;
  std::string log;
};

TEST_F(Send, JapaneseMailRoundTripsWithAttachmentAndHiddenBcc) {
  fs::path file = work / "見積書～最終版.txt";
  std::ofstream(file, std::ios::binary) << "添付の中身\r\nline 2\r\n";
  std::string subject = "お見積りの件～ご確認ください－第2版";
  std::string body = "山田様\r\n\r\nいつもお世話になっております。\r\n～以上－\r\n";
  mail::SendStatus result =
      mail::SendMailEx(log, servers->smtpServer(),
                       "山田 太郎<alice@localhost>\tcc\t佐藤<carol@localhost>\tbcc\tbob@localhost",
                       "鈴木 一郎<sender@example.com>", subject, body, file.string());
  ASSERT_TRUE(result.sent) << result.text;
  ASSERT_EQ(result.text, "送信しました");

  auto mails = fetch("alice");
  ASSERT_EQ(mails.size(), 1u);
  const std::string& raw = mails[0];
  EXPECT_NE(raw.find("=?ISO-2022-JP?B?"), std::string::npos);
  EXPECT_EQ(raw.find("bob@localhost"), std::string::npos) << "Bcc must not reach the headers";
  EXPECT_EQ(raw.find("Bcc:"), std::string::npos);
  Parsed m(raw);
  ASSERT_TRUE(m.msg);
  // The Windows forms ～ － travel as their JIS X 0208 counterparts.
  EXPECT_EQ(m.subject(), "お見積りの件〜ご確認ください−第2版");
  EXPECT_EQ(m.addresses(GMIME_ADDRESS_TYPE_FROM), "鈴木 一郎 <sender@example.com>");
  EXPECT_EQ(m.addresses(GMIME_ADDRESS_TYPE_TO), "山田 太郎 <alice@localhost>");
  EXPECT_EQ(m.addresses(GMIME_ADDRESS_TYPE_CC), "佐藤 <carol@localhost>");
  EXPECT_FALSE(m.header("Date").empty());
  EXPECT_FALSE(m.header("Message-ID").empty());
  EXPECT_EQ(m.bodyCharset(), "ISO-2022-JP");
  EXPECT_EQ(m.bodyText(), "山田様\r\n\r\nいつもお世話になっております。\r\n〜以上−\r\n");
  auto att = m.attachments();
  ASSERT_EQ(att.size(), 1u);
  EXPECT_EQ(att[0].first, "見積書～最終版.txt");
  EXPECT_EQ(att[0].second, "添付の中身\r\nline 2\r\n");

  // Cc and Bcc recipients got the same message; the Bcc copy does not name bob either.
  EXPECT_EQ(fetch("carol").size(), 1u);
  auto bobs = fetch("bob");
  ASSERT_EQ(bobs.size(), 1u);
  EXPECT_EQ(bobs[0].find("bob@localhost"), std::string::npos);
}

TEST_F(Send, TextBeyondJisGoesAsUtf8) {
  std::string subject = "①番の件 ㈱テスト ｶﾀｶﾅ 😀";
  std::string body = "丸数字①と絵文字😀\n";
  ASSERT_TRUE(mail::SendMailEx(log, servers->smtpServer(), "alice@localhost", "sender@example.com",
                               subject, body, "")
                  .sent);
  auto mails = fetch("alice");
  ASSERT_EQ(mails.size(), 1u);
  Parsed m(mails[0]);
  EXPECT_EQ(m.subject(), subject);
  EXPECT_EQ(m.bodyCharset(), "UTF-8");
  EXPECT_EQ(m.bodyText(), "丸数字①と絵文字😀\r\n");
  for (std::size_t start = 0, nl; (nl = mails[0].find("\r\n", start)) != std::string::npos; start = nl + 2)
    EXPECT_LE(nl - start, 78u) << "header or body line too long";
}

TEST_F(Send, LoginOverStartTlsAndImplicitTls) {
  for (bool implicitTls : {false, true}) {
    EXPECT_TRUE(mail::SendMailEx(log, servers->smtpServer(implicitTls), "alice@localhost",
                                 "alice@localhost", "tls " + std::to_string(implicitTls), "body",
                                 "", "alice", "secret")
                    .sent);
  }
  EXPECT_EQ(fetch("alice").size(), 2u);
  mail::SendStatus deniedStatus =
      mail::SendMailEx(log, servers->smtpServer(), "alice@localhost", "alice@localhost", "x", "y",
                       "", "alice", "wrong-pass");
  EXPECT_FALSE(deniedStatus.sent);
  const std::string& denied = deniedStatus.text;
  EXPECT_EQ(denied.rfind("送信に失敗しました", 0), 0u) << denied;
  EXPECT_NE(denied.find("認証"), std::string::npos) << denied;
  EXPECT_NE(denied.find("535"), std::string::npos) << denied;
  // The log has one line per attempt and never the password.
  auto lines = logLines();
  ASSERT_EQ(lines.size(), 3u);
  for (auto& l : lines) {
    EXPECT_EQ(l.find("secret"), std::string::npos);
    EXPECT_EQ(l.find("wrong-pass"), std::string::npos);
    EXPECT_NE(l.find("alice@localhost"), std::string::npos);
    EXPECT_NE(l.find("127.0.0.1:"), std::string::npos);
  }
  EXPECT_NE(lines[0].find("送信しました"), std::string::npos);
  EXPECT_NE(lines[2].find("送信に失敗しました"), std::string::npos);
}

TEST_F(Send, ServerRefusalsAndConnectionFailuresSayWhy) {
  struct Case {
    std::string server, rcpt, expect;
  } cases[] = {
      {servers->smtpServer(), "fail451@localhost", "451 4.3.0 mailbox temporarily unavailable"},
      {servers->smtpServer(), "fail554@localhost", "554 5.6.0 message refused"},
      {servers->smtpServer(), "nobody@localhost", "550 5.1.1"},
      {"127.0.0.1:1", "alice@localhost", "接続できません"},
      {"no-such-host.invalid", "alice@localhost", "見つかりません"},
  };
  for (auto& c : cases) {
    mail::SendStatus st =
        mail::SendMailEx(log, c.server, c.rcpt, "sender@example.com", "s", "b", "");
    EXPECT_FALSE(st.sent) << c.rcpt;
    const std::string& t = st.text;
    EXPECT_EQ(t.rfind("送信に失敗しました", 0), 0u) << t;
    EXPECT_NE(t.find(c.expect), std::string::npos) << t;
  }
  EXPECT_EQ(logLines().size(), std::size(cases));
  EXPECT_TRUE(fetch("alice").empty());

  std::string missing =
      mail::SendMailEx(log, servers->smtpServer(), "alice@localhost", "sender@example.com", "s",
                       "b", (work / "nope.pdf").string())
          .text;
  EXPECT_NE(missing.find("添付ファイル"), std::string::npos) << missing;
  std::string injected = mail::SendMailEx(log, servers->smtpServer(), "alice@localhost\r\nBcc: x@y",
                                          "sender@example.com", "s", "b", "")
                             .text;
  EXPECT_EQ(injected.rfind("送信に失敗しました", 0), 0u) << injected;
}

TEST_F(Send, UntrustedCertificateIsRefused) {
  mail::LibrarySettings s = mail::fGetLibrarySettings();
  s.caFile.clear();
  mail::sSetLibrarySettings(s);
  for (bool implicitTls : {false, true}) {
    std::string t = mail::SendMailEx(log, servers->smtpServer(implicitTls), "alice@localhost",
                                     "sender@example.com", "s", "b", "")
                        .text;
    EXPECT_NE(t.find("TLS"), std::string::npos) << t;
  }
  s.caFile = servers->caFile;
  mail::sSetLibrarySettings(s);
  EXPECT_TRUE(fetch("alice").empty());
}

}  // namespace
