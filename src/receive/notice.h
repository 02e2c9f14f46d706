#pragma once
// Texts of a receive run: status texts, the notice summary, the spoken phrases in the
// synthesiser's phonetic notation, and the senders' readings.
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>

#include "store/mod_ini.h"

namespace receive {

// "Speech" and "Notify" of setting.ini: "1" or "2"; any other value means none (0).
int fNoticeMode(std::string_view value);
int fSpeechMode(const std::filesystem::path& settingIni);
int fNotifyMode(const std::filesystem::path& settingIni);

std::string fReceivingStatus(std::string_view caption);  // caption ： 受信中
std::string fNoMailStatus(std::string_view caption);  // caption ： 新着メールはありません
std::string fReceivedLine(std::string_view caption, int count);  // caption ： k件受信

// Mode 1 after receiving one account.
std::string fSpeechOneAccount(int accountNumber, int count);
// Mode 1 after receiving all accounts: one fragment per account that received mail,
// then the fragments joined and closed.
std::string fSpeechFragment(int accountNumber, int count);
std::string fSpeechAllAccounts(std::string_view fragments);
// Mode 2: the collected readings; empty when no sender had one.
std::string fSpeechSenders(std::string_view speechSenders);

// What to speak after a run in the given mode; empty = stay silent.
std::string fSpeechAfterOne(int mode, int accountNumber, int count, std::string_view speechSenders);
std::string fSpeechAfterAll(int mode, std::string_view fragments, std::string_view speechSenders);

// The sender's address in a ReadMail "from: " element: inside the angle brackets when
// there are any.
std::string fSenderAddress(std::string_view fromElement);
// Appends the reading with its "さま、、" unless it is empty or already in the list.
void sAddReading(std::string& speechSenders, std::string_view reading);
// The reading of the sender in a "from:" element, from "[Speech]" values by lower-cased
// address; empty when there is none.
std::string fReadingOf(std::string_view fromElement,
                       const std::unordered_map<std::string, std::string>& readings);
// Looks up the sender of a "from: " element in [Speech] of setting.ini and adds the reading.
void sCollectReading(std::string& speechSenders, std::string_view fromElement,
                     const std::filesystem::path& settingIni);

}  // namespace receive
