#include "receive/receive.h"

#include "receive/notice.h"
#include "receive/prereader.h"
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
  context.settings = mod_ini::IniFile::fLoad(settingIni);
  bool bodyRule = false;
  for (const Rule& rule : context.rules) bodyRule = bodyRule || fTargetElement(rule.target) == kElementBody;
  context.keys = bodyRule ? kRuleKeys : kRuleHeaderKeys;
  return context;
}

fs::path sDistribute(const fs::path& mail, const fs::path& accountFolder,
                     const FilingContext& context, std::string& speechSenders,
                     DesktopServices& desktop, const ReadMailFn& readMail,
                     mailstore::IconBatch* batch) {
  // A failure inside filing must never stop the receive run.
  try {
    auto read = readMail(mailstore::fUtf8(mail), context.keys, mailstore::fUtf8(mail.parent_path()));
    const auto* element = std::get_if<std::vector<std::string>>(&read);
    if (!element) return mail;
    if (element->size() > kElementFrom)
      sCollectReading(speechSenders, (*element)[kElementFrom], context.settings);
    return sApplyActions(fMatchRules(context.rules, *element), mail, accountFolder, desktop, batch);
  } catch (const std::exception&) {
    return mail;
  }
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

  // Mails are read for filing while the rest are still arriving.
  const FilingContext context = FilingContext::fLoad(account.folder, settingIni);
  PreReader preReader(std::string(context.keys), readMail);
  mail::MailResult result;
  try {
    result = rcvMail(server, user, pass, command, "<" + mailstore::fUtf8(inbox), progress,
                     [&preReader](const std::string& path) { preReader.sAdd(path); });
  } catch (const std::exception&) {
    return run;  // the status keeps "受信中", as after any error inside a run
  }
  preReader.sFinish();
  const ReadMailFn readAhead = [&preReader](std::string_view file, std::string_view keys,
                                            std::string_view folder) {
    return preReader.fRead(file, keys, folder);
  };

  if (auto* paths = std::get_if<std::vector<std::string>>(&result); paths && !paths->empty()) {
    // A thousand new mails must not mean a thousand rewrites of the same icon.ini.
    mailstore::IconBatch batch;
    for (const auto& text : *paths) {
      fs::path saved = mailstore::fPath(text);
      if (saved.is_relative()) saved = inbox / saved;
      run.saved.push_back(saved);
      sDistribute(saved, account.folder, context, run.speechSenders, desktop, readAhead, &batch);
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
  }
  return all;
}

}  // namespace receive
