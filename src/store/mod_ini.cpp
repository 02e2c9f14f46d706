#include "store/mod_ini.h"

#include <algorithm>
#include <climits>
#include <unordered_map>

#include "store/charset.h"
#include "store/fsutil.h"
#include "store/text.h"

namespace mod_ini {
namespace {

using text::trim;

std::string fold(std::string_view s) { return text::foldKey(s); }

std::string beforeNul(std::string_view s) { return std::string(s.substr(0, s.find('\0'))); }

// How a file's bytes after its byte order mark (if any) are read.
bool fReadsAsUtf8(bool marked, std::string_view bytes) {
  return marked ? charset::fIsValidUtf8(bytes) : charset::fIsUnmarkedUtf8(bytes);
}

}  // namespace

IniFile::Line IniFile::fMakeLine(std::string raw, bool utf8) {
  Line line;
  // Plain ASCII reads the same in either encoding: most lines keep one copy.
  if (!utf8 && !charset::fIsAscii(raw)) {
    line.decoded = charset::fFromCp932(raw);
    line.differs = true;
  }
  line.raw = std::move(raw);
  const std::string& text = line.text();
  std::string_view t = trim(text);
  if (!t.empty() && t.front() == '[') {
    size_t close = t.rfind(']');
    if (close != std::string_view::npos) {
      line.kind = Kind::Section;
      line.name = fold(t.substr(1, close - 1));
      return line;
    }
  }
  size_t eq = text.find('=');
  if (eq != std::string::npos) {
    line.kind = Kind::Key;
    line.name = fold(std::string_view(text).substr(0, eq));
    line.valuePos = eq + 1;
  }
  return line;
}

IniFile::Line IniFile::fNewLine(std::string text) {
  // A line end inside a name or value would split it into lines of its own.
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\n', ' ');
  Line line = fMakeLine(text, true);
  line.dirty = true;
  return line;
}

IniFile IniFile::fParse(std::string_view bytes) {
  IniFile ini;
  // A UTF-8 byte order mark (some editors add one) is kept but not read as text.
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    ini.bom_ = true;
    bytes.remove_prefix(3);
  }
  ini.utf8_ = fReadsAsUtf8(ini.bom_, bytes);
  ini.lines_.reserve(static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')) + 1);
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    size_t end = nl == std::string_view::npos ? bytes.size() : nl;
    size_t cut = end;
    if (cut > pos && bytes[cut - 1] == '\r') --cut;
    Line& line = ini.lines_.emplace_back(fMakeLine(std::string(bytes.substr(pos, cut - pos)), ini.utf8_));
    if (nl != std::string_view::npos) line.eol = cut < end ? Eol::CrLf : Eol::Lf;
    else line.eol = cut < end ? Eol::Cr : Eol::None;
    pos = end + 1;
  }
  return ini;
}

IniFile IniFile::fLoad(const std::filesystem::path& path) {
  bool missing = false;
  auto bytes = fsutil::fReadFile(path, missing);
  if (bytes) return fParse(*bytes);
  IniFile ini;
  ini.readFailed_ = !missing;
  return ini;
}

std::optional<std::pair<size_t, size_t>> IniFile::fFindSection(std::string_view section) const {
  std::string want = fold(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind != Kind::Section || lines_[i].name != want) continue;
    size_t j = i + 1;
    while (j < lines_.size() && lines_[j].kind != Kind::Section) ++j;
    return std::make_pair(i + 1, j);
  }
  return std::nullopt;
}

std::string IniFile::fValueOf(const Line& line) {
  std::string_view v = trim(std::string_view(line.text()).substr(line.valuePos));
  v = v.substr(0, v.find('\0'));
  v = trim(v);
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return std::string(v);
}

std::optional<std::string> IniFile::fGet(std::string_view section, std::string_view key) const {
  auto range = fFindSection(section);
  if (!range) return std::nullopt;
  std::string want = fold(key);
  for (size_t i = range->first; i < range->second; ++i) {
    if (lines_[i].kind == Kind::Key && lines_[i].name == want) return fValueOf(lines_[i]);
  }
  return std::nullopt;
}

