#include "receive/receive.h"

#include <atomic>
#include <deque>
#include <iterator>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "receive/filer.h"
#include "receive/notice.h"
#include "receive/rules.h"
#include "signin/accounttoken.h"
#include "store/accountsettings.h"
#include "store/iconbatch.h"
#include "store/mailstore.h"
#include "store/modCommon.h"
#include "store/mod_ini.h"

namespace receive {
namespace fs = std::filesystem;

std::string fReceiveCommand(long receiveCount, long svrDel) {
  if (receiveCount <= 0) return svrDel != 0 ? "SAVEALL" : "SAVEALLD";
  return (svrDel != 0 ? "SAVE 1-" : "SAVD 1-") + std::to_string(receiveCount);
}

FilingContext FilingContext::fLoad(const fs::path& accountFolder, const fs::path& settingIni) {
  FilingContext context;
  context.rules =
      rulelist::usableRules(mod_ini::fGetIniString("Mail", "Distribute", accountFolder / "set.ini", ""));
  context.readings = mod_ini::IniFile::fLoad(settingIni).fSectionValues("Speech");
  bool bodyRule = false;
  for (const Rule& rule : context.rules) bodyRule = bodyRule || fTargetElement(rule.target) == kElementBody;
  context.keys = bodyRule ? kRuleKeys : kRuleHeaderKeys;
  return context;
}

FilingPlan fPlanFiling(const fs::path& mail, const FilingContext& context, const ReadMailFn& readMail,
                       const std::string* bytes) {
  FilingPlan plan;
  const std::string folder = mailstore::fUtf8(mailstore::fFolderView(mail));
  auto read = readMail ? readMail(mailstore::fUtf8(mail), context.keys, folder)
              : bytes  ? mail::fReadMailBytes(*bytes, context.keys, folder)
                       : mail::ReadMail(mailstore::fUtf8(mail), context.keys, folder);
  auto* element = std::get_if<std::vector<std::string>>(&read);
  if (!element) return plan;
  plan.readable = true;
  plan.actions = fMatchRules(context.rules, *element);
  auto take = [element](size_t index, std::string& to) {
    if (index < element->size()) to = std::move((*element)[index]);
  };
  take(kElementSubject, plan.subjectElement);
  take(kElementFrom, plan.fromElement);
  take(kElementDate, plan.dateElement);
  plan.reading = fReadingOf(plan.fromElement, context.readings);
  return plan;
}

fs::path sApplyFiling(const FilingPlan& plan, const fs::path& mail, const fs::path& accountFolder,
                      const FilingContext& /*context*/, std::string& speechSenders,
                      DesktopServices& desktop, mailstore::IconBatch* batch) {
  if (!plan.readable) return mail;
  // A failure inside filing must never stop the receive run.
  try {
    sAddReading(speechSenders, plan.reading);
    return sApplyActions(plan.actions, mail, accountFolder, desktop, batch);
  } catch (const std::exception&) {
    return mail;
  }
}

fs::path sDistribute(const fs::path& mail, const fs::path& accountFolder,
                     const FilingContext& context, std::string& speechSenders,
                     DesktopServices& desktop, const ReadMailFn& readMail,
                     mailstore::IconBatch* batch) {
  FilingPlan plan;
  try {
    plan = fPlanFiling(mail, context, readMail);
  } catch (const std::exception&) {
    return mail;
  }
  return sApplyFiling(plan, mail, accountFolder, context, speechSenders, desktop, batch);
}

fs::path sDistribute(const fs::path& mail, const fs::path& accountFolder,
                     const fs::path& settingIni, std::string& speechSenders,
                     DesktopServices& desktop, const ReadMailFn& readMail,
                     mailstore::IconBatch* batch) {
  try {
    return sDistribute(mail, accountFolder, FilingContext::fLoad(accountFolder, settingIni),
                       speechSenders, desktop, readMail, batch);
  } catch (const std::exception&) {
    return mail;
  }
}

namespace {

// The filing of one account's receive run. Mails are filed while the rest are still
// arriving, on a filing thread that gives way to the download. Moving one out of the inbox
// before the library has recorded the run is noted in the library's journal first, so
// that a run cut off half way neither fetches a moved mail again nor loses one. Once the
// library returns, the caller's thread files what is left beside the filing thread; speech
// readings and the desktop's part of the rules follow in the library's order.
//
// Each mail has a record in the order the library saved it. Each thread keeps its own
// read-state batch (a batch writes only its own changes onto icon.ini as it then is), so
// the two never wait for each other over the store: a filing thread of low priority must
// not hold up the window's thread.
class RunFiling {
 public:
  RunFiling(const fs::path& accountFolder, const fs::path& inbox, const FilingContext& context,
            const ReadMailFn& readMail)
      : accountFolder_(accountFolder),
        inbox_(inbox),
        context_(context),
        readMail_(readMail),
        notes_(mailstore::fUtf8(inbox)),
        filer_([this](std::size_t index, const std::string& text, const std::string* bytes) {
          sFileOne(fRecord(index), text, bytes);
        }) {}

