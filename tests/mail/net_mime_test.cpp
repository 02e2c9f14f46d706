// Outgoing message parts that need no server: recipient lists and header encoding.
#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include "mail/mimebuild.h"

namespace {

using namespace mail::mime;

std::string decode(const std::vector<std::string>& words) {
  g_mime_init();
  std::string joined;
  for (auto& w : words) joined += (joined.empty() ? "" : " ") + w;
  gchar* text = g_mime_utils_header_decode_text(nullptr, joined.c_str());
  std::string out = text;
  g_free(text);
  return out;
}

TEST(OutgoingMime, RecipientListsSplitIntoToCcBcc) {
  std::string error;
  auto r = fParseRecipients("山田 太郎<yamada@example.jp>\t b@example.jp \tcc\t\tbcc\t\"Sato, J\" <s@x.jp>", error);
  ASSERT_TRUE(r) << error;
  ASSERT_EQ(r->to.size(), 2u);
  EXPECT_EQ(r->to[0].name, "山田 太郎");
  EXPECT_EQ(r->to[0].address, "yamada@example.jp");
  EXPECT_EQ(r->to[1].address, "b@example.jp");
  EXPECT_TRUE(r->cc.empty());  // a Cc field of only commas leaves "cc" with nothing after it
  ASSERT_EQ(r->bcc.size(), 1u);
  EXPECT_EQ(r->bcc[0].name, "Sato, J");

  for (const char* bad : {"no-at-sign", "a b@example.jp", "x@y\r\nBcc: z@w", "名前<>"})
    EXPECT_FALSE(fParseRecipients(bad, error)) << bad;
}

TEST(OutgoingMime, HeaderWordsPickIso2022JpOnlyWhenTheTextFits) {
  EXPECT_EQ(fEncodeWords("plain ascii"), std::vector<std::string>{"plain ascii"});
  std::string longJapanese;
  for (int i = 0; i < 12; ++i) longJapanese += "日本語の件名～";
  auto words = fEncodeWords(longJapanese);
  EXPECT_GT(words.size(), 3u);
  for (auto& w : words) {
    EXPECT_EQ(w.rfind("=?ISO-2022-JP?B?", 0), 0u) << w;
    EXPECT_LE(w.size(), 69u) << w;
  }
  std::string expected;
  for (int i = 0; i < 12; ++i) expected += "日本語の件名〜";
  EXPECT_EQ(decode(words), expected);

  auto utf8 = fEncodeWords("ｶﾅと①と😀が混じる長めの件名をここに書いておきます");
  for (auto& w : utf8) EXPECT_EQ(w.rfind("=?UTF-8?", 0), 0u) << w;
  EXPECT_EQ(decode(utf8), "ｶﾅと①と😀が混じる長めの件名をここに書いておきます");

  EXPECT_TRUE(fToIso2022jp("全角チルダ～とマイナス－と∥と—"));
  EXPECT_FALSE(fToIso2022jp("①"));
  EXPECT_FALSE(fToIso2022jp("ﾊﾝｶｸ"));
}

}  // namespace
