#pragma once
// Filing rules of an account ("Distribute" in set.ini): parsing, a pure match over the
// headers ReadMail returned, and applying the matched actions to the disk and desktop.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "receive/desktop.h"
#include "store/rulelist.h"

namespace mailstore {
class IconBatch;
}

namespace receive {

// The rule model is the stored one, shared with the account dialog.
using rulelist::kFlagBrowser;
using rulelist::kFlagMarkRead;
using rulelist::kFlagOpenUrl;
using rulelist::kFlagRunProgram;
using rulelist::Rule;

// ReadMail's key list for the distribution step and the elements it yields.
inline constexpr std::string_view kRuleKeys = "subject:from:date:to:nofile:";
// The same elements 0 to 4 from the header block alone, for accounts without a body rule
// (element 5 is then the "nobody:" element instead of the body).
inline constexpr std::string_view kRuleHeaderKeys = "subject:from:date:to:nofile:nobody:";
inline constexpr size_t kElementSubject = 0;
inline constexpr size_t kElementFrom = 1;
inline constexpr size_t kElementDate = 2;
inline constexpr size_t kElementTo = 3;
inline constexpr size_t kElementBody = 5;

// The ReadMail element a target searches; nothing for an unknown target.
std::optional<size_t> fTargetElement(std::string_view target);

// The web address at the start of a body text: only http and https, cut at the first
// white space or control character. Anything else (local files, programs, other
// schemes) gives nothing, so a stranger's mail cannot make us open it.
std::optional<std::string> fUrlAt(std::string_view text);

// What one matching rule does to a mail, decided from the headers alone.
struct RuleAction {
  size_t rule = 0;          // index in the rule list
  std::string openUrl;      // bit 1 on a body rule, a checked web address
  std::string browserUrl;   // bit 8 (bit 1 clear) on a body rule, a checked web address
  std::string destination;  // field 2; empty = the mail is not moved
  bool markRead = false;
  std::string program;  // bit 4 with a program named
};

// Every rule that matches the ReadMail result, in rule order.
std::vector<RuleAction> fMatchRules(const std::vector<Rule>& rules,
                                    const std::vector<std::string>& element);

// Applies the actions in order to the mail at `mail` in `accountFolder`. A later move acts
// on the mail where an earlier one put it; a step that fails is skipped and the rest goes
// on. Returns where the mail is afterwards. With a batch, read states are kept there and
// written when the batch is saved.
std::filesystem::path sApplyActions(const std::vector<RuleAction>& actions,
                                    const std::filesystem::path& mail,
                                    const std::filesystem::path& accountFolder,
                                    DesktopServices& desktop,
                                    mailstore::IconBatch* batch = nullptr);
// The two halves of sApplyActions: what the actions do to the store (moves and the read
// mark; any thread; the mail's new place when it moved), and what they ask of the desktop
// (in rule order; the window's thread).
std::optional<std::filesystem::path> sApplyStoreActions(const std::vector<RuleAction>& actions,
                                                        const std::filesystem::path& mail,
                                                        const std::filesystem::path& accountFolder,
                                                        mailstore::IconBatch* batch = nullptr);
void sApplyDesktopActions(const std::vector<RuleAction>& actions, DesktopServices& desktop);
// Whether any action moves the mail.
bool fMovesMail(const std::vector<RuleAction>& actions);

}  // namespace receive
