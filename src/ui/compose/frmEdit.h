#pragma once
// The composer: one window in which a new mail or a reply is written, for one account,
// fixed when it opens. It sends the mail (the library's dialogue runs on a worker thread),
// or stores it among the pending mails or the drafts, and tells its owner what changed
// through signals.
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "compose/outgoing.h"
#include "ui/common/windowrequests.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class ElidedLabel;

class frmEdit : public QMainWindow {
  Q_OBJECT
 public:
  enum class Menu { File, Footy, Attach };
  // Header fields by their control index.
  enum Field { To = 0, Subject = 1, Cc = 2, Bcc = 3 };
  static constexpr int kHeaderHeight = 57;
  static constexpr int kEditorId = 1;

  // Opens as `request` says, as a window of its own that `owner` (the main window) owns:
  // closing the owner closes the composer, and it may refuse (it asks about unsaved text).
  frmEdit(const ComposeRequest& request, QWidget* owner);
  ~frmEdit() override;

  // The four header fields; the address book appends recipients to them.
  QLineEdit* fField(Field field) const { return txt_[field]; }
  const std::filesystem::path& fAccountFolder() const { return accountFolder_; }

  QMenu* fMenu(Menu menu) const;
  QAction* fMenuItem(Menu menu, int index) const;
  // The fixed-phrase submenu (Edit item 12) and its phrases, in menu order.
  QMenu* fPhraseMenu() const { return phraseMenu_; }
  const std::vector<QString>& fPhrases() const { return phrases_; }
  bool fSubjectFill() const { return subjectFill_; }
  QString fStatus() const;

  // The draft or pending mail being edited; empty for a new mail, and when the requested
  // one could not be read.
  const std::filesystem::path& fStoredFile() const { return storedFile_; }
  // True when the mail differs from what it was when opened or last stored.
  bool fChanged() const { return fDraft() != baseline_; }

  // The commands (also reached through the menus and buttons).
  void sSend();
  void sStore(compose::Box box);
  void sAddAttachment();
  void sRemoveAttachment();
  void sClearAttachments();
  void sOpenAttachment();
  void sPhrase(int index);
  void cmd1_Click();
  // 宛先, Cc, Bcc: the address book in its picking mode, over this window.
  void sPickRecipients();
  // The mail as it stands: fields, the editor's text, attachment paths in list order.
  compose::Draft fDraft() const;
  // True from the start of a send until its result has been taken in.
  bool fSending() const { return sending_; }
  // True once the window has closed for good (a window hidden while its send runs is not).
  bool fClosed() const { return closed_; }

  // The open-file dialog of the attach command; empty = cancelled. Unset = QFileDialog.
  std::function<QStringList()> fileDialog;
  // Message boxes of this window; unset = QMessageBox.
  std::function<void(const QString& title, const QString& text)> messageBox;

 signals:
  // A text for the main window's status bar (sending and its result).
  void statusChanged(const QString& text);
  // Mail was stored into, sent from or removed from `folder`: its count and list change.
  void folderChanged(const std::filesystem::path& folder);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct SendState;
  void sCreateControls();
  void sCreateMenus();
  void sCreateEditor();
  void sLoadPhrases();
  void sFillReply(const ComposeRequest::Reply& reply);
  bool sOpenStored(const std::filesystem::path& file);
  void sLayout();
  void sSetMenuHandler(Menu menu, int index, std::function<void()> handler);
  void sSetBusy(bool busy);
  void sPostProgress(std::uint64_t done, std::uint64_t total);
  void sShowProgress();
  void sSendDone(compose::SendResult result);
  void sMessage(const QString& title, const QString& text);
  void sCloseWindow();
  // Stores into the box after asking about attachments, which stored mail cannot hold.
  // False when nothing was stored (cancelled or failed).
  bool fStoreTo(compose::Box box);
  // The question asked before something is lost: the index of the chosen button, or the
  // last one when the box is closed otherwise.
  int fAsk(const QString& text, const QStringList& buttons);
  void sSetTabOrder();

  QWidget* owner_;
  std::filesystem::path accountFolder_;
  std::filesystem::path settingsPath_;
  std::filesystem::path logFile_;
  std::function<void(QWidget*, RecipientFields)> pickRecipients_;

  QWidget* pic_ = nullptr;
  QPushButton* cmd_[6] = {};
  QLineEdit* txt_[4] = {};
  QTreeWidget* lv_ = nullptr;
  ElidedLabel* sb_ = nullptr;
  QPointer<QWidget> editor_;  // editor id 1 and its viewport, for the hook
  QPointer<QWidget> editorViewport_;

  std::map<Menu, QMenu*> menus_;
  std::map<std::pair<Menu, int>, QAction*> items_;
  QMenu* phraseMenu_ = nullptr;
  std::vector<QString> phrases_;
  bool subjectFill_ = false;

  compose::Draft baseline_;            // the mail as opened or last stored
  std::filesystem::path storedFile_;   // the draft or pending mail being edited
  compose::Threading thread_;          // a reply's place in its thread

  // The send under way: the worker, and the figures it posts for the main window.
  std::thread worker_;
  bool sending_ = false;
  bool closed_ = false;
  bool closeAfterSend_ = false;  // closed while sending: hidden until the result is in
  std::shared_ptr<SendState> send_;
};