std::vector<std::string> IniFile::fKeys(std::string_view section) const {
  std::vector<std::string> keys;
  auto range = fFindSection(section);
  if (!range) return keys;
  std::vector<std::string> seen;
  for (size_t i = range->first; i < range->second; ++i) {
    const Line& l = lines_[i];
    if (l.kind != Kind::Key || std::find(seen.begin(), seen.end(), l.name) != seen.end()) continue;
    seen.push_back(l.name);
    keys.push_back(beforeNul(trim(std::string_view(l.text()).substr(0, l.valuePos - 1))));
  }
  return keys;
}

std::optional<IniFile::SectionView> IniFile::fViewSection(std::string_view bytes,
                                                          std::string_view section) {
  if (!charset::fIsAscii(bytes)) return std::nullopt;
  SectionView view;
  const std::string want = fold(section);
  auto isUpper = [](char c) { return c >= 'A' && c <= 'Z'; };
  bool inside = false;
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t nl = bytes.find('\n', pos);
    size_t end = nl == std::string_view::npos ? bytes.size() : nl;
    std::string_view text = bytes.substr(pos, end - pos);
    pos = end + 1;
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    // Read as fMakeLine reads a line: a section header first, then a key.
    std::string_view t = trim(text);
    if (!t.empty() && t.front() == '[') {
      size_t close = t.rfind(']');
      if (close != std::string_view::npos) {
        if (inside) break;  // only the first section of that name counts
        inside = fold(t.substr(1, close - 1)) == want;
        continue;
      }
    }
    if (!inside) continue;
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = trim(text.substr(0, eq));
    if (std::any_of(key.begin(), key.end(), isUpper)) key = view.folded.emplace_back(fold(key));
    // The value as fValueOf cuts it.
    std::string_view value = trim(text.substr(eq + 1));
    value = trim(value.substr(0, value.find('\0')));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    view.entries.emplace_back(key, value);
  }
  return view;
}

std::unordered_map<std::string, std::string> IniFile::fSectionValues(std::string_view section) const {
  std::unordered_map<std::string, std::string> values;
  auto range = fFindSection(section);
  if (!range) return values;
  values.reserve(range->second - range->first);
  for (size_t i = range->first; i < range->second; ++i) {
    if (lines_[i].kind == Kind::Key) values.emplace(lines_[i].name, fValueOf(lines_[i]));
  }
  return values;
}

void IniFile::sSet(std::string_view section, std::string_view key,
                   const std::optional<std::string>& value) {
  auto range = fFindSection(section);
  std::string want = fold(key);
  if (range) {
    size_t lastKey = range->first;
    for (size_t i = range->first; i < range->second; ++i) {
      if (lines_[i].kind != Kind::Key) continue;
      if (lines_[i].name == want) {
        if (!value) {
          lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          std::string keyText(trim(std::string_view(lines_[i].text()).substr(0, lines_[i].valuePos - 1)));
          lines_[i] = fNewLine(keyText + "=" + *value);
        }
        return;
      }
      lastKey = i + 1;
    }
    if (!value) return;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(lastKey),
                  fNewLine(std::string(key) + "=" + *value));
    return;
  }
  if (!value) return;
  lines_.push_back(fNewLine("[" + std::string(section) + "]"));
  lines_.push_back(fNewLine(std::string(key) + "=" + *value));
}

