// Form1: controls, start-up and shutdown.
#include "ui/main/Form1.h"
#include "ui/main/MessageView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QLockFile>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeView>

#include "ui/common/ElidedLabel.h"
#include "ui/main/FolderTree.h"
#include "ui/main/MailListModel.h"
#include "ui/main/Receiver.h"
#include "ui/common/Footy.h"
#include "store/fsutil.h"
#include "store/mailstore.h"
#include "store/mod_ini.h"

namespace {

SpeechFactory& speechFactory() {
  static SpeechFactory factory;
  return factory;
}

// The viewer's context menu is the owner's Edit menu.
void viewerContextMenu(int /*id*/, int /*reserved*/, void* data) {
  auto* form = static_cast<Form1*>(data);
  form->fMenu(Form1::Menu::Footy)->popup(QCursor::pos());
}

}  // namespace

void Form1::sSetSpeechFactory(SpeechFactory factory) { speechFactory() = std::move(factory); }

Form1::Form1(const QString& programDir, QWidget* parent) : QMainWindow(parent) {
  QString dir = programDir.isEmpty() ? QCoreApplication::applicationDirPath() : programDir;
  programDir_ = mailstore::fPath(dir.toStdString());
  // Before anything is written: the lock, settings, mail and log are the user's alone.
  fsutil::sMakeNewFilesPrivate();
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(kTitle);
  createControls();
  started_ = fLoad();
}

Form1::~Form1() {
  // A send of the pending mails finishes first: it files each mail it sends.
  if (pendingWorker_.joinable()) pendingWorker_.join();
  // The tree empties itself as it goes; the window is no longer there to hear of it.
  tv_->model()->disconnect(this);
  if (started_) sUnload();
}

void Form1::createControls() {
  client_ = new QWidget(this);
  client_->setObjectName(QStringLiteral("client"));
  setCentralWidget(client_);
  client_->installEventFilter(this);

  tv_ = new FolderTree(client_);
  tv_->canRename = [this](QTreeWidgetItem* node) { return canRename(node); };
  tv_->rename = [this](QTreeWidgetItem* node, const QString& text) { return renameNode(node, text); };
  connect(tv_, &FolderTree::nodeMousePressed, this, &Form1::tv_MouseDown);
  connect(tv_, &FolderTree::dragEntered, this, [this] {
    if (!dragOriginNode_) dragOriginNode_ = tv_->currentItem();
  });
  connect(tv_, &FolderTree::nodeKeySelected, this, &Form1::sShowNode);
  connect(tv_, &FolderTree::dragMovedOver, this, &Form1::tv_DragOver);
  connect(tv_, &FolderTree::dragLeft, this, &Form1::endTreeDrag);
  connect(tv_, &FolderTree::filesDropped, this, &Form1::tv_Drop);

  createList();
  createView();
  createNoAccountHint();

  split0_ = new QFrame(client_);
  split0_->setObjectName(QStringLiteral("picSplitBar_0"));
  split0_->setCursor(Qt::SplitHCursor);
  split2_ = new QFrame(client_);
  split2_->setObjectName(QStringLiteral("picSplitBar_2"));
  split2_->setCursor(Qt::SplitVCursor);
  for (QFrame* bar : {split0_, split2_}) {
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::Button);
    bar->installEventFilter(this);
  }
  split0_->setGeometry(100, 0, 4, 100);
  split2_->setGeometry(104, 150, 100, 4);

  auto* bar = new QStatusBar(this);
  bar->setObjectName(QStringLiteral("StatusBar1"));
  bar->setSizeGripEnabled(false);
  panel1_ = new ElidedLabel(bar);
  panel1_->setObjectName(QStringLiteral("StatusBar1Panel_1"));
  panel2_ = new ElidedLabel(bar);
  panel2_->setObjectName(QStringLiteral("StatusBar1Panel_2"));
  panel2_->setFixedWidth(160);
  bar->addWidget(panel1_, 1);
  bar->addPermanentWidget(panel2_);
  setStatusBar(bar);

  timer_ = new QTimer(this);
  timer_->setObjectName(QStringLiteral("Timer256"));
  connect(timer_, &QTimer::timeout, this, &Form1::sTimerTick);

  createMenus();
  createTray();
}

void Form1::createList() {
  ListView1_ = new MailListView(client_);
  listModel_ = ListView1_->mails();
  // A key that moves the current row shows that mail, exactly as a click does.
  ListView1_->currentMovedByKey = [this] { ListView1_ItemClick(); };
  ListView1_->dragEnded = [this] { endTreeDrag(); };
}

