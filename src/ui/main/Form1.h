#pragma once
// The main window, which is the program: it owns the settings path, the account prefix,
// the speech engine, timer 256, the tray icon and the automatic-receive position.
#include <QDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <variant>
#include <vector>

#include "ui/common/QtDesktop.h"
#include "ui/common/windowrequests.h"
#include "ui/main/MailListView.h"
#include "ui/main/ReceiveWindow.h"
#include "ui/main/menuitems.h"
#include "ui/common/SpeechEngine.h"

class ElidedLabel;
class FolderTree;
class HtmlView;
class MailListModel;
class MessageView;
class QLineEdit;
class QListWidget;
class QPushButton;
class QLockFile;
class QMenu;
class QAction;
class QFrame;
class QSystemTrayIcon;
class QTimer;
class Receiver;
class frmEdit;
class QTreeView;
class QTreeWidgetItem;

class Form1 : public QMainWindow, private ReceiveWindow {
  Q_OBJECT
 public:
  static inline const QString kTitle = QString::fromLatin1(desktop::kTitle);
  static constexpr int kTimerId = 256;

  // The menus; items are addressed by their index, as "mnuFileItem_6".
  enum class Menu { File, Footy, Set, Help, List, Attach };

  // programDir: the folder of setting.ini and MailBox; empty = the executable's folder.
  explicit Form1(const QString& programDir = QString(), QWidget* parent = nullptr);
  ~Form1() override;

  // False when start-up ended the program: a second instance, or the start-up key not
  // held. The window must then not be shown.
  bool fStarted() const { return started_; }

  // The engine start-up creates; without a factory nothing is spoken.
  static void sSetSpeechFactory(SpeechFactory factory);
  SpeechEngine* fSpeech() const override { return speech_.get(); }

  // Paths computed once at start-up.
  const std::filesystem::path& fProgramDir() const override { return programDir_; }
  const std::filesystem::path& fSettingsPath() const override { return settingsPath_; }
  const std::filesystem::path& fAccountPrefix() const { return accountPrefix_; }

  // --- Services for the other windows and subsystems -----------------------------
  bool fShellOpen(const QString& file, const QString& parameters, const QString& folder);
  static QString fGetTempPath();
  // Virtual key codes: 16 Shift, 17 Ctrl, 18 Alt, and the other keys Qt can report.
  static bool fIsKeyDown(int virtualKey);
  void sSendToBrowser(const QString& url);
  void sTrayBalloon(const QString& title, const QString& text) override;
  void sSaveWindowState(const std::filesystem::path& ini);
  void sRestoreWindowState(const std::filesystem::path& ini);
  // The mail list's delete command on the selected mails.
  void DeleteMail();

  // Whether a node (and so an account) is selected for a command that needs one; when
  // not, the user is told why nothing happens.
  bool fAccountChosen();
  // The note the list area shows while there is no account; null while there is one.
  QWidget* fNoAccountHint() const;
  void sMessage(const QString& title, const QString& text);

  // --- Menus ------------------------------------------------------------------------
  QMenu* fMenu(Menu menu) const;
  QAction* fMenuItem(Menu menu, int index) const;
  // Installs the command of a menu item and enables the item.
  void sSetMenuHandler(Menu menu, int index, std::function<void()> handler);
  // Runs the item's command; nothing when the item has none.
  void sRunMenuItem(Menu menu, int index);
  void mnuFileItem_Click(int index) { sRunMenuItem(Menu::File, index); }
  // Settings menu: the mailer settings dialog, with the timer stopped while it is open.
  void mnuSetItem_0();

  // --- Status bar ---------------------------------------------------------------------
  void sSetStatus(int panel, const QString& text);
  // Panel 2: the number of mails the list shows ("総メール数 N件"), the one place that says it.
  void sShowListTotal();
  QString fStatus(int panel) const;

  // --- Automatic receive ---------------------------------------------------------------
  // Below 1: all accounts per tick; else the next account in the rotation.
  int autoRePosition() const override { return autoRePosition_; }
  void setAutoRePosition(int position) override { autoRePosition_ = position; }
  // A timer tick's run is under way: it opens no message box.
  bool fTimerRun() const override { return timerRun_; }
  // The one-account step of the rotation, run by a tick while the position is 1 or more.
  void setAutoReceiver(std::function<void()> step) { autoReceiver_ = std::move(step); }
  // Arms timer 256 from "AutoTime" and "second" (stopped when AutoTime is below 1).
  void sStartAutoTimer();
  void sStopAutoTimer();
  QTimer* fTimer() const { return timer_; }
  void sTimerTick();
  bool fStriped() const { return striped_; }
  void sSetStriped(bool striped) { striped_ = striped; }

  // --- Receiving (Receiver.cpp): File items 1 and 2 and the timer's runs ---------------
  Receiver* fReceiver() const { return receiver_; }
  // While a run files mail by account number, the commands that add, remove, rename or
  // renumber accounts and folders (and moves by drag onto the tree) are disabled.
  void sSetReceiving(bool receiving) override;
  bool fReceiving() const { return receiving_; }