void IniFile::sSetMany(std::string_view section,
                       const std::vector<std::pair<std::string, std::optional<std::string>>>& values) {
  if (values.empty()) return;
  // Per key, what sSet would do call after call: a call acts on the first line of that key
  // still standing (rewritten, or removed by a null); when none stands, a value adds a line
  // after the section's last key and a null removes that added line again.
  struct Key {
    std::vector<size_t> lines;  // the key's lines in the section, in file order
    size_t firstStanding = 0;   // lines before this one are removed
    std::optional<std::string> added;
    const std::string* addedSpelling = nullptr;
    size_t addedOrder = 0;
  };
  std::unordered_map<std::string, Key> keys;
  keys.reserve(values.size());
  std::vector<Key*> keyOf;  // the record of each value's key
  keyOf.reserve(values.size());
  for (const auto& [key, value] : values) keyOf.push_back(&keys[fold(key)]);

  auto range = fFindSection(section);
  if (range) {
    for (size_t i = range->first; i < range->second; ++i) {
      if (lines_[i].kind != Kind::Key) continue;
      if (auto it = keys.find(lines_[i].name); it != keys.end()) it->second.lines.push_back(i);
    }
  }

  // By line of the section: the value it is rewritten with (a null removes it).
  std::vector<const std::optional<std::string>*> rewritten(range ? range->second - range->first : 0, nullptr);
  size_t order = 0;
  for (size_t v = 0; v < values.size(); ++v) {
    const auto& [key, value] = values[v];
    Key& k = *keyOf[v];
    if (k.firstStanding < k.lines.size()) {
      rewritten[k.lines[k.firstStanding] - range->first] = &value;
      if (!value) ++k.firstStanding;
    } else if (value) {
      if (!k.added) {
        // A new line, spelled as this call spells the key; later calls rewrite its value.
        k.addedOrder = order++;
        k.addedSpelling = &key;
      }
      k.added = *value;
    } else {
      k.added.reset();
    }
  }

  if (!range) {
    // The section comes into being only when a key of it ends up with a value.
    if (std::none_of(keys.begin(), keys.end(), [](const auto& k) { return k.second.added.has_value(); }))
      return;
    lines_.push_back(fNewLine("[" + std::string(section) + "]"));
    range = std::make_pair(lines_.size(), lines_.size());
  }
  std::vector<Line> rebuilt;
  rebuilt.reserve(range->second - range->first + keys.size());
  size_t afterLastKey = 0;
  for (size_t i = range->first; i < range->second; ++i) {
    Line& line = lines_[i];
    const std::optional<std::string>* value = i - range->first < rewritten.size() ? rewritten[i - range->first] : nullptr;
    if (!value) {
      rebuilt.push_back(std::move(line));
    } else if (*value) {
      std::string keyText(trim(std::string_view(line.text()).substr(0, line.valuePos - 1)));
      rebuilt.push_back(fNewLine(keyText + "=" + **value));
    } else {
      continue;
    }
    if (rebuilt.back().kind == Kind::Key) afterLastKey = rebuilt.size();
  }
  std::vector<const Key*> added;
  for (const auto& [name, k] : keys)
    if (k.added) added.push_back(&k);
  std::sort(added.begin(), added.end(), [](const Key* a, const Key* b) { return a->addedOrder < b->addedOrder; });
  std::vector<Line> fresh;
  fresh.reserve(added.size());
  for (const Key* k : added) fresh.push_back(fNewLine(*k->addedSpelling + "=" + *k->added));
  rebuilt.insert(rebuilt.begin() + static_cast<std::ptrdiff_t>(afterLastKey),
                 std::make_move_iterator(fresh.begin()), std::make_move_iterator(fresh.end()));
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->first),
               lines_.begin() + static_cast<std::ptrdiff_t>(range->second));
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(range->first),
                std::make_move_iterator(rebuilt.begin()), std::make_move_iterator(rebuilt.end()));
}

void IniFile::sClearSection(std::string_view section) {
  auto range = fFindSection(section);
  if (!range) {
    lines_.push_back(fNewLine("[" + std::string(section) + "]"));
    return;
  }
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->first),
               lines_.begin() + static_cast<std::ptrdiff_t>(range->second));
}

std::string IniFile::fSerialize() const { return fSerializeAs(utf8_); }

