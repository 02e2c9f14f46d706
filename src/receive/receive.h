#pragma once
// Receiving for one account or for all: the library command, the call into the mail
// library, the filing of every saved mail, and the texts the window shows and speaks.
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "mail/mail.h"
#include "receive/desktop.h"
#include "receive/rules.h"
#include "signin/accounttoken.h"
#include "store/accountsettings.h"
#include "store/mod_ini.h"

namespace mailstore {
class IconBatch;
}

namespace receive {

using RcvMailFn = std::function<mail::MailResult(
    std::string_view server, std::string_view user, std::string_view pass, std::string_view command,
    std::string_view dest, const mail::Progress& progress, const mail::Saved& saved)>;
using ReadMailFn = std::function<mail::MailResult(std::string_view file, std::string_view keys,
                                                  std::string_view folder)>;
using StatusFn = std::function<void(const std::string& text)>;

// The library command from setting.ini "Receive" (0 = all, n = messages 1 to n) and
// set.ini "SvrDel" (nonzero = the mail stays on the server).
std::string fReceiveCommand(long receiveCount, long svrDel);

// What the distribution step reads from the settings files, read once per account step
// rather than once per mail.
struct FilingContext {
  std::vector<Rule> rules;         // the account's "Distribute"
  // setting.ini "[Speech]": senders' readings by address (lower-cased, as keys match).
  std::unordered_map<std::string, std::string> readings;
  std::string_view keys = kRuleKeys;  // the header block alone when no rule reads the body
  static FilingContext fLoad(const std::filesystem::path& accountFolder,
                             const std::filesystem::path& settingIni);
};

// What the distribution step will do with one mail, decided from what ReadMail gives
// without changing anything on disk, so it can be worked out on any thread.
struct FilingPlan {
  bool readable = false;  // ReadMail gave the elements
  // The elements as ReadMail labels them ("from: …"): the sender's reading comes from
  // "from", and the mail list can show all three without reading the file again.
  std::string subjectElement, fromElement, dateElement;
  std::string reading;              // the sender's reading, if setting.ini has one
  std::vector<RuleAction> actions;  // every matching rule, in rule order
};
// An empty `readMail` is the library's own reader, on `bytes` when they are given.
FilingPlan fPlanFiling(const std::filesystem::path& mail, const FilingContext& context,
                       const ReadMailFn& readMail = {}, const std::string* bytes = nullptr);

// Carries a plan out: the sender's reading is added to `speechSenders` and the actions
// are applied. An unreadable mail is left alone. Returns where the mail is afterwards.
std::filesystem::path sApplyFiling(const FilingPlan& plan, const std::filesystem::path& mail,
                                   const std::filesystem::path& accountFolder,
                                   const FilingContext& context, std::string& speechSenders,
                                   DesktopServices& desktop, mailstore::IconBatch* batch = nullptr);

// The distribution step with the settings already read.
std::filesystem::path sDistribute(const std::filesystem::path& mail,
                                  const std::filesystem::path& accountFolder,
                                  const FilingContext& context, std::string& speechSenders,
                                  DesktopServices& desktop,
                                  const ReadMailFn& readMail = mail::ReadMail,
                                  mailstore::IconBatch* batch = nullptr);

// The distribution step for one saved mail: reads its headers, adds the sender's reading
// to `speechSenders`, applies every matching rule of the account. A mail that cannot be
// read is left alone. Returns where the mail is afterwards. With a batch, read states
// are written when the batch is saved.
std::filesystem::path sDistribute(const std::filesystem::path& mail,
                                  const std::filesystem::path& accountFolder,
                                  const std::filesystem::path& settingIni,
                                  std::string& speechSenders, DesktopServices& desktop,
                                  const ReadMailFn& readMail = mail::ReadMail,
                                  mailstore::IconBatch* batch = nullptr);

struct AccountRef {
  int number = 0;
  std::string caption;  // the account node's caption
  std::filesystem::path folder;
};

// A mail the run filed: where it is now, and its header elements as read for filing.
struct FiledMail {
  std::filesystem::path path;
  std::string subjectElement, fromElement, dateElement;
};

struct AccountRun {
  bool received = false;  // the library returned saved mails
  int count = 0;
  std::vector<std::string> saved;  // the library's texts for the saved mails, in its order
  std::string libraryText;                   // the library's failure text, if any
  std::string status;                        // status text at the end of the step
  std::string summaryLine;                   // caption ： k件受信 (received only)
  std::string speechFragment;                // mode 1 fragment (received only)
  std::string speechSenders;                 // the run's readings after this account
  std::vector<FiledMail> filed;              // the readable mails, in the library's order
};

// The account step. `speechSenders` is the run's list so far; the result carries it on.
// `status` sees "受信中" before the library call and the final text after.
// The library's link security for an account's stored choice.
mail::Security fMailSecurity(accountsettings::Security security);

AccountRun fReceiveAccount(const AccountRef& account, const std::filesystem::path& settingIni,
                           std::string_view speechSenders, DesktopServices& desktop,
                           const StatusFn& status = {}, const mail::Progress& progress = {},
                           const RcvMailFn& rcvMail = signin::fRcvMail,
                           const ReadMailFn& readMail = {});

struct AllRun {
  int accountsReceived = 0;
  int total = 0;
  std::string summary;          // one received line per account, each ending in CR LF
  std::string speechFragments;  // mode 1 fragments joined, in tree order
  std::string speechSenders;
  std::string status;  // what the last account left in the status bar
  std::vector<FiledMail> filed;
};

// Every account in tree order, one account step each; a failing account does not stop
// the others.
AllRun fReceiveAll(const std::vector<AccountRef>& accounts, const std::filesystem::path& settingIni,
                   DesktopServices& desktop, const StatusFn& status = {},
                   const mail::Progress& progress = {}, const RcvMailFn& rcvMail = signin::fRcvMail,
                   const ReadMailFn& readMail = {});

}  // namespace receive
