// Import and export against real folders: mbox dialects, Maildir, .eml folders, the
// store's naming and read states, duplicates, cancelling and round trips.
#include <gtest/gtest.h>


#include "../common/mailfiles.h"
#include "../common/tempdir.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"
#include "transfer/transfer.h"

namespace fs = std::filesystem;
using qbtest::contentsIn;
using qbtest::mailsIn;
using qbtest::readBytes;
using qbtest::writeBytes;

namespace {

const std::string kSep = "From someone@example.jp Tue Dec  8 19:27:04 2026\n";

// "20261208_192704123_0001.eml", as received mail is named.
bool isStoreName(const std::string& name) {
  const std::string shape = "dddddddd_ddddddddd_dddd.eml";
  if (name.size() != shape.size()) return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(name[i])) : name[i] != shape[i])
      return false;
  }
  return true;
}

struct MboxCase {
  const char* name;
  std::string file;
  std::multiset<std::string> mails;  // what the folder holds afterwards
  bool truncated = false;
};

class Transfer : public ::testing::Test {
 protected:
  qbtest::TempDir dir{"qbtransfer"};
  fs::path folder = dir / "受信箱";
  void SetUp() override { fs::create_directories(folder); }
  std::string state(const fs::path& f, const std::string& name) {
    return mod_ini::IniFile::fLoad(f / "icon.ini").fGet("Icon", name).value_or("");
  }
};

TEST_F(Transfer, MboxDialectsGiveBackTheMessages) {
  const std::string a = "Subject: a\nMessage-ID: <a@x>\n\nFrom here\n>From there\n>>From far\nend\n";
  const std::string b = "Subject: b\r\nMessage-ID: <b@x>\r\n\r\nline\r\n";
  const std::string cl = "Subject: c\nContent-Length: 49\n\nFrom x Tue Dec  8 19:27:04 2026 inside\nnot split\n";
  const MboxCase cases[] = {
      {"mboxrd quoting undone one level",
       kSep + "Subject: a\nMessage-ID: <a@x>\n\n>From here\n>>From there\n>>>From far\nend\n\n", {a}},
      {"CR LF lines and separators", kSep + b + "\r\n" + kSep + "Subject: d\r\n\r\nx\r\n\r\n",
       {b, "Subject: d\r\n\r\nx\r\n"}},
      {"Content-Length keeps an unquoted From line", kSep + cl + "\n" + kSep + "Subject: e\n\ny\n",
       {cl, "Subject: e\n\ny\n"}},
      {"blank lines before the first separator", "\n\n" + kSep + "Subject: f\n\nz\n", {"Subject: f\n\nz\n"}},
      {"a From line in the body after no blank line stays", kSep + "Subject: g\n\nhi\nFrom me Tue Dec  8 19:27:04 2026\n",
       {"Subject: g\n\nhi\nFrom me Tue Dec  8 19:27:04 2026\n"}},
      {"a cut last message is not stored", kSep + "Subject: h\n\nwhole\n\n" + kSep + "Subject: i\n\ncut in the mid",
       {"Subject: h\n\nwhole\n"}, true},
      {"a last message cut in its header", kSep + "Subject: h\n\nwhole\n\n" + kSep + "Subject: i\n",
       {"Subject: h\n\nwhole\n"}, true},
  };
  for (const MboxCase& c : cases) {
    SCOPED_TRACE(c.name);
    qbtest::TempDir target{"qbmbox"};
    writeBytes(dir / "in.mbox", c.file);
    auto r = transfer::fImport(dir / "in.mbox", target.path());
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.truncated, c.truncated);
    EXPECT_EQ(contentsIn(target.path()), c.mails);
    EXPECT_EQ(r.stored, c.mails.size());
  }
}

TEST_F(Transfer, StoresUnderTheReceivedNamesWithReadStatesAndNoDuplicates) {
  writeBytes(dir / "in.mbox", kSep + "Subject: read\nStatus: RO\n\nx\n\n" + kSep +
                                  "Subject: new\nStatus: O\n\ny\n\n" + kSep + "Subject: new\nStatus: O\n\ny\n\n" +
                                  kSep + "Message-ID: <m@x>\n\n1\n\n" + kSep + "Message-ID: <m@x>\n\nother copy\n\n");
  auto first = transfer::fImport(dir / "in.mbox", folder);
  EXPECT_EQ(first.stored, 3u);
  EXPECT_EQ(first.duplicates, 2u);
  for (const auto& [name, bytes] : mailsIn(folder)) {
    EXPECT_TRUE(isStoreName(name)) << name;
    EXPECT_EQ(state(folder, name), bytes.find("Subject: read") == 0 ? "6" : "") << name;
  }
  auto again = transfer::fImport(dir / "in.mbox", folder);
  EXPECT_EQ(again.stored, 0u);
  EXPECT_EQ(again.duplicates, 5u);
  EXPECT_EQ(mailsIn(folder).size(), 3u);
}

