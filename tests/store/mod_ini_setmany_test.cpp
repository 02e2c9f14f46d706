// Setting many keys of a section in one pass must leave what setting them one by one
// leaves: the values every reader sees, the order of the keys that were there, and every
// line it has no business touching.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <map>
#include <set>
#include <sstream>

#include "store/mod_ini.h"
#include "testutil.h"

using mod_ini::IniFile;
using Changes = std::vector<std::pair<std::string, std::optional<std::string>>>;

namespace {

const std::string kSection = "Icon";

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.erase(0, 1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return out;
}

std::string describe(const std::string& file, const Changes& changes) {
  std::ostringstream s;
  s << "file:\n" << file << "\nchanges:";
  for (const auto& [k, v] : changes) s << " [" << k << "=" << (v ? "\"" + *v + "\"" : "null") << "]";
  return s.str();
}

// Lines of the serialized file outside the section's own header and the changed keys'
// lines (those are where the two ways may differ in spelling or in placement).
std::vector<std::string> untouchedLines(const std::string& text, const std::set<std::string>& changed) {
  std::vector<std::string> out;
  std::string section;
  for (const std::string& raw : lines(text)) {
    std::string line = raw;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string t = trimmed(line);
    if (!t.empty() && t.front() == '[' && t.find(']') != std::string::npos) {
      section = lower(trimmed(t.substr(1, t.rfind(']') - 1)));
      if (section == lower(kSection)) continue;
      out.push_back(raw);
      continue;
    }
    std::size_t eq = line.find('=');
    if (section == lower(kSection) && eq != std::string::npos && changed.count(lower(trimmed(line.substr(0, eq)))))
      continue;
    out.push_back(raw);
  }
  return out;
}

void expectSameAsOneByOne(const std::string& file, const Changes& changes) {
  SCOPED_TRACE(describe(file, changes));
  IniFile one = IniFile::fParse(file);
  for (const auto& [key, value] : changes) one.sSet(kSection, key, value);
  IniFile many = IniFile::fParse(file);
  many.sSetMany(kSection, changes);

  const IniFile before = IniFile::fParse(file);
  std::set<std::string> names, changed;
  for (const auto& k : before.fKeys(kSection)) names.insert(lower(k));
  for (const auto& [k, v] : changes) {
    names.insert(lower(trimmed(k)));
    changed.insert(lower(trimmed(k)));
  }
  for (const std::string& name : names) {
    EXPECT_EQ(many.fGet(kSection, name), one.fGet(kSection, name)) << "key " << name;
    EXPECT_EQ(many.fGet(lower(kSection), name), one.fGet(kSection, name)) << "key " << name;
  }
  EXPECT_EQ(many.fSectionValues(kSection), one.fSectionValues(kSection));

  // Keys that were there keep their order; the new ones come after them. (A key deleted
  // and then set again stays where it stood, where setting one by one puts it last.)
  std::set<std::string> existing, deletedThenSet, deleted;
  for (const auto& [k, v] : changes) {
    const std::string name = lower(trimmed(k));
    if (!v) deleted.insert(name);
    else if (deleted.count(name)) deletedThenSet.insert(name);
  }
  for (const auto& k : before.fKeys(kSection))
    if (!deletedThenSet.count(lower(k))) existing.insert(lower(k));
  auto keysIn = [&](const IniFile& ini, bool old) {
    std::vector<std::string> out;
    for (const auto& k : ini.fKeys(kSection))
      if (existing.count(lower(k)) == (old ? 1u : 0u)) out.push_back(lower(k));
    return out;
  };
  EXPECT_EQ(keysIn(many, true), keysIn(one, true));
  auto newOnes = [&](const IniFile& ini) {
    auto v = keysIn(ini, false);
    return std::set<std::string>(v.begin(), v.end());
  };
  EXPECT_EQ(newOnes(many), newOnes(one));
  EXPECT_EQ(untouchedLines(many.fSerialize(), changed), untouchedLines(one.fSerialize(), changed));

  // The section comes into being only when a key of it ends up with a value.
  const bool had = before.fKeys(kSection).size() > 0 || file.find("[" + kSection + "]") != std::string::npos ||
                   lower(file).find("[" + lower(kSection) + "]") != std::string::npos;
  const bool valued = !many.fKeys(kSection).empty();
  const std::string text = lower(many.fSerialize());
  EXPECT_EQ(text.find("[" + lower(kSection) + "]") != std::string::npos, had || valued);
}

}  // namespace

TEST(IniSetMany, WorkedExamples) {
  const std::string file = "; head\r\n[Other]\r\na=o\r\n[icon]\r\n; note\r\nA=1\r\n\r\nKey = v \r\nb=2\r\n[Tail]\r\nx=1\r\n";
  IniFile ini = IniFile::fParse(file);
  ini.sSetMany(kSection, {{"key", "new"}, {"a", std::nullopt}, {"c", "3"}, {"C", "4"}, {"d", std::nullopt}});
  // The kept key rewritten where it stands with its spelling, the deleted one gone,
  // the new one after the section's last key, other sections and comments untouched.
  EXPECT_EQ(ini.fSerialize(), "; head\r\n[Other]\r\na=o\r\n[icon]\r\n; note\r\n\r\nKey=new\r\nb=2\r\nc=4\r\n[Tail]\r\nx=1\r\n");

  IniFile untouched = IniFile::fParse(file);
  untouched.sSetMany(kSection, {});
  EXPECT_EQ(untouched.fSerialize(), file);

  IniFile none = IniFile::fParse("[Other]\r\na=1\r\n");
  none.sSetMany(kSection, {{"a", std::nullopt}, {"b", "1"}, {"b", std::nullopt}});
  EXPECT_EQ(none.fSerialize(), "[Other]\r\na=1\r\n");
  none.sSetMany(kSection, {{"a", std::nullopt}, {"b", "1"}});
  EXPECT_EQ(none.fSerialize(), "[Other]\r\na=1\r\n[Icon]\r\nb=1\r\n");
}