  // --- Folder tree -----------------------------------------------------------------
  FolderTree* fTree() const { return tv_; }
  void sBuildFolderTree();
  void sAddSubFolders(const std::filesystem::path& dir, const QString& parentKey);
  QTreeWidgetItem* fNode(const QString& key) const;
  // Shows a node as a click on it does: its folder listed (and remembered as the listed
  // one), or nothing for an account node; the title follows.
  void sShowNode(QTreeWidgetItem* node);
  // The key of the node whose folder the list shows; empty when none is listed.
  const QString& fListedKey() const { return listedKey_; }
  static QTreeWidgetItem* fGetRootNode(QTreeWidgetItem* node);
  // The node's folder on disk; empty for an account node.
  std::filesystem::path fNodeFolder(QTreeWidgetItem* node) const;
  void sMailCount();
  // The folder nodes' counts worked out from the disk alone, so that it can run on any
  // thread (beside other work after a receive run); sShowMailCounts puts them in the tree.
  using MailCounts = ReceiveWindow::MailCounts;
  std::function<MailCounts()> fMailCounter() const override;
  void sShowMailCounts(const MailCounts& counts) override;
  void sClearView();
  // Fills the mail list from a folder (received- or sent-type); the list installs it.
  using ListFiller = std::function<void(const std::filesystem::path& folder, bool sentType)>;
  void setListFiller(ListFiller filler) { listFiller_ = std::move(filler); }

  // --- Mail list --------------------------------------------------------------------
  MailListView* fListView() const { return ListView1_; }
  MailListModel* fListModel() const { return listModel_; }
  void sLoadColumnWidths();
  void sSaveColumnWidths();
  // Until the user has set them: a tree that shows the folders with their counts, and
  // list columns that show whole dates within the list, measured in the fonts in use.
  int fDefaultTreeWidth() const;
  std::array<int, 3> fDefaultColumnWidths() const;

  // --- Layout ----------------------------------------------------------------------
  void sLayout();
  QFrame* fSplitBar(int index) const { return index == 0 ? split0_ : split2_; }
  // Moves a splitter bar by the pointer offset inside it, within its bounds.
  void sDragSplitter(int index, int offset);
  QSystemTrayIcon* fTrayIcon() const { return tray_; }
  void sTrayActivated(int reason);

  // --- Account and folder commands of the File menu (Form1_files.cpp) ----------------
  // The boxes these commands ask through; when unset, the real message and input boxes.
  // confirmBox: OK and Cancel, true for OK. inputBox: no value on Cancel.
  using ConfirmBox = std::function<bool(const QString& title, const QString& text)>;
  using MessageBox = std::function<void(const QString& title, const QString& text)>;
  using InputBox = std::function<std::optional<QString>(const QString& prompt, const QString& title)>;
  void setConfirmBox(ConfirmBox box) { confirmBox_ = std::move(box); }
  void setMessageBox(MessageBox box) { messageBox_ = std::move(box); }
  void setInputBox(InputBox box) { inputBox_ = std::move(box); }
  void sAddAccount();
  void sDeleteAccount();
  void sAccountSettings();
  void sNewFolder();
  void sDeleteFolder();
  void sEmptyTrash();
  // The settings dialog a new account opened; it does not block. Null once closed.
  QPointer<QDialog> fNewAccountDialog() const { return newAccountDialog_; }

  // --- Mail list, message view and mail commands (Form1_list.cpp, Form1_view.cpp) ---
  // Refill the list from a folder; the number of rows added.
  int sFillReceivedList(const std::filesystem::path& folder);
  int sFillSentList(const std::filesystem::path& folder);
  void sAddReceivedItem(const std::filesystem::path& file);
  void sAddSentItem(const std::filesystem::path& file);
  // The column-header click (column counted from 1).
  void sSortByColumn(int column);
  // The row click: text view, subject box, the mail shown and marked read.
  void ListView1_ItemClick();
  void sShowHtml();
  void sShowEuc();
  void sSelectAllMails();
  void sOpenAttachment();
  void sSaveAttachment();
  // The file of the current row; empty when there is none.
  QString fSelectedMailPath() const;
  // The mail shown in the view (the last row clicked or moved to); when none is shown,
  // the current row's. The commands on one mail act on it.
  QString fShownMailPath() const;
  QLineEdit* fHeaderBox(int index) const;
  QListWidget* fAttachList() const;
  // The HTML preview; null until it is first used.
  HtmlView* fHtmlView() const;

