#include "receive/notice.h"

#include "store/modCommon.h"
#include "store/mod_ini.h"

namespace receive {

namespace {
constexpr std::string_view kColon = " ： ";
constexpr std::string_view kSama = "さま、、";
constexpr std::string_view kFromLabel = "from: ";
}  // namespace

int fNoticeMode(std::string_view value) {
  if (value == "1") return 1;
  if (value == "2") return 2;
  return 0;
}

int fSpeechMode(const std::filesystem::path& settingIni) {
  return fNoticeMode(mod_ini::fGetIniString("Mail", "Speech", settingIni, "0"));
}

int fNotifyMode(const std::filesystem::path& settingIni) {
  return fNoticeMode(mod_ini::fGetIniString("Mail", "Notify", settingIni, "0"));
}

std::string fReceivingStatus(std::string_view caption) {
  return std::string(caption) + std::string(kColon) + "受信中";
}

std::string fNoMailStatus(std::string_view caption) {
  return std::string(caption) + std::string(kColon) + "新着メールはありません";
}

std::string fReceivedLine(std::string_view caption, int count) {
  return std::string(caption) + std::string(kColon) + std::to_string(count) + "件受信";
}

std::string fSpeechOneAccount(int accountNumber, int count) {
  return "アカウント<NUM VAL=" + std::to_string(accountNumber) +
         ">わ、<NUMK  VAL=" + std::to_string(count) + "  COUNTER=けん>;じゅしんしまし'た";
}

std::string fSpeechFragment(int accountNumber, int count) {
  return "アカウント<NUM VAL=" + std::to_string(accountNumber) +
         ">わ、<NUMK  VAL=" + std::to_string(count) + "  COUNTER=けん>、";
}

std::string fSpeechAllAccounts(std::string_view fragments) {
  return std::string(fragments) + "じゅしんしまし'た";
}

std::string fSpeechSenders(std::string_view speechSenders) {
  if (speechSenders.empty()) return {};
  return std::string(speechSenders) + "か'ら、めーるがとどきま'した";
}

std::string fSpeechAfterOne(int mode, int accountNumber, int count,
                            std::string_view speechSenders) {
  if (mode == 1) return fSpeechOneAccount(accountNumber, count);
  if (mode == 2) return fSpeechSenders(speechSenders);
  return {};
}

std::string fSpeechAfterAll(int mode, std::string_view fragments, std::string_view speechSenders) {
  if (mode == 1) return fragments.empty() ? std::string() : fSpeechAllAccounts(fragments);
  if (mode == 2) return fSpeechSenders(speechSenders);
  return {};
}

std::string fSenderAddress(std::string_view fromElement) {
  std::string_view value =
      fromElement.size() >= kFromLabel.size() ? fromElement.substr(kFromLabel.size()) : "";
  return modCommon::fGetEnclosed(value, "<");
}

void sAddReading(std::string& speechSenders, std::string_view reading) {
  if (reading.empty()) return;
  std::string entry = std::string(reading) + std::string(kSama);
  // Compare whole entries: "なか" is a reading of its own even after "たなか".
  std::string_view list = speechSenders;
  for (size_t at = list.find(entry); at != std::string_view::npos; at = list.find(entry, at + 1)) {
    if (at == 0 || list.substr(0, at).ends_with(kSama)) return;
  }
  speechSenders += entry;
}

std::string fReadingOf(std::string_view fromElement,
                       const std::unordered_map<std::string, std::string>& readings) {
  std::string address = fSenderAddress(fromElement);
  // Keys match as the settings file matches them: trimmed, ASCII letters in any case.
  const size_t first = address.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  address = address.substr(first, address.find_last_not_of(" \t") - first + 1);
  for (char& c : address)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  auto it = readings.find(address);
  return it == readings.end() ? std::string() : it->second;
}

void sCollectReading(std::string& speechSenders, std::string_view fromElement,
                     const std::filesystem::path& settingIni) {
  sAddReading(speechSenders,
              fReadingOf(fromElement, mod_ini::IniFile::fLoad(settingIni).fSectionValues("Speech")));
}

}  // namespace receive