  // The library's hook for each saved mail (its receiving thread).
  void sSaved(const std::string& path, std::string_view bytes) {
    {
      std::lock_guard lock(recordsMutex_);
      records_.emplace_back();
    }
    filer_.sAdd(path, bytes);
  }

  // The library has returned: what is still queued is filed by both threads.
  void sLibraryDone() {
    receiving_ = false;
    filer_.sFinish();
    sMovePending(false);  // the filing thread has ended: its lane is free
  }

  // The last pass, in the library's order: whatever is not filed yet is filed now, then
  // readings, desktop actions and the run's record of the mails. Read states are saved.
  void sComplete(std::vector<std::string>&& paths, AccountRun& run, DesktopServices& desktop) {
    run.filed.reserve(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
      Filed& f = fRecordOf(i, paths[i]);
      try {
        if (!f.filed) {
          sFileOne(f, paths[i], nullptr);
        } else if (!f.stored) {
          sStore(f, lanes_[kCaller]);
        }
      } catch (const std::exception&) {
        // A failure inside filing never stops the run.
      }
      if (!f.filed || !f.plan.readable) continue;
      sAddReading(run.speechSenders, f.plan.reading);
      sApplyDesktopActions(f.plan.actions, desktop);
      run.filed.push_back(FiledMail{f.moved ? std::move(*f.moved) : std::move(f.saved),
                                    std::move(f.plan.subjectElement), std::move(f.plan.fromElement),
                                    std::move(f.plan.dateElement)});
    }
    lanes_[kCaller].batch.sAdopt(std::move(lanes_[kFiler].batch));
    lanes_[kCaller].batch.fSave();
    run.saved = std::move(paths);
  }

 private:
  struct Filed {
    std::string text;     // the library's text for the mail
    bool filed = false;   // planned (from `text`)
    bool stored = false;  // moves and read mark done
    bool reported = false;  // in the run's record
    FilingPlan plan;
    fs::path saved;                 // where the library put the mail
    std::optional<fs::path> moved;  // where a rule moved it
  };
  struct Lane {
    mailstore::IconBatch batch;
  };
  static constexpr int kFiler = 0, kCaller = 1;

  fs::path fFullPath(const std::string& text) const {
    fs::path path = mailstore::fPath(text);
    return path.is_relative() ? inbox_ / path : path;
  }

  // The record of the index-th saved mail (any thread; records never move).
  Filed& fRecord(std::size_t index) {
    std::lock_guard lock(recordsMutex_);
    return records_[index];
  }

  // After both threads are done: the record of the library's index-th path. The hook sees
  // the mails in the library's order; should a library ever report them otherwise, the
  // records are found by their text.
  Filed& fRecordOf(std::size_t index, const std::string& text) {
    if (index < records_.size() && !records_[index].reported &&
        (!records_[index].filed || records_[index].text == text)) {
      records_[index].reported = true;
      return records_[index];
    }
    if (byText_.empty()) {
      for (Filed& f : records_)
        if (f.filed && !f.reported) byText_.emplace(f.text, &f);
    }
    auto it = byText_.find(text);
    if (it != byText_.end() && !it->second->reported) {
      it->second->reported = true;
      return *it->second;
    }
    return extra_.emplace_back();
  }

  // Plans a mail and applies its moves and read mark, on the thread's own lane.
  void sFileOne(Filed& f, const std::string& text, const std::string* bytes) {
    const bool onFiler = std::this_thread::get_id() == filer_.fThreadId();
    Lane& lane = lanes_[onFiler ? kFiler : kCaller];
    f.text = text;
    f.saved = fFullPath(text);
    f.filed = true;
    try {
      f.plan = fPlanFiling(f.saved, context_, readMail_, bytes);
    } catch (const std::exception&) {
      f.plan = FilingPlan{};  // left alone, as a mail that cannot be read
    }
    // Only the filing thread moves mail while the library runs; it notes each move first,
    // a few mails to one write of the journal while more are waiting.
    if (onFiler && receiving_ && fMovesMail(f.plan.actions)) {
      pending_.push_back(&f);
    } else {
      sStore(f, lane);
    }
    if (onFiler && !pending_.empty() && (pending_.size() >= kNoteBatch || filer_.fQueueEmpty()))
      sMovePending(receiving_);
  }

  // The filing thread's planned moves, noted first when the library is still running.
  // Mails whose note cannot be written stay unstored: the last pass moves them.
  void sMovePending(bool note) {
    if (pending_.empty()) return;
    if (note) {
      std::vector<std::string> names;
      names.reserve(pending_.size());
      for (const Filed* f : pending_)
        names.push_back(mailstore::fUtf8(mailstore::fNameView(f->saved)));
      if (!notes_.fNote(names)) {
        pending_.clear();
        return;
      }
    }
    for (Filed* f : pending_) sStore(*f, lanes_[kFiler]);
    pending_.clear();
  }