  // --- Composer (Form1_compose.cpp) ---------------------------------------------------
  // Opens the composer for the account of the selected node: a new mail, a reply to the
  // mail the user sees, or a stored draft or pending mail; an open one is only brought to
  // the front, unchanged. Null when no node is selected.
  enum class ComposeKind { New, Reply, Stored };
  frmEdit* sOpenComposer(ComposeKind kind = ComposeKind::New, const QString& storedPath = QString());
  frmEdit* fComposer() const;
  // Opens the composer on a stored draft or pending mail, for editing; an open composer
  // is only brought to the front.
  frmEdit* sEditStoredMail(const QString& path);
  // File "送信待ちを送信": sends the selected account's pending mails in turn, off this
  // thread; the item is disabled meanwhile.
  void sSendPending();
  bool fSendingPending() const { return pendingWorker_.joinable(); }
  // Recounts the folders and lists `folder` again when it is the one shown.
  void sRefreshFolder(const std::filesystem::path& folder);

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // What receiving asks of the window (Form1_receive.cpp).
  QWidget* fWindow() override { return this; }
  std::vector<receive::AccountRef> fAccounts() const override;
  std::optional<receive::AccountRef> fSelectedAccount() const override;
  std::filesystem::path fSelectedFolder() const override;
  QString fReceiveStatus() const override { return fStatus(1); }
  void sShowReceiveStatus(const QString& text) override { sSetStatus(1, text); }
  void sReloadList(const std::filesystem::path& folder, KnownRows known) override;
  receive::AccountRef accountOf(QTreeWidgetItem* root) const;
  void installReceiveCommands();

  void createControls();
  void createMenus();
  void createList();
  void createTray();
  void createEditor();
  bool fLoad();
  void sUnload();
  void installOwnCommands();
  void tv_MouseDown(QTreeWidgetItem* node, Qt::MouseButton button, const QPoint& globalPos);
  bool canRename(QTreeWidgetItem* node) const;
  bool renameNode(QTreeWidgetItem* node, const QString& text);
  void tv_DragOver(QTreeWidgetItem* node);
  void tv_Drop(QTreeWidgetItem* node, const QList<QUrl>& urls);
  void endTreeDrag();
  bool splitterEvent(int index, QEvent* event);
  double twipsPerPixelX() const;
  double twipsPerPixelY() const;
  // Account and folder commands (Form1_files.cpp).
  void installFileCommands();
  void installAddressCommands();  // Form1_address.cpp
  AddressRequest addressRequest(AddressMode mode);
  bool confirm(const QString& title, const QString& text);
  std::optional<QString> askInput(const QString& prompt, const QString& title);
  void removeNode(QTreeWidgetItem* node);
  void selectNoNode();
  QPointer<QDialog> newAccountDialog_;
  void installComposeCommands();
  void pendingSent(const std::filesystem::path& accountFolder, const QString& text);
  QPointer<QMainWindow> composer_;
  ComposeRequest::Reply replyTo() const;
  std::thread pendingWorker_;
  // The search box and the File menu's import and export (Form1_search.cpp).
  void installSearchAndTransfer();
  void importMail();
  void exportFolder();
  // The folder import and export act on: the selected folder, an account's inbox.
  std::filesystem::path transferFolder() const;

  int autoRePosition_ = 0;
  bool timerRun_ = false;
  std::function<void()> autoReceiver_;
  Receiver* receiver_ = nullptr;
  ListFiller listFiller_;
  QTreeWidgetItem* dragOriginNode_ = nullptr;  // where a drag of mails started; selected again after it
  ConfirmBox confirmBox_;
  MessageBox messageBox_;
  InputBox inputBox_;

  std::filesystem::path programDir_;
  std::filesystem::path settingsPath_;
  std::filesystem::path accountPrefix_;
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<SpeechEngine> speech_;
  bool started_ = false;
  bool unloaded_ = false;
  bool striped_ = true;
  bool dragging_ = false;
  bool receiving_ = false;
  // The whole window's size read from the settings, applied once the frame is known.
  QSize pendingFrameSize_;
  // last: the frame is as known as it gets; nothing is applied after this look.
  void applyFrameSize(bool last);
  QString listedKey_;

  QWidget* client_ = nullptr;
  FolderTree* tv_ = nullptr;
  MailListView* ListView1_ = nullptr;
  MailListModel* listModel_ = nullptr;  // the list's own
  QFrame* split0_ = nullptr;
  QFrame* split2_ = nullptr;
  ElidedLabel* panel1_ = nullptr;
  ElidedLabel* panel2_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QTimer* timer_ = nullptr;
  QPointer<QWidget> viewer_;  // the text preview (editor id 0) and its viewport
  QPointer<QWidget> viewerViewport_;

  // Mail list and message view (Form1_list.cpp, Form1_view.cpp).
  void createView();
  void installMailCommands();
  void installHelpCommands();
  void deleteSelectedMails();
  QString extractAttachment(int line) const;
  QWidget* noAccountHint_ = nullptr;
  void createNoAccountHint();
  void updateNoAccountHint();
  MessageView* view_ = nullptr;

  std::map<Menu, QMenu*> menus_;
  std::map<std::pair<Menu, int>, QAction*> items_;
  std::map<std::pair<Menu, int>, std::function<void()>> handlers_;
};