std::string IniFile::fSerializeAs(bool utf8) const {
  // A CP932 file stays CP932 while every new line fits; otherwise the whole file turns
  // to UTF-8 so that no character is lost.
  std::vector<std::string> encoded;  // new lines in CP932; the others keep their bytes
  if (!utf8) {
    encoded.resize(lines_.size());
    for (size_t i = 0; i < lines_.size() && !utf8; ++i) {
      if (!lines_[i].dirty) continue;
      auto cp = charset::fToCp932(lines_[i].text());
      if (cp) {
        encoded[i] = std::move(*cp);
      } else {
        utf8 = true;
      }
    }
  }
  // UTF-8 always carries its mark, or the file would read as CP932. A mark that was there
  // stays even on CP932: dropped, text that followed it could read as a mark next time.
  std::string out = utf8 || bom_ ? "\xEF\xBB\xBF" : "";
  size_t size = out.size();
  for (const Line& l : lines_) size += l.raw.size() + l.decoded.size() + 2;
  out.reserve(size);
  for (size_t i = 0; i < lines_.size(); ++i) {
    const Line& l = lines_[i];  // in UTF-8 files the text is the stored bytes
    out += utf8 ? l.text() : l.dirty ? encoded[i] : l.raw;
    // New and changed lines end in CR LF, and so does a last line once lines follow it.
    bool last = i + 1 == lines_.size();
    if (l.dirty || l.eol == Eol::CrLf || (!last && l.eol != Eol::Lf)) out += "\r\n";
    else if (l.eol == Eol::Lf) out += '\n';
    else if (l.eol == Eol::Cr) out += '\r';
  }
  // CP932 bytes that would be taken for UTF-8 (new text, or old text once the lines that
  // ruled UTF-8 out are gone) would read back as other text.
  if (!utf8 && fReadsAsUtf8(bom_, std::string_view(out).substr(bom_ ? 3 : 0))) return fSerializeAs(true);
  return out;
}

bool IniFile::fSave(const std::filesystem::path& path) const {
  if (readFailed_) return false;
  return fsutil::fWriteFileAtomic(path, fSerialize());
}

std::string fGetIniString(std::string_view section, std::string_view key,
                          const std::filesystem::path& file, std::string_view defaultValue) {
  auto v = IniFile::fLoad(file).fGet(section, key);
  return v ? *v : beforeNul(defaultValue);
}

std::vector<std::string> fGetIniKeys(std::string_view section, const std::filesystem::path& file) {
  return IniFile::fLoad(file).fKeys(section);
}

long fParseIniInt(std::string_view value, long defaultValue) {
  std::string_view v = trim(value);
  if (v.empty()) return defaultValue;
  size_t i = 0;
  bool negative = false;
  if (v[i] == '-' || v[i] == '+') negative = v[i++] == '-';
  long n = 0;
  for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
    int d = v[i] - '0';
    if (n > (LONG_MAX - d) / 10) {
      n = LONG_MAX;
      break;
    }
    n = n * 10 + d;
  }
  return negative ? -n : n;
}

long fGetIniInt(std::string_view section, std::string_view key, long defaultValue,
                const std::filesystem::path& file) {
  auto v = IniFile::fLoad(file).fGet(section, key);
  return v ? fParseIniInt(*v, defaultValue) : defaultValue;
}

bool fWriteIniString(std::string_view section, std::string_view key,
                     const std::optional<std::string>& value, const std::filesystem::path& file) {
  IniFile ini = IniFile::fLoad(file);
  ini.sSet(section, key, value);
  return ini.fSave(file);
}

bool sClearIniSection(std::string_view section, const std::filesystem::path& file) {
  IniFile ini = IniFile::fLoad(file);
  ini.sClearSection(section);
  return ini.fSave(file);
}

bool fWriteIniSection(std::string_view section,
                      const std::vector<std::pair<std::string, std::string>>& entries,
                      const std::filesystem::path& file) {
  IniFile ini = IniFile::fLoad(file);
  ini.sClearSection(section);
  for (const auto& [k, v] : entries) ini.sSet(section, k, v);
  return ini.fSave(file);
}

}  // namespace mod_ini