TEST(IniSetMany, DuplicateKeysChangeOnlyTheFirstAsSetDoes) {
  const std::string file = "[Icon]\r\na=1\r\nb=2\r\nA=3\r\n";
  IniFile ini = IniFile::fParse(file);
  ini.sSetMany(kSection, {{"a", "9"}});
  EXPECT_EQ(ini.fSerialize(), "[Icon]\r\na=9\r\nb=2\r\nA=3\r\n");
  IniFile gone = IniFile::fParse(file);
  gone.sSetMany(kSection, {{"A", std::nullopt}});
  EXPECT_EQ(gone.fSerialize(), "[Icon]\r\nb=2\r\nA=3\r\n");
  EXPECT_EQ(gone.fGet(kSection, "a"), "3");
}

TEST(IniSetMany, SameResultAsSettingOneByOne) {
  const std::vector<std::string> files = {
      "",
      "[Icon]\r\na=1\r\nb=2\r\n",
      "; head\r\n[Other]\r\na=o\r\n[icon]\r\n; note\r\nA=1\r\n\r\nKey = v \r\nb=2\r\n[Tail]\r\nx=1\r\n",
      "[Other]\r\na=1\r\n",
      "[Icon]\r\n\r\n; only a comment\r\n[Next]\r\nz=1\r\n",
      "[Icon]\n日本=1\nb=\"q\"\nc=a=b\n",
      "[Icon]\r\nb=2\r\n[Icon]\r\na=5\r\n",
      "[Icon]\r\na=1\r\nb=2\r\nA=3\r\n",
  };
  const std::vector<std::string> keys = {"a", "A", " b ", "B", "c", "Key", "日本", "new"};
  const std::vector<std::optional<std::string>> values = {std::nullopt, "6", "0", "", "x y", "値"};
  std::mt19937 random(20240501);
  for (const std::string& file : files) {
    expectSameAsOneByOne(file, {});
    // Every single change and every ordered pair, then random longer lists.
    for (const auto& k : keys)
      for (const auto& v : values) expectSameAsOneByOne(file, {{k, v}});
    for (const auto& k1 : keys)
      for (const auto& k2 : keys)
        for (const auto& v1 : values)
          for (const auto& v2 : values) {
            if (HasFailure()) return;
            expectSameAsOneByOne(file, {{k1, v1}, {k2, v2}});
          }
    for (int round = 0; round < 300 && !HasFailure(); ++round) {
      Changes changes;
      const int n = static_cast<int>(random() % 8);
      for (int i = 0; i < n; ++i) changes.emplace_back(keys[random() % keys.size()], values[random() % values.size()]);
      expectSameAsOneByOne(file, changes);
    }
  }
}

TEST(IniSetMany, SavedFileReadsBackTheSame) {
  TempDir t;
  auto f = t / "icon.ini";
  writeBytes(f, "[Icon]\r\n1.eml=6\r\n2.eml=0\r\n");
  IniFile ini = IniFile::fLoad(f);
  ini.sSetMany(kSection, {{"2.EML", "6"}, {"3.eml", "0"}, {"1.eml", std::nullopt}, {"名前.eml", "6"}});
  ASSERT_TRUE(ini.fSave(f));
  EXPECT_EQ(mod_ini::fGetIniKeys("Icon", f), (std::vector<std::string>{"2.eml", "3.eml", "名前.eml"}));
  EXPECT_EQ(mod_ini::fGetIniString("Icon", "2.eml", f, ""), "6");
  EXPECT_EQ(mod_ini::fGetIniString("Icon", "名前.eml", f, ""), "6");
  EXPECT_EQ(mod_ini::fGetIniString("Icon", "1.eml", f, "none"), "none");
}

TEST(IniSetMany, DeletingADuplicatedKeyTwiceAsSetDoes) {
  // sSet twice with null removes both of a key's duplicate lines.
  const std::string file = "[Icon]\r\na=1\r\nb=2\r\nA=3\r\n";
  mod_ini::IniFile one = mod_ini::IniFile::fParse(file);
  one.sSet("Icon", "a", std::nullopt);
  one.sSet("Icon", "a", std::nullopt);
  mod_ini::IniFile many = mod_ini::IniFile::fParse(file);
  many.sSetMany("Icon", {{"a", std::nullopt}, {"a", std::nullopt}});
  EXPECT_EQ(one.fGet("Icon", "a"), std::nullopt);
  EXPECT_EQ(many.fGet("Icon", "a"), one.fGet("Icon", "a"));
}
