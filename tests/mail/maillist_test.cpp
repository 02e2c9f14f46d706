// A folder listed as the mail list shows it: typed fields, read states, rows known from a
// receive run, and files that are not mails.
#include <gtest/gtest.h>

#include <map>

#include "../store/testutil.h"
#include "mail/maillist.h"
#include "store/mailstore.h"

namespace {

void writeMail(const std::filesystem::path& file, std::string_view subject) {
  writeBytes(file, "Subject: " + std::string(subject) +
                       "\r\nFrom: =?UTF-8?B?5L2Q6Jek?= <sato@example.jp>\r\nTo: bob@example.jp\r\n"
                       "Date: Mon, 01 Jan 2024 10:00:00 +0900\r\n\r\nbody\r\n");
}

}  // namespace

TEST(MailList, LabelledValuesLoseOnlyTheirLabel) {
  EXPECT_EQ(maillist::fValueOf("Subject: Re: a: b"), "Re: a: b");
  EXPECT_EQ(maillist::fValueOf("Date: "), "");
  EXPECT_EQ(maillist::fValueOf("garbage"), "");
}

TEST(MailList, ListsFieldsReadStatesAndKnownRowsWithoutRereading) {
  TempDir dir;
  const auto folder = dir.path() / "inbox";
  writeMail(folder / "a.eml", "first: one");
  writeMail(folder / "B.eml", "second");
  writeBytes(folder / "c.eml", std::string(3, '\0'));  // not a mail: listed with no fields
  mailstore::sMarkRead(folder, "B.eml");
  // A known row wins over the file (it was read as the run filed it).
  const auto entries = maillist::fList(folder, false, {{"a.eml", {"known", "k@x", "d"}}});
  ASSERT_EQ(entries.size(), 3u);
  std::map<std::string, maillist::Entry> byName;
  for (const auto& e : entries) byName[e.file.filename().string()] = e;
  EXPECT_EQ(byName["a.eml"].headers.subject, "known");
  EXPECT_EQ(byName["B.eml"].headers.subject, "second");
  EXPECT_EQ(byName["B.eml"].headers.party, "佐藤 <sato@example.jp>");
  EXPECT_TRUE(byName["B.eml"].read);
  EXPECT_FALSE(byName["a.eml"].read);

  // Sent-type: the recipient is the party.
  const auto sent = maillist::fList(folder, true);
  for (const auto& e : sent) {
    if (e.file.filename() == "B.eml") {
      EXPECT_EQ(e.headers.party, "bob@example.jp");
    }
  }
}
