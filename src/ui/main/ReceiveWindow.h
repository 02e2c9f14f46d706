#pragma once
// What a receive run needs from the window it runs in. The receiver owns this interface;
// the main window implements it, so the receiver never reads the window's controls.
#include <QString>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mail/maillist.h"

class QWidget;
class SpeechEngine;
namespace receive {
struct AccountRef;
}

class ReceiveWindow {
 public:
  // Header fields already read for mails just filed, by file name: the list takes them
  // instead of reading those files again.
  using KnownRows = maillist::KnownHeaders;
  // The folder nodes' counts (node key, count), worked out from the disk alone.
  using MailCounts = std::vector<std::pair<std::string, int>>;

  virtual ~ReceiveWindow() = default;

  // The window message boxes open over; once it closes, a run finishes quietly.
  virtual QWidget* fWindow() = 0;
  virtual const std::filesystem::path& fProgramDir() const = 0;
  virtual const std::filesystem::path& fSettingsPath() const = 0;
  // Every account in the order the tree shows them; the account of the selected node.
  virtual std::vector<receive::AccountRef> fAccounts() const = 0;
  virtual std::optional<receive::AccountRef> fSelectedAccount() const = 0;
  // The folder of the selected folder node (normal form); empty for none or an account.
  virtual std::filesystem::path fSelectedFolder() const = 0;
  // A timer tick's run is under way: it opens no message box.
  virtual bool fTimerRun() const = 0;
  virtual int autoRePosition() const = 0;
  virtual void setAutoRePosition(int position) = 0;
  // While a run files mail, the commands that change accounts and folders wait.
  virtual void sSetReceiving(bool receiving) = 0;
  virtual QString fReceiveStatus() const = 0;
  virtual void sShowReceiveStatus(const QString& text) = 0;
  virtual std::function<MailCounts()> fMailCounter() const = 0;
  virtual void sShowMailCounts(const MailCounts& counts) = 0;
  // Lists the selected folder again; rows of `known` (mails filed into `folder`) are not
  // read again.
  virtual void sReloadList(const std::filesystem::path& folder, KnownRows known) = 0;
  virtual SpeechEngine* fSpeech() const = 0;
  virtual void sTrayBalloon(const QString& title, const QString& text) = 0;
};