bool Form1::fLoad() {
  // 1. One instance per program folder.
  QString lockPath = QString::fromStdString(mailstore::fUtf8(programDir_ / "quillbrook.lock"));
  lock_ = std::make_unique<QLockFile>(lockPath);
  lock_->setStaleLockTime(0);  // only a dead owner makes the lock stale
  if (!lock_->tryLock(0)) return false;
  // 2, 3. Paths.
  settingsPath_ = programDir_ / "setting.ini";
  accountPrefix_ = mailstore::fAccountPrefix(programDir_);
  tv_->setStore(programDir_, accountPrefix_);
  view_->setSettingsPath(settingsPath_);
  // 4. The tree (creates MailBox when missing).
  sBuildFolderTree();
  // 5. Start-up key.
  long sk = mod_ini::fGetIniInt("Mail", "sk", 0, settingsPath_);
  if (sk >= 1 && sk <= 3 && !fIsKeyDown(static_cast<int>(15 + sk))) return false;
  // 6. Speech.
  if (speechFactory()) speech_ = speechFactory()();
  // 7 - 9. The mail list.
  striped_ = mod_ini::fGetIniInt("Mail", "Stripe", 1, settingsPath_) != 0;
  ListView1_->setSelectionBehavior(QAbstractItemView::SelectRows);
  // 10, 11. Window and splitters; 8 after them, as the columns' defaults share the
  // list's width.
  sRestoreWindowState(settingsPath_);
  split0_->move(static_cast<int>(mod_ini::fGetIniInt("Mail", "Split1", fDefaultTreeWidth(), settingsPath_)),
                split0_->y());
  split2_->move(split2_->x(), static_cast<int>(mod_ini::fGetIniInt("Mail", "Split2", 150, settingsPath_)));
  sLoadColumnWidths();
  // 12. Tray icon.
  tray_->show();
  // 13. Automatic-receive position; 15. timer 256.
  autoRePosition_ = static_cast<int>(mod_ini::fGetIniInt("Mail", "AutoRe", 0, settingsPath_));
  sStartAutoTimer();
  // 16, 17. The text preview and its hook.
  createEditor();
  installOwnCommands();
  installMailCommands();
  installComposeCommands();
  installReceiveCommands();  // receiving on command and on the timer
  sLayout();
  return true;
}

void Form1::createEditor() {
  FootyRedim(2);
  FootyCreate(0, client_, 0, 0, 0, 0);
  FootySetFont(0, QStringLiteral("MS ゴシック"), 9, 1);
  FootySetMetrics(0, 8, 4, 1);
  FootyEventContextMenu(0, &viewerContextMenu, this);
  FootyWriteEnable(0, false);
  if (auto* edit = FootyWidget(0)) {
    viewer_ = edit;
    viewerViewport_ = edit->viewport();
    edit->installEventFilter(this);
    edit->viewport()->installEventFilter(this);
  }
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::StatusTip && qobject_cast<QMenu*>(watched)) {
    sSetStatus(1, static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  if (watched == client_ && event->type() == QEvent::Resize) {
    sLayout();
  } else if (noAccountHint_ && watched == ListView1_->viewport() && event->type() == QEvent::Resize) {
    updateNoAccountHint();
  } else if (watched == split0_) {
    return splitterEvent(0, event);
  } else if (watched == split2_) {
    return splitterEvent(2, event);
  } else if (viewer_ && (watched == viewer_ || watched == viewerViewport_)) {
    // The viewer's hook: focus or a left click enables the Edit menu; Delete deletes mail.
    if (event->type() == QEvent::FocusIn ||
        (event->type() == QEvent::MouseButtonPress &&
         static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)) {
      menus_[Menu::Footy]->menuAction()->setEnabled(true);
    } else if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
      DeleteMail();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

bool Form1::event(QEvent* event) {
  if (event->type() == QEvent::Show && pendingFrameSize_.isValid()) {
    // The frame is known once the window is on the screen (later still with some window
    // managers, hence the second look).
    applyFrameSize(false);
    QTimer::singleShot(0, this, [this] { applyFrameSize(true); });
  }
  if (event->type() == QEvent::StatusTip) {
    // Menu hover texts go to panel 1; items without one clear it.
    sSetStatus(1, static_cast<QStatusTipEvent*>(event)->tip());
    return true;
  }
  return QMainWindow::event(event);
}

void Form1::closeEvent(QCloseEvent* event) {
  if (started_) sUnload();
  event->accept();
}

void Form1::sUnload() {
  if (unloaded_) return;
  unloaded_ = true;
  // 1. Hide the window first, so the saving below is not seen. Hiding keeps the
  // window's state and geometry, which step 9 saves.
  hide();
  QCoreApplication::processEvents();
  timer_->stop();   // 2
  tray_->hide();    // 3
  speech_.reset();  // 6
  // 5. The viewer's hook goes before the viewer.
  if (viewer_) viewer_->removeEventFilter(this);
  if (viewerViewport_) viewerViewport_->removeEventFilter(this);
  viewer_ = nullptr;
  viewerViewport_ = nullptr;
  FootyDelete(0);                      // 7
  sSaveColumnWidths();                 // 8
  sSaveWindowState(settingsPath_);     // 9
  // 10. Splitters.
  mod_ini::fWriteIniString("Mail", "Split1", std::to_string(split0_->x()), settingsPath_);
  mod_ini::fWriteIniString("Mail", "Split2", std::to_string(split2_->y()), settingsPath_);
  lock_.reset();
}