TEST_F(Transfer, MaildirAndEmlFolders) {
  writeBytes(dir / "md/cur/1.host:2,S", "Subject: seen\n\n1\n");
  writeBytes(dir / "md/new/2.host", "Subject: fresh\n\n2\n");
  writeBytes(dir / "md/tmp/3.host", "Subject: half written\n\n");
  writeBytes(dir / "emls/a.eml", "Subject: a\n\n");
  writeBytes(dir / "emls/b.EML", "Subject: b\n\n");
  writeBytes(dir / "emls/notes.txt", "not a mail");
  writeBytes(dir / "emls/icon.ini", "[Icon]\r\nb.EML=6\r\n");
  ASSERT_EQ(transfer::fImport(dir / "md", folder).stored, 2u);
  ASSERT_EQ(transfer::fImport(dir / "emls", folder).stored, 2u);
  std::map<std::string, std::string> states;
  for (const auto& [name, bytes] : mailsIn(folder)) states[bytes] = state(folder, name);
  EXPECT_EQ(states, (std::map<std::string, std::string>{{"Subject: seen\n\n1\n", "6"},
                                                        {"Subject: fresh\n\n2\n", ""},
                                                        {"Subject: a\n\n", ""},
                                                        {"Subject: b\n\n", "6"}}));
}

TEST_F(Transfer, BadInputStoresNothing) {
  writeBytes(dir / "letter.txt", "Dear friend,\nFrom Tokyo 10:30 2026\n");
  EXPECT_NE(transfer::fImport(dir / "letter.txt", folder).error.find("mbox"), std::string::npos);
  EXPECT_NE(transfer::fImport(dir / "missing.mbox", folder).error, "");
  EXPECT_NE(transfer::fImport(dir / "letter.txt", dir / "no-such-folder").error, "");
  EXPECT_TRUE(mailsIn(folder).empty());
}

TEST_F(Transfer, CancelLeavesWholeMailsOnly) {
  std::string mbox;
  for (int i = 0; i < 50; ++i) mbox += kSep + "Subject: " + std::to_string(i) + "\n\nbody\n\n";
  writeBytes(dir / "in.mbox", mbox);
  int calls = 0;
  auto r = transfer::fImport(dir / "in.mbox", folder, [&](auto, auto) { return ++calls <= 10; });
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.stored, 10u);
  EXPECT_EQ(contentsIn(folder).size(), 10u);
  for (const auto& e : fs::directory_iterator(folder))
    EXPECT_FALSE(e.path().filename().string().starts_with('.')) << e.path();
  // Going on later stores the rest and nothing twice.
  EXPECT_EQ(transfer::fImport(dir / "in.mbox", folder).stored, 40u);
}

TEST_F(Transfer, ExportAndImportBackIsByteIdentical) {
  const std::map<std::string, std::string> mails = {
      {"1.eml", "Subject: crlf\r\nMessage-ID: <1@x>\r\n\r\nFrom the start\r\n>From quoted\r\n"},
      {"2.eml", "Subject: lf\n\nno id, read\n\n\nFrom x Tue Dec  8 19:27:04 2026\n"},
      {"3.eml", "Subject: own status\nStatus: RO\n\nkept as it is\n"},
      {"4.eml", "Subject: =?ISO-2022-JP?B?GyRCJEYkOSRIGyhC?=\n\n\x1b$B$F$9$H\x1b(B\n"},
  };
  for (const auto& [name, bytes] : mails) writeBytes(folder / name, bytes);
  writeBytes(folder / "icon.ini", "[Icon]\r\n2.eml=6\r\n4.eml=5\r\n");
  std::map<std::string, std::string> wantStates;  // by content
  for (const auto& [name, bytes] : mails) wantStates[bytes] = state(folder, name) == "6" ? "6" : "";

  for (const char* target : {"out.mbox", "out-folder"}) {
    SCOPED_TRACE(target);
    auto exported = transfer::fExport(folder, dir / target);
    ASSERT_EQ(exported.error, "");
    EXPECT_EQ(exported.exported, mails.size());
    const fs::path back = dir / (std::string(target) + "-back");
    fs::create_directories(back);
    auto imported = transfer::fImport(dir / target, back);
    ASSERT_EQ(imported.error, "");
    EXPECT_EQ(contentsIn(back), contentsIn(folder));
    std::map<std::string, std::string> states;
    for (const auto& [name, bytes] : mailsIn(back)) states[bytes] = state(back, name);
    // In an mbox, a Status line of the mail's own is never rewritten: the state comes back
    // as that line says. A folder of .eml files keeps the states beside the mails.
    auto want = wantStates;
    if (fs::path(target).extension() == ".mbox") want[mails.at("3.eml")] = "6";
    EXPECT_EQ(states, want);
  }
  // An existing mbox is never replaced.
  EXPECT_NE(transfer::fExport(folder, dir / "out.mbox").error, "");
}

}  // namespace
