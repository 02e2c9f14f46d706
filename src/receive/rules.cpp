#include "receive/rules.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "store/modCommon.h"

namespace receive {
namespace fs = std::filesystem;

namespace {

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Length of the URL-ending character at text[i], 0 when text[i] may stay in a URL.
size_t urlStopAt(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (c <= 0x20 || c == 0x7F || c == '<' || c == '>' || c == '"') return 1;
  // The ideographic space ends a URL in Japanese text as an ASCII space does.
  if (text.substr(i, 3) == "\xE3\x80\x80") return 3;
  return 0;
}

// The destination as a folder inside the account (in normal form); nothing when it
// would leave it.
std::optional<fs::path> fDestinationFolder(const fs::path& accountFolder, std::string_view stored) {
  fs::path rel = modCommon::fStoredPath(stored).lexically_normal();
  if (rel.empty() || rel.is_absolute() || rel.has_root_name() || rel.has_root_directory())
    return std::nullopt;
  if (!rel.empty() && *rel.begin() == "..") return std::nullopt;
  return mailstore::fNormalFolder(accountFolder / rel);
}

// A receive run files every mail of an account from the same folder into the same few
// destinations: each is worked out once per thread.
const fs::path& normalFolder(mailstore::NativeView folder) {
  thread_local std::unordered_map<fs::path::string_type, fs::path, mailstore::NativeHash, std::equal_to<>>
      known;
  auto it = known.find(folder);
  if (it == known.end())
    it = known.emplace(fs::path::string_type(folder), mailstore::fNormalFolder(fs::path(folder)))
             .first;
  return it->second;
}

const std::optional<fs::path>& destinationFolder(const fs::path& accountFolder, const std::string& stored) {
  thread_local std::unordered_map<fs::path::string_type, std::unordered_map<std::string, std::optional<fs::path>>>
      known;
  auto& ofAccount = known[accountFolder.native()];
  auto it = ofAccount.find(stored);
  if (it == ofAccount.end()) it = ofAccount.emplace(stored, fDestinationFolder(accountFolder, stored)).first;
  return it->second;
}

// Where `search` first occurs in `text`. Body rules look through whole mails: the C
// library's search skips along the text instead of trying every place that starts with
// the search text's first letter.
size_t fFind(const std::string& text, const std::string& search) {
  if (search.empty()) return 0;
#if defined(__GLIBC__)
  const void* at = ::memmem(text.data(), text.size(), search.data(), search.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - text.data()) : std::string::npos;
#else
  return text.find(search);
#endif
}

bool isFile(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

}  // namespace

std::optional<size_t> fTargetElement(std::string_view target) {
  if (target == "件名") return kElementSubject;
  if (target == "差出人") return kElementFrom;
  if (target == "宛先") return kElementTo;
  if (target == "本文") return kElementBody;
  return std::nullopt;
}

std::optional<std::string> fUrlAt(std::string_view text) {
  size_t schemeLength;
  if (startsWithNoCase(text, "https://")) {
    schemeLength = 8;
  } else if (startsWithNoCase(text, "http://")) {
    schemeLength = 7;
  } else {
    return std::nullopt;
  }
  size_t end = schemeLength;
  while (end < text.size() && urlStopAt(text, end) == 0) ++end;
  // A web address names a host; "http:///x" or a bare "http://" is nothing to open.
  if (end == schemeLength || text[schemeLength] == '/') return std::nullopt;
  return std::string(text.substr(0, end));
}

std::vector<RuleAction> fMatchRules(const std::vector<Rule>& rules,
                                    const std::vector<std::string>& element) {
  std::vector<RuleAction> actions;
  for (size_t i = 0; i < rules.size(); ++i) {
    const Rule& rule = rules[i];
    auto index = fTargetElement(rule.target);
    if (!index || *index >= element.size()) continue;
    const std::string& text = element[*index];
    size_t m = fFind(text, rule.search);
    if (m == std::string::npos) continue;

    RuleAction action;
    action.rule = i;
    if (*index == kElementBody && (rule.flags & (kFlagOpenUrl | kFlagBrowser))) {
      std::string_view rest = std::string_view(text).substr(m);
      rest = rest.substr(0, rest.find("\r\n"));
      if (auto url = fUrlAt(rest)) {
        if (rule.flags & kFlagOpenUrl) {
          action.openUrl = *url;
        } else {
          action.browserUrl = *url;
        }
      }
    }
    action.destination = rule.destination;
    action.markRead = (rule.flags & kFlagMarkRead) != 0;
    if (rule.flags & kFlagRunProgram) action.program = rule.program;
    actions.push_back(std::move(action));
  }
  return actions;
}

fs::path sApplyActions(const std::vector<RuleAction>& actions, const fs::path& mail,
                       const fs::path& accountFolder, DesktopServices& desktop,
                       mailstore::IconBatch* batch) {
  sApplyDesktopActions(actions, desktop);
  auto moved = sApplyStoreActions(actions, mail, accountFolder, batch);
  return moved ? std::move(*moved) : mail;
}

void sApplyDesktopActions(const std::vector<RuleAction>& actions, DesktopServices& desktop) {
  for (const auto& a : actions) {
    if (!a.openUrl.empty()) desktop.sOpenUrl(a.openUrl);
    if (!a.browserUrl.empty()) desktop.sSendToBrowser(a.browserUrl);
    if (!a.program.empty()) desktop.sStartProgram(a.program);
  }
}

bool fMovesMail(const std::vector<RuleAction>& actions) {
  return std::any_of(actions.begin(), actions.end(), [](const RuleAction& a) { return !a.destination.empty(); });
}

std::optional<fs::path> sApplyStoreActions(const std::vector<RuleAction>& actions,
                                           const fs::path& mail, const fs::path& accountFolder,
                                           mailstore::IconBatch* batch) {
  std::vector<const fs::path*> destinations;
  bool markRead = false;
  for (const auto& a : actions) {
    if (!a.destination.empty()) {
      if (const auto& folder = destinationFolder(accountFolder, a.destination)) destinations.push_back(&*folder);
    }
    markRead = markRead || a.markRead;
  }

  // Each move acts on the mail where the one before left it, and a move that cannot be
  // made (name taken, folder missing, mail gone) leaves it where it is. So the mail ends
  // in the last folder that takes it, or where it was: it goes there in one step. The
  // store's move never overwrites.
  std::optional<fs::path> moved;
  if (!destinations.empty()) {
    const fs::path& here = normalFolder(mailstore::fFolderView(mail));
    for (auto folder = destinations.rbegin(); folder != destinations.rend(); ++folder) {
      const fs::path& to = **folder;
      if (to.native() == here.native()) break;  // a later rule keeps it here
      if (batch ? batch->fMove(mail, to)
                : isFile(mail) && mailstore::fMoveMails({mail}, to).empty()) {
        moved = to / mailstore::fNameView(mail);
        break;
      }
    }
  }
  // A read mark goes with the mail whatever rule set it.
  const fs::path& where = moved ? *moved : mail;
  if (markRead && (moved || isFile(where))) {
    if (batch) {
      batch->sMarkMailRead(where);
    } else {
      mailstore::sMarkRead(where.parent_path(), mailstore::fUtf8(where.filename()));
    }
  }
  return moved;
}

}  // namespace receive