  void sStore(Filed& f, Lane& lane) {
    f.stored = true;
    if (f.plan.readable)
      f.moved = sApplyStoreActions(f.plan.actions, f.saved, accountFolder_, &lane.batch);
  }

  const fs::path& accountFolder_;
  const fs::path& inbox_;
  const FilingContext& context_;
  const ReadMailFn& readMail_;
  std::mutex recordsMutex_;    // the library's thread adds records while the others work
  std::deque<Filed> records_;  // by the library's order
  std::unordered_map<std::string, Filed*> byText_;  // only for a library out of order
  std::deque<Filed> extra_;                         // paths it never showed the hook
  Lane lanes_[2];
  mail::MoveNotes notes_;  // the filing thread's
  std::vector<Filed*> pending_;  // the filing thread's moves waiting for their note
  static constexpr std::size_t kNoteBatch = 8;
  std::atomic<bool> receiving_{true};
  Filer filer_;  // last: its thread stops before anything it uses goes
};

}  // namespace

mail::Security fMailSecurity(accountsettings::Security security) {
  switch (security) {
    case accountsettings::Security::Tls:
      return mail::Security::Tls;
    case accountsettings::Security::StartTls:
      return mail::Security::StartTls;
    case accountsettings::Security::None:
      return mail::Security::None;
    case accountsettings::Security::Standard:
      break;
  }
  return mail::Security::Standard;
}

AccountRun fReceiveAccount(const AccountRef& account, const fs::path& settingIni,
                           std::string_view speechSenders, DesktopServices& desktop,
                           const StatusFn& status, const mail::Progress& progress,
                           const RcvMailFn& rcvMail, const ReadMailFn& readMail) {
  AccountRun run;
  run.speechSenders = std::string(speechSenders);
  auto show = [&](std::string text) {
    run.status = std::move(text);
    if (status) status(run.status);
  };
  show(fReceivingStatus(account.caption));

  const fs::path setIni = account.folder / "set.ini";
  std::string command = fReceiveCommand(mod_ini::fGetIniInt("Mail", "Receive", 0, settingIni),
                                        mod_ini::fGetIniInt("Mail", "SvrDel", 0, setIni));
  std::string server = modCommon::fGetAccountValue(account.folder, "POP3");
  std::string user = modCommon::fGetAccountValue(account.folder, "User");
  std::string pass = modCommon::fGetAccountValue(account.folder, "Pass");
  const fs::path inbox = account.folder / mailstore::fPath(mailstore::kInbox);

  const FilingContext context = FilingContext::fLoad(account.folder, settingIni);
  RunFiling filing(account.folder, inbox, context, readMail);
  // The account's own trusted server certificate and link security, for this call of
  // the library.
  mail::CertificatePin pin(mod_ini::fGetIniString("Mail", accountsettings::kPop3CertPinKey, setIni, ""));
  mail::SecurityChoice security(fMailSecurity(accountsettings::fLoad(account.folder).pop3Security));
  mail::MailResult result;
  try {
    // An OAuth 2.0 account signs in with its access token (signin::fRcvMail).
    signin::AccountScope signIn(account.folder);
    result = rcvMail(server, user, pass, command, "<" + mailstore::fUtf8(inbox), progress,
                     [&filing](const std::string& path, std::string_view bytes) { filing.sSaved(path, bytes); });
  } catch (const std::exception&) {
    return run;  // the status keeps "受信中", as after any error inside a run
  }
  filing.sLibraryDone();

  if (auto* paths = std::get_if<std::vector<std::string>>(&result); paths && !paths->empty()) {
    filing.sComplete(std::move(*paths), run, desktop);
    run.received = true;
    run.count = static_cast<int>(run.saved.size());
    run.summaryLine = fReceivedLine(account.caption, run.count);
    run.speechFragment = fSpeechFragment(account.number, run.count);
    show(run.summaryLine);
  } else if (auto* text = std::get_if<std::string>(&result); text && !text->empty()) {
    run.libraryText = *text;
    show(*text);
  } else {
    // Nothing new: the library's empty text, or an empty list.
    show(fNoMailStatus(account.caption));
  }
  return run;
}

AllRun fReceiveAll(const std::vector<AccountRef>& accounts, const fs::path& settingIni,
                   DesktopServices& desktop, const StatusFn& status, const mail::Progress& progress,
                   const RcvMailFn& rcvMail, const ReadMailFn& readMail) {
  AllRun all;
  for (const auto& account : accounts) {
    AccountRun run = fReceiveAccount(account, settingIni, all.speechSenders, desktop, status,
                                     progress, rcvMail, readMail);
    all.speechSenders = std::move(run.speechSenders);
    all.status = run.status;
    if (!run.received) continue;
    ++all.accountsReceived;
    all.total += run.count;
    all.summary += run.summaryLine + "\r\n";
    all.speechFragments += run.speechFragment;
    std::move(run.filed.begin(), run.filed.end(), std::back_inserter(all.filed));
  }
  return all;
}

}  // namespace receive
