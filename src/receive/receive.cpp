#include "receive/receive.h"

#include <atomic>
#include <iterator>
#include <mutex>
#include <unordered_map>

#include "receive/notice.h"
#include "receive/filer.h"
#include "receive/rules.h"
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
      fParseRules(mod_ini::fGetIniString("Mail", "Distribute", accountFolder / "set.ini", ""));
  context.readings = mod_ini::IniFile::fLoad(settingIni).fSectionValues("Speech");
  bool bodyRule = false;
  for (const Rule& rule : context.rules) bodyRule = bodyRule || fTargetElement(rule.target) == kElementBody;
  context.keys = bodyRule ? kRuleKeys : kRuleHeaderKeys;
  return context;
}

FilingPlan fPlanFiling(const fs::path& mail, const FilingContext& context, const ReadMailFn& readMail,
                       const std::string* bytes) {
  FilingPlan plan;
  const std::string folder = mailstore::fUtf8(mail.parent_path());
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
                      const FilingContext& context, std::string& speechSenders,
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

  // Mails are filed while the rest are still arriving. Moving one out of the inbox before
  // the library has recorded the run is noted in the library's journal first, so that a
  // run cut off half way neither fetches a moved mail again nor loses one. Speech readings
  // and the desktop's part of the rules follow once the library returns, in its order.
  const FilingContext context = FilingContext::fLoad(account.folder, settingIni);
  auto fullPath = [&inbox](const std::string& text) {
    fs::path path = mailstore::fPath(text);
    return path.is_relative() ? inbox / path : path;
  };
  struct Filed {
    FilingPlan plan;
    bool stored = false;  // moves and read mark done
    fs::path saved;       // where the library put the mail
    fs::path where;       // the mail's place afterwards
  };
  // The filing thread and this one share the record, the batch and the notes.
  std::mutex shared;
  mailstore::IconBatch batch;  // A thousand new mails: each icon.ini written once.
  std::unordered_map<std::string, Filed> filed;  // by the library's text for the mail
  mail::MoveNotes notes(mailstore::fUtf8(inbox));
  std::atomic<bool> receiving{true};
  auto fileOne = [&](const std::string& text, const std::string* bytes) {
    const fs::path saved = fullPath(text);
    bool fresh;
    {
      std::lock_guard lock(shared);
      fresh = filed.find(text) == filed.end();
    }
    FilingPlan plan;
    if (fresh) {
      try {
        plan = fPlanFiling(saved, context, readMail, bytes);
      } catch (const std::exception&) {
        plan = FilingPlan{};  // left alone, as a mail that cannot be read
      }
    }
    std::lock_guard lock(shared);
    Filed& f = filed[text];
    if (fresh) f.plan = std::move(plan);
    f.saved = saved;
    if (f.stored) return;
    if (receiving && fMovesMail(f.plan.actions) && !notes.fNote(mailstore::fUtf8(saved.filename())))
      return;  // moved once the library is done
    f.stored = true;
    f.where = saved;
    if (f.plan.readable) f.where = sApplyStoreActions(f.plan.actions, saved, account.folder, &batch);
  };
  mail::MailResult result;
  {
    Filer filer(fileOne);
    try {
      result = rcvMail(server, user, pass, command, "<" + mailstore::fUtf8(inbox), progress,
                       [&filer](const std::string& path, std::string_view bytes) { filer.sAdd(path, bytes); });
    } catch (const std::exception&) {
      return run;  // the status keeps "受信中", as after any error inside a run
    }
    // The library has recorded the run: what is still queued is filed by both threads.
    receiving = false;
    filer.sFinish();
  }

  if (auto* paths = std::get_if<std::vector<std::string>>(&result); paths && !paths->empty()) {
    run.saved.reserve(paths->size());
    run.filed.reserve(paths->size());
    for (const std::string& text : *paths) {
      auto it = filed.find(text);
      if (it == filed.end() || !it->second.stored) {
        try {
          fileOne(text, nullptr);  // what the filing threads did not reach
        } catch (const std::exception&) {
          // A failure inside filing never stops the run.
        }
        it = filed.find(text);
      }
      if (it == filed.end()) {
        run.saved.push_back(fullPath(text));
        continue;
      }
      Filed& f = it->second;
      run.saved.push_back(std::move(f.saved));
      if (!f.plan.readable) continue;
      sAddReading(run.speechSenders, f.plan.reading);
      sApplyDesktopActions(f.plan.actions, desktop);
      run.filed.push_back(FiledMail{std::move(f.where), std::move(f.plan.subjectElement),
                                    std::move(f.plan.fromElement), std::move(f.plan.dateElement)});
    }
    batch.fSave();
    run.received = true;
    run.count = static_cast<int>(paths->size());
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
